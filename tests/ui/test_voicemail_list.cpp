#include <gtest/gtest.h>

#include <QApplication>
#include <QContextMenuEvent>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>

#include <functional>

#include "platform/registry/registry.h"
#include "tests/platform/mapi/maildir_fixture.h"
#include "ui/details_popup.h"
#include "ui/voicemail_list.h"

using lyb::testing::freshDir;
using lyb::testing::MaildirFixture;
using lyb::testing::MailParts;
using lyb::ui::CRowTexts;
using lyb::ui::CVoiceMailList;

namespace {

// Every test gets its own registry, accounts file, contacts folder and
// Maildir.
class VoicemailListTest : public ::testing::Test {
protected:
    VoicemailListTest() : contacts_(freshDir("contacts")) {
        const QString own = freshDir("world");
        qputenv("LYRABELL_REGISTRY", QFile::encodeName(own + "/registry.sqlite3"));
        qputenv("LYRABELL_ACCOUNTS", QFile::encodeName(own + "/accounts.conf"));
        qputenv("LYRABELL_CONTACTS", QFile::encodeName(contacts_));
        qputenv("LYRABELL_REGION", "US");
        QFile accounts(own + "/accounts.conf");
        accounts.open(QIODevice::WriteOnly);
        accounts.write("Voicemail = " + md_.root.toUtf8() + "\n");
    }

    // A voicemail delivered on a day of December 2026 at 09:30 UTC.
    void deliver(int day, const QByteArray& body, bool read = false) {
        MailParts p;
        p.subject = "Voice mail";
        p.textBody = body;
        p.date = "Tue, " + QByteArray::number(day) + " Dec 2026 09:30:00 +0000";
        md_.deliver(lyb::testing::voicemailMail(p), read ? QStringLiteral("S") : QString());
    }
    void contact(const QByteArray& fn, const QByteArray& tel) {
        QFile f(contacts_ + "/" + fn + ".vcf");
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("BEGIN:VCARD\r\nVERSION:3.0\r\nFN:" + fn + "\r\nTEL:" + tel + "\r\nEND:VCARD\r\n");
    }
    void populate(const QString& account = QStringLiteral("voicemail")) {
        lyb::store::CMapiSession session;
        ASSERT_TRUE(lyb::store::logon(session));
        list.populate(session, account);
    }
    QStringList names() const {
        QStringList n;
        for (int i = 0; i < list.row_count(); ++i)
            n << list.list_model()->row_texts(i).name;
        return n;
    }
    QString accessible(int row) const {
        return list.model()->index(row, 0).data(Qt::AccessibleTextRole).toString();
    }

    MaildirFixture md_;
    QString contacts_;
    CVoiceMailList list;
};

}  // namespace

// Newest first, callers named from the contacts, the first row selected;
// contacts that cannot be opened still list every voicemail under the names
// the messages gave.
TEST_F(VoicemailListTest, PopulationSortsNamesCallersAndSurvivesUnreadableContacts) {
    deliver(1, "From: \"Smith, John\" <4155550001>\r\n");
    deliver(3, "Caller Name: Rita Moreno\r\n");
    deliver(2, "Caller ID: 617-555-0002\r\n", true);
    contact("Ada Lovelace", "+1 415 555 0001");
    populate();
    EXPECT_EQ(names(), QStringList({"Rita Moreno", "Unknown caller", "Ada Lovelace"}));
    EXPECT_EQ(list.record_at(1)->caller_number(), "6175550002");
    EXPECT_EQ(list.currentIndex().row(), 0);
    EXPECT_EQ(list.selection_mark(), 0);
    EXPECT_EQ(list.open_account_name(), "Voicemail");
    EXPECT_EQ(list.list_model()->row_texts(2).second_left, "415.555.0001 (00:03)");
    // lybtool lists the same records in the same order under the same names.
    QProcess tool;
    tool.start(QStringLiteral(LYB_BINARY_DIR "/bin/lybtool"), {"list", "Voicemail"});
    ASSERT_TRUE(tool.waitForFinished(30000));
    QStringList toolNames;
    for (const QString& line : QString::fromUtf8(tool.readAllStandardOutput()).split('\n'))
        if (!line.isEmpty())
            toolNames << line.section('\t', 0, 0);
    EXPECT_EQ(toolNames, QStringList({"Rita Moreno", "", "Ada Lovelace"}));

    const QString notAFolder = freshDir("broken") + "/contacts";
    QFile(notAFolder).open(QIODevice::WriteOnly);  // a file where the folder should be
    qputenv("LYRABELL_CONTACTS", QFile::encodeName(notAFolder));
    populate();
    EXPECT_EQ(names(), QStringList({"Rita Moreno", "Unknown caller", "Smith, John"}));
}

TEST_F(VoicemailListTest, PlaceholderStandsAloneWhenNothingIsListed) {
    md_.deliver(lyb::testing::plainMail("Lunch?", "From: Bob"));
    for (const char* account : {"voicemail", "No such account"}) {
        populate(QString::fromLatin1(account));
        ASSERT_EQ(list.row_count(), 1) << account;
        EXPECT_EQ(list.record_at(0), nullptr);
        EXPECT_TRUE(list.list_model()->row_texts(0).placeholder);
        EXPECT_EQ(accessible(0), "<no voicemails in your inbox>");
        EXPECT_FALSE(list.delete_row(0));
        EXPECT_EQ(list.row_count(), 1);
    }
    EXPECT_EQ(list.open_account_name(), "");
}

// Deleting moves the message to the Maildir's Trash and selects the row now
// at the same place, or the new last row; the only row leaves an empty list.
// The current row (the playing one) follows its voicemail.
TEST_F(VoicemailListTest, DeletingSelectsTheRowAtTheSamePlace) {
    for (int day = 1; day <= 4; ++day)
        deliver(day, "Caller Name: Day " + QByteArray::number(day) + "\r\n");
    populate();
    ASSERT_EQ(names(), QStringList({"Day 4", "Day 3", "Day 2", "Day 1"}));
    struct Step {
        int row;
        QStringList left;
        int selected;
        int current;
    } steps[] = {{3, {"Day 4", "Day 3", "Day 2"}, 2, 2},
                 {1, {"Day 4", "Day 2"}, 1, 1},
                 {0, {"Day 2"}, 0, 0},
                 {0, {}, -1, -2}};
    list.set_current_row(2);  // "Day 2"
    for (const Step& s : steps) {
        ASSERT_TRUE(list.delete_row(s.row)) << s.row;
        EXPECT_EQ(names(), s.left);
        EXPECT_EQ(list.currentIndex().row(), s.selected);
        EXPECT_EQ(list.current_row(), s.current);
        if (s.selected >= 0) {
            EXPECT_EQ(list.selection_mark(), s.selected);
        }
    }
    EXPECT_FALSE(list.delete_row(0));
    EXPECT_EQ(QDir(md_.root + "/.Trash/new").count() + QDir(md_.root + "/.Trash/cur").count(),
              4u + 4u);  // four messages, and "." and ".." in each folder
    EXPECT_TRUE(md_.files("new").isEmpty());
}

// Mode and size give the row height, are written at once and read back by
// the next list; the symbols follow the current row, the paused flag and the
// read state, and the rows say the same in words.
TEST_F(VoicemailListTest, RowHeightsSettingsAndSymbols) {
    struct Case {
        int details, font, height;
    } cases[] = {{0, 0, 18}, {0, 1, 24}, {0, 2, 28}, {1, 0, 34}, {1, 1, 40}, {1, 2, 44}};
    deliver(1, "Caller Name: Ann Lee\r\n", true);
    deliver(2, "Caller Name: Bea Cruz\r\n");
    deliver(3, "Caller Name: Cy Young\r\n");
    populate();
    for (const Case& c : cases) {
        list.set_details_mode(c.details);
        list.set_font_size(c.font);
        EXPECT_EQ(list.row_height(), c.height);
        EXPECT_EQ(list.visualRect(list.model()->index(1, 0)).height(), c.height);
        CVoiceMailList again;
        EXPECT_EQ(again.details_mode(), c.details);
        EXPECT_EQ(again.font_size(), c.font);
    }
    auto key = lyb::reg::Key::create(lyb::reg::Hive::CurrentUser,
                                     "Software\\Corvendale\\Lyrabell\\Lyrabell");
    key->writeDword("Font", 7);  // out of range: the default
    EXPECT_EQ(CVoiceMailList().font_size(), 1);

    using S = CRowTexts::Symbol;
    struct SymbolCase {
        int current;
        bool paused;
        S symbols[3];
        const char* words;  // how the current row ends in words
    } symbolCases[] = {{CVoiceMailList::kNoRow, false, {S::Unread, S::Unread, S::None}, ""},
                       {1, false, {S::Unread, S::Play, S::None}, ", new, playing"},
                       {1, true, {S::Unread, S::Pause, S::None}, ", new, paused"},
                       {2, true, {S::Unread, S::Unread, S::Pause}, ", paused"}};
    for (const SymbolCase& c : symbolCases) {
        list.set_current_row(c.current);
        list.set_paused(c.paused);
        for (int row = 0; row < 3; ++row)
            EXPECT_EQ(list.list_model()->row_texts(row).symbol, c.symbols[row]) << row;
        if (c.current >= 0) {
            EXPECT_TRUE(accessible(c.current).endsWith(c.words))
                << accessible(c.current).toStdString();
        }
    }
    list.set_details_mode(0);
    EXPECT_TRUE(accessible(0).startsWith("Cy Young, ")) << accessible(0).toStdString();
    EXPECT_TRUE(accessible(0).contains(", 00:03, new"));
    EXPECT_EQ(list.accessibleName(), "Voicemails");
}

// On a narrow list a row's name and day stand at its two ends; on a wide one
// they keep a readable measure, centred, while the row runs the whole width.
TEST_F(VoicemailListTest, WideRowsKeepAReadableMeasure) {
    deliver(1, "Caller Name: Ann Lee\r\n", true);
    deliver(2, "Caller Name: Bea Cruz\r\n", true);
    populate();
    list.set_details_mode(0);
    list.show();
    struct Row {
        int width;
        int minSpan, maxSpan;  // of the painted texts in row 1
    } table[] = {{360, 300, 360}, {800, 300, 560}, {1600, 300, 560}};
    for (const Row& row : table) {
        SCOPED_TRACE(row.width);
        list.resize(row.width, 200);
        QApplication::processEvents();
        const QRect rect = list.visualRect(list.model()->index(1, 0));
        const QImage shown = list.viewport()->grab().toImage();
        const QRgb base = shown.pixel(rect.left() + 1, rect.top() + 1);
        EXPECT_EQ(shown.pixel(rect.right() - 1, rect.top() + 1), base);
        int left = rect.right(), right = rect.left();
        for (int y = rect.top(); y < rect.bottom(); ++y) {
            for (int x = rect.left(); x <= rect.right(); ++x) {
                if (shown.pixel(x, y) != base) {
                    left = std::min(left, x);
                    right = std::max(right, x);
                }
            }
        }
        EXPECT_GE(right - left, row.minSpan);
        EXPECT_LE(right - left, row.maxSpan);
        EXPECT_NEAR((left + right) / 2.0, rect.center().x(), 20.0);
    }
}

// A screen reader hears the first line of a row's transcript after what the
// row shows; the popup gets the whole transcript.
TEST_F(VoicemailListTest, RowsSayTheFirstLineOfTheirTranscript) {
    deliver(1, "From: Ann Lee\r\n\r\nTranscription: Call me back.\r\nAt noon.\r\n");
    deliver(2, "From: Bob Smith\r\n");
    populate();
    EXPECT_TRUE(accessible(1).endsWith(", transcript: Call me back."))
        << accessible(1).toStdString();
    EXPECT_FALSE(accessible(0).contains("transcript")) << accessible(0).toStdString();
    EXPECT_EQ(lyb::ui::details_texts(*list.record_at(1)).transcript, "Call me back.\nAt noon.");
    QProcess tool;
    tool.start(QStringLiteral(LYB_BINARY_DIR "/bin/lybtool"), {"list", "Voicemail", "--json"});
    ASSERT_TRUE(tool.waitForFinished(30000));
    const QJsonArray all = QJsonDocument::fromJson(tool.readAllStandardOutput()).array();
    ASSERT_EQ(all.size(), 2);
    EXPECT_EQ(all[1].toObject()["transcript"].toString(), "Call me back.\nAt noon.");
    EXPECT_EQ(all[0].toObject()["transcript"].toString(), "");
}

// The pen on the list: lifted at once it taps the row under it (or below the
// rows), held still it asks for the row's menu as a right click does, and
// sliding away is neither.
TEST_F(VoicemailListTest, PenTapsAndHoldsAreSignalsOfTheList) {
    deliver(1, "Caller Name: Rita Moreno\r\n");
    deliver(2, "Caller Name: Ada Lovelace\r\n");
    populate();
    list.resize(240, 300);
    list.show();
    QWidget* pen = list.viewport();
    const QPoint row0 = list.visualRect(list.model()->index(0, 0)).center();
    const QPoint row1 = list.visualRect(list.model()->index(1, 0)).center();
    const QPoint below(row0.x(), pen->height() - 3);
    ASSERT_LT(list.indexAt(below).row(), 0);
    const struct {
        const char* what;
        std::function<void()> act;
        int tapped;  // -2: no tap
        int held;    // -2: no hold
    } cases[] = {
        {"tap", [&] { QTest::mouseClick(pen, Qt::LeftButton, {}, row1); }, 1, -2},
        {"tap below the rows", [&] { QTest::mouseClick(pen, Qt::LeftButton, {}, below); }, -1, -2},
        {"hold",
         [&] {
             QTest::mousePress(pen, Qt::LeftButton, {}, row0);
             QSignalSpy held(&list, &CVoiceMailList::rowHeld);
             held.wait(5000);
             QTest::mouseRelease(pen, Qt::LeftButton, {}, row0);
         },
         -2, 0},
        {"slide",
         [&] {
             QTest::mousePress(pen, Qt::LeftButton, {}, row0);
             QTest::mouseMove(pen, row1);
             QTest::qWait(CVoiceMailList::kHoldMs * 2);
             QTest::mouseRelease(pen, Qt::LeftButton, {}, row1);
         },
         -2, -2},
        {"right click",
         [&] {
             QContextMenuEvent menu(QContextMenuEvent::Mouse, row1, pen->mapToGlobal(row1));
             QApplication::sendEvent(pen, &menu);
         },
         -2, 1},
    };
    for (const auto& c : cases) {
        QSignalSpy tapped(&list, &CVoiceMailList::rowTapped);
        QSignalSpy held(&list, &CVoiceMailList::rowHeld);
        c.act();
        QApplication::processEvents();
        ASSERT_EQ(tapped.size(), c.tapped == -2 ? 0 : 1) << c.what;
        if (c.tapped != -2) {
            EXPECT_EQ(tapped[0][0].toInt(), c.tapped) << c.what;
        }
        ASSERT_EQ(held.size(), c.held == -2 ? 0 : 1) << c.what;
        if (c.held != -2) {
            EXPECT_EQ(held[0][0].toInt(), c.held) << c.what;
            EXPECT_EQ(list.indexAt(pen->mapFromGlobal(held[0][1].toPoint())).row(), c.held)
                << c.what;
        }
    }
}
