// The main window's player: owns the decoding and playing engine, starts,
// pauses, resumes, seeks, skips and changes speed, and tells where playback
// is through signals.
//
// An engine that tells its position is listened to; one that does not is
// looked at every 100 ms while a recording plays. Either way a position is
// told on only when the shown second or the slider's pixel changes. The
// player starts as soon as the decoder has written a first block; an engine
// that does not say when gets a fixed head start.
#pragma once

#include "app/playback.h"

#include <QBasicTimer>
#include <QObject>

#include <functional>
#include <memory>
#include <optional>

namespace lyb::app {

class CPlaybackController final : public QObject {
    Q_OBJECT

public:
    static constexpr int kPollMs = 100;

    explicit CPlaybackController(QObject* parent = nullptr);
    ~CPlaybackController() override;

    // Installs the engine (never null; CNoPlayback by default).
    void setPlayback(std::unique_ptr<IPlayback> playback);
    IPlayback* playback() const { return playback_.get(); }
    // Maps a position (ms) to the slider's pixel, so a change that moves
    // nothing on the screen is not told.
    void setPixelOf(std::function<int(qint64)> pixelOf) { pixelOf_ = std::move(pixelOf); }

    bool hasPlayer() const { return playback_->hasPlayer(); }
    int state() const { return playback_->state(); }
    uint32_t duration() const { return playback_->duration(); }
    uint32_t position() const { return playback_->position(); }
    bool polling() const { return poll_.isActive(); }

    // Discards what played before and starts decoding source into output.
    // False when no decoder could be made; *error then gets its message.
    bool startDecoding(const PlaySource& source, const QString& output, QString* error);
    // Waits, with the event loop running and the user's input excluded,
    // until the decoder has written a first block, so the player never
    // overtakes it; headStartMs for an engine that does not tell.
    void waitForFirstBlock(int headStartMs);
    // Plays the wave file at path with a new player; false, leaving none,
    // when it cannot start.
    bool startPlayer(const QString& path);
    // A paused player plays on; false when there is none.
    bool resume();
    // A playing player pauses; false when nothing was playing.
    bool pause();
    // False, changing nothing, at or beyond what the recording holds;
    // seeked tells the place reached.
    bool seek(uint32_t ms);
    // Pause and step a tenth of the recording (at least a second) back, or
    // forward to no closer than 200 ms before the end. The target reached,
    // or nothing when the player did not move.
    std::optional<uint32_t> skipBack();
    std::optional<uint32_t> skipForward();
    void toggleSpeed();
    // IPlayback::kRateNormal or kRateFast; nothing without a player.
    void setRateMode(int mode);
    int rateMode() const { return playback_->rateMode(); }
    // Stops and discards player and decoder.
    void close();
    // Looks at the player now: tells its end, or its position when that
    // changed on the screen.
    void poll();

signals:
    void positionChanged(qint64 ms);
    // IPlayback::kRateNormal or kRateFast: at a speed toggle, when a player
    // starts (at the normal rate) and at close.
    void rateChanged(int mode);
    // IPlayback::kPlaying or kPaused.
    void stateChanged(int state);
    void ended();
    // The player moved to ms by a seek or a skip, not by playing.
    void seeked(qint64 ms);
    // Player and decoder were discarded (Done, the end, a new recording).
    void closed();

protected:
    void timerEvent(QTimerEvent* event) override;

private:
    static constexpr uint32_t kNoticeStepMs = 100;
    void listen();
    void tell(qint64 ms);

    std::unique_ptr<IPlayback> playback_;
    bool notified_ = false;  // the engine tells position and end itself
    std::function<int(qint64)> pixelOf_;
    QBasicTimer poll_;
    std::optional<std::pair<qint64, int>> told_;  // second and pixel last told
};

}  // namespace lyb::app
