// The four entry points of the library, the only symbols it exports.
#include "inboxext/inbox_extension.h"
#include "inboxext/item_refs.h"
#include "platform/registry/registry.h"

#include <QFile>

#include <dlfcn.h>

#include <new>

using namespace lyb;
using namespace lyb::com;
using namespace lyb::inboxext;

#define LYB_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

const QString kDescription = QStringLiteral("Tavolin Softkey Menu");

QString clsidKey(REFCLSID clsid) {
    return QStringLiteral("CLSID\\") + QString::fromStdString(guidText(clsid));
}

QString extensionKey(const char* point, REFCLSID clsid) {
    return QStringLiteral("%1\\%2\\%3")
        .arg(QString::fromLatin1(kExtensionsKey), QString::fromLatin1(point),
             QString::fromStdString(guidText(clsid)));
}

// This library's own file, as the loader found it; empty when unknown.
QString libraryPath() {
    Dl_info info{};
    if (!dladdr(reinterpret_cast<void*>(&libraryPath), &info) || !info.dli_fname)
        return QString();
    return QFile::decodeName(info.dli_fname);
}

bool writeDefault(reg::Hive hive, const QString& path, const QString& text) {
    const auto key = reg::Key::create(hive, path);
    return key && key->writeString(QString(), text);
}

}  // namespace

LYB_EXPORT HRESULT DllGetClassObject(REFCLSID clsid, REFIID iid, void** object) {
    if (object)
        *object = nullptr;
    uint32_t mode;
    if (clsid == kMenuExtensionClass)
        mode = 1;
    else if (clsid == kContextMenuExtensionClass)
        mode = 0;
    else
        return CLASS_E_CLASSNOTAVAILABLE;
    auto* factory = new (std::nothrow) CInboxMenuExtensionFactory(mode);
    if (!factory)
        return E_OUTOFMEMORY;
    const HRESULT hr = factory->QueryInterface(iid, object);
    factory->Release();
    return hr;
}

LYB_EXPORT HRESULT DllCanUnloadNow() {
    return g_moduleCount == 0 ? S_OK : S_FALSE;
}

LYB_EXPORT HRESULT DllRegisterServer() {
    const QString library = libraryPath();
    if (library.isEmpty())
        return E_FAIL;
    const auto classKeys = [&](REFCLSID clsid) {
        return writeDefault(reg::Hive::ClassesRoot, clsidKey(clsid), kDescription) &&
               writeDefault(reg::Hive::ClassesRoot,
                            clsidKey(clsid) + QStringLiteral("\\InprocServer32"), library);
    };
    const auto point = [&](const char* name, REFCLSID clsid) {
        return writeDefault(reg::Hive::LocalMachine, extensionKey(name, clsid), kDescription);
    };
    const bool done = classKeys(kMenuExtensionClass) && point("List_View", kMenuExtensionClass) &&
                      classKeys(kContextMenuExtensionClass) &&
                      point("List_View_Context", kContextMenuExtensionClass) &&
                      point("Read_View", kMenuExtensionClass);
    return done ? S_OK : E_FAIL;
}

LYB_EXPORT HRESULT DllUnregisterServer() {
    const QString inproc = QStringLiteral("\\InprocServer32");
    const bool done =
        reg::Key::remove(reg::Hive::ClassesRoot, clsidKey(kMenuExtensionClass) + inproc) &&
        reg::Key::remove(reg::Hive::ClassesRoot, clsidKey(kMenuExtensionClass)) &&
        reg::Key::remove(reg::Hive::ClassesRoot, clsidKey(kContextMenuExtensionClass) + inproc) &&
        reg::Key::remove(reg::Hive::ClassesRoot, clsidKey(kContextMenuExtensionClass)) &&
        reg::Key::remove(reg::Hive::LocalMachine, extensionKey("List_View", kMenuExtensionClass)) &&
        reg::Key::remove(reg::Hive::LocalMachine,
                         extensionKey("List_View_Context", kContextMenuExtensionClass)) &&
        reg::Key::remove(reg::Hive::LocalMachine, extensionKey("Read_View", kMenuExtensionClass));
    return done ? S_OK : E_FAIL;
}
