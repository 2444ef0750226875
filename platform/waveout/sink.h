// The back ends behind a wave-out device: where the played frames go. The
// device thread is the only caller, with the device's lock held.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/waveout/waveout.h"

namespace lyb::waveout {

class Sink {
public:
    virtual ~Sink() = default;
    // Prepares the sink for the format; false when it cannot play it.
    virtual bool Open(const WAVEFORMATEX& format) = 0;
    // Returns how many frames the sink takes now, given the frames written so far.
    virtual uint64_t Room(uint64_t written) = 0;
    // Takes up to frames frames; returns how many it took.
    virtual uint32_t Write(const uint8_t* data, uint32_t frames) = 0;
    // Returns how many of the written frames have been played.
    virtual uint64_t Played(uint64_t written) = 0;
    // Nothing is left to write: start whatever is queued, or let the clock wait.
    virtual void Idle(uint64_t written) = 0;
    virtual void Pause(uint64_t written) = 0;
    virtual void Resume(uint64_t written) = 0;
    // Discards what is queued but not played; afterwards Played(written) == written.
    virtual void Drop(uint64_t written) = 0;
    // Ends playback; a capture completes its file.
    virtual void Close() = 0;
};

// A device that keeps time by the monotonic clock; with a path it also writes
// every frame it plays to a wave file.
std::unique_ptr<Sink> MakeClockSink(const std::string& capturePath);
// ALSA's default PCM.
std::unique_ptr<Sink> MakeAlsaSink();
// True when ALSA's default PCM can be opened for playback now.
bool AlsaAvailable();

}  // namespace lyb::waveout
