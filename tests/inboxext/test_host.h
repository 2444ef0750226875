// A test host for menu extensions: a menu that records its items, a site
// whose data object hands out a selection block, and a window that records
// message boxes.
#pragma once

#include "inboxext/host_menu.h"
#include "inboxext/item_refs.h"
#include "platform/com/com.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QThread>

#include <cstdlib>
#include <cstring>
#include <vector>

namespace lyb::testing {

using RecordingMenu = inboxext::HostMenu;

// Writes a launcher into folder that records its arguments in folder/args
// (the count, then one a line).
inline void writeRecordingLauncher(const QString& folder) {
    QFile script(folder + QStringLiteral("/lyblauncher"));
    script.open(QIODevice::WriteOnly);
    script.write(
        "#!/bin/sh\nd=$(dirname \"$0\")\nprintf '%s\\n' \"$#\" \"$@\" > \"$d/args.tmp\"\n"
        "mv \"$d/args.tmp\" \"$d/args\"\n");
    script.close();
    script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

// What the recording launcher in folder recorded; it is started without
// waiting, so this waits for it, up to a minute. Empty when it never ran.
inline QByteArray launcherArguments(const QString& folder) {
    QFile args(folder + QStringLiteral("/args"));
    for (int i = 0; i < 600 && !args.exists(); ++i)
        QThread::msleep(100);
    return args.open(QIODevice::ReadOnly) ? args.readAll() : QByteArray();
}

struct RecordingWindow final : com::HWND__ {
    QString shown;
    int messageBox(const char* text, const char* caption, uint32_t type) override {
        shown = QStringLiteral("%1|%2|%3")
                    .arg(QString::fromUtf8(caption), QString::fromUtf8(text))
                    .arg(type);
        return com::IDOK;
    }
};

// One site object serving IUnknown and IDataObject; lives on the stack of a
// test, so its counts only record.
class SelectionSite final : public com::IDataObject {
public:
    // Each entry id becomes one item of the message type, each empty one an
    // item of another type (a folder).
    explicit SelectionSite(std::vector<QByteArray> entryIds) : ids_(std::move(entryIds)) {
        for (const auto& id : ids_)
            refs_.push_back({static_cast<uint32_t>(id.size()),
                             reinterpret_cast<const uint8_t*>(id.constData())});
    }
    com::HRESULT QueryInterface(com::REFIID iid, void** object) override {
        if (iid != com::IID_IUnknown && iid != com::IID_IDataObject) {
            *object = nullptr;
            return com::E_NOINTERFACE;
        }
        *object = this;
        AddRef();
        return com::S_OK;
    }
    uint32_t AddRef() override { return ++refs; }
    uint32_t Release() override { return --refs; }
    com::HRESULT GetData(com::FORMATETC* format, com::STGMEDIUM* medium) override {
        if (format->cfFormat != com::RegisterClipboardFormat(inboxext::kItemRefArrayFormat) ||
            format->tymed != com::TYMED_HGLOBAL || format->lindex != -1)
            return com::E_FAIL;
        const size_t size = inboxext::kItemsOffset + ids_.size() * sizeof(inboxext::ItemRef);
        void* block = std::calloc(1, size);
        *static_cast<uint32_t*>(block) = static_cast<uint32_t>(ids_.size());
        auto* items = const_cast<inboxext::ItemRef*>(inboxext::items(block));
        for (size_t i = 0; i < ids_.size(); ++i)
            items[i] = {ids_[i].isEmpty() ? &kFolderType : &inboxext::kMessageType, &refs_[i]};
        *medium = {com::TYMED_HGLOBAL, block, nullptr};
        return com::S_OK;
    }
    uint32_t refs = 1;

private:
    static constexpr com::GUID kFolderType{0x1, 0x2, 0x3, {4, 5, 6, 7, 8, 9, 10, 11}};
    std::vector<QByteArray> ids_;
    std::vector<inboxext::MessageRef> refs_;
};

}  // namespace lyb::testing
