#include "inboxext/inbox_extension.h"

#include "inboxext/item_refs.h"
#include "platform/desktop/hand_over.h"
#include "platform/mapi/mapi.h"
#include "platform/names/names.h"
#include "platform/registry/registry.h"
#include "store/recording_rule.h"

#include <QFile>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>

namespace lyb::inboxext {

using namespace com;

std::atomic<int32_t> g_moduleCount{0};

namespace {

const QString kSettingsKey = QString::fromLatin1(names::kSettingsKey);
constexpr size_t kMaxInstallDirBytes = 260;

// Starts program with one argument, without a shell and without waiting for
// it. The program is started by a short-lived child, so it is nobody's child
// here and no thread of this library has to wait for it: a host may unload
// the library as soon as the command returns. The result is not reported;
// nobody acts on it beyond knowing whether the child was made.
bool startDetached(const QString& program, const QString& argument) {
    const QByteArray path = QFile::encodeName(program);
    const QByteArray arg = argument.toUtf8();
    char* const argv[] = {const_cast<char*>(path.constData()), const_cast<char*>(arg.constData()),
                          nullptr};
    const pid_t child = ::fork();
    if (child == 0) {
        // Only async-signal-safe calls between fork and exec.
        if (::fork() == 0) {
            // Not the host's standard input: a mail program's pipe would
            // stay open, the mail program waiting, while the program lives.
            const int null = ::open("/dev/null", O_RDONLY);
            if (null >= 0 && null != STDIN_FILENO) {
                ::dup2(null, STDIN_FILENO);
                ::close(null);
            }
            ::execv(argv[0], argv);
            ::_exit(127);
        }
        ::_exit(0);
    }
    if (child > 0) {
        int status = 0;
        while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
        }
    }
    return child > 0;
}

}  // namespace

// --- the secondary interface ---

HRESULT CContextMenuPart::QueryInterface(REFIID iid, void** object) {
    return owner_.QueryInterface(iid, object);
}
uint32_t CContextMenuPart::AddRef() {
    return owner_.AddRef();
}
uint32_t CContextMenuPart::Release() {
    return owner_.Release();
}
HRESULT CContextMenuPart::QueryContextMenu(HMENU menu, uint32_t position, uint32_t firstId,
                                           uint32_t, uint32_t) {
    return owner_.QueryContextMenu(menu, position, firstId);
}
HRESULT CContextMenuPart::InvokeCommand(CMINVOKECOMMANDINFO* info) {
    return owner_.InvokeCommand(info);
}
HRESULT CContextMenuPart::GetCommandString(uintptr_t id, uint32_t, uint32_t*, char* name,
                                           uint32_t size) {
    return owner_.GetCommandString(id, name, size);
}

// --- the extension object ---

CInboxMenuExtension::CInboxMenuExtension(uint32_t mode) : mode_(mode) {
    ++g_moduleCount;
}

CInboxMenuExtension::~CInboxMenuExtension() {
    if (site_)
        site_->Release();
    --g_moduleCount;
}

HRESULT CInboxMenuExtension::QueryInterface(REFIID iid, void** object) {
    if (!object)
        return E_INVALIDARG;
    if (iid == IID_IUnknown || iid == IID_IObjectWithSite)
        *object = static_cast<IObjectWithSite*>(this);
    else if (iid == IID_IContextMenu)
        *object = static_cast<IContextMenu*>(&contextMenu_);
    else {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

uint32_t CInboxMenuExtension::AddRef() {
    return ++refs_;
}

uint32_t CInboxMenuExtension::Release() {
    const uint32_t left = --refs_;
    if (left == 0)
        delete this;
    return left;
}

HRESULT CInboxMenuExtension::SetSite(IUnknown* site) {
    if (site_)
        site_->Release();
    site_ = site;
    if (site_)
        site_->AddRef();
    return S_OK;
}

HRESULT CInboxMenuExtension::GetSite(REFIID iid, void** site) {
    if (!site_) {
        if (site)
            *site = nullptr;
        return E_FAIL;
    }
    return site_->QueryInterface(iid, site);
}

HRESULT CInboxMenuExtension::GetCommandString(uintptr_t id, char* name, uint32_t size) const {
    if (!name)
        return E_INVALIDARG;
    if (!validMode() || id != commandId_)
        return E_INVALIDARG;
    if (size == 0)
        return S_OK;
    const size_t length = std::min<size_t>(std::strlen(kPlayVoicemail), size - 1);
    std::memcpy(name, kPlayVoicemail, length);
    name[length] = '\0';
    return S_OK;
}

HRESULT CInboxMenuExtension::QueryContextMenu(HMENU menu, uint32_t position, uint32_t firstId) {
    commandId_ = firstId;
    if (!validMode())
        return S_OK;
    char text[30];
    if (const HRESULT hr = GetCommandString(commandId_, text, sizeof text); Failed(hr))
        return hr;
    if (!InsertMenu(menu, position, MF_BYPOSITION | MF_STRING, commandId_, text))
        return E_FAIL;
    EnableMenuItem(menu, commandId_,
                   MF_BYCOMMAND | (selectionIsVoicemail() ? MF_ENABLED : MF_GRAYED));
    return S_OK;
}

HRESULT CInboxMenuExtension::InvokeCommand(const CMINVOKECOMMANDINFO* info) {
    if (!info || !info->lpVerb)
        return S_OK;
    if (!validMode() || std::strcmp(info->lpVerb, kPlayVoicemail) != 0)
        return E_INVALIDARG;
    return play(info->hwnd);
}

HRESULT CInboxMenuExtension::readSelection(STGMEDIUM& medium) const {
    medium = {};
    if (!site_)
        return E_FAIL;
    void* object = nullptr;
    if (Failed(site_->QueryInterface(IID_IDataObject, &object)) || !object)
        return E_FAIL;
    auto* data = static_cast<IDataObject*>(object);
    FORMATETC format{RegisterClipboardFormat(kItemRefArrayFormat), nullptr, DVASPECT_CONTENT, -1,
                     TYMED_HGLOBAL};
    const HRESULT hr = data->GetData(&format, &medium);
    data->Release();
    if (Failed(hr) || medium.tymed != TYMED_HGLOBAL || !medium.hGlobal) {
        ReleaseStgMedium(&medium);
        return E_FAIL;
    }
    return S_OK;
}

namespace {

// Releases the medium however the check ends.
struct MediumGuard {
    STGMEDIUM medium{};
    ~MediumGuard() { ReleaseStgMedium(&medium); }
};

// The store's one rule decides, as it does for Lyrabell's list and the
// Today item's count.
bool messageLooksLikeVoicemail(const QByteArray& entryId) {
    std::unique_ptr<mapi::IMAPISession> session;
    if (mapi::Failed(mapi::MAPILogonEx(0, session)) || !session)
        return false;
    uint32_t type = 0;
    std::unique_ptr<mapi::IMAPIProp> object;
    if (mapi::Failed(session->OpenEntry(entryId, 0, &type, object)) || !object)
        return false;
    auto* message = dynamic_cast<mapi::IMessage*>(object.get());
    return message && store::is_voicemail(*message);
}

}  // namespace

bool CInboxMenuExtension::selectionIsVoicemail() const {
    MediumGuard guard;
    if (Failed(readSelection(guard.medium)))
        return false;
    const void* block = guard.medium.hGlobal;
    if (itemCount(block) != 2)
        return false;
    const ItemRef* item = &items(block)[0];
    if (!item->type || *item->type != kMessageType)
        item = &items(block)[1];
    if (!item->type || *item->type != kMessageType || !item->ref)
        return false;
    const auto* ref = static_cast<const MessageRef*>(item->ref);
    if (ref->count == 0 || !ref->bytes)
        return false;
    return messageLooksLikeVoicemail(
        QByteArray(reinterpret_cast<const char*>(ref->bytes), static_cast<qsizetype>(ref->count)));
}

HRESULT CInboxMenuExtension::play(HWND owner) const {
    MediumGuard guard;
    if (Failed(readSelection(guard.medium)))
        return E_FAIL;
    const void* block = guard.medium.hGlobal;
    const MessageRef* ref = nullptr;
    for (uint32_t i = 0; i < itemCount(block) && !ref; ++i)
        if (items(block)[i].type && *items(block)[i].type == kMessageType)
            ref = static_cast<const MessageRef*>(items(block)[i].ref);
    if (!ref)
        return S_OK;

    const auto settings = reg::Key::open(reg::Hive::CurrentUser, kSettingsKey);
    const auto installDir =
        settings ? settings->readString(QString::fromLatin1(names::kInstallDir)) : std::nullopt;
    if (!installDir || installDir->isEmpty() ||
        installDir->toUtf8().size() > qsizetype(kMaxInstallDirBytes)) {
        MessageBox(owner,
                   "Cannot find Lyrabell application. Please reinstall the application to fix this "
                   "error.",
                   "Lyrabell", MB_OK | MB_ICONSTOP);
        return S_OK;
    }
    const QString launcher =
        *installDir + QLatin1Char('/') + QLatin1String(names::kLauncherProgram);

    const QByteArray entryId = ref->bytes ? QByteArray(reinterpret_cast<const char*>(ref->bytes),
                                                       static_cast<qsizetype>(ref->count))
                                          : QByteArray();
    // Under the hand-over lock, so that a request another program is handing
    // over is taken before "MsgEntryID" changes under it. A library in the
    // host's process stays off the session bus: the launcher it starts finds
    // a running Lyrabell or starts one.
    desktop::handOverRequest(
        {QString::fromLatin1(names::kStoredMessageRequest), entryId, [] { return false; },
         [&launcher](const QString& request) { return startDetached(launcher, request); }});
    return S_OK;
}

// --- the factory ---

HRESULT CInboxMenuExtensionFactory::QueryInterface(REFIID iid, void** object) {
    if (!object)
        return E_INVALIDARG;
    if (iid != IID_IUnknown && iid != IID_IClassFactory) {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    *object = static_cast<IClassFactory*>(this);
    AddRef();
    return S_OK;
}

uint32_t CInboxMenuExtensionFactory::AddRef() {
    return ++refs_;
}

uint32_t CInboxMenuExtensionFactory::Release() {
    const uint32_t left = --refs_;
    if (left == 0)
        delete this;
    return left;
}

HRESULT CInboxMenuExtensionFactory::CreateInstance(IUnknown* outer, REFIID iid, void** object) {
    if (object)
        *object = nullptr;
    if (outer)
        return CLASS_E_NOAGGREGATION;
    auto* extension = new (std::nothrow) CInboxMenuExtension(mode_);
    if (!extension)
        return E_OUTOFMEMORY;
    const HRESULT hr = extension->QueryInterface(iid, object);
    extension->Release();
    return hr;
}

HRESULT CInboxMenuExtensionFactory::LockServer(int lock) {
    if (lock)
        ++g_moduleCount;
    else
        --g_moduleCount;
    return S_OK;
}

}  // namespace lyb::inboxext
