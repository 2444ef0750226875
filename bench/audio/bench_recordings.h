// Recordings in every wave encoding the decoding job decodes itself, and raw
// GSM, for benches of the first sound (the job and player here; the window can
// attach them to messages), with the percentile they report.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace lyb::bench {

struct BenchEncoding {
    const char* name;
    uint16_t tag;  // 0: raw GSM
    uint16_t align;
    uint16_t bits;
    uint32_t bytesPerSecond;
    std::vector<uint8_t> extension;
    // The file name's extension the job needs to tell the encoding.
    const char* suffix() const { return tag == 0 ? ".gsm" : ".wav"; }
};

// All at 8000 Hz, mono.
inline const std::vector<BenchEncoding>& BenchEncodings() {
    static const std::vector<BenchEncoding> encodings = {
        {"PCM 16-bit", 1, 2, 16, 16000, {}},
        {"A-law", 6, 1, 8, 8000, {}},
        {"mu-law", 7, 1, 8, 8000, {}},
        {"IMA ADPCM", 17, 256, 4, 4055, {2, 0, 0xF9, 0x01}},
        {"Microsoft ADPCM", 2, 256, 4, 4096, {}},
        {"OKI ADPCM", 16, 1, 4, 4000, {}},
        {"GSM (WAV49)", 49, 65, 0, 1625, {}},
        {"G.729", 307, 10, 0, 1000, {}},
        {"raw GSM", 0, 33, 0, 1650, {}},
    };
    return encodings;
}

// seconds of noise in the encoding, as a file's bytes: every decoder takes
// it, and its cost does not depend on what the samples sound like.
inline std::vector<uint8_t> BenchRecording(const BenchEncoding& e, uint32_t seconds) {
    auto le = [](std::vector<uint8_t>& out, uint32_t v, int n) {
        for (int i = 0; i < n; ++i)
            out.push_back(static_cast<uint8_t>(v >> (8 * i)));
    };
    auto id = [](std::vector<uint8_t>& out, const char* text) {
        for (; *text; ++text)
            out.push_back(static_cast<uint8_t>(*text));
    };
    std::mt19937 random(e.tag);
    std::vector<uint8_t> data(size_t{e.bytesPerSecond} * seconds);
    for (auto& b : data)
        b = static_cast<uint8_t>(random());
    std::vector<uint8_t> bytes;
    if (e.tag != 0) {
        const uint32_t fmtSize = 16 + static_cast<uint32_t>(e.extension.size());
        id(bytes, "RIFF");
        le(bytes, 4 + 8 + fmtSize + 8 + static_cast<uint32_t>(data.size()), 4);
        id(bytes, "WAVEfmt ");
        le(bytes, fmtSize, 4);
        le(bytes, e.tag, 2);
        le(bytes, 1, 2);
        le(bytes, 8000, 4);
        le(bytes, e.bytesPerSecond, 4);
        le(bytes, e.align, 2);
        le(bytes, e.bits, 2);
        bytes.insert(bytes.end(), e.extension.begin(), e.extension.end());
        id(bytes, "data");
        le(bytes, static_cast<uint32_t>(data.size()), 4);
    }
    bytes.insert(bytes.end(), data.begin(), data.end());
    return bytes;
}

// The value at rank ceil(p * n) of the sorted values (p 0.5: the median).
inline double Percentile(std::vector<double> values, double p) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const size_t rank = static_cast<size_t>(std::max(1.0, std::ceil(p * double(values.size()))));
    return values[std::min(rank, values.size()) - 1];
}

}  // namespace lyb::bench
