// The ALSA device: the default PCM, non-blocking, with a ring of about 200 ms.
// Played frames are the written ones less the PCM's delay. An underrun (the
// queue ran dry, or the sound server stalled) is recovered here with
// snd_pcm_recover and playback goes on with the next frames.
#include <alsa/asoundlib.h>

#include <cerrno>
#include <mutex>

#include "platform/waveout/sink.h"

namespace lyb::waveout {
namespace {

void SilentAlsaErrors(const char*, int, const char*, int, const char*, ...) {}

// ALSA prints its own complaints (no card, no configuration) to standard
// error; we report failures ourselves.
void SilenceAlsa() {
    static std::once_flag once;
    std::call_once(once, [] { snd_lib_error_set_handler(SilentAlsaErrors); });
}

snd_pcm_format_t AlsaFormat(uint16_t bits) {
    switch (bits) {
        case 8:
            return SND_PCM_FORMAT_U8;
        case 16:
            return SND_PCM_FORMAT_S16_LE;
        case 24:
            return SND_PCM_FORMAT_S24_3LE;
        case 32:
            return SND_PCM_FORMAT_S32_LE;
        default:
            return SND_PCM_FORMAT_UNKNOWN;
    }
}

class AlsaSink final : public Sink {
public:
    ~AlsaSink() override { Close(); }

    bool Open(const WAVEFORMATEX& format) override {
        SilenceAlsa();
        if (snd_pcm_open(&pcm_, "default", SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK) < 0) {
            pcm_ = nullptr;
            return false;
        }
        snd_pcm_hw_params_t* hw;
        snd_pcm_hw_params_alloca(&hw);
        unsigned rate = format.nSamplesPerSec;
        unsigned bufferTime = 200000;
        unsigned periodTime = 20000;
        bool ok = snd_pcm_hw_params_any(pcm_, hw) >= 0 &&
                  snd_pcm_hw_params_set_access(pcm_, hw, SND_PCM_ACCESS_RW_INTERLEAVED) >= 0 &&
                  snd_pcm_hw_params_set_format(pcm_, hw, AlsaFormat(format.wBitsPerSample)) >= 0 &&
                  snd_pcm_hw_params_set_channels(pcm_, hw, format.nChannels) >= 0 &&
                  snd_pcm_hw_params_set_rate_resample(pcm_, hw, 1) >= 0 &&
                  snd_pcm_hw_params_set_rate_near(pcm_, hw, &rate, nullptr) >= 0 &&
                  rate == format.nSamplesPerSec &&
                  snd_pcm_hw_params_set_buffer_time_near(pcm_, hw, &bufferTime, nullptr) >= 0 &&
                  snd_pcm_hw_params_set_period_time_near(pcm_, hw, &periodTime, nullptr) >= 0 &&
                  snd_pcm_hw_params(pcm_, hw) >= 0;
        if (ok) {
            canPause_ = snd_pcm_hw_params_can_pause(hw) == 1;
            snd_pcm_uframes_t period = 0;
            snd_pcm_hw_params_get_period_size(hw, &period, nullptr);
            snd_pcm_sw_params_t* sw;
            snd_pcm_sw_params_alloca(&sw);
            ok = snd_pcm_sw_params_current(pcm_, sw) >= 0 &&
                 snd_pcm_sw_params_set_start_threshold(pcm_, sw, period ? period : 1) >= 0 &&
                 snd_pcm_sw_params(pcm_, sw) >= 0 && snd_pcm_prepare(pcm_) >= 0;
        }
        if (!ok) {
            snd_pcm_close(pcm_);
            pcm_ = nullptr;
        }
        return ok;
    }

    uint64_t Room(uint64_t) override {
        if (paused_)
            return 0;
        snd_pcm_sframes_t avail = snd_pcm_avail_update(pcm_);
        if (avail < 0) {
            Recover(static_cast<int>(avail));
            avail = snd_pcm_avail_update(pcm_);
        }
        return avail > 0 ? static_cast<uint64_t>(avail) : 0;
    }

    uint32_t Write(const uint8_t* data, uint32_t frames) override {
        snd_pcm_sframes_t n = snd_pcm_writei(pcm_, data, frames);
        if (n == -EAGAIN)
            return 0;
        if (n < 0) {
            // The frames were not taken; after recovery the next call retries them.
            Recover(static_cast<int>(n));
            return 0;
        }
        return static_cast<uint32_t>(n);
    }

    uint64_t Played(uint64_t written) override {
        // After an underrun everything written has played.
        if (snd_pcm_state(pcm_) == SND_PCM_STATE_XRUN)
            return written;
        snd_pcm_sframes_t delay = 0;
        if (snd_pcm_delay(pcm_, &delay) < 0 || delay < 0)
            return written;
        const uint64_t queued = static_cast<uint64_t>(delay);
        return queued >= written ? 0 : written - queued;
    }

    void Idle(uint64_t) override {
        // Fewer frames than the start threshold (a short file's end) must
        // still be heard.
        if (!paused_ && snd_pcm_state(pcm_) == SND_PCM_STATE_PREPARED) {
            snd_pcm_sframes_t delay = 0;
            if (snd_pcm_delay(pcm_, &delay) >= 0 && delay > 0)
                snd_pcm_start(pcm_);
        }
    }

    void Pause(uint64_t) override {
        paused_ = true;
        if (snd_pcm_state(pcm_) != SND_PCM_STATE_RUNNING)
            return;
        if (canPause_ && snd_pcm_pause(pcm_, 1) >= 0)
            return;
        // No pause in this PCM: what it still holds is lost.
        snd_pcm_drop(pcm_);
        snd_pcm_prepare(pcm_);
    }

    void Resume(uint64_t) override {
        paused_ = false;
        if (snd_pcm_state(pcm_) == SND_PCM_STATE_PAUSED)
            snd_pcm_pause(pcm_, 0);
    }

    void Drop(uint64_t) override {
        snd_pcm_drop(pcm_);
        snd_pcm_prepare(pcm_);
    }

    void Close() override {
        if (!pcm_)
            return;
        snd_pcm_drop(pcm_);
        snd_pcm_close(pcm_);
        pcm_ = nullptr;
    }

private:
    void Recover(int err) {
        if (snd_pcm_recover(pcm_, err, 1) < 0)
            snd_pcm_prepare(pcm_);
    }

    snd_pcm_t* pcm_ = nullptr;
    bool canPause_ = false;
    bool paused_ = false;
};

}  // namespace

std::unique_ptr<Sink> MakeAlsaSink() {
    return std::make_unique<AlsaSink>();
}

bool AlsaAvailable() {
    SilenceAlsa();
    snd_pcm_t* pcm = nullptr;
    if (snd_pcm_open(&pcm, "default", SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK) < 0)
        return false;
    snd_pcm_close(pcm);
    return true;
}

}  // namespace lyb::waveout
