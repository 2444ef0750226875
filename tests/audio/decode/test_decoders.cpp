// The sample decoders on hand-worked inputs. Output buffers are larger than
// needed and filled with a sentinel, so a write past the expected samples shows.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "audio/decode/g711.h"
#include "audio/decode/ima_adpcm.h"
#include "audio/decode/ms_adpcm.h"
#include "audio/decode/oki_adpcm.h"

using namespace lyb::audio;

namespace {

constexpr int16_t kSentinel = 32749;

// A buffer of n samples followed by guard samples, all set to the sentinel.
struct Guarded {
    explicit Guarded(size_t n) : size(n), data(n + 16, kSentinel) {}
    int16_t* get() { return data.data(); }
    std::vector<int16_t> samples() const { return {data.begin(), data.begin() + size}; }
    bool guardIntact() const {
        for (size_t i = size; i < data.size(); ++i) {
            if (data[i] != kSentinel)
                return false;
        }
        return true;
    }
    size_t size;
    std::vector<int16_t> data;
};

}  // namespace

TEST(G711, ExpandsKnownCodes) {
    struct Case {
        uint8_t code;
        int16_t alaw;
        int16_t mulaw;
    };
    const Case cases[] = {
        {0xD5, 8, 716},      {0x55, -8, -716},      {0xFF, 848, 0},      {0x00, -5504, -32124},
        {0xAA, 32256, 5372}, {0x2A, -32256, -5372}, {0x80, 5504, 32124}, {0x7F, -848, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ALawToLinear(c.code), c.alaw) << "a-law code " << int(c.code);
        EXPECT_EQ(MuLawToLinear(c.code), c.mulaw) << "mu-law code " << int(c.code);
    }

    const uint8_t bytes[] = {0xD5, 0x55, 0xAA};
    Guarded out(3);
    ExpandALaw(bytes, 3, out.get());
    EXPECT_EQ(out.samples(), (std::vector<int16_t>{8, -8, 32256}));
    EXPECT_TRUE(out.guardIntact());
    Guarded mu(3);
    ExpandMuLaw(bytes, 3, mu.get());
    EXPECT_EQ(mu.samples(), (std::vector<int16_t>{716, -716, 5372}));
    EXPECT_TRUE(mu.guardIntact());
}

TEST(ImaAdpcm, BlockSampleCountsAtTheBoundaries) {
    struct Case {
        uint32_t channels;
        size_t bytes;
        uint32_t samples;
    };
    const Case cases[] = {
        {1, 256, 505}, {2, 512, 505}, {1, 3, 0},  {1, 4, 1},  {1, 7, 1},   {1, 8, 9},
        {2, 7, 0},     {2, 8, 1},     {2, 15, 1}, {2, 16, 9}, {0, 256, 0}, {1, 0, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ImaBlockSampleCount(c.channels, c.bytes), c.samples)
            << c.channels << " channels, " << c.bytes << " bytes";
    }
}

TEST(ImaAdpcm, DecodesFromA0x8000HeaderAndLimitsTheSample) {
    // Header sample 0x8000 = -32768, step index 0; codes 7, 0, F, 0, 0, 0, 0, 0.
    const uint8_t block[] = {0x00, 0x80, 0x00, 0x00, 0x07, 0x0F, 0x00, 0x00};
    Guarded out(9);
    EXPECT_EQ(DecodeImaBlock(1, block, sizeof block, out.get(), 9), 9u);
    EXPECT_EQ(out.samples(), (std::vector<int16_t>{-32768, -32757, -32755, -32768, -32765, -32762,
                                                   -32759, -32757, -32755}));
    EXPECT_TRUE(out.guardIntact());
}

TEST(ImaAdpcm, InterleavesChannelsAndResetsAnOutOfRangeStepIndex) {
    // Channel 0: sample 100, all codes 0. Channel 1: sample -100, step index 200
    // (taken as 0), first code 7.
    const uint8_t block[] = {100, 0, 0, 0, 0x9C, 0xFF, 200, 0, 0, 0, 0, 0, 0x07, 0, 0, 0};
    Guarded out(18);
    EXPECT_EQ(DecodeImaBlock(2, block, sizeof block, out.get(), 9), 9u);
    const std::vector<int16_t> s = out.samples();
    EXPECT_EQ(s[0], 100);
    EXPECT_EQ(s[1], -100);
    EXPECT_EQ(s[2], 100);  // step 7 >> 3 = 0
    EXPECT_EQ(s[3], -89);  // 0 + 7 + 3 + 1
    EXPECT_TRUE(out.guardIntact());
}

TEST(ImaAdpcm, NeverReadsPastAShortBlock) {
    // Asking for more samples than the bytes hold decodes only what is there.
    const uint8_t block[] = {1, 0, 0, 0, 0, 0};
    Guarded out(1);
    EXPECT_EQ(DecodeImaBlock(1, block, sizeof block, out.get(), 505), 1u);
    EXPECT_EQ(out.samples(), std::vector<int16_t>{1});
    EXPECT_TRUE(out.guardIntact());
    Guarded none(0);
    EXPECT_EQ(DecodeImaBlock(1, block, 3, none.get(), 505), 0u);
    EXPECT_TRUE(none.guardIntact());
}

TEST(MsAdpcm, BlockSampleCountsAtTheBoundaries) {
    struct Case {
        uint32_t channels;
        size_t bytes;
        uint32_t samples;
    };
    const Case cases[] = {
        {1, 256, 500}, {2, 512, 500}, {1, 6, 0},  {1, 7, 2},   {1, 8, 4},
        {2, 13, 0},    {2, 14, 2},    {2, 15, 3}, {0, 256, 0}, {3, 22, 2},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(MsAdpcmBlockSampleCount(c.channels, c.bytes), c.samples)
            << c.channels << " channels, " << c.bytes << " bytes";
    }
}

TEST(MsAdpcm, PredictorBeyondTheTableUsesPairZeroWithAWarning) {
    // Predictor 9, delta 16, sample-1 100, sample-2 50; codes 1, 2, 8, F.
    const uint8_t block[] = {9, 16, 0, 100, 0, 50, 0, 0x12, 0x8F};
    const auto& pairs = MsAdpcmDefaultCoefficients();
    Guarded out(6);
    uint32_t produced = 0;
    const char* warning =
        DecodeMsAdpcmBlock(1, pairs.size(), pairs.data(), block, sizeof block, out.get(),
                           MsAdpcmBlockSampleCount(1, sizeof block), &produced);
    EXPECT_EQ(produced, 6u);
    ASSERT_NE(warning, nullptr);
    EXPECT_STREQ(warning, "MSADPCM bpred >= nCoef, arbitrarily using 0\n");
    // Pair (256, 0) repeats the newest sample; delta stays 16 after codes 1
    // and 2, grows to 48 after code 8.
    EXPECT_EQ(out.samples(), (std::vector<int16_t>{50, 100, 116, 148, 20, -28}));
    EXPECT_TRUE(out.guardIntact());
}

TEST(MsAdpcm, UsesTheSelectedPairAndLimitsSamples) {
    // Pair 1 (512, -256): prediction 2 * 100 - 50 = 150, code 1 adds delta 16.
    const uint8_t block[] = {1, 16, 0, 100, 0, 50, 0, 0x10};
    const auto& pairs = MsAdpcmDefaultCoefficients();
    Guarded out(4);
    EXPECT_EQ(DecodeMsAdpcmBlock(1, pairs.size(), pairs.data(), block, sizeof block, out.get(), 4),
              nullptr);
    EXPECT_EQ(out.samples(), (std::vector<int16_t>{50, 100, 166, 232}));
    EXPECT_TRUE(out.guardIntact());

    // Full-scale history with the most negative coefficients stays in range.
    const uint8_t extreme[] = {0, 0xFF, 0x7F, 0x00, 0x80, 0x00, 0x80, 0x77};
    const MsAdpcmCoefficient big[] = {{-32768, -32768}};
    Guarded clipped(4);
    DecodeMsAdpcmBlock(1, 1, big, extreme, sizeof extreme, clipped.get(), 4);
    EXPECT_EQ(clipped.samples()[2], 32767);
    EXPECT_TRUE(clipped.guardIntact());
}

TEST(MsAdpcm, StereoCodesAlternateChannels) {
    // Two channels, pair 0 each, delta 16, sample-1 (10, -10), sample-2 (0, 0);
    // one byte: code 1 for channel 0, code F (-1) for channel 1.
    const uint8_t block[] = {0, 0, 16, 0, 16, 0, 10, 0, 0xF6, 0xFF, 0, 0, 0, 0, 0x1F};
    const auto& pairs = MsAdpcmDefaultCoefficients();
    Guarded out(6);
    DecodeMsAdpcmBlock(2, pairs.size(), pairs.data(), block, sizeof block, out.get(), 3);
    EXPECT_EQ(out.samples(), (std::vector<int16_t>{0, 0, 10, -10, 26, -26}));
    EXPECT_TRUE(out.guardIntact());
}

TEST(MsAdpcm, CoefficientsComeOnlyFromPairsTheExtensionHolds) {
    // cbSize, samples per block, count 7, but only two pairs present.
    const std::vector<uint8_t> shortExt = {8, 0, 0xF4, 0x01, 7, 0, 0, 1, 0, 0, 0, 2, 0, 0xFF};
    const auto pairs = MsAdpcmCoefficientsFromExtension(shortExt);
    ASSERT_EQ(pairs.size(), 2u);
    EXPECT_EQ(pairs[0].c0, 256);
    EXPECT_EQ(pairs[1].c0, 512);
    EXPECT_EQ(pairs[1].c1, -256);

    // Without usable pairs the seven standard pairs apply.
    const std::vector<std::vector<uint8_t>> none = {
        {}, {2, 0, 0xF4, 0x01}, {4, 0, 0xF4, 0x01, 0, 0}, {8, 0, 0, 0, 0xFF, 0xFF, 0, 1, 0, 0}};
    for (const auto& extension : none) {
        EXPECT_EQ(MsAdpcmCoefficientsFromExtension(extension).size(), 7u);
    }

    // A declared count below the pairs present limits the table.
    const std::vector<uint8_t> oneOfTwo = {8, 0, 0, 0, 1, 0, 0, 1, 0, 0, 0, 2, 0, 0xFF};
    EXPECT_EQ(MsAdpcmCoefficientsFromExtension(oneOfTwo).size(), 1u);
}

TEST(OkiAdpcm, AcceptsOnlyTheTwoBitRates) {
    EXPECT_TRUE(COkiDecoder::Create(32000));
    EXPECT_TRUE(COkiDecoder::Create(24000));
    for (uint64_t rate : {0ull, 44100ull, 16000ull, 32000ull + (1ull << 32), 64000ull}) {
        EXPECT_FALSE(COkiDecoder::Create(rate)) << rate;
    }
}

TEST(OkiAdpcm, DecodesHandWorkedCodesAt32000) {
    auto oki = COkiDecoder::Create(32000);
    // Codes 0, 7, 8, 0 from the initial state.
    const uint8_t bytes[] = {0x07, 0x80};
    Guarded out(4);
    EXPECT_EQ(oki->Decode(bytes, 2, out.get()), 4u);
    EXPECT_EQ(out.samples(), (std::vector<int16_t>{32, 512, 448, 496}));
    EXPECT_TRUE(out.guardIntact());
}

TEST(OkiAdpcm, SaturatesAndUsesStep1408AtIndex47) {
    auto oki = COkiDecoder::Create(32000);
    // Six codes 7 saturate the signal at 2047 with step index 48; code 0
    // drops the index to 47, whose step 1408 gives code F a difference of 2640.
    const uint8_t bytes[] = {0x77, 0x77, 0x77, 0x0F};
    Guarded out(8);
    EXPECT_EQ(oki->Decode(bytes, 4, out.get()), 8u);
    const auto s = out.samples();
    EXPECT_EQ(s[5], 32752);
    EXPECT_EQ(s[6], 32752);
    EXPECT_EQ(s[7], -593 * 16);
    EXPECT_TRUE(out.guardIntact());
}

TEST(OkiAdpcm, ResamplesFourSamplesForEveryThreeCodesAt24000) {
    auto oki = COkiDecoder::Create(24000);
    const uint8_t bytes[] = {0x70, 0x00, 0x00};
    Guarded out(8);
    EXPECT_EQ(oki->Decode(bytes, 3, out.get()), 8u);
    const auto s = out.samples();
    EXPECT_EQ(s[0], 0);  // nothing decoded yet
    EXPECT_EQ(s[1], 2);  // 480 x h[78] x 4 = 2.3
    EXPECT_TRUE(out.guardIntact());

    // The state carries over between calls: one byte at a time gives the same
    // count as the bytes together.
    auto split = COkiDecoder::Create(24000);
    auto whole = COkiDecoder::Create(24000);
    const uint8_t two[] = {0x12, 0x34};
    int16_t a[16], b[16];
    const size_t n = split->Decode(two, 1, a) + split->Decode(two + 1, 1, a + 8);
    EXPECT_EQ(n, whole->Decode(two, 2, b));
    EXPECT_EQ(n, 6u);
}

// Small calls go sample by sample and long ones four phases at a time; both
// give the same samples, wherever the calls split the stream.
TEST(OkiAdpcm, SamplesAt24000DoNotDependOnHowTheStreamIsSplit) {
    std::vector<uint8_t> bytes(6000);
    uint32_t seed = 12345;
    for (uint8_t& b : bytes) {
        seed = seed * 1103515245u + 12345u;
        b = static_cast<uint8_t>(seed >> 16);
    }
    auto whole = COkiDecoder::Create(24000);
    std::vector<int16_t> expected(COkiDecoder::MaxSamples(bytes.size()));
    expected.resize(whole->Decode(bytes.data(), bytes.size(), expected.data()));
    ASSERT_EQ(expected.size(), bytes.size() * 8 / 3);
    for (size_t largest : {1u, 2u, 5u, 64u}) {
        SCOPED_TRACE(largest);
        auto split = COkiDecoder::Create(24000);
        std::vector<int16_t> got;
        for (size_t at = 0, piece = 1; at < bytes.size(); at += piece) {
            piece = std::min(bytes.size() - at, 1 + (at * 7) % largest);
            std::vector<int16_t> out(COkiDecoder::MaxSamples(piece));
            out.resize(split->Decode(bytes.data() + at, piece, out.data()));
            got.insert(got.end(), out.begin(), out.end());
        }
        EXPECT_EQ(got, expected);
    }
}

TEST(OkiAdpcm, FullScaleInputAt24000IsLimitedNotWrapped) {
    // A saturated signal through the filter's phases gives about 32780 for
    // phases 0 to 2 (limited to 32767) and 32657 for phase 3.
    auto oki = COkiDecoder::Create(24000);
    const std::vector<uint8_t> bytes(30, 0x77);
    Guarded out(80);
    EXPECT_EQ(oki->Decode(bytes.data(), bytes.size(), out.get()), 80u);
    const auto s = out.samples();
    EXPECT_EQ(s[76], 32767);
    EXPECT_EQ(s[77], 32767);
    EXPECT_EQ(s[78], 32767);
    EXPECT_NEAR(s[79], 32657, 1);
    EXPECT_TRUE(out.guardIntact());
}
