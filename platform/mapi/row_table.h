// What the providers build their tables from: property values of each kind,
// and a table over rows computed in advance whose SetColumns picks from each
// row (a column a row lacks comes back as a MAPI_E_NOT_FOUND error value).
#pragma once

#include <QByteArray>
#include <QString>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "platform/mapi/mapi.h"

namespace lyb::mapi {

inline SPropValue binProp(uint32_t tag, QByteArray bytes) {
    SPropValue v;
    v.ulPropTag = tag;
    v.bin = std::move(bytes);
    return v;
}
inline SPropValue strProp(uint32_t tag, QString text) {
    SPropValue v;
    v.ulPropTag = tag;
    v.str = std::move(text);
    return v;
}
inline SPropValue longProp(uint32_t tag, int32_t n) {
    SPropValue v;
    v.ulPropTag = tag;
    v.l = n;
    return v;
}
inline SPropValue timeProp(uint32_t tag, uint64_t ft) {
    SPropValue v;
    v.ulPropTag = tag;
    v.ft = ft;
    return v;
}

class CRowTable final : public IMAPITable {
public:
    explicit CRowTable(SRowSet rows) : rows_(std::make_shared<const SRowSet>(std::move(rows))) {}
    // Rows that several tables share (a listing kept while nothing changed).
    explicit CRowTable(std::shared_ptr<const SRowSet> rows) : rows_(std::move(rows)) {}

    HRESULT SetColumns(const std::vector<uint32_t>& tags, uint32_t) override {
        columns_ = tags;
        return S_OK;
    }
    HRESULT QueryRows(int count, uint32_t, SRowSet& rows) override {
        rows.clear();
        while (count-- > 0 && next_ < rows_->size())
            rows.push_back(project((*rows_)[next_++]));
        return S_OK;
    }

private:
    SRow project(const SRow& full) const {
        SRow row;
        row.reserve(columns_.size());
        for (uint32_t tag : columns_) {
            auto it = std::find_if(full.begin(), full.end(),
                                   [tag](const SPropValue& v) { return v.ulPropTag == tag; });
            row.push_back(it != full.end() ? *it : SPropValue::error(tag, MAPI_E_NOT_FOUND));
        }
        return row;
    }

    std::shared_ptr<const SRowSet> rows_;
    std::vector<uint32_t> columns_{PR_ENTRYID};
    size_t next_ = 0;
};

}  // namespace lyb::mapi
