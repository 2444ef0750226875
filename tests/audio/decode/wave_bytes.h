// Builds small wave files byte by byte for the tests.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace lyb::audio::test {

class WaveBytes {
public:
    WaveBytes& id(const char* four) {
        bytes_.insert(bytes_.end(), four, four + 4);
        return *this;
    }
    WaveBytes& u16(uint16_t v) {
        bytes_.push_back(static_cast<uint8_t>(v));
        bytes_.push_back(static_cast<uint8_t>(v >> 8));
        return *this;
    }
    WaveBytes& u32(uint32_t v) {
        for (int i = 0; i < 4; ++i)
            bytes_.push_back(static_cast<uint8_t>(v >> (8 * i)));
        return *this;
    }
    WaveBytes& raw(const std::vector<uint8_t>& b) {
        bytes_.insert(bytes_.end(), b.begin(), b.end());
        return *this;
    }
    // A chunk: id, size (the body's size unless given), body.
    WaveBytes& chunk(const char* four, const std::vector<uint8_t>& body) {
        return id(four).u32(static_cast<uint32_t>(body.size())).raw(body);
    }
    // "RIFF", a riff size, "WAVE", then a 16-byte fmt chunk (or fmt_size bytes
    // with extension appended).
    WaveBytes& header(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t align, uint16_t bits,
                      const std::vector<uint8_t>& extension = {}) {
        id("RIFF").u32(0).id("WAVE").id("fmt ").u32(16 + static_cast<uint32_t>(extension.size()));
        u16(tag).u16(channels).u32(rate).u32(rate * align).u16(align).u16(bits);
        return raw(extension);
    }
    WaveBytes& data(const std::vector<uint8_t>& body) { return chunk("data", body); }

    const std::vector<uint8_t>& bytes() const { return bytes_; }
    operator std::vector<uint8_t>() const { return bytes_; }

private:
    std::vector<uint8_t> bytes_;
};

inline std::vector<uint8_t> Filled(size_t n, uint8_t value) {
    return std::vector<uint8_t>(n, value);
}

// A pattern that is not constant, so misplaced bytes show.
inline std::vector<uint8_t> Pattern(size_t n) {
    std::vector<uint8_t> b(n);
    for (size_t i = 0; i < n; ++i)
        b[i] = static_cast<uint8_t>(i * 7 + 3);
    return b;
}

}  // namespace lyb::audio::test
