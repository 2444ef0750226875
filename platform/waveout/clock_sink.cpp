// The null and capture devices: they take frames as fast as their playing
// time passes by the monotonic clock, so buffers come back at the real-time
// rate of their format. The capture device writes each frame it plays to a
// wave file; its header is written with zero sizes at open and completed at
// close.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "platform/waveout/sink.h"

namespace lyb::waveout {
namespace {

using Clock = std::chrono::steady_clock;
constexpr off_t kWaveHeaderBytes = 44;

void PutLe(uint8_t* p, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i)
        p[i] = static_cast<uint8_t>(value >> (8 * i));
}

bool WriteAll(int fd, const uint8_t* data, size_t size, off_t offset = -1) {
    while (size > 0) {
        ssize_t n = offset < 0 ? ::write(fd, data, size) : ::pwrite(fd, data, size, offset);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<size_t>(n);
        if (offset >= 0)
            offset += n;
    }
    return true;
}

class ClockSink final : public Sink {
public:
    explicit ClockSink(std::string capturePath) : path_(std::move(capturePath)) {}
    ~ClockSink() override { Close(); }

    bool Open(const WAVEFORMATEX& format) override {
        format_ = format;
        frameBytes_ = format.nBlockAlign;
        if (!path_.empty()) {
            fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
            if (fd_ < 0)
                return false;
            if (!WriteHeader(0) || ::lseek(fd_, kWaveHeaderBytes, SEEK_SET) < 0) {
                ::close(fd_);
                fd_ = -1;
                return false;
            }
        }
        anchorFrames_ = 0;
        anchorTime_ = Clock::now();
        running_ = true;
        return true;
    }

    uint64_t Room(uint64_t written) override {
        if (!running_)
            return 0;
        const uint64_t target = ClockFrames();
        return target > written ? target - written : 0;
    }

    uint32_t Write(const uint8_t* data, uint32_t frames) override {
        if (fd_ >= 0) {
            if (WriteAll(fd_, data, size_t{frames} * frameBytes_)) {
                dataBytes_ += uint64_t{frames} * frameBytes_;
            }
        }
        return frames;
    }

    uint64_t Played(uint64_t written) override { return written; }

    void Idle(uint64_t written) override {
        // An underrun: the clock waits for the next frames instead of letting
        // them burst out to catch up.
        if (running_ && ClockFrames() > written)
            Anchor(written);
    }

    void Pause(uint64_t written) override {
        Anchor(written);
        running_ = false;
    }

    void Resume(uint64_t written) override {
        Anchor(written);
        running_ = true;
    }

    void Drop(uint64_t written) override { Anchor(written); }

    void Close() override {
        if (fd_ < 0)
            return;
        WriteHeader(dataBytes_ > 0xFFFFFFFFu - 36 ? 0xFFFFFFFFu - 36
                                                  : static_cast<uint32_t>(dataBytes_));
        ::close(fd_);
        fd_ = -1;
    }

private:
    uint64_t ClockFrames() const {
        const auto elapsed =
            std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - anchorTime_);
        return anchorFrames_ +
               static_cast<uint64_t>(elapsed.count()) * format_.nSamplesPerSec / 1000000;
    }

    void Anchor(uint64_t written) {
        anchorFrames_ = written;
        anchorTime_ = Clock::now();
    }

    bool WriteHeader(uint32_t dataSize) {
        uint8_t h[44];
        std::memcpy(h, "RIFF", 4);
        PutLe(h + 4, dataSize + 36, 4);
        std::memcpy(h + 8, "WAVEfmt ", 8);
        PutLe(h + 16, 16, 4);
        PutLe(h + 20, WAVE_FORMAT_PCM, 2);
        PutLe(h + 22, format_.nChannels, 2);
        PutLe(h + 24, format_.nSamplesPerSec, 4);
        PutLe(h + 28, format_.nSamplesPerSec * format_.nBlockAlign, 4);
        PutLe(h + 32, format_.nBlockAlign, 2);
        PutLe(h + 34, format_.wBitsPerSample, 2);
        std::memcpy(h + 36, "data", 4);
        PutLe(h + 40, dataSize, 4);
        return WriteAll(fd_, h, sizeof h, 0);
    }

    std::string path_;
    WAVEFORMATEX format_;
    uint32_t frameBytes_ = 1;
    int fd_ = -1;
    uint64_t dataBytes_ = 0;
    uint64_t anchorFrames_ = 0;
    Clock::time_point anchorTime_;
    bool running_ = false;
};

}  // namespace

std::unique_ptr<Sink> MakeClockSink(const std::string& capturePath) {
    return std::make_unique<ClockSink>(capturePath);
}

}  // namespace lyb::waveout
