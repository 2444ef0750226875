#include "audio/decode/recording_duration.h"

#include "audio/decode/av_recording.h"
#include "audio/decode/wave_decoder.h"

namespace lyb::audio {
namespace {

constexpr uint64_t kGsmFrameBytes = 33;
constexpr double kGsmFrameSeconds = 0.020;

// The duration of the job's output for a wave input whose header was just
// parsed from reader, from the sizes the job announces.
double WaveDurationSeconds(const WaveHeader& header, CWaveReader& reader) {
    const uint64_t length = reader.GetLength();
    const uint64_t position = reader.GetPosition();
    const WaveHeader out =
        DescribeDecodedOutput(header, false, length > position ? length - position : 0);
    const uint64_t frameBytes = uint64_t{out.channels} * ((out.bits_per_sample + 7u) / 8u);
    if (frameBytes == 0 || out.sample_rate == 0)
        return -1;
    return static_cast<double>(out.data_size / frameBytes) / out.sample_rate;
}

}  // namespace

double RecordingDurationSeconds(CWaveReader& reader, bool raw_gsm, const char* extension) {
    if (raw_gsm) {
        const uint64_t length = reader.GetLength();
        const uint64_t position = reader.GetPosition();
        const uint64_t bytes = length > position ? length - position : 0;
        return static_cast<double>(bytes / kGsmFrameBytes) * kGsmFrameSeconds;
    }
    if (StartsLikeWave(reader)) {
        const uint64_t start = reader.GetPosition();
        WaveHeader header;
        if (!ParseWaveHeader(header, reader))
            return -1;
        if (IsSupportedFormatTag(header.format_tag))
            return WaveDurationSeconds(header, reader);
        // A wave file in an encoding of its own goes to the media libraries,
        // as in the job.
        reader.Seek(static_cast<int64_t>(start), 0);
    }
    return ContainerDurationSeconds(reader, extension);
}

double RecordingDurationSeconds(mapi::IStream* stream, bool raw_gsm, const char* extension) {
    if (!stream)
        return -1;
    stream->AddRef();  // the reader releases its own reference
    CStreamWaveReader reader(stream);
    return RecordingDurationSeconds(reader, raw_gsm, extension);
}

}  // namespace lyb::audio
