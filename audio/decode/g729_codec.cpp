#include "audio/decode/g729_codec.h"

#include <cstring>

extern "C" {
#include <bcg729/decoder.h>
}

namespace lyb::audio {

namespace {

bcg729DecoderChannelContextStruct* g_channel = nullptr;

}  // namespace

void G729DecoderStart() {
    G729DecoderStop();
    g_channel = initBcg729DecoderChannel();
}

void G729DecodeFrame(const uint8_t frame[kG729FrameBytes], int16_t samples[kG729FrameSamples]) {
    if (g_channel == nullptr) {
        std::memset(samples, 0, kG729FrameSamples * sizeof(int16_t));
        return;
    }
    // A 10-byte voice frame: no erasure, not a silence descriptor.
    bcg729Decoder(g_channel, frame, kG729FrameBytes, /*frameErasureFlag=*/0, /*SIDFrameFlag=*/0,
                  /*rfc3389PayloadFlag=*/0, samples);
}

void G729DecoderStop() {
    if (g_channel != nullptr) {
        closeBcg729DecoderChannel(g_channel);
        g_channel = nullptr;
    }
}

}  // namespace lyb::audio
