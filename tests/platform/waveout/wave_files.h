// Helpers for the audio output tests: wave files made in the test, the
// capture device's file read back, and simple measurements of what it holds.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace lyb::testing {

struct Pcm {
    uint16_t channels;
    uint32_t rate;
    uint16_t bits;
    uint32_t frameBytes() const { return channels * (bits / 8u); }
};

inline void PutLe(std::vector<uint8_t>& out, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

// The canonical 44-byte header.
inline std::vector<uint8_t> WaveHeaderBytes(uint16_t tag, const Pcm& f, uint32_t dataSize) {
    std::vector<uint8_t> h;
    for (char c : std::string("RIFF"))
        h.push_back(static_cast<uint8_t>(c));
    PutLe(h, dataSize + 36, 4);
    for (char c : std::string("WAVEfmt "))
        h.push_back(static_cast<uint8_t>(c));
    PutLe(h, 16, 4);
    PutLe(h, tag, 2);
    PutLe(h, f.channels, 2);
    PutLe(h, f.rate, 4);
    PutLe(h, f.rate * f.frameBytes(), 4);
    PutLe(h, f.frameBytes(), 2);
    PutLe(h, f.bits, 2);
    for (char c : std::string("data"))
        h.push_back(static_cast<uint8_t>(c));
    PutLe(h, dataSize, 4);
    return h;
}

inline std::string TempPath(const std::string& name) {
    const char* dir = std::getenv("TMPDIR");
    return std::string(dir && *dir ? dir : "/tmp") + "/" + name;
}

inline std::string WriteWave(const std::string& name, uint16_t tag, const Pcm& f,
                             const std::vector<uint8_t>& data, int64_t announced = -1) {
    const std::string path = TempPath(name);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    const auto header = WaveHeaderBytes(
        tag, f,
        announced < 0 ? static_cast<uint32_t>(data.size()) : static_cast<uint32_t>(announced));
    out.write(reinterpret_cast<const char*>(header.data()), header.size());
    out.write(reinterpret_cast<const char*>(data.data()), data.size());
    return path;
}

inline std::vector<uint8_t> NoiseBytes(size_t size, uint32_t seed) {
    std::mt19937 gen(seed);
    std::vector<uint8_t> v(size);
    for (auto& b : v)
        b = static_cast<uint8_t>(gen());
    return v;
}

// 16-bit mono samples whose value is their index: what was played tells
// where it came from.
inline std::vector<uint8_t> RampBytes(uint32_t samples) {
    std::vector<uint8_t> v;
    for (uint32_t i = 0; i < samples; ++i)
        PutLe(v, i & 0xFFFF, 2);
    return v;
}

inline std::vector<uint8_t> ToneBytes(const Pcm& f, double hz, double seconds) {
    std::vector<uint8_t> v;
    const uint32_t frames = static_cast<uint32_t>(f.rate * seconds);
    for (uint32_t i = 0; i < frames; ++i) {
        const double s = 0.5 * std::sin(2 * M_PI * hz * i / f.rate);
        for (int c = 0; c < f.channels; ++c) {
            if (f.bits == 8) {
                v.push_back(static_cast<uint8_t>(128 + std::lround(s * 127)));
            } else {
                PutLe(v, static_cast<uint16_t>(static_cast<int16_t>(std::lround(s * 32767))), 2);
            }
        }
    }
    return v;
}

inline std::vector<uint8_t> ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A capture file: its announced data size and the bytes after the header.
struct Captured {
    uint32_t announced = 0;
    uint16_t channels = 0;
    uint32_t rate = 0;
    uint16_t bits = 0;
    std::vector<uint8_t> data;
};

inline Captured ReadCapture(const std::string& path) {
    Captured c;
    const auto bytes = ReadAll(path);
    if (bytes.size() < 44)
        return c;
    auto le = [&](size_t at, int n) {
        uint32_t v = 0;
        for (int i = 0; i < n; ++i)
            v |= uint32_t{bytes[at + i]} << (8 * i);
        return v;
    };
    c.channels = static_cast<uint16_t>(le(22, 2));
    c.rate = le(24, 4);
    c.bits = static_cast<uint16_t>(le(34, 2));
    c.announced = le(40, 4);
    c.data.assign(bytes.begin() + 44, bytes.end());
    return c;
}

// The first channel's frequency in Hz, from its rising zero crossings.
inline double DominantFrequency(const Captured& c) {
    const uint32_t frameBytes = c.channels * (c.bits / 8u);
    const size_t frames = c.data.size() / frameBytes;
    auto sample = [&](size_t i) -> double {
        const uint8_t* p = c.data.data() + i * frameBytes;
        if (c.bits == 8)
            return p[0] - 128.0;
        return static_cast<int16_t>(p[0] | (p[1] << 8));
    };
    size_t first = 0, last = 0, crossings = 0;
    for (size_t i = 1; i < frames; ++i) {
        if (sample(i - 1) < 0 && sample(i) >= 0) {
            if (crossings == 0)
                first = i;
            last = i;
            ++crossings;
        }
    }
    if (crossings < 2)
        return 0;
    return (crossings - 1) * double(c.rate) / double(last - first);
}

// Waits (polling) for a condition that the test expects to become true; the
// limit only keeps a broken build from hanging.
inline bool WaitFor(const std::function<bool()>& condition,
                    std::chrono::milliseconds limit = std::chrono::seconds(30)) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

}  // namespace lyb::testing
