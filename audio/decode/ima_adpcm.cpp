#include "audio/decode/ima_adpcm.h"

#include <algorithm>
#include <array>

namespace lyb::audio {
namespace {

static constexpr int16_t ima_step_size[89] = {
    7,     8,     9,     10,    11,    12,    13,    14,    16,    17,    19,   21,    23,
    25,    28,    31,    34,    37,    41,    45,    50,    55,    60,    66,   73,    80,
    88,    97,    107,   118,   130,   143,   157,   173,   190,   209,   230,  253,   279,
    307,   337,   371,   408,   449,   494,   544,   598,   658,   724,   796,  876,   963,
    1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,  2272,  2499,  2749, 3024,  3327,
    3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845,  8630,  9493, 10442, 11487,
    12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};

static constexpr int ima_index_adjust[8] = {-1, -1, -1, -1, 2, 4, 6, 8};

// ima_next_index[i][k]: the step index after index i and a code whose low three bits are k.
static constexpr auto ima_next_index = [] {
    std::array<std::array<uint8_t, 8>, 89> table{};
    for (int i = 0; i < 89; ++i) {
        for (int k = 0; k < 8; ++k) {
            table[i][k] = static_cast<uint8_t>(std::clamp(i + ima_index_adjust[k], 0, 88));
        }
    }
    return table;
}();

}  // namespace

uint32_t ImaBlockSampleCount(uint32_t channels, size_t block_bytes) {
    if (channels == 0)
        return 0;
    const uint64_t header = 4ull * channels;
    if (block_bytes < header)
        return 0;
    return static_cast<uint32_t>((block_bytes - header) / header * 8 + 1);
}

uint32_t DecodeImaBlock(uint32_t channels, const uint8_t* block, size_t block_bytes,
                        int16_t* samples, uint32_t n) {
    n = std::min(n, ImaBlockSampleCount(channels, block_bytes));
    if (n == 0)
        return 0;
    const size_t group_stride = 4ull * channels;  // one 4-byte group per channel
    for (uint32_t j = 0; j < channels; ++j) {
        const uint8_t* head = block + 4ull * j;
        int sample = static_cast<int16_t>(head[0] | (head[1] << 8));
        int index = head[2] > 88 ? 0 : head[2];
        samples[j] = static_cast<int16_t>(sample);

        const uint8_t* codes = block + group_stride + 4ull * j;
        for (uint32_t i = 1; i < n; ++i) {
            const uint32_t k = i - 1;  // code number within the channel
            const uint8_t byte = codes[(k / 8) * group_stride + (k % 8) / 2];
            const int code = (k % 2 == 0) ? (byte & 0x0F) : (byte >> 4);

            const int step = ima_step_size[index];
            index = ima_next_index[index][code & 7];
            int difference = step >> 3;
            if (code & 4)
                difference += step;
            if (code & 2)
                difference += step >> 1;
            if (code & 1)
                difference += step >> 2;
            sample =
                std::clamp((code & 8) ? sample - difference : sample + difference, -32768, 32767);
            samples[j + static_cast<size_t>(channels) * i] = static_cast<int16_t>(sample);
        }
    }
    return n;
}

}  // namespace lyb::audio
