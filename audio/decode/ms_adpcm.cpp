#include "audio/decode/ms_adpcm.h"

#include <algorithm>

namespace lyb::audio {
namespace {

static constexpr int ms_adpcm_adaptation[16] = {230, 230, 230, 230, 307, 409, 512, 614,
                                                768, 614, 512, 409, 307, 230, 230, 230};

static constexpr MsAdpcmCoefficient ms_adpcm_default_coefficients[7] = {
    {256, 0}, {512, -256}, {0, 0}, {192, 64}, {240, 0}, {460, -208}, {392, -232}};

int16_t Le16(const uint8_t* p) {
    return static_cast<int16_t>(p[0] | (p[1] << 8));
}

}  // namespace

const std::vector<MsAdpcmCoefficient>& MsAdpcmDefaultCoefficients() {
    static const std::vector<MsAdpcmCoefficient> pairs(std::begin(ms_adpcm_default_coefficients),
                                                       std::end(ms_adpcm_default_coefficients));
    return pairs;
}

std::vector<MsAdpcmCoefficient> MsAdpcmCoefficientsFromExtension(
    const std::vector<uint8_t>& extension) {
    if (extension.size() < 6)
        return MsAdpcmDefaultCoefficients();
    const int declared = Le16(extension.data() + 4);
    const size_t present = (extension.size() - 6) / 4;
    const size_t count = std::min<size_t>(declared > 0 ? declared : 0, present);
    if (count == 0)
        return MsAdpcmDefaultCoefficients();
    std::vector<MsAdpcmCoefficient> pairs(count);
    for (size_t i = 0; i < count; ++i) {
        pairs[i] = {Le16(extension.data() + 6 + 4 * i), Le16(extension.data() + 8 + 4 * i)};
    }
    return pairs;
}

uint32_t MsAdpcmBlockSampleCount(uint32_t channels, size_t block_bytes) {
    if (channels == 0)
        return 0;
    const uint64_t header = 7ull * channels;
    if (block_bytes < header)
        return 0;
    return static_cast<uint32_t>(2 * (block_bytes - header) / channels + 2);
}

const char* DecodeMsAdpcmBlock(uint32_t channels, size_t coefficient_count,
                               const MsAdpcmCoefficient* pairs, const uint8_t* block,
                               size_t block_bytes, int16_t* samples, uint32_t n,
                               uint32_t* produced) {
    n = std::min(n, MsAdpcmBlockSampleCount(channels, block_bytes));
    if (produced)
        *produced = n;
    if (n == 0)
        return nullptr;
    if (pairs == nullptr || coefficient_count == 0) {
        pairs = ms_adpcm_default_coefficients;
        coefficient_count = 7;
    }

    const char* warning = nullptr;
    // Per-channel state lives in the output itself: the two newest samples.
    std::vector<MsAdpcmCoefficient> coefficient(channels);
    std::vector<int> delta(channels);
    for (uint32_t j = 0; j < channels; ++j) {
        size_t predictor = block[j];
        if (predictor >= coefficient_count) {
            predictor = 0;
            warning = "MSADPCM bpred >= nCoef, arbitrarily using 0\n";
        }
        coefficient[j] = pairs[predictor];
        delta[j] = Le16(block + channels + 2ull * j);
        samples[j] = Le16(block + 5ull * channels + 2ull * j);  // sample 2 comes first
        if (n > 1)
            samples[channels + j] = Le16(block + 3ull * channels + 2ull * j);
    }
    if (n <= 2)
        return warning;

    const uint8_t* codes = block + 7ull * channels;
    const size_t total = static_cast<size_t>(n - 2) * channels;
    int16_t* out = samples + 2ull * channels;
    for (size_t c = 0; c < total; ++c) {
        const uint32_t j = static_cast<uint32_t>(c % channels);
        const uint8_t byte = codes[c / 2];
        const int code = (c % 2 == 0) ? (byte >> 4) : (byte & 0x0F);
        const int s1 = out[static_cast<ptrdiff_t>(c) - channels];
        const int s2 = out[static_cast<ptrdiff_t>(c) - 2 * static_cast<ptrdiff_t>(channels)];
        // 64-bit: two products of -32768 squared overflow 32 bits.
        const int prediction = static_cast<int>(
            (int64_t{s1} * coefficient[j].c0 + int64_t{s2} * coefficient[j].c1) >> 8);
        const int signed_code = code >= 8 ? code - 16 : code;
        out[c] =
            static_cast<int16_t>(std::clamp(prediction + signed_code * delta[j], -32768, 32767));
        const int next = static_cast<int16_t>((ms_adpcm_adaptation[code] * delta[j]) >> 8);
        delta[j] = std::max(next, 16);
    }
    return warning;
}

}  // namespace lyb::audio
