// ParseWaveHeaderFromMemory over arbitrary bytes; a copy of exactly the input
// size lets the address sanitizer catch any read past the end.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "audio/decode/wave_header.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::unique_ptr<uint8_t[]> copy(new uint8_t[size ? size : 1]);
    for (size_t i = 0; i < size; ++i)
        copy[i] = data[i];
    lyb::audio::WaveHeader header;
    if (lyb::audio::ParseWaveHeaderFromMemory(header, copy.get(), size)) {
        if (header.fmt_size > 16 && header.extension.size() != header.fmt_size - 16)
            std::abort();
        // The parsed record writes out and parses back to the same fields.
        const auto bytes = lyb::audio::SerializeWaveHeader(header);
        lyb::audio::WaveHeader again;
        if (!lyb::audio::ParseWaveHeaderFromMemory(again, bytes.data(), bytes.size()) ||
            lyb::audio::SerializeWaveHeader(again) != bytes) {
            std::abort();
        }
    }
    return 0;
}
