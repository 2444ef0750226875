// The menu extension library, loaded as a host loads it, against the test host.
#include "inboxext/item_refs.h"
#include "platform/com/inproc.h"
#include "platform/desktop/desktop.h"
#include "platform/mapi/maildir_provider.h"
#include "platform/names/names.h"
#include "platform/registry/registry.h"
#include "tests/inboxext/test_host.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <memory>
#include <thread>

using namespace lyb;
using namespace lyb::com;
using namespace lyb::inboxext;
using lyb::testing::RecordingMenu;
using lyb::testing::RecordingWindow;
using lyb::testing::SelectionSite;

namespace {

const QString kSettingsKey = QStringLiteral("Software\\Corvendale\\Lyrabell\\Lyrabell");

class InboxExtension : public ::testing::Test {
protected:
    void SetUp() override {
        module_ = CServerModule::load(QStringLiteral(LYB_INBOXEXT_LIBRARY));
        ASSERT_TRUE(module_);
        ASSERT_TRUE(dir_.isValid());
        reg::Key::remove(reg::Hive::CurrentUser,
                         kSettingsKey);  // each test starts without settings
        for (const char* sub : {"cur", "new", "tmp"})
            QDir(dir_.path()).mkpath(QStringLiteral("Maildir/") + QLatin1String(sub));
    }

    IClassFactory* factory(REFCLSID clsid = kMenuExtensionClass) {
        void* object = nullptr;
        EXPECT_EQ(module_->getClassObject(clsid, IID_IClassFactory, &object), S_OK);
        return static_cast<IClassFactory*>(object);
    }
    IContextMenu* newMenuExtension(IUnknown* site) {
        IClassFactory* f = factory();
        void* object = nullptr;
        EXPECT_EQ(f->CreateInstance(nullptr, IID_IObjectWithSite, &object), S_OK);
        f->Release();
        auto* withSite = static_cast<IObjectWithSite*>(object);
        withSite->SetSite(site);
        void* menu = nullptr;
        EXPECT_EQ(withSite->QueryInterface(IID_IContextMenu, &menu), S_OK);
        withSite->Release();
        return static_cast<IContextMenu*>(menu);
    }

    // A message with one attachment per (file name, MIME type); its entry id.
    QByteArray message(const QString& unique,
                       const std::vector<std::pair<QString, QString>>& parts) {
        QByteArray text = "From: <vm@example.org>\r\nSubject: Voicemail\r\nMIME-Version: 1.0\r\n";
        if (parts.empty()) {
            text += "Content-Type: text/plain\r\n\r\nHello\r\n";
        } else {
            text +=
                "Content-Type: multipart/mixed; boundary=\"b\"\r\n\r\n--b\r\n"
                "Content-Type: text/plain\r\n\r\nYou have a message\r\n";
            for (const auto& [name, type] : parts)
                text += "--b\r\nContent-Type: " + type.toUtf8() +
                        "\r\nContent-Disposition: attachment; filename=\"" + name.toUtf8() +
                        "\"\r\nContent-Transfer-Encoding: base64\r\n\r\nUklGRgAAAAA=\r\n";
            text += "--b--\r\n";
        }
        QFile file(maildir() + QStringLiteral("/cur/") + unique + QStringLiteral(":2,"));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(text);
        return mapi::messageEntryId(maildir(), unique);
    }
    QString maildir() const { return dir_.path() + QStringLiteral("/Maildir"); }

    // Whether "Play voicemail" comes out enabled for the selection.
    bool enabledFor(std::vector<QByteArray> selection) {
        SelectionSite site(std::move(selection));
        IContextMenu* extension = newMenuExtension(&site);
        RecordingMenu menu;
        EXPECT_EQ(extension->QueryContextMenu(&menu, 0, 100, 200, 0), S_OK);
        extension->Release();
        EXPECT_EQ(site.refs, 1u);
        EXPECT_EQ(menu.items.size(), 1u);
        return !menu.items.empty() && menu.items[0].enabled;
    }

    std::unique_ptr<CServerModule> module_;
    QTemporaryDir dir_;
};

TEST_F(InboxExtension, ClassIdsFactoriesAndUnloading) {
    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(module_->getClassObject(IID_IContextMenu, IID_IClassFactory, &object),
              CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(object, nullptr);
    EXPECT_TRUE(module_->canUnloadNow());

    for (const CLSID& clsid : {kMenuExtensionClass, kContextMenuExtensionClass}) {
        IClassFactory* f = factory(clsid);
        ASSERT_TRUE(f);
        void* other = reinterpret_cast<void*>(1);
        EXPECT_EQ(f->QueryInterface(IID_IContextMenu, &other), E_NOINTERFACE);
        EXPECT_EQ(f->CreateInstance(reinterpret_cast<IUnknown*>(f), IID_IUnknown, &other),
                  CLASS_E_NOAGGREGATION);
        EXPECT_EQ(f->CreateInstance(nullptr, IID_IDataObject, &other), E_NOINTERFACE);
        EXPECT_TRUE(module_->canUnloadNow());

        void* extension = nullptr;
        ASSERT_EQ(f->CreateInstance(nullptr, IID_IContextMenu, &extension), S_OK);
        EXPECT_FALSE(module_->canUnloadNow());
        f->LockServer(1);
        static_cast<IUnknown*>(extension)->Release();
        EXPECT_FALSE(module_->canUnloadNow());
        f->LockServer(0);
        EXPECT_TRUE(module_->canUnloadNow());
        f->Release();
    }
}

TEST_F(InboxExtension, QueryInterfaceAnswers) {
    IContextMenu* menu = newMenuExtension(nullptr);
    void* unknown = nullptr;
    void* withSite = nullptr;
    void* again = nullptr;
    void* none = reinterpret_cast<void*>(1);
    ASSERT_EQ(menu->QueryInterface(IID_IUnknown, &unknown), S_OK);
    ASSERT_EQ(menu->QueryInterface(IID_IObjectWithSite, &withSite), S_OK);
    ASSERT_EQ(static_cast<IUnknown*>(unknown)->QueryInterface(IID_IContextMenu, &again), S_OK);
    EXPECT_EQ(unknown, withSite);
    EXPECT_NE(unknown, static_cast<void*>(menu));
    EXPECT_EQ(again, static_cast<void*>(menu));
    EXPECT_EQ(menu->QueryInterface(IID_IDataObject, &none), E_NOINTERFACE);
    EXPECT_EQ(none, nullptr);
    void* site = reinterpret_cast<void*>(1);
    EXPECT_EQ(static_cast<IObjectWithSite*>(withSite)->GetSite(IID_IUnknown, &site), E_FAIL);
    for (void* p : {unknown, withSite, again})
        static_cast<IUnknown*>(p)->Release();
    menu->Release();
    EXPECT_TRUE(module_->canUnloadNow());
}

TEST_F(InboxExtension, CommandStringAndVerbs) {
    IContextMenu* extension = newMenuExtension(nullptr);
    RecordingMenu menu;
    ASSERT_EQ(extension->QueryContextMenu(&menu, 0, 7, 9, 0), S_OK);
    ASSERT_EQ(menu.items.size(), 1u);
    EXPECT_EQ(menu.items[0].id, 7u);
    EXPECT_EQ(menu.items[0].text, QStringLiteral("Play voicemail"));
    EXPECT_FALSE(menu.items[0].enabled);  // no site, no selection

    char name[30];
    EXPECT_EQ(extension->GetCommandString(7, GCS_HELPTEXTA, nullptr, nullptr, 30), E_INVALIDARG);
    EXPECT_EQ(extension->GetCommandString(8, GCS_VERBA, nullptr, name, 30), E_INVALIDARG);
    ASSERT_EQ(extension->GetCommandString(7, GCS_VERBA, nullptr, name, 5), S_OK);
    EXPECT_STREQ(name, "Play");
    ASSERT_EQ(extension->GetCommandString(7, GCS_HELPTEXTA, nullptr, name, 30), S_OK);
    EXPECT_STREQ(name, "Play voicemail");

    CMINVOKECOMMANDINFO info{sizeof info, 0, nullptr, nullptr, nullptr, nullptr, 1};
    EXPECT_EQ(extension->InvokeCommand(&info), S_OK);
    info.lpVerb = "Delete";
    EXPECT_EQ(extension->InvokeCommand(&info), E_INVALIDARG);
    extension->Release();
}

TEST_F(InboxExtension, EnabledOnlyForAVoicemailSelection) {
    const QByteArray folder;  // the second item the host sends
    const struct {
        const char* name;
        std::vector<std::pair<QString, QString>> parts;
        bool enabled;
    } cases[] = {
        {"no attachments", {}, false},
        {"picture", {{"photo.jpg", "image/jpeg"}}, false},
        {"wave then text",
         {{"msg.wav", "audio/wav"}, {"notes.txt", "application/octet-stream"}},
         true},
        {"text then wave",
         {{"notes.txt", "application/octet-stream"}, {"msg.wav", "audio/wav"}},
         true},
        {"no recording's extension", {{"msg.wave", "application/octet-stream"}}, false},
        {"mp3 by name", {{"msg.mp3", "application/octet-stream"}}, true},
        {"gsm by name", {{"VM.GSM", "application/octet-stream"}}, true},
        {"wave by MIME type", {{"recording", "audio/x-wav"}}, true},
    };
    int n = 0;
    for (const auto& c : cases) {
        const QByteArray id = message(QStringLiteral("m%1").arg(++n), c.parts);
        EXPECT_EQ(enabledFor({id, folder}), c.enabled) << c.name;
        EXPECT_EQ(enabledFor({folder, id}), c.enabled) << c.name << ", message second";
    }
    const QByteArray voicemail = message(QStringLiteral("vm"), {{"msg.wav", "audio/wav"}});
    EXPECT_FALSE(enabledFor({voicemail})) << "one item";
    EXPECT_FALSE(enabledFor({voicemail, folder, folder})) << "three items";
    EXPECT_FALSE(enabledFor({mapi::messageEntryId(maildir(), QStringLiteral("gone")), folder}));
}

// Starts the extension's play action with InstallDir naming a folder that
// holds a recording launcher.
struct Launch {
    QString arguments;  // one line per argument, after the count
    QString shown;
};

Launch play(IContextMenu* extension, const QString& installDir, bool withLauncher) {
    if (withLauncher) {
        lyb::testing::writeRecordingLauncher(installDir);
        reg::Key::create(reg::Hive::CurrentUser, kSettingsKey)
            ->writeString(QStringLiteral("InstallDir"), installDir);
    }
    RecordingWindow window;
    CMINVOKECOMMANDINFO info{sizeof info, 0, &window, "Play voicemail", nullptr, nullptr, 1};
    EXPECT_EQ(extension->InvokeCommand(&info), S_OK);
    Launch launch{QString(), window.shown};
    if (withLauncher)
        launch.arguments = QString::fromUtf8(lyb::testing::launcherArguments(installDir));
    return launch;
}

TEST_F(InboxExtension, PlayStoresTheEntryIdAndStartsTheLauncher) {
    const QByteArray id(
        "\x00\xFF"
        "LYB1M\x00odd bytes\r\n",
        17);
    SelectionSite site({QByteArray(), id});
    IContextMenu* extension = newMenuExtension(&site);
    const Launch launch = play(extension, dir_.path(), true);
    extension->Release();
    EXPECT_EQ(launch.arguments, QStringLiteral("1\n<OID>\n"));
    EXPECT_TRUE(launch.shown.isEmpty());
    const auto key = reg::Key::open(reg::Hive::CurrentUser, kSettingsKey);
    ASSERT_TRUE(key);
    EXPECT_EQ(key->readBinary(QStringLiteral("MsgEntryID")), id);
}

// While another program hands a request over, "MsgEntryID" is theirs: the
// extension waits for the hand-over lock before it writes or starts anything.
TEST_F(InboxExtension, PlayWaitsForTheHandOverLock) {
    const QByteArray id("LYB1Mwaiting", 12);
    SelectionSite site({QByteArray(), id});
    IContextMenu* extension = newMenuExtension(&site);
    lyb::testing::writeRecordingLauncher(dir_.path());
    reg::Key::create(reg::Hive::CurrentUser, kSettingsKey)
        ->writeString(QStringLiteral("InstallDir"), dir_.path());

    auto other = std::make_unique<desktop::UserLock>(names::kHandOverLock);
    ASSERT_TRUE(other->held());
    RecordingWindow window;
    std::thread player([&] {
        CMINVOKECOMMANDINFO info{sizeof info, 0, &window, "Play voicemail", nullptr, nullptr, 1};
        EXPECT_EQ(extension->InvokeCommand(&info), S_OK);
    });
    QThread::msleep(500);  // time enough to write, had it not waited
    const auto before = reg::Key::open(reg::Hive::CurrentUser, kSettingsKey);
    EXPECT_FALSE(before && before->read(QStringLiteral("MsgEntryID")));
    EXPECT_FALSE(QFileInfo::exists(dir_.path() + QStringLiteral("/args")));
    other.reset();
    player.join();
    extension->Release();

    EXPECT_EQ(QString::fromUtf8(lyb::testing::launcherArguments(dir_.path())),
              QStringLiteral("1\n<OID>\n"));
    EXPECT_EQ(reg::Key::open(reg::Hive::CurrentUser, kSettingsKey)
                  ->readBinary(QStringLiteral("MsgEntryID")),
              id);
}

TEST_F(InboxExtension, PlayWithoutInstallDirSaysSoAndStartsNothing) {
    SelectionSite site({message(QStringLiteral("vm"), {{"msg.wav", "audio/wav"}}), QByteArray()});
    IContextMenu* extension = newMenuExtension(&site);
    const Launch launch = play(extension, dir_.path(), false);
    extension->Release();
    EXPECT_EQ(launch.shown,
              QStringLiteral("Lyrabell|Cannot find Lyrabell application. Please reinstall the "
                             "application to fix this error.|16"));
    const auto key = reg::Key::open(reg::Hive::CurrentUser, kSettingsKey);
    EXPECT_FALSE(key && key->read(QStringLiteral("MsgEntryID")));
}

TEST_F(InboxExtension, RegisterThenUnregisterLeavesNoKey) {
    const QString ext =
        QStringLiteral("SOFTWARE\\Microsoft\\Shell\\Extensions\\ContextMenus\\Inbox\\");
    const std::pair<reg::Hive, QString> keys[] = {
        {reg::Hive::ClassesRoot, QStringLiteral("CLSID\\{934366F1-2B2F-4e89-B92C-3733F3B23B7F}")},
        {reg::Hive::ClassesRoot,
         QStringLiteral("CLSID\\{934366F1-2B2F-4e89-B92C-3733F3B23B7F}\\InprocServer32")},
        {reg::Hive::ClassesRoot, QStringLiteral("CLSID\\{21880FEA-7F1D-49f8-8494-3D6BDD2D626B}")},
        {reg::Hive::ClassesRoot,
         QStringLiteral("CLSID\\{21880FEA-7F1D-49f8-8494-3D6BDD2D626B}\\InprocServer32")},
        {reg::Hive::LocalMachine,
         ext + QStringLiteral("List_View\\{934366F1-2B2F-4e89-B92C-3733F3B23B7F}")},
        {reg::Hive::LocalMachine,
         ext + QStringLiteral("List_View_Context\\{21880FEA-7F1D-49f8-8494-3D6BDD2D626B}")},
        {reg::Hive::LocalMachine,
         ext + QStringLiteral("Read_View\\{934366F1-2B2F-4e89-B92C-3733F3B23B7F}")},
    };
    ASSERT_EQ(module_->registerServer(), S_OK);
    for (const auto& [hive, path] : keys)
        EXPECT_TRUE(reg::Key::open(hive, path)) << path.toStdString();
    EXPECT_EQ(inprocServerPath(kContextMenuExtensionClass),
              QFileInfo(QStringLiteral(LYB_INBOXEXT_LIBRARY)).absoluteFilePath());
    ASSERT_EQ(module_->unregisterServer(), S_OK);
    for (const auto& [hive, path] : keys)
        EXPECT_FALSE(reg::Key::open(hive, path)) << path.toStdString();
    EXPECT_EQ(module_->unregisterServer(), E_FAIL);
}

}  // namespace
