// The playback engine of the main window: a CWaveDecoder writing the
// temporary wave file and a CWavePlayer playing it while it grows.
//
// The decoding thread's notices arrive as posted Qt events. When decoding
// has finished the decoder is destroyed and the player is told that its
// file is complete, so a recording that holds less than its header announces
// still ends. A refusal that only the decoding thread can see (an OKI stream
// with an unsupported bit rate) is shown with the error callback. A refusal
// of a file names the file ("Lyrabell cannot play "x.wav".", then why).
// Notices of a decoder that has since been replaced are ignored, so a late
// notice never ends the next recording's decoding.
#pragma once

#include "app/playback.h"

#include <QBasicTimer>
#include <QObject>

#include <functional>
#include <memory>

namespace lyb::audio {
class CWaveDecoder;
class CWavePlayer;
}  // namespace lyb::audio

namespace lyb::app {

class CEnginePlayback final : public QObject, public IPlayback {
public:
    // onEnded, when given, runs (on the UI thread) when the player has played
    // everything (the main window polls ended() itself and passes none);
    // onError shows a decoder refusal that arose on the decoding thread.
    CEnginePlayback(std::function<void()> onEnded, std::function<void(const QString&)> onError);
    ~CEnginePlayback() override;

    void discard() override;
    bool startDecoding(const PlaySource& source, const QString& outputPath,
                       QString* error) override;
    bool startPlayer(const QString& path) override;
    bool hasPlayer() const override { return player_ != nullptr; }
    int state() const override;
    void pause() override;
    void resume() override;
    void stop() override;
    bool seek(uint32_t ms) override;
    uint32_t duration() const override;
    uint32_t position() const override;
    bool ended() const override;
    int rateMode() override;
    void setRateMode(int mode) override;
    bool silent() const override { return player_ && silent_; }
    bool setFirstBlockListener(std::function<void()> listener) override;
    bool setPositionListener(std::function<void(uint32_t ms)> position, std::function<void()> ended,
                             uint32_t stepMs) override;

    audio::CWavePlayer* player() const { return player_.get(); }
    bool decoding() const { return decoder_ != nullptr; }

protected:
    void customEvent(QEvent* event) override;
    void timerEvent(QTimerEvent* event) override;

private:
    class Notifier;
    std::function<void()> onEnded_;
    std::function<void(const QString&)> onError_;
    std::unique_ptr<Notifier> notifier_;
    std::unique_ptr<audio::CWaveDecoder> decoder_;
    std::unique_ptr<audio::CWavePlayer> player_;
    bool sourceComplete_ = false;
    bool silent_ = false;  // the player found no sound output
    QString sourcePath_;   // the file being decoded; empty for a stream
    std::function<void()> firstBlock_;
    std::function<void(uint32_t)> position_;
    std::function<void()> ended_;
    uint32_t stepMs_ = 1000;
    uint64_t playerSerial_ = 0;  // notices of a player since replaced are dropped
    QBasicTimer endTimer_;
};

}  // namespace lyb::app
