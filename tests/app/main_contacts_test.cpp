// Call Back, Reply With and Add to Contacts from the main window, on a
// Maildir account, a vCard folder and a recording dialler, with the real
// dial dialog, contact card and editor answered as a person would.
#include "app/main_dialog.h"
#include "app/message_box.h"
#include "app/settings.h"
#include "platform/pim/pim.h"
#include "recording_playback.h"
#include "tests/app/voicemail_account.h"
#include "tests/platform/telephony/recording_dialler.h"
#include "tests/ui/contact_fixture.h"
#include "ui/contact_dialogs.h"
#include "ui/dial_dialog.h"
#include "ui/voicemail_list.h"

#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>

#include "qstring_print.h"

#include <gtest/gtest.h>

using namespace lyb::app;
using namespace lyb;
namespace s = lyb::settings;
using lyb::testing::ContactFolder;
using lyb::testing::RecordingDialler;
using lyb::testing::whenModal;

namespace {

// Row 0: a voicemail from 555-123-4567; row 1: one without a number. The
// contact "Maria Berg, Anna" has that number.
class MainContactsTest : public ::testing::Test {
protected:
    MainContactsTest() {
        qputenv("LYRABELL_DIALLER", dialler.script.toUtf8());
        qputenv("LYRABELL_REGION", "US");
        lyb::testing::useVoicemailAccount(md);
        lyb::testing::MailParts p;
        p.date = "Tue, 02 Dec 2026 09:30:00 +0000";
        md.deliver(lyb::testing::voicemailMail(p));
        p.date = "Tue, 01 Dec 2026 09:30:00 +0000";
        p.subject = "Voice Mail Message";
        p.textBody = "You have a new voice message.\r\n";
        md.deliver(lyb::testing::voicemailMail(p));
        s::setUsingOutlook(1);
        lyb::store::logon(session);
        setMessageBoxHandler(
            [this](QWidget*, const QString& text, MessageIcon icon, MessageButtons) {
                boxes << text;
                icons << icon;
                return IDOK;
            });
        pim::setContactUi(&contactUi);
        window = std::make_unique<CMainDialog>(nullptr, 0);
        window->setSession(&session);
        window->setPlayback(std::make_unique<CRecordingPlayback>(log));
        window->setHeadStart(0);
        window->setSettingsRunner([](QWidget*, QString*) { return IDCANCEL; });
        window->show();
        window->initialise();
    }
    ~MainContactsTest() override {
        window.reset();
        setMessageBoxHandler({});
        pim::setContactUi(nullptr);
        qunsetenv("LYRABELL_DIALLER");
    }

    store::CVoiceMailMessage& row(int r) { return *window->list()->record_at(r); }
    void select(int r, const QString& name) {
        window->list()->select_row(r);
        row(r).set_caller_name(name);
    }
    // Runs a command; a contact card that opens is closed, its title returned.
    QString runShowingCard(int command) {
        QString title;
        QPointer<QTimer> watch = whenModal<ui::CContactCard>([&](ui::CContactCard& card) {
            title = card.windowTitle();
            card.accept();
        });
        window->runCommand(command);
        delete watch.data();
        return title;
    }

    ContactFolder contacts;
    RecordingDialler dialler;
    lyb::testing::MaildirFixture md;
    store::CMapiSession session;
    ui::CContactUi contactUi;
    std::shared_ptr<PlaybackLog> log = std::make_shared<PlaybackLog>();
    std::unique_ptr<CMainDialog> window;
    QStringList boxes;
    QList<MessageIcon> icons;
};

}  // namespace

TEST_F(MainContactsTest, CallBackDialsTheEditedNumberAndNothingWhenCancelled) {
    select(0, "Anna");
    for (bool dial : {false, true}) {
        whenModal<ui::CDialDialog>([&](ui::CDialDialog& dialog) {
            EXPECT_EQ(dialog.name_box()->text(), "Anna");
            EXPECT_EQ(dialog.number_box()->text(), "15551234567");
            EXPECT_FALSE(window->list()->isEnabled());
            if (dial) {
                dialog.number_box()->setText("+1 555 123 4567");
                dialog.dial_button()->click();
            } else {
                dialog.cancel_button()->click();
            }
        });
        window->runCommand(ID_CALL_BACK);
        EXPECT_TRUE(window->list()->isEnabled());
        EXPECT_EQ(window->list()->selection_mark(), 0);
    }
    // Only the second call was placed.
    EXPECT_EQ(dialler.waitForCalls(1), (QList<QStringList>{{"+1 555 123 4567", "Anna"}}));
    EXPECT_TRUE(boxes.isEmpty());
}

TEST_F(MainContactsTest, CallBackWithoutANumberAndReplyWithFindTheCardOrSayWhy) {
    contacts.put("anna.vcf", "Maria Berg\\, Anna", "TEL;TYPE=cell:555-123-4567\r\n");
    struct Case {
        int command;
        int row;
        QString name;
        QString card;  // the card's title, or empty
        QString box;   // the message, or empty
    } cases[] = {
        {ID_CALL_BACK, 1, "", "", "Cannot call unknown caller."},
        {ID_CALL_BACK, 1, "   ", "", "Cannot call unknown caller."},
        {ID_CALL_BACK, 1, "Anna Maria Berg", "Maria Berg, Anna", ""},
        {ID_REPLY_WITH, 0, " Anna Maria Berg ", "Maria Berg, Anna", ""},
        {ID_REPLY_WITH, 0, " Nobody  Here ", "", "Cannot find ' Nobody  Here ' in your contacts."},
        // The number would match the contact, but a nameless caller is never looked up.
        {ID_REPLY_WITH, 0, "", "", "Cannot find contact without name in your contacts."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name.toStdString());
        boxes.clear();
        icons.clear();
        select(c.row, c.name);
        window->runCommand(ID_PLAY);  // both commands stop what plays first
        ASSERT_TRUE(log->hasPlayer);
        EXPECT_EQ(runShowingCard(c.command), c.card);
        EXPECT_FALSE(log->hasPlayer);
        EXPECT_EQ(boxes, c.box.isEmpty() ? QStringList() : QStringList{c.box});
        if (!c.box.isEmpty()) {
            EXPECT_EQ(icons.value(0), MessageIcon::Exclamation);
        }
        EXPECT_TRUE(window->list()->isEnabled());
    }
    EXPECT_TRUE(dialler.calls().isEmpty());
}

// The real message box shows a caller's name as it is: an <img> in it is
// never loaded (a FIFO or /dev/zero there would hang or exhaust memory).
TEST_F(MainContactsTest, ReplyWithShowsAMarkupNameAsTextInTheRealBox) {
    setMessageBoxHandler({});
    const QString name = QStringLiteral("<img src='/nonexistent/x.png'><b>x</b>");
    select(0, name);
    Qt::TextFormat format = Qt::AutoText;
    QString shown;
    QPointer<QTimer> watch = whenModal<QMessageBox>([&](QMessageBox& box) {
        format = box.textFormat();
        shown = box.text();
        box.accept();
    });
    window->runCommand(ID_REPLY_WITH);
    delete watch;
    EXPECT_EQ(format, Qt::PlainText);
    EXPECT_EQ(shown, QStringLiteral("Cannot find '%1' in your contacts.").arg(name));
}

TEST_F(MainContactsTest, AddToContactsOpensTheEditorKeepsOrDeletesAndRenamesTheRow) {
    struct Case {
        QString name;
        bool keep;
        QString first, last, fileAs;  // as the editor shows them
        QString fileAsEntered;        // typed over the file-as name, when not empty
    } cases[] = {
        {"Smith", true, "Smith", "", "Smith", ""},
        {"  Jo  Ann Lee ", true, "Jo", " Ann Lee", "Jo  Ann Lee", ""},
        {"", true, "", "", "", "Nils Holm"},
        {"Smith", false, "Smith", "", "Smith", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name.toStdString());
        for (const QString& f : contacts.files())
            QFile::remove(contacts.path + "/" + f);
        select(0, c.name);
        whenModal<ui::CContactEditor>([&](ui::CContactEditor& editor) {
            using E = ui::CContactEditor;
            EXPECT_EQ(editor.field(E::FirstName)->text(), c.first);
            EXPECT_EQ(editor.field(E::LastName)->text(), c.last);
            EXPECT_EQ(editor.field(E::FileAs)->text(), c.fileAs);
            EXPECT_EQ(editor.field(E::Mobile)->text(), "5551234567");
            if (!c.fileAsEntered.isEmpty())
                editor.field(E::FileAs)->setText(c.fileAsEntered);
            c.keep ? editor.accept() : editor.reject();
        });
        window->runCommand(ID_ADD_TO_CONTACTS);
        const QStringList files = contacts.files();
        if (!c.keep) {
            EXPECT_TRUE(files.isEmpty());
            EXPECT_EQ(row(0).caller_name(), c.name);
            continue;
        }
        ASSERT_EQ(files.size(), 1);
        const QByteArray saved = contacts.get(files[0]);
        // A file named after the card's UID, as vdir tools expect.
        EXPECT_TRUE(saved.contains("UID:urn:uuid:" + files[0].chopped(4).toUtf8() + "\r\n"))
            << saved.constData();
        EXPECT_TRUE(saved.contains("TEL;TYPE=cell:5551234567\r\n"));
        const QString shown = c.fileAsEntered.isEmpty() ? c.fileAs : c.fileAsEntered;
        // The row is named again from the new contact (a contact with an
        // empty file-as name leaves the name the row had).
        EXPECT_EQ(row(0).caller_name(), shown.isEmpty() ? c.name : shown);
    }
}
