#include "platform/com/com.h"
#include "platform/com/inproc.h"
#include "platform/registry/registry.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <sys/stat.h>
#include <unistd.h>

#include <vector>

using namespace lyb;
using namespace lyb::com;

namespace {

constexpr CLSID kServerClass{
    0x11112222, 0x3333, 0x4444, {0x55, 0x66, 0x77, 0x88, 0x99, 0xAA, 0xBB, 0xCC}};

TEST(Guid, TextRoundTripAndRejects) {
    EXPECT_EQ(guidText(IID_IObjectWithSite), "{FC4801A3-2BA9-11CF-A229-00AA003D7352}");
    const auto lower = parseGuid("{934366f1-2b2f-4e89-b92c-3733f3b23b7f}");
    ASSERT_TRUE(lower);
    EXPECT_EQ(guidText(*lower), "{934366F1-2B2F-4E89-B92C-3733F3B23B7F}");
    EXPECT_EQ(parseGuid(guidText(kServerClass)), kServerClass);
    for (const char* bad :
         {"", "934366F1-2B2F-4e89-B92C-3733F3B23B7F", "{934366F1-2B2F-4e89-B92C-3733F3B23B7}",
          "{934366F1-2B2F-4e89-B92C+3733F3B23B7F}", "{934366G1-2B2F-4e89-B92C-3733F3B23B7F}",
          "{934366F1-2B2F-4e89-B92C-3733F3B23B7F}x"})
        EXPECT_FALSE(parseGuid(bad)) << bad;
}

TEST(ClipboardFormat, SameNumberForTheNameInAnyCase) {
    const CLIPFORMAT format = RegisterClipboardFormat("ItemRefArray");
    EXPECT_GE(format, 0xC000);
    EXPECT_EQ(RegisterClipboardFormat("itemrefarray"), format);
    EXPECT_NE(RegisterClipboardFormat("ItemRefArray2"), format);
    EXPECT_EQ(RegisterClipboardFormat(""), 0);
}

void registerServer(const QString& path) {
    const auto key = reg::Key::create(reg::Hive::ClassesRoot,
                                      QStringLiteral("CLSID\\%1\\InprocServer32")
                                          .arg(QString::fromStdString(guidText(kServerClass))));
    ASSERT_TRUE(key);
    ASSERT_TRUE(key->writeString(QString(), path));
}

TEST(InprocServer, NotRegisteredOrNotLoadable) {
    CServerModules modules;
    void* object = reinterpret_cast<void*>(1);
    QString error;
    EXPECT_EQ(modules.getClassObject(kServerClass, IID_IClassFactory, &object, &error),
              CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(object, nullptr);
    registerServer(QStringLiteral("/nonexistent/libnothing.so"));
    EXPECT_EQ(modules.getClassObject(kServerClass, IID_IClassFactory, &object, &error),
              CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_FALSE(error.isEmpty());
    EXPECT_EQ(modules.loadedCount(), 0u);
}

TEST(InprocServer, LoadedOnceAndUnloadedWhenUnused) {
    registerServer(QStringLiteral(LYB_COM_TEST_SERVER));
    CServerModules modules;
    void* first = nullptr;
    void* second = nullptr;
    ASSERT_EQ(modules.getClassObject(kServerClass, IID_IClassFactory, &first), S_OK);
    ASSERT_EQ(modules.getClassObject(kServerClass, IID_IUnknown, &second), S_OK);
    EXPECT_EQ(modules.loadedCount(), 1u);
    void* none = reinterpret_cast<void*>(1);
    EXPECT_EQ(static_cast<IUnknown*>(first)->QueryInterface(IID_IContextMenu, &none),
              E_NOINTERFACE);
    EXPECT_EQ(none, nullptr);

    static_cast<IClassFactory*>(first)->Release();
    modules.freeUnusedLibraries();
    EXPECT_EQ(modules.loadedCount(), 1u);  // the second factory is alive
    static_cast<IUnknown*>(second)->Release();
    modules.freeUnusedLibraries();
    EXPECT_EQ(modules.loadedCount(), 0u);
}

// Libraries another user could have put in place are never loaded: a copy of
// the test server each way, in a folder of the test's own.
TEST(InprocServer, UntrustedLibrariesAreRefused) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString good = dir.filePath("libgood.so");
    ASSERT_TRUE(QFile::copy(QStringLiteral(LYB_COM_TEST_SERVER), good));
    ASSERT_EQ(::chmod(QFile::encodeName(good).constData(), 0755), 0);
    const auto copy = [&](const char* name, mode_t mode, uid_t owner) {
        const QString path = dir.filePath(name);
        EXPECT_TRUE(QFile::copy(good, path));
        EXPECT_EQ(::chmod(QFile::encodeName(path).constData(), mode), 0);
        if (owner != ::geteuid()) {
            EXPECT_EQ(::chown(QFile::encodeName(path).constData(), owner, gid_t(-1)), 0);
        }
        return path;
    };
    ASSERT_EQ(::mkfifo(QFile::encodeName(dir.filePath("fifo.so")).constData(), 0600), 0);
    const QString cwd = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(dir.path()));

    std::vector<QString> refused{QStringLiteral("./libgood.so"), QStringLiteral("libgood.so"),
                                 dir.filePath("fifo.so"), copy("libloose.so", 0757, ::geteuid())};
    if (::geteuid() == 0) {  // another user's file can only be made as root
        refused.push_back(copy("libforeign.so", 0755, 65534));
    }
    for (const QString& path : refused) {
        registerServer(path);
        CServerModules modules;
        void* object = nullptr;
        QString error;
        EXPECT_EQ(modules.getClassObject(kServerClass, IID_IClassFactory, &object, &error),
                  CLASS_E_CLASSNOTAVAILABLE)
            << path.toStdString();
        EXPECT_TRUE(error.contains(path)) << error.toStdString();
        EXPECT_EQ(modules.loadedCount(), 0u) << path.toStdString();
    }
    registerServer(good);
    CServerModules modules;
    void* object = nullptr;
    EXPECT_EQ(modules.getClassObject(kServerClass, IID_IClassFactory, &object), S_OK);
    static_cast<IUnknown*>(object)->Release();
    QDir::setCurrent(cwd);
}

}  // namespace
