#include "audio/decode/wave_header.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>

namespace lyb::audio {
namespace {

char Lower(uint8_t c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// True when the four bytes spell the lower-case id, each letter in either case.
bool MatchId(const void* bytes, const char (&id)[5]) {
    const auto* b = static_cast<const uint8_t*>(bytes);
    for (int i = 0; i < 4; ++i) {
        if (Lower(b[i]) != id[i])
            return false;
    }
    return true;
}

uint16_t Le16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
uint32_t Le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
void PutLe16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
void PutLe32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
}

bool ReadExact(CWaveReader& reader, void* buffer, uint32_t count) {
    return reader.Read(buffer, count) == count;
}

bool ReadLe16(CWaveReader& reader, uint16_t& value) {
    uint8_t b[2];
    if (!ReadExact(reader, b, 2))
        return false;
    value = Le16(b);
    return true;
}

bool ReadLe32(CWaveReader& reader, uint32_t& value) {
    uint8_t b[4];
    if (!ReadExact(reader, b, 4))
        return false;
    value = Le32(b);
    return true;
}

// Finds the first "fmt " (f, m, t in either case, then a space) from the
// reader's position on, at any offset: a stray byte before it (an 'f' of a
// broken id, say) does not hide it. The input is read in blocks and the
// reader is left just after the space.
bool FindFmtChunk(CWaveReader& reader) {
    uint8_t block[4096];
    uint8_t last[4] = {};  // the last four bytes read, oldest first
    uint64_t seen = 0;
    for (;;) {
        const uint64_t start = reader.GetPosition();
        const uint32_t got = reader.Read(block, sizeof block);
        if (got == 0)
            return false;
        for (uint32_t i = 0; i < got; ++i) {
            std::memmove(last, last + 1, 3);
            last[3] = block[i];
            if (++seen >= 4 && Lower(last[0]) == 'f' && Lower(last[1]) == 'm' &&
                Lower(last[2]) == 't' && last[3] == ' ') {
                const uint64_t after = start + i + 1;
                return reader.Seek(static_cast<int64_t>(after), 0) == after;
            }
        }
    }
}

}  // namespace

bool ParseWaveHeader(WaveHeader& header, CWaveReader& reader) {
    header.extension = {};
    if (!ReadExact(reader, header.riff_id, 4) || !MatchId(header.riff_id, "riff"))
        return false;
    if (!ReadLe32(reader, header.riff_size))
        return false;
    if (!ReadExact(reader, header.wave_id, 4) || !MatchId(header.wave_id, "wave"))
        return false;
    if (!FindFmtChunk(reader))
        return false;
    std::memcpy(header.fmt_id, "fmt ", 4);

    if (!ReadLe32(reader, header.fmt_size))
        return false;
    const uint64_t fmt_start = reader.GetPosition();
    if (!ReadLe16(reader, header.format_tag) || !ReadLe16(reader, header.channels) ||
        !ReadLe32(reader, header.sample_rate) || !ReadLe32(reader, header.avg_bytes_per_sec) ||
        !ReadLe16(reader, header.block_align) || !ReadLe16(reader, header.bits_per_sample)) {
        return false;
    }

    const uint64_t length = reader.GetLength();
    if (header.fmt_size > 16) {
        const uint64_t extra = header.fmt_size - 16;
        const uint64_t here = reader.GetPosition();
        // An extension larger than what is left of the input cannot be read
        // whole; refuse it before allocating.
        if (here > length || extra > length - here)
            return false;
        std::vector<uint8_t> extension(extra);
        if (!ReadExact(reader, extension.data(), static_cast<uint32_t>(extra)))
            return false;
        header.extension = std::move(extension);
    }

    // Chunk walk. Positions are 64-bit and bounded by the input's length, so
    // every step moves forward by at least 8 and the walk ends at the end.
    uint64_t position = fmt_start + header.fmt_size;
    for (;;) {
        if (position > length || length - position < 8)
            return false;
        if (reader.Seek(static_cast<int64_t>(position), 0) != position)
            return false;
        if (!ReadExact(reader, header.data_id, 4) || !ReadLe32(reader, header.data_size)) {
            return false;
        }
        if (MatchId(header.data_id, "data"))
            return true;
        position += 8 + static_cast<uint64_t>(header.data_size);
    }
}

bool ParseWaveHeaderFromMemory(WaveHeader& header, const uint8_t* buffer, size_t length) {
    header.extension = {};
    if (buffer == nullptr)
        return false;
    CMemoryWaveReader reader(buffer, length);
    return ParseWaveHeader(header, reader);
}

std::vector<uint8_t> SerializeWaveHeader(const WaveHeader& header) {
    std::vector<uint8_t> out(kWaveHeaderSize);
    uint8_t* p = out.data();
    std::memcpy(p, header.riff_id, 4);
    PutLe32(p + 4, header.riff_size);
    std::memcpy(p + 8, header.wave_id, 4);
    std::memcpy(p + 12, header.fmt_id, 4);
    PutLe32(p + 16, 16);
    PutLe16(p + 20, header.format_tag);
    PutLe16(p + 22, header.channels);
    PutLe32(p + 24, header.sample_rate);
    PutLe32(p + 28, header.avg_bytes_per_sec);
    PutLe16(p + 32, header.block_align);
    PutLe16(p + 34, header.bits_per_sample);
    std::memcpy(p + 36, header.data_id, 4);
    PutLe32(p + 40, header.data_size);
    return out;
}

bool WriteAll(int fd, const void* data, size_t size) {
    const auto* p = static_cast<const uint8_t*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, p, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (n == 0)
            return false;
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

bool WriteWaveHeader(WaveHeader& header, int fd) {
    header.fmt_size = 16;
    const std::vector<uint8_t> bytes = SerializeWaveHeader(header);
    return WriteAll(fd, bytes.data(), bytes.size());
}

bool IsSupportedFormatTag(uint16_t tag) {
    switch (tag) {
        case 1:
        case 2:
        case 6:
        case 7:
        case 16:
        case 17:
        case 49:
        case 307:
            return true;
        default:
            return false;
    }
}

// --- CFileWaveReader ---

CFileWaveReader::~CFileWaveReader() {
    if (fd_ >= 0)
        ::close(fd_);
}

uint32_t CFileWaveReader::ReadDirect(uint8_t* p, uint32_t count) {
    uint32_t total = 0;
    while (total < count) {
        const ssize_t n = ::read(fd_, p + total, count - total);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (n == 0)
            break;
        total += static_cast<uint32_t>(n);
    }
    return total;
}

uint32_t CFileWaveReader::Read(void* buffer, uint32_t count) {
    if (fd_ < 0)
        return 0;
    auto* p = static_cast<uint8_t*>(buffer);
    uint32_t total = 0;
    while (total < count) {
        if (ahead_pos_ < ahead_len_) {
            const size_t n = std::min<size_t>(count - total, ahead_len_ - ahead_pos_);
            std::memcpy(p + total, ahead_.data() + ahead_pos_, n);
            ahead_pos_ += n;
            total += static_cast<uint32_t>(n);
            continue;
        }
        if (count - total >= kReadAhead)
            return total + ReadDirect(p + total, count - total);
        ahead_.resize(kReadAhead);
        ahead_pos_ = 0;
        ahead_len_ = ReadDirect(ahead_.data(), static_cast<uint32_t>(kReadAhead));
        if (ahead_len_ == 0)
            break;
    }
    return total;
}

uint64_t CFileWaveReader::Seek(int64_t offset, int origin) {
    if (fd_ < 0)
        return 0;
    int whence;
    switch (origin) {
        case 0:
            whence = SEEK_SET;
            break;
        case 1:
            // The file stands past the bytes read ahead.
            whence = SEEK_CUR;
            if (offset < INT64_MIN + static_cast<int64_t>(kReadAhead))
                return GetPosition();
            offset -= static_cast<int64_t>(Buffered());
            break;
        case 2:
            whence = SEEK_END;
            break;
        default:
            return 0;
    }
    const off_t moved = ::lseek(fd_, static_cast<off_t>(offset), whence);
    if (moved < 0)
        return GetPosition();
    ahead_pos_ = ahead_len_ = 0;
    return static_cast<uint64_t>(moved);
}

uint64_t CFileWaveReader::GetPosition() {
    if (fd_ < 0)
        return 0;
    const off_t at = ::lseek(fd_, 0, SEEK_CUR);
    return at < 0 ? 0 : static_cast<uint64_t>(at) - Buffered();
}

void CFileWaveReader::Close(bool destroy) {
    if (fd_ >= 0 && destroy)
        ::close(fd_);
    fd_ = -1;
    ahead_pos_ = ahead_len_ = 0;
}

uint64_t CFileWaveReader::GetLength() {
    struct stat st {};
    if (fd_ < 0 || ::fstat(fd_, &st) != 0 || st.st_size < 0)
        return 0;
    return static_cast<uint64_t>(st.st_size);
}

// --- CMemoryWaveReader ---

uint32_t CMemoryWaveReader::Read(void* buffer, uint32_t count) {
    if (position_ >= length_)
        return 0;
    const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(count, length_ - position_));
    std::memcpy(buffer, bytes_ + position_, n);
    position_ += n;
    return n;
}

uint64_t CMemoryWaveReader::Seek(int64_t offset, int origin) {
    uint64_t base;
    switch (origin) {
        case 0:
            base = 0;
            break;
        case 1:
            base = position_;
            break;
        case 2:
            base = length_;
            break;
        default:
            return 0;
    }
    // As in a file: anywhere from the start on, also past the end.
    if (offset < 0) {
        const uint64_t back = uint64_t{0} - static_cast<uint64_t>(offset);
        if (back <= base)
            position_ = base - back;
    } else if (static_cast<uint64_t>(offset) <= UINT64_MAX - base) {
        position_ = base + static_cast<uint64_t>(offset);
    }
    return position_;
}

// --- CStreamWaveReader ---

CStreamWaveReader::~CStreamWaveReader() {
    if (stream_)
        stream_->Release();
}

uint32_t CStreamWaveReader::Read(void* buffer, uint32_t count) {
    if (!stream_ || count == 0)
        return 0;
    uint32_t got = 0;
    const mapi::HRESULT hr = stream_->Read(buffer, count, &got);
    // S_FALSE is a short read: its bytes are the stream's last ones and are kept.
    if (hr != mapi::S_OK && hr != mapi::S_FALSE)
        return 0;
    return got > count ? count : got;
}

uint64_t CStreamWaveReader::Seek(int64_t offset, int origin) {
    if (!stream_ || origin < 0 || origin > 2)
        return 0;
    uint64_t position = 0;
    if (stream_->Seek(offset, static_cast<uint32_t>(origin), &position) != mapi::S_OK) {
        return GetPosition();
    }
    return position;
}

uint64_t CStreamWaveReader::GetPosition() {
    uint64_t position = 0;
    if (!stream_ || stream_->Seek(0, mapi::STREAM_SEEK_CUR, &position) != mapi::S_OK)
        return 0;
    return position;
}

void CStreamWaveReader::Close(bool destroy) {
    if (stream_ && destroy)
        stream_->Release();
    stream_ = nullptr;
}

uint64_t CStreamWaveReader::GetLength() {
    mapi::STATSTG stat;
    if (!stream_ || stream_->Stat(&stat, mapi::STATFLAG_NONAME) != mapi::S_OK)
        return 0;
    return stat.cbSize;
}

}  // namespace lyb::audio
