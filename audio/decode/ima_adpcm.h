// IMA ADPCM blocks (the 4-bit layout of wave format tag 17): one 4-byte
// header per channel, then interleaved groups of 4 bytes (8 codes) per channel.
//
// Bad input: a step index above 88 in a block header becomes 0; a block too
// short for its headers gives no samples; the decoder never reads past the
// bytes it is given, whatever sample count it is asked for.
#pragma once

#include <cstddef>
#include <cstdint>

namespace lyb::audio {

// Returns the samples per channel in a block of block_bytes: 0 when it cannot
// hold the channel headers (or channels is 0), else one header sample plus 8
// per whole group of 4 bytes per channel.
uint32_t ImaBlockSampleCount(uint32_t channels, size_t block_bytes);

// Decodes one block into samples, interleaved by channel (sample i of channel
// j at j + channels * i). n is the samples per channel to produce, limited to
// ImaBlockSampleCount(channels, block_bytes); samples must hold channels * n.
// Returns the samples per channel produced.
uint32_t DecodeImaBlock(uint32_t channels, const uint8_t* block, size_t block_bytes,
                        int16_t* samples, uint32_t n);

}  // namespace lyb::audio
