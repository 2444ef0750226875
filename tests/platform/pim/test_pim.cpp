#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QSet>
#include <QTemporaryDir>

#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/files/file_names.h"
#include "platform/pim/phone_match.h"
#include "platform/pim/pim.h"

using namespace lyb::pim;

namespace {

class Folder {
public:
    Folder() : path_(dir_.filePath(QStringLiteral("contacts"))) {
        qputenv("LYRABELL_REGION", "US");
    }
    const QString& path() const { return path_; }
    QString file(const QString& name) const { return path_ + QLatin1Char('/') + name; }
    void put(const QString& name, const QByteArray& bytes) const {
        QDir().mkpath(path_);
        QFile f(file(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    QByteArray get(const QString& name) const {
        QFile f(file(name));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    QStringList files() const {
        return QDir(path_).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
    }
    std::unique_ptr<Application> logon() const {
        auto app = Application::create(path_, nullptr);
        EXPECT_EQ(app->logon(), kOk);
        return app;
    }

private:
    QTemporaryDir dir_;
    QString path_;
};

QByteArray card(const char* fn, const char* tel, const char* extra = "") {
    return QByteArray("BEGIN:VCARD\r\nVERSION:3.0\r\nFN:") + fn + "\r\nTEL;TYPE=CELL:" + tel +
           "\r\n" + extra + "END:VCARD\r\n";
}

}  // namespace

TEST(PhoneIndex, ComparesNumbersAsTelephoneNumbers) {
    struct Case {
        const char* stored;
        const char* wanted;
        bool same;
    };
    const Case cases[] = {
        {"+1 (415) 555-1234", "4155551234", true},
        {"+1 (415) 555-1234", "14155551234", true},
        {"415.555.1234", "+14155551234", true},
        {"tel:+1-415-555-1234;ext=12", "4155551234", true},
        {"(415) 555-1234 x 7", "4155551234", true},
        {"+44 20 7123 4567", "442071234567", true},
        {"+44 20 7123 4567", "+1 207 123 4567", false},
        {"+1 415 555 1234", "5551234", false},
        {"+1 415 555 1234", "4155551235", false},
        {"611", "611", true},
        {"no number", "", false},
    };
    PhoneIndex index(QStringLiteral("US"));
    for (int i = 0; i < int(std::size(cases)); ++i)
        index.add(i, QString::fromUtf8(cases[i].stored));
    for (int i = 0; i < int(std::size(cases)); ++i) {
        const auto owners = index.match(QString::fromUtf8(cases[i].wanted));
        const bool hit = std::find(owners.begin(), owners.end(), i) != owners.end();
        EXPECT_EQ(hit, cases[i].same) << cases[i].stored << " vs " << cases[i].wanted;
    }
}

TEST(PhoneIndex, ReadsNationalNumbersInTheDefaultRegion) {
    PhoneIndex gb(QStringLiteral("GB"));
    EXPECT_TRUE(gb.same(QStringLiteral("020 7123 4567"), QStringLiteral("+44 20 7123 4567")));
    EXPECT_TRUE(gb.same(QStringLiteral("020 7123 4567"), QStringLiteral("442071234567")));
    PhoneIndex us(QStringLiteral("US"));
    EXPECT_FALSE(us.same(QStringLiteral("020 7123 4567"), QStringLiteral("+44 20 7123 4567")));
}

// Beyond 64 characters a text is no telephone number: only the same digits
// match it, however libphonenumber would have read it.
TEST(PhoneIndex, ComparesOverlongTextsByTheirDigitsAlone) {
    const QString padded = QStringLiteral("+1 415 555 1234").leftJustified(64, QLatin1Char(' '));
    const QString spaced = QStringLiteral("+1 415 555") + QString(55, QLatin1Char(' ')) +
                           QStringLiteral("1234");  // 65 characters
    const QString huge = QString(39993, QLatin1Char('9')) + QStringLiteral("5551234");
    struct Case {
        QString stored;
        QString wanted;
        bool same;
    };
    const Case cases[] = {
        {padded + QStringLiteral("x"), QStringLiteral("4155551234"), true},
        {spaced, QStringLiteral("4155551234"), false},
        {spaced, QString(spaced).replace(QLatin1Char(' '), QLatin1Char('-')), true},
        {huge, huge, true},
        {huge, QStringLiteral("8") + huge.mid(1), false},
        {huge, QStringLiteral("415 555 1234"), false},
        {QStringLiteral("415 555 1234"), huge, false},
    };
    PhoneIndex index(QStringLiteral("US"));
    for (int i = 0; i < int(std::size(cases)); ++i)
        index.add(i, cases[i].stored);
    for (int i = 0; i < int(std::size(cases)); ++i) {
        const auto owners = index.match(cases[i].wanted);
        const bool hit = std::find(owners.begin(), owners.end(), i) != owners.end();
        EXPECT_EQ(hit, cases[i].same) << "case " << i;
        EXPECT_EQ(index.same(cases[i].stored, cases[i].wanted), cases[i].same) << "case " << i;
    }
}

TEST(PimRegion, ComesFromTheEnvironmentThenFallsBack) {
    qputenv("LYRABELL_REGION", "gb");
    EXPECT_EQ(defaultRegion(), "GB");
    qputenv("LYRABELL_REGION", "XX");
    EXPECT_EQ(defaultRegion().size(), 2);  // the locale's country or US
    qunsetenv("LYRABELL_REGION");
}

TEST(PimFolder, DefaultsToXdgDataHome) {
    const QByteArray saved = qgetenv("LYRABELL_CONTACTS");
    qunsetenv("LYRABELL_CONTACTS");
    qputenv("XDG_DATA_HOME", "/somewhere");
    EXPECT_EQ(contactsFolder(), "/somewhere/lyrabell/contacts");
    qputenv("LYRABELL_CONTACTS", "/else");
    EXPECT_EQ(contactsFolder(), "/else");
    qputenv("LYRABELL_CONTACTS", saved);
}

TEST(PimApplication, MissingFolderReadsAsEmptyAndIsCreatedAtFirstSave) {
    Folder folder;
    auto app = folder.logon();
    std::unique_ptr<Contact> c;
    EXPECT_EQ(app->matchContact("4155551234", kMatchTelephoneNumbers, &c), kNotFound);
    ASSERT_EQ(app->createItem(kItemContact, &c), kOk);
    EXPECT_EQ(c->item(), nullptr);
    c->setFirstName("Anna");
    c->setLastName("Berg");
    c->setFileAs("Anna Berg");
    c->setMobileTelephoneNumber("+14155551234");
    ASSERT_EQ(c->save(), kOk);
    EXPECT_NE(c->item(), nullptr);
    EXPECT_TRUE(QFile::exists(c->filePath()));
    EXPECT_EQ(QFile::permissions(folder.path()) & QFile::ReadOther, 0);

    auto again = folder.logon();
    std::unique_ptr<Contact> found;
    uint32_t property = 0;
    ASSERT_EQ(again->matchContact("4155551234", kMatchTelephoneNumbers, &found, &property), kOk);
    ASSERT_TRUE(found);
    EXPECT_EQ(property, kPropMobileTelephoneNumber);
    EXPECT_EQ(found->firstName(), "Anna");
    EXPECT_EQ(found->lastName(), "Berg");
    EXPECT_EQ(found->mobileTelephoneNumber(), "+14155551234");
    EXPECT_EQ(found->remove(), kOk);
    EXPECT_TRUE(folder.files().isEmpty());
}

TEST(PimApplication, RefusesWorkBeforeLogonAndBadArguments) {
    Folder folder;
    auto app = Application::create(folder.path(), nullptr);
    std::unique_ptr<Contact> c;
    EXPECT_EQ(app->matchContact("1", kMatchTelephoneNumbers, &c), kNotLoggedOn);
    EXPECT_EQ(app->createItem(kItemContact, &c), kNotLoggedOn);
    ASSERT_EQ(app->logon(), kOk);
    EXPECT_EQ(app->createItem(1, &c), kBadArgument);
    EXPECT_EQ(app->matchContact("1", 2, &c), kBadArgument);
    app->logoff();
    EXPECT_EQ(app->matchContact("1", kMatchFileAs, &c), kNotLoggedOn);
}

TEST(PimApplication, LogonFailsWhenTheFolderIsAFile) {
    QTemporaryDir dir;
    const QString path = dir.filePath("contacts");
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    auto app = Application::create(path, nullptr);
    EXPECT_EQ(app->logon(), kFailed);
}

TEST(PimApplication, MatchesFileAsNamesTrimmedAndWithoutCase) {
    Folder folder;
    folder.put("a.vcf", card("Maria Berg, Anna", "1"));
    folder.put("b.vcf", card("", "2"));
    auto app = folder.logon();
    std::unique_ptr<Contact> c;
    uint32_t property = 0;
    ASSERT_EQ(app->matchContact("  maria BERG, anna ", kMatchFileAs, &c, &property), kOk);
    EXPECT_EQ(property, kPropFileAs);
    EXPECT_EQ(c->fileAs(), "Maria Berg, Anna");
    EXPECT_EQ(app->matchContact("Maria Berg Anna", kMatchFileAs, &c), kNotFound);
    EXPECT_EQ(app->matchContact("", kMatchFileAs, &c), kNotFound);
    // A number is not a name, nor a name a number.
    EXPECT_EQ(app->matchContact("1", kMatchFileAs, &c), kNotFound);
    EXPECT_EQ(app->matchContact("Maria Berg, Anna", kMatchTelephoneNumbers, &c), kNotFound);
}

TEST(PimApplication, FoundWithoutItemWhenTheCardWentAwayAfterLogon) {
    Folder folder;
    folder.put("a.vcf", card("Anna", "+1 (415) 555-1234"));
    auto app = folder.logon();
    QFile::remove(folder.file("a.vcf"));
    std::unique_ptr<Contact> c = std::unique_ptr<Contact>();
    EXPECT_EQ(app->matchContact("4155551234", kMatchTelephoneNumbers, &c), kOk);
    EXPECT_EQ(c, nullptr);
}

// A card file or contacts folder whose name is not UTF-8 is listed, read and
// found like any other: its name keeps its bytes.
TEST(PimApplication, ReadsCardsWhoseNamesAreNotUtf8) {
    const struct {
        const char* folder;
        const char* file;
    } cases[] = {{"contacts", "caf\xe9.vcf"}, {"kontakt\xff", "a.vcf"}};
    for (const auto& c : cases) {
        QTemporaryDir dir;
        const QByteArray folder = QFile::encodeName(dir.path()) + '/' + c.folder;
        ASSERT_EQ(::mkdir(folder.constData(), 0700), 0);
        const QByteArray file = folder + '/' + c.file;
        const QByteArray bytes = card("Anna Berg", "+1 415 555 1234");
        const int fd = ::open(file.constData(), O_WRONLY | O_CREAT, 0600);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::write(fd, bytes.constData(), size_t(bytes.size())), bytes.size());
        ::close(fd);
        auto app = Application::create(lyb::files::decodeFileName(folder), nullptr);
        ASSERT_EQ(app->logon(), kOk);
        std::unique_ptr<Contact> found;
        EXPECT_EQ(app->matchContact("4155551234", kMatchTelephoneNumbers, &found), kOk) << c.file;
        ASSERT_TRUE(found) << c.file;
        EXPECT_EQ(found->fileAs(), "Anna Berg");
        // Saving replaces that very file; no second file appears beside it.
        found->setFileAs(QStringLiteral("Anna Lind"));
        ASSERT_EQ(found->save(), kOk) << c.file;
        int files = 0;
        DIR* listing = ::opendir(folder.constData());
        ASSERT_NE(listing, nullptr);
        while (const dirent* e = ::readdir(listing))
            files += e->d_name[0] != '.';
        ::closedir(listing);
        EXPECT_EQ(files, 1) << c.file;
        char saved[4096] = {};
        const int in = ::open(file.constData(), O_RDONLY);
        ASSERT_GE(in, 0) << c.file;
        EXPECT_GT(::read(in, saved, sizeof saved - 1), 0);
        ::close(in);
        EXPECT_NE(std::strstr(saved, "Anna Lind"), nullptr) << c.file;
    }
}

// The folder's name is the one checked: one that is not UTF-8 and that other
// users may write is refused like any other.
TEST(PimApplication, RefusesAnOpenFolderWhoseNameIsNotUtf8) {
    QTemporaryDir dir;
    const QByteArray folder = QFile::encodeName(dir.path()) + "/kontakt\xff";
    ASSERT_EQ(::mkdir(folder.constData(), 0700), 0);
    ASSERT_EQ(::chmod(folder.constData(), 0777), 0);
    EXPECT_EQ(Application::create(lyb::files::decodeFileName(folder), nullptr), nullptr);
}

TEST(PimContact, FileAsReadFailsOnlyWithoutFn) {
    Folder folder;
    folder.put("a.vcf", "BEGIN:VCARD\nVERSION:2.1\nN:Berg;Anna\nTEL:111\nEND:VCARD\n");
    folder.put("b.vcf", card("", "222"));
    auto app = folder.logon();
    std::unique_ptr<Contact> c;
    QString value = "unchanged";
    ASSERT_EQ(app->matchContact("111", kMatchTelephoneNumbers, &c), kOk);
    EXPECT_EQ(c->getProperty(kPropFileAs, &value), kNotFound);
    EXPECT_EQ(value, "unchanged");
    EXPECT_EQ(c->getProperty(kPropFirstName, &value), kOk);
    EXPECT_EQ(value, "Anna");
    ASSERT_EQ(app->matchContact("222", kMatchTelephoneNumbers, &c), kOk);
    EXPECT_EQ(c->getProperty(kPropFileAs, &value), kOk);
    EXPECT_EQ(value, "");
}

// An edit writes only the lines it changes, in the card's own version and
// line end; every other line keeps its bytes (case, parameters, folding,
// encoding). The next save starts from what the last one wrote.
TEST(PimContact, SaveKeepsEveryLineTheEditDidNotChange) {
    struct Case {
        const char* version;
        QByteArray before;
        QByteArray after;
        QByteArray added;  // the line of the TEL added
    };
    const QByteArray photo21 = "PHOTO;ENCODING=BASE64;TYPE=JPEG:\r\n /9j/4AAQ\r\n SkZJRg==\r\n\r\n";
    const Case cases[] = {
        {"3.0",
         "BEGIN:VCARD\r\nVERSION:3.0\r\nn:Berg;Anna;;;\r\nfn:Anna Berg\r\n"
         "NOTE;language=en:a note that is fold\r\n ed here\r\ntel;type=cell:111\r\n"
         "item1.EMAIL;type=INTERNET:a@b.c\r\nPHOTO;ENCODING=b;TYPE=JPEG:/9j/4AAQ\r\n SkZJRg==\r\n"
         "END:VCARD\r\n",
         "BEGIN:VCARD\r\nVERSION:3.0\r\nn:Berg;Anna;;;\r\nFN:Anna\\; B\r\n"
         "NOTE;language=en:a note that is fold\r\n ed here\r\ntel;type=cell:111\r\n"
         "PHOTO;ENCODING=b;TYPE=JPEG:/9j/4AAQ\r\n SkZJRg==\r\nTEL;TYPE=work:+1 415 555\r\n"
         "END:VCARD\r\n",
         "TEL;TYPE=work:+1 415 555\r\n"},
        {"2.1",
         "BEGIN:VCARD\r\nVERSION:2.1\r\nN;CHARSET=ISO-8859-5;ENCODING=QUOTED-PRINTABLE:=BF=D5=E2=E0"
         "=DE=D2;=B8=D2=D0=DD\r\nFN;CHARSET=ISO-8859-5:\xB8\xD2\xD0\xDD\r\nTEL;CELL;VOICE:111\r\n" +
             photo21 + "EMAIL;INTERNET:a@b.c\r\nEND:VCARD\r\n",
         "BEGIN:VCARD\r\nVERSION:2.1\r\nN;CHARSET=ISO-8859-5;ENCODING=QUOTED-PRINTABLE:=BF=D5=E2=E0"
         "=DE=D2;=B8=D2=D0=DD\r\nFN;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:=D0=98=D0=B2=D0=B0=D0="
         "BD\\; B\r\nTEL;CELL;VOICE:111\r\n" +
             photo21 + "TEL;work:+1 415 555\r\nEND:VCARD\r\n",
         "TEL;work:+1 415 555\r\n"},
        {"4.0",
         "BEGIN:VCARD\nVERSION:4.0\nFN:Anna Berg\nTEL;type=\"voice,cell\":111\n"
         "EMAIL:a@b.c\nPHOTO:data:image/jpeg;base64,/9j/4AAQ\n SkZJRg==\nEND:VCARD\n",
         "BEGIN:VCARD\nVERSION:4.0\nFN:Anna\\; B\nTEL;type=\"voice,cell\":111\n"
         "PHOTO:data:image/jpeg;base64,/9j/4AAQ\n SkZJRg==\nTEL;TYPE=work:+1 415 555\nEND:VCARD\n",
         "TEL;TYPE=work:+1 415 555\n"},
    };
    for (const Case& c : cases) {
        Folder folder;
        folder.put("a.vcf", c.before);
        auto app = folder.logon();
        std::unique_ptr<Contact> contact;
        ASSERT_EQ(app->matchContact("111", kMatchTelephoneNumbers, &contact), kOk) << c.version;
        const bool v21 = QByteArray(c.version) == "2.1";
        contact->setFileAs(v21 ? QString::fromUtf8("Иван; B") : QStringLiteral("Anna; B"));
        contact->setFirstName(contact->firstName());  // the same value: no change
        contact->setEmailAddress(QString());
        contact->setTelephoneNumber(kPropBusinessTelephoneNumber, "+1 415 555");
        ASSERT_EQ(contact->save(), kOk) << c.version << qPrintable(contact->errorText());
        EXPECT_EQ(folder.get("a.vcf").toStdString(), c.after.toStdString()) << c.version;
        EXPECT_EQ(folder.files(), QStringList{"a.vcf"});  // no temporary file left behind

        contact->setTelephoneNumber(kPropBusinessTelephoneNumber, QString());
        ASSERT_EQ(contact->save(), kOk) << c.version;
        EXPECT_EQ(folder.get("a.vcf").toStdString(),
                  QByteArray(c.after).replace(c.added, "").toStdString())
            << c.version;
    }
}

// A card in a charset no converter knows is shown but never written back.
TEST(PimContact, CardInAnUnknownCharsetIsReadOnly) {
    Folder folder;
    const QByteArray bytes =
        "BEGIN:VCARD\r\nVERSION:2.1\r\nFN;CHARSET=X-NO-SUCH:\xC1\xE2\r\nTEL:111\r\nEND:VCARD\r\n";
    folder.put("a.vcf", bytes);
    testing::internal::CaptureStderr();
    auto app = folder.logon();
    const std::string errors = testing::internal::GetCapturedStderr();
    EXPECT_NE(errors.find("read-only"), std::string::npos) << errors;
    EXPECT_NE(errors.find("X-NO-SUCH"), std::string::npos) << errors;
    std::unique_ptr<Contact> c;
    ASSERT_EQ(app->matchContact("111", kMatchTelephoneNumbers, &c), kOk);
    EXPECT_FALSE(c->readOnlyReason().isEmpty());
    c->setTelephoneNumber(kPropMobileTelephoneNumber, "222");
    EXPECT_EQ(c->save(), kFailed);
    EXPECT_FALSE(c->errorText().isEmpty());
    EXPECT_EQ(folder.get("a.vcf"), bytes);
}

// Another program changes the file between logon and save: the user's change
// is applied to the card as it now is, found by UID, else by its text.
TEST(PimContact, SaveAppliesTheEditToTheFileAsAnotherProgramLeftIt) {
    const QByteArray one = card("One", "111");
    const QByteArray two = card("Two", "222", "UID:u2\r\n");
    const QByteArray twoRenamed = card("Two Renamed", "222", "UID:u2\r\n");
    struct Case {
        const char* what;
        QByteArray before;
        QByteArray other;  // the file as the other program leaves it
        int result;
        QByteArray after;
    };
    const Case cases[] = {
        {"other card changed", one + card("Two", "222"),
         card("One Changed", "111") + card("Two", "222"), kOk,
         card("One Changed", "111") + card("Two Renamed", "222")},
        {"card moved and changed, found by UID", one + two,
         card("Two", "333", "UID:u2\r\n") + card("New", "444") + one, kOk,
         card("Two Renamed", "333", "UID:u2\r\n") + card("New", "444") + one},
        {"same card changed by another editor", two, card("Two", "222", "UID:u2\r\nNOTE:x\r\n"),
         kOk, card("Two Renamed", "222", "UID:u2\r\nNOTE:x\r\n")},
        {"unchanged", two, two, kOk, twoRenamed},
        {"unchanged, one of several", one + two, one + two, kOk, one + twoRenamed},
        {"card removed", one + card("Two", "222"), one, kNotFound, one},
        {"card without UID changed", card("Two", "222"), card("Two", "223"), kNotFound,
         card("Two", "223")},
    };
    for (const Case& c : cases) {
        Folder folder;
        folder.put("all.vcf", c.before);
        auto app = folder.logon();
        std::unique_ptr<Contact> contact;
        ASSERT_EQ(app->matchContact("222", kMatchTelephoneNumbers, &contact), kOk) << c.what;
        contact->setFileAs("Two Renamed");
        if (c.other != c.before)
            folder.put("all.vcf", c.other);
        EXPECT_EQ(contact->save(), c.result) << c.what;
        EXPECT_EQ(contact->errorText().isEmpty(), c.result == kOk) << c.what;
        EXPECT_EQ(folder.get("all.vcf").toStdString(), c.after.toStdString()) << c.what;
    }
}

TEST(PimContact, RemoveTakesOnlyItsCardOutOfTheFileAsItNowIs) {
    Folder folder;
    folder.put("all.vcf", card("One", "111") + card("Two", "222") + card("Three", "333"));
    auto app = folder.logon();
    std::unique_ptr<Contact> two;
    ASSERT_EQ(app->matchContact("222", kMatchTelephoneNumbers, &two), kOk);
    folder.put("all.vcf", card("Two", "222") + card("Three", "333") + card("One", "112"));
    ASSERT_EQ(two->remove(), kOk);
    EXPECT_EQ(folder.get("all.vcf").toStdString(),
              (card("Three", "333") + card("One", "112")).toStdString());
}

TEST(PimApplication, SkipsMalformedCardsAndNamesTheFileOnce) {
    Folder folder;
    folder.put("bad.vcf", "BEGIN:VCARD\nVERSION:3.0\nFN Broken\nEND:VCARD\n" + card("Good", "111"));
    folder.put("other.vcf", card("Other", "222"));
    testing::internal::CaptureStderr();
    auto app = folder.logon();
    auto again = folder.logon();
    const std::string errors = testing::internal::GetCapturedStderr();
    std::unique_ptr<Contact> c;
    EXPECT_EQ(app->matchContact("111", kMatchTelephoneNumbers, &c), kOk);
    EXPECT_EQ(app->matchContact("222", kMatchTelephoneNumbers, &c), kOk);
    const std::string name = folder.file("bad.vcf").toStdString();
    const auto first = errors.find(name);
    ASSERT_NE(first, std::string::npos) << errors;
    EXPECT_EQ(errors.find(name, first + 1), std::string::npos) << errors;
    EXPECT_EQ(errors.find("other.vcf"), std::string::npos);

    // A file with a malformed card is never rewritten, so the broken card survives.
    ASSERT_EQ(app->matchContact("111", kMatchTelephoneNumbers, &c), kOk);
    EXPECT_EQ(c->save(), kFailed);
}

TEST(PimApplication, SkipsUnreadableFiles) {
    if (geteuid() == 0)
        GTEST_SKIP() << "root reads every file";
    Folder folder;
    folder.put("locked.vcf", card("Locked", "111"));
    folder.put("open.vcf", card("Open", "222"));
    QFile::setPermissions(folder.file("locked.vcf"), QFileDevice::Permissions());
    testing::internal::CaptureStderr();
    auto app = folder.logon();
    const std::string errors = testing::internal::GetCapturedStderr();
    EXPECT_NE(errors.find("locked.vcf"), std::string::npos);
    std::unique_ptr<Contact> c;
    EXPECT_EQ(app->matchContact("222", kMatchTelephoneNumbers, &c), kOk);
}

TEST(PimApplication, SkipsSpecialFilesWithoutWaitingForThem) {
    Folder folder;
    folder.put("open.vcf", card("Open", "222"));
    const QByteArray fifo = QFile::encodeName(folder.file("pipe"));
    ASSERT_EQ(::mkfifo(fifo.constData(), 0600), 0);
    ASSERT_EQ(::symlink(fifo.constData(), QFile::encodeName(folder.file("fifo.vcf")).constData()),
              0);
    ASSERT_EQ(::symlink("/dev/zero", QFile::encodeName(folder.file("zero.vcf")).constData()), 0);
    testing::internal::CaptureStderr();
    auto app = folder.logon();
    const std::string errors = testing::internal::GetCapturedStderr();
    EXPECT_NE(errors.find("fifo.vcf"), std::string::npos) << errors;
    EXPECT_NE(errors.find("zero.vcf"), std::string::npos) << errors;
    std::unique_ptr<Contact> c;
    EXPECT_EQ(app->matchContact("222", kMatchTelephoneNumbers, &c), kOk);
}

TEST(PimContact, TwoProcessesSavingAtOnceLoseNoContact) {
    Folder folder;
    constexpr int perChild = 50;
    pid_t children[2];
    for (int child = 0; child < 2; ++child) {
        children[child] = fork();
        ASSERT_GE(children[child], 0);
        if (children[child] == 0) {
            auto app = Application::create(folder.path(), nullptr);
            int failures = app->logon() != kOk;
            for (int i = 0; i < perChild; ++i) {
                std::unique_ptr<Contact> c;
                failures += app->createItem(kItemContact, &c) != kOk;
                c->setFileAs(QStringLiteral("child %1 contact %2").arg(child).arg(i));
                c->setMobileTelephoneNumber(
                    QStringLiteral("+1415555%1%2").arg(child).arg(i, 3, 10, QLatin1Char('0')));
                failures += c->save() != kOk;
            }
            _exit(failures == 0 ? 0 : 1);
        }
    }
    for (pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    EXPECT_EQ(folder.files().size(), 2 * perChild);
    auto app = folder.logon();
    for (int child = 0; child < 2; ++child) {
        for (int i = 0; i < perChild; ++i) {
            std::unique_ptr<Contact> c;
            EXPECT_EQ(app->matchContact(QStringLiteral("child %1 contact %2").arg(child).arg(i),
                                        kMatchFileAs, &c),
                      kOk);
        }
    }
}
