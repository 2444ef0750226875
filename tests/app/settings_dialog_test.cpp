#include "app/settings_dialog.h"

#include "app/main_menus.h"
#include "app/message_box.h"
#include "app/settings.h"
#include "store/message_store.h"

#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QMenu>
#include <QTest>

#include "qstring_print.h"

#include <gtest/gtest.h>

using lyb::app::CSettingsDialog;
namespace s = lyb::settings;

namespace {

// Writes the accounts file (each with an empty Inbox) and logs a session on to them.
struct Accounts {
    explicit Accounts(const QStringList& names) {
        QFile file(QString::fromLocal8Bit(qgetenv("LYRABELL_ACCOUNTS")));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        for (const QString& name : names)
            file.write((name + QStringLiteral(" =\n")).toUtf8());
        file.close();
        EXPECT_TRUE(lyb::store::logon(session));
    }
    lyb::store::CMapiSession session;
};

QStringList entries(const CSettingsDialog& dialog) {
    QStringList out;
    for (int i = 0; i < dialog.accountList()->count(); ++i)
        out << dialog.accountList()->itemText(i);
    return out;
}

void setStored(const QString& messageStore, int usingOutlook) {
    s::setMessageStore(messageStore);
    s::setUsingOutlook(usingOutlook);
}

const QString kOther = QString::fromLatin1(CSettingsDialog::kOtherEntry);

}  // namespace

TEST(SettingsDialog, OffersEveryAccountButTheMessagingOnesThenOther) {
    setStored(QString(), 1);
    Accounts accounts({"Work", "SMS", "sms", "multimedia MESSAGES", "Home", "SMS Archive"});
    CSettingsDialog dialog(&accounts.session);
    EXPECT_EQ(entries(dialog), (QStringList{"Work", "Home", "SMS Archive", kOther}));

    // No session at all: only the way out.
    CSettingsDialog none(nullptr);
    EXPECT_EQ(entries(none), QStringList{kOther});
}

TEST(SettingsDialog, StartsOnTheStoredChoice) {
    struct Case {
        QStringList accounts;
        const char* stored;
        int usingOutlook;
        int shownIndex;  // -1: nothing shown as selected
        const char* selected;
    };
    const Case cases[] = {
        // The search starts at the second entry: "Work" finds "Work Two".
        {{"Work", "Work Two"}, "Work", 1, 1, "Work"},
        // ... and wraps round to the first, without regard to case.
        {{"Home", "Work"}, "home", 1, 0, "home"},
        // A name that no longer matches is kept, with nothing shown.
        {{"Home"}, "Gone", 1, -1, "Gone"},
        // Nothing stored: the first entry.
        {{"Home", "Work"}, "", 1, 0, "Home"},
        {{}, "", 1, 0, ""},
        // No account used: the last entry.
        {{"Home", "Work"}, "Home", 0, 2, ""},
    };
    for (const Case& c : cases) {
        setStored(QString::fromUtf8(c.stored), c.usingOutlook);
        Accounts accounts(c.accounts);
        CSettingsDialog dialog(&accounts.session);
        dialog.show();  // and destroyed while shown, which closes nothing up
        EXPECT_EQ(dialog.accountList()->currentIndex(), c.shownIndex) << c.stored;
        EXPECT_EQ(dialog.selectedAccount(), QString::fromUtf8(c.selected)) << c.stored;
    }
}

TEST(SettingsDialog, OkWritesTheChoiceAndCancelWritesNothing) {
    setStored(QStringLiteral("Work"), 1);
    s::setNanp(1);
    Accounts accounts({"Home", "Work"});
    {
        CSettingsDialog dialog(&accounts.session);
        EXPECT_TRUE(dialog.dialingRules()->isChecked());
        dialog.dialingRules()->setChecked(false);
        dialog.accountList()->showPopup();
        dialog.accountList()->setCurrentIndex(2);
        dialog.accountList()->hidePopup();  // the drop-down closes on "Other"
        EXPECT_EQ(dialog.selectedAccount(), QString());
        QTest::keyClick(&dialog, Qt::Key_Escape);
        EXPECT_EQ(dialog.result(), QDialog::Rejected);
        EXPECT_EQ(s::nanp(), 1);
        EXPECT_EQ(s::usingOutlook(), 1);
        EXPECT_EQ(s::messageStore(), QStringLiteral("Work"));
    }
    {
        // Chosen with the keys on the closed list, then OK.
        CSettingsDialog dialog(&accounts.session);
        dialog.dialingRules()->setChecked(false);
        dialog.accountList()->setFocus();
        QTest::keyClick(dialog.accountList(), Qt::Key_Down);
        EXPECT_EQ(dialog.accountList()->currentIndex(), 2);
        EXPECT_EQ(dialog.selectedAccount(), QString());
        dialog.accept();
        EXPECT_EQ(dialog.result(), lyb::app::IDOK);
        EXPECT_EQ(s::nanp(), 0);
        EXPECT_EQ(s::usingOutlook(), 0);
        // The account itself is the caller's to store.
        EXPECT_EQ(s::messageStore(), QStringLiteral("Work"));
    }
    {
        // Back to an account with the drop-down.
        CSettingsDialog dialog(&accounts.session);
        EXPECT_EQ(dialog.accountList()->currentIndex(), 2);
        dialog.accountList()->showPopup();
        dialog.accountList()->setCurrentIndex(0);
        dialog.accountList()->hidePopup();
        EXPECT_EQ(dialog.selectedAccount(), QStringLiteral("Home"));
        dialog.accept();
        EXPECT_EQ(s::usingOutlook(), 1);
    }
}

// With LYB_SHOTS naming a folder, grabs the dialog and the menus as a person
// sees them (settings-*.png, menu-*.png), for a look at them by eye.
TEST(Screenshots, SettingsDialogAndMenus) {
    const QString folder = QString::fromLocal8Bit(qgetenv("LYB_SHOTS"));
    if (folder.isEmpty())
        GTEST_SKIP() << "LYB_SHOTS not set";
    const QString ratio = QString::number(qApp->devicePixelRatio());
    setStored(QStringLiteral("Work"), 1);
    Accounts accounts({"Demo Voicemail", "SMS", "Work", "Work Two"});
    CSettingsDialog dialog(&accounts.session);
    dialog.resize(360, 240);
    dialog.show();
    EXPECT_TRUE(dialog.grab().save(folder + "/settings-" + ratio + "x.png"));

    QWidget owner;
    lyb::app::MenuState state;
    state.hasSelection = state.hasRecord = state.selectedPlaying = true;
    const std::pair<lyb::app::MenuId, const char*> menus[] = {
        {lyb::app::MenuId::MenuBar, "menu"}, {lyb::app::MenuId::Context, "context"}};
    for (const auto& [id, name] : menus) {
        QMenu* menu = lyb::app::buildPopup(id, &owner);
        lyb::app::applyMenuRules(menu, state);
        QList<QMenu*> shown = menu->findChildren<QMenu*>();  // "Tools", "Font Size"
        shown.prepend(menu);
        for (int i = 0; i < shown.size(); ++i) {
            shown[i]->adjustSize();
            EXPECT_TRUE(shown[i]->grab().save(
                QStringLiteral("%1/menu-%2%3-%4x.png").arg(folder, name).arg(i).arg(ratio)));
        }
    }
}
