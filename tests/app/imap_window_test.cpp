// The main window on an IMAP account of a real Dovecot: the list follows
// what other mail programs do on the server while it is shown.
#include "app/add_account_dialog.h"
#include "app/main_dialog.h"
#include "app/message_box.h"
#include "app/offline_notice.h"
#include "app/password_dialog.h"
#include "app/settings.h"
#include "platform/mapi/imap_watch.h"
#include "platform/secrets/secrets.h"
#include "recording_playback.h"
#include "store/cache_source.h"
#include "store/message_store.h"
#include "tests/platform/imap/dovecot_fixture.h"
#include "tests/platform/mapi/maildir_fixture.h"
#include "ui/voicemail_list.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpression>
#include <QSpinBox>
#include <QTest>
#include <QTimer>

#include "qstring_print.h"

#include <gtest/gtest.h>

using namespace lyb::app;
using lyb::testing::DovecotServer;
using lyb::testing::Keyring;
using lyb::testing::MaildirFixture;
using lyb::testing::MailParts;

namespace {

QByteArray voicemailOf(int day) {
    MailParts p;
    p.date = "Tue, 0" + QByteArray::number(day) + " Dec 2026 09:30:00 +0000";
    return lyb::testing::voicemailMail(p);
}

// One Dovecot for the suite, its Inbox holding voicemails of December 1 to
// 3 (the 2nd heard), listed as the account "Voicemail" with its password
// in the test's keyring.
class ImapWindowTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        keyring = new Keyring;
        server = new DovecotServer(true);
        MaildirFixture md(QStringLiteral("Seed"));
        for (int day : {1, 2, 3})
            uniques[day] = md.deliver(voicemailOf(day), day == 2 ? QStringLiteral("S") : QString());
        server->addMaildir(md.root);
        server->start();
        QFile accounts(QString::fromLocal8Bit(qgetenv("LYRABELL_ACCOUNTS")));
        ASSERT_TRUE(accounts.open(QIODevice::WriteOnly));
        accounts.write("Voicemail = " + server->address().toUtf8() + "\n");
        accounts.write("Asks = " + server->address().toUtf8() + "\n");
        accounts.close();
        QDir().mkpath(QString::fromLocal8Bit(qgetenv("LYRABELL_CONTACTS")));
        lyb::settings::setMessageStore(QStringLiteral("Voicemail"));
        lyb::settings::setTips(1);
        lyb::settings::setUsingOutlook(1);
        ASSERT_TRUE(lyb::secrets::storePassword(QStringLiteral("Voicemail"),
                                                QLatin1String(DovecotServer::kPassword)));
    }
    static void TearDownTestSuite() {
        delete server;
        delete keyring;
    }

    CMainDialog& open() {
        lyb::store::logon(session);
        window = std::make_unique<CMainDialog>(nullptr, 0);
        window->setSession(&session);
        window->setPlayback(std::make_unique<CRecordingPlayback>(log));
        window->setHeadStart(0);
        window->setSettingsRunner([](QWidget*, QString*) { return IDCANCEL; });
        window->show();
        window->initialise();
        return *window;
    }

    lyb::ui::CVoiceMailList& list() { return *window->list(); }
    int dayOf(int row) {
        const auto* record = list().record_at(row);
        return record ? QDateTime::fromSecsSinceEpoch(record->received_time()).toUTC().date().day()
                      : 0;
    }
    QList<int> days() {
        QList<int> shown;
        for (int row = 0; row < list().row_count(); ++row)
            shown << dayOf(row);
        return shown;
    }
    static bool waitFor(const std::function<bool()>& shown) {
        return QTest::qWaitFor(shown, 30000);
    }

    static Keyring* keyring;
    static DovecotServer* server;
    static std::map<int, QString> uniques;
    lyb::store::CMapiSession session;
    std::shared_ptr<PlaybackLog> log = std::make_shared<PlaybackLog>();
    std::unique_ptr<CMainDialog> window;
};

Keyring* ImapWindowTest::keyring = nullptr;
DovecotServer* ImapWindowTest::server = nullptr;
std::map<int, QString> ImapWindowTest::uniques;

}  // namespace

// Another program delivers a voicemail, marks one heard and deletes one
// while the window is shown; the rows follow with no refresh, the
// selection stays on its voicemail.
TEST_F(ImapWindowTest, ListFollowsOtherMailProgramsLive) {
    open();
    ASSERT_EQ(days(), (QList<int>{3, 2, 1}));
    list().select_row(1);

    const QString file = server->dir + QStringLiteral("/day4.eml");
    ASSERT_TRUE(lyb::testing::writeFile(file, voicemailOf(4)));
    server->deliver(file, QStringLiteral("1800000004.M4P4.other"));
    EXPECT_TRUE(waitFor([&] { return days() == QList<int>{4, 3, 2, 1}; }));
    EXPECT_EQ(dayOf(list().currentIndex().row()), 2);

    server->markSeen(uniques[1]);
    EXPECT_TRUE(waitFor([&] { return list().record_at(3) && list().record_at(3)->is_read(); }));

    for (const char* sub : {"/cur/", "/new/"}) {
        for (const QString& name :
             QDir(server->mailRoot + QLatin1String(sub)).entryList(QDir::Files))
            if (name.startsWith(uniques[3]))
                QFile::remove(server->mailRoot + QLatin1String(sub) + name);
    }
    EXPECT_TRUE(waitFor([&] { return days() == QList<int>{4, 2, 1}; }));
    EXPECT_EQ(dayOf(list().currentIndex().row()), 2);
    EXPECT_EQ(lyb::mapi::ImapWatch::followedAccounts(), 1);
}

// With no password stored the window asks once: a refused password keeps
// the dialog up and says so; the right one lists the account and, with
// "Remember" as it comes, is stored in the keyring.
TEST_F(ImapWindowTest, AsksForAMissingPasswordOnceAndStoresIt) {
    lyb::settings::setMessageStore(QStringLiteral("Asks"));
    QStringList problems;
    bool remembered = false;
    QTimer typist;
    QObject::connect(&typist, &QTimer::timeout, [&] {
        auto* dialog = qobject_cast<CPasswordDialog*>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        remembered = dialog->rememberBox()->isChecked();
        const bool first = dialog->problem()->isHidden();
        dialog->passwordField()->setText(first ? QStringLiteral("wrong")
                                               : QLatin1String(DovecotServer::kPassword));
        QTest::keyClick(dialog->passwordField(), Qt::Key_Return);
        if (dialog->isVisible())
            problems << dialog->problem()->text();
    });
    typist.start(50);
    open();
    typist.stop();
    lyb::settings::setMessageStore(QStringLiteral("Voicemail"));

    ASSERT_EQ(problems.size(), 1);
    EXPECT_TRUE(problems[0].contains(QLatin1String("refused the user name or the password")));
    EXPECT_TRUE(remembered);
    EXPECT_EQ(list().row_count(), 3);
    EXPECT_EQ(lyb::secrets::lookupPassword(QStringLiteral("Asks")),
              QLatin1String(DovecotServer::kPassword));
    EXPECT_FALSE(askAccountPassword(window.get(), *window->requests(), QStringLiteral("Asks")));
}

// Add account tries the connection first and says what failed in words of
// the user's; the account that works is appended to the accounts file,
// which keeps every byte and its mode, and is listed by the running session.
TEST_F(ImapWindowTest, AddAccountTriesTheServerThenAppendsItsLine) {
    const QString file = QString::fromLocal8Bit(qgetenv("LYRABELL_ACCOUNTS"));
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray before = f.readAll();
    f.close();
    ASSERT_TRUE(
        QFile::setPermissions(file, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup));
    lyb::store::logon(session);
    const QString ca = server->dir + QStringLiteral("/ca.pem");
    const struct {
        const char* server;
        int port;  // 0: the server's TLS port; -1: a closed one
        const char* password;
        bool withCa;
        const char* says;  // a pattern; empty: added
    } cases[] = {
        {"no-such-host.invalid", 0, DovecotServer::kPassword, true, "was not found"},
        {"127.0.0.1", -1, DovecotServer::kPassword, true, "refused the connection"},
        {"127.0.0.1", 0, DovecotServer::kPassword, false,
         "certificate is not trusted.*\\n([0-9A-F]{2}:){31}[0-9A-F]{2}$"},
        {"127.0.0.1", 0, "wrong", true, "refused the user name or the password"},
        {"127.0.0.1", 0, DovecotServer::kPassword, true, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.says);
        CAddAccountDialog dialog;
        dialog.nameField()->setText(QStringLiteral("Added"));
        dialog.serverField()->setText(QLatin1String(c.server));
        dialog.portField()->setValue(c.port == 0    ? server->imapsPort
                                     : c.port == -1 ? lyb::testing::freePort()
                                                    : c.port);
        dialog.userField()->setText(QLatin1String(DovecotServer::kUser));
        dialog.passwordField()->setText(QLatin1String(c.password));
        dialog.caField()->setText(c.withCa ? ca : QString());
        dialog.accept();
        if (*c.says) {
            EXPECT_NE(dialog.result(), QDialog::Accepted);
            EXPECT_TRUE(
                dialog.problem()->text().contains(QRegularExpression(QLatin1String(c.says))))
                << dialog.problem()->text().toStdString();
            continue;
        }
        EXPECT_EQ(dialog.result(), QDialog::Accepted) << dialog.problem()->text().toStdString();
    }
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray after = f.readAll();
    EXPECT_TRUE(after.startsWith(before));
    EXPECT_EQ(after.mid(before.size()),
              "Added = imaps://alice@127.0.0.1:" + QByteArray::number(server->imapsPort) +
                  "/INBOX?ca=" + ca.toUtf8() + "\n");
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(file).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    EXPECT_EQ(lyb::secrets::lookupPassword(QStringLiteral("Added")),
              QLatin1String(DovecotServer::kPassword));
    std::vector<lyb::store::CEntryInfo> stores;
    ASSERT_TRUE(lyb::store::list_stores(session, stores));
    EXPECT_EQ(stores.back().display_name, QStringLiteral("Added"));
}

// With the server stopped, a new window shows the cached list under the
// offline line; a recording played before plays, marking and deleting are
// refused with a box that says why, and nothing changes. When the server is
// back the line goes by itself.
TEST_F(ImapWindowTest, OfflineShowsTheCachedListAndPlaysKeptRecordings) {
    open();
    const QList<int> online = days();
    ASSERT_GE(online.size(), 2);
    // Played to its end, the first row's recording is kept.
    lyb::mapi::IStream* stream = list().record_at(0)->open_audio_stream();
    ASSERT_TRUE(stream);
    char buffer[4096];
    uint32_t got = 0;
    do
        stream->Read(buffer, sizeof buffer, &got);
    while (got > 0);
    stream->Release();
    auto* cache = list().list_model()->folder()->cache.get();
    ASSERT_TRUE(cache);
    ASSERT_EQ(cache->with([](lyb::store::CMessageCache& c) { return c.keptRecordings(); }).size(),
              1u);
    window.reset();

    server->stop();
    session.reset();
    open();
    EXPECT_EQ(days(), online);
    const auto* notice = window->findChild<COfflineNotice*>();
    ASSERT_TRUE(notice);
    EXPECT_TRUE(notice->isVisible());
    EXPECT_TRUE(notice->text().startsWith(QStringLiteral("Offline \u2014 showing the list from ")))
        << notice->text().toStdString();

    QStringList boxes;
    setMessageBoxHandler([&](QWidget*, const QString& text, MessageIcon, MessageButtons) {
        boxes << text;
        return IDOK;
    });
    list().select_row(0);
    const bool readBefore = list().record_at(0)->is_read();
    window->runCommand(ID_MARK_READ);
    window->runCommand(ID_DELETE);
    EXPECT_EQ(boxes.size(), 2);
    for (const QString& box : boxes)
        EXPECT_TRUE(box.contains(QLatin1String("mail server cannot be reached")))
            << box.toStdString();
    EXPECT_EQ(days(), online);
    EXPECT_EQ(list().record_at(0)->is_read(), readBefore);

    window->runCommand(ID_PLAY);
    EXPECT_TRUE(log->hasPlayer);
    ASSERT_FALSE(log->decoded.empty());
    EXPECT_TRUE(log->decoded.back().fromStream);
    setMessageBoxHandler({});

    // The server back, the window's watch finds it and the list is live again.
    server->start();
    EXPECT_TRUE(waitFor([&] { return notice->isHidden(); }));
    EXPECT_EQ(days(), online);
}
