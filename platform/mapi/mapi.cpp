#include "platform/mapi/mapi.h"

#include <algorithm>
#include <cstring>

namespace lyb::mapi {

namespace {

// A stream sharing a QByteArray's bytes (no copy for attachment data).
class CByteArrayStream final : public IStream {
public:
    explicit CByteArrayStream(QByteArray bytes) : bytes_(std::move(bytes)) {}

    HRESULT Read(void* buffer, uint32_t count, uint32_t* read) override {
        const uint64_t size = static_cast<uint64_t>(bytes_.size());
        const uint64_t available = position_ < size ? size - position_ : 0;
        const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(count, available));
        if (n > 0)
            std::memcpy(buffer, bytes_.constData() + position_, n);
        position_ += n;
        if (read)
            *read = n;
        return n == count ? S_OK : S_FALSE;
    }
    HRESULT Seek(int64_t move, uint32_t origin, uint64_t* newPosition) override {
        int64_t base = 0;
        switch (origin) {
            case STREAM_SEEK_SET:
                base = 0;
                break;
            case STREAM_SEEK_CUR:
                base = static_cast<int64_t>(position_);
                break;
            case STREAM_SEEK_END:
                base = static_cast<int64_t>(bytes_.size());
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
    HRESULT Stat(STATSTG* stat, uint32_t) override {
        if (!stat)
            return E_INVALIDARG;
        stat->cbSize = static_cast<uint64_t>(bytes_.size());
        return S_OK;
    }

private:
    QByteArray bytes_;
    uint64_t position_ = 0;
};

}  // namespace

HRESULT IMAPIProp::GetProps(const std::vector<uint32_t>& tags, uint32_t,
                            std::vector<SPropValue>& values) {
    values.clear();
    HRESULT hr = S_OK;
    for (uint32_t tag : tags) {
        SPropValue v = getProp(tag);
        if (PROP_TYPE(v.ulPropTag) == PT_ERROR)
            hr = MAPI_W_ERRORS_RETURNED;
        values.push_back(std::move(v));
    }
    return hr;
}

HRESULT IMAPIProp::SetProps(const std::vector<SPropValue>&) {
    return MAPI_E_NO_SUPPORT;
}

HRESULT IMAPIProp::OpenProperty(uint32_t tag, uint32_t, uint32_t, IStream** stream) {
    if (!stream)
        return E_INVALIDARG;
    *stream = nullptr;
    const SPropValue v = getProp(tag);
    QByteArray bytes;
    switch (PROP_TYPE(v.ulPropTag)) {
        case PT_UNICODE:
            bytes.resize(v.str.size() * 2);
            for (qsizetype i = 0; i < v.str.size(); ++i) {
                const char16_t unit = v.str[i].unicode();
                bytes[2 * i] = static_cast<char>(unit & 0xFF);
                bytes[2 * i + 1] = static_cast<char>(unit >> 8);
            }
            break;
        case PT_STRING8:
        case PT_BINARY:
            bytes = v.bin;
            break;
        case PT_ERROR:
            return v.err ? v.err : MAPI_E_NOT_FOUND;
        default:
            return MAPI_E_NO_SUPPORT;
    }
    *stream = new CByteArrayStream(std::move(bytes));
    return S_OK;
}

}  // namespace lyb::mapi
