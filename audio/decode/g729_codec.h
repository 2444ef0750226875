// G.729 Annex A frame decoding over bcg729.
//
// One decoder channel per process, opened fresh by G729DecoderStart (decoder,
// post-filter and post-processing memories at their initial state, synthesis
// history zeroed) and closed by G729DecoderStop; one run at a time.
//
// Frames are 10 bytes: the 80 bits of the 11 parameters of ITU-T G.729 in
// transmission order, most significant bit of each byte first. bcg729 does the
// parameter unpacking, the pitch-delay parity check, the frame decoding, the
// post-filter and the post-processing. Every frame is a good frame: the bit
// words built from whole bytes can never mark an erasure. A call without a
// started decoder yields 80 samples of silence.
#pragma once

#include <cstdint>

namespace lyb::audio {

constexpr int kG729FrameBytes = 10;
constexpr int kG729FrameSamples = 80;

// Opens a fresh decoder channel; one left from an earlier run is closed first.
void G729DecoderStart();
// Decodes one 10-byte frame into 80 samples (8000 Hz, 16-bit).
void G729DecodeFrame(const uint8_t frame[kG729FrameBytes], int16_t samples[kG729FrameSamples]);
// Closes the channel; harmless when none is open.
void G729DecoderStop();

}  // namespace lyb::audio
