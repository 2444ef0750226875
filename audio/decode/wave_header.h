// The wave container: the 44-byte RIFF/WAVE header record, its parsing from a
// byte source or a memory buffer, its writing, and the byte sources over files
// and store streams.
//
// One grammar: the memory parse is the reader parse over a memory reader.
// After "WAVE" the fmt chunk is the first "fmt " at any offset, so stray
// bytes before it (an 'f' of a broken id) are stepped over.
//
// Bad input (what the parsers do with malformed headers): every read must
// yield its full width or the parse fails; ids match letter by letter in
// either case; the chunk walk uses 64-bit positions and fails when a chunk
// header would pass the end of the input (the reader's GetLength, or the
// buffer's length), so no chunk size can make it loop or wrap; an fmt
// extension longer than the rest of the input fails the parse before anything
// is allocated. No field value is validated here (channel count, rates, block
// align and sizes are taken as they stand; the decoding job guards their use).
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/mapi/mapi_stream.h"

namespace lyb::audio {

struct WaveHeader {
    char riff_id[4] = {'R', 'I', 'F', 'F'};
    uint32_t riff_size = 0;
    char wave_id[4] = {'W', 'A', 'V', 'E'};
    char fmt_id[4] = {'f', 'm', 't', ' '};
    uint32_t fmt_size = 16;
    uint16_t format_tag = 0;
    uint16_t channels = 0;
    uint32_t sample_rate = 0;
    uint32_t avg_bytes_per_sec = 0;
    uint16_t block_align = 0;
    uint16_t bits_per_sample = 0;
    char data_id[4] = {'d', 'a', 't', 'a'};
    uint32_t data_size = 0;
    // The fmt chunk's bytes after its first 16 (starting with cbSize), when the
    // chunk is larger than 16 bytes; empty otherwise. Never written out.
    std::vector<uint8_t> extension;
};

constexpr size_t kWaveHeaderSize = 44;

// A byte source: a file or a store stream.
class CWaveReader {
public:
    virtual ~CWaveReader() = default;
    // Returns the bytes read: fewer than count only at the end of the source,
    // 0 at the end or on error.
    virtual uint32_t Read(void* buffer, uint32_t count) = 0;
    // origin 0 = from the start, 1 = from the current position, 2 = from the
    // end; any other origin does nothing and returns 0. Returns the new position.
    virtual uint64_t Seek(int64_t offset, int origin) = 0;
    virtual uint64_t GetPosition() = 0;
    // Closes the source; with destroy the underlying file or stream is released too.
    virtual void Close(bool destroy) = 0;
    virtual uint64_t GetLength() = 0;
};

// Reads a file opened by the caller (POSIX descriptor) and takes it over:
// Close(true) or the destructor closes it; Close(false) gives it back unclosed.
class CFileWaveReader final : public CWaveReader {
public:
    explicit CFileWaveReader(int fd) : fd_(fd) {}
    ~CFileWaveReader() override;
    uint32_t Read(void* buffer, uint32_t count) override;
    uint64_t Seek(int64_t offset, int origin) override;
    uint64_t GetPosition() override;
    void Close(bool destroy) override;
    uint64_t GetLength() override;

private:
    // Reads ahead in blocks, so the decoders' small steps (a 33-byte GSM
    // frame, a 1024-byte unit) do not each cost a system call.
    static constexpr size_t kReadAhead = 64 * 1024;
    uint32_t ReadDirect(uint8_t* buffer, uint32_t count);
    uint64_t Buffered() const { return ahead_len_ - ahead_pos_; }

    int fd_;
    std::vector<uint8_t> ahead_;
    size_t ahead_pos_ = 0;
    size_t ahead_len_ = 0;
};

// Reads a buffer the caller keeps alive while the reader is used.
class CMemoryWaveReader final : public CWaveReader {
public:
    CMemoryWaveReader(const uint8_t* bytes, size_t length) : bytes_(bytes), length_(length) {}
    uint32_t Read(void* buffer, uint32_t count) override;
    uint64_t Seek(int64_t offset, int origin) override;
    uint64_t GetPosition() override { return position_; }
    void Close(bool) override { length_ = 0; }
    uint64_t GetLength() override { return length_; }

private:
    const uint8_t* bytes_;
    uint64_t length_;
    uint64_t position_ = 0;
};

// Reads a store stream; takes over the caller's reference, released by
// Close(true) or the destructor (Close(false) gives it back). A short read
// (S_FALSE) yields the bytes it carried; any failure yields 0.
class CStreamWaveReader final : public CWaveReader {
public:
    explicit CStreamWaveReader(mapi::IStream* stream) : stream_(stream) {}
    ~CStreamWaveReader() override;
    uint32_t Read(void* buffer, uint32_t count) override;
    uint64_t Seek(int64_t offset, int origin) override;
    uint64_t GetPosition() override;
    void Close(bool destroy) override;
    uint64_t GetLength() override;

private:
    mapi::IStream* stream_;
};

// Parses the header; on success the reader stands at the data chunk's first byte.
bool ParseWaveHeader(WaveHeader& header, CWaveReader& reader);
// Parses the header from the first bytes of a wave file (the store reads up
// to 2048): the same parse over a memory reader.
bool ParseWaveHeaderFromMemory(WaveHeader& header, const uint8_t* buffer, size_t length);
// Returns the 44 bytes of the header in file order, fmt size written as 16.
std::vector<uint8_t> SerializeWaveHeader(const WaveHeader& header);
// Sets fmt size to 16 and writes the 44 bytes to the descriptor; false on a short write.
bool WriteWaveHeader(WaveHeader& header, int fd);
// Writes all size bytes, retrying after partial writes and EINTR; false on failure.
bool WriteAll(int fd, const void* data, size_t size);
// True exactly for the tags we decode: 1, 2, 6, 7, 16, 17, 49 and 307.
bool IsSupportedFormatTag(uint16_t tag);

}  // namespace lyb::audio
