// lyminbox: the messaging host's side of the menu extensions, for mail
// programs on this system. Given one message it builds the selection a
// handheld's Inbox hands its extensions (the message, then the folder it is
// in), loads every extension registered for the list view, lets each add its
// items to a menu of ours, and then prints the menu or invokes one item.
//
//   lyminbox --menu [FILE]             the items, one a line: text TAB enabled|greyed
//   lyminbox --invoke TEXT [FILE]      chooses the item named TEXT
//   lyminbox --register | --unregister the extension library beside this program
//
// FILE is a message file in a Maildir (cur/ or new/). Without FILE the raw
// message is read from standard input, as mail programs pipe it, to its end
// before anything else, and found in the configured accounts by its
// Message-ID. Exit status: 0 done, 1 the item
// is greyed or missing, 2 bad usage or no such message.
#include "inboxext/host_menu.h"
#include "inboxext/item_refs.h"
#include "inboxext/message_id.h"
#include "platform/com/inproc.h"
#include "platform/files/file_names.h"
#include "platform/files/regular_file.h"
#include "platform/mapi/maildir_provider.h"
#include "platform/paths/paths.h"
#include "platform/registry/registry.h"

#include <QCoreApplication>
#include <QDir>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

using namespace lyb;
using namespace lyb::com;
using namespace lyb::inboxext;

namespace {

// The type of the second item: the folder the message is in (the Maildir path).
constexpr GUID kFolderType{
    0x5E4D3C2B, 0x1A09, 0x4F8E, {0x9D, 0x7C, 0x6B, 0x5A, 0x49, 0x38, 0x27, 0x16}};
constexpr uint64_t kMaxHeaderBytes = 256 * 1024;
constexpr uint32_t kIdsPerExtension = 100;

void fail(const QString& text) {
    std::fprintf(stderr, "lyminbox: %s\n", text.toLocal8Bit().constData());
}

// Paths are file names as the system keeps them, bytes that need not be
// UTF-8; they are carried as QStrings by the lossless file-name codec, the
// one the Maildir provider reads its entry identifiers with.
struct Located {
    QString maildir;
    QString unique;
};

// A message file's Maildir and unique name, when it lies in cur/ or new/.
std::optional<Located> locateFile(const QString& path) {
    struct stat st {};
    if (::stat(files::encodeFileName(path).constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    QString absolute = path;
    if (!path.startsWith(u'/')) {
        const std::unique_ptr<char, decltype(&std::free)> cwd(::getcwd(nullptr, 0), &std::free);
        if (!cwd)
            return std::nullopt;
        absolute = files::decodeFileName(cwd.get()) + u'/' + path;
    }
    absolute = QDir::cleanPath(absolute);
    const QString sub = absolute.section(u'/', 0, -2);
    const QString subName = sub.section(u'/', -1);
    if (subName != QLatin1String("cur") && subName != QLatin1String("new"))
        return std::nullopt;
    return Located{sub.section(u'/', 0, -2), absolute.section(u'/', -1).section(u':', 0, 0)};
}

using inboxext::messageId;

// Calls each(folderFd, name) for the entries of the folder at path but "."
// and "..", until each returns true; returns whether it did.
template <class Each>
bool forEachEntry(const QString& path, Each each) {
    const int fd = ::open(files::encodeFileName(path).constData(),
                          O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return false;
    DIR* dir = ::fdopendir(fd);
    if (!dir) {
        ::close(fd);
        return false;
    }
    bool stopped = false;
    while (const dirent* e = ::readdir(dir)) {
        if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0 &&
            each(::dirfd(dir), e->d_name)) {
            stopped = true;
            break;
        }
    }
    ::closedir(dir);
    return stopped;
}

// Looks for the message with id in every account's Maildir and its Maildir++
// folders; only the header part of each file is read. Only regular files are
// opened: a FIFO or a device (or a symlink to one) planted in a Maildir is
// passed over instead of blocking the search or being read without end.
std::optional<Located> findByMessageId(const QByteArray& id) {
    for (const auto& account : mapi::loadAccounts()) {
        if (account.maildir.isEmpty())
            continue;
        QStringList maildirs{account.maildir};
        forEachEntry(account.maildir, [&](int folder, const char* name) {
            struct stat st {};
            if (name[0] == '.' && ::fstatat(folder, name, &st, 0) == 0 && S_ISDIR(st.st_mode))
                maildirs << account.maildir + u'/' + files::decodeFileName(name);
            return false;
        });
        for (const QString& maildir : maildirs)
            for (const char* part : {"cur", "new"}) {
                std::optional<Located> found;
                forEachEntry(
                    maildir + u'/' + QLatin1String(part), [&](int folder, const char* name) {
                        if (name[0] == '.')
                            return false;
                        int error = 0;
                        uint64_t size = 0;
                        const int fd = files::openRegularFileAt(folder, name, &error, &size);
                        if (fd < 0)
                            return false;
                        QByteArray head;
                        const int read = files::readOpenedFile(fd, size, kMaxHeaderBytes, head,
                                                               files::Oversize::keepPrefix);
                        if ((read != 0 && read != EFBIG) || messageId(head) != id)
                            return false;
                        found = Located{maildir, files::decodeFileName(name).section(u':', 0, 0)};
                        return true;
                    });
                if (found)
                    return found;
            }
    }
    return std::nullopt;
}

// The site the extensions get: its data object gives the selection block.
// It lives for the whole run, on main's stack; the counts only record.
class Selection final : public IDataObject {
public:
    Selection(QByteArray message, QByteArray folder)
        : message_(std::move(message)), folder_(std::move(folder)) {
        refs_[0] = {uint32_t(message_.size()),
                    reinterpret_cast<const uint8_t*>(message_.constData())};
        refs_[1] = {uint32_t(folder_.size()),
                    reinterpret_cast<const uint8_t*>(folder_.constData())};
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
    HRESULT GetData(FORMATETC* format, STGMEDIUM* medium) override {
        if (!format || !medium ||
            format->cfFormat != RegisterClipboardFormat(kItemRefArrayFormat) ||
            !(format->tymed & TYMED_HGLOBAL))
            return E_FAIL;
        void* block = std::calloc(1, kItemsOffset + 2 * sizeof(ItemRef));
        if (!block)
            return E_OUTOFMEMORY;
        *static_cast<uint32_t*>(block) = 2;
        auto* items = reinterpret_cast<ItemRef*>(static_cast<char*>(block) + kItemsOffset);
        items[0] = {&kMessageType, &refs_[0]};
        items[1] = {&kFolderType, &refs_[1]};
        *medium = {TYMED_HGLOBAL, block, nullptr};
        return S_OK;
    }
    uint32_t refs = 1;

private:
    QByteArray message_;
    QByteArray folder_;
    MessageRef refs_[2];
};

// The extensions registered for the list view, each as its menu interface.
std::vector<IContextMenu*> loadExtensions(CServerModules& modules, IUnknown* site, HostMenu& menu) {
    std::vector<IContextMenu*> loaded;
    const auto key = reg::Key::open(reg::Hive::LocalMachine, QString::fromLatin1(kExtensionsKey) +
                                                                 QStringLiteral("\\List_View"));
    if (!key)
        return loaded;
    uint32_t nextId = 1;
    for (const QString& name : key->subkeys()) {
        const auto clsid = parseGuid(name.toStdString());
        if (!clsid)
            continue;
        QString error;
        void* object = nullptr;
        if (Failed(modules.getClassObject(*clsid, IID_IClassFactory, &object, &error)) || !object) {
            fail(QStringLiteral("extension %1 not loaded: %2").arg(name, error));
            continue;
        }
        auto* factory = static_cast<IClassFactory*>(object);
        void* created = nullptr;
        const HRESULT hr = factory->CreateInstance(nullptr, IID_IObjectWithSite, &created);
        factory->Release();
        if (Failed(hr) || !created)
            continue;
        auto* withSite = static_cast<IObjectWithSite*>(created);
        withSite->SetSite(site);
        void* contextMenu = nullptr;
        withSite->QueryInterface(IID_IContextMenu, &contextMenu);
        withSite->Release();
        if (!contextMenu)
            continue;
        auto* extension = static_cast<IContextMenu*>(contextMenu);
        extension->QueryContextMenu(&menu, uint32_t(menu.items.size()), nextId,
                                    nextId + kIdsPerExtension - 1, 0);
        loaded.push_back(extension);
        nextId += kIdsPerExtension;
    }
    return loaded;
}

int registration(bool add) {
    const QString path = paths::program_folder() + QStringLiteral("/liblyminboxextension.so");
    QString error;
    const auto module = CServerModule::load(path, &error);
    if (!module) {
        fail(error);
        return 2;
    }
    if (Failed(add ? module->registerServer() : module->unregisterServer())) {
        fail(add ? QStringLiteral("the extension could not be registered")
                 : QStringLiteral("the extension was not (fully) registered"));
        return 1;
    }
    return 0;
}

// Reads standard input to its end, keeping its first kMaxHeaderBytes in head.
// The mail program writing the message waits until it is all taken: what
// was left in the pipe would hold it up until whoever still had the pipe
// open (Lyrabell, started from here) ended.
bool readWholeInput(QByteArray& head) {
    char buffer[64 * 1024];
    for (;;) {
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n == 0)
            return true;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        const qsizetype room = qsizetype(kMaxHeaderBytes) - head.size();
        if (room > 0)
            head.append(buffer, std::min<qsizetype>(room, n));
    }
}

void usage() {
    std::fputs(
        "usage: lyminbox --menu [FILE]\n"
        "       lyminbox --invoke TEXT [FILE]\n"
        "       lyminbox --register | --unregister\n"
        "FILE is a message file in a Maildir; without it the message is read from\n"
        "standard input and found in the accounts by its Message-ID.\n",
        stderr);
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.value(0) == QLatin1String("--register") && args.size() == 1)
        return registration(true);
    if (args.value(0) == QLatin1String("--unregister") && args.size() == 1)
        return registration(false);
    if (args.value(0) == QLatin1String("--help")) {
        usage();
        return 0;
    }
    const bool invoke = args.value(0) == QLatin1String("--invoke");
    const qsizetype fileAt = invoke ? 2 : 1;
    if ((!invoke && args.value(0) != QLatin1String("--menu")) || (invoke && args.size() < 2) ||
        args.size() > fileAt + 1) {
        usage();
        return 2;
    }

    std::optional<Located> found;
    if (args.size() == fileAt + 1) {
        // The file's name from its bytes: the arguments as QStrings have lost
        // those that are not UTF-8.
        const char* file = argv[argc - 1];
        found = locateFile(files::decodeFileName(file));
        if (!found) {
            std::fprintf(stderr, "lyminbox: %s is not a message file in a Maildir\n", file);
            return 2;
        }
    } else {
        QByteArray head;
        if (!readWholeInput(head)) {
            fail(QStringLiteral("cannot read standard input"));
            return 2;
        }
        const QByteArray id = messageId(head);
        if (id.isEmpty()) {
            fail(QStringLiteral("the message on standard input has no Message-ID"));
            return 2;
        }
        found = findByMessageId(id);
        if (!found) {
            fail(QStringLiteral("message <%1> is in none of the accounts")
                     .arg(QString::fromLatin1(id)));
            return 2;
        }
    }

    Selection selection(mapi::messageEntryId(found->maildir, found->unique),
                        files::encodeFileName(found->maildir));
    CServerModules modules;
    HostMenu menu;
    std::vector<IContextMenu*> extensions = loadExtensions(modules, &selection, menu);

    int status = 0;
    if (!invoke) {
        for (const auto& item : menu.items)
            std::printf("%s\t%s\n", item.text.toUtf8().constData(),
                        item.enabled ? "enabled" : "greyed");
    } else {
        const QString& text = args[1];
        const auto item = std::find_if(menu.items.begin(), menu.items.end(),
                                       [&](const auto& i) { return i.text == text; });
        if (item == menu.items.end()) {
            fail(QStringLiteral("no extension offers \"%1\"").arg(text));
            status = 1;
        } else if (!item->enabled) {
            fail(QStringLiteral("\"%1\" is greyed for this message: its extension does not take it "
                                "(not a voicemail?)")
                     .arg(text));
            status = 1;
        } else {
            const size_t owner = (item->id - 1) / kIdsPerExtension;
            const QByteArray verb = text.toUtf8();
            CMINVOKECOMMANDINFO info{sizeof info, 0,       nullptr, verb.constData(),
                                     nullptr,     nullptr, 1};
            if (owner < extensions.size() && Failed(extensions[owner]->InvokeCommand(&info))) {
                fail(QStringLiteral("\"%1\" failed").arg(text));
                status = 1;
            }
        }
    }
    for (IContextMenu* extension : extensions) {
        void* withSite = nullptr;
        if (Succeeded(extension->QueryInterface(IID_IObjectWithSite, &withSite)) && withSite) {
            static_cast<IObjectWithSite*>(withSite)->SetSite(nullptr);
            static_cast<IObjectWithSite*>(withSite)->Release();
        }
        extension->Release();
    }
    modules.freeUnusedLibraries();
    return status;
}
