// The details popup, the tips and the about page, offscreen.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QListView>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextFrame>
#include <QTextTable>
#include <QTimer>

#include <functional>

#include "platform/waveout/waveout.h"
#include "tests/platform/mapi/maildir_fixture.h"
#include "ui/details_popup.h"
#include "ui/help_screens.h"
#include "ui/settings_values.h"

using namespace lyb::ui;

namespace {

// Runs check on the modal dialog once exec() has shown it; the check closes
// it. Should it not, the dialog is rejected so that a failing test ends.
void whenModal(std::function<void(QDialog*)> check) {
    QTimer::singleShot(0, [check] {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (!dialog) {
            ADD_FAILURE() << "no modal dialog";
            return;
        }
        check(dialog);
        if (dialog->isVisible()) {
            ADD_FAILURE() << "the dialog stayed open";
            dialog->reject();
        }
    });
}

// A copy of the installed help files in a folder whose path holds blanks,
// "#" and "%", none of which may reach a URL unencoded.
QString helpCopy() {
    const QString folder =
        lyb::testing::freshDir(QStringLiteral("Program Files #1 100%")) + QStringLiteral("/help");
    QDir().mkpath(folder);
    for (const char* file : {"index.html", "tips2.html", "tips3.html", "tips4.html", "about.gif"})
        QFile::copy(QStringLiteral(LYB_SOURCE_DIR "/res/help/") + QLatin1String(file),
                    folder + QLatin1Char('/') + QLatin1String(file));
    return folder;
}

int64_t localTime(int year, int month, int day, int hour, int minute) {
    return QDateTime(QDate(year, month, day), QTime(hour, minute)).toSecsSinceEpoch();
}

}  // namespace

TEST(DetailsPopup, TextsNameTheCallerAndFormatDateAndTimeInTheLocale) {
    const QLocale english(QLocale::English, QLocale::UnitedStates);
    const QLocale french(QLocale::French, QLocale::France);
    struct Case {
        QString name;
        int64_t t;
        int32_t length;
        QLocale locale;
        QString wantName, wantDate, wantLengthPart;
    } cases[] = {
        {"Ada Lovelace", localTime(2005, 4, 5, 9, 5), 346, english, "Ada Lovelace",
         "Tuesday, April 05, 2005, 9:05 AM", ", length 5:46"},
        {"", localTime(2005, 4, 5, 21, 30), 5, english, "<Unknown caller>",
         "Tuesday, April 05, 2005, 9:30 PM", ", length 0:05"},
        {"", localTime(2026, 12, 13, 0, 0), 3600, english, "<Unknown caller>",
         "Sunday, December 13, 2026, 12:00 AM", ", length 60:00"},
        {"Zoé", localTime(2005, 4, 5, 21, 5), 346, french, "Zoé", "mardi, avril 05, 2005, 21:05",
         ", length 5:46"},
        // No received time and no length.
        {"Bob", 0, -1, english, "Bob", "n/a", ""},
    };
    for (const Case& c : cases) {
        const CDetailsTexts texts =
            details_texts(c.name, "(415) 555-0001", c.t, c.length, c.locale);
        EXPECT_EQ(texts.name, c.wantName);
        EXPECT_EQ(texts.number, "(415) 555-0001");
        EXPECT_EQ(texts.date, c.wantDate);
        EXPECT_FALSE(texts.zone.isEmpty());
        if (c.wantLengthPart.isEmpty())
            EXPECT_FALSE(texts.zone.contains("length")) << texts.zone.toStdString();
        else
            EXPECT_TRUE(texts.zone.endsWith(c.wantLengthPart)) << texts.zone.toStdString();
    }
}

// The list is disabled exactly while the popup is open, however it closes;
// the popup is centred on its owner and shows the texts as plain text.
TEST(DetailsPopup, DisablesTheListWhileOpenAndClosesOnOkEnterAndEscape) {
    QWidget owner;
    owner.setGeometry(100, 100, 480, 640);
    auto* list = new QListView(&owner);
    owner.show();
    const CDetailsTexts texts{"<b>Ada</b>", "4155550001", "Tuesday, April 05, 2005, 9:05 AM",
                              "UTC, length 5:46"};
    const std::function<void(CTestDialog*)> closers[] = {
        [](CTestDialog* popup) { popup->ok_button()->click(); },
        [](CTestDialog* popup) { QTest::keyClick(popup, Qt::Key_Return); },
        [](CTestDialog* popup) { QTest::keyClick(popup, Qt::Key_Escape); },
    };
    for (const auto& close : closers) {
        bool checked = false;
        whenModal([&](QDialog* dialog) {
            auto* popup = qobject_cast<CTestDialog*>(dialog);
            ASSERT_NE(popup, nullptr);
            checked = true;
            EXPECT_FALSE(list->isEnabled());
            EXPECT_LE((popup->geometry().center() - owner.geometry().center()).manhattanLength(),
                      2);
            EXPECT_EQ(popup->field(CTestDialog::kNameId)->text(), "<b>Ada</b>");
            EXPECT_EQ(popup->field(CTestDialog::kNameId)->textFormat(), Qt::PlainText);
            EXPECT_EQ(popup->field(CTestDialog::kZoneId)->text(), "UTC, length 5:46");
            EXPECT_EQ(popup->field(CTestDialog::kNumberId)->accessibleName(), "Number: 4155550001");
            close(popup);
        });
        show_details(&owner, list, texts);
        EXPECT_TRUE(checked);
        EXPECT_TRUE(list->isEnabled());
    }
}

// The transcript shows in a read-only box of its own that screen readers
// name, and only when there is one.
TEST(DetailsPopup, ShowsTheTranscriptInANamedScrollingBox) {
    CDetailsTexts texts{"Ada", "4155550001", "Tuesday, April 05, 2005, 9:05 AM", "UTC"};
    CTestDialog without(texts);
    EXPECT_EQ(without.transcript_box(), nullptr);
    texts.transcript = QString("Call me back.\n").repeated(40);
    CTestDialog with(texts);
    QPlainTextEdit* box = with.transcript_box();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->toPlainText(), texts.transcript);
    EXPECT_TRUE(box->isReadOnly());
    EXPECT_EQ(box->accessibleName(), "Transcript");
    EXPECT_EQ(box->accessibleDescription(), texts.transcript);
    with.show();
    EXPECT_TRUE(box->verticalScrollBar()->maximum() > 0) << "a long transcript scrolls";
}

// Next and Previous walk the four pages, read from a folder with blanks, with
// each page's softkeys; past either end nothing changes; a link to a page
// brings its softkeys; Close and Done close.
TEST(Tips, SoftkeysWalkThePagesOfAFolderWithBlanks) {
    CTipsDlg tips(helpCopy());
    tips.show();
    struct Step {
        const char* press;  // "left", "right", "enter" or nullptr for the opening state
        int page;
        const char* left;
        const char* right;
        const char* title;
    } steps[] = {
        {nullptr, 1, "Close", "Next", "Welcome to Lyrabell"},
        {"right", 2, "Previous", "Next", "Playing a voicemail"},
        {"enter", 3, "Previous", "Next", "Connecting your voicemail"},
        {"right", 4, "Previous", "Done", "Settings and contacts"},
        {"left", 3, "Previous", "Next", "Connecting your voicemail"},
        {"left", 2, "Previous", "Next", "Playing a voicemail"},
        {"left", 1, "Close", "Next", "Welcome to Lyrabell"},
    };
    for (const Step& step : steps) {
        const QLatin1String press(step.press);
        if (press == "enter")
            QTest::keyClick(tips.view(), Qt::Key_Return);
        else if (step.press)
            (press == "left" ? tips.left_key() : tips.right_key())->click();
        EXPECT_EQ(tips.page(), step.page);
        EXPECT_EQ(tips.left_key()->text(), step.left);
        EXPECT_EQ(tips.right_key()->text(), step.right);
        EXPECT_EQ(tips.view()->documentTitle(), step.title) << "page " << step.page;
    }
    tips.run_command(CTipsDlg::ID_PREVIOUS);
    EXPECT_EQ(tips.page(), 1);
    tips.show_page(5);
    EXPECT_EQ(tips.page(), 1);

    tips.view()->setSource(QUrl(QStringLiteral("tips4.html")));
    EXPECT_EQ(tips.view()->documentTitle(), "Settings and contacts");
    EXPECT_EQ(tips.page(), 4);
    EXPECT_EQ(tips.right_key()->text(), "Done");
    tips.run_command(CTipsDlg::ID_NEXT);
    EXPECT_EQ(tips.page(), 4);

    tips.right_key()->click();
    EXPECT_FALSE(tips.isVisible());
    EXPECT_EQ(tips.result(), QDialog::Accepted);
    tips.show_page(1);
    tips.show();
    tips.left_key()->click();
    EXPECT_FALSE(tips.isVisible());
}

// The fast factor on the keys page is the player's, also when the page on
// disk names another.
TEST(Tips, KeysPageNamesThePlayersFastFactor) {
    const QString folder = helpCopy();
    QFile page(folder + QStringLiteral("/tips2.html"));
    ASSERT_TRUE(page.open(QIODevice::ReadOnly));
    QByteArray html = page.readAll();
    page.close();
    ASSERT_TRUE(html.contains("<span id=\"fast-factor\">"));
    html.replace("<span id=\"fast-factor\">", "<span id=\"fast-factor\">9.9");
    ASSERT_TRUE(page.open(QIODevice::WriteOnly | QIODevice::Truncate));
    page.write(html);
    page.close();
    CTipsDlg tips(folder);
    tips.show_page(2);
    const QString text = tips.view()->toPlainText();
    const QString factor =
        QString::fromStdString(lyb::waveout::RateFactorText(lyb::waveout::kRateFast));
    EXPECT_EQ(factor, QStringLiteral("1.4"));
    EXPECT_TRUE(text.contains(factor + QChar(0x00D7) + QStringLiteral(" as fast")))
        << text.toStdString();
    EXPECT_FALSE(text.contains(QStringLiteral("9.9"))) << text.toStdString();
}

// "Tips" 0 (or missing) shows the tips at start-up; showing them writes 1,
// so later starts skip them until "Tips" is 0 again.
TEST(Tips, FirstStartShowsThemOnceUntilTipsIsReset) {
    QWidget owner;
    owner.resize(480, 640);
    int shown = 0;
    const auto closeTips = [&](QDialog* dialog) {
        ++shown;
        EXPECT_EQ(dialog->size(), owner.size());
        EXPECT_EQ(read_setting("Tips", -1, 1), 1);
        dialog->accept();
    };
    const QString folder = helpCopy();
    whenModal(closeTips);
    EXPECT_TRUE(show_tips_at_first_start(&owner, folder));
    EXPECT_FALSE(show_tips_at_first_start(&owner, folder));
    EXPECT_EQ(shown, 1);
    ASSERT_TRUE(write_setting("Tips", 0));
    whenModal(closeTips);
    EXPECT_TRUE(show_tips_at_first_start(&owner, folder));
    EXPECT_EQ(shown, 2);
}

TEST(About, DocumentHoldsThePictureAndNameInOneTableRow) {
    const QString folder = helpCopy();
    QTextDocument document;
    document.setHtml(CAboutBoxHtml::about_document(folder));
    EXPECT_EQ(document.metaInformation(QTextDocument::DocumentTitle), "About Lyrabell");
    const QList<QTextFrame*> frames = document.rootFrame()->childFrames();
    ASSERT_EQ(frames.size(), 1);
    auto* table = qobject_cast<QTextTable*>(frames.first());
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(table->rows(), 1);
    ASSERT_EQ(table->columns(), 2);

    const QTextBlock pictureBlock = table->cellAt(0, 0).firstCursorPosition().block();
    EXPECT_EQ(pictureBlock.blockFormat().alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
    const QTextCharFormat picture = pictureBlock.begin().fragment().charFormat();
    ASSERT_TRUE(picture.isImageFormat());
    const QUrl pictureUrl(picture.toImageFormat().name());
    EXPECT_EQ(pictureUrl.toLocalFile(), folder + "/about.gif");

    const QTextBlock heading = table->cellAt(0, 1).firstCursorPosition().block();
    EXPECT_EQ(heading.blockFormat().headingLevel(), 3);
    EXPECT_EQ(heading.text(), "Lyrabell");
    EXPECT_EQ(heading.next().text(), "Version 1.1.1");
    EXPECT_TRUE(heading.next().begin().fragment().charFormat().fontItalic());

    // The screen loads the picture through that URL and closes on OK.
    CAboutBoxHtml about(folder);
    EXPECT_EQ(about.windowTitle(), "About Lyrabell");
    EXPECT_EQ(about.view()->documentTitle(), "About Lyrabell");
    EXPECT_FALSE(about.view()
                     ->loadResource(QTextDocument::ImageResource, pictureUrl)
                     .toByteArray()
                     .isEmpty());
    about.show();
    EXPECT_EQ(about.left_key()->text(), "OK");
    EXPECT_FALSE(about.right_key()->isVisible());
    about.left_key()->click();
    EXPECT_EQ(about.result(), QDialog::Accepted);
}
