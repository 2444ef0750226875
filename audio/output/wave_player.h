// The player: streams one PCM wave file to the wave-out device, in 200 ms
// buffers read as the data arrives, so it can play the temporary file that a
// decoding job is still writing.
//
// Threads. Every public operation runs on the owner's (user-interface) thread.
// Play starts two workers that sleep until there is something for them to do
// (the first buffer is filled before they start, so sound begins at once):
//  - the feeder fills free buffers from the file into the ready queue, and
//    collects the buffers the device has finished (counted by the device's
//    done callback, which wakes it) from the playing queue back to the free
//    queue, adding their lengths to the position. When the file holds less
//    than a buffer more, the feeder looks again kDataWaitMs later while the
//    file may still grow, and not at all once everything it will ever hold
//    has been read (a seek wakes it);
//  - the writer hands the ready buffers to the device (not while paused) and
//    puts them on the playing queue; a filled buffer, Resume and Stop wake it.
// Four buffers cycle free -> ready -> playing -> free; each is always in one
// queue, inside one worker step, or held by the device. Nothing empty is
// written: a buffer that got no data goes back to the free queue.
//
// Notices. An owner that shows the position sets a listener instead of
// asking for it: the feeder tells the position whenever it crosses into
// another step (a second on a clock, a pixel on a slider) and tells the end
// once, so nothing needs to poll.
//
// Locks. Each queue and the completed count have their own lock, and no
// thread ever holds two of them at once. Two outer locks order the rest: the
// transport lock (the device hand-off, collection, pause, resume, seek and the
// rate) and the file lock (the file's read position). The order is always
// transport, then file, then one queue or count lock, so nothing can wait in
// a cycle. The device's callback takes only the count lock. The workers'
// wake-up locks come last of all and are never held with another.
//
// Ending. A whole file ends when the bytes played reach the header's data
// size. A file that holds less than it announces plays on (in silence)
// until set_source_complete() says that the file will not grow any more; from
// then on it also ends once everything in the file has been played.
// A growing file (Source::kGrowing: a decoding job writes it, and may write
// more or less than its header first announced) never ends before
// set_source_complete(): when the player catches up with the writer it
// waits, in silence, until more data is there. set_source_complete() reads the
// header's data size again (the writer corrects it before it says it is
// done), and the file then ends at that size or at what it holds, whichever
// comes first.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "audio/decode/exception.h"
#include "audio/decode/wave_header.h"
#include "platform/waveout/waveout.h"

namespace lyb::audio {

// A player error, built from its code (0 to 5; other codes read "Unknown error.").
class CWaveIOException : public CException {
public:
    enum Code {
        kNoError = 0,
        kCannotOpenFile = 1,
        kCannotCreateFile = 2,
        kCannotOpenDevice = 3,
        kCannotReadHeader = 4,
        kUnsupportedFormat = 5,
    };
    explicit CWaveIOException(int code) : CException(MessageFor(code)), code_(code) {}
    int code() const { return code_; }
    static const char* MessageFor(int code);

private:
    int code_;
};

class CWavePlayer {
public:
    enum State { kPlaying = 0, kPaused = 1, kStopped = 2 };
    enum RateModeValue { kRateNormal = 1, kRateFast = 2 };
    // The fast rate, about 1.417 times normal speed, in 16.16 fixed point.
    static constexpr uint32_t kFastRate = waveout::kRateFast;
    static constexpr int kBufferCount = 4;
    static constexpr uint32_t kBufferMilliseconds = 200;
    // How long the feeder waits for a file that has less than a buffer more
    // to grow; a fifth of a buffer, so the device does not run dry.
    static constexpr auto kDataWaitMs = std::chrono::milliseconds(40);

    enum class Source {
        kWhole,    // the file as it stands (it may still grow up to its announced size)
        kGrowing,  // written while it plays; complete only once set_source_complete() says so
    };

    // Opens the file and reads its header; the player starts stopped. Throws
    // CWaveIOException: 1 when the file cannot be opened, 4 when the header
    // does not parse, 5 for a format tag other than PCM, a rate so low that
    // a millisecond holds no whole byte, or a sample layout the device cannot
    // play (bits other than 8, 16, 24, 32; more than 8 channels; a rate above
    // 384000).
    explicit CWavePlayer(const std::string& path, Source source = Source::kWhole);
    ~CWavePlayer();
    CWavePlayer(const CWavePlayer&) = delete;
    CWavePlayer& operator=(const CWavePlayer&) = delete;

    // From stopped: opens the device and starts the workers, at the current
    // position. Throws CWaveIOException 3 when there is no device or it
    // refuses the format. Does nothing in any other state.
    void Play();
    // Playing -> paused; the device holds its buffers, the feeder keeps filling.
    void Pause();
    // Paused -> playing.
    void Resume();
    // Playing or paused -> stopped: workers joined, device closed, buffers
    // freed, position 0, file back at the data start.
    void Stop();
    // Moves playback to ms from the start, keeping the state; buffered audio
    // is dropped. False, changing nothing, when the target lies at or beyond
    // the file's current end (so also beyond what a decoder has written yet).
    bool Seek(uint32_t ms);

    int State() const { return state_.load(); }
    // The header's data size in milliseconds; for a growing file the size
    // read again by set_source_complete().
    uint32_t Duration() const { return duration_.load(); }
    // The milliseconds played, in steps of one buffer as buffers finish.
    uint32_t Position() const;
    bool Ended() const { return ended_.load(); }
    // 1 at the normal rate, also when no device is open; 2 otherwise.
    int RateMode();
    // 1 sets the normal rate, any other value the fast one. Returns the
    // device's result (MMSYSERR_INVALHANDLE while stopped).
    waveout::MMRESULT SetRateMode(int mode);
    // What the player tells its owner. Both are called on the player's feeder
    // thread (never the owner's), one call at a time, and never once Stop()
    // has returned. They must return quickly and must not call into the
    // player except for its polling functions (State, Position, Ended,
    // Duration); an owner with an event loop posts the notice to itself.
    struct Listener {
        // The position in milliseconds, at Play and whenever position / step
        // changes (as buffers finish, or after a seek).
        std::function<void(uint32_t ms)> position;
        // Once per Play, when the player has ended.
        std::function<void()> ended;
    };
    // Sets the listener and the position step (1000: when the shown second
    // changes; 0 counts as 1). Only while stopped: returns false, changing
    // nothing, in any other state.
    bool SetListener(Listener listener, uint32_t stepMs = 1000);

    // Tells the player that the file is complete: it will not grow any more
    // and its header holds its final sizes.
    void set_source_complete();

    const WaveHeader& header() const { return header_; }
    uint32_t BytesPerMillisecond() const { return bytesPerMs_; }
    uint32_t BufferSize() const { return bufferSize_; }

private:
    // A FIFO of buffer records under its own lock; holds at most every buffer.
    class Queue {
    public:
        void Push(waveout::WAVEHDR* h);
        waveout::WAVEHDR* Pop();  // nullptr when empty
        void Clear();

    private:
        std::mutex mutex_;
        std::array<waveout::WAVEHDR*, kBufferCount> items_{};
        int first_ = 0;
        int size_ = 0;
    };

    // A worker's wake-up call: raised by whoever gives it something to do,
    // kept until the worker waits next, so none is lost. Its lock is the
    // innermost of all: nothing else is taken while it is held.
    class Wake {
    public:
        void Raise();
        // Returns at once when raised since the last wait, else when raised
        // or (with a time) at that time; clears the call.
        void Wait();
        void WaitUntil(std::chrono::steady_clock::time_point until);

    private:
        std::mutex mutex_;
        std::condition_variable cv_;
        bool raised_ = false;
    };

    // What one Fill left to do: fill again at once (a whole buffer was
    // read), look again after kDataWaitMs (the file may grow), or nothing
    // until a buffer comes back or the file is moved (no free buffer, or
    // everything the file will hold has been read).
    enum class FillNext { kAgain, kLater, kIdle };

    static void CALLBACK_Done(waveout::HWAVEOUT, uint32_t message, void* instance,
                              waveout::WAVEHDR*);
    void FeederLoop();
    void WriterLoop();
    FillNext Fill();
    // Collects one finished buffer; false when none had finished.
    bool Collect();
    // Takes dataSize as the header's data size: the duration and where the file ends.
    void Announce(uint32_t dataSize);
    void CheckEnded(uint64_t position);
    void RecycleReturned();
    void Report();

    WaveHeader header_;
    std::unique_ptr<CFileWaveReader> file_;
    std::string path_;
    std::atomic<int> state_{kStopped};
    std::atomic<bool> stop_{false};
    std::atomic<bool> ended_{false};
    std::atomic<bool> sourceComplete_{false};
    const bool growing_;
    std::atomic<uint64_t> sourceBytes_{0};
    uint32_t bufferSize_ = 0;
    std::atomic<uint32_t> duration_{0};
    uint32_t bytesPerMs_ = 0;
    uint32_t frameBytes_ = 1;
    std::atomic<uint64_t> announcedBytes_{0};  // the header's data size in whole frames
    std::atomic<uint64_t> position_{0};
    uint64_t dataStart_ = 0;

    waveout::HWAVEOUT device_ = nullptr;
    std::mutex transportMutex_;
    std::mutex fileMutex_;
    Queue free_;
    Queue playing_;
    Queue ready_;
    std::mutex countMutex_;
    uint32_t completed_ = 0;

    std::array<waveout::WAVEHDR, kBufferCount> records_{};
    std::vector<std::unique_ptr<char[]>> blocks_;
    Listener listener_;
    uint32_t stepMs_ = 1000;
    uint32_t reportedStep_ = 0;  // feeder only: position / step last told
    bool reportedEnd_ = false;   // feeder only
    Wake feederWake_;
    Wake writerWake_;
    std::thread writer_;
    std::thread feeder_;
};

}  // namespace lyb::audio
