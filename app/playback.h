// What the main window needs of decoding and playing: start a decoding job
// that writes the temporary wave file, start a player on that file, and throw
// both away. The decoder and player libraries provide the real engine; until
// one is installed, CNoPlayback decodes nothing.
#pragma once

#include "platform/mapi/mapi_stream.h"

#include <QString>

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
};

// Decodes nothing: every decoding fails without a message.
class CNoPlayback final : public IPlayback {
public:
    void discard() override {}
    bool startDecoding(const PlaySource&, const QString&, QString*) override { return false; }
    bool startPlayer(const QString&) override { return false; }
};

}  // namespace lyb::app
