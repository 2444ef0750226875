#include "audio/decode/oki_adpcm.h"

#include <algorithm>
#include <array>

namespace lyb::audio {
namespace {

// Index 47 is 1408 in the OKI table (not 1411 as in the IMA table).
static constexpr int16_t oki_step_size[49] = {
    16,  17,  19,  21,  23,  25,  28,  31,  34,  37,  41,   45,   50,   55,   60,  66,  73,
    80,  88,  97,  107, 118, 130, 143, 157, 173, 190, 209,  230,  253,  279,  307, 337, 371,
    408, 449, 494, 544, 598, 658, 724, 796, 876, 963, 1060, 1166, 1282, 1408, 1552};

static constexpr int oki_index_adjust[8] = {-1, -1, -1, -1, 2, 4, 6, 8};

// The first half (h[0...40]) of the symmetric 6000 -> 8000 Hz interpolation filter.
static constexpr float oki_filter_half[41] = {
    -0.000364839f, 0.000506239f, 0.00120625f,  0.00180445f,  0.00169175f,  0.000408341f,
    -0.00193109f,  -0.00445211f, -0.00579482f, -0.00477849f, -0.00116127f, 0.0039285f,
    0.00825979f,   0.00950043f,  0.0065128f,   0.000222786f, -0.00653127f, -0.0102684f,
    -0.00871806f,  -0.00228049f, 0.00581773f,  0.0109678f,   0.0096344f,   0.0015693f,
    -0.00952263f,  -0.0174827f,  -0.0168441f,  -0.00610005f, 0.0107121f,   0.0252521f,
    0.0287178f,    0.0166441f,   -0.00770627f, -0.0333108f,  -0.0452125f,  -0.0308596f,
    0.0137365f,    0.0808959f,   0.152906f,    0.208049f,    0.228683f};

// h[0...80], h[80 - k] = h[k].
static constexpr auto oki_filter = [] {
    std::array<float, 81> h{};
    for (int k = 0; k <= 40; ++k)
        h[k] = h[80 - k] = oki_filter_half[k];
    return h;
}();

}  // namespace

std::optional<COkiDecoder> COkiDecoder::Create(uint64_t bit_rate) {
    if (bit_rate != 32000 && bit_rate != 24000)
        return std::nullopt;
    return COkiDecoder(static_cast<uint32_t>(bit_rate));
}

int16_t COkiDecoder::DecodeCode(int code) {
    const int step = oki_step_size[index_];
    int difference = step >> 3;
    if (code & 1)
        difference += step >> 2;
    if (code & 2)
        difference += step >> 1;
    if (code & 4)
        difference += step;
    if (code & 8)
        difference = -difference;
    signal_ = std::clamp(signal_ + difference, -2048, 2047);
    index_ = std::clamp(index_ + oki_index_adjust[code & 7], 0, 48);
    return static_cast<int16_t>(signal_ * 16);
}

size_t COkiDecoder::Decode(const uint8_t* bytes, size_t count, int16_t* samples) {
    if (count == 0)
        return 0;
    if (bit_rate_ == 32000) {
        for (size_t i = 0; i < count; ++i) {
            samples[2 * i] = DecodeCode(bytes[i] >> 4);
            samples[2 * i + 1] = DecodeCode(bytes[i] & 0x0F);
        }
        return 2 * count;
    }

    // 24000 bit/s: for each output sample, phases 1 to 3 first take in one
    // code; the output is the filter's phase applied to the newest codes.
    const size_t codes = 2 * count;
    size_t next = 0;
    size_t produced = 0;
    for (;;) {
        if (phase_ != 0) {
            const uint8_t byte = bytes[next / 2];
            const int code = (next % 2 == 0) ? (byte >> 4) : (byte & 0x0F);
            ++next;
            history_[write_] = DecodeCode(code);
            write_ = (write_ + 1) % 32;
        }
        const unsigned taps = (phase_ + 81) / 4;
        float sum = 0.0f;
        for (unsigned t = 0; t < taps; ++t) {
            const float product = static_cast<float>(history_[(write_ + 31 - t) % 32]) *
                                  oki_filter[phase_ + 77 - 4 * t];
            sum += product;
        }
        // The filter's gain slightly exceeds 1 near full scale (a saturated
        // signal gives 32780), so the result is limited rather than wrapped.
        const auto value = static_cast<int32_t>(static_cast<double>(sum) * 4.0);
        samples[produced++] = static_cast<int16_t>(std::clamp(value, -32768, 32767));
        phase_ = (phase_ + 1) % 4;
        if (next == codes)
            break;
    }
    return produced;
}

}  // namespace lyb::audio
