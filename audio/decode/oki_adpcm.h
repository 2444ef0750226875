// OKI (Dialogic) 4-bit ADPCM (wave format tag 16), decoded as one stream of
// codes, high nibble first. At 32000 bit/s the codes are 8000 Hz samples; at
// 24000 bit/s they are 6000 Hz samples, converted to 8000 Hz while decoding by
// an 81-tap polyphase filter (four output samples for every three codes),
// whose single-precision result is truncated and limited to 16 bits.
//
// Every byte is a valid pair of codes, so there is no bad input beyond an
// unsupported bit rate, which Create refuses.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace lyb::audio {

class COkiDecoder {
public:
    // Returns a decoder for 32000 or 24000 bit/s (bits per sample x sample
    // rate), none for any other rate.
    static std::optional<COkiDecoder> Create(uint64_t bit_rate);

    // Returns the most samples Decode can produce from count bytes.
    static size_t MaxSamples(size_t count) { return 3 * count + 2; }

    // Decodes count bytes into samples (room for MaxSamples(count)); returns
    // the samples produced. The state (signal, step index, filter history and
    // phase) carries over from call to call; each call starts at the high
    // nibble of its first byte.
    size_t Decode(const uint8_t* bytes, size_t count, int16_t* samples);

    uint32_t bit_rate() const { return bit_rate_; }

private:
    explicit COkiDecoder(uint32_t bit_rate) : bit_rate_(bit_rate) {}
    // Decodes one code; returns the 16-bit sample (the 12-bit signal x 16).
    int16_t DecodeCode(int code);

    // Codes the 24000 bit/s filter looks back on (it reads at most 21).
    static constexpr size_t kHistory = 24;

    uint32_t bit_rate_;
    int signal_ = 0;                // -2048...2047
    int index_ = 0;                 // 0...48
    float history_[kHistory] = {};  // the last codes' samples, oldest first
    unsigned phase_ = 0;            // 0...3
    std::vector<float> window_;     // history and one call's codes
};

}  // namespace lyb::audio
