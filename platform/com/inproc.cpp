#include "platform/com/inproc.h"

#include "platform/registry/registry.h"

#include <QFile>

#include <dlfcn.h>

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

std::unique_ptr<CServerModule> CServerModule::load(const QString& path, QString* error) {
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
