#include "audio/decode/g711.h"

#include <array>

namespace lyb::audio {
namespace {

// ITU-T G.711 A-law expansion: even bits inverted, 3-bit segment, 4-bit step.
constexpr int16_t ExpandALawCode(uint8_t code) {
    const int x = code ^ 0x55;
    const int segment = (x >> 4) & 7;
    int t = (x & 0x0F) << 4;
    if (segment == 0) {
        t += 8;
    } else {
        t += 0x108;
        if (segment > 1)
            t <<= segment - 1;
    }
    return static_cast<int16_t>((x & 0x80) ? t : -t);
}

// ITU-T G.711 mu-law expansion: complemented code, bias 132.
constexpr int16_t ExpandMuLawCode(uint8_t code) {
    const int u = static_cast<uint8_t>(~code);
    const int t = (((u & 0x0F) << 3) + 132) << ((u >> 4) & 7);
    return static_cast<int16_t>((u & 0x80) ? 132 - t : t - 132);
}

template <int16_t (*Expand)(uint8_t)>
constexpr std::array<int16_t, 256> MakeTable() {
    std::array<int16_t, 256> table{};
    for (int i = 0; i < 256; ++i)
        table[i] = Expand(static_cast<uint8_t>(i));
    return table;
}

static constexpr std::array<int16_t, 256> alaw_to_linear = MakeTable<ExpandALawCode>();
static constexpr std::array<int16_t, 256> mulaw_to_linear = MakeTable<ExpandMuLawCode>();

}  // namespace

int16_t ALawToLinear(uint8_t code) {
    return alaw_to_linear[code];
}
int16_t MuLawToLinear(uint8_t code) {
    return mulaw_to_linear[code];
}

void ExpandALaw(const uint8_t* bytes, size_t count, int16_t* samples) {
    for (size_t i = 0; i < count; ++i)
        samples[i] = alaw_to_linear[bytes[i]];
}

void ExpandMuLaw(const uint8_t* bytes, size_t count, int16_t* samples) {
    for (size_t i = 0; i < count; ++i)
        samples[i] = mulaw_to_linear[bytes[i]];
}

}  // namespace lyb::audio
