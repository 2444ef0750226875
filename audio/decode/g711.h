// G.711 expansion (ITU-T G.711, A-law and mu-law) to 16-bit linear samples.
// Every byte is a valid code, so there is no bad input.
#pragma once

#include <cstddef>
#include <cstdint>

namespace lyb::audio {

// Expands count codes into count samples; samples must hold count values.
void ExpandALaw(const uint8_t* bytes, size_t count, int16_t* samples);
void ExpandMuLaw(const uint8_t* bytes, size_t count, int16_t* samples);

int16_t ALawToLinear(uint8_t code);
int16_t MuLawToLinear(uint8_t code);

}  // namespace lyb::audio
