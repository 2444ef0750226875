// The main window and its account's folder: the list follows deliveries,
// deletions and flag changes made by other programs while it is shown, and
// an account that cannot be read says what is wrong instead of passing for
// an empty one.
#include "app/main_dialog.h"
#include "app/message_box.h"
#include "app/settings.h"
#include "app/upper_panel.h"
#include "recording_playback.h"
#include "store/account_problem.h"
#include "store/message_store.h"
#include "tests/app/voicemail_account.h"
#include "ui/voicemail_list.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QTest>

#include "qstring_print.h"

#include <gtest/gtest.h>

using namespace lyb::app;
using lyb::testing::MaildirFixture;
using lyb::testing::MailParts;

namespace {

// An account "Voicemail" of three voicemails of December 1 to 3 (the 2nd
// heard), and the window on it.
class AccountWindowTest : public ::testing::Test {
protected:
    AccountWindowTest() {
        lyb::testing::useVoicemailAccount(md);
        for (int day : {1, 2, 3})
            uniques[day] = deliver(day, day == 2);
        lyb::settings::setUsingOutlook(1);
    }

    QString deliver(int day, bool read = false) {
        MailParts p;
        p.date = "Tue, 0" + QByteArray::number(day) + " Dec 2026 09:30:00 +0000";
        const QString path =
            md.deliver(lyb::testing::voicemailMail(p), read ? QStringLiteral("S") : QString());
        return QFileInfo(path).fileName().section(QLatin1Char(':'), 0, 0);
    }

    CMainDialog& open() {
        lyb::store::logon(session);
        window = std::make_unique<CMainDialog>(nullptr, 0);
        window->setSession(&session);
        window->setPlayback(std::make_unique<CRecordingPlayback>(log));
        window->setHeadStart(0);
        window->setSettingsRunner([this](QWidget*, QString*) {
            ++settingsRuns;
            return IDCANCEL;
        });
        window->show();
        window->initialise();
        return *window;
    }

    lyb::ui::CVoiceMailList& list() { return *window->list(); }
    // The day of month of a row's voicemail; 0 for none.
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

    MaildirFixture md;
    std::map<int, QString> uniques;
    lyb::store::CMapiSession session;
    std::shared_ptr<PlaybackLog> log = std::make_shared<PlaybackLog>();
    std::unique_ptr<CMainDialog> window;
    int settingsRuns = 0;
};

}  // namespace

// Each change is made by hand, as a mail tool makes it, while the 2nd plays
// from the list; the rows follow, the selection and the playing row stay on
// the 2nd and playback goes on.
TEST_F(AccountWindowTest, ListFollowsTheFolderWhileItIsShown) {
    open();
    ASSERT_EQ(days(), (QList<int>{3, 2, 1}));
    list().select_row(1);
    window->runCommand(ID_PLAY);
    ASSERT_TRUE(log->hasPlayer);

    const auto keeps = [&](const char* after) {
        const int row = list().selection_mark();
        EXPECT_EQ(dayOf(row), 2) << after;
        EXPECT_EQ(list().currentIndex().row(), row) << after;
        EXPECT_EQ(list().current_row(), row) << after;
        EXPECT_TRUE(log->hasPlayer) << after;
    };
    // Waits for the rows, however long the machine takes.
    const auto waitFor = [](const std::function<bool()>& shown) {
        return QTest::qWaitFor(shown, 20000);
    };
    uniques[4] = deliver(4);
    EXPECT_TRUE(waitFor([&] { return days() == QList<int>{4, 3, 2, 1}; }));
    EXPECT_FALSE(list().record_at(0)->is_read());
    keeps("a delivery");

    // Another program marks the 1st heard: new/x becomes cur/x:2,S.
    ASSERT_TRUE(QFile::rename(md.pathOf(uniques[1]),
                              md.root + QStringLiteral("/cur/") + uniques[1] + ":2,S"));
    EXPECT_TRUE(waitFor([&] { return list().record_at(3) && list().record_at(3)->is_read(); }));
    keeps("a flag change");

    ASSERT_TRUE(QFile::remove(md.pathOf(uniques[3])));
    EXPECT_TRUE(waitFor([&] { return days() == QList<int>{4, 2, 1}; }));
    keeps("a deletion");
}

// The account's problems, said with the folder; the window shows the
// first in the list's place, with the settings a key away.
TEST_F(AccountWindowTest, AccountThatCannotBeReadSaysWhatAndWhere) {
    const QString base = md.root + QStringLiteral("-other");
    QDir().mkpath(base + QStringLiteral("/plain/cur"));
    QFile(base + QStringLiteral("/file")).open(QIODevice::WriteOnly);
    const std::vector<lyb::mapi::Account> accounts = {
        {QStringLiteral("Work"), base + QStringLiteral("/wrk"), {}},
        {QStringLiteral("File"), base + QStringLiteral("/file"), {}},
        {QStringLiteral("Plain"), base + QStringLiteral("/plain"), {}},
        {QStringLiteral("Voicemail"), md.root, {}},
        {QStringLiteral("SMS"), QString(), {}},
        {QStringLiteral("Home"), QDir::homePath() + QStringLiteral("/Mail/wrk"), {}},
    };
    const QString file = md.root + QStringLiteral("-accounts.conf");
    const struct {
        const char* name;
        QString problem;
    } cases[] = {
        {"work",
         "The account \"Work\" (" + base + "/wrk) cannot be read: No such file or directory"},
        {"File", "The account \"File\" (" + base + "/file) cannot be read: Not a directory"},
        {"Plain", "The account \"Plain\" (" + base +
                      "/plain) cannot be read: it is not a mail folder (Maildir): it has no "
                      "\"new\" folder"},
        {"Home", "The account \"Home\" (~/Mail/wrk) cannot be read: No such file or directory"},
        {"Gone", "The account \"Gone\" cannot be read: there is no accounts file " + file},
        {"Voicemail", ""},
        {"SMS", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(lyb::store::account_problem(QString::fromLatin1(c.name), accounts, file),
                  c.problem)
            << c.name;

    // The chosen account's folder is gone.
    QFile accountsFile(QString::fromLocal8Bit(qgetenv("LYRABELL_ACCOUNTS")));
    ASSERT_TRUE(accountsFile.open(QIODevice::WriteOnly));
    accountsFile.write("Voicemail = " + base.toUtf8() + "/wrk\n");
    accountsFile.close();
    open();
    EXPECT_EQ(window->panel(), CUpperPanel::Page::Problem);
    EXPECT_EQ(window->infoPanelText(), QString());
    auto* panel = dynamic_cast<CUpperPanel*>(window->list()->parentWidget());
    ASSERT_NE(panel, nullptr);
    EXPECT_EQ(panel->accountProblem(), "The account \"Voicemail\" (" + base +
                                           "/wrk) cannot be read: No such file or directory");
    // Enter opens the settings: the button has the focus, and the window's
    // own Enter gives way to it.
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    EXPECT_EQ(QApplication::focusWidget(), panel->settingsButton());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    EXPECT_EQ(settingsRuns, 1);
    // Done on the playback screen comes back to the problem, not the list.
    window->close_playback();
    EXPECT_EQ(window->panel(), CUpperPanel::Page::Problem);
}
