// A message object of our own for the record's unit tests: properties,
// attachments and failures set by the test, calls counted where it matters.
#pragma once

#include <QByteArray>
#include <QString>

#include <map>
#include <memory>
#include <vector>

#include "platform/mapi/mapi.h"

namespace lyb::testing {

using namespace lyb::mapi;

struct FakeAttachment {
    QString fileName;
    QString mimeType;
    bool hasData = true;
    QByteArray data;
};

class FakeMessage final : public IMessage {
public:
    std::map<uint32_t, SPropValue> props;
    std::vector<FakeAttachment> attachments;
    bool attachmentTableFails = false;
    bool setPropsFails = false;
    int setPropsCalls = 0;

    void setString(uint32_t tag, const QString& text) {
        SPropValue v;
        v.ulPropTag = tag;
        v.str = text;
        props[tag] = v;
    }
    void setBinary(uint32_t tag, const QByteArray& bytes) {
        SPropValue v;
        v.ulPropTag = tag;
        v.bin = bytes;
        props[tag] = v;
    }
    void setLong(uint32_t tag, int32_t n) {
        SPropValue v;
        v.ulPropTag = tag;
        v.l = n;
        props[tag] = v;
    }
    void setTime(uint64_t fileTime) {
        SPropValue v;
        v.ulPropTag = PR_MESSAGE_DELIVERY_TIME;
        v.ft = fileTime;
        props[v.ulPropTag] = v;
    }

    HRESULT GetAttachmentTable(uint32_t, std::unique_ptr<IMAPITable>& table) override;
    HRESULT OpenAttach(uint32_t number, uint32_t, std::unique_ptr<IAttach>& attach) override;
    HRESULT SetProps(const std::vector<SPropValue>& values) override {
        ++setPropsCalls;
        if (setPropsFails)
            return MAPI_E_NO_ACCESS;
        for (const auto& v : values)
            props[v.ulPropTag] = v;
        return S_OK;
    }

protected:
    SPropValue getProp(uint32_t tag) override {
        auto it = props.find(tag);
        return it != props.end() ? it->second : SPropValue::error(tag, MAPI_E_NOT_FOUND);
    }
};

class FakeTable final : public IMAPITable {
public:
    explicit FakeTable(SRowSet rows) : rows_(std::move(rows)) {}
    HRESULT SetColumns(const std::vector<uint32_t>& tags, uint32_t) override {
        columns_ = tags;
        return S_OK;
    }
    HRESULT QueryRows(int, uint32_t, SRowSet& rows) override {
        rows.clear();
        if (next_ >= rows_.size())
            return S_OK;
        SRow row;
        for (uint32_t tag : columns_) {
            SPropValue v = SPropValue::error(tag, MAPI_E_NOT_FOUND);
            for (const auto& p : rows_[next_]) {
                if (p.ulPropTag == tag)
                    v = p;
            }
            row.push_back(v);
        }
        ++next_;
        rows.push_back(row);
        return S_OK;
    }

private:
    SRowSet rows_;
    std::vector<uint32_t> columns_;
    size_t next_ = 0;
};

class FakeAttach final : public IAttach {
public:
    explicit FakeAttach(FakeAttachment a) : a_(std::move(a)) {}

protected:
    SPropValue getProp(uint32_t tag) override {
        if (tag == PR_ATTACH_DATA_BIN && a_.hasData) {
            SPropValue v;
            v.ulPropTag = tag;
            v.bin = a_.data;
            return v;
        }
        return SPropValue::error(tag, MAPI_E_NOT_FOUND);
    }

private:
    FakeAttachment a_;
};

inline HRESULT FakeMessage::GetAttachmentTable(uint32_t, std::unique_ptr<IMAPITable>& table) {
    if (attachmentTableFails)
        return MAPI_E_NO_SUPPORT;
    SRowSet rows;
    for (size_t i = 0; i < attachments.size(); ++i) {
        SPropValue num, name, mime;
        num.ulPropTag = PR_ATTACH_NUM;
        num.l = static_cast<int32_t>(i);
        name.ulPropTag = PR_ATTACH_FILENAME_W;
        name.str = attachments[i].fileName;
        mime.ulPropTag = PR_ATTACH_MIME_TAG_W;
        mime.str = attachments[i].mimeType;
        SRow row{num};
        if (!attachments[i].fileName.isNull())
            row.push_back(name);
        if (!attachments[i].mimeType.isNull())
            row.push_back(mime);
        rows.push_back(row);
    }
    table = std::make_unique<FakeTable>(std::move(rows));
    return S_OK;
}

inline HRESULT FakeMessage::OpenAttach(uint32_t number, uint32_t,
                                       std::unique_ptr<IAttach>& attach) {
    if (number >= attachments.size())
        return MAPI_E_NOT_FOUND;
    attach = std::make_unique<FakeAttach>(attachments[number]);
    return S_OK;
}

}  // namespace lyb::testing
