// Recordings that are no wave encoding of our own go through the same
// decoding job, decoded by the media libraries: one row per container, made
// here with the ffmpeg program (sox for AMR, which ffmpeg cannot encode) from
// a generated tone.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <vector>

#include "audio/decode/recording_duration.h"
#include "audio/decode/wave_decoder.h"
#include "tests/audio/decode/wave_bytes.h"

using namespace lyb::audio;
using lyb::audio::test::Pattern;
using lyb::audio::test::WaveBytes;
using lyb::mapi::CMemoryStream;

namespace {

class FinishedNotifier : public IDecodeNotifier {
public:
    void post(uint32_t message, const std::string&) override {
        std::lock_guard lock(mutex_);
        finished_ = finished_ || message == WM_DECODING_FINISHED;
        changed_.notify_all();
    }
    void wait() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return finished_; });
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool finished_ = false;
};

std::string TempPath(const std::string& name) {
    const char* tmp = std::getenv("TMPDIR");
    return std::string(tmp ? tmp : "/tmp") + "/" + name;
}

std::vector<uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

struct Row {
    const char* name;
    const char* file;
    // Makes file from a 2-second tone; $T is the tone, a 16-bit wave file at
    // the row's rate and channels.
    const char* encode;
    uint32_t rate;
    uint16_t channels;
};

constexpr double kSeconds = 2.0;

const Row kRows[] = {
    {"mp3", "tone.mp3", "ffmpeg -v error -y -i $T -c:a libmp3lame -b:a 64k", 44100, 2},
    {"m4a", "tone.m4a", "ffmpeg -v error -y -i $T -c:a aac -b:a 48k", 16000, 1},
    {"amr-nb", "tone.amr", "sox $T -t amr-nb", 8000, 1},
    {"vorbis", "tone.ogg", "ffmpeg -v error -y -i $T -c:a libvorbis", 22050, 2},
    {"opus", "tone.opus", "ffmpeg -v error -y -i $T -c:a libopus -b:a 24k", 48000, 1},
    {"flac", "tone.flac", "ffmpeg -v error -y -i $T -c:a flac", 11025, 1},
    {"wma", "tone.wma", "ffmpeg -v error -y -i $T -c:a wmav2 -b:a 64k", 22050, 2},
    // A wave file in an encoding the job's own decoders do not know.
    {"wave float", "tone-float.wav", "ffmpeg -v error -y -i $T -c:a pcm_f32le", 8000, 1},
};

std::vector<uint8_t> MakeRecording(const Row& row) {
    const std::string tone = TempPath(std::string("tone-") + row.name + ".wav");
    const std::string out = TempPath(row.file);
    const std::string synth = "sox -V1 -D -R -n -r " + std::to_string(row.rate) + " -c " +
                              std::to_string(row.channels) + " -b 16 '" + tone +
                              "' synth 2 sine 300-1200 gain -6";
    std::string encode = row.encode;
    encode.replace(encode.find("$T"), 2, "'" + tone + "'");
    const std::string command = synth + " && " + encode + " '" + out + "'";
    if (std::system(command.c_str()) != 0)
        return {};
    return ReadFile(out);
}

struct Output {
    WaveHeader header;
    std::vector<int16_t> samples;
};

Output Decode(const std::vector<uint8_t>& input) {
    const std::string out = TempPath("other-decoded.wav");
    FinishedNotifier notifier;
    {
        CWaveDecoder decoder(new CMemoryStream(input), out, &notifier, false);
        decoder.Start();
        notifier.wait();
    }
    const std::vector<uint8_t> file = ReadFile(out);
    Output output;
    EXPECT_TRUE(ParseWaveHeaderFromMemory(output.header, file.data(), file.size()));
    if (file.size() > kWaveHeaderSize) {
        output.samples.resize((file.size() - kWaveHeaderSize) / 2);
        std::memcpy(output.samples.data(), file.data() + kWaveHeaderSize,
                    output.samples.size() * 2);
    }
    EXPECT_EQ(output.header.data_size, file.size() - kWaveHeaderSize);
    return output;
}

// The duration function on a store stream, which stays ours.
double DurationOf(const std::vector<uint8_t>& bytes) {
    auto* stream = new CMemoryStream(bytes);
    const double seconds = RecordingDurationSeconds(stream);
    stream->Release();
    return seconds;
}

double Rms(const std::vector<int16_t>& samples) {
    double sum = 0;
    for (int16_t s : samples)
        sum += static_cast<double>(s) * s;
    return samples.empty() ? 0 : std::sqrt(sum / static_cast<double>(samples.size()));
}

}  // namespace

TEST(OtherRecordings, DecodeAtTheirOwnRateAndChannelsAndDurationsAreRead) {
    for (const Row& row : kRows) {
        SCOPED_TRACE(row.name);
        const std::vector<uint8_t> input = MakeRecording(row);
        ASSERT_FALSE(input.empty()) << "could not make the recording";

        const Output out = Decode(input);
        EXPECT_EQ(out.header.format_tag, 1);
        EXPECT_EQ(out.header.bits_per_sample, 16);
        EXPECT_EQ(out.header.sample_rate, row.rate);
        EXPECT_EQ(out.header.channels, row.channels);
        const double seconds =
            static_cast<double>(out.samples.size()) / row.channels / std::max(row.rate, 1u);
        EXPECT_NEAR(seconds, kSeconds, 0.1);
        EXPECT_GT(Rms(out.samples), 1000.0);  // a -6 dB tone, not silence

        EXPECT_NEAR(DurationOf(input), kSeconds, 0.1);
    }
}

TEST(OtherRecordings, BytesThatAreNoRecordingAreRefusedLikeABrokenWave) {
    std::vector<uint8_t> noise(4000);
    uint32_t x = 12345;
    for (uint8_t& b : noise) {
        x = x * 1103515245 + 12345;
        b = static_cast<uint8_t>(x >> 16);
    }
    const std::string text = "not a recording at all";
    for (const std::vector<uint8_t>& input :
         {noise, std::vector<uint8_t>(text.begin(), text.end())}) {
        try {
            CWaveDecoder decoder(new CMemoryStream(input), TempPath("garbage.wav"), nullptr, false);
            ADD_FAILURE() << "accepted " << input.size() << " bytes";
        } catch (const CWaveDecoderException& e) {
            EXPECT_EQ(std::string(e.what()), kInvalidHeaderText);
        }
        EXPECT_EQ(DurationOf(input), -1);
    }
}

TEST(OtherRecordings, DurationOfOurOwnEncodingsIsWhatTheJobWouldWrite) {
    // One second each: 16-bit PCM, mu-law (twice the bytes out) and 50 raw
    // GSM frames; a wave header the job refuses has no length.
    EXPECT_DOUBLE_EQ(DurationOf(WaveBytes().header(1, 1, 8000, 2, 16).data(Pattern(16000))), 1.0);
    EXPECT_DOUBLE_EQ(DurationOf(WaveBytes().header(7, 1, 8000, 1, 8).data(Pattern(8000))), 1.0);
    auto* gsm = new CMemoryStream(Pattern(50 * 33 + 20));
    EXPECT_DOUBLE_EQ(RecordingDurationSeconds(gsm, true), 1.0);
    gsm->Release();
    EXPECT_EQ(DurationOf(WaveBytes().header(1, 1, 8000, 2, 16)), -1);
}
