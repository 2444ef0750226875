#include "app/main_menus.h"

#include "app/command_line.h"
#include "app/open_file.h"
#include "app/update_page.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QMenu>
#include <QRegularExpression>
#include <QTest>

#include "qstring_print.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <iterator>
#include <memory>

using namespace lyb::app;

namespace {

// Writes a popup as "Text:id" items (with their mnemonics and any key after
// a "="), "-" separators and "Title[...]" submenus.
QString outline(const QMenu* menu) {
    QStringList items;
    for (const QAction* action : menu->actions()) {
        if (action->isSeparator())
            items << QStringLiteral("-");
        else if (action->menu())
            items << action->text() + QLatin1Char('[') + outline(action->menu()) + QLatin1Char(']');
        else
            items << QStringLiteral("%1:%2").arg(action->text()).arg(commandOf(action)) +
                         (action->shortcut().isEmpty()
                              ? QString()
                              : QLatin1Char('=') + action->shortcut().toString());
    }
    return items.join(QLatin1Char('|'));
}

// The state of the popup's items the rules set: "Text" plus "~" when
// disabled and "*" when checked, for the ids asked for.
QString itemsOf(const QMenu* menu, std::initializer_list<int> commands) {
    QStringList out;
    for (const int command : commands) {
        const QAction* a = findCommand(menu, command);
        out << a->text().remove(QLatin1Char('&')) + (a->isEnabled() ? "" : "~") +
                   (a->isChecked() ? "*" : "");
    }
    return out.join(QLatin1Char('|'));
}

}  // namespace

TEST(MainMenus, TextsOrderSeparatorsAndIds) {
    QWidget owner;
    EXPECT_EQ(outline(buildPopup(MenuId::MenuBar, &owner)),
              "&Delete:32773=Del|&Play:32772|&Call Back:32771|Reply &With:32816|"
              "&Mark as Read:32775|&Add to Contacts:32820|Sa&ve Recording As…:32830|-|"
              "&Show Details:32803|"
              "&Refresh:32777=F5|&Open File:32779=Ctrl+O|-|&Tools[&Settings:32778|"
              "&Font Size[&Small:32824|&Medium:32823|&Large:32825]|&Tips:32817|-|"
              "Check For &Update:32785|&About:32780]");
    EXPECT_EQ(outline(buildPopup(MenuId::Context, &owner)),
              "&Delete:32773=Del|&Play:32772|&Call Back:32771|Reply &With:32816|"
              "&Mark as Read:32775|&Add to Contacts:32820|Sa&ve Recording As…:32830");
    EXPECT_EQ(outline(buildPopup(MenuId::PausedScreen, &owner)),
              "Play:32794|Done:32792|-|Sa&ve Recording As…:32830");
    EXPECT_EQ(outline(buildPopup(MenuId::PlayingScreen, &owner)),
              "Pause:32797|Done:32792|-|Sa&ve Recording As…:32830");
    const Softkeys bar = softkeysOf(MenuId::MenuBar);
    EXPECT_EQ(bar.left.text, "Call Back");
    EXPECT_EQ(bar.left.command, ID_CALL_BACK);
    EXPECT_EQ(bar.right.text, "Menu");
    EXPECT_EQ(bar.right.command, 0);
}

TEST(MainMenus, RulesFollowTheSelectionThePlayerAndTheSettings) {
    struct Case {
        const char* what;
        MenuState state;
        const char*
            voicemail;     // Play, Mark as Read, Delete, Call Back, Reply With, Add to Contacts
        const char* view;  // Show Details, Refresh, Small, Medium, Large
    };
    const Case cases[] = {
        {"no selection",
         {false, false, false, false, 0, 1, true},
         "Play~|Mark as Read~|Delete~|Call Back~|Reply With~|Add to Contacts~",
         "Show Details|Refresh|Small|Medium*|Large"},
        {"placeholder row",
         {true, false, true, true, 1, 0, true},
         "Play~|Mark as Read~|Delete~|Call Back~|Reply With~|Add to Contacts~",
         "Show Details*|Refresh|Small*|Medium|Large"},
        {"unread, not playing",
         {true, true, false, false, 0, 2, true},
         "Play|Mark as Read|Delete|Call Back|Reply With|Add to Contacts",
         "Show Details|Refresh|Small|Medium|Large*"},
        {"read and playing",
         {true, true, true, true, 0, 1, true},
         "Pause|Mark as Unread|Delete|Call Back|Reply With|Add to Contacts",
         "Show Details|Refresh|Small|Medium*|Large"},
        {"no account, bad font size",
         {false, false, false, false, 1, 7, false},
         "Play~|Mark as Read~|Delete~|Call Back~|Reply With~|Add to Contacts~",
         "Show Details~*|Refresh~|Small|Medium|Large"},
    };
    QWidget owner;
    QMenu* bar = buildPopup(MenuId::MenuBar, &owner);
    QMenu* context = buildPopup(MenuId::Context, &owner);
    // Each case runs on menus the case before changed, as a kept menu bar is.
    for (const Case& c : cases) {
        applyMenuRules(bar, c.state);
        applyMenuRules(context, c.state);
        for (const QMenu* menu : {bar, context})
            EXPECT_EQ(itemsOf(menu, {ID_PLAY, ID_MARK_READ, ID_DELETE, ID_CALL_BACK, ID_REPLY_WITH,
                                     ID_ADD_TO_CONTACTS}),
                      c.voicemail)
                << c.what;
        EXPECT_EQ(itemsOf(bar, {ID_SHOW_DETAILS, ID_REFRESH, ID_FONT_SMALL, ID_FONT_MEDIUM,
                                ID_FONT_LARGE}),
                  c.view)
            << c.what;
    }
}

TEST(OpenFile, OffersEveryRecordingKindTogetherThenEachAlone) {
    const QStringList filters = openFileFilters().split(QStringLiteral(";;"));
    ASSERT_FALSE(filters.isEmpty());
    const char* const kinds[] = {"wav", "gsm", "mp3", "m4a", "mp4",  "aac",  "amr",
                                 "awb", "3gp", "ogg", "oga", "opus", "flac", "wma"};
    ASSERT_EQ(filters.size(), 1 + qsizetype(std::size(kinds)));
    for (qsizetype i = 0; i < qsizetype(std::size(kinds)); ++i) {
        const QString pattern = QStringLiteral("*.") + QLatin1String(kinds[i]);
        EXPECT_TRUE(filters[0].split(QRegularExpression(QStringLiteral("[ ()]"))).contains(pattern))
            << kinds[i];
        EXPECT_TRUE(filters[i + 1].endsWith(QStringLiteral("(%1)").arg(pattern)))
            << filters[i + 1].toStdString();
    }
}

TEST(OpenFile, StartsInTheMusicFolderWhenThereIsOneElseHome) {
    const QString music = QDir::temp().filePath(QStringLiteral("Music"));
    ASSERT_TRUE(QDir().mkpath(music));
    EXPECT_EQ(openFileStartFolder(music), music);
    EXPECT_EQ(openFileStartFolder(music + QStringLiteral("/absent")), QDir::homePath());
    EXPECT_EQ(openFileStartFolder(QString()), QDir::homePath());
}

TEST(UpdatePage, OpensTheAddressThroughTheUrlHandler) {
    EXPECT_EQ(updatePageUrl(), QStringLiteral(LYB_HOMEPAGE));
    const QString record = QDir::temp().filePath(QStringLiteral("opened.txt"));
    const QString opener = QDir::temp().filePath(QStringLiteral("opener.sh"));
    QFile script(opener);
    ASSERT_TRUE(script.open(QIODevice::WriteOnly));
    script.write(QStringLiteral("#!/bin/sh\nprintf '%s' \"$1\" > '%1.tmp' && mv '%1.tmp' '%1'\n")
                     .arg(record)
                     .toUtf8());
    script.close();
    script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("LYRABELL_URL_OPENER", QFile::encodeName(opener));

    EXPECT_TRUE(openUpdatePage());
    EXPECT_TRUE(QTest::qWaitFor([&] { return QFile::exists(record); }, 20000));
    QFile opened(record);
    ASSERT_TRUE(opened.open(QIODevice::ReadOnly));
    EXPECT_EQ(QString::fromUtf8(opened.readAll()), updatePageUrl());
}

TEST(CommandLine, OptionsOnlyAsTheWholeFirstArgument) {
    using enum CommandLineAction;
    EXPECT_EQ(commandLineAction({}), Run);
    EXPECT_EQ(commandLineAction({"--help", "x.wav"}), Help);
    EXPECT_EQ(commandLineAction({"--version"}), Version);
    for (const QStringList& arguments :
         {QStringList{"./--help"}, QStringList{"/calls/from", "--help"}, QStringList{"--HELP"}}) {
        EXPECT_EQ(commandLineAction(arguments), Run) << arguments.join(' ').toStdString();
        EXPECT_EQ(requestOf(arguments), arguments.join(' '));
    }
}
