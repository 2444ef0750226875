#include "store/message_cache.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QSet>

#include <cstdio>
#include <mutex>

#include "platform/files/file_names.h"
#include "platform/paths/private_files.h"

namespace lyb::store {

namespace {

// Long enough for another program's write, short enough that a wedged lock
// costs a listing without the cache, not a hung window.
constexpr int kBusyTimeoutMs = 2000;

constexpr const char* kSchema =
    "CREATE TABLE messages("
    "  entry_id BLOB PRIMARY KEY NOT NULL,"
    "  size INTEGER NOT NULL,"
    "  stamp INTEGER NOT NULL,"
    "  voicemail INTEGER NOT NULL,"
    "  caller_name TEXT NOT NULL,"
    "  caller_number TEXT NOT NULL,"
    "  transcript TEXT NOT NULL,"
    "  audio_type TEXT NOT NULL,"
    "  length INTEGER NOT NULL,"
    "  received INTEGER NOT NULL,"
    "  read INTEGER NOT NULL,"
    "  attach INTEGER NOT NULL,"
    "  checksum INTEGER NOT NULL) WITHOUT ROWID;"
    "CREATE TABLE recordings("
    "  entry_id BLOB PRIMARY KEY NOT NULL,"
    "  played INTEGER NOT NULL,"
    "  size INTEGER NOT NULL,"
    "  data BLOB NOT NULL);"
    "CREATE TABLE meta("
    "  key TEXT PRIMARY KEY NOT NULL,"
    "  value TEXT NOT NULL) WITHOUT ROWID;"
    "PRAGMA user_version = 1;";

// The recognition this program makes.
QString recognizer() {
    return QStringLiteral("%1 %2")
        .arg(CMessageCache::kRecognitionVersion)
        .arg(QLatin1String(LYB_VERSION));
}

QByteArray native(const QString& path) {
    return files::encodeFileName(path);
}

void report(const QString& line) {
    const QByteArray bytes = (QStringLiteral("lyrabell: ") + line + QLatin1Char('\n')).toUtf8();
    std::fwrite(bytes.constData(), 1, bytes.size(), stderr);
    std::fflush(stderr);
}

// Names a fault that stays (a cache that cannot be used) once per process
// and path, so that a window listing again and again says it once.
void reportOnce(const QString& path, const QString& line) {
    static std::mutex mutex;
    static QSet<QString> reported;
    {
        std::lock_guard lock(mutex);
        if (reported.contains(path))
            return;
        reported.insert(path);
    }
    report(line);
}

bool isDamage(int rc) {
    const int primary = rc & 0xff;
    return primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB || primary == SQLITE_FORMAT;
}

// FNV-1a over a row's fields (the read state aside, which changes in place):
// a damaged page whose bytes still make a well-formed row is caught here.
class Checksum {
public:
    Checksum& add(const void* data, size_t size) {
        const auto* p = static_cast<const unsigned char*>(data);
        for (size_t i = 0; i < size; ++i) {
            hash_ ^= p[i];
            hash_ *= 0x100000001b3ull;
        }
        const uint64_t n = size;  // field boundaries count
        for (int i = 0; i < 8; ++i) {
            hash_ ^= (n >> (8 * i)) & 0xff;
            hash_ *= 0x100000001b3ull;
        }
        return *this;
    }
    Checksum& add(const QByteArray& b) { return add(b.constData(), size_t(b.size())); }
    Checksum& add(const QString& s) { return add(s.utf16(), size_t(s.size()) * 2); }
    Checksum& add(int64_t n) { return add(&n, sizeof n); }
    int64_t value() const { return static_cast<int64_t>(hash_); }

private:
    uint64_t hash_ = 0xcbf29ce484222325ull;
};

int64_t checksumOf(const CCachedMessage& m) {
    const CRecognition& r = m.recognition;
    return Checksum()
        .add(m.identity.entry_id)
        .add(m.identity.size)
        .add(m.identity.stamp)
        .add(int64_t{r.voicemail})
        .add(r.caller_name)
        .add(r.caller_number)
        .add(r.transcript)
        .add(r.audio_type)
        .add(int64_t{r.length_seconds})
        .add(r.received_time)
        .add(int64_t{r.recording_attach})
        .value();
}

// One prepared statement; the first fault is kept in rc().
class Query {
public:
    Query(sqlite3* db, const char* sql) { rc_ = sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr); }
    ~Query() { sqlite3_finalize(stmt_); }
    Query(const Query&) = delete;
    Query& operator=(const Query&) = delete;

    Query& bind(int i, int64_t n) {
        if (stmt_)
            sqlite3_bind_int64(stmt_, i, n);
        return *this;
    }
    Query& bind(int i, const QByteArray& b) {
        if (stmt_)
            sqlite3_bind_blob64(stmt_, i, b.isNull() ? "" : b.constData(), uint64_t(b.size()),
                                SQLITE_TRANSIENT);
        return *this;
    }
    Query& bind(int i, const QString& s) {
        if (stmt_)
            sqlite3_bind_text16(stmt_, i, s.isNull() ? static_cast<const void*>(u"") : s.utf16(),
                                int(s.size() * 2), SQLITE_TRANSIENT);
        return *this;
    }
    // True for a row; false at the end or on a fault.
    bool next() {
        if (!stmt_)
            return false;
        const int rc = sqlite3_step(stmt_);
        if (rc == SQLITE_ROW)
            return true;
        if (rc != SQLITE_DONE)
            rc_ = rc;
        return false;
    }
    // Runs a statement that gives no rows, ready to run again with new values.
    bool run() {
        next();
        if (stmt_) {
            sqlite3_reset(stmt_);
            sqlite3_clear_bindings(stmt_);
        }
        return rc_ == SQLITE_OK;
    }
    int type(int c) const { return sqlite3_column_type(stmt_, c); }
    int64_t integer(int c) const { return sqlite3_column_int64(stmt_, c); }
    QByteArray blob(int c) const {
        const int n = sqlite3_column_bytes(stmt_, c);
        return QByteArray(static_cast<const char*>(sqlite3_column_blob(stmt_, c)), n);
    }
    QString text(int c) const {
        const void* p = sqlite3_column_text16(stmt_, c);
        const int n = sqlite3_column_bytes16(stmt_, c);
        return p ? QString(static_cast<const QChar*>(p), n / 2) : QString();
    }
    int rc() const { return rc_; }

private:
    sqlite3_stmt* stmt_ = nullptr;
    int rc_ = SQLITE_OK;
};

void removeFiles(const QString& path) {
    for (const char* suffix : {"", "-wal", "-shm", "-journal"})
        ::unlink(native(path + QLatin1String(suffix)).constData());
}

enum class Opened { ok, damaged, newer, failed };

// Opens the database at path, making the file (0600) and schema when missing.
Opened openDatabase(const QString& path, sqlite3** out, QString* why) {
    *out = nullptr;
    const int fd = ::open(native(path).constData(),
                          O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd >= 0) {
        ::fchmod(fd, 0600);
        ::close(fd);
    }
    sqlite3* db = nullptr;
    int rc = sqlite3_open_v2(native(path).constData(), &db,
                             SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
    auto fail = [&](Opened result) {
        *why = db ? QString::fromUtf8(sqlite3_errmsg(db)) : QStringLiteral("out of memory");
        sqlite3_close_v2(db);
        return result;
    };
    if (rc != SQLITE_OK)
        return fail(isDamage(rc) ? Opened::damaged : Opened::failed);
    sqlite3_extended_result_codes(db, 1);
    sqlite3_busy_timeout(db, kBusyTimeoutMs);
    // The first statement reads the file's header: a file that is not a
    // database fails here.
    rc = sqlite3_exec(db, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK)
        return fail(isDamage(rc) ? Opened::damaged : Opened::failed);
    sqlite3_exec(db, "PRAGMA synchronous=NORMAL", nullptr, nullptr, nullptr);

    int64_t version = -1, tables = -1;
    {
        Query v(db, "PRAGMA user_version");
        if (v.next())
            version = v.integer(0);
        Query t(db,
                "SELECT count(*) FROM sqlite_master WHERE type = 'table' AND "
                "name IN ('messages', 'recordings', 'meta')");
        if (t.next())
            tables = t.integer(0);
        rc = v.rc() != SQLITE_OK ? v.rc() : t.rc();
    }
    if (rc != SQLITE_OK || version < 0 || tables < 0)
        return fail(isDamage(rc) ? Opened::damaged : Opened::failed);
    if (version > CMessageCache::kSchemaVersion) {
        *why = QStringLiteral("its schema is version %1, newer than %2")
                   .arg(version)
                   .arg(CMessageCache::kSchemaVersion);
        sqlite3_close_v2(db);
        return Opened::newer;
    }
    if (version == 0 && tables == 0) {
        rc = sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
        if (rc == SQLITE_OK)
            rc = sqlite3_exec(db, kSchema, nullptr, nullptr, nullptr);
        if (rc == SQLITE_OK) {
            // Made by this program: what it learns is its own recognition.
            Query set(db, "INSERT INTO meta VALUES ('recognizer', ?1)");
            set.bind(1, recognizer()).run();
            rc = set.rc();
        }
        if (rc == SQLITE_OK)
            rc = sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
        if (rc != SQLITE_OK) {
            sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
            // Another program may have made the schema meanwhile.
            Query v(db, "PRAGMA user_version");
            if (!v.next() || v.integer(0) != CMessageCache::kSchemaVersion)
                return fail(isDamage(rc) ? Opened::damaged : Opened::failed);
        }
    } else if (version != CMessageCache::kSchemaVersion || tables != 3) {
        *why = QStringLiteral("its tables are not those of version %1").arg(version);
        sqlite3_close_v2(db);
        return Opened::damaged;
    }
    *out = db;
    return Opened::ok;
}

}  // namespace

QString CMessageCache::folder() {
    QString cache = files::decodeFileName(qgetenv("XDG_CACHE_HOME"));
    if (cache.isEmpty() || !cache.startsWith(QLatin1Char('/')))
        cache = QDir::homePath() + QStringLiteral("/.cache");
    return cache + QStringLiteral("/lyrabell");
}

QString CMessageCache::fileName(const QString& accountName) {
    QString name;
    for (const char c : accountName.toUtf8()) {
        const auto u = static_cast<unsigned char>(c);
        if ((u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') ||
            u == '_' || u == '-') {
            name += QLatin1Char(c);
        } else {
            name += QStringLiteral("%%1").arg(u, 2, 16, QLatin1Char('0')).toUpper();
        }
    }
    if (name.size() > 120) {
        const QByteArray hash =
            QCryptographicHash::hash(accountName.toUtf8(), QCryptographicHash::Sha256).toHex();
        name = name.left(80) + QLatin1Char('~') + QString::fromLatin1(hash.left(32));
    }
    return QStringLiteral("account-") + name + QStringLiteral(".sqlite");
}

std::unique_ptr<CMessageCache> CMessageCache::openForAccount(const QString& accountName) {
    return open(folder() + QLatin1Char('/') + fileName(accountName));
}

std::unique_ptr<CMessageCache> CMessageCache::open(const QString& path) {
    const QString folder = QFileInfo(path).absolutePath();
    if (!paths::makePrivateFolder(folder)) {
        reportOnce(
            folder,
            QStringLiteral("the cache folder %1 cannot be made; listing without it").arg(folder));
        return nullptr;
    }
    if (const QString why = paths::untrustedDatabase(path); !why.isEmpty()) {
        reportOnce(path, QStringLiteral("the cache %1 is not used: %2").arg(path, why));
        return nullptr;
    }
    sqlite3* db = nullptr;
    QString why;
    Opened opened = openDatabase(path, &db, &why);
    if (opened == Opened::damaged || opened == Opened::newer) {
        report(QStringLiteral("the cache %1 is made again: %2").arg(path, why));
        removeFiles(path);
        opened = openDatabase(path, &db, &why);
    }
    if (opened != Opened::ok) {
        reportOnce(path, QStringLiteral("the cache %1 cannot be used: %2").arg(path, why));
        return nullptr;
    }
    std::unique_ptr<CMessageCache> cache(new CMessageCache(path, db));
    cache->forgetOtherRecognition();
    return cache;
}

void CMessageCache::forgetOtherRecognition() {
    QString known;
    int rc = SQLITE_OK;
    {
        Query q(db_, "SELECT value FROM meta WHERE key = 'recognizer'");
        if (q.next() && q.type(0) == SQLITE_TEXT)
            known = q.text(0);
        rc = q.rc();
    }
    if (rebuildIfDamaged(rc) || known == recognizer())
        return;
    // Until it is forgotten (another program may hold the file a while), what
    // the cache holds is not used.
    stale_ = true;
    if (!exec("BEGIN IMMEDIATE"))
        return;
    Query set(db_, "INSERT OR REPLACE INTO meta VALUES ('recognizer', ?1)");
    set.bind(1, recognizer());
    if (exec("DELETE FROM messages") && exec("DELETE FROM recordings") && set.run() &&
        exec("COMMIT")) {
        stale_ = false;
    } else {
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    }
}

CMessageCache::CMessageCache(QString path, sqlite3* db) : path_(std::move(path)), db_(db) {}

CMessageCache::~CMessageCache() {
    sqlite3_close_v2(db_);
}

bool CMessageCache::rebuild(const QString& why) {
    report(QStringLiteral("the cache %1 is made again: %2").arg(path_, why));
    sqlite3_close_v2(db_);
    db_ = nullptr;
    removeFiles(path_);
    QString failure;
    if (openDatabase(path_, &db_, &failure) != Opened::ok) {
        report(QStringLiteral("the cache %1 cannot be used: %2").arg(path_, failure));
        return false;
    }
    return true;
}

bool CMessageCache::rebuildIfDamaged(int rc) {
    if (!isDamage(rc))
        return false;
    rebuild(db_ ? QString::fromUtf8(sqlite3_errstr(rc)) : QStringLiteral("damaged"));
    return true;
}

bool CMessageCache::exec(const char* sql) {
    if (!db_)
        return false;
    const int rc = sqlite3_exec(db_, sql, nullptr, nullptr, nullptr);
    rebuildIfDamaged(rc);
    return rc == SQLITE_OK;
}

std::map<QByteArray, CCachedMessage> CMessageCache::load() {
    std::map<QByteArray, CCachedMessage> all;
    if (!db_ || stale_)
        return all;
    bool wrongShape = false;
    int rc = SQLITE_OK;
    {
        Query q(db_,
                "SELECT entry_id, size, stamp, voicemail, caller_name, caller_number, transcript,"
                " audio_type, length, received, read, attach, checksum FROM messages");
        while (q.next()) {
            const bool shaped = q.type(0) == SQLITE_BLOB && q.type(4) == SQLITE_TEXT &&
                                q.type(5) == SQLITE_TEXT && q.type(6) == SQLITE_TEXT &&
                                q.type(7) == SQLITE_TEXT;
            for (int c : {1, 2, 3, 8, 9, 10, 11, 12})
                wrongShape = wrongShape || q.type(c) != SQLITE_INTEGER;
            if (!shaped || wrongShape) {
                wrongShape = true;
                break;
            }
            CCachedMessage m;
            m.identity.entry_id = q.blob(0);
            m.identity.size = q.integer(1);
            m.identity.stamp = q.integer(2);
            CRecognition& r = m.recognition;
            r.voicemail = q.integer(3) != 0;
            r.caller_name = q.text(4);
            r.caller_number = q.text(5);
            r.transcript = q.text(6);
            r.audio_type = q.text(7);
            r.length_seconds = static_cast<int32_t>(q.integer(8));
            r.received_time = q.integer(9);
            r.read = q.integer(10) ? 1 : 0;
            r.recording_attach = static_cast<uint32_t>(q.integer(11));
            if (q.integer(3) > 1 || q.integer(10) > 1 || q.integer(8) != r.length_seconds ||
                q.integer(11) != r.recording_attach || checksumOf(m) != q.integer(12)) {
                wrongShape = true;
                break;
            }
            all.emplace(m.identity.entry_id, std::move(m));
        }
        rc = q.rc();
    }
    if (wrongShape) {
        all.clear();
        rebuild(QStringLiteral("a row does not hold what was written"));
    } else if (rc != SQLITE_OK) {
        all.clear();
        rebuildIfDamaged(rc);
    }
    return all;
}

bool CMessageCache::update(const std::vector<CCachedMessage>& put,
                           const std::vector<QByteArray>& forget) {
    if (!db_ || (put.empty() && forget.empty()))
        return false;
    if (!exec("BEGIN IMMEDIATE"))
        return false;
    int rc = SQLITE_OK;
    {
        Query dropChanged(db_,
                          "DELETE FROM recordings WHERE entry_id = ?1 AND NOT EXISTS (SELECT 1 "
                          "FROM messages WHERE entry_id = ?1 AND size = ?2 AND stamp = ?3)");
        Query insert(db_,
                     "INSERT OR REPLACE INTO messages VALUES "
                     "(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13)");
        Query dropMessage(db_, "DELETE FROM messages WHERE entry_id = ?1");
        Query dropRecording(db_, "DELETE FROM recordings WHERE entry_id = ?1");
        for (const CCachedMessage& m : put) {
            const CRecognition& r = m.recognition;
            dropChanged.bind(1, m.identity.entry_id)
                .bind(2, m.identity.size)
                .bind(3, m.identity.stamp)
                .run();
            insert.bind(1, m.identity.entry_id)
                .bind(2, m.identity.size)
                .bind(3, m.identity.stamp)
                .bind(4, int64_t{r.voicemail})
                .bind(5, r.caller_name)
                .bind(6, r.caller_number)
                .bind(7, r.transcript)
                .bind(8, r.audio_type)
                .bind(9, int64_t{r.length_seconds})
                .bind(10, r.received_time)
                .bind(11, int64_t{r.read ? 1 : 0})
                .bind(12, int64_t{r.recording_attach})
                .bind(13, checksumOf(m))
                .run();
        }
        for (const QByteArray& id : forget) {
            dropMessage.bind(1, id).run();
            dropRecording.bind(1, id).run();
        }
        for (const Query* q : {&dropChanged, &insert, &dropMessage, &dropRecording}) {
            if (rc == SQLITE_OK)
                rc = q->rc();
        }
    }
    if (rc != SQLITE_OK) {
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        rebuildIfDamaged(rc);
        return false;
    }
    return exec("COMMIT");
}

bool CMessageCache::setRead(const QByteArray& entryId, bool read) {
    if (!db_)
        return false;
    Query q(db_, "UPDATE messages SET read = ?2 WHERE entry_id = ?1");
    q.bind(1, entryId).bind(2, int64_t{read ? 1 : 0}).run();
    if (rebuildIfDamaged(q.rc()))
        return false;
    return q.rc() == SQLITE_OK && sqlite3_changes(db_) == 1;
}

bool CMessageCache::forget(const QByteArray& entryId) {
    return update({}, {entryId});
}

int64_t CMessageCache::nextPlayed() {
    Query q(db_, "SELECT coalesce(max(played), 0) + 1 FROM recordings");
    return q.next() ? q.integer(0) : 1;
}

bool CMessageCache::evict() {
    for (;;) {
        Query total(db_, "SELECT coalesce(sum(size), 0) FROM recordings");
        if (!total.next())
            return total.rc() == SQLITE_OK;
        if (total.integer(0) <= recordingLimit_)
            return true;
        Query oldest(db_,
                     "DELETE FROM recordings WHERE entry_id = "
                     "(SELECT entry_id FROM recordings ORDER BY played LIMIT 1)");
        if (!oldest.run())
            return false;
    }
}

bool CMessageCache::keepRecording(const QByteArray& entryId, const QByteArray& bytes) {
    if (!db_ || bytes.size() > recordingLimit_)
        return false;
    if (!exec("BEGIN IMMEDIATE"))
        return false;
    int rc = SQLITE_OK;
    bool kept = false;
    {
        Query q(db_,
                "INSERT OR REPLACE INTO recordings SELECT ?1, ?2, ?3, ?4 "
                "WHERE EXISTS (SELECT 1 FROM messages WHERE entry_id = ?1)");
        q.bind(1, entryId).bind(2, nextPlayed()).bind(3, int64_t{bytes.size()}).bind(4, bytes);
        q.run();
        rc = q.rc();
        kept = rc == SQLITE_OK && sqlite3_changes(db_) == 1;
        if (rc == SQLITE_OK && !evict())
            rc = sqlite3_errcode(db_);
    }
    if (rc != SQLITE_OK) {
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        rebuildIfDamaged(rc);
        return false;
    }
    return exec("COMMIT") && kept;
}

std::optional<QByteArray> CMessageCache::recording(const QByteArray& entryId) {
    if (!db_)
        return std::nullopt;
    std::optional<QByteArray> data;
    if (stale_)
        return data;
    int rc = SQLITE_OK;
    {
        Query q(db_, "SELECT data, size FROM recordings WHERE entry_id = ?1");
        q.bind(1, entryId);
        if (q.next() && q.type(0) == SQLITE_BLOB) {
            data = q.blob(0);
            if (data->size() != q.integer(1))
                data.reset();  // damaged: played from the message instead
        }
        rc = q.rc();
    }
    if (rebuildIfDamaged(rc))
        return std::nullopt;
    if (data) {
        Query touch(db_, "UPDATE recordings SET played = ?2 WHERE entry_id = ?1");
        touch.bind(1, entryId).bind(2, nextPlayed()).run();
    }
    return data;
}

std::vector<QByteArray> CMessageCache::keptRecordings() {
    std::vector<QByteArray> ids;
    if (!db_)
        return ids;
    Query q(db_, "SELECT entry_id FROM recordings ORDER BY played");
    while (q.next())
        ids.push_back(q.blob(0));
    rebuildIfDamaged(q.rc());
    return ids;
}

}  // namespace lyb::store
