#include "audio/decode/gsm_codec.h"

#include <cstring>

#include <gsm.h>

namespace lyb::audio {

namespace {

gsm g_state = nullptr;
bool g_raw = true;

}  // namespace

void GsmDecoderStart(bool raw) {
    GsmDecoderStop();
    g_state = gsm_create();
    g_raw = raw;
    if (g_state != nullptr && !raw) {
        int on = 1;
        gsm_option(g_state, GSM_OPT_WAV49, &on);
    }
}

void GsmDecodeFrame(const uint8_t frame[kGsmFrameBytes], int16_t samples[kGsmFrameSamples]) {
    static_assert(sizeof(gsm_signal) == sizeof(int16_t));
    static_assert(sizeof(gsm_frame) == kGsmFrameBytes);
    if (g_state == nullptr) {
        std::memset(samples, 0, kGsmFrameSamples * sizeof(int16_t));
        return;
    }
    gsm_frame buffer;
    std::memcpy(buffer, frame, kGsmFrameBytes);
    if (g_raw) {
        // A raw frame is the signature nibble followed by the 260 bits of the
        // 76 parameters (LARc[0] starts in the low nibble of byte 0); libgsm
        // refuses any signature but 0xD, so force it.
        buffer[0] = static_cast<gsm_byte>((GSM_MAGIC << 4) | (buffer[0] & 0x0F));
    }
    if (gsm_decode(g_state, buffer, reinterpret_cast<gsm_signal*>(samples)) != 0) {
        std::memset(samples, 0, kGsmFrameSamples * sizeof(int16_t));
    }
}

void GsmDecoderStop() {
    if (g_state != nullptr) {
        gsm_destroy(g_state);
        g_state = nullptr;
    }
}

}  // namespace lyb::audio
