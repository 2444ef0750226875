// A recording the media libraries decode, from arbitrary bytes given as a
// store stream: opening it either refuses it with the job's exception or
// yields a format the output can hold, and every block of samples holds
// whole frames. The duration read from the same bytes is -1 or a length.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "audio/decode/av_recording.h"
#include "audio/decode/exception.h"
#include "audio/decode/recording_duration.h"

namespace {

// Enough to reach the decoders' later frames; a small input that decodes to
// hours of audio would otherwise make each run slow without finding more.
constexpr size_t kMaxSamples = 4 * 1024 * 1024;

lyb::mapi::IStream* StreamOf(const uint8_t* data, size_t size) {
    return new lyb::mapi::CMemoryStream(std::vector<uint8_t>(data, data + size));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    lyb::mapi::IStream* stream = StreamOf(data, size);
    const double seconds = lyb::audio::RecordingDurationSeconds(stream);
    stream->Release();
    if (!(seconds == -1 || (std::isfinite(seconds) && seconds >= 0)))
        std::abort();

    lyb::audio::CStreamWaveReader reader(StreamOf(data, size));
    try {
        lyb::audio::CAvRecording recording(reader, "refused");
        const uint16_t channels = recording.channels();
        if (channels < 1 || channels > 2 || recording.sampleRate() == 0)
            std::abort();
        const lyb::audio::WaveHeader header = recording.OutputHeader();
        if (header.data_size % (2u * channels) != 0 || header.riff_size != header.data_size + 36)
            std::abort();
        std::vector<int16_t> samples;
        size_t total = 0;
        while (total < kMaxSamples && recording.Next(samples)) {
            if (samples.empty() || samples.size() % channels != 0)
                std::abort();
            total += samples.size();
        }
    } catch (const lyb::audio::CWaveDecoderException&) {
    }
    return 0;
}
