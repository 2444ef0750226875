#include "audio/output/wave_player.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>

namespace lyb::audio {

using namespace lyb::waveout;

const char* CWaveIOException::MessageFor(int code) {
    switch (code) {
        case kNoError:
            return "No error.";
        case kCannotOpenFile:
            return "Cannot open file.";
        case kCannotCreateFile:
            return "Cannot create file.";
        case kCannotOpenDevice:
            return "Cannot open sound device.";
        case kCannotReadHeader:
            return "Cannot read wav header.";
        case kUnsupportedFormat:
            return "Unsupported sound format.";
        default:
            return "Unknown error.";
    }
}

void CWavePlayer::Wake::Raise() {
    std::lock_guard lock(mutex_);
    raised_ = true;
    cv_.notify_one();
}

void CWavePlayer::Wake::Wait() {
    std::unique_lock lock(mutex_);
    cv_.wait(lock, [this] { return raised_; });
    raised_ = false;
}

void CWavePlayer::Wake::WaitUntil(std::chrono::steady_clock::time_point until) {
    std::unique_lock lock(mutex_);
    cv_.wait_until(lock, until, [this] { return raised_; });
    raised_ = false;
}

void CWavePlayer::Queue::Push(WAVEHDR* h) {
    std::lock_guard lock(mutex_);
    items_[(first_ + size_) % kBufferCount] = h;
    ++size_;
}

WAVEHDR* CWavePlayer::Queue::Pop() {
    std::lock_guard lock(mutex_);
    if (size_ == 0)
        return nullptr;
    WAVEHDR* h = items_[first_];
    first_ = (first_ + 1) % kBufferCount;
    --size_;
    return h;
}

void CWavePlayer::Queue::Clear() {
    std::lock_guard lock(mutex_);
    first_ = size_ = 0;
}

CWavePlayer::CWavePlayer(const std::string& path, Source source)
    : path_(path), growing_(source == Source::kGrowing) {
    {
        std::lock_guard lock(countMutex_);
        completed_ = 0;
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        throw CWaveIOException(CWaveIOException::kCannotOpenFile);
    file_ = std::make_unique<CFileWaveReader>(fd);
    if (!ParseWaveHeader(header_, *file_)) {
        file_.reset();
        throw CWaveIOException(CWaveIOException::kCannotReadHeader);
    }
    dataStart_ = file_->GetPosition();
    const uint16_t bits = header_.bits_per_sample;
    const bool playable = (bits == 8 || bits == 16 || bits == 24 || bits == 32) &&
                          header_.channels <= 8 && header_.sample_rate <= 384000;
    bytesPerMs_ = static_cast<uint32_t>(static_cast<double>(bits / 8) * header_.channels *
                                        header_.sample_rate * 0.001);
    if (header_.format_tag != WAVE_FORMAT_PCM || bytesPerMs_ == 0 || !playable) {
        file_.reset();
        throw CWaveIOException(CWaveIOException::kUnsupportedFormat);
    }
    frameBytes_ = (bits / 8) * header_.channels;
    bufferSize_ = kBufferMilliseconds * bytesPerMs_;
    Announce(header_.data_size);
}

void CWavePlayer::Announce(uint32_t dataSize) {
    duration_ = static_cast<uint32_t>(static_cast<double>(dataSize) / bytesPerMs_);
    announcedBytes_ = dataSize - dataSize % frameBytes_;
}

CWavePlayer::~CWavePlayer() {
    Stop();
    file_->Close(true);
}

uint32_t CWavePlayer::Position() const {
    return static_cast<uint32_t>(position_.load() / bytesPerMs_);
}

void CWavePlayer::Play() {
    if (state_ != kStopped)
        return;
    stop_ = false;
    ended_ = false;
    if (waveOutGetNumDevs() == 0)
        throw CWaveIOException(CWaveIOException::kCannotOpenDevice);
    WAVEFORMATEX format;
    format.wFormatTag = header_.format_tag;
    format.nChannels = header_.channels;
    format.nSamplesPerSec = header_.sample_rate;
    format.nBlockAlign = static_cast<uint16_t>(frameBytes_);
    format.wBitsPerSample = header_.bits_per_sample;
    format.nAvgBytesPerSec = header_.bits_per_sample * header_.channels * header_.sample_rate / 8;
    HWAVEOUT device = nullptr;
    if (waveOutOpen(&device, 0, format, &CWavePlayer::CALLBACK_Done, this) != MMSYSERR_NOERROR) {
        throw CWaveIOException(CWaveIOException::kCannotOpenDevice);
    }
    {
        std::lock_guard lock(transportMutex_);
        device_ = device;
    }
    // Reports of buffers a previous run's device discarded must not be
    // collected by this one.
    {
        std::lock_guard lock(countMutex_);
        completed_ = 0;
    }
    blocks_.clear();
    for (auto& record : records_) {
        blocks_.push_back(std::make_unique<char[]>(bufferSize_));
        record = WAVEHDR{};
        record.lpData = blocks_.back().get();
        record.dwBufferLength = bufferSize_;
        free_.Push(&record);
    }
    state_ = kPlaying;
    // The first buffer is ready before the workers start, so the writer's
    // first step hands it to the device.
    Fill();
    feeder_ = std::thread([this] { FeederLoop(); });
    writer_ = std::thread([this] { WriterLoop(); });
}

void CWavePlayer::Pause() {
    std::lock_guard lock(transportMutex_);
    if (state_ != kPlaying)
        return;
    waveOutPause(device_);
    state_ = kPaused;
}

void CWavePlayer::Resume() {
    std::lock_guard lock(transportMutex_);
    if (state_ != kPaused)
        return;
    waveOutRestart(device_);
    state_ = kPlaying;
    writerWake_.Raise();
}

void CWavePlayer::Stop() {
    if (state_ == kStopped)
        return;
    stop_ = true;
    feederWake_.Raise();
    writerWake_.Raise();
    feeder_.join();
    writer_.join();
    {
        std::lock_guard lock(transportMutex_);
        waveOutReset(device_);
        waveOutClose(device_);
        device_ = nullptr;
    }
    // The workers are gone and the device has given everything back: every
    // buffer sits in a queue.
    free_.Clear();
    playing_.Clear();
    ready_.Clear();
    blocks_.clear();
    {
        std::lock_guard lock(fileMutex_);
        file_->Seek(static_cast<int64_t>(dataStart_), 0);
    }
    state_ = kStopped;
    position_ = 0;
}

bool CWavePlayer::Seek(uint32_t ms) {
    std::lock_guard transport(transportMutex_);
    const bool pausedHere = state_ == kPlaying;
    if (pausedHere) {
        waveOutPause(device_);
        state_ = kPaused;
    }
    uint64_t offset = uint64_t{bytesPerMs_} * ms;
    offset -= offset % frameBytes_;  // never land inside a sample frame
    const uint64_t target = dataStart_ + offset;
    if (target >= file_->GetLength()) {
        if (pausedHere) {
            waveOutRestart(device_);
            state_ = kPlaying;
        }
        return false;
    }
    {
        std::lock_guard file(fileMutex_);
        file_->Seek(static_cast<int64_t>(target), 0);
        if (device_) {
            waveOutReset(device_);
            RecycleReturned();
        }
        // Their data was read before the seek.
        while (WAVEHDR* h = ready_.Pop())
            free_.Push(h);
    }
    position_ = offset;
    if (pausedHere) {
        waveOutRestart(device_);
        state_ = kPlaying;
    }
    // Free buffers to fill from the new place, and the position to tell.
    feederWake_.Raise();
    return true;
}

// After a reset every buffer the device held is back on the playing queue and
// counted as completed; they go back to the free queue without being counted
// as played, since the seek has just set the position.
void CWavePlayer::RecycleReturned() {
    uint32_t returned = 0;
    while (WAVEHDR* h = playing_.Pop()) {
        waveOutUnprepareHeader(device_, h);
        free_.Push(h);
        ++returned;
    }
    std::lock_guard lock(countMutex_);
    completed_ -= std::min(completed_, returned);
}

int CWavePlayer::RateMode() {
    std::lock_guard lock(transportMutex_);
    uint32_t rate = 0;
    if (!device_ || waveOutGetPlaybackRate(device_, &rate) != MMSYSERR_NOERROR ||
        rate == waveout::kRateNormal) {
        return kRateNormal;
    }
    return kRateFast;
}

MMRESULT CWavePlayer::SetRateMode(int mode) {
    std::lock_guard lock(transportMutex_);
    if (!device_)
        return MMSYSERR_INVALHANDLE;
    return waveOutSetPlaybackRate(device_, mode == kRateNormal ? waveout::kRateNormal : kFastRate);
}

void CWavePlayer::set_source_complete() {
    uint64_t bytes;
    uint8_t size[4];
    bool sizeRead = false;
    {
        std::lock_guard lock(fileMutex_);
        const uint64_t length = file_->GetLength();
        bytes = length > dataStart_ ? length - dataStart_ : 0;
        // The data size field just before the data, as the writer left it.
        const uint64_t at = file_->GetPosition();
        if (file_->Seek(static_cast<int64_t>(dataStart_ - 4), 0) == dataStart_ - 4)
            sizeRead = file_->Read(size, 4) == 4;
        file_->Seek(static_cast<int64_t>(at), 0);
    }
    if (sizeRead) {
        Announce(static_cast<uint32_t>(size[0] | (size[1] << 8) | (size[2] << 16) |
                                       (uint32_t{size[3]} << 24)));
    }
    sourceBytes_ = bytes - bytes % frameBytes_;
    sourceComplete_ = true;
    CheckEnded(position_.load());
    feederWake_.Raise();  // the end may be there to tell
}

void CWavePlayer::CheckEnded(uint64_t position) {
    if (sourceComplete_) {
        if (position >= std::min(announcedBytes_.load(), sourceBytes_.load()))
            ended_ = true;
    } else if (!growing_ && position >= announcedBytes_) {
        ended_ = true;
    }
}

void CWavePlayer::CALLBACK_Done(HWAVEOUT, uint32_t message, void* instance, WAVEHDR*) {
    if (message != WOM_DONE)
        return;
    auto* self = static_cast<CWavePlayer*>(instance);
    {
        std::lock_guard lock(self->countMutex_);
        ++self->completed_;
    }
    self->feederWake_.Raise();
}

bool CWavePlayer::SetListener(Listener listener, uint32_t stepMs) {
    if (state_ != kStopped)
        return false;
    listener_ = std::move(listener);
    stepMs_ = std::max<uint32_t>(1, stepMs);
    return true;
}

void CWavePlayer::FeederLoop() {
    using Clock = std::chrono::steady_clock;
    reportedStep_ = UINT32_MAX;
    reportedEnd_ = false;
    Clock::time_point fillAt = Clock::now();  // no fill before, while waiting for data
    while (!stop_) {
        const Clock::time_point now = Clock::now();
        bool again = false;
        if (now >= fillAt) {
            switch (Fill()) {
                case FillNext::kAgain:
                    again = true;
                    break;
                case FillNext::kLater:
                    fillAt = now + kDataWaitMs;
                    break;
                case FillNext::kIdle:
                    break;
            }
        }
        again |= Collect();
        Report();
        if (again)
            continue;
        if (fillAt > now)
            feederWake_.WaitUntil(fillAt);
        else
            feederWake_.Wait();
    }
}

void CWavePlayer::Report() {
    const uint32_t ms = Position();
    if (ms / stepMs_ != reportedStep_) {
        reportedStep_ = ms / stepMs_;
        if (listener_.position)
            listener_.position(ms);
    }
    if (!reportedEnd_ && ended_) {
        reportedEnd_ = true;
        if (listener_.ended)
            listener_.ended();
    }
}

CWavePlayer::FillNext CWavePlayer::Fill() {
    std::lock_guard file(fileMutex_);
    WAVEHDR* h = free_.Pop();
    if (!h)
        return FillNext::kIdle;
    char* data = h->lpData;
    *h = WAVEHDR{};
    h->lpData = data;
    uint32_t got = file_->Read(data, bufferSize_);
    // At the growing end of a file the last frame may be incomplete: leave
    // its bytes for the next read.
    if (const uint32_t split = got % frameBytes_) {
        file_->Seek(-static_cast<int64_t>(split), 1);
        got -= split;
    }
    if (got == 0) {
        free_.Push(h);
    } else {
        h->dwBufferLength = got;
        ready_.Push(h);
        writerWake_.Raise();
    }
    if (got == bufferSize_)
        return FillNext::kAgain;
    // Less than a buffer: the file's end for now, or for good.
    const uint64_t read = file_->GetPosition() - dataStart_;
    const bool allRead = sourceComplete_
                             ? read >= std::min(announcedBytes_.load(), sourceBytes_.load())
                             : !growing_ && read >= announcedBytes_;
    return allRead ? FillNext::kIdle : FillNext::kLater;
}

bool CWavePlayer::Collect() {
    std::lock_guard transport(transportMutex_);
    {
        std::lock_guard lock(countMutex_);
        if (completed_ == 0)
            return false;
    }
    WAVEHDR* h = playing_.Pop();
    if (!h)
        return false;
    {
        std::lock_guard lock(countMutex_);
        --completed_;
    }
    if (h->dwFlags & WHDR_PREPARED)
        waveOutUnprepareHeader(device_, h);
    const uint64_t position = position_.load() + h->dwBufferLength;
    position_ = position;
    CheckEnded(position);
    free_.Push(h);
    return true;
}

void CWavePlayer::WriterLoop() {
    while (!stop_) {
        bool wrote = false;
        {
            std::lock_guard transport(transportMutex_);
            if (state_ == kPlaying) {
                if (WAVEHDR* h = ready_.Pop()) {
                    waveOutPrepareHeader(device_, h);
                    waveOutWrite(device_, h);
                    playing_.Push(h);
                    wrote = true;
                }
            }
        }
        if (!wrote)
            writerWake_.Wait();
    }
}

}  // namespace lyb::audio
