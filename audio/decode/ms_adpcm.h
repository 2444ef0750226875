// Microsoft ADPCM blocks (wave format tag 2): a header of predictor indexes,
// initial deltas and two history samples per channel, then 4-bit codes, high
// nibble first, the channel advancing with every code.
//
// Bad input: a predictor index beyond the coefficient table selects pair 0
// (and the decode returns a warning text); a block too short for its headers
// gives no samples; the decoder never reads past the bytes it is given. The
// coefficient table comes from the fmt extension: only the pairs the extension
// actually holds are used (at most its declared count), and when it holds none
// (no extension, a count of 0 or less, or fewer than 6 + 4 bytes) the seven
// standard pairs are used.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace lyb::audio {

struct MsAdpcmCoefficient {
    int16_t c0;
    int16_t c1;
};

// The seven standard pairs used when the fmt chunk brings none.
const std::vector<MsAdpcmCoefficient>& MsAdpcmDefaultCoefficients();

// Returns the coefficient pairs of an fmt extension (cbSize at 0, samples per
// block at 2, pair count at 4, pairs from 6), limited to the pairs present;
// the default pairs when it holds none.
std::vector<MsAdpcmCoefficient> MsAdpcmCoefficientsFromExtension(
    const std::vector<uint8_t>& extension);

// Returns the samples per channel in a block of block_bytes: 0 when it cannot
// hold the channel headers (or channels is 0), else 2 + 2 * (B - 7 * ch) / ch.
uint32_t MsAdpcmBlockSampleCount(uint32_t channels, size_t block_bytes);

// Decodes one block into samples, interleaved by channel. n is the samples
// per channel to produce, limited to MsAdpcmBlockSampleCount(channels,
// block_bytes); samples must hold channels * n. With no pairs the default
// pairs are used. Returns a warning text when a predictor index was out of
// range, else nullptr; *produced (when not null) gets the samples per channel.
const char* DecodeMsAdpcmBlock(uint32_t channels, size_t coefficient_count,
                               const MsAdpcmCoefficient* pairs, const uint8_t* block,
                               size_t block_bytes, int16_t* samples, uint32_t n,
                               uint32_t* produced = nullptr);

}  // namespace lyb::audio
