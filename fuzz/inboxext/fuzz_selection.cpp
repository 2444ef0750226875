// The selection block a messaging host hands the Inbox extension: a count and
// that many items, each a type and a reference, a message's being its entry
// id. The input describes such a block: a byte for the number of items, then
// per item a byte choosing its type and reference and a byte for the length
// of the entry id that follows. The block is built to that description, the
// count always matching the items in it, and the extension builds its menu
// and is asked to play. There is no registry (so playing stops at its
// message) and no accounts file.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <QByteArray>

#include "inboxext/inbox_extension.h"
#include "inboxext/item_refs.h"

using namespace lyb::com;
using namespace lyb::inboxext;

namespace {

constexpr GUID kOtherType{
    0x5E4D3C2B, 0x1A09, 0x4F8E, {0x9D, 0x7C, 0x6B, 0x5A, 0x49, 0x38, 0x27, 0x16}};

class Menu final : public HMENU__ {
public:
    bool insertByPosition(uint32_t, uint32_t, const char*) override { return true; }
    bool enableByCommand(uint32_t, bool) override { return true; }
};

class Window final : public HWND__ {
public:
    int messageBox(const char*, const char*, uint32_t) override { return IDOK; }
};

struct Item {
    int type = 0;  // 0 none, 1 a message, 2 another type
    int ref = 0;   // 0 none, 1 a reference without bytes, 2 with them
    QByteArray entryId;
};

class Selection final : public IDataObject {
public:
    explicit Selection(const std::vector<Item>& items) : items_(items) {
        refs_.resize(items_.size());
        for (size_t i = 0; i < items_.size(); ++i) {
            const QByteArray& id = items_[i].entryId;
            refs_[i] = {uint32_t(id.size()), items_[i].ref == 2
                                                 ? reinterpret_cast<const uint8_t*>(id.constData())
                                                 : nullptr};
        }
    }
    HRESULT QueryInterface(REFIID iid, void** object) override {
        if (!object)
            return E_INVALIDARG;
        if (iid != IID_IUnknown && iid != IID_IDataObject) {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        *object = static_cast<IDataObject*>(this);
        AddRef();
        return S_OK;
    }
    uint32_t AddRef() override { return ++refs; }
    uint32_t Release() override { return --refs; }
    // A block of exactly the items described, so that a read past them shows.
    HRESULT GetData(FORMATETC* format, STGMEDIUM* medium) override {
        if (!format || !medium || format->cfFormat != RegisterClipboardFormat(kItemRefArrayFormat))
            return E_FAIL;
        void* block = std::calloc(1, kItemsOffset + items_.size() * sizeof(ItemRef));
        if (!block)
            return E_OUTOFMEMORY;
        *static_cast<uint32_t*>(block) = uint32_t(items_.size());
        auto* out = reinterpret_cast<ItemRef*>(static_cast<char*>(block) + kItemsOffset);
        for (size_t i = 0; i < items_.size(); ++i) {
            const int type = items_[i].type;
            out[i] = {type == 1   ? &kMessageType
                      : type == 2 ? &kOtherType
                                  : nullptr,
                      items_[i].ref == 0 ? nullptr : &refs_[i]};
        }
        *medium = {TYMED_HGLOBAL, block, nullptr};
        return S_OK;
    }
    uint32_t refs = 1;

private:
    std::vector<Item> items_;
    std::vector<MessageRef> refs_;
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    qputenv("LYRABELL_ACCOUNTS", "/dev/null/accounts.conf");
    qputenv("LYRABELL_REGISTRY", "/dev/null/registry.sqlite3");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    size_t at = 0;
    const auto next = [&]() -> int { return at < size ? data[at++] : 0; };
    std::vector<Item> items(size_t(next() % 5));
    for (Item& item : items) {
        const int choice = next();
        item.type = choice % 3;
        item.ref = (choice / 3) % 3;
        const size_t length = std::min(size_t(next()), size - at);
        item.entryId = QByteArray(reinterpret_cast<const char*>(data + at), qsizetype(length));
        at += length;
    }
    Selection selection(items);
    Menu menu;
    Window window;
    auto* extension = new CInboxMenuExtension(0);
    extension->SetSite(&selection);
    extension->QueryContextMenu(&menu, 0, 100);
    const CMINVOKECOMMANDINFO info{
        sizeof(CMINVOKECOMMANDINFO), 0, &window, kPlayVoicemail, nullptr, nullptr, 0};
    extension->InvokeCommand(&info);
    extension->SetSite(nullptr);
    extension->Release();
    if (selection.refs != 1)
        std::abort();  // every reference taken on the site is given back
    return 0;
}
