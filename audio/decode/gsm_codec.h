// GSM 06.10 full-rate frame decoding over libgsm.
//
// One decoder state per process, living from GsmDecoderStart to GsmDecoderStop;
// the decoding job runs one run at a time, so no locking is done here.
//
// Frames: raw GSM frames are 33 bytes; the 4-bit signature in the high nibble
// of byte 0 (0xD in well-formed files) carries no speech parameter, so it is
// ignored and every raw frame decodes. In WAV49 mode (GSM inside a wave file,
// two frames per 65-byte block) calls must alternate first frame (33 bytes) and
// second frame (32 bytes, 33rd byte ignored); libgsm tracks which one comes next.
// A frame that libgsm still refuses, or a call without a started decoder,
// yields 160 samples of silence: the output is always fully written.
#pragma once

#include <cstdint>

namespace lyb::audio {

constexpr int kGsmFrameBytes = 33;
constexpr int kGsmFrameSamples = 160;

// Creates the process-wide state; raw = false turns on the WAV49 layout.
// A state left from an earlier run is destroyed first.
void GsmDecoderStart(bool raw);
// Decodes one frame into 160 samples (8000 Hz, 16-bit).
void GsmDecodeFrame(const uint8_t frame[kGsmFrameBytes], int16_t samples[kGsmFrameSamples]);
// Destroys the state; harmless when none exists.
void GsmDecoderStop();

}  // namespace lyb::audio
