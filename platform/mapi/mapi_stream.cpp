#include "platform/mapi/mapi_stream.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace lyb::mapi {

HRESULT CBufferStream::Read(void* buffer, uint32_t count, uint32_t* read) {
    const uint64_t end =
        count <= UINT64_MAX - position_ ? position_ + count : UINT64_MAX;  // after a far Seek
    const uint64_t stop = extent(end);
    const uint32_t n = stop > position_ ? static_cast<uint32_t>(stop - position_) : 0;
    if (n > 0)
        std::memcpy(buffer, bytes() + position_, n);
    position_ += n;
    if (read)
        *read = n;
    return n == count ? S_OK : S_FALSE;
}

HRESULT CBufferStream::Seek(int64_t move, uint32_t origin, uint64_t* newPosition) {
    int64_t base = 0;
    switch (origin) {
        case STREAM_SEEK_SET:
            base = 0;
            break;
        case STREAM_SEEK_CUR:
            base = static_cast<int64_t>(position_);
            break;
        case STREAM_SEEK_END:
            base = static_cast<int64_t>(size());
            break;
        default:
            return STG_E_INVALIDFUNCTION;
    }
    if (move < 0 ? move < -base : move > INT64_MAX - base)
        return STG_E_INVALIDFUNCTION;
    position_ = static_cast<uint64_t>(base + move);
    if (newPosition)
        *newPosition = position_;
    return S_OK;
}

HRESULT CBufferStream::Stat(STATSTG* stat, uint32_t) {
    if (!stat)
        return E_INVALIDARG;
    stat->cbSize = size();
    return S_OK;
}

}  // namespace lyb::mapi
