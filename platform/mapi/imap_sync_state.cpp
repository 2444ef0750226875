#include "platform/mapi/imap_sync_state.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCryptographicHash>
#include <QDataStream>
#include <QDir>
#include <QFileInfo>
#include <QIODevice>
#include <QRandomGenerator>

#include <cstdio>

#include "platform/files/file_names.h"
#include "platform/paths/private_files.h"

namespace lyb::mapi {

namespace {

constexpr int kBusyTimeoutMs = 2000;

// IF NOT EXISTS: another program may have made them since the file was read.
constexpr const char* kSchema =
    "CREATE TABLE IF NOT EXISTS meta(key TEXT PRIMARY KEY NOT NULL, value NOT NULL) WITHOUT ROWID;"
    "CREATE TABLE IF NOT EXISTS messages("
    "  uid INTEGER PRIMARY KEY NOT NULL,"
    "  seen INTEGER NOT NULL,"
    "  size INTEGER NOT NULL,"
    "  date INTEGER NOT NULL,"
    "  structure BLOB NOT NULL);"
    "PRAGMA user_version = 1;";

QByteArray native(const QString& path) {
    return files::encodeFileName(path);
}

bool isDamage(int rc) {
    const int primary = rc & 0xff;
    return primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB || primary == SQLITE_FORMAT;
}

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
    bool run() {
        next();
        if (stmt_) {
            sqlite3_reset(stmt_);
            sqlite3_clear_bindings(stmt_);
        }
        return rc_ == SQLITE_OK;
    }
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

struct Db {
    sqlite3* p = nullptr;
    ~Db() { sqlite3_close_v2(p); }
    bool exec(const char* sql) { return sqlite3_exec(p, sql, nullptr, nullptr, nullptr) == 0; }
};

void removeFiles(const QString& path) {
    for (const char* suffix : {"", "-journal"})
        ::unlink(native(path + QLatin1String(suffix)).constData());
}

enum class Opened { ok, missing, damaged, newer, failed };

// Opens the file at path; with create, makes it (0600) and its schema when
// missing.
Opened openDb(const QString& path, bool create, Db& db, QString* why) {
    if (create) {
        const int fd = ::open(native(path).constData(),
                              O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0) {
            ::fchmod(fd, 0600);
            ::close(fd);
        }
    } else if (!QFileInfo::exists(path)) {
        return Opened::missing;
    }
    // A file another user could have written is not read: its listing
    // would be shown as the server's.
    for (const QString& p : {QFileInfo(path).absolutePath(), path}) {
        if (const QString untrusted = paths::untrustedBecause(p); !untrusted.isEmpty()) {
            *why = QStringLiteral("%1: %2").arg(p, untrusted);
            return Opened::failed;
        }
    }
    int rc = sqlite3_open_v2(native(path).constData(), &db.p,
                             SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
    auto fail = [&](int code) {
        *why = db.p ? QString::fromUtf8(sqlite3_errmsg(db.p)) : QStringLiteral("out of memory");
        return isDamage(code) ? Opened::damaged : Opened::failed;
    };
    if (rc != SQLITE_OK)
        return fail(rc);
    sqlite3_extended_result_codes(db.p, 1);
    sqlite3_busy_timeout(db.p, kBusyTimeoutMs);
    int64_t version = -1, tables = -1;
    {
        Query v(db.p, "PRAGMA user_version");
        if (v.next())
            version = v.integer(0);
        Query t(db.p,
                "SELECT count(*) FROM sqlite_master WHERE type = 'table' AND "
                "name IN ('meta', 'messages')");
        if (t.next())
            tables = t.integer(0);
        rc = v.rc() != SQLITE_OK ? v.rc() : t.rc();
    }
    if (rc != SQLITE_OK || version < 0 || tables < 0)
        return fail(rc);
    if (version > ImapSyncState::kSchemaVersion) {
        *why = QStringLiteral("its schema is version %1, newer than %2")
                   .arg(version)
                   .arg(ImapSyncState::kSchemaVersion);
        return Opened::newer;
    }
    if (version == 0 && tables == 0) {
        if (!create)
            return Opened::missing;
        if (!db.exec("BEGIN IMMEDIATE") || !db.exec(kSchema) || !db.exec("COMMIT")) {
            const int code = sqlite3_extended_errcode(db.p);
            db.exec("ROLLBACK");
            return fail(code);
        }
    } else if (version != ImapSyncState::kSchemaVersion || tables != 2) {
        *why = QStringLiteral("its tables are not those of version %1").arg(version);
        return Opened::damaged;
    }
    return Opened::ok;
}

QString cacheFolder() {
    QString cache = files::decodeFileName(qgetenv("XDG_CACHE_HOME"));
    if (cache.isEmpty() || !cache.startsWith(QLatin1Char('/')))
        cache = QDir::homePath() + QStringLiteral("/.cache");
    return cache + QStringLiteral("/lyrabell");
}

void writePart(QDataStream& s, const ImapPart& p) {
    s << p.section << p.mimeType << p.fileName << p.charset << p.encoding << p.octets
      << p.attachment << p.message;
}
void readPart(QDataStream& s, ImapPart& p) {
    s >> p.section >> p.mimeType >> p.fileName >> p.charset >> p.encoding >> p.octets >>
        p.attachment >> p.message;
}

}  // namespace

QByteArray packImapStructure(const ImapStructure& structure) {
    QByteArray bytes;
    QDataStream s(&bytes, QIODevice::WriteOnly);
    s.setVersion(QDataStream::Qt_6_0);
    s << quint32(structure.attachments.size());
    for (const ImapPart& p : structure.attachments)
        writePart(s, p);
    for (const std::optional<ImapPart>* body : {&structure.text, &structure.html}) {
        s << bool(*body);
        if (*body)
            writePart(s, **body);
    }
    return bytes;
}

bool unpackImapStructure(const QByteArray& bytes, ImapStructure& structure) {
    QDataStream s(bytes);
    s.setVersion(QDataStream::Qt_6_0);
    quint32 count = 0;
    s >> count;
    // Each part takes more than 16 bytes: a count beyond that is damage.
    if (s.status() != QDataStream::Ok || count > uint32_t(bytes.size()) / 16)
        return false;
    structure = {};
    structure.attachments.resize(count);
    for (ImapPart& p : structure.attachments)
        readPart(s, p);
    for (std::optional<ImapPart>* body : {&structure.text, &structure.html}) {
        bool present = false;
        s >> present;
        if (present) {
            ImapPart p;
            readPart(s, p);
            *body = std::move(p);
        }
    }
    return s.status() == QDataStream::Ok && s.atEnd();
}

QString ImapSyncState::fileName(const QString& account) {
    QString name;
    for (const char c : account.toUtf8()) {
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
            QCryptographicHash::hash(account.toUtf8(), QCryptographicHash::Sha256).toHex();
        name = name.left(80) + QLatin1Char('~') + QString::fromLatin1(hash.left(32));
    }
    return QStringLiteral("imap-") + name + QStringLiteral(".sqlite3");
}

ImapSyncState::ImapSyncState(const QString& account, const ImapAddress& address, QString path)
    : account_(account),
      source_(QStringLiteral("%1@%2:%3/%4")
                  .arg(address.user, address.host)
                  .arg(address.port)
                  .arg(address.folder)),
      path_(path.isEmpty() ? cacheFolder() + QLatin1Char('/') + fileName(account)
                           : std::move(path)) {}

void ImapSyncState::report(const QString& why) {
    const QByteArray line =
        QStringLiteral("lyrabell: IMAP account \"%1\": %2\n").arg(account_, why).toUtf8();
    std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
    std::fflush(stderr);
}

bool ImapSyncState::load(uint32_t uidValidity, uint64_t highestModseq,
                         std::map<uint32_t, ImapListed>& listed, uint64_t& modseq) {
    inFile_ = false;
    Db db;
    QString why;
    const Opened opened = openDb(path_, false, db, &why);
    if (opened == Opened::missing)
        return false;
    auto unusable = [&](const QString& reason) {
        report(QStringLiteral("the folder's listing kept in %1 is not used (%2); it is made again "
                              "from the server")
                   .arg(path_, reason));
        return false;
    };
    if (opened == Opened::newer)
        return unusable(why);
    if (opened != Opened::ok)
        return unusable(why.isEmpty() ? QStringLiteral("it cannot be read") : why);

    std::map<QString, QString> meta;
    Query m(db.p, "SELECT key, value FROM meta");
    while (m.next())
        meta[m.text(0)] = m.text(1);
    if (m.rc() != SQLITE_OK)
        return unusable(QString::fromUtf8(sqlite3_errstr(m.rc())));
    if (meta.empty())
        return false;  // made, never written
    bool ok1 = false, ok2 = false, ok3 = false;
    const uint32_t validity = meta[QStringLiteral("uidvalidity")].toUInt(&ok1);
    const uint64_t kept = meta[QStringLiteral("modseq")].toULongLong(&ok2);
    const int64_t generation = meta[QStringLiteral("generation")].toLongLong(&ok3);
    if (!ok1 || !ok2 || !ok3)
        return unusable(QStringLiteral("it is damaged"));
    if (meta[QStringLiteral("source")] != source_)
        return unusable(QStringLiteral("it is of another address"));
    if (validity != uidValidity)
        return unusable(QStringLiteral("the folder was renumbered (UIDVALIDITY changed)"));
    if (kept > highestModseq && highestModseq)
        return unusable(QStringLiteral("the server's changes were numbered afresh"));

    std::map<uint32_t, ImapListed> got;
    std::map<uint32_t, Saved> saved;
    Query q(db.p, "SELECT uid, seen, size, date, structure FROM messages ORDER BY uid");
    while (q.next()) {
        ImapListed l;
        const int64_t uid = q.integer(0);
        if (uid <= 0 || uid > UINT32_MAX || !unpackImapStructure(q.blob(4), l.structure))
            return unusable(QStringLiteral("it is damaged"));
        l.uid = uint32_t(uid);
        l.seen = q.integer(1) != 0;
        l.size = uint32_t(q.integer(2));
        l.internalDate = uint64_t(q.integer(3));
        saved.emplace_hint(saved.end(), l.uid, Saved{l.seen, l.size, l.internalDate});
        got.emplace_hint(got.end(), l.uid, std::move(l));
    }
    if (q.rc() != SQLITE_OK)
        return unusable(QString::fromUtf8(sqlite3_errstr(q.rc())));
    listed = std::move(got);
    modseq = highestModseq ? kept : 0;
    inFile_ = true;
    generation_ = generation;
    uidValidity_ = validity;
    modseq_ = kept;
    saved_ = std::move(saved);
    return true;
}

void ImapSyncState::save(uint32_t uidValidity, uint64_t modseq,
                         const std::map<uint32_t, ImapListed>& listed) {
    // Nothing to write when the file holds this listing already.
    if (inFile_ && uidValidity == uidValidity_ && modseq == modseq_ &&
        listed.size() == saved_.size() &&
        std::equal(listed.begin(), listed.end(), saved_.begin(), [](const auto& a, const auto& b) {
            return a.first == b.first && a.second.seen == b.second.seen;
        }))
        return;
    const QString folder = QFileInfo(path_).absolutePath();
    if (!paths::makePrivateFolder(folder))
        return;
    Db db;
    QString why;
    Opened opened = openDb(path_, true, db, &why);
    if (opened == Opened::damaged || opened == Opened::newer) {
        // Reported when loaded; made again here.
        sqlite3_close_v2(db.p);
        db.p = nullptr;
        removeFiles(path_);
        opened = openDb(path_, true, db, &why);
    }
    if (opened != Opened::ok) {
        inFile_ = false;
        return;
    }
    if (!db.exec("BEGIN IMMEDIATE")) {
        inFile_ = false;
        return;
    }
    int64_t generation = 0;
    {
        Query g(db.p, "SELECT value FROM meta WHERE key = 'generation'");
        if (g.next())
            generation = g.integer(0);
    }
    // What changed since this process's last save, when the file is as it
    // left it; else everything.
    const bool whole = !inFile_ || generation != generation_ || uidValidity != uidValidity_;
    bool ok = true;
    std::map<uint32_t, Saved> now;
    {
        Query del(db.p, "DELETE FROM messages WHERE uid = ?1");
        Query put(db.p, "INSERT OR REPLACE INTO messages VALUES (?1, ?2, ?3, ?4, ?5)");
        Query seen(db.p, "UPDATE messages SET seen = ?2 WHERE uid = ?1");
        if (whole)
            ok = db.exec("DELETE FROM messages");
        for (auto it = saved_.begin(); ok && !whole && it != saved_.end(); ++it) {
            if (!listed.count(it->first))
                ok = del.bind(1, int64_t(it->first)).run();
        }
        for (auto it = listed.begin(); ok && it != listed.end(); ++it) {
            const ImapListed& l = it->second;
            now.emplace_hint(now.end(), l.uid, Saved{l.seen, l.size, l.internalDate});
            auto was = whole ? saved_.end() : saved_.find(l.uid);
            if (was == saved_.end() || was->second.size != l.size ||
                was->second.date != l.internalDate) {
                ok = put.bind(1, int64_t(l.uid))
                         .bind(2, int64_t(l.seen))
                         .bind(3, int64_t(l.size))
                         .bind(4, int64_t(l.internalDate))
                         .bind(5, packImapStructure(l.structure))
                         .run();
            } else if (was->second.seen != l.seen) {
                ok = seen.bind(1, int64_t(l.uid)).bind(2, int64_t(l.seen)).run();
            }
        }
    }
    const int64_t next = int64_t(QRandomGenerator::global()->generate64() >> 1);
    if (ok) {
        Query meta(db.p, "INSERT OR REPLACE INTO meta VALUES (?1, ?2)");
        ok = meta.bind(1, QStringLiteral("source")).bind(2, source_).run() &&
             meta.bind(1, QStringLiteral("uidvalidity"))
                 .bind(2, QString::number(uidValidity))
                 .run() &&
             meta.bind(1, QStringLiteral("modseq")).bind(2, QString::number(modseq)).run() &&
             meta.bind(1, QStringLiteral("generation")).bind(2, QString::number(next)).run();
    }
    if (!ok || !db.exec("COMMIT")) {
        db.exec("ROLLBACK");
        inFile_ = false;
        return;
    }
    inFile_ = true;
    generation_ = next;
    uidValidity_ = uidValidity;
    modseq_ = modseq;
    saved_ = std::move(now);
}

}  // namespace lyb::mapi
