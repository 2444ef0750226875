#include <gtest/gtest.h>

#include <optional>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "contacts/contacts.h"

using namespace lyb;
using contacts::AddResult;

namespace {

// A contacts folder of its own, made the default for the test.
class ContactsTest : public testing::Test {
protected:
    ContactsTest() : folder_(dir_.filePath("contacts")) {
        qputenv("LYRABELL_CONTACTS", folder_.toUtf8());
        qputenv("LYRABELL_REGION", "US");
    }
    ~ContactsTest() override { pim::setContactUi(nullptr); }

    void put(const QString& name, const QByteArray& fn, const QByteArray& tel) {
        QDir().mkpath(folder_);
        QFile f(folder_ + "/" + name);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        QByteArray card = "BEGIN:VCARD\r\nVERSION:3.0\r\n";
        if (!fn.isNull())
            card += "FN:" + fn + "\r\n";
        f.write(card + "TEL:" + tel + "\r\nEND:VCARD\r\n");
    }
    std::unique_ptr<pim::Application> logon() {
        auto app = pim::Application::create();
        EXPECT_EQ(app->logon(), pim::kOk);
        return app;
    }
    QStringList files() const { return QDir(folder_).entryList(QDir::Files | QDir::Hidden); }

    QTemporaryDir dir_;
    QString folder_;
};

// The editor of the tests: remembers what it was shown and finishes or cancels.
class ScriptedEditor : public pim::ContactUi {
public:
    explicit ScriptedEditor(bool finish) : finish_(finish) {}
    void display(pim::Contact&, QObject*) override { ++displayed; }
    bool edit(pim::Contact& contact, QObject* owner) override {
        ++edited;
        owner_ = owner;
        storedWhenOpened = QFile::exists(contact.filePath());
        if (!lastNameToEnter.isEmpty())
            contact.setLastName(lastNameToEnter);
        if (fileAsToEnter)
            contact.setFileAs(*fileAsToEnter);
        return finish_;
    }
    int displayed = 0;
    int edited = 0;
    bool storedWhenOpened = false;
    QObject* owner_ = nullptr;
    QString lastNameToEnter;
    std::optional<QString> fileAsToEnter;

private:
    bool finish_;
};

struct Record {
    QString name;
    QString number;
    QString caller_name() const { return name; }
    QString caller_number() const { return number; }
    void set_caller_name(const QString& n) { name = n; }
};

}  // namespace

TEST_F(ContactsTest, ResolveCallerNameTakesTheMatchingContactsFileAsName) {
    put("a.vcf", "Anna Berg", "+1 (415) 555-1234");
    put("b.vcf", "", "+1 415 555 0002");
    put("c.vcf", QByteArray(), "+1 415 555 0003");
    auto app = logon();
    struct Case {
        const char* number;
        const char* name;
        const char* shown;
    };
    const Case cases[] = {
        {"4155551234", "", "Anna Berg"},
        {"4155551234", "Someone Else", "Anna Berg"},  // the contact wins
        {"14155551234", "", "Anna Berg"},
        {"4155550002", "Own Name", "Own Name"},  // empty file-as name
        {"4155550003", "Own Name", "Own Name"},  // no file-as name
        {"4155550002", "", ""},
        {"4155559999", "Own Name", "Own Name"},  // no contact
        {"4155559999", "", ""},
        {"", "", ""},  // no number: the contacts are not asked
    };
    for (const Case& c : cases) {
        Record r{QString::fromUtf8(c.name), QString::fromUtf8(c.number)};
        contacts::resolve_caller_name(*app, r);
        EXPECT_EQ(r.name, QString::fromUtf8(c.shown)) << c.number << " / " << c.name;
    }
}

TEST_F(ContactsTest, ResolveCallerNameFallsBackToTheNumberWhenTheContactCannotBeOpened) {
    put("a.vcf", "Anna Berg", "+1 (415) 555-1234");
    auto app = logon();
    QFile::remove(folder_ + "/a.vcf");
    EXPECT_EQ(contacts::resolve_caller_name(*app, "4155551234", ""), "4155551234");
    EXPECT_EQ(contacts::resolve_caller_name(*app, "4155551234", "Kept"), std::nullopt);
}

// The name is split at the first blank; the card is named (FN) by "File as",
// else by first and last name, else by its number, and keeps the number in
// E.164 form.
TEST_F(ContactsTest, AddCallerNamesTheCardAndKeepsTheWholeNumber) {
    struct Case {
        const char* name;
        const char* number;
        const char* fileAsEntered;  // null: left as the editor opened it
        const char* first;
        const char* last;
        const char* fileAs;
        const char* tel;
    };
    const Case cases[] = {
        {"Smith", "4155551234", nullptr, "Smith", "", "Smith", "+14155551234"},
        {" Smith ", "(415) 555-1234", nullptr, "Smith", "", "Smith", "+14155551234"},
        {"  Jo  Ann Lee ", "4155551234", nullptr, "Jo", " Ann Lee", "Jo  Ann Lee", "+14155551234"},
        {"Anna Maria Berg", "442071234567", nullptr, "Anna", "Maria Berg", "Anna Maria Berg",
         "+442071234567"},
        {"Anna Maria Berg", "+442071234567", "", "Anna", "Maria Berg", "Anna Maria Berg",
         "+442071234567"},
        {"", "+442071234567", nullptr, "", "", "+442071234567", "+442071234567"},
        {"Erik Larsen", "5550142", " ", "Erik", "Larsen", "Erik Larsen", "5550142"},
    };
    ScriptedEditor editor(true);
    pim::setContactUi(&editor);
    QObject owner;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " / " + c.number);
        QDir(folder_).removeRecursively();
        editor.fileAsToEnter =
            c.fileAsEntered ? std::optional<QString>(c.fileAsEntered) : std::nullopt;
        EXPECT_EQ(contacts::add_caller_to_contacts(c.name, c.number, &owner), AddResult::Added);
        EXPECT_TRUE(editor.storedWhenOpened);
        EXPECT_EQ(editor.owner_, &owner);
        auto app = logon();
        std::unique_ptr<pim::Contact> contact;
        ASSERT_EQ(app->matchContact(c.number, pim::kMatchTelephoneNumbers, &contact), pim::kOk);
        ASSERT_TRUE(contact);
        EXPECT_EQ(contact->firstName().toStdString(), c.first);
        EXPECT_EQ(contact->lastName().toStdString(), c.last);
        EXPECT_EQ(contact->fileAs().toStdString(), c.fileAs);
        EXPECT_EQ(contact->mobileTelephoneNumber().toStdString(), c.tel);
        // The list names the caller from the new card at its next Refresh.
        EXPECT_EQ(contacts::resolve_caller_name(*app, c.number, QString()),
                  std::optional<QString>(QString::fromUtf8(c.fileAs)));
        EXPECT_EQ(files().size(), 1);
    }
    EXPECT_EQ(editor.edited, int(std::size(cases)));
}

TEST_F(ContactsTest, AddCallerSavesWhatTheEditorChanged) {
    ScriptedEditor editor(true);
    editor.lastNameToEnter = "Berg";
    pim::setContactUi(&editor);
    EXPECT_EQ(contacts::add_caller_to_contacts("Anna", "4155551234", nullptr), AddResult::Added);
    auto app = logon();
    std::unique_ptr<pim::Contact> contact;
    ASSERT_EQ(app->matchContact("Anna", pim::kMatchFileAs, &contact), pim::kOk);
    EXPECT_EQ(contact->lastName(), "Berg");
}

TEST_F(ContactsTest, AddCallerDeletesTheContactWhenTheEditorIsCancelled) {
    put("keep.vcf", "Someone", "111");
    ScriptedEditor editor(false);
    pim::setContactUi(&editor);
    EXPECT_EQ(contacts::add_caller_to_contacts("", "4155551234", nullptr), AddResult::Cancelled);
    EXPECT_EQ(editor.edited, 1);
    EXPECT_EQ(files(), QStringList{"keep.vcf"});

    pim::setContactUi(nullptr);  // no editor at all counts as cancelled
    EXPECT_EQ(contacts::add_caller_to_contacts("Anna", "4155551234", nullptr),
              AddResult::Cancelled);
    EXPECT_EQ(files(), QStringList{"keep.vcf"});
}

TEST_F(ContactsTest, AddCallerFailsQuietlyWithoutAContactsStore) {
    QFile blocker(folder_);
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));  // a file where the folder should be
    ScriptedEditor editor(true);
    pim::setContactUi(&editor);
    EXPECT_EQ(contacts::add_caller_to_contacts("Anna", "1", nullptr), AddResult::Failed);
    EXPECT_EQ(editor.edited, 0);
}

TEST_F(ContactsTest, FindContactByNameTriesTheNameThenItTurnedRound) {
    put("a.vcf", "Anna Maria Berg", "1");
    put("b.vcf", "Maria Berg, Ann", "2");
    put("c.vcf", "Smith", "3");
    auto app = logon();
    struct Case {
        const char* name;
        const char* found;  // file-as name, or null when not found
    };
    const Case cases[] = {
        {"Anna Maria Berg", "Anna Maria Berg"},
        {"  anna maria berg ", "Anna Maria Berg"},
        {"Ann Maria Berg", "Maria Berg, Ann"},
        {"Smith", "Smith"},
        {" Smith", "Smith"},
        {"Maria Berg Anna", nullptr},
        {"Berg", nullptr},
        {"3", nullptr},
    };
    for (const Case& c : cases) {
        const auto match = contacts::find_contact_by_name(*app, c.name);
        EXPECT_EQ(match.found, c.found != nullptr) << c.name;
        if (c.found) {
            ASSERT_TRUE(match.contact) << c.name;
            EXPECT_EQ(match.contact->fileAs(), QString::fromUtf8(c.found));
        }
    }
}

TEST_F(ContactsTest, FindContactByNameCanFindAContactItCannotOpen) {
    put("a.vcf", "Anna Berg", "1");
    auto app = logon();
    QFile::remove(folder_ + "/a.vcf");
    const auto match = contacts::find_contact_by_name(*app, "Anna Berg");
    EXPECT_TRUE(match.found);
    EXPECT_EQ(match.contact, nullptr);
}

TEST_F(ContactsTest, DisplayShowsTheCardThroughTheInstalledUi) {
    put("a.vcf", "Anna Berg", "1");
    auto app = logon();
    auto match = contacts::find_contact_by_name(*app, "Anna Berg");
    ASSERT_TRUE(match.contact);
    EXPECT_EQ(match.contact->item()->display(nullptr), pim::kFailed);  // none installed

    ScriptedEditor ui(true);
    pim::setContactUi(&ui);
    auto withUi = logon();
    match = contacts::find_contact_by_name(*withUi, "Anna Berg");
    ASSERT_TRUE(match.contact);
    EXPECT_EQ(match.contact->item()->display(nullptr), pim::kOk);
    EXPECT_EQ(ui.displayed, 1);
}
