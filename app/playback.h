// What the main window needs of decoding and playing: start a decoding job
// that writes the temporary wave file, start a player on that file, drive the
// player (pause, resume, seek, speed), and throw both away. The decoder and player libraries
// provide the real engine; until one is installed, CNoPlayback decodes nothing.
#pragma once

#include "platform/mapi/mapi_stream.h"

#include <QString>

#include <cstdint>
#include <functional>

namespace lyb::app {

// A recording to decode: a file (stream null) or an attachment stream.
struct PlaySource {
    QString path;
    // Borrowed for the call; an engine that keeps the stream takes its own
    // reference (AddRef).
    mapi::IStream* stream = nullptr;
    bool isGsm = false;  // stream sources: raw GSM 06.10 rather than a wave file
};

class IPlayback {
public:
    virtual ~IPlayback() = default;
    // Stops and destroys the player, then the decoder (joining its thread), if any.
    virtual void discard() = 0;
    // Creates the decoder on source, writing outputPath, and starts its
    // thread. Returns false when no decoder could be made; *error then gets
    // the decoder's own message (shown to the user), or stays empty for
    // failures that are not reported (unreadable file, no output).
    virtual bool startDecoding(const PlaySource& source, const QString& outputPath,
                               QString* error) = 0;
    // Creates a player on the wave file at path and plays it. False when it
    // could not start; no player remains then.
    virtual bool startPlayer(const QString& path) = 0;

    // The player's operations. Without a player: state() is kStopped, the
    // times are 0, ended() is false, seek() fails and the rest do nothing.
    enum State { kPlaying = 0, kPaused = 1, kStopped = 2 };
    enum RateMode { kRateNormal = 1, kRateFast = 2 };
    virtual bool hasPlayer() const = 0;
    virtual int state() const = 0;
    virtual void pause() = 0;
    virtual void resume() = 0;
    virtual void stop() = 0;
    // False, changing nothing, when ms lies at or beyond what the file holds.
    virtual bool seek(uint32_t ms) = 0;
    virtual uint32_t duration() const = 0;  // milliseconds
    virtual uint32_t position() const = 0;  // milliseconds played
    virtual bool ended() const = 0;
    virtual int rateMode() = 0;
    virtual void setRateMode(int mode) = 0;
    // True while the player plays to no sound output (none was found when it
    // started): the recording runs its course silently.
    virtual bool silent() const { return false; }

    // Notices, from engines that give them; each is called on the UI thread.
    // The first-block listener is called once the decoder has written a
    // first block a player may start on, or has stopped without one. False:
    // the engine never tells, and its owner waits a fixed head start.
    virtual bool setFirstBlockListener(std::function<void()>) { return false; }
    // Tells the position whenever position / stepMs changes, and the end once
    // per player, from the next player on. False: the engine does not tell,
    // and its owner looks at the player itself.
    virtual bool setPositionListener(std::function<void(uint32_t ms)>, std::function<void()>,
                                     uint32_t) {
        return false;
    }
};

// Decodes nothing: every decoding fails without a message.
class CNoPlayback final : public IPlayback {
public:
    void discard() override {}
    bool startDecoding(const PlaySource&, const QString&, QString*) override { return false; }
    bool startPlayer(const QString&) override { return false; }
    bool hasPlayer() const override { return false; }
    int state() const override { return kStopped; }
    void pause() override {}
    void resume() override {}
    void stop() override {}
    bool seek(uint32_t) override { return false; }
    uint32_t duration() const override { return 0; }
    uint32_t position() const override { return 0; }
    bool ended() const override { return false; }
    int rateMode() override { return kRateNormal; }
    void setRateMode(int) override {}
};

}  // namespace lyb::app
