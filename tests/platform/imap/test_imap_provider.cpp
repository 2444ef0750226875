// The IMAP provider against a real Dovecot holding the demo Maildir's
// messages, compared with the Maildir provider reading the same messages:
// listings, content, recordings and what they decode to.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/eventfd.h>

#include <QCryptographicHash>
#include <QFile>
#include <QRegularExpression>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <utility>

#include "audio/decode/wave_decoder.h"
#include "platform/mapi/imap_connection.h"
#include "platform/mapi/imap_watch.h"
#include "platform/mapi/maildir_provider.h"
#include "platform/mapi/mapi.h"
#include "store/deleted_messages.h"
#include "tests/platform/imap/dovecot_fixture.h"

using namespace lyb::mapi;
using lyb::testing::DovecotServer;
using lyb::testing::Keyring;
using lyb::testing::runProgram;

namespace {

const QString kLybtool = QStringLiteral(LYB_BINARY_DIR "/bin/lybtool");

struct ToolRun {
    int status;
    QByteArray output;
};

ToolRun lybtool(const QStringList& args, const QByteArray& input = {}) {
    ToolRun r;
    r.status = runProgram(kLybtool, args, &r.output, input);
    return r;
}

// The lines of `lybtool list`, each without its entry id (the 7th field),
// the one field that names the provider's message.
QStringList listing(const QString& account) {
    const ToolRun r = lybtool({QStringLiteral("list"), account});
    EXPECT_EQ(r.status, 0) << r.output.toStdString();
    QStringList lines = QString::fromUtf8(r.output).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (QString& line : lines) {
        QStringList f = line.split(QLatin1Char('\t'));
        if (f.size() > 6)
            f[6].clear();
        line = f.join(QLatin1Char('\t'));
    }
    return lines;
}

// The unique names (file names before ':') of the files flagged seen.
QStringList seenNames(const QStringList& files) {
    QStringList seen;
    for (const QString& f : files) {
        const qsizetype info = f.indexOf(QLatin1String(":2,"));
        if (info >= 0 && f.mid(info + 3).contains(QLatin1Char('S')))
            seen << f.left(f.indexOf(QLatin1Char(':')));
    }
    return seen;
}

std::unique_ptr<IMAPIFolder> openInbox(IMAPISession& session, const QString& name) {
    std::unique_ptr<IMAPITable> stores;
    session.GetMsgStoresTable(0, stores);
    stores->SetColumns({PR_DISPLAY_NAME_W, PR_ENTRYID}, 0);
    for (SRowSet rows; stores->QueryRows(1, 0, rows) == S_OK && rows.size() == 1;) {
        if (rows[0][0].str != name)
            continue;
        std::unique_ptr<IMsgStore> store;
        QByteArray inbox;
        std::unique_ptr<IMAPIProp> folder;
        uint32_t type = 0;
        if (session.OpenMsgStore(rows[0][1].bin, 0, store) != S_OK ||
            store->GetReceiveFolder(QString(), 0, inbox) != S_OK ||
            store->OpenEntry(inbox, 0, &type, folder) != S_OK)
            return nullptr;
        return entry_cast<IMAPIFolder>(std::move(folder));
    }
    return nullptr;
}

std::vector<QByteArray> entryIds(IMAPIFolder& folder) {
    std::unique_ptr<IMAPITable> table;
    std::vector<QByteArray> ids;
    if (folder.GetContentsTable(0, table) != S_OK)
        return ids;
    table->SetColumns({PR_ENTRYID}, 0);
    for (SRowSet rows; table->QueryRows(1, 0, rows) == S_OK && rows.size() == 1;)
        ids.push_back(rows[0][0].bin);
    return ids;
}

// A stream read from its last bytes backwards in odd-sized steps, then
// forwards, checked to agree.
QByteArray readAll(IStream* stream) {
    STATSTG stat;
    stream->Stat(&stat, STATFLAG_NONAME);
    QByteArray tail(qsizetype(std::min<uint64_t>(stat.cbSize, 5000)), '\0');
    uint32_t got = 0;
    stream->Seek(int64_t(stat.cbSize) - tail.size(), STREAM_SEEK_SET, nullptr);
    stream->Read(tail.data(), uint32_t(tail.size()), &got);
    tail.truncate(got);
    stream->Seek(0, STREAM_SEEK_SET, nullptr);
    QByteArray all;
    char buffer[7777];
    while (stream->Read(buffer, sizeof buffer, &got) != E_FAIL && got > 0)
        all.append(buffer, got);
    EXPECT_TRUE(all.endsWith(tail));
    EXPECT_EQ(uint64_t(all.size()), stat.cbSize);
    return all;
}

class CNotices final : public lyb::audio::IDecodeNotifier {
public:
    void post(uint32_t message, const std::string&) override {
        std::lock_guard lock(mutex_);
        finished_ = finished_ || message == lyb::audio::WM_DECODING_FINISHED;
        changed_.notify_all();
    }
    void wait() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return finished_; });
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool finished_ = false;
};

// What playing a recording gives: the decoding job's output, the job
// reading the stream on a thread of its own; "refused" when it takes none.
QByteArray decoded(IStream* stream, bool gsm) {
    const QString out = lyb::testing::tempRoot() + QStringLiteral("/decoded.wav");
    CNotices notices;
    try {
        lyb::audio::CWaveDecoder decoder(stream, QFile::encodeName(out).toStdString(), &notices,
                                         gsm);
        decoder.Start();
        notices.wait();
    } catch (...) {
        return "refused";
    }
    QFile f(out);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("no output");
}

// What the store reads of a message: subject, delivery time, flags, bodies
// and each attachment's row and content, and what a recording decodes to.
std::string describe(IMessage& m) {
    std::vector<SPropValue> v;
    m.GetProps(
        {PR_SUBJECT_W, PR_MESSAGE_DELIVERY_TIME, PR_MESSAGE_FLAGS, PR_BODY_W, PR_BODY_HTML_W}, 0,
        v);
    QString d = v[0].str + QLatin1Char('|') + QString::number(v[1].ft) + QLatin1Char('|') +
                QString::number(v[2].l) + QLatin1Char('|') + v[3].str + QLatin1Char('|') + v[4].str;
    std::unique_ptr<IMAPITable> table;
    m.GetAttachmentTable(0, table);
    table->SetColumns(
        {PR_ATTACH_NUM, PR_ATTACH_MIME_TAG_W, PR_ATTACH_LONG_FILENAME_W, PR_ATTACH_EXTENSION_W}, 0);
    for (SRowSet rows; table->QueryRows(1, 0, rows) == S_OK && rows.size() == 1;) {
        d += QStringLiteral("|%1 %2 %3").arg(rows[0][1].str, rows[0][2].str, rows[0][3].str);
        std::unique_ptr<IAttach> attach;
        IStream* stream = nullptr;
        if (m.OpenAttach(uint32_t(rows[0][0].l), 0, attach) == S_OK &&
            attach->OpenProperty(PR_ATTACH_DATA_BIN, 0, 0, &stream) == S_OK) {
            d += QString::fromLatin1(
                QCryptographicHash::hash(readAll(stream), QCryptographicHash::Sha256).toHex());
            stream->Release();
            if (rows[0][1].str.startsWith(QLatin1String("audio/")) &&
                attach->OpenProperty(PR_ATTACH_DATA_BIN, 0, 0, &stream) == S_OK) {
                const bool gsm =
                    rows[0][3].str.compare(QLatin1String(".gsm"), Qt::CaseInsensitive) == 0;
                d += QStringLiteral(" decoded ") +
                     QString::fromLatin1(
                         QCryptographicHash::hash(decoded(stream, gsm), QCryptographicHash::Sha256)
                             .toHex());
            }
        }
    }
    return d.toStdString();
}

class ImapAccount : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        const QString demo = QStringLiteral(LYB_BINARY_DIR "/bin/demo/Maildir");
        ASSERT_TRUE(QFile::exists(demo + QStringLiteral("/cur"))) << "the demo Maildir is built";
        keyring = new Keyring;
        server = new DovecotServer(true);
        server->addMaildir(demo);
        server->addMaildir(demo, QStringLiteral("Archive.Voicemail"));
        server->start();
        plain = new DovecotServer(false);
        plain->start();
        // A server that does not announce IDLE, its sessions written down
        // as they came (rawlog) to show what the client sent.
        noIdle = new DovecotServer(true);
        const QString rawlog = noIdle->dir + QStringLiteral("/rawlog");
        QDir().mkpath(rawlog);
        ::chmod(QFile::encodeName(rawlog).constData(), 0777);  // written by the mail process
        noIdle->addConfig(
            "imap_capability = IMAP4rev1 LITERAL+ SASL-IR ID ENABLE NAMESPACE "
            "UIDPLUS MOVE CONDSTORE SPECIAL-USE\nrawlog_dir = " +
            rawlog.toUtf8() + "\n");
        noIdle->start();
        QString accounts = QStringLiteral("Local = %1\n").arg(demo);
        accounts += QStringLiteral("Remote = %1\n").arg(server->address());
        accounts += QStringLiteral("Starttls = %1\n").arg(server->address(false));
        accounts += QStringLiteral("Archived = %1\n")
                        .arg(server->address().replace(QStringLiteral("/INBOX?"),
                                                       QStringLiteral("/Archive/Voicemail?")));
        accounts += QStringLiteral("NoIdle = %1\n").arg(noIdle->address());
        accounts += QStringLiteral("Untrusted = %1\n").arg(server->address(true, false));
        accounts += QStringLiteral("WrongPassword = %1\n").arg(server->address());
        accounts += QStringLiteral("NoPassword = %1\n").arg(server->address());
        accounts += QStringLiteral("NoStarttls = %1\n").arg(plain->address(false));
        accounts += QStringLiteral("Closed = imaps://alice@127.0.0.1:%1/INBOX\n")
                        .arg(lyb::testing::freePort());
        const QString file = QString::fromLocal8Bit(qgetenv("LYRABELL_ACCOUNTS"));
        ASSERT_TRUE(lyb::testing::writeFile(file, accounts.toUtf8()));
        QFile::setPermissions(file, QFile::ReadOwner | QFile::WriteOwner);
        for (const char* name :
             {"Remote", "Starttls", "Archived", "NoIdle", "Untrusted", "NoStarttls", "Closed"}) {
            const ToolRun r = lybtool(
                {QStringLiteral("account"), QStringLiteral("password"), QLatin1String(name)},
                QByteArray(DovecotServer::kPassword) + "\n");
            ASSERT_EQ(r.status, 0) << r.output.toStdString();
        }
        ASSERT_EQ(lybtool({QStringLiteral("account"), QStringLiteral("password"),
                           QStringLiteral("WrongPassword")},
                          "not-the-password\n")
                      .status,
                  0);
    }
    static void TearDownTestSuite() {
        delete noIdle;
        delete plain;
        delete server;
        delete keyring;
    }

    static Keyring* keyring;
    static DovecotServer* server;
    static DovecotServer* plain;
    static DovecotServer* noIdle;
};

Keyring* ImapAccount::keyring = nullptr;
DovecotServer* ImapAccount::server = nullptr;
DovecotServer* ImapAccount::plain = nullptr;
DovecotServer* ImapAccount::noIdle = nullptr;

TEST_F(ImapAccount, ListsWhatTheMaildirListsAndMarksNothingRead) {
    const QStringList seenBefore = seenNames(server->inboxFiles());
    const QStringList local = listing(QStringLiteral("Local"));
    ASSERT_FALSE(local.isEmpty());
    // Archived: the folder Archive/Voicemail, Archive.Voicemail on this server.
    for (const char* account : {"Remote", "Starttls", "Archived"}) {
        SCOPED_TRACE(account);
        EXPECT_EQ(listing(QLatin1String(account)), local) << server->log().toStdString();
    }
    EXPECT_EQ(seenNames(server->inboxFiles()), seenBefore);
}

TEST_F(ImapAccount, GivesTheMaildirsContentAndRecordings) {
    std::unique_ptr<IMAPISession> session;
    ASSERT_EQ(MAPILogonEx(0, session), S_OK);
    std::map<QString, std::vector<std::string>> seen;
    for (const char* account : {"Local", "Remote"}) {
        auto folder = openInbox(*session, QLatin1String(account));
        ASSERT_TRUE(folder) << account;
        std::vector<std::string>& messages = seen[QLatin1String(account)];
        for (const QByteArray& id : entryIds(*folder)) {
            std::unique_ptr<IMAPIProp> object;
            uint32_t type = 0;
            ASSERT_EQ(session->OpenEntry(id, 0, &type, object), S_OK);
            auto message = entry_cast<IMessage>(std::move(object));
            ASSERT_TRUE(message);
            messages.push_back(describe(*message));
        }
        std::sort(messages.begin(), messages.end());
    }
    ASSERT_FALSE(seen[QStringLiteral("Local")].empty());
    EXPECT_EQ(seen[QStringLiteral("Remote")], seen[QStringLiteral("Local")]);
}

// Dovecot's map of UIDs to Maildir unique names.
QString uniqueOfUid(const QString& mailRoot, uint32_t uid) {
    QFile f(mailRoot + QStringLiteral("/dovecot-uidlist"));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    for (const QByteArray& line : f.readAll().split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() >= 2 && fields[0].toUInt() == uid)
            return QString::fromUtf8(fields.last().mid(fields.last().indexOf(':') + 1));
    }
    return {};
}

TEST_F(ImapAccount, ListingFollowsOtherMailPrograms) {
    std::unique_ptr<IMAPISession> session;
    ASSERT_EQ(MAPILogonEx(0, session), S_OK);
    auto folder = openInbox(*session, QStringLiteral("Remote"));
    ASSERT_TRUE(folder);
    auto rows = [&] {
        std::map<QByteArray, int32_t> flags;
        std::unique_ptr<IMAPITable> table;
        EXPECT_EQ(folder->GetContentsTable(0, table), S_OK);
        table->SetColumns({PR_ENTRYID, PR_MESSAGE_FLAGS}, 0);
        for (SRowSet r; table->QueryRows(1, 0, r) == S_OK && r.size() == 1;)
            flags[r[0][0].bin] = r[0][1].l;
        return flags;
    };
    const std::map<QByteArray, int32_t> before = rows();
    auto unread = std::find_if(before.begin(), before.end(),
                               [](const auto& row) { return !(row.second & MSGFLAG_READ); });
    ASSERT_NE(unread, before.end());
    const QByteArray id = unread->first;
    server->markSeen(uniqueOfUid(server->mailRoot, id.mid(id.lastIndexOf('\0') + 1).toUInt()));
    const QString demo = QStringLiteral(LYB_BINARY_DIR "/bin/demo/Maildir/cur");
    server->deliver(demo + QLatin1Char('/') + QDir(demo).entryList(QDir::Files).first(),
                    QStringLiteral("1800000000.M1P1.other"));

    const std::map<QByteArray, int32_t> after = rows();
    EXPECT_EQ(after.size(), before.size() + 1);
    ASSERT_TRUE(after.count(id));
    EXPECT_TRUE(after.at(id) & MSGFLAG_READ);
}

TEST_F(ImapAccount, MarksAndDeletesOnTheServer) {
    std::unique_ptr<IMAPISession> session;
    ASSERT_EQ(MAPILogonEx(0, session), S_OK);
    auto folder = openInbox(*session, QStringLiteral("Remote"));
    ASSERT_TRUE(folder);
    const std::vector<QByteArray> ids = entryIds(*folder);
    ASSERT_FALSE(ids.empty());
    const QByteArray id = ids.front();
    const uint32_t uid = id.mid(id.lastIndexOf('\0') + 1).toUInt();
    const QString unique = uniqueOfUid(server->mailRoot, uid);
    ASSERT_FALSE(unique.isEmpty());

    std::unique_ptr<IMAPIProp> object;
    ASSERT_EQ(folder->OpenEntry(id, 0, nullptr, object), S_OK);
    auto message = entry_cast<IMessage>(std::move(object));
    for (bool read : {true, false, true}) {
        SPropValue flags;
        flags.ulPropTag = PR_MESSAGE_FLAGS;
        flags.l = read ? MSGFLAG_READ : 0;
        ASSERT_EQ(message->SetProps({flags}), S_OK);
        EXPECT_EQ(seenNames(server->inboxFiles()).contains(unique), read);
    }

    const qsizetype trashBefore = server->trashFiles().size();
    ASSERT_EQ(folder->DeleteMessages({id}, 0), S_OK) << server->log().toStdString();
    auto named = [&](const QStringList& files) {
        return std::count_if(files.begin(), files.end(),
                             [&](const QString& f) { return f.startsWith(unique); });
    };
    EXPECT_EQ(named(server->inboxFiles()), 0);
    EXPECT_EQ(server->trashFiles().size(), trashBefore + 1);
    EXPECT_EQ(entryIds(*folder).size(), ids.size() - 1);
    std::unique_ptr<IMAPIProp> gone;
    EXPECT_NE(session->OpenEntry(id, 0, nullptr, gone), S_OK);
}

// `lybtool list`'s lines by entry id, each without its id: what a second
// client sees of the folder.
std::map<QByteArray, QString> linesById(const QString& account) {
    const ToolRun r = lybtool({QStringLiteral("list"), account});
    EXPECT_EQ(r.status, 0) << r.output.toStdString();
    std::map<QByteArray, QString> lines;
    for (const QString& line : QString::fromUtf8(r.output).split(u'\n', Qt::SkipEmptyParts)) {
        QStringList f = line.split(u'\t');
        if (f.size() <= 6)
            continue;
        const QByteArray id = QByteArray::fromHex(std::exchange(f[6], QString()).toLatin1());
        lines[id] = f.join(u'\t');
    }
    return lines;
}

// A read and an unread voicemail deleted and taken back, one in the process
// and one by lybtool from the remembered delete: a second client lists each
// again, read as it was, and the Trash is as before; a second undo finds
// nothing to move.
TEST_F(ImapAccount, UndoMovesDeletesBackFromTheTrash) {
    namespace st = lyb::store;
    st::CMapiSession session;
    ASSERT_TRUE(st::logon(session));
    auto store = st::open_store_by_name(session, QStringLiteral("Remote"));
    ASSERT_TRUE(store);
    auto inbox = st::open_inbox(*store);
    ASSERT_TRUE(inbox && inbox->folder);
    const std::map<QByteArray, QString> before = linesById(QStringLiteral("Remote"));
    std::map<bool, QByteArray> byRead;  // one message of each kind
    for (const QByteArray& id : entryIds(*inbox->folder)) {
        if (before.count(id))  // a voicemail
            byRead.emplace(before.at(id).section(u'\t', 4, 4) == u"1", id);
    }
    ASSERT_EQ(byRead.size(), 2u);
    const qsizetype trashBefore = server->trashFiles().size();

    std::map<bool, st::CDeletedMessage> deleted;
    for (const auto& [read, id] : byRead) {  // unread first: read is the last delete
        ASSERT_TRUE(st::delete_to_trash(*inbox, id, &deleted[read]));
        EXPECT_FALSE(deleted[read].trash_id.isEmpty());
    }
    EXPECT_EQ(server->trashFiles().size(), trashBefore + 2);
    std::map<bool, QByteArray> back;
    back[false] = st::undelete(session, deleted[false]);
    const ToolRun tool = lybtool({QStringLiteral("undelete"), QStringLiteral("Remote")});
    EXPECT_EQ(tool.status, 0) << tool.output.toStdString() << server->log().toStdString();
    back[true] = QByteArray::fromHex(tool.output.trimmed());

    const std::map<QByteArray, QString> after = linesById(QStringLiteral("Remote"));
    EXPECT_EQ(after.size(), before.size());
    EXPECT_EQ(server->trashFiles().size(), trashBefore);
    for (bool read : {true, false}) {
        SCOPED_TRACE(read);
        ASSERT_TRUE(after.count(back[read]));
        EXPECT_EQ(after.at(back[read]), before.at(byRead[read]));
        EXPECT_EQ(after.count(byRead[read]), 0u);
        EXPECT_TRUE(st::undelete(session, deleted[read]).isEmpty());
    }
    const std::vector<QByteArray> listed = entryIds(*inbox->folder);  // this process's connection
    EXPECT_EQ(std::count(listed.begin(), listed.end(), back[false]), 1);
    EXPECT_EQ(std::count(listed.begin(), listed.end(), back[true]), 1);
}

TEST_F(ImapAccount, FailuresSayWhatWentWrong) {
    const struct {
        const char* account;
        const char* says;
    } cases[] = {
        {"WrongPassword", "refused the login"},
        {"NoPassword", "no password is stored"},
        {"Untrusted", "certificate is not trusted"},
        {"NoStarttls", "does not offer STARTTLS"},
        {"Closed", "cannot be reached"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.account);
        const ToolRun r = lybtool({QStringLiteral("list"), QLatin1String(c.account)});
        EXPECT_NE(r.status, 0);
        EXPECT_TRUE(r.output.contains(c.says)) << r.output.toStdString();
    }
}

}  // namespace

namespace {

// The first attachment's content, or an empty array when it cannot be read.
QByteArray firstAttachment(IMessage& m) {
    std::unique_ptr<IAttach> attach;
    IStream* stream = nullptr;
    if (m.OpenAttach(0, 0, attach) != S_OK ||
        attach->OpenProperty(PR_ATTACH_DATA_BIN, 0, 0, &stream) != S_OK)
        return {};
    QByteArray bytes = readAll(stream);
    stream->Release();
    return bytes;
}

TEST_F(ImapAccount, ComesBackAfterTheServerWentAway) {
    std::unique_ptr<IMAPISession> session;
    ASSERT_EQ(MAPILogonEx(0, session), S_OK);
    auto folder = openInbox(*session, QStringLiteral("Remote"));
    ASSERT_TRUE(folder);
    std::unique_ptr<IMessage> message;
    QByteArray before;
    for (const QByteArray& id : entryIds(*folder)) {
        std::unique_ptr<IMAPIProp> object;
        ASSERT_EQ(folder->OpenEntry(id, 0, nullptr, object), S_OK);
        message = entry_cast<IMessage>(std::move(object));
        before = firstAttachment(*message);
        if (!before.isEmpty())
            break;
    }
    ASSERT_FALSE(before.isEmpty());

    server->stop();
    std::vector<SPropValue> raw;
    message->GetProps({PR_MIME_RAW}, 0, raw);
    EXPECT_EQ(PROP_TYPE(raw[0].ulPropTag), PT_ERROR);
    server->start();
    EXPECT_EQ(firstAttachment(*message), before);
}

}  // namespace

namespace {

TEST_F(ImapAccount, ARenumberedFolderGivesNewIdsAndNoneOfTheOld) {
    std::unique_ptr<IMAPISession> session;
    ASSERT_EQ(MAPILogonEx(0, session), S_OK);
    auto folder = openInbox(*session, QStringLiteral("Remote"));
    ASSERT_TRUE(folder);
    const std::vector<QByteArray> before = entryIds(*folder);
    ASSERT_FALSE(before.empty());

    // Without its index and UID list the server numbers the folder afresh.
    server->stop();
    for (const QString& name : QDir(server->mailRoot).entryList({QStringLiteral("dovecot*")}))
        QFile::remove(server->mailRoot + QLatin1Char('/') + name);
    server->start();

    std::unique_ptr<IMAPIProp> object;
    EXPECT_NE(session->OpenEntry(before.front(), 0, nullptr, object), S_OK);
    const std::vector<QByteArray> after = entryIds(*folder);
    EXPECT_EQ(after.size(), before.size());
    for (const QByteArray& id : after)
        EXPECT_EQ(std::count(before.begin(), before.end(), id), 0);
    ASSERT_FALSE(after.empty());
    EXPECT_EQ(session->OpenEntry(after.front(), 0, nullptr, object), S_OK);
}

}  // namespace

namespace {

// What `lybtool list` prints, entry ids included, apart from the lines it
// says on standard error (in *said).
std::string fullListing(const QString& account, QStringList* said = nullptr) {
    const ToolRun r = lybtool({QStringLiteral("list"), account});
    EXPECT_EQ(r.status, 0) << r.output.toStdString();
    QStringList lines;
    for (const QString& line : QString::fromUtf8(r.output).split(QLatin1Char('\n'))) {
        if (line.startsWith(QLatin1String("lyrabell:"))) {
            if (said)
                *said << line;
        } else if (!line.isEmpty()) {
            lines << line;
        }
    }
    return lines.join(QLatin1Char('\n')).toStdString();
}

QString keptListing() {
    return QString::fromLocal8Bit(qgetenv("XDG_CACHE_HOME")) +
           QStringLiteral("/lyrabell/imap-Remote.sqlite3");
}

TEST_F(ImapAccount, ANewProcessListsWhatChangedSinceTheLastOne) {
    const std::string before = fullListing(QStringLiteral("Remote"));
    ASSERT_TRUE(QFile::exists(keptListing()));

    // Another mail program's work between the two runs: a message read, one
    // removed and one delivered.
    const QStringList files = server->inboxFiles();
    auto unread = std::find_if(files.begin(), files.end(), [](const QString& f) {
        return !f.section(QStringLiteral(":2,"), 1).contains(QLatin1Char('S'));
    });
    ASSERT_NE(unread, files.end());
    server->markSeen(unread->section(QLatin1Char(':'), 0, 0));
    const QString gone = files.front() == *unread ? files.back() : files.front();
    for (const char* sub : {"/cur/", "/new/"})
        QFile::remove(server->mailRoot + QLatin1String(sub) + gone);
    const QString demo = QStringLiteral(LYB_BINARY_DIR "/bin/demo/Maildir/cur");
    server->deliver(demo + QLatin1Char('/') + QDir(demo).entryList(QDir::Files).first(),
                    QStringLiteral("1800000002.M2P2.other"));

    const std::string again = fullListing(QStringLiteral("Remote"));
    ASSERT_TRUE(QFile::remove(keptListing()));
    const std::string fresh = fullListing(QStringLiteral("Remote"));
    EXPECT_EQ(again, fresh);
    EXPECT_NE(again, before);
    EXPECT_EQ(std::count(again.begin(), again.end(), '\n'),
              std::count(before.begin(), before.end(), '\n'));
}

TEST_F(ImapAccount, AKeptListingThatCannotBeUsedIsMadeAgain) {
    auto sql = [](const char* statement) {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(QFile::encodeName(keptListing()).constData(), &db), SQLITE_OK);
        EXPECT_EQ(sqlite3_exec(db, statement, nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_close(db);
    };
    const struct {
        const char* what;
        std::function<void()> damage;
    } cases[] = {
        {"not a database", [] { lyb::testing::writeFile(keptListing(), QByteArray(4096, 'x')); }},
        {"a newer schema", [&] { sql("PRAGMA user_version = 2"); }},
        {"another UIDVALIDITY",
         [&] { sql("UPDATE meta SET value = '1' WHERE key = 'uidvalidity'"); }},
        {"a damaged structure", [&] { sql("UPDATE messages SET structure = x'ff'"); }},
    };
    const std::string fresh = fullListing(QStringLiteral("Remote"));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        c.damage();
        QStringList said;
        EXPECT_EQ(fullListing(QStringLiteral("Remote"), &said), fresh);
        EXPECT_EQ(said.size(), 1) << said.join(QLatin1Char('\n')).toStdString();
        said.clear();
        EXPECT_EQ(fullListing(QStringLiteral("Remote"), &said), fresh);
        EXPECT_TRUE(said.isEmpty()) << said.join(QLatin1Char('\n')).toStdString();
    }
}

// The counts Dovecot logs at a session's logout: content bytes it sent,
// message headers and bodies together; -1 before the next logout is logged.
qint64 contentBytesOfNextLogout(const DovecotServer& server, qsizetype loggedBefore) {
    static const QRegularExpression counts(
        QStringLiteral("Logged out .* hdr_bytes=(\\d+) body_count=\\d+ body_bytes=(\\d+)"));
    for (int i = 0; i < 200; ++i) {
        const QList<QByteArray> lines = server.log().split('\n');
        qsizetype seen = 0;
        for (const QByteArray& line : lines) {
            if (!line.contains("Logged out") || ++seen <= loggedBefore)
                continue;
            const QRegularExpressionMatch m = counts.match(QString::fromUtf8(line));
            return m.hasMatch() ? m.captured(1).toLongLong() + m.captured(2).toLongLong() : -1;
        }
        QThread::msleep(50);
    }
    return -1;
}

TEST_F(ImapAccount, AWarmUpReadsOneByteOncePerSessionAndMarksNothingRead) {
    std::unique_ptr<IMAPISession> session;  // the libraries' set-up
    ASSERT_EQ(MAPILogonEx(0, session), S_OK);
    ImapAddress address;
    ASSERT_TRUE(parseImapAddress(server->address(), address));
    const qsizetype loggedOut = server->log().count("Logged out");
    const qsizetype logins = server->log().count("Login:");
    auto connection = std::make_shared<ImapConnection>(QStringLiteral("Remote"), address);
    const std::atomic<bool> stop{false};
    EXPECT_EQ(connection->warmUp(stop), S_FALSE);  // no connection: none made
    EXPECT_EQ(server->log().count("Login:"), logins);

    // The newest message, the one warmed up on, unread.
    const QString demo = QStringLiteral(LYB_BINARY_DIR "/bin/demo/Maildir/cur");
    server->deliver(demo + QLatin1Char('/') + QDir(demo).entryList(QDir::Files).first(),
                    QStringLiteral("1800000003.M3P3.warm"));
    std::vector<ImapListed> before, after;
    uint32_t validity = 0;
    ASSERT_EQ(connection->list(before, &validity), S_OK);
    ASSERT_FALSE(before.empty() || before.back().seen);
    EXPECT_EQ(connection->warmUp(stop), S_OK);
    EXPECT_EQ(connection->warmUp(stop), S_FALSE);
    ASSERT_EQ(connection->list(after, &validity), S_OK);
    ASSERT_EQ(after.size(), before.size());
    for (size_t i = 0; i < before.size(); ++i)
        EXPECT_EQ(after[i].seen, before[i].seen) << before[i].uid;
    connection.reset();  // logs out
    EXPECT_EQ(contentBytesOfNextLogout(*server, loggedOut), 1) << server->log().toStdString();
}

}  // namespace

namespace {

// Another client's session on the server's plain port (from 127.0.0.1,
// where Dovecot takes the password without TLS): the user logs in, selects
// the Inbox, sends `commands` and logs out; what the server answered.
QByteArray otherClient(const DovecotServer& s, const QByteArray& commands) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(s.imapPort));
    QByteArray answer;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
        const QByteArray all = QByteArray("a LOGIN ") + DovecotServer::kUser + ' ' +
                               DovecotServer::kPassword + "\r\nb SELECT INBOX\r\n" + commands +
                               "z LOGOUT\r\n";
        if (::send(fd, all.constData(), size_t(all.size()), MSG_NOSIGNAL) == all.size()) {
            char buffer[4096];
            pollfd p{fd, POLLIN, 0};
            while (::poll(&p, 1, 10000) == 1) {
                const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
                if (n <= 0)
                    break;
                answer.append(buffer, n);
            }
        }
    }
    ::close(fd);
    return answer;
}

// On a server without IDLE the wait asks with NOOP every pollSeconds: it
// tells of messages another client added and of flags it changed, tells of
// nothing when nothing changed, and ends when woken; IDLE is never sent.
TEST_F(ImapAccount, WaitingWithoutIdleAsksWithNoop) {
    ImapAddress address;
    ASSERT_TRUE(parseImapAddress(noIdle->address(), address));
    const int wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    {
        ImapConnection connection(QStringLiteral("NoIdle"), address);
        ASSERT_EQ(connection.waitForChange(wake, 1, 1), S_OK) << "the connection is made";
        const QByteArray message = "From: <caller@example.com>\r\nSubject: Voicemail\r\n\r\nHi\r\n";
        const struct {
            const char* what;
            QByteArray commands;  // of another client
            bool woken;
            HRESULT expected;
        } cases[] = {
            {"a message appended",
             "c APPEND INBOX {" + QByteArray::number(message.size()) + "+}\r\n" + message + "\r\n",
             false, S_OK},
            {"a flag set", "c STORE 1 +FLAGS (\\Flagged)\r\n", false, S_OK},
            {"nothing", {}, false, S_FALSE},
            {"woken", {}, true, S_FALSE},
        };
        for (const auto& c : cases) {
            SCOPED_TRACE(c.what);
            if (!c.commands.isEmpty()) {
                const QByteArray said = otherClient(*noIdle, c.commands);
                ASSERT_TRUE(said.contains("c OK")) << said.toStdString();
            }
            std::thread waker;
            if (c.woken) {
                waker = std::thread([wake] {
                    std::this_thread::sleep_for(std::chrono::milliseconds(200));
                    const uint64_t one = 1;
                    [[maybe_unused]] const ssize_t n = ::write(wake, &one, sizeof one);
                });
            }
            const auto start = std::chrono::steady_clock::now();
            // Woken, the wait ends long before its NOOP would be due.
            EXPECT_EQ(connection.waitForChange(wake, 1, c.woken ? 60 : 1), c.expected)
                << noIdle->log().toStdString();
            EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
            if (waker.joinable())
                waker.join();
            uint64_t drained;
            [[maybe_unused]] const ssize_t n = ::read(wake, &drained, sizeof drained);
        }
    }  // logged out: the server closes its session's raw log
    ::close(wake);

    // What every client sent, each session's commands in a file of its own;
    // read once this client's session (the one that sent NOOP) ended.
    QByteArray sent;
    const QString rawlog = noIdle->dir + QStringLiteral("/rawlog");
    bool ended = false;
    for (int i = 0; i < 200 && !ended; ++i) {
        if (i)
            QThread::msleep(50);
        sent.clear();
        for (const QString& name : QDir(rawlog).entryList({QStringLiteral("*.in")}, QDir::Files)) {
            QFile f(rawlog + QLatin1Char('/') + name);
            const QByteArray session = f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
            ended = ended || (session.contains(" NOOP\r\n") && session.contains(" LOGOUT\r\n"));
            sent += session;
        }
    }
    EXPECT_TRUE(ended) << sent.toStdString();
    EXPECT_FALSE(sent.contains(" IDLE\r\n")) << sent.toStdString();
}

// A watch ends when its last holder goes, its thread with it, without a
// word on standard error (its connection was ended on purpose).
TEST_F(ImapAccount, AWatchEndsQuietly) {
    ImapAddress address;
    ASSERT_TRUE(parseImapAddress(server->address(), address));
    std::atomic<int> told{0};
    ::testing::internal::CaptureStderr();
    {
        ImapWatch watch(QStringLiteral("Remote"), address, [&] { ++told; });
        for (int i = 0; i < 200 && told == 0; ++i)
            QThread::msleep(50);  // told once the connection is made
        QThread::msleep(200);     // in IDLE
    }
    const std::string said = ::testing::internal::GetCapturedStderr();
    EXPECT_GE(told, 1);
    EXPECT_EQ(ImapWatch::followedAccounts(), 0);
    EXPECT_EQ(said, "");
}

}  // namespace
