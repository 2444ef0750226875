// The account cache under the listing: one Maildir account, listed as a new
// process would (a new session and Inbox each time, the cache file kept).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstdio>
#include <functional>

#include "platform/mapi/maildir_provider.h"
#include "store/cache_source.h"
#include "store/message_cache.h"
#include "store/message_store.h"
#include "tests/platform/mapi/maildir_fixture.h"

using namespace lyb::store;
using lyb::testing::MaildirFixture;
using lyb::testing::MailParts;

namespace {

// What a listing shows of one record.
struct Shown {
    QString name, number, transcript, type;
    int length, read;
    int64_t received;
    QByteArray id;
    bool operator==(const Shown&) const = default;
};

struct Listing {
    std::vector<Shown> rows;  // in the table's order
    CListingReport report;
    QStringList errors;  // standard error's lines
};

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// One Maildir account of two voicemails (one read) and an e-mail.
class Account {
public:
    Account() {
        voicemails.push_back(md.deliver(lyb::testing::voicemailMail()));
        MailParts gsm;
        gsm.attachName = "msg.gsm";
        gsm.attachType = "audio/x-gsm";
        gsm.attachData = QByteArray(33 * 50 * 2, '\x01');  // 2 s
        gsm.textBody = "New voicemail from Mary Ann Jones\r\n";
        voicemails.push_back(md.deliver(lyb::testing::voicemailMail(gsm), QStringLiteral("S")));
        other = md.deliver(lyb::testing::plainMail("Lunch?", "From: Bob"));
        const QString accounts = lyb::mapi::accountsFilePath();
        QDir().mkpath(QFileInfo(accounts).absolutePath());
        QFile f(accounts);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("Voicemail = " + md.root.toUtf8() + "\n");
    }
    ~Account() { dropCache(); }

    static void dropCache() {
        for (const char* suffix : {"", "-wal", "-shm"})
            QFile::remove(cachePath() + suffix);
    }

    static QString cachePath() {
        return CMessageCache::folder() + "/" + CMessageCache::fileName(QStringLiteral("Voicemail"));
    }

    // Lists the account as the window does, standard error caught.
    Listing list() {
        Listing result;
        std::fflush(stderr);
        const QString errPath = QDir::tempPath() + "/stderr.txt";
        const int saved = ::dup(2);
        FILE* capture = std::fopen(QFile::encodeName(errPath).constData(), "w");
        ::dup2(::fileno(capture), 2);
        {
            CMapiSession session;
            EXPECT_TRUE(logon(session));
            auto store = open_store_by_name(session, QStringLiteral("Voicemail"));
            auto inbox = store ? open_inbox(*store) : nullptr;
            std::vector<CEntryInfo> entries;
            EXPECT_TRUE(inbox && list_messages(*inbox, entries));
            if (inbox) {
                for (const auto& r : open_voicemails_cached(*inbox, entries, 2, &result.report)) {
                    if (r)
                        result.rows.push_back(
                            {r->caller_name(), r->caller_number(), r->transcript(), r->audio_type(),
                             r->length_seconds(), r->is_read(), r->received_time(), r->entry_id()});
                }
            }
        }
        std::fflush(stderr);
        ::dup2(saved, 2);
        ::close(saved);
        std::fclose(capture);
        result.errors = QString::fromUtf8(readAll(errPath)).split('\n', Qt::SkipEmptyParts);
        return result;
    }

    QString pathOf(const QString& unique) const { return md.pathOf(unique); }

    // Replaces bytes of a message file in place, keeping its size and time.
    void rewriteKeepingIdentity(const QString& unique, const QByteArray& from,
                                const QByteArray& to) {
        const QString path = pathOf(unique);
        struct stat st {};
        ASSERT_EQ(::stat(QFile::encodeName(path), &st), 0);
        QByteArray bytes = readAll(path);
        const qsizetype at = bytes.lastIndexOf(from);
        ASSERT_GE(at, 0);
        bytes.replace(at, from.size(), to);
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
        f.close();
        const timespec times[2] = {st.st_atim, st.st_mtim};
        ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(path), times, 0), 0);
    }

    MaildirFixture md;
    std::vector<QString> voicemails;
    QString other;
};

void runSql(const QString& path, const char* sql) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(QFile::encodeName(path).constData(), &db), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
    sqlite3_close(db);
}

}  // namespace

// A second listing opens only what the cache cannot answer for.
TEST(MessageCache, RelistingParsesOnlyWhatChanged) {
    struct Case {
        const char* name;
        std::function<void(Account&)> change;
        size_t parsed;
        std::vector<CCacheChange::Kind> kinds;
        QString what;  // of the first change
        size_t rows;
    };
    using K = CCacheChange::Kind;
    const std::vector<Case> cases{
        {"unchanged", [](Account&) {}, 0, {}, {}, 2},
        {"read elsewhere (renamed with S)",
         [](Account& t) {
             const QString from = t.pathOf(t.voicemails[0]);
             const QString to = t.md.root + "/cur/" + t.voicemails[0] + ":2,S";
             ASSERT_EQ(::rename(QFile::encodeName(from), QFile::encodeName(to)), 0);
         },
         0,
         {K::changed},
         "read",
         2},
        {"content replaced, same size, later time",
         [](Account& t) {
             const QString path = t.pathOf(t.voicemails[0]);
             QByteArray bytes = readAll(path);
             bytes.replace("555-123-4567", "555-765-4321");
             QFile f(path);
             ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
             f.write(bytes);
             f.close();
             const timespec later[2] = {{0, UTIME_OMIT}, {time(nullptr) + 60, 0}};
             ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(path), later, 0), 0);
         },
         1,
         {K::changed},
         "content",
         2},
        {"removed",
         [](Account& t) { QFile::remove(t.pathOf(t.voicemails[1])); },
         0,
         {K::removed},
         {},
         1},
        {"delivered",
         [](Account& t) { t.md.deliver(lyb::testing::voicemailMail()); },
         1,
         {K::added},
         {},
         3},
        {"learnt by another version of the program",
         [](Account&) { runSql(Account::cachePath(), "UPDATE meta SET value = '0 0.9'"); },
         3,
         {K::added, K::added, K::added},
         {},
         2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Account t;  // a fresh account for each case
        const Listing cold = t.list();
        EXPECT_EQ(cold.report.parsed, 3u);
        ASSERT_EQ(cold.rows.size(), 2u);
        c.change(t);
        const Listing warm = t.list();
        EXPECT_EQ(warm.report.parsed, c.parsed);
        std::vector<K> kinds;
        for (const CCacheChange& ch : warm.report.changes)
            kinds.push_back(ch.kind);
        EXPECT_EQ(kinds, c.kinds);
        if (!c.what.isEmpty() && !warm.report.changes.empty()) {
            EXPECT_EQ(warm.report.changes[0].what, c.what);
        }
        // What the cache gave is what parsing everything again gives.
        Account::dropCache();
        const Listing fresh = t.list();
        EXPECT_EQ(fresh.report.parsed, c.rows + 1);
        EXPECT_EQ(warm.rows.size(), c.rows);
        EXPECT_TRUE(warm.rows == fresh.rows);
        EXPECT_TRUE(warm.errors.isEmpty()) << warm.errors.join('\n').toStdString();
    }
}

// A cache file that cannot be trusted is made again, said in one line, and
// the list is the one parsing gives.
TEST(MessageCache, DamagedOrNewerCacheIsRebuiltWithOneLine) {
    Account account;
    struct Case {
        const char* name;
        std::function<void(const QString&)> damage;
    };
    const std::vector<Case> cases{
        {"not a database",
         [](const QString& p) {
             QFile f(p);
             ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
             f.write(QByteArray(8192, 'x'));
         }},
        {"cut short",
         [](const QString& p) { ASSERT_EQ(::truncate(QFile::encodeName(p), 1500), 0); }},
        {"newer schema", [](const QString& p) { runSql(p, "PRAGMA user_version = 99"); }},
        {"a row changed behind the cache's back",
         [](const QString& p) { runSql(p, "UPDATE messages SET caller_number = '911'"); }},
        {"pages overwritten",
         [](const QString& p) {
             QFile f(p);
             ASSERT_TRUE(f.open(QIODevice::ReadWrite));
             ASSERT_GT(f.size(), 4096);
             f.seek(4096);
             f.write(QByteArray(int(f.size() - 4096), '\xA5'));
         }},
    };
    const Listing right = account.list();
    ASSERT_EQ(right.rows.size(), 2u);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Account::dropCache();
        account.list();  // a fresh cache with every message
        c.damage(Account::cachePath());
        const Listing after = account.list();
        EXPECT_EQ(after.errors.size(), 1u) << after.errors.join('\n').toStdString();
        EXPECT_TRUE(after.rows == right.rows);
        // Made again and filled: the next listing parses nothing.
        const Listing next = account.list();
        EXPECT_EQ(next.report.parsed, 0u);
        EXPECT_TRUE(next.errors.isEmpty());
    }
}

TEST(MessageCache, CacheIsPrivateAndNamedInsideItsFolder) {
    Account account;
    account.list();
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(CMessageCache::folder()), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    ASSERT_EQ(::stat(QFile::encodeName(Account::cachePath()), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    for (const QString& name : {QStringLiteral("../../etc/x"), QStringLiteral(".hidden"),
                                QStringLiteral("Ünï cödé/€"), QString(300, QLatin1Char('a'))}) {
        const QString file = CMessageCache::fileName(name);
        EXPECT_FALSE(file.contains('/') || file.startsWith('.')) << file.toStdString();
        EXPECT_LE(file.toUtf8().size(), 255) << file.toStdString();
    }
    EXPECT_NE(CMessageCache::fileName("a b"), CMessageCache::fileName("a_b"));

    // A folder others may write is not used: said once, and the list is right.
    const QByteArray folder = QFile::encodeName(CMessageCache::folder());
    ASSERT_EQ(::chmod(folder, 0777), 0);
    const Listing refused = account.list();
    EXPECT_EQ(refused.errors.size(), 1u);
    EXPECT_EQ(refused.report.parsed, 3u);
    EXPECT_EQ(refused.rows.size(), 2u);
    EXPECT_TRUE(account.list().errors.isEmpty());
    ASSERT_EQ(::chmod(folder, 0700), 0);
}

// Recordings are kept within the limit; the least recently played go first,
// and a message's new version drops the old recording.
TEST(MessageCache, KeptRecordingsEvictTheLeastRecentlyPlayed) {
    auto cache = CMessageCache::open(QDir::tempPath() + "/recordings.sqlite");
    ASSERT_TRUE(cache);
    std::vector<CCachedMessage> messages;
    for (const char* id : {"a", "b", "c", "d"})
        messages.push_back({{id, 100, 1}, {}});
    ASSERT_TRUE(cache->update(messages, {}));
    cache->setRecordingLimit(250);
    const QByteArray hundred(100, 'r');
    EXPECT_TRUE(cache->keepRecording("a", hundred));
    EXPECT_TRUE(cache->keepRecording("b", hundred));
    EXPECT_EQ(cache->recording("a"), hundred);  // a played again: b is now the oldest
    EXPECT_TRUE(cache->keepRecording("c", hundred));
    EXPECT_EQ(cache->keptRecordings(), (std::vector<QByteArray>{"a", "c"}));
    EXPECT_FALSE(cache->keepRecording("d", QByteArray(251, 'r'))) << "larger than the limit";
    EXPECT_FALSE(cache->keepRecording("z", hundred)) << "not a cached message";
    messages[0].identity.size = 101;  // a changed
    ASSERT_TRUE(cache->update({messages[0]}, {}));
    EXPECT_EQ(cache->keptRecordings(), (std::vector<QByteArray>{"c"}));
    EXPECT_FALSE(cache->recording("b"));
}

// A recording played to its end is played from the cache the next time, and
// forgotten with its message.
TEST(MessageCache, PlayedRecordingIsKeptUntilItsMessageGoes) {
    Account account;
    auto firstRecording = [](CMessageFolder& inbox, const std::vector<CEntryInfo>& entries) {
        auto records = open_voicemails(inbox, entries);
        EXPECT_TRUE(records[0]);
        QByteArray all;
        lyb::mapi::IStream* s = records[0] ? records[0]->open_audio_stream() : nullptr;
        if (!s)
            return all;
        char buffer[1000];
        uint32_t got = 0;
        do {
            s->Read(buffer, sizeof buffer, &got);
            all.append(buffer, got);
        } while (got == sizeof buffer);
        s->Release();
        return all;
    };
    auto kept = [](CMessageFolder& inbox) {
        return inbox.cache->with([](CMessageCache& c) { return c.keptRecordings().size(); });
    };
    for (int pass = 0; pass < 3; ++pass) {
        SCOPED_TRACE(pass);
        CMapiSession session;
        ASSERT_TRUE(logon(session));
        auto store = open_store_by_name(session, QStringLiteral("Voicemail"));
        auto inbox = open_inbox(*store);
        ASSERT_TRUE(inbox && inbox->cache);
        std::vector<CEntryInfo> entries;
        ASSERT_TRUE(list_messages(*inbox, entries));
        if (pass < 2) {
            // The second pass plays what the first kept, not the file's bytes.
            EXPECT_EQ(firstRecording(*inbox, entries), lyb::testing::pcmWave(3));
            EXPECT_EQ(kept(*inbox), 1u);
            if (pass == 0)
                account.rewriteKeepingIdentity(account.voicemails[0], "AAAAAAAA", "BBBBBBBB");
        } else {
            open_voicemails(*inbox, entries);
            EXPECT_EQ(kept(*inbox), 0u);
        }
        if (pass == 1)
            QFile::remove(account.pathOf(account.voicemails[0]));
    }
}

// However a decoder reads the recording, what is kept is the recording.
TEST(MessageCache, RecordingIsKeptOnlyWhenEveryByteWasRead) {
    using lyb::mapi::IStream;
    QByteArray recording(300000, '\0');
    for (qsizetype i = 0; i < recording.size(); ++i)
        recording[i] = char(i * 7 % 251);
    auto read = [](IStream* s, uint32_t count) {
        std::vector<char> buffer(count);
        uint32_t got = 0;
        s->Read(buffer.data(), count, &got);
        return got;
    };
    auto seek = [](IStream* s, int64_t to, uint32_t origin = lyb::mapi::STREAM_SEEK_SET) {
        s->Seek(to, origin, nullptr);
    };
    auto toEnd = [&](IStream* s) {
        while (read(s, 10000) == 10000) {
        }
    };
    struct Case {
        const char* name;
        std::function<void(IStream*)> reader;
        bool kept;
    };
    const std::vector<Case> cases{
        {"in order, ending on a short read", toEnd, true},
        {"exactly its size, no read past the end", [&](IStream* s) { read(s, 300000); }, true},
        {"the header twice",
         [&](IStream* s) {
             read(s, 44);
             seek(s, 0);
             toEnd(s);
         },
         true},
        {"a short skip forward",
         [&](IStream* s) {
             read(s, 12);
             seek(s, 5000, lyb::mapi::STREAM_SEEK_CUR);
             toEnd(s);
         },
         true},
        {"a look at the end first",
         [&](IStream* s) {
             seek(s, -128, lyb::mapi::STREAM_SEEK_END);
             read(s, 128);
             seek(s, 0);
             toEnd(s);
         },
         false},
        {"stopped halfway", [&](IStream* s) { read(s, 150000); }, false},
    };
    auto cache = CMessageCache::open(QDir::tempPath() + "/streams.sqlite");
    ASSERT_TRUE(cache);
    ASSERT_TRUE(cache->update({{{"m", 1, 1}, {}}}, {}));
    auto source = std::make_shared<CCacheSource>(std::move(cache), nullptr);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        source->with([](CMessageCache& cache) { return cache.update({{{"m", 1, 2}, {}}}, {}); });
        ASSERT_FALSE(source->recordingStream("m", nullptr));
        std::vector<uint8_t> bytes(recording.begin(), recording.end());
        IStream* s = source->recordingStream("m", new lyb::mapi::CMemoryStream(bytes));
        c.reader(s);
        s->Release();
        IStream* kept = source->recordingStream("m", nullptr);
        EXPECT_EQ(kept != nullptr, c.kept);
        if (kept) {
            QByteArray back(recording.size() + 1, '\0');
            uint32_t got = 0;
            kept->Read(back.data(), uint32_t(back.size()), &got);
            EXPECT_EQ(back.left(got), recording);
            kept->Release();
        }
        // A new version of the message, so the next case starts with nothing kept.
        source->with([](CMessageCache& cache) { return cache.update({{{"m", 1, 1}, {}}}, {}); });
    }
}
