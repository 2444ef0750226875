// The GSM 06.10 and G.729 frame decoders on their own, fed frames cut from the
// generated fixtures.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "audio/decode/g729_codec.h"
#include "audio/decode/gsm_codec.h"
#include "reference_util.h"

namespace lyb::audio {
namespace {

using test::Fixture;
using test::ReadBytes;

constexpr int16_t kSentinel = 32749;

std::vector<uint8_t> RawGsmFrames() {
    std::vector<uint8_t> frames = ReadBytes(Fixture("speech.gsm"));
    frames.resize(frames.size() / kGsmFrameBytes * kGsmFrameBytes);
    return frames;
}

std::vector<int16_t> DecodeRawGsm(const std::vector<uint8_t>& frames) {
    std::vector<int16_t> samples(frames.size() / kGsmFrameBytes * kGsmFrameSamples, kSentinel);
    GsmDecoderStart(true);
    for (size_t i = 0; i < frames.size() / kGsmFrameBytes; ++i) {
        GsmDecodeFrame(&frames[i * kGsmFrameBytes], &samples[i * kGsmFrameSamples]);
    }
    GsmDecoderStop();
    return samples;
}

std::vector<int16_t> DecodeG729(const std::vector<uint8_t>& frames) {
    std::vector<int16_t> samples(frames.size() / kG729FrameBytes * kG729FrameSamples, kSentinel);
    G729DecoderStart();
    for (size_t i = 0; i < frames.size() / kG729FrameBytes; ++i) {
        G729DecodeFrame(&frames[i * kG729FrameBytes], &samples[i * kG729FrameSamples]);
    }
    G729DecoderStop();
    return samples;
}

bool Silent(const std::vector<int16_t>& samples) {
    return std::all_of(samples.begin(), samples.end(), [](int16_t s) { return s == 0; });
}

TEST(GsmDecodeFrame, RawFrameDecodesWhateverItsSignatureNibble) {
    const std::vector<uint8_t> frames = RawGsmFrames();
    ASSERT_GE(frames.size(), 50u * kGsmFrameBytes);
    const std::vector<int16_t> expected = DecodeRawGsm(frames);
    ASSERT_FALSE(Silent(expected));
    for (int nibble : {0x0, 0x1, 0x7, 0xC, 0xE, 0xF}) {
        SCOPED_TRACE(nibble);
        std::vector<uint8_t> changed = frames;
        for (size_t at = 0; at < changed.size(); at += kGsmFrameBytes) {
            changed[at] = static_cast<uint8_t>((nibble << 4) | (changed[at] & 0x0F));
        }
        EXPECT_EQ(DecodeRawGsm(changed), expected);
    }
}

TEST(GsmDecodeFrame, EachRunStartsFromAFreshState) {
    const std::vector<uint8_t> frames = RawGsmFrames();
    const std::vector<int16_t> first = DecodeRawGsm(frames);
    // A second start without a stop replaces the state rather than reusing it.
    GsmDecoderStart(true);
    std::array<int16_t, kGsmFrameSamples> scratch;
    GsmDecodeFrame(&frames[10 * kGsmFrameBytes], scratch.data());
    EXPECT_EQ(DecodeRawGsm(frames), first);
}

TEST(GsmDecodeFrame, Wav49SecondFrameIgnoresThe33rdByte) {
    std::vector<uint8_t> wave = ReadBytes(Fixture("gsm-wav49-8000.wav"));
    // sox writes a fact chunk: the data chunk's contents start at byte 60.
    ASSERT_GT(wave.size(), 60u + 65u * 4);
    ASSERT_EQ(std::string(wave.begin() + 52, wave.begin() + 56), "data");
    const uint8_t* blocks = &wave[60];
    auto decode = [&](uint8_t last_byte) {
        std::vector<int16_t> samples(8 * kGsmFrameSamples, kSentinel);
        GsmDecoderStart(false);
        for (int block = 0; block < 4; ++block) {
            uint8_t frame[kGsmFrameBytes];
            GsmDecodeFrame(blocks + 65 * block, &samples[(2 * block) * kGsmFrameSamples]);
            std::memcpy(frame, blocks + 65 * block + 33, 32);
            frame[32] = last_byte;
            GsmDecodeFrame(frame, &samples[(2 * block + 1) * kGsmFrameSamples]);
        }
        GsmDecoderStop();
        return samples;
    };
    const std::vector<int16_t> zero = decode(0x00);
    EXPECT_EQ(std::count(zero.begin(), zero.end(), kSentinel), 0);
    EXPECT_EQ(decode(0xFF), zero);
}

TEST(FrameDecoders, WriteSilenceWithoutAStartedDecoder) {
    GsmDecoderStop();
    G729DecoderStop();
    const std::vector<uint8_t> gsm_frame = RawGsmFrames();
    std::vector<int16_t> gsm(kGsmFrameSamples + 1, kSentinel);
    GsmDecodeFrame(gsm_frame.data(), gsm.data());
    EXPECT_EQ(gsm.back(), kSentinel);
    gsm.pop_back();
    EXPECT_TRUE(Silent(gsm));

    const uint8_t g729_frame[kG729FrameBytes] = {0x12, 0x34, 0x56, 0x78, 0x9A,
                                                 0xBC, 0xDE, 0xF0, 0x12, 0x34};
    std::vector<int16_t> g729(kG729FrameSamples + 1, kSentinel);
    G729DecodeFrame(g729_frame, g729.data());
    EXPECT_EQ(g729.back(), kSentinel);
    g729.pop_back();
    EXPECT_TRUE(Silent(g729));
}

TEST(G729DecodeFrame, EachRunStartsFromAFreshState) {
    const std::vector<uint8_t> frames = ReadBytes(Fixture("speech.g729"));
    ASSERT_GE(frames.size(), 100u * kG729FrameBytes);
    const std::vector<int16_t> first = DecodeG729(frames);
    EXPECT_EQ(std::count(first.begin(), first.end(), kSentinel), 0);
    EXPECT_FALSE(Silent(first));
    // A half-finished run left open must not leak its memories into the next.
    G729DecoderStart();
    std::array<int16_t, kG729FrameSamples> scratch;
    G729DecodeFrame(&frames[50 * kG729FrameBytes], scratch.data());
    EXPECT_EQ(DecodeG729(frames), first);
}

TEST(G729DecodeFrame, RestoresTheEncodedSpeech) {
    // speech.g729 is bcg729's encoding of the speech in pcm16-mono-8000.wav. A
    // codec round trip is far from sample-exact, but frames unpacked in the
    // wrong bit order give noise uncorrelated with the original.
    const std::vector<int16_t> decoded = DecodeG729(ReadBytes(Fixture("speech.g729")));
    std::vector<int16_t> original = test::ToSamples(ReadBytes(Fixture("pcm16-mono-8000.wav")));
    original.erase(original.begin(), original.begin() + 22);  // the 44-byte header
    const int lag = test::BestLag(original, decoded, 200);
    EXPECT_GT(test::SnrDb(original, decoded, lag), 2.0);  // measured 4.6 dB
}

}  // namespace
}  // namespace lyb::audio
