// The stream interface of the message store: a readable, seekable byte stream
// over a message body or an attachment's contents, in the shape the store
// hands it out (Read, Seek, Stat, Release with result codes).
//
// Reference counting: a stream starts with one reference, owned by whoever
// received it. AddRef adds one; Release drops one and destroys the stream at 0.
#pragma once

#include "platform/com/com.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <vector>

namespace lyb::mapi {

// The result codes are the component model's.
using com::E_FAIL;
using com::E_INVALIDARG;
using com::HRESULT;
using com::S_FALSE;
using com::S_OK;
constexpr HRESULT STG_E_INVALIDFUNCTION = static_cast<HRESULT>(0x80030001);

constexpr uint32_t STREAM_SEEK_SET = 0;
constexpr uint32_t STREAM_SEEK_CUR = 1;
constexpr uint32_t STREAM_SEEK_END = 2;
constexpr uint32_t STATFLAG_NONAME = 1;

struct STATSTG {
    uint64_t cbSize = 0;
};

class IStream {
public:
    // Reads up to count bytes; *read (when not null) gets the number read.
    // S_OK when count bytes were read, S_FALSE at a short read or the end.
    virtual HRESULT Read(void* buffer, uint32_t count, uint32_t* read) = 0;
    // Moves the position; *newPosition (when not null) gets it. A position
    // before the start fails with STG_E_INVALIDFUNCTION and does not move.
    virtual HRESULT Seek(int64_t move, uint32_t origin, uint64_t* newPosition) = 0;
    virtual HRESULT Stat(STATSTG* stat, uint32_t flags) = 0;

    uint32_t AddRef() { return ++refs_; }
    uint32_t Release() {
        const uint32_t left = --refs_;
        if (left == 0)
            delete this;
        return left;
    }

protected:
    virtual ~IStream() = default;

private:
    std::atomic<uint32_t> refs_{1};
};

// A stream over bytes held in memory; the derived class owns the bytes.
class CBufferStream : public IStream {
public:
    HRESULT Read(void* buffer, uint32_t count, uint32_t* read) override;
    HRESULT Seek(int64_t move, uint32_t origin, uint64_t* newPosition) override;
    HRESULT Stat(STATSTG* stat, uint32_t flags) override;

protected:
    virtual const uint8_t* bytes() const = 0;
    virtual uint64_t size() const = 0;
    // Where a read that would end at end stops: end, or the stream's end
    // when that comes first. Once it returns, bytes() holds the bytes up to
    // there; a stream that produces its bytes as they are read makes them
    // here, without needing to know its whole size.
    virtual uint64_t extent(uint64_t end) { return std::min(end, size()); }

private:
    uint64_t position_ = 0;
};

// A stream over a vector of bytes (decoded attachment parts, tests).
class CMemoryStream final : public CBufferStream {
public:
    explicit CMemoryStream(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}

protected:
    const uint8_t* bytes() const override { return bytes_.data(); }
    uint64_t size() const override { return bytes_.size(); }

private:
    std::vector<uint8_t> bytes_;
};

}  // namespace lyb::mapi
