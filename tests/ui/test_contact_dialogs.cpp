// The contact card, the contact editor and the dial dialog, driven as a
// person would: the editor keeps what it does not show, the card's buttons
// reach the dialler and the URL handler, and the dial box's typing limit.
#include "platform/pim/pim.h"
#include "tests/platform/telephony/recording_dialler.h"
#include "tests/ui/contact_fixture.h"
#include "ui/contact_dialogs.h"
#include "ui/dial_dialog.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

using namespace lyb;
using namespace lyb::ui;
using lyb::testing::ContactFolder;
using lyb::testing::RecordingDialler;
using lyb::testing::whenModal;

namespace {

std::unique_ptr<pim::Contact> match(pim::Application& app, const QString& name) {
    std::unique_ptr<pim::Contact> c;
    EXPECT_EQ(app.matchContact(name, pim::kMatchFileAs, &c), pim::kOk);
    return c;
}

}  // namespace

TEST(ContactEditor, EditKeepsWhatItDoesNotShowByteForByte) {
    ContactFolder folder;
    folder.put("anna.vcf", "Anna Berg",
               "N:Berg;Anna;;;\r\n" + lyb::testing::kKeptLines +
                   "TEL;TYPE=work:+46 18 12 34 56\r\nUID:urn:uuid:1\r\n");
    CContactUi contactUi;
    auto app = pim::Application::create(folder.path, &contactUi);
    ASSERT_EQ(app->logon(), pim::kOk);
    auto contact = match(*app, "Anna Berg");
    ASSERT_TRUE(contact);
    whenModal<CContactEditor>([](CContactEditor& editor) {
        EXPECT_EQ(editor.field(CContactEditor::Work)->text(), "+46 18 12 34 56");
        editor.field(CContactEditor::FirstName)->setText("Annika");
        editor.field(CContactEditor::Mobile)->setText("070-123 45 67");
        editor.accept();
    });
    ASSERT_EQ(contact->edit(nullptr), pim::kOk);
    ASSERT_EQ(contact->save(), pim::kOk);
    const QByteArray saved = folder.get("anna.vcf");
    EXPECT_TRUE(saved.contains(lyb::testing::kKeptLines)) << saved.constData();
    EXPECT_TRUE(saved.contains("N:Berg;Annika;;;\r\n"));
    EXPECT_TRUE(saved.contains("TEL;TYPE=work:+46 18 12 34 56\r\nUID:urn:uuid:1\r\n"));
    EXPECT_TRUE(saved.contains("TEL;TYPE=cell:070-123 45 67\r\n"));
    EXPECT_EQ(folder.files(), QStringList{"anna.vcf"});  // written in place, nothing left over
}

TEST(ContactEditor, CancelChangesNothingAndEmptiedFieldsRemoveTheirProperty) {
    ContactFolder folder;
    folder.put("b.vcf", "Bo", "TEL;TYPE=home:111\r\nEMAIL:bo@example.org\r\n");
    CContactUi contactUi;
    auto app = pim::Application::create(folder.path, &contactUi);
    ASSERT_EQ(app->logon(), pim::kOk);
    auto contact = match(*app, "Bo");
    whenModal<CContactEditor>([](CContactEditor& editor) {
        editor.field(CContactEditor::Home)->clear();
        editor.reject();
    });
    EXPECT_EQ(contact->edit(nullptr), pim::kCancelled);
    EXPECT_EQ(contact->telephoneNumber(pim::kPropHomeTelephoneNumber), "111");
    whenModal<CContactEditor>([](CContactEditor& editor) {
        editor.field(CContactEditor::Home)->clear();
        editor.field(CContactEditor::Email)->clear();
        editor.accept();
    });
    EXPECT_EQ(contact->edit(nullptr), pim::kOk);
    EXPECT_TRUE(contact->telephones().isEmpty());
    EXPECT_TRUE(contact->emailAddresses().isEmpty());
}

TEST(ContactCard, ButtonsCallTextAndWrite) {
    ContactFolder folder;
    folder.put("c.vcf", "Maria Berg, Anna",
               "TEL;TYPE=cell:+46701234567\r\nTEL;VALUE=uri;TYPE=home:tel:+4618123456\r\n"
               "EMAIL:anna@example.org\r\n");
    RecordingDialler dialler, opener;
    qputenv("LYRABELL_DIALLER", dialler.script.toUtf8());
    qputenv("LYRABELL_URL_OPENER", opener.script.toUtf8());
    auto app = pim::Application::create(folder.path, nullptr);
    ASSERT_EQ(app->logon(), pim::kOk);
    auto contact = match(*app, "Maria Berg, Anna");
    CContactCard card(*contact);
    EXPECT_EQ(card.windowTitle(), "Maria Berg, Anna");
    EXPECT_EQ(card.action("Text Home +4618123456"), nullptr);  // texts go to mobiles only
    for (const char* name : {"Call Mobile +46701234567", "Call Home +4618123456",
                             "Text Mobile +46701234567", "Write anna@example.org"}) {
        QPushButton* button = card.action(QString::fromLatin1(name));
        ASSERT_TRUE(button) << name;
        button->click();
    }
    // Started one after the other, the two may record in either order.
    const auto calls = dialler.waitForCalls(2);
    EXPECT_EQ(calls.size(), 2);
    EXPECT_TRUE(calls.contains(QStringList{"+46701234567", "Maria Berg, Anna"}));
    EXPECT_TRUE(calls.contains(QStringList{"+4618123456", "Maria Berg, Anna"}));
    const auto urls = opener.waitForCalls(2);
    EXPECT_TRUE(urls.contains(QStringList{"sms:+46701234567"}));
    EXPECT_TRUE(urls.contains(QStringList{"mailto:anna@example.org"}));
    qunsetenv("LYRABELL_DIALLER");
    qputenv("LYRABELL_URL_OPENER", "/bin/true");
}

TEST(DialDialog, TypingStopsAtSeventeenButALongerNumberIsKeptWhole) {
    struct Case {
        QString prefilled;
        QString typed;
        QString expected;
    } cases[] = {
        {"14155551234", "999999999", "14155551234999999"},  // stops at 17
        {"01144207123456789", "9", "01144207123456789"},    // 17 already
        {"011442071234567890", "9", "011442071234567890"},  // 18 shown whole, no more
    };
    for (const Case& c : cases) {
        CDialDialog dialog("Anna", c.prefilled);
        EXPECT_EQ(dialog.number(), c.prefilled);
        dialog.number_box()->setFocus();
        dialog.number_box()->end(false);
        QTest::keyClicks(dialog.number_box(), c.typed);
        EXPECT_EQ(dialog.number(), c.expected);
    }
    // A long number can be corrected in place; once shortened to the limit,
    // typing stops there.
    CDialDialog dialog("", "011442071234567890");
    dialog.number_box()->end(false);
    QTest::keyClick(dialog.number_box(), Qt::Key_Left, Qt::ShiftModifier);
    QTest::keyClicks(dialog.number_box(), "5");
    EXPECT_EQ(dialog.number(), "011442071234567895");
    QTest::keyClick(dialog.number_box(), Qt::Key_Backspace);
    QTest::keyClicks(dialog.number_box(), "12");
    EXPECT_EQ(dialog.number(), "01144207123456789");
    EXPECT_TRUE(dialog.name_box()->isReadOnly());
}
