// Keeps a decoding job's notices for lybtool's commands: whether the job has
// finished, and the error text it posted before that.
#pragma once

#include <condition_variable>
#include <mutex>
#include <string>

#include "audio/decode/wave_decoder.h"

namespace lyb::tool {

class CDecodeNotices final : public audio::IDecodeNotifier {
public:
    void post(uint32_t message, const std::string& text) override {
        std::lock_guard lock(mutex_);
        if (message == audio::WM_DECODING_ERROR)
            error_ = text;
        if (message == audio::WM_DECODING_FINISHED)
            finished_ = true;
        changed_.notify_all();
    }
    bool finished() {
        std::lock_guard lock(mutex_);
        return finished_;
    }
    std::string error() {
        std::lock_guard lock(mutex_);
        return error_;
    }
    // Waits for the finished notice; returns the run's error text, empty when none.
    std::string wait() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return finished_; });
        return error_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool finished_ = false;
    std::string error_;
};

}  // namespace lyb::tool
