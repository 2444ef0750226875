// The wave-out device: one thread per open device moves the queued buffers'
// frames into its sink (ALSA, or the clocked null and capture devices),
// through a libsonic time-stretch when the rate is not normal, and hands
// buffers back once the sink has played them.
//
// The queue is the chain of held buffers (lpNext), oldest first; a cursor
// marks the first buffer whose bytes have not all been taken. When a buffer's
// last byte is taken, its "reserved" field records the output frame count at
// which its audio ends; it is done when the sink has played that many frames.
#include <sonic.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/waveout/sink.h"

namespace lyb::waveout {

namespace {

constexpr uint32_t kMinRate = 0x8000;
constexpr uint32_t kMaxRate = 0x40000;
// How often the device thread moves frames while it holds buffers. Every
// sink holds more than two of these ahead (ALSA's buffer is 200 ms, the
// clocks take what their time has passed) and a player queues 800 ms, so a
// longer step only moves more frames at once; each wake costs the same.
constexpr auto kPoll = std::chrono::milliseconds(40);
// The size of the pieces the thread moves, several a wake.
constexpr uint32_t kPiecesPerSecond = 50;

}  // namespace

class WaveOutDevice {
public:
    WaveOutDevice(std::unique_ptr<Sink> sink, const WAVEFORMATEX& format, WaveOutProc callback,
                  void* instance)
        : sink_(std::move(sink)), format_(format), callback_(callback), instance_(instance) {
        frameBytes_ = format.nBlockAlign;
        chunkFrames_ = std::max<uint32_t>(1, format.nSamplesPerSec / kPiecesPerSecond);
        // Room for one chunk of input and, stretched, several of output.
        scratchFrames_ = chunkFrames_ * 4;
        scratch_.resize(size_t{scratchFrames_} * frameBytes_);
        inputStore_.resize(size_t{chunkFrames_} * frameBytes_);
        if (format.wBitsPerSample <= 16) {
            sonic_ = sonicCreateStream(static_cast<int>(format.nSamplesPerSec), format.nChannels);
            if (sonic_)
                WarmUpStretch();
        }
    }

    ~WaveOutDevice() {
        if (sonic_)
            sonicDestroyStream(sonic_);
    }

    bool Open() {
        if (!sink_->Open(format_))
            return false;
        thread_ = std::thread([this] { Run(); });
        return true;
    }

    MMRESULT Write(WAVEHDR* h) {
        std::lock_guard lock(m_);
        if (!(h->dwFlags & WHDR_PREPARED))
            return WAVERR_UNPREPARED;
        if (h->dwFlags & WHDR_INQUEUE)
            return WAVERR_STILLPLAYING;
        h->dwFlags = (h->dwFlags & ~WHDR_DONE) | WHDR_INQUEUE;
        h->lpNext = nullptr;
        h->reserved = 0;
        if (tail_) {
            tail_->lpNext = h;
        } else {
            head_ = h;
        }
        tail_ = h;
        if (!cursor_) {
            cursor_ = h;
            cursorOffset_ = 0;
        }
        cv_.notify_all();
        return MMSYSERR_NOERROR;
    }

    MMRESULT Unprepare(WAVEHDR* h) {
        std::lock_guard lock(m_);
        if (h->dwFlags & WHDR_INQUEUE)
            return WAVERR_STILLPLAYING;
        h->dwFlags &= ~WHDR_PREPARED;
        return MMSYSERR_NOERROR;
    }

    void Pause() {
        std::lock_guard lock(m_);
        if (paused_)
            return;
        paused_ = true;
        sink_->Pause(written_);
    }

    void Restart() {
        std::lock_guard lock(m_);
        if (!paused_)
            return;
        paused_ = false;
        sink_->Resume(written_);
        cv_.notify_all();
    }

    // Returns once every held buffer has come back through the callback.
    void Reset() {
        std::unique_lock lock(m_);
        const uint64_t ticket = ++resetRequested_;
        cv_.notify_all();
        resetCv_.wait(lock, [&] { return resetServed_ >= ticket || threadEnded_; });
    }

    void Close() {
        {
            std::lock_guard lock(m_);
            closing_ = true;
            cv_.notify_all();
        }
        thread_.join();
        sink_->Close();
    }

    uint32_t Rate() {
        std::lock_guard lock(m_);
        return rate_;
    }

    MMRESULT SetRate(uint32_t rate) {
        if (rate < kMinRate || rate > kMaxRate)
            return MMSYSERR_INVALPARAM;
        if (rate != kRateNormal && !sonic_)
            return MMSYSERR_NOTSUPPORTED;
        std::lock_guard lock(m_);
        rate_ = rate;
        cv_.notify_all();
        return MMSYSERR_NOERROR;
    }

private:
    void Run() {
        std::unique_lock lock(m_);
        while (true) {
            if (resetServed_ < resetRequested_ || closing_) {
                const uint64_t ticket = resetRequested_;
                WAVEHDR* all = DropAll();
                lock.unlock();
                Deliver(all);
                lock.lock();
                if (closing_)
                    break;
                resetServed_ = ticket;
                resetCv_.notify_all();
                continue;
            }
            if (!paused_)
                Pump();
            WAVEHDR* done = TakeDone();
            if (done) {
                lock.unlock();
                Deliver(done);
                lock.lock();
                continue;
            }
            if (head_ && !paused_) {
                cv_.wait_for(lock, kPoll);
            } else {
                // Nothing moves while paused: a write, restart, reset or close wakes it.
                cv_.wait(lock);
            }
        }
        threadEnded_ = true;
        resetCv_.notify_all();
    }

    // Moves frames into the sink while it has room.
    void Pump() {
        while (true) {
            if (outPos_ < outLen_) {
                const uint64_t room = sink_->Room(written_);
                if (room == 0)
                    return;
                const uint32_t n =
                    static_cast<uint32_t>(std::min<uint64_t>(room, outLen_ - outPos_));
                const uint32_t taken =
                    sink_->Write(scratch_.data() + size_t{outPos_} * frameBytes_, n);
                written_ += taken;
                outPos_ += taken;
                if (taken < n)
                    return;
                continue;
            }
            outPos_ = outLen_ = 0;
            if (sink_->Room(written_) == 0)
                return;
            if (!Refill()) {
                sink_->Idle(written_);
                return;
            }
        }
    }

    // Fills the scratch with the next output frames; false when there are none.
    bool Refill() {
        while (true) {
            if (ApplyRate())
                return true;
            if (stretching_) {
                const int n = ReadStretched();
                if (n > 0) {
                    outLen_ = static_cast<uint32_t>(n);
                    produced_ += outLen_;
                    return true;
                }
            }
            if (!cursor_)
                return false;
            // Whole frames from the carried bytes of a split frame plus this buffer.
            uint8_t* in = stretching_ ? inputStore_.data() : scratch_.data();
            const uint32_t want = chunkFrames_ * frameBytes_;
            std::memcpy(in, carry_, carryLen_);
            const uint32_t left = cursor_->dwBufferLength - cursorOffset_;
            const uint32_t take = std::min(left, want - carryLen_);
            if (take)
                std::memcpy(in + carryLen_, cursor_->lpData + cursorOffset_, take);
            cursorOffset_ += take;
            const uint32_t total = carryLen_ + take;
            const uint32_t frames = total / frameBytes_;
            carryLen_ = total - frames * frameBytes_;
            std::memcpy(carry_, in + size_t{frames} * frameBytes_, carryLen_);
            const bool finished = cursorOffset_ >= cursor_->dwBufferLength;
            if (!stretching_) {
                if (finished)
                    FinishCursor(produced_ + frames);
                if (frames == 0)
                    continue;
                outLen_ = frames;
                produced_ += frames;
                return true;
            }
            WriteStretched(in, frames);
            if (finished) {
                // Nothing queued behind it: let the stretch give out all it holds.
                if (!cursor_->lpNext)
                    sonicFlushStream(sonic_);
                FinishCursor(produced_ + static_cast<uint64_t>(sonicSamplesAvailable(sonic_)));
            }
        }
    }

    // The buffer under the cursor has given its last byte; its audio ends
    // with output frame endFrame.
    void FinishCursor(uint64_t endFrame) {
        cursor_->reserved = endFrame;
        cursor_ = cursor_->lpNext;
        cursorOffset_ = 0;
    }

    void WriteStretched(uint8_t* in, uint32_t frames) {
        if (!frames)
            return;
        if (format_.wBitsPerSample == 8) {
            sonicWriteUnsignedCharToStream(sonic_, in, static_cast<int>(frames));
        } else {
            sonicWriteShortToStream(sonic_, reinterpret_cast<short*>(in), static_cast<int>(frames));
        }
    }

    int ReadStretched() {
        if (format_.wBitsPerSample == 8) {
            return sonicReadUnsignedCharFromStream(sonic_, scratch_.data(),
                                                   static_cast<int>(scratchFrames_));
        }
        return sonicReadShortFromStream(sonic_, reinterpret_cast<short*>(scratch_.data()),
                                        static_cast<int>(scratchFrames_));
    }

    // Runs a chunk of silence through the stretch at a fast speed and flushes
    // it, so that its buffers have grown to their working size before any
    // playing starts (no allocation while playing at another rate).
    void WarmUpStretch() {
        std::fill(inputStore_.begin(), inputStore_.end(), format_.wBitsPerSample == 8 ? 0x80 : 0);
        sonicSetSpeed(sonic_, 2.0f);
        for (int i = 0; i < 8; ++i)
            WriteStretched(inputStore_.data(), chunkFrames_);
        sonicFlushStream(sonic_);
        while (ReadStretched() > 0) {
        }
        sonicSetSpeed(sonic_, 1.0f);
    }

    // Follows a rate change; true when it left output frames in the scratch.
    bool ApplyRate() {
        if (rate_ == appliedRate_)
            return false;
        if (rate_ != kRateNormal) {
            sonicSetSpeed(sonic_, static_cast<float>(rate_) / kRateNormal);
            stretching_ = true;
            appliedRate_ = rate_;
            return false;
        }
        // Back to normal: first play out what the stretch still holds.
        if (!drainFlushed_) {
            sonicFlushStream(sonic_);
            drainFlushed_ = true;
        }
        const int n = ReadStretched();
        if (n > 0) {
            outLen_ = static_cast<uint32_t>(n);
            produced_ += outLen_;
            return true;
        }
        drainFlushed_ = false;
        stretching_ = false;
        appliedRate_ = rate_;
        return false;
    }

    // Unlinks the buffers the sink has played; returns them as a chain.
    WAVEHDR* TakeDone() {
        if (!head_ || head_ == cursor_)
            return nullptr;
        const uint64_t played = sink_->Played(written_);
        WAVEHDR* first = head_;
        WAVEHDR* last = nullptr;
        while (head_ && head_ != cursor_ && head_->reserved <= played) {
            last = head_;
            head_ = head_->lpNext;
        }
        if (!last)
            return nullptr;
        last->lpNext = nullptr;
        if (!head_)
            tail_ = nullptr;
        return first;
    }

    // Unlinks every held buffer and forgets everything on its way to the sink.
    WAVEHDR* DropAll() {
        WAVEHDR* all = head_;
        head_ = tail_ = cursor_ = nullptr;
        cursorOffset_ = 0;
        carryLen_ = 0;
        outPos_ = outLen_ = 0;
        // Frames made but never handed to the sink are gone: later buffers'
        // ends are counted from what the sink has really taken.
        produced_ = written_;
        if (sonic_ && stretching_) {
            sonicFlushStream(sonic_);
            while (ReadStretched() > 0) {
            }
        }
        sink_->Drop(written_);
        return all;
    }

    void Deliver(WAVEHDR* chain) {
        while (chain) {
            WAVEHDR* next = chain->lpNext;
            {
                std::lock_guard lock(m_);
                chain->lpNext = nullptr;
                chain->dwFlags = (chain->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
            }
            callback_(this, WOM_DONE, instance_, chain);
            chain = next;
        }
    }

    std::unique_ptr<Sink> sink_;
    const WAVEFORMATEX format_;
    WaveOutProc callback_;
    void* instance_;
    uint32_t frameBytes_ = 1;
    uint32_t chunkFrames_ = 1;
    uint32_t scratchFrames_ = 1;
    std::vector<uint8_t> scratch_;
    std::vector<uint8_t> inputStore_;
    sonicStream sonic_ = nullptr;

    std::thread thread_;
    std::mutex m_;
    std::condition_variable cv_;
    std::condition_variable resetCv_;
    WAVEHDR* head_ = nullptr;
    WAVEHDR* tail_ = nullptr;
    WAVEHDR* cursor_ = nullptr;
    uint32_t cursorOffset_ = 0;
    uint8_t carry_[64] = {};
    uint32_t carryLen_ = 0;
    uint32_t outPos_ = 0;
    uint32_t outLen_ = 0;
    uint64_t produced_ = 0;
    uint64_t written_ = 0;
    bool paused_ = false;
    bool closing_ = false;
    bool threadEnded_ = false;
    uint64_t resetRequested_ = 0;
    uint64_t resetServed_ = 0;
    uint32_t rate_ = kRateNormal;
    uint32_t appliedRate_ = kRateNormal;
    bool stretching_ = false;
    bool drainFlushed_ = false;
};

DeviceChoice ParseDeviceChoice(std::string_view text) {
    DeviceChoice choice;
    if (text.empty())
        return choice;
    if (text == "alsa") {
        choice.kind = DeviceKind::Alsa;
    } else if (text == "null") {
        choice.kind = DeviceKind::Null;
    } else if (text == "none") {
        choice.kind = DeviceKind::None;
    } else if (text.starts_with("capture:") && text.size() > 8) {
        choice.kind = DeviceKind::Capture;
        choice.capturePath = std::string(text.substr(8));
    } else {
        choice.recognised = false;
    }
    return choice;
}

const DeviceChoice& ChosenDevice() {
    static const DeviceChoice chosen = [] {
        const char* env = std::getenv("LYRABELL_AUDIO");
        DeviceChoice choice = ParseDeviceChoice(env ? env : "");
        if (!choice.recognised) {
            std::fprintf(stderr,
                         "lyrabell: LYRABELL_AUDIO=%s names no sound device; using the default\n",
                         env);
        }
        return choice;
    }();
    return chosen;
}

namespace {

std::atomic<bool> outputMissing{false};

// Notes whether the default device found a sound output at its last open;
// standard error hears of each change to none, once.
void noteOutputMissing(bool missing) {
    if (!outputMissing.exchange(missing) && missing)
        std::fprintf(stderr, "lyrabell: no ALSA sound output; playing silently\n");
}

}  // namespace

bool SoundOutputMissing() {
    return outputMissing.load();
}

uint32_t waveOutGetNumDevs() {
    return ChosenDevice().kind == DeviceKind::None ? 0 : 1;
}

MMRESULT waveOutOpen(HWAVEOUT* device, uint32_t deviceId, const WAVEFORMATEX& format,
                     WaveOutProc callback, void* instance) {
    if (!device || !callback)
        return MMSYSERR_INVALPARAM;
    *device = nullptr;
    const DeviceChoice& choice = ChosenDevice();
    if (deviceId != 0 || choice.kind == DeviceKind::None)
        return MMSYSERR_BADDEVICEID;
    const uint16_t bits = format.wBitsPerSample;
    if (format.wFormatTag != WAVE_FORMAT_PCM || format.nChannels < 1 || format.nChannels > 8 ||
        (bits != 8 && bits != 16 && bits != 24 && bits != 32) ||
        format.nBlockAlign != format.nChannels * (bits / 8) || format.nSamplesPerSec < 1000 ||
        format.nSamplesPerSec > 384000) {
        return WAVERR_BADFORMAT;
    }
    const bool alsa = choice.kind == DeviceKind::Alsa || choice.kind == DeviceKind::Default;
    auto opened = std::make_unique<WaveOutDevice>(
        alsa ? MakeAlsaSink() : MakeClockSink(choice.capturePath), format, callback, instance);
    bool open = opened->Open();
    if (choice.kind == DeviceKind::Default) {
        // The default is looked for again at every open, so a sound output
        // that appears (a sound server started, a headset plugged in) is
        // used from the next recording on. Only when ALSA has no output at
        // all does the device play silently by its clock; a format that
        // ALSA refuses stays an error.
        const bool missing = !open && !AlsaAvailable();
        noteOutputMissing(missing);
        if (missing) {
            opened = std::make_unique<WaveOutDevice>(MakeClockSink({}), format, callback, instance);
            open = opened->Open();
        }
    }
    if (!open)
        return MMSYSERR_ERROR;
    *device = opened.release();
    return MMSYSERR_NOERROR;
}

MMRESULT waveOutPrepareHeader(HWAVEOUT device, WAVEHDR* header) {
    if (!device)
        return MMSYSERR_INVALHANDLE;
    if (!header)
        return MMSYSERR_INVALPARAM;
    if (header->dwFlags & WHDR_INQUEUE)
        return WAVERR_STILLPLAYING;
    header->dwFlags |= WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT waveOutUnprepareHeader(HWAVEOUT device, WAVEHDR* header) {
    if (!device)
        return MMSYSERR_INVALHANDLE;
    if (!header)
        return MMSYSERR_INVALPARAM;
    return device->Unprepare(header);
}

MMRESULT waveOutWrite(HWAVEOUT device, WAVEHDR* header) {
    if (!device)
        return MMSYSERR_INVALHANDLE;
    if (!header || (header->dwBufferLength && !header->lpData))
        return MMSYSERR_INVALPARAM;
    return device->Write(header);
}

MMRESULT waveOutPause(HWAVEOUT device) {
    if (!device)
        return MMSYSERR_INVALHANDLE;
    device->Pause();
    return MMSYSERR_NOERROR;
}

MMRESULT waveOutRestart(HWAVEOUT device) {
    if (!device)
        return MMSYSERR_INVALHANDLE;
    device->Restart();
    return MMSYSERR_NOERROR;
}

MMRESULT waveOutReset(HWAVEOUT device) {
    if (!device)
        return MMSYSERR_INVALHANDLE;
    device->Reset();
    return MMSYSERR_NOERROR;
}

MMRESULT waveOutClose(HWAVEOUT device) {
    if (!device)
        return MMSYSERR_INVALHANDLE;
    device->Close();
    delete device;
    return MMSYSERR_NOERROR;
}

MMRESULT waveOutGetPlaybackRate(HWAVEOUT device, uint32_t* rate) {
    if (!device)
        return MMSYSERR_INVALHANDLE;
    if (!rate)
        return MMSYSERR_INVALPARAM;
    *rate = device->Rate();
    return MMSYSERR_NOERROR;
}

MMRESULT waveOutSetPlaybackRate(HWAVEOUT device, uint32_t rate) {
    if (!device)
        return MMSYSERR_INVALHANDLE;
    return device->SetRate(rate);
}

}  // namespace lyb::waveout
