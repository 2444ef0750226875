// In-process servers: libraries registered under
// HKCR\CLSID\{class id}\InprocServer32 (the default value is the library's
// full path) and loaded with dlopen. A server exports, with C linkage,
// DllGetClassObject, DllCanUnloadNow, DllRegisterServer and DllUnregisterServer.
#pragma once

#include "platform/com/com.h"

#include <QString>

#include <memory>
#include <optional>
#include <vector>

namespace lyb::com {

using PFN_DllGetClassObject = HRESULT (*)(REFCLSID, REFIID, void**);
using PFN_DllCanUnloadNow = HRESULT (*)();
using PFN_DllRegisterServer = HRESULT (*)();

// The library path registered for a class id; nullopt when none is registered.
std::optional<QString> inprocServerPath(REFCLSID clsid);

// One loaded server library. It is unloaded (dlclose) when destroyed, so
// keep it while any object it made is alive.
class CServerModule {
public:
    // Loads the library at path (RTLD_NOW, its symbols kept local). Null with
    // *error (when given) set to the loader's text when it cannot be loaded or
    // lacks DllGetClassObject or DllCanUnloadNow, and to the reason when it is
    // refused: path must be absolute and name a regular file of this user or
    // root that others (outside its group) may not write.
    static std::unique_ptr<CServerModule> load(const QString& path, QString* error = nullptr);
    ~CServerModule();
    CServerModule(const CServerModule&) = delete;
    CServerModule& operator=(const CServerModule&) = delete;

    const QString& path() const { return path_; }
    HRESULT getClassObject(REFCLSID clsid, REFIID iid, void** object) const;
    // True when DllCanUnloadNow answers S_OK.
    bool canUnloadNow() const;
    // E_FAIL when the library does not export the function.
    HRESULT registerServer() const;
    HRESULT unregisterServer() const;

private:
    CServerModule(void* handle, QString path) : handle_(handle), path_(std::move(path)) {}
    void* handle_;
    QString path_;
};

// The servers a host has loaded, each once.
class CServerModules {
public:
    // Finds the class's library in the registry, loads it when not yet loaded
    // and asks it for the class object. CLASS_E_CLASSNOTAVAILABLE when no
    // library is registered or it cannot be loaded (the reason in *error).
    HRESULT getClassObject(REFCLSID clsid, REFIID iid, void** object, QString* error = nullptr);
    // Unloads every library whose DllCanUnloadNow says it may go.
    void freeUnusedLibraries();
    size_t loadedCount() const { return modules_.size(); }

private:
    std::vector<std::unique_ptr<CServerModule>> modules_;
};

}  // namespace lyb::com
