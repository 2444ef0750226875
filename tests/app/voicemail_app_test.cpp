#include "app/voicemail_app.h"

#include "app/main_dialog.h"
#include "app/settings.h"
#include "inboxext/item_refs.h"
#include "platform/com/inproc.h"
#include "platform/desktop/desktop.h"
#include "platform/registry/registry.h"
#include "qstring_print.h"
#include "recording_playback.h"

#include <QFile>
#include <QTest>

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <tuple>
#include <vector>

using namespace lyb::app;
namespace s = lyb::settings;
using lyb::reg::Hive;
using lyb::reg::Key;

TEST(VoicemailApp, RegistersTheInboxExtensionBesideIt) {
    const QString folder = QStringLiteral(LYB_BINARY_DIR "/bin");
    const QString library = folder + QStringLiteral("/liblyminboxextension.so");
    if (!QFile::exists(library))
        GTEST_SKIP() << "the extension is not built";
    Key::create(Hive::ClassesRoot,
                QStringLiteral("CLSID\\{21880FEA-7F1D-49f8-8494-3D6BDD2D626B}\\InprocServer32"))
        ->writeString(QString(), QStringLiteral("/old/liblyminboxextension.so"));
    CVoiceMailApp::registerInboxExtension(folder);
    for (const char* clsid :
         {"{934366F1-2B2F-4e89-B92C-3733F3B23B7F}", "{21880FEA-7F1D-49f8-8494-3D6BDD2D626B}"}) {
        const auto key =
            Key::open(Hive::ClassesRoot,
                      QStringLiteral("CLSID\\%1\\InprocServer32").arg(QLatin1String(clsid)));
        ASSERT_TRUE(key) << clsid;
        EXPECT_EQ(key->readString(QString()), library);
    }
    EXPECT_TRUE(
        Key::open(Hive::LocalMachine,
                  QStringLiteral("SOFTWARE\\Microsoft\\Shell\\Extensions\\ContextMenus\\Inbox\\"
                                 "Read_View\\{934366F1-2B2F-4e89-B92C-3733F3B23B7F}")));
    CVoiceMailApp::registerInboxExtension(
        QStringLiteral("/nonexistent"));  // nothing there: no change
    EXPECT_EQ(lyb::com::inprocServerPath(lyb::inboxext::kMenuExtensionClass), library);
}

TEST(VoicemailApp, FileAssociationSendsWaveAndGsmFilesToTheLauncher) {
    // A stale command from an older install is replaced at every start.
    Key::create(Hive::ClassesRoot, QStringLiteral("wavFile\\Shell\\Open\\Command"))
        ->writeString(QString(), QStringLiteral("old"));
    CVoiceMailApp::registerFileAssociation(QStringLiteral("/opt/lyra bell"));

    const auto gsm = Key::open(Hive::ClassesRoot, QStringLiteral(".gsm"));
    ASSERT_TRUE(gsm);
    const auto value = gsm->read(QString());
    ASSERT_TRUE(value);
    EXPECT_EQ(value->type, lyb::reg::Type::Sz);
    EXPECT_EQ(lyb::reg::decodeSz(value->data), QStringLiteral("wavFile"));
    const auto command =
        Key::open(Hive::ClassesRoot, QStringLiteral("wavFile\\Shell\\Open\\Command"));
    ASSERT_TRUE(command);
    EXPECT_EQ(command->readString(QString()), QStringLiteral("\"/opt/lyra bell/lyblauncher\"%1"));
    EXPECT_EQ(lyb::settings::installDir(), QStringLiteral("/opt/lyra bell"));
}

// Another program holds the registry's write lock for as long as it likes:
// the start leaves the association as it was and says so once.
TEST(VoicemailApp, FileAssociationIsSkippedWhileTheRegistryIsBusy) {
    CVoiceMailApp::registerFileAssociation(QStringLiteral("/opt/old"));
    const QString before = lyb::reg::exportText();
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(QFile::encodeName(lyb::reg::databasePath()).constData(), &other),
              SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);

    ::testing::internal::CaptureStderr();
    CVoiceMailApp::registerFileAssociation(QStringLiteral("/opt/new"));
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    EXPECT_NE(err.find("busy"), std::string::npos) << err;
    EXPECT_EQ(lyb::reg::exportText(), before);

    sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(other);
    CVoiceMailApp::registerFileAssociation(QStringLiteral("/opt/new"));
    EXPECT_EQ(Key::open(Hive::ClassesRoot, QStringLiteral("wavFile\\Shell\\Open\\Command"))
                  ->readString(QString()),
              QStringLiteral("\"/opt/new/lyblauncher\"%1"));
}

TEST(VoicemailApp, OneInstanceRuleHandsOverAndBringsUpTheFirstWindow) {
    CVoiceMailApp first(nullptr);
    EXPECT_EQ(first.enforceOneInstance(QStringLiteral("/a.wav")), std::nullopt);

    {  // The lock is held but no window of this program exists: start normally.
        CVoiceMailApp second(nullptr);
        EXPECT_EQ(second.enforceOneInstance(QStringLiteral("/a.wav"), 2, 10), std::nullopt);
    }

    auto log = std::make_shared<PlaybackLog>();
    CMainDialog dialog(nullptr, lyb::desktop::registerWindowMessage(QStringLiteral("TavolinPlay")));
    dialog.setPlayback(std::make_unique<CRecordingPlayback>(log));
    dialog.setHeadStart(10);
    dialog.setSettingsRunner([](QWidget*, QString*) { return IDCANCEL; });
    lyb::settings::setTips(1);
    dialog.initialise();

    {  // Without a request: only brought to the front.
        s::setAutoPlay(QString());
        CVoiceMailApp second(nullptr);
        EXPECT_EQ(second.enforceOneInstance(QStringLiteral("x")), -1);
        EXPECT_EQ(dialog.raiseCount(), 1);
        EXPECT_TRUE(log->decoded.empty());
    }
    {  // With a request: handed over, then brought to the front.
        CVoiceMailApp second(nullptr);
        EXPECT_EQ(second.enforceOneInstance(QStringLiteral("/calls/b.wav")), -1);
        ASSERT_TRUE(QTest::qWaitFor([&] { return log->decoded.size() == 1; }, 20000));
        EXPECT_EQ(log->decoded[0].path, QStringLiteral("/calls/b.wav"));
        EXPECT_EQ(dialog.infoPanelText(), QStringLiteral("\n Playing local file:\n \n b.wav"));
        EXPECT_EQ(s::autoPlay(), QString());
        EXPECT_GE(dialog.raiseCount(), 2);
    }
}

TEST(Settings, AccountChangeNoticeReachesEveryWindow) {
    std::vector<std::tuple<uint32_t, quint64, qint64>> received;
    lyb::desktop::TopLevelWindow window(
        QStringLiteral("Today"), QString(),
        [&](uint32_t message, quint64 wParam, qint64 lParam) {
            received.emplace_back(message, wParam, lParam);
            return qint64(0);
        },
        [] {});
    EXPECT_GE(s::broadcast_account_change(), 1);
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0], std::make_tuple(uint32_t(0x1A), quint64(0xF2), qint64(0)));
}
