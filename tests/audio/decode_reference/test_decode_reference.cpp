// `lybtool decode` on the generated fixtures, against independent decodes of
// the same files: sox (and ffmpeg where its decoder is exact) must agree to
// the bit; for OKI ADPCM and G.729, whose reference decoders differ from ours
// by design, the closeness is measured as a signal-to-noise ratio.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "reference_util.h"

#ifdef LYB_HAVE_SPANDSP
#include <spandsp.h>
#endif

namespace lyb::test {
namespace {

struct ExactCase {
    const char* file;
    std::vector<std::string> sox_input;  // sox options before the input path
    uint16_t channels;
    uint32_t rate;
    uint16_t bits;      // of our output: 8 only for 8-bit PCM, which is copied
    bool ffmpeg_exact;  // ffmpeg's decoder of this encoding agrees with sox's
};

const std::vector<ExactCase>& ExactCases() {
    static const std::vector<ExactCase> cases = {
        {"pcm16-mono-8000.wav", {}, 1, 8000, 16, true},
        {"pcm16-stereo-11025.wav", {}, 2, 11025, 16, true},
        {"pcm16-mono-44100.wav", {}, 1, 44100, 16, true},
        {"pcm8-mono-8000.wav", {}, 1, 8000, 8, false},
        {"pcm8-stereo-44100.wav", {}, 2, 44100, 8, false},
        {"alaw-mono-8000.wav", {}, 1, 8000, 16, true},
        {"alaw-stereo-11025.wav", {}, 2, 11025, 16, true},
        {"mulaw-mono-8000.wav", {}, 1, 8000, 16, true},
        {"mulaw-stereo-44100.wav", {}, 2, 44100, 16, true},
        {"ima-mono-8000.wav", {}, 1, 8000, 16, false},
        {"ima-stereo-11025.wav", {}, 2, 11025, 16, false},
        {"msadpcm-mono-8000.wav", {}, 1, 8000, 16, false},
        {"msadpcm-stereo-44100.wav", {}, 2, 44100, 16, false},
        {"gsm-wav49-8000.wav", {}, 1, 8000, 16, true},
        {"speech.gsm", {"-t", "gsm"}, 1, 8000, 16, true},
    };
    return cases;
}

TEST(DecodeReference, MatchesSoxBitExactForEveryLosslessPath) {
    for (const ExactCase& c : ExactCases()) {
        SCOPED_TRACE(c.file);
        const std::string input = Fixture(c.file);
        const PcmWave ours = DecodeWithLybtool(input);
        ASSERT_TRUE(ours.valid);
        EXPECT_EQ(ours.format_tag, 1);
        EXPECT_EQ(ours.channels, c.channels);
        EXPECT_EQ(ours.sample_rate, c.rate);
        EXPECT_EQ(ours.bits_per_sample, c.bits);

        // 8-bit PCM stays unsigned 8-bit; everything else becomes signed 16-bit.
        const std::vector<std::string> raw_format =
            c.bits == 8 ? std::vector<std::string>{}
                        : std::vector<std::string>{"-e", "signed", "-b", "16"};
        const std::vector<uint8_t> sox = DecodeWithSox(input, c.sox_input, raw_format);
        ASSERT_FALSE(sox.empty());
        ASSERT_EQ(ours.audio.size(), sox.size());
        EXPECT_TRUE(ours.audio == sox);
        // Every fixture holds whole blocks and frames, so the header announces
        // exactly what was written.
        EXPECT_EQ(ours.data_size, ours.audio.size());

        if (c.ffmpeg_exact) {
            EXPECT_TRUE(ToSamples(ours.audio) == DecodeWithFfmpeg(input));
        }
    }
}

TEST(DecodeReference, StreamSourceDecodesLikeTheFileSource) {
    // Attachments reach the decoder as store streams; raw GSM is then marked
    // by a flag instead of the file name.
    const std::vector<std::pair<const char*, std::vector<std::string>>> cases = {
        {"speech.gsm", {"--stream", "--gsm"}},
        {"gsm-wav49-8000.wav", {"--stream"}},
        {"ima-stereo-11025.wav", {"--stream"}},
        {"g729-8000.wav", {"--stream"}},
    };
    for (const auto& [file, options] : cases) {
        SCOPED_TRACE(file);
        const PcmWave from_file = DecodeWithLybtool(Fixture(file));
        const PcmWave from_stream = DecodeWithLybtool(Fixture(file), options);
        ASSERT_TRUE(from_file.valid);
        ASSERT_TRUE(from_stream.valid);
        EXPECT_EQ(from_stream.data_size, from_file.data_size);
        EXPECT_TRUE(from_stream.audio == from_file.audio);
    }
}

TEST(DecodeReference, G729IsCloseToFfmpegsDecoder) {
    // ffmpeg's G.729 decoder is not the bit-exact reference decoder, so the
    // two agree only roughly; a framing or bit-order fault drops the ratio
    // below 0 dB.
    const PcmWave ours = DecodeWithLybtool(Fixture("g729-8000.wav"));
    ASSERT_TRUE(ours.valid);
    EXPECT_EQ(ours.channels, 1);
    EXPECT_EQ(ours.sample_rate, 8000u);
    const std::vector<uint8_t> frames = ReadBytes(Fixture("speech.g729"));
    ASSERT_EQ(ours.audio.size(), 16 * frames.size());
    EXPECT_EQ(ours.data_size, ours.audio.size());

    const std::vector<int16_t> ffmpeg = DecodeWithFfmpeg(Fixture("speech.g729"), {"-f", "g729"});
    ASSERT_EQ(ffmpeg.size(), ours.audio.size() / 2);
    const double snr = SnrDb(ffmpeg, ToSamples(ours.audio));
    std::printf("G.729 against ffmpeg: %.2f dB\n", snr);
    EXPECT_GT(snr, 15.0);  // measured 20.8 dB
}

TEST(DecodeReference, OutputHeaderCountsTheAudioWrittenWhenTheInputDisagreesWithItsHeader) {
    // A chunk after the data, or a recording cut short of the sizes its
    // header declares (part of a frame, of a block, of a 3-byte OKI group).
    struct Case {
        const char* file;
        size_t cut;  // bytes cut off the end
        bool list;   // a LIST chunk appended
    };
    std::vector<Case> cases = {
        {"pcm16-mono-8000.wav", 0, true},
        {"g729-8000.wav", 15, false},
        {"msadpcm-mono-8000.wav", 100, false},
    };
#ifdef LYB_HAVE_SPANDSP
    cases.push_back({"oki24-6000.wav", 100, false});
#endif
    const std::string input = TempPath("disagreeing.wav");
    for (const Case& c : cases) {
        const PcmWave whole = DecodeWithLybtool(Fixture(c.file));
        ASSERT_TRUE(whole.valid) << c.file;
        std::vector<uint8_t> bytes = ReadBytes(Fixture(c.file));
        bytes.resize(bytes.size() - c.cut);
        if (c.list) {
            const uint8_t list[] = {'L', 'I', 'S', 'T', 212, 0, 0, 0};
            bytes.insert(bytes.end(), std::begin(list), std::end(list));
            bytes.insert(bytes.end(), 212, 0x5A);
        }
        std::ofstream(input, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));

        for (const std::vector<std::string>& options : {std::vector<std::string>{}, {"--stream"}}) {
            SCOPED_TRACE(std::string(c.file) + (options.empty() ? "" : " --stream"));
            const PcmWave ours = DecodeWithLybtool(input, options);
            ASSERT_TRUE(ours.valid);
            EXPECT_EQ(ours.data_size, ours.audio.size());
            EXPECT_EQ(ours.riff_size, ours.audio.size() + 36);
            // Nothing but the recording's own audio: all of it, or its start.
            if (c.list) {
                EXPECT_TRUE(ours.audio == whole.audio);
            } else {
                EXPECT_LT(ours.audio.size(), whole.audio.size());
                EXPECT_TRUE(ours.audio.size() <= whole.audio.size() &&
                            std::equal(ours.audio.begin(), ours.audio.end(), whole.audio.begin()));
            }
        }
    }
}

#ifdef LYB_HAVE_SPANDSP

std::vector<uint8_t> OkiCodes(const std::string& file) {
    std::vector<uint8_t> bytes = ReadBytes(Fixture(file));
    bytes.erase(bytes.begin(), bytes.begin() + std::min<size_t>(44, bytes.size()));
    return bytes;
}

std::vector<int16_t> DecodeWithSpandsp(const std::vector<uint8_t>& codes, int bit_rate) {
    oki_adpcm_state_t* state = oki_adpcm_init(nullptr, bit_rate);
    // Up to 8 samples per 3 bytes at 24000, 2 per byte at 32000.
    std::vector<int16_t> samples(codes.size() * 3 + 16);
    samples.resize(
        oki_adpcm_decode(state, samples.data(), codes.data(), static_cast<int>(codes.size())));
    oki_adpcm_free(state);
    return samples;
}

// The index of the first code decoded with step index 47, or the code count.
size_t FirstCodeAtStepIndex47(const std::vector<uint8_t>& codes) {
    static constexpr int kAdjust[8] = {-1, -1, -1, -1, 2, 4, 6, 8};
    int index = 0;
    for (size_t n = 0; n < 2 * codes.size(); ++n) {
        if (index == 47) {
            return n;
        }
        const int code = n % 2 == 0 ? codes[n / 2] >> 4 : codes[n / 2] & 0x0F;
        index = std::clamp(index + kAdjust[code & 7], 0, 48);
    }
    return 2 * codes.size();
}

TEST(DecodeReference, Oki32kMatchesSpandspUntilItsStepTablesDiffer) {
    // spandsp's step table has 1411 at index 47 where ours has 1408; until the
    // stream first uses that step both decoders must agree to the sample.
    const std::vector<uint8_t> codes = OkiCodes("oki32-8000.wav");
    const PcmWave ours = DecodeWithLybtool(Fixture("oki32-8000.wav"));
    ASSERT_TRUE(ours.valid);
    EXPECT_EQ(ours.sample_rate, 8000u);
    EXPECT_EQ(ours.data_size, 4 * codes.size());
    const std::vector<int16_t> decoded = ToSamples(ours.audio);
    const std::vector<int16_t> spandsp = DecodeWithSpandsp(codes, 32000);
    ASSERT_EQ(decoded.size(), spandsp.size());

    const size_t same_until = FirstCodeAtStepIndex47(codes);
    ASSERT_GT(same_until, 1000u);
    ASSERT_LT(same_until, decoded.size()) << "the fixture never reaches step index 47";
    EXPECT_TRUE(std::equal(decoded.begin(), decoded.begin() + same_until, spandsp.begin()));
    const double snr = SnrDb(spandsp, decoded);
    std::printf("OKI 32 kbit/s against spandsp: %.2f dB, identical for %zu samples\n", snr,
                same_until);
    EXPECT_GT(snr, 30.0);  // measured 39.9 dB
}

TEST(DecodeReference, Oki24kIsCloseToSpandspsResampledDecode) {
    // Both convert 6000 Hz to 8000 Hz while decoding with an 81-tap filter in
    // four phases; they part only by the rounding of the filter's sum.
    const std::vector<uint8_t> codes = OkiCodes("oki24-6000.wav");
    const PcmWave ours = DecodeWithLybtool(Fixture("oki24-6000.wav"));
    ASSERT_TRUE(ours.valid);
    EXPECT_EQ(ours.sample_rate, 8000u);
    // The codes are not a whole number of 3-byte groups: the header counts
    // the samples of the last part group too, as written.
    EXPECT_EQ(ours.data_size, ours.audio.size());
    const std::vector<int16_t> decoded = ToSamples(ours.audio);
    const std::vector<int16_t> spandsp = DecodeWithSpandsp(codes, 24000);
    ASSERT_EQ(decoded.size(), spandsp.size());
    int worst = 0;
    for (size_t i = 0; i < decoded.size(); ++i) {
        worst = std::max(worst, std::abs(decoded[i] - spandsp[i]));
    }
    const double snr = SnrDb(spandsp, decoded);
    std::printf("OKI 24 kbit/s against spandsp: %.2f dB, largest difference %d\n", snr, worst);
    EXPECT_LE(worst, 4);   // measured 1
    EXPECT_GT(snr, 60.0);  // measured 97 dB
}

#endif  // LYB_HAVE_SPANDSP

}  // namespace
}  // namespace lyb::test
