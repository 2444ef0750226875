#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QMap>
#include <QSet>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "platform/files/file_names.h"
#include "platform/files/regular_file.h"
#include "platform/mapi/maildir_provider.h"
#include "platform/mapi/mime_content.h"
#include "tests/platform/mapi/maildir_fixture.h"

using namespace lyb::mapi;
using lyb::testing::MaildirFixture;
using lyb::testing::MailParts;

namespace {

QByteArray readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

SPropValue prop(IMAPIProp& object, uint32_t tag) {
    std::vector<SPropValue> values;
    object.GetProps({tag}, MAPI_UNICODE, values);
    return values.at(0);
}

bool missing(const SPropValue& v) {
    return PROP_TYPE(v.ulPropTag) == PT_ERROR;
}

QByteArray streamBytes(IMAPIProp& object, uint32_t tag, HRESULT* result = nullptr) {
    IStream* s = nullptr;
    const HRESULT hr = object.OpenProperty(tag, 0, 0, &s);
    if (result)
        *result = hr;
    if (hr != S_OK)
        return {};
    STATSTG st;
    s->Stat(&st, STATFLAG_NONAME);
    QByteArray bytes(static_cast<qsizetype>(st.cbSize), '\0');
    uint32_t got = 0;
    s->Read(bytes.data(), static_cast<uint32_t>(bytes.size()), &got);
    s->Release();
    return bytes;
}

std::unique_ptr<IMAPIFolder> inboxOf(const QString& root) {
    std::unique_ptr<IMAPIProp> object;
    QByteArray id = QByteArray("LYB1F") + lyb::files::encodeFileName(root) + QByteArray(1, '\0');
    std::unique_ptr<IMAPISession> session;
    MAPILogonEx(0, session);
    if (session->OpenEntry(id, 0, nullptr, object) != S_OK)
        return nullptr;
    return entry_cast<IMAPIFolder>(std::move(object));
}

std::vector<QByteArray> listIds(IMAPIFolder& folder) {
    std::unique_ptr<IMAPITable> table;
    if (folder.GetContentsTable(0, table) != S_OK)
        return {};
    table->SetColumns({PR_DISPLAY_NAME_W, PR_ENTRYID}, 0);
    std::vector<QByteArray> ids;
    for (SRowSet rows; table->QueryRows(1, 0, rows) == S_OK && rows.size() == 1;) {
        EXPECT_TRUE(missing(rows[0][0])) << "messages have no display name";
        ids.push_back(rows[0][1].bin);
    }
    return ids;
}

std::unique_ptr<IMessage> openMessage(IMAPIFolder& folder, const QByteArray& id) {
    std::unique_ptr<IMAPIProp> object;
    if (folder.OpenEntry(id, 0, nullptr, object) != S_OK)
        return nullptr;
    return entry_cast<IMessage>(std::move(object));
}

}  // namespace

TEST(Accounts, ParsesNamesPathsCommentsAndHomeFolders) {
    const auto accounts = parseAccounts(QStringLiteral("# mine\n\n"
                                                       "Work Mail = ~/Maildir\n"
                                                       "  Voicemail=/srv/vm/  \n"
                                                       "Relative = mail/box\n"
                                                       "SMS =\n"
                                                       "no equals sign\n"
                                                       " = /nameless\n"
                                                       "Colon = :mail/..\n"),
                                        QStringLiteral("/etc/lyb"));
    ASSERT_EQ(accounts.size(), 5u);
    // A path starting with ':' is a folder of that name, not one of Qt's resources.
    EXPECT_EQ(accounts[4].maildir, "/etc/lyb");
    EXPECT_EQ(accounts[0].displayName, "Work Mail");
    EXPECT_EQ(accounts[0].maildir, QDir::homePath() + "/Maildir");
    EXPECT_EQ(accounts[1].displayName, "Voicemail");
    EXPECT_EQ(accounts[1].maildir, "/srv/vm");
    EXPECT_EQ(accounts[2].maildir, "/etc/lyb/mail/box");
    EXPECT_EQ(accounts[3].displayName, "SMS");
    EXPECT_TRUE(accounts[3].maildir.isEmpty());
}

// A line that names no account is told of once, with its number, however
// often the file is read; URL forms and empty paths are accounts.
TEST(Accounts, LinesThatNameNoAccountAreToldOfOnceWithTheirNumber) {
    QFile f(accountsFilePath());
    QDir().mkpath(QFileInfo(f).absolutePath());
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(
        "# mine\nWork = ~/Mail\nWork ~/Mail/wrk\n = /nameless\nRemote = imaps://mx/INBOX\n"
        "SMS =\nbell\x1b[31m\n");
    f.close();
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(loadAccounts().size(), 3u);
    EXPECT_EQ(loadAccounts().size(), 3u);
    const QString path = accountsFilePath();
    EXPECT_EQ(QString::fromStdString(::testing::internal::GetCapturedStderr()),
              path + ":3: not an account line (Name = path): Work ~/Mail/wrk\n" + path +
                  ":4: not an account line (Name = path): = /nameless\n" + path +
                  ":7: not an account line (Name = path): bell?[31m\n");
    QFile::remove(accountsFilePath());
}

TEST(Accounts, OffersTheDemoAndAnEmptySmsAccountWithoutAnAccountsFile) {
    ASSERT_FALSE(QFile::exists(accountsFilePath()));
    const auto accounts = loadAccounts();
    ASSERT_FALSE(accounts.empty());
    EXPECT_EQ(accounts.back().displayName, "SMS");
    EXPECT_TRUE(accounts.back().maildir.isEmpty());
    if (accounts.size() == 2) {
        EXPECT_EQ(accounts[0].displayName, "Demo Voicemail");
    }

    QFile f(accountsFilePath());
    QDir().mkpath(QFileInfo(f).absolutePath());
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("# nothing configured\n");
    f.close();
    EXPECT_TRUE(loadAccounts().empty());
    QFile::remove(accountsFilePath());
}

// The accounts file's own name and the Maildir paths in it are file names:
// bytes that are not UTF-8 stay as they are. A byte order mark is skipped.
TEST(Accounts, FileAndMaildirNamesThatAreNotUtf8KeepTheirBytes) {
    const QByteArray dir =
        lyb::files::encodeFileName(lyb::testing::freshDir("accounts")) + "/conf\xff";
    ASSERT_EQ(::mkdir(dir.constData(), 0700), 0);
    const QByteArray file = dir + "/accounts.conf";
    const QByteArray text = "\xEF\xBB\xBFVoicemail = /srv/vm\xe9\nNear = box\xfe\n";
    const int fd = ::open(file.constData(), O_WRONLY | O_CREAT, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, text.constData(), size_t(text.size())), text.size());
    ::close(fd);
    const QByteArray saved = qgetenv("LYRABELL_ACCOUNTS");
    qputenv("LYRABELL_ACCOUNTS", file);
    const auto accounts = loadAccounts();
    qputenv("LYRABELL_ACCOUNTS", saved);
    ASSERT_EQ(accounts.size(), 2u);
    EXPECT_EQ(accounts[0].displayName, "Voicemail");
    EXPECT_EQ(lyb::files::encodeFileName(accounts[0].maildir), "/srv/vm\xe9");
    EXPECT_EQ(lyb::files::encodeFileName(accounts[1].maildir), dir + "/box\xfe");
}

TEST(MaildirMessage, MapsHeadersBodiesAndAttachments) {
    MaildirFixture md;
    MailParts p;
    p.subject = "=?iso-8859-1?q?Voice_Mail_Message_=28Andr=E9=29?=";
    p.received = "from mx.example.net by mail.example.org; Wed, 02 Dec 2026 10:00:00 +0000";
    p.textHeaders =
        "Content-Type: text/plain; charset=iso-8859-1\r\n"
        "Content-Transfer-Encoding: quoted-printable\r\n";
    p.textBody = "Caller Name: Andr=E9\r\n";
    p.htmlBody = "<p>Caller Name: Andr\xC3\xA9</p>";
    const QByteArray bytes = lyb::testing::voicemailMail(p);
    md.deliver(bytes, QStringLiteral("S"));

    auto folder = inboxOf(md.root);
    ASSERT_TRUE(folder);
    const auto ids = listIds(*folder);
    ASSERT_EQ(ids.size(), 1u);
    auto m = openMessage(*folder, ids[0]);
    ASSERT_TRUE(m);
    EXPECT_EQ(prop(*m, PR_SUBJECT_W).str, QString::fromUtf8("Voice Mail Message (Andr\xC3\xA9)"));
    EXPECT_EQ(prop(*m, PR_BODY_W).str, QString::fromUtf8("Caller Name: Andr\xC3\xA9\r\n"));
    EXPECT_EQ(prop(*m, PR_BODY_HTML_W).str, QString::fromUtf8("<p>Caller Name: Andr\xC3\xA9</p>"));
    EXPECT_EQ(prop(*m, PR_MESSAGE_FLAGS).l, int32_t(MSGFLAG_READ | MSGFLAG_HASATTACH));
    // The newest Received header wins over Date (2026-12-02 10:00 UTC).
    EXPECT_EQ(prop(*m, PR_MESSAGE_DELIVERY_TIME).ft, unixToFileTime(1796205600));
    EXPECT_EQ(prop(*m, PR_ENTRYID).bin, ids[0]);
    EXPECT_EQ(streamBytes(*m, PR_MIME_RAW), bytes);
    EXPECT_EQ(streamBytes(*m, PR_BODY_W).size(), 2 * prop(*m, PR_BODY_W).str.size());

    std::unique_ptr<IMAPITable> table;
    ASSERT_EQ(m->GetAttachmentTable(0, table), S_OK);
    table->SetColumns({PR_ATTACH_NUM, PR_ATTACH_FILENAME_W, PR_ATTACH_LONG_FILENAME_W,
                       PR_ATTACH_EXTENSION_W, PR_ATTACH_MIME_TAG_W, PR_ATTACH_PATHNAME_W},
                      0);
    SRowSet rows;
    ASSERT_EQ(table->QueryRows(1, 0, rows), S_OK);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0][0].l, 0);
    EXPECT_EQ(rows[0][1].str, "message.wav");
    EXPECT_EQ(rows[0][2].str, "message.wav");
    EXPECT_EQ(rows[0][3].str, ".wav");
    EXPECT_EQ(rows[0][4].str, "audio/wav");
    EXPECT_TRUE(missing(rows[0][5]));
    table->QueryRows(1, 0, rows);
    EXPECT_TRUE(rows.empty());

    std::unique_ptr<IAttach> attach;
    ASSERT_EQ(m->OpenAttach(0, 0, attach), S_OK);
    EXPECT_EQ(streamBytes(*attach, PR_ATTACH_DATA_BIN), p.attachData);
    EXPECT_NE(m->OpenAttach(1, 0, attach), S_OK);
}

TEST(MaildirMessage, TakesDeliveryTimeFromDateThenFileTime) {
    MaildirFixture md;
    md.deliver(lyb::testing::plainMail("dated", "x"));
    const QString undated = md.deliver("From: a@b\nSubject: undated\n\nbody\n");
    const qint64 mtime = 1790000000;
    struct timespec times[2] = {{mtime, 0}, {mtime, 0}};
    utimensat(AT_FDCWD, QFile::encodeName(md.pathOf(undated)).constData(), times, 0);

    auto folder = inboxOf(md.root);
    const auto ids = listIds(*folder);
    ASSERT_EQ(ids.size(), 2u);
    std::vector<uint64_t> times64;
    for (const auto& id : ids)
        times64.push_back(prop(*openMessage(*folder, id), PR_MESSAGE_DELIVERY_TIME).ft);
    std::sort(times64.begin(), times64.end());
    EXPECT_EQ(times64[0], unixToFileTime(mtime));
    EXPECT_EQ(times64[1], unixToFileTime(1796025600));  // Mon, 30 Nov 2026 08:00 UTC
}

// Only the headers the provider answers with are read from the message's
// header list; a repeated Subject replaces the earlier one, and a Received
// header folded over lines still gives its date.
TEST(MaildirMessage, ReadsRepeatedSubjectsAndFoldedReceivedHeaders) {
    auto m = OpenMessageBytes(
        "Received: from pbx.example.net\r\n\tby mail.example.org;\r\n"
        "\tWed, 02 Dec 2026 10:00:00\r\n +0000 (UTC)\r\n"
        "Received: from pbx by relay; Tue, 01 Dec 2026 09:00:00 +0000\r\n"
        "Subject: first\r\nFrom: \"Voicemail, Service\" <vm@example.net>\r\n"
        "Subject: =?utf-8?q?Voice_Mail_Message_=28caf=C3=A9=29?=\r\n"
        "Date: Mon, 30 Nov 2026 08:00:00 +0000\r\n\r\nbody\r\n");
    EXPECT_EQ(prop(*m, PR_SUBJECT_W).str, QString::fromUtf8("Voice Mail Message (caf\xC3\xA9)"));
    EXPECT_EQ(prop(*m, PR_MESSAGE_DELIVERY_TIME).ft, unixToFileTime(1796205600));
    EXPECT_EQ(prop(*m, PR_BODY_W).str, "body\r\n");
}

TEST(MaildirMessage, PartWithoutContentFailsToOpenAsOnAPartialDownload) {
    MailParts p;
    p.attachData.clear();
    auto m = OpenMessageBytes(lyb::testing::voicemailMail(p));
    std::unique_ptr<IAttach> attach;
    ASSERT_EQ(m->OpenAttach(0, 0, attach), S_OK);
    HRESULT hr = S_OK;
    streamBytes(*attach, PR_ATTACH_DATA_BIN, &hr);
    EXPECT_EQ(hr, MAPI_E_NOT_FOUND);
}

// Every transfer encoding reaches the attachment's stream and its property
// decoded, byte for byte, whatever the line ends of the file.
TEST(MaildirMessage, AttachmentContentIsDecodedFromEveryTransferEncoding) {
    const QByteArray binary("\x00\x01RIFF\r\n\xFF\xFE\n\r", 12);
    const struct {
        const char* encoding;  // null: no header
        QByteArray body;
        QByteArray decoded;
    } parts[] = {
        {"base64", binary.toBase64(), binary},
        {"8bit", "caf\xC3\xA9 line one\r\nline two", "caf\xC3\xA9 line one\r\nline two"},
        {"binary", "AB\r\nCD", "AB\r\nCD"},
        {"7bit", "plain", "plain"},
        {nullptr, "no header", "no header"},
        {"quoted-printable", "caf=C3=A9 =\r\nsoft", "caf\xC3\xA9 soft"},
    };
    for (const char* eol : {"\r\n", "\n"}) {
        SCOPED_TRACE(eol);
        QByteArray m = "Subject: s\nContent-Type: multipart/mixed; boundary=\"b\"\n\n";
        for (const auto& part : parts) {
            m += "--b\nContent-Type: application/octet-stream; name=\"a.bin\"\n";
            if (part.encoding)
                m += QByteArray("Content-Transfer-Encoding: ") + part.encoding + "\n";
            m += "\n" + part.body + "\n";
        }
        m += "--b--\n";
        m.replace("\n", eol);
        m.replace(QByteArray("\r\r\n"), QByteArray("\r\n"));
        auto message = OpenMessageBytes(m);
        for (uint32_t i = 0; i < std::size(parts); ++i) {
            SCOPED_TRACE(parts[i].encoding ? parts[i].encoding : "none");
            std::unique_ptr<IAttach> attach;
            ASSERT_EQ(message->OpenAttach(i, 0, attach), S_OK);
            const QByteArray& expected = parts[i].decoded;
            EXPECT_EQ(streamBytes(*attach, PR_ATTACH_DATA_BIN), expected);
            EXPECT_EQ(prop(*attach, PR_ATTACH_DATA_BIN).bin, expected);
        }
    }
}

TEST(MaildirMessage, ReadUnreadRoundTripKeepsOtherFlagsAndBytes) {
    MaildirFixture md;
    const QByteArray bytes = lyb::testing::voicemailMail();
    const QString seenFlagged = md.deliver(bytes, QStringLiteral("FR"));
    const QString fresh = md.deliver(bytes);
    auto folder = inboxOf(md.root);
    const auto ids = listIds(*folder);
    ASSERT_EQ(ids.size(), 2u);
    for (const QByteArray& id : ids) {
        auto m = openMessage(*folder, id);
        const int32_t before = prop(*m, PR_MESSAGE_FLAGS).l;
        SPropValue v = prop(*m, PR_MESSAGE_FLAGS);
        v.l |= MSGFLAG_READ;
        ASSERT_EQ(m->SetProps({v}), S_OK);
        EXPECT_EQ(prop(*m, PR_MESSAGE_FLAGS).l, before | int32_t(MSGFLAG_READ));
        EXPECT_EQ(prop(*m, PR_ENTRYID).bin, id);
        v.l &= ~int32_t(MSGFLAG_READ);
        ASSERT_EQ(m->SetProps({v}), S_OK);
        EXPECT_EQ(prop(*m, PR_MESSAGE_FLAGS).l, before & ~int32_t(MSGFLAG_READ));
    }
    EXPECT_EQ(md.files("cur"), (QStringList{seenFlagged + ":2,FR", fresh + ":2,"}));
    EXPECT_TRUE(md.files("new").isEmpty());
    EXPECT_EQ(readFile(md.pathOf(seenFlagged)), bytes);
    EXPECT_EQ(readFile(md.pathOf(fresh)), bytes);

    // A reopened folder (a new session) finds the messages under the same ids.
    EXPECT_EQ(listIds(*inboxOf(md.root)), ids);
}

// A unique name or Maildir that is not UTF-8 names its file all the way:
// listed, opened, marked read and deleted under the same bytes.
TEST(MaildirMessage, NamesThatAreNotUtf8KeepTheirBytes) {
    const struct {
        const char* folder;
        const char* unique;
    } cases[] = {{"Maildir", "1700000000.M1P1.host\xff\xe9"},
                 {"Mail\xe9"
                  "dir",
                  "1700000000.M2P1.h"}};
    for (const auto& c : cases) {
        const QByteArray root =
            lyb::files::encodeFileName(lyb::testing::freshDir("names")) + '/' + c.folder;
        for (const char* sub : {"", "/cur", "/new", "/tmp"})
            ASSERT_EQ(::mkdir((root + sub).constData(), 0700), 0);
        const QByteArray bytes = lyb::testing::voicemailMail();
        const int fd = ::open((root + "/new/" + c.unique).constData(), O_WRONLY | O_CREAT, 0600);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::write(fd, bytes.constData(), size_t(bytes.size())), bytes.size());
        ::close(fd);
        const QString rootName = lyb::files::decodeFileName(root);
        auto folder = inboxOf(rootName);
        ASSERT_TRUE(folder) << c.folder;
        const auto ids = listIds(*folder);
        ASSERT_EQ(ids.size(), 1u) << c.unique;
        EXPECT_EQ(ids[0], messageEntryId(rootName, lyb::files::decodeFileName(c.unique)));
        auto m = openMessage(*folder, ids[0]);
        ASSERT_TRUE(m);
        EXPECT_EQ(streamBytes(*m, PR_MIME_RAW), bytes);
        SPropValue v = prop(*m, PR_MESSAGE_FLAGS);
        v.l |= MSGFLAG_READ;
        ASSERT_EQ(m->SetProps({v}), S_OK) << c.unique;
        struct stat st;
        EXPECT_EQ(::stat((root + "/cur/" + c.unique + ":2,S").constData(), &st), 0);
        ASSERT_EQ(folder->DeleteMessages(ids, 0), S_OK);
        EXPECT_EQ(::stat((root + "/.Trash/cur/" + c.unique + ":2,S").constData(), &st), 0);
    }
}

TEST(MaildirMessage, ListingAndReadingChangeNothing) {
    MaildirFixture md;
    md.deliver(lyb::testing::voicemailMail());
    md.deliver(lyb::testing::voicemailMail(), QStringLiteral("S"));
    const QStringList before = md.files("new") + md.files("cur");
    auto folder = inboxOf(md.root);
    for (const auto& id : listIds(*folder)) {
        auto m = openMessage(*folder, id);
        prop(*m, PR_SUBJECT_W);
        streamBytes(*m, PR_MIME_RAW);
    }
    EXPECT_EQ(md.files("new") + md.files("cur"), before);
}

// Rows come in unique-name order, one per unique name, with the columns asked
// for in the order asked; a size comes from a ",S=" field of the unique name
// when there is a well-formed one, else from the file, and a file replaced
// under its name is looked at again by the next listing of the same folder.
TEST(MaildirFolder, ContentsRowsFollowTheColumnsAndTheFiles) {
    MaildirFixture md;
    struct File {
        const char* path;
        QByteArray bytes;  // null: a symbolic link to nothing
    };
    const File files[] = {
        {"new/3.M1.host", "0123456789"},      {"cur/1.M1.host:2,FS", "abc"},
        {"cur/2.M1.host,S=999:2,S", "12345"}, {"new/4.M1.host,S=12x", "1234567"},
        {"new/5.M1.host", QByteArray()},      {"new/6.M1.host", "new"},
        {"cur/6.M1.host:2,", "in cur"},
    };
    for (const File& f : files) {
        const QString path = md.root + QLatin1Char('/') + QLatin1String(f.path);
        if (f.bytes.isNull()) {
            ASSERT_TRUE(QFile::link(md.root + QStringLiteral("/gone"), path));
            continue;
        }
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(f.bytes);
    }
    struct Row {
        const char* unique;
        int32_t flags;
        int32_t size;  // -1: missing
    };
    const std::vector<Row> expected = {
        {"1.M1.host", MSGFLAG_READ, 3}, {"2.M1.host,S=999", MSGFLAG_READ, 999},
        {"3.M1.host", 0, 10},           {"4.M1.host,S=12x", 0, 7},
        {"5.M1.host", 0, -1},           {"6.M1.host", 0, 6}};
    auto folder = inboxOf(md.root);
    auto rowsOf = [&] {
        std::unique_ptr<IMAPITable> table;
        EXPECT_EQ(folder->GetContentsTable(0, table), S_OK);
        table->SetColumns({PR_MESSAGE_SIZE, PR_SUBJECT_W, PR_MESSAGE_FLAGS, PR_ENTRYID}, 0);
        SRowSet all;
        for (SRowSet rows; table->QueryRows(4, 0, rows) == S_OK && !rows.empty();)
            all.insert(all.end(), rows.begin(), rows.end());
        return all;
    };
    const SRowSet rows = rowsOf();
    ASSERT_EQ(rows.size(), expected.size());
    for (size_t i = 0; i < rows.size(); ++i) {
        const Row& want = expected[i];
        SCOPED_TRACE(want.unique);
        ASSERT_EQ(rows[i].size(), 4u);
        if (want.size < 0) {
            EXPECT_TRUE(missing(rows[i][0]));
        } else {
            EXPECT_EQ(rows[i][0].ulPropTag, PR_MESSAGE_SIZE);
            EXPECT_EQ(rows[i][0].l, want.size);
        }
        EXPECT_TRUE(missing(rows[i][1]));
        EXPECT_EQ(rows[i][2].l, want.flags);
        EXPECT_EQ(rows[i][3].bin, messageEntryId(md.root, QString::fromLatin1(want.unique)));
    }

    // Delivered again whole under the same name: another file, another size.
    QFile whole(md.root + QStringLiteral("/tmp/3.M1.host"));
    ASSERT_TRUE(whole.open(QIODevice::WriteOnly));
    whole.write("0123456789 and the rest");
    whole.close();
    ASSERT_TRUE(QFile::remove(md.root + QStringLiteral("/new/3.M1.host")));
    ASSERT_TRUE(QFile::rename(whole.fileName(), md.root + QStringLiteral("/new/3.M1.host")));
    EXPECT_EQ(rowsOf().at(2).at(0).l, 23);
}

TEST(MaildirFolder, DeleteMovesToTrashAndAGoneMessageFails) {
    MaildirFixture md;
    const QByteArray bytes = lyb::testing::voicemailMail();
    const QString seen = md.deliver(bytes, QStringLiteral("S"));
    const QString fresh = md.deliver(bytes);
    auto folder = inboxOf(md.root);
    const auto ids = listIds(*folder);
    ASSERT_EQ(ids.size(), 2u);
    EXPECT_EQ(folder->DeleteMessages(ids, 0), S_OK);
    EXPECT_EQ(QDir(md.root + "/.Trash/cur").entryList(QDir::Files), QStringList{seen + ":2,S"});
    EXPECT_EQ(QDir(md.root + "/.Trash/new").entryList(QDir::Files), QStringList{fresh});
    EXPECT_EQ(readFile(md.root + "/.Trash/new/" + fresh), bytes);
    EXPECT_TRUE(listIds(*folder).empty());
    EXPECT_EQ(folder->DeleteMessages({ids[0]}, 0), MAPI_E_NOT_FOUND);
    EXPECT_NE(folder->DeleteMessages({QByteArray("garbage")}, 0), S_OK);
}

// No file name has a zero byte; an id whose unique name has one names no
// message, though the system calls would see the name only up to it.
TEST(MaildirFolder, UniqueNameWithAZeroByteNamesNoMessage) {
    MaildirFixture md;
    const QString unique = md.deliver(lyb::testing::voicemailMail());
    auto folder = inboxOf(md.root);
    const QByteArray id = messageEntryId(md.root, unique) + '\0';
    EXPECT_FALSE(openMessage(*folder, id));
    EXPECT_EQ(folder->DeleteMessages({id}, 0), MAPI_E_INVALID_ENTRYID);
    EXPECT_EQ(md.files("new"), QStringList{unique});
}

TEST(MaildirFolder, MessageMovedBetweenListingAndOpeningIsFoundOrSkipped) {
    MaildirFixture md;
    const QString renamed = md.deliver(lyb::testing::voicemailMail());
    const QString removed = md.deliver(lyb::testing::voicemailMail());
    auto folder = inboxOf(md.root);
    const auto ids = listIds(*folder);
    ASSERT_EQ(ids.size(), 2u);
    // Another reader marks one seen and deletes the other.
    QFile::rename(md.pathOf(renamed), md.root + "/cur/" + renamed + ":2,S");
    QFile::remove(md.pathOf(removed));
    auto m = openMessage(*folder, ids[0]);
    ASSERT_TRUE(m);
    EXPECT_EQ(prop(*m, PR_MESSAGE_FLAGS).l & MSGFLAG_READ, int32_t(MSGFLAG_READ));
    EXPECT_FALSE(openMessage(*folder, ids[1]));
}

TEST(MaildirFolder, MessagesDeliveredAndMovedWhileListingAreListedOnce) {
    MaildirFixture md;
    QSet<QString> existing;
    for (int i = 0; i < 200; ++i)
        existing.insert(md.deliver(lyb::testing::plainMail("old", "x")));
    auto folder = inboxOf(md.root);
    std::atomic<bool> stop{false};
    std::thread mailer([&] {
        // A delivery agent adds mail while a reader moves new mail to cur/ and renames flags.
        for (int i = 0; !stop; ++i) {
            md.deliver(lyb::testing::plainMail("new", "y"));
            const QStringList fresh = md.files("new");
            if (!fresh.isEmpty()) {
                QFile::rename(md.root + "/new/" + fresh.first(),
                              md.root + "/cur/" + fresh.first() + ":2,");
            }
            const QStringList cur = md.files("cur");
            if (!cur.isEmpty() && i % 2) {
                const QString name = cur.at(i % cur.size());
                if (name.endsWith(":2,"))
                    QFile::rename(md.root + "/cur/" + name, md.root + "/cur/" + name + "S");
            }
        }
    });
    for (int round = 0; round < 20; ++round) {
        const auto ids = listIds(*folder);
        QSet<QByteArray> unique(ids.begin(), ids.end());
        EXPECT_EQ(unique.size(), static_cast<qsizetype>(ids.size())) << "listed twice";
        for (const QString& name : existing) {
            EXPECT_TRUE(unique.contains(messageEntryId(md.root, name)))
                << "lost " << name.toStdString();
        }
    }
    stop = true;
    mailer.join();
}

// Another mail client toggles the Seen flag (cur/U:2, and cur/U:2,S) until
// the end: of the message the test works on (at), else (at < 0) of each
// message in turn, with a pause between renames (none: as fast as it can).
class FlagRenamer {
public:
    FlagRenamer(const QString& root, const QStringList& uniques, const std::atomic<int>& at,
                std::chrono::microseconds pause) {
        for (const QString& u : uniques) {
            plain_.push_back(QFile::encodeName(root + "/cur/" + u + ":2,"));
            seen_.push_back(QFile::encodeName(root + "/cur/" + u + ":2,S"));
        }
        thread_ = std::thread([this, &at, pause] {
            for (size_t turn = 0; !stop_; ++turn) {
                const size_t i =
                    at < 0 ? turn % plain_.size() : std::min<size_t>(at, plain_.size() - 1);
                if (::rename(plain_[i].constData(), seen_[i].constData()) != 0)
                    ::rename(seen_[i].constData(), plain_[i].constData());
                if (pause.count() > 0)
                    std::this_thread::sleep_for(pause);
            }
        });
    }
    ~FlagRenamer() {
        stop_ = true;
        thread_.join();
    }

private:
    std::vector<QByteArray> plain_, seen_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// The messages of a folder's file names, by unique name (".Trash" keeps a
// second copy as "U.PIDTTIME:2,...").
QMap<QString, int> countByUnique(const QStringList& names, const QStringList& uniques) {
    QMap<QString, int> counts;
    for (const QString& u : uniques) {
        for (const QString& name : names) {
            if (name.startsWith(u + ':') || name.startsWith(u + '.'))
                ++counts[u];
        }
    }
    return counts;
}

// Delivers count messages to cur/ without flags (U:2,); returns their unique names.
QStringList deliverToCur(MaildirFixture& md, int count, const QByteArray& subject) {
    QStringList uniques;
    for (int i = 0; i < count; ++i)
        uniques << md.deliver(lyb::testing::plainMail(subject, "x"), QStringLiteral(""));
    return uniques;
}

TEST(MaildirFolder, DeletingWhileAnotherClientRenamesFlagsLeavesEachMessageInOnePlace) {
    MaildirFixture md;
    const QStringList uniques = deliverToCur(md, 1000, "old");
    auto folder = inboxOf(md.root);
    ASSERT_EQ(listIds(*folder).size(), 1000u);
    std::vector<HRESULT> results;
    std::atomic<int> at{0};
    {
        // Flat out: the renames fall between the link into .Trash and the unlink.
        FlagRenamer other(md.root, uniques, at, std::chrono::microseconds(0));
        for (; at < uniques.size(); ++at)
            results.push_back(folder->DeleteMessages({messageEntryId(md.root, uniques[at])}, 0));
    }
    const auto inbox = countByUnique(md.files("cur") + md.files("new"), uniques);
    const auto trash = countByUnique(QDir(md.root + "/.Trash/cur").entryList(QDir::Files) +
                                         QDir(md.root + "/.Trash/new").entryList(QDir::Files),
                                     uniques);
    int failed = 0;
    for (int i = 0; i < uniques.size(); ++i) {
        const QString& u = uniques[i];
        const bool deleted = results[i] == S_OK;
        failed += deleted ? 0 : 1;
        EXPECT_EQ(inbox.value(u), deleted ? 0 : 1) << u.toStdString() << " " << results[i];
        EXPECT_EQ(trash.value(u), deleted ? 1 : 0) << u.toStdString() << " " << results[i];
    }
    std::printf("%d of 1000 deletions failed\n", failed);
}

TEST(MaildirFolder, MessagesWhoseFlagsAreRenamedMeanwhileAreListedOpenedAndMarked) {
    MaildirFixture md;
    const QStringList uniques = deliverToCur(md, 300, "renamed");
    auto folder = inboxOf(md.root);
    std::atomic<int> at{-1};
    {
        FlagRenamer other(md.root, uniques, at, std::chrono::microseconds(0));
        for (int round = 0; round < 20; ++round)
            ASSERT_EQ(listIds(*folder).size(), 300u) << "dropped from the listing";
    }
    // A client that marks the message being opened once a millisecond, far
    // more often than a person could.
    at = 0;
    FlagRenamer other(md.root, uniques, at, std::chrono::microseconds(1000));
    for (int round = 0; round < 3; ++round) {
        for (at = 0; at < uniques.size(); ++at) {
            auto m = openMessage(*folder, messageEntryId(md.root, uniques[at]));
            ASSERT_TRUE(m) << "not found";
            EXPECT_EQ(prop(*m, PR_SUBJECT_W).str, "renamed");
            SPropValue v = prop(*m, PR_MESSAGE_FLAGS);
            v.l |= MSGFLAG_READ;
            EXPECT_EQ(m->SetProps({v}), S_OK);
        }
    }
}

TEST(MaildirFolder, SpecialFilesAreNeitherReadNorWaitedFor) {
    MaildirFixture md;
    md.deliver(lyb::testing::voicemailMail(), QStringLiteral("S"));
    const QString elsewhere = lyb::testing::freshDir("special");
    const QByteArray fifo = QFile::encodeName(elsewhere + "/fifo");
    ASSERT_EQ(::mkfifo(fifo.constData(), 0600), 0);
    const QByteArray cur = QFile::encodeName(md.root + "/cur/");
    ASSERT_EQ(::symlink(fifo.constData(), (cur + "1.linked-fifo:2,").constData()), 0);
    ASSERT_EQ(::symlink("/dev/zero", (cur + "2.linked-zero:2,").constData()), 0);
    ASSERT_EQ(::mkfifo((cur + "3.fifo:2,").constData(), 0600), 0);
    // Sparse, one byte over the limit.
    QFile huge(md.root + "/cur/4.huge:2,");
    ASSERT_TRUE(huge.open(QIODevice::WriteOnly));
    ASSERT_TRUE(huge.resize(qint64(kMaxMessageFileBytes) + 1));
    huge.close();

    auto folder = inboxOf(md.root);
    const auto ids = listIds(*folder);
    ASSERT_EQ(ids.size(), 5u);
    int voicemails = 0;
    for (const QByteArray& id : ids) {
        auto m = openMessage(*folder, id);
        if (m && !missing(prop(*m, PR_SUBJECT_W)))
            ++voicemails;
    }
    EXPECT_EQ(voicemails, 1);

    const struct {
        QString path;
        int error;
    } files[] = {
        {QFile::decodeName(fifo), lyb::files::kNotRegularFile},
        {md.root + "/cur/2.linked-zero:2,", lyb::files::kNotRegularFile},
        {md.root + "/cur/4.huge:2,", EFBIG},
    };
    for (const auto& f : files) {
        std::unique_ptr<IMessage> m;
        int error = 0;
        EXPECT_EQ(OpenMessageFile(f.path, m, &error), MAPI_E_NOT_FOUND) << f.path.toStdString();
        EXPECT_EQ(error, f.error) << f.path.toStdString();
    }
}

TEST(MaildirFolder, ReadOnlyMaildirRefusesSeenChangesAndKeepsTheFile) {
    MaildirFixture md;
    const QString unique = md.deliver(lyb::testing::voicemailMail());
    auto folder = inboxOf(md.root);
    auto m = openMessage(*folder, listIds(*folder).at(0));
    chmod(QFile::encodeName(md.root + "/new").constData(), 0500);
    chmod(QFile::encodeName(md.root + "/cur").constData(), 0500);
    const bool enforced = access(QFile::encodeName(md.root + "/cur").constData(), W_OK) != 0;
    SPropValue v = prop(*m, PR_MESSAGE_FLAGS);
    v.l |= MSGFLAG_READ;
    const HRESULT hr = m->SetProps({v});
    const QString path = md.pathOf(unique);
    chmod(QFile::encodeName(md.root + "/new").constData(), 0700);
    chmod(QFile::encodeName(md.root + "/cur").constData(), 0700);
    if (!enforced)
        GTEST_SKIP() << "file permissions are not enforced for this user";
    EXPECT_TRUE(Failed(hr));
    EXPECT_EQ(path, md.root + "/new/" + unique);
}

TEST(MaildirFolder, EmptyAccountHasAnEmptyInboxAndMissingMaildirNone) {
    auto empty = inboxOf(QString());
    ASSERT_TRUE(empty);
    EXPECT_TRUE(listIds(*empty).empty());
    EXPECT_FALSE(inboxOf(lyb::testing::freshDir("not-a-maildir")));
}

// Malformed MIME never crashes or hangs and gives the best reading there is.
TEST(MaildirMessage, MalformedMimeGivesBestReading) {
    const QByteArray wav = lyb::testing::pcmWave(1);
    struct Case {
        const char* name;
        QByteArray bytes;
    };
    QByteArray nested = "Subject: deep\nContent-Type: multipart/mixed; boundary=\"b0\"\n\n";
    for (int i = 1; i < 3000; ++i) {
        nested += "--b" + QByteArray::number(i - 1) +
                  "\nContent-Type: multipart/mixed; boundary=\"b" + QByteArray::number(i) +
                  "\"\n\n";
    }
    const std::vector<Case> cases{
        {"no closing boundary",
         "Subject: s\nContent-Type: multipart/mixed; boundary=x\n\n--x\nContent-Type: "
         "text/plain\n\nhello\n--x\nContent-Type: audio/wav; name=a.wav\n"
         "Content-Transfer-Encoding: base64\n\n" +
             wav.toBase64() + "\n"},
        {"wrong boundary",
         "Subject: s\nContent-Type: multipart/mixed; boundary=x\n\n--y\nContent-Type: "
         "text/plain\n\nhi\n--y--\n"},
        {"missing boundary parameter", "Subject: s\nContent-Type: multipart/mixed\n\nhello\n"},
        {"bad base64",
         "Subject: s\nContent-Type: audio/wav; name=a.wav\nContent-Transfer-Encoding: base64\n\n"
         "!!!!****====$$$$\n"},
        {"unknown charset",
         "Subject: s\nContent-Type: text/plain; charset=x-nonsense\n\ncaf\xC3\xA9\n"},
        {"wrong charset", "Subject: s\nContent-Type: text/plain; charset=utf-8\n\ncaf\xE9\n"},
        {"raw 8-bit header", "Subject: Voice mail from Ren\xE9\nContent-Type: text/plain\n\nx\n"},
        {"1 MB header line", "Subject: " + QByteArray(1 << 20, 'a') + "\n\nbody\n"},
        {"deep nesting", nested},
        {"no headers at all", "\x00\x01\x02garbage"},
        {"empty", QByteArray()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto m = OpenMessageBytes(c.bytes);
        prop(*m, PR_SUBJECT_W);
        prop(*m, PR_MESSAGE_FLAGS);
        prop(*m, PR_MESSAGE_DELIVERY_TIME);
        streamBytes(*m, PR_BODY_W);
        std::unique_ptr<IMAPITable> table;
        ASSERT_EQ(m->GetAttachmentTable(0, table), S_OK);
        for (uint32_t i = 0;; ++i) {
            SRowSet rows;
            if (table->QueryRows(1, 0, rows) != S_OK || rows.empty())
                break;
            std::unique_ptr<IAttach> attach;
            ASSERT_EQ(m->OpenAttach(i, 0, attach), S_OK);
            streamBytes(*attach, PR_ATTACH_DATA_BIN);
        }
    }
    auto unknown = OpenMessageBytes(cases[4].bytes);
    EXPECT_EQ(prop(*unknown, PR_BODY_W).str, QString::fromUtf8("caf\xC3\xA9\n"));
    auto wrong = OpenMessageBytes(cases[5].bytes);
    EXPECT_EQ(prop(*wrong, PR_BODY_W).str, QString::fromUtf8("caf\xC3\xA9\n"));
    auto raw = OpenMessageBytes(cases[6].bytes);
    EXPECT_EQ(prop(*raw, PR_SUBJECT_W).str, QString::fromUtf8("Voice mail from Ren\xC3\xA9"));
    auto unclosed = OpenMessageBytes(cases[0].bytes);
    EXPECT_EQ(prop(*unclosed, PR_BODY_W).str.trimmed(), "hello");
    EXPECT_EQ(streamBytes(*unclosed, PR_MIME_RAW), cases[0].bytes);
}
