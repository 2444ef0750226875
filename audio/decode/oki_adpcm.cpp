#include "audio/decode/oki_adpcm.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <type_traits>

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

// The filter's taps by phase: output phase p takes h[p + 77 - 4t] times the
// code t places before the newest. Phases 0 to 2 have 20 taps, phase 3 has
// 21; the missing 21st is 0, which leaves their sums as they are.
constexpr unsigned kTaps = 21;

// Four single-precision lanes, each computed as its own float would be.
typedef float Float4 __attribute__((vector_size(16)));
static constexpr auto oki_phase_taps = [] {
    std::array<std::array<float, 4>, kTaps> taps{};
    for (unsigned t = 0; t < kTaps; ++t) {
        for (unsigned p = 0; p < 4; ++p)
            taps[t][p] = p + 77 >= 4 * t ? oki_filter[p + 77 - 4 * t] : 0.0f;
    }
    return taps;
}();

// Each code's signed difference at each step index, and the index after it.
static constexpr auto oki_difference = [] {
    std::array<std::array<int16_t, 16>, 49> d{};
    for (int index = 0; index < 49; ++index) {
        const int step = oki_step_size[index];
        for (int code = 0; code < 16; ++code) {
            int difference = step >> 3;
            if (code & 1)
                difference += step >> 2;
            if (code & 2)
                difference += step >> 1;
            if (code & 4)
                difference += step;
            d[index][code] = static_cast<int16_t>(code & 8 ? -difference : difference);
        }
    }
    return d;
}();

static constexpr auto oki_next_index = [] {
    std::array<std::array<uint8_t, 8>, 49> n{};
    for (int index = 0; index < 49; ++index) {
        for (int code = 0; code < 8; ++code)
            n[index][code] =
                static_cast<uint8_t>(std::clamp(index + oki_index_adjust[code], 0, 48));
    }
    return n;
}();

}  // namespace

std::optional<COkiDecoder> COkiDecoder::Create(uint64_t bit_rate) {
    if (bit_rate != 32000 && bit_rate != 24000)
        return std::nullopt;
    return COkiDecoder(static_cast<uint32_t>(bit_rate));
}

int16_t COkiDecoder::DecodeCode(int code) {
    signal_ = std::clamp(signal_ + oki_difference[index_][code], -2048, 2047);
    index_ = oki_next_index[index_][code & 7];
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

    // 24000 bit/s. The codes of this call go after the last kHistory samples
    // of the previous ones, as floats (exact for 16-bit values).
    const size_t codes = 2 * count;
    window_.resize(kHistory + codes);
    std::copy(std::begin(history_), std::end(history_), window_.begin());
    float* w = window_.data();
    for (size_t i = 0; i < count; ++i) {
        w[kHistory + 2 * i] = DecodeCode(bytes[i] >> 4);
        w[kHistory + 2 * i + 1] = DecodeCode(bytes[i] & 0x0F);
    }

    // For each output sample, phases 1 to 3 first take in one code; the
    // output is the filter's phase applied to the newest codes, summed from
    // the newest code on.
    size_t newest = kHistory - 1;  // index in w of the newest code taken in
    size_t next = 0;               // codes taken in
    size_t produced = 0;
    auto put = [&](float sum) {
        // The filter's gain slightly exceeds 1 near full scale (a saturated
        // signal gives 32780), so the result is limited rather than wrapped.
        const auto value = static_cast<int32_t>(static_cast<double>(sum) * 4.0);
        samples[produced++] = static_cast<int16_t>(std::clamp(value, -32768, 32767));
    };
    // One output; true when it took in the call's last code.
    auto one = [&] {
        if (phase_ != 0) {
            ++newest;
            ++next;
        }
        float sum = 0.0f;
        for (unsigned t = 0; t < kTaps; ++t)
            sum += w[newest - t] * oki_phase_taps[t][phase_];
        put(sum);
        phase_ = (phase_ + 1) % 4;
        return next == codes;
    };
    bool done = false;
    while (phase_ != 0 && !done)
        done = one();
    // Whole rounds of phases 0 to 3 take in three codes and read four
    // consecutive windows, so their four sums (each in its own order) go
    // side by side, two rounds at a time.
    auto rounds = [&](auto count) {
        constexpr unsigned n = decltype(count)::value;
        Float4 sum[n] = {};
        for (unsigned t = 0; t < kTaps; ++t) {
            Float4 h;
            std::memcpy(&h, oki_phase_taps[t].data(), sizeof h);
            for (unsigned r = 0; r < n; ++r) {
                Float4 x;  // phase j's code t back is x[j]
                std::memcpy(&x, w + newest + 3 * r - t, sizeof x);
                sum[r] += x * h;
            }
        }
        for (unsigned r = 0; r < n; ++r) {
            for (unsigned j = 0; j < 4; ++j)
                put(sum[r][j]);
        }
        newest += 3 * n;
        next += 3 * n;
        done = next == codes;
    };
    while (!done && next + 6 <= codes)
        rounds(std::integral_constant<unsigned, 2>());
    if (!done && next + 3 <= codes)
        rounds(std::integral_constant<unsigned, 1>());
    while (!done)
        done = one();
    std::copy(w + newest + 1 - kHistory, w + newest + 1, std::begin(history_));
    return produced;
}

}  // namespace lyb::audio
