// ParseWaveHeader over arbitrary bytes read through a store stream.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "audio/decode/wave_header.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    lyb::audio::CStreamWaveReader reader(
        new lyb::mapi::CMemoryStream(std::vector<uint8_t>(data, data + size)));
    lyb::audio::WaveHeader header;
    if (lyb::audio::ParseWaveHeader(header, reader)) {
        // Success leaves the reader inside the input, after a whole data chunk
        // header; the walk starts where the declared fmt chunk ends (at least
        // byte 20, since a declared size may be under 16).
        if (reader.GetPosition() < 28 || reader.GetPosition() > size)
            std::abort();
        if (header.fmt_size > 16 && header.extension.size() != header.fmt_size - 16)
            std::abort();
    }
    return 0;
}
