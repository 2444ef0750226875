// The Inbox menu extension: one command, "Play voicemail", in the messaging
// host's list view, read view and list view context menus. It is enabled when
// the selected message is a voicemail by the store's one rule
// (store/recording_rule, the only part of Lyrabell it links); choosing it
// stores the message's entry identifier in "MsgEntryID" and starts the
// launcher with "<OID>".
#pragma once

#include "platform/com/com.h"

#include <QString>

#include <atomic>
#include <cstdint>

namespace lyb::inboxext {

inline constexpr const char* kPlayVoicemail = "Play voicemail";

// Live extension objects plus server locks; the library may unload at 0.
extern std::atomic<int32_t> g_moduleCount;

class CInboxMenuExtension;

// The secondary interface; each IUnknown call goes to the primary one.
class CContextMenuPart final : public com::IContextMenu {
public:
    explicit CContextMenuPart(CInboxMenuExtension& owner) : owner_(owner) {}
    com::HRESULT QueryInterface(com::REFIID iid, void** object) override;
    uint32_t AddRef() override;
    uint32_t Release() override;
    com::HRESULT QueryContextMenu(com::HMENU menu, uint32_t position, uint32_t firstId,
                                  uint32_t lastId, uint32_t flags) override;
    com::HRESULT InvokeCommand(com::CMINVOKECOMMANDINFO* info) override;
    com::HRESULT GetCommandString(uintptr_t id, uint32_t type, uint32_t* reserved, char* name,
                                  uint32_t size) override;

private:
    CInboxMenuExtension& owner_;
};

// One per menu the host builds. Starts with one reference; deletes itself at 0.
class CInboxMenuExtension : public com::IObjectWithSite {
public:
    // mode: 0 or 1 behave alike; any other value makes every menu call do nothing.
    explicit CInboxMenuExtension(uint32_t mode);
    virtual ~CInboxMenuExtension();

    com::HRESULT QueryInterface(com::REFIID iid, void** object) override;
    uint32_t AddRef() override;
    uint32_t Release() override;
    com::HRESULT SetSite(com::IUnknown* site) override;
    com::HRESULT GetSite(com::REFIID iid, void** site) override;

    com::HRESULT QueryContextMenu(com::HMENU menu, uint32_t position, uint32_t firstId);
    com::HRESULT InvokeCommand(const com::CMINVOKECOMMANDINFO* info);
    com::HRESULT GetCommandString(uintptr_t id, char* name, uint32_t size) const;

private:
    bool validMode() const { return mode_ == 0 || mode_ == 1; }
    // The selection block from the site's data object, owned by medium;
    // E_FAIL without site, data object or data.
    com::HRESULT readSelection(com::STGMEDIUM& medium) const;
    bool selectionIsVoicemail() const;
    com::HRESULT play(com::HWND owner) const;

    std::atomic<uint32_t> refs_{1};
    com::IUnknown* site_ = nullptr;
    uint32_t commandId_ = 0;
    uint32_t mode_;
    CContextMenuPart contextMenu_{*this};
};

class CInboxMenuExtensionFactory final : public com::IClassFactory {
public:
    explicit CInboxMenuExtensionFactory(uint32_t mode) : mode_(mode) {}
    com::HRESULT QueryInterface(com::REFIID iid, void** object) override;
    uint32_t AddRef() override;
    uint32_t Release() override;
    com::HRESULT CreateInstance(com::IUnknown* outer, com::REFIID iid, void** object) override;
    com::HRESULT LockServer(int lock) override;

private:
    uint32_t refs_ = 1;
    uint32_t mode_;
};

}  // namespace lyb::inboxext
