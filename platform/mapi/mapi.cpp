#include "platform/mapi/mapi.h"

#include <algorithm>
#include <cstring>

namespace lyb::mapi {

namespace {

// A stream sharing a QByteArray's bytes (no copy for attachment data).
class CByteArrayStream final : public CBufferStream {
public:
    explicit CByteArrayStream(QByteArray bytes) : bytes_(std::move(bytes)) {}

protected:
    const uint8_t* bytes() const override {
        return reinterpret_cast<const uint8_t*>(bytes_.constData());
    }
    uint64_t size() const override { return static_cast<uint64_t>(bytes_.size()); }

private:
    QByteArray bytes_;
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

HRESULT IMAPIFolder::MoveToWastebasket(const std::vector<QByteArray>& entryIds,
                                       std::vector<QByteArray>& trashIds) {
    trashIds.assign(entryIds.size(), QByteArray());
    return DeleteMessages(entryIds, 0);
}

HRESULT IMAPIFolder::CopyMessages(const std::vector<QByteArray>& entryIds, IMAPIFolder*, uint32_t,
                                  std::vector<QByteArray>* newIds) {
    if (newIds)
        newIds->assign(entryIds.size(), QByteArray());
    return MAPI_E_NO_SUPPORT;
}

}  // namespace lyb::mapi
