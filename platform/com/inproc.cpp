#include "platform/com/inproc.h"

#include "platform/paths/private_files.h"
#include "platform/registry/registry.h"

#include <QFile>

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace lyb::com {

std::optional<QString> inprocServerPath(REFCLSID clsid) {
    const auto key = reg::Key::open(
        reg::Hive::ClassesRoot,
        QStringLiteral("CLSID\\%1\\InprocServer32").arg(QString::fromStdString(guidText(clsid))));
    if (!key)
        return std::nullopt;
    auto path = key->readString(QString());
    if (!path || path->isEmpty())
        return std::nullopt;
    return path;
}

namespace {

// A library runs with the loading program's rights, so only one that no other
// user could have changed is loaded: named by an absolute path (a bare or
// relative name would be searched for, or taken from the working folder), a
// regular file (a FIFO would hang the loader), this user's or root's, and not
// writable by others. Returns the fault, empty when it may be loaded.
QString unloadable(const QString& path) {
    if (!path.startsWith(QLatin1Char('/')))
        return QStringLiteral("%1: not an absolute path").arg(path);
    // Opened without waiting, so a FIFO is seen for what it is.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return QStringLiteral("%1: %2").arg(path, QString::fromLocal8Bit(std::strerror(errno)));
    struct stat st {};
    QString why;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        why = QStringLiteral("not a regular file");
    else
        why = paths::untrustedBecause(fd, paths::Owner::UserOrRoot, paths::Writers::OwnerAndGroup);
    ::close(fd);
    return why.isEmpty() ? why : QStringLiteral("%1 is not loaded: %2").arg(path, why);
}

}  // namespace

std::unique_ptr<CServerModule> CServerModule::load(const QString& path, QString* error) {
    if (const QString why = unloadable(path); !why.isEmpty()) {
        if (error)
            *error = why;
        return nullptr;
    }
    void* handle = dlopen(QFile::encodeName(path).constData(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        if (error)
            *error = QString::fromLocal8Bit(dlerror());
        return nullptr;
    }
    if (!dlsym(handle, "DllGetClassObject") || !dlsym(handle, "DllCanUnloadNow")) {
        if (error)
            *error = QStringLiteral("%1: not an in-process server").arg(path);
        dlclose(handle);
        return nullptr;
    }
    return std::unique_ptr<CServerModule>(new CServerModule(handle, path));
}

CServerModule::~CServerModule() {
    dlclose(handle_);
}

HRESULT CServerModule::getClassObject(REFCLSID clsid, REFIID iid, void** object) const {
    const auto get = reinterpret_cast<PFN_DllGetClassObject>(dlsym(handle_, "DllGetClassObject"));
    return get(clsid, iid, object);
}

bool CServerModule::canUnloadNow() const {
    const auto can = reinterpret_cast<PFN_DllCanUnloadNow>(dlsym(handle_, "DllCanUnloadNow"));
    return can() == S_OK;
}

HRESULT CServerModule::registerServer() const {
    const auto fn = reinterpret_cast<PFN_DllRegisterServer>(dlsym(handle_, "DllRegisterServer"));
    return fn ? fn() : E_FAIL;
}

HRESULT CServerModule::unregisterServer() const {
    const auto fn = reinterpret_cast<PFN_DllRegisterServer>(dlsym(handle_, "DllUnregisterServer"));
    return fn ? fn() : E_FAIL;
}

HRESULT CServerModules::getClassObject(REFCLSID clsid, REFIID iid, void** object, QString* error) {
    if (object)
        *object = nullptr;
    const auto path = inprocServerPath(clsid);
    if (!path) {
        if (error)
            *error =
                QStringLiteral("%1 is not registered").arg(QString::fromStdString(guidText(clsid)));
        return CLASS_E_CLASSNOTAVAILABLE;
    }
    CServerModule* module = nullptr;
    for (const auto& loaded : modules_)
        if (loaded->path() == *path)
            module = loaded.get();
    if (!module) {
        auto loaded = CServerModule::load(*path, error);
        if (!loaded)
            return CLASS_E_CLASSNOTAVAILABLE;
        module = loaded.get();
        modules_.push_back(std::move(loaded));
    }
    return module->getClassObject(clsid, iid, object);
}

void CServerModules::freeUnusedLibraries() {
    std::erase_if(modules_, [](const auto& module) { return module->canUnloadNow(); });
}

}  // namespace lyb::com
