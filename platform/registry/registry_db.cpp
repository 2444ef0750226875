#include "platform/registry/registry_db.h"

#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <mutex>
#include <thread>

#include "platform/paths/private_files.h"
#include "platform/registry/registry.h"

namespace lyb::reg::detail {

namespace {

// Long enough for another process's burst of writes, short enough that a
// wedged lock does not hang a program for good.
constexpr int kBusyTimeoutMs = 10000;

constexpr const char* kSchema =
    "CREATE TABLE IF NOT EXISTS reg_keys("
    "  hive INTEGER NOT NULL,"
    "  lpath TEXT NOT NULL,"   // full path, case-folded: the lookup key
    "  parent TEXT NOT NULL,"  // the parent's lpath ('' below the hive)
    "  name TEXT NOT NULL,"    // last component as first written
    "  PRIMARY KEY(hive, lpath)) WITHOUT ROWID;"
    "CREATE INDEX IF NOT EXISTS reg_keys_parent ON reg_keys(hive, parent);"
    "CREATE TABLE IF NOT EXISTS reg_values("
    "  hive INTEGER NOT NULL,"
    "  lkey TEXT NOT NULL,"
    "  lname TEXT NOT NULL,"  // value name, case-folded
    "  name TEXT NOT NULL,"   // value name as first written
    "  type INTEGER NOT NULL,"
    "  data BLOB NOT NULL,"
    "  PRIMARY KEY(hive, lkey, lname)) WITHOUT ROWID;";

struct Connection {
    sqlite3* db = nullptr;
    QString path;
    pid_t pid = 0;
    dev_t dev = 0;
    ino_t ino = 0;

    ~Connection() { drop(); }

    void drop() {
        // A connection inherited through fork belongs to the parent: closing it
        // here could disturb the parent's locks, so the child only forgets it.
        if (db != nullptr && pid == getpid())
            sqlite3_close_v2(db);
        db = nullptr;
    }
};

thread_local Connection tConnection;

std::mutex gReportedMutex;
QSet<QString> gReported;
QSet<QString> gReportedBusy;

// Writes line to standard error unless path is already in reported.
void reportOnce(QSet<QString>& reported, const QString& path, const QString& line) {
    {
        std::lock_guard lock(gReportedMutex);
        if (reported.contains(path))
            return;
        reported.insert(path);
    }
    const QByteArray bytes = line.toUtf8();
    std::fwrite(bytes.constData(), 1, bytes.size(), stderr);
    std::fflush(stderr);
}

bool fileIdentity(const QString& path, dev_t* dev, ino_t* ino) {
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return false;
    *dev = st.st_dev;
    *ino = st.st_ino;
    return true;
}

bool isBusy(int rc) {
    const int primary = rc & 0xff;
    return primary == SQLITE_BUSY || primary == SQLITE_LOCKED;
}

// Runs one statement that may give a row (a pragma); retries while another
// connection holds a lock the busy handler does not cover (changing the
// journal mode of a new file).
int execRetrying(sqlite3* db, const char* sql) {
    int rc = SQLITE_OK;
    for (int attempt = 0; attempt < 200; ++attempt) {
        rc = sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
        if (!isBusy(rc))
            return rc;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return rc;
}

bool schemaPresent(sqlite3* db, bool* present) {
    Statement st(db,
                 "SELECT count(*) FROM sqlite_master WHERE type = 'table' AND "
                 "name IN ('reg_keys', 'reg_values')");
    if (!st.next())
        return false;
    *present = st.integer(0) == 2;
    return true;
}

// Makes a missing database file 0600 whatever the umask; SQLite then gives its
// logs the same mode.
void createPrivateFile(const QString& path) {
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd >= 0) {
        ::fchmod(fd, 0600);
        ::close(fd);
    }
}

sqlite3* openDatabase(const QString& path) {
    const QString folder = QFileInfo(path).absolutePath();
    if (!paths::makePrivateFolder(folder)) {
        reportFault(QStringLiteral("cannot create the folder %1").arg(folder));
        return nullptr;
    }
    // The registry names the libraries programs load (InprocServer32), so only
    // a database no other user could have written or replaced is used.
    if (const QString why = paths::untrustedDatabase(path, paths::Owner::UserOrRoot);
        !why.isEmpty()) {
        reportFault(why);
        return nullptr;
    }
    createPrivateFile(path);
    sqlite3* db = nullptr;
    const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX;
    if (sqlite3_open_v2(QFile::encodeName(path).constData(), &db, flags, nullptr) != SQLITE_OK) {
        reportFault(db != nullptr ? QString::fromUtf8(sqlite3_errmsg(db))
                                  : QStringLiteral("out of memory"));
        sqlite3_close_v2(db);
        return nullptr;
    }
    sqlite3_extended_result_codes(db, 1);
    sqlite3_busy_timeout(db, kBusyTimeoutMs);

    // The first statement reads the file's header: a file that is not a
    // database fails here. A read-only file cannot switch to the write-ahead
    // log but can still be read, so that is not a fault yet.
    int rc = execRetrying(db, "PRAGMA journal_mode=WAL");
    if (rc != SQLITE_OK && (rc & 0xff) != SQLITE_READONLY) {
        reportFault(db);
        sqlite3_close_v2(db);
        return nullptr;
    }
    // With the write-ahead log, NORMAL still commits each transaction durably
    // against a crash of the program; only a power loss can undo the last ones.
    execRetrying(db, "PRAGMA synchronous=NORMAL");

    bool present = false;
    if (!schemaPresent(db, &present)) {
        sqlite3_close_v2(db);
        return nullptr;
    }
    if (!present) {
        rc = sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
        if (rc == SQLITE_OK)
            rc = sqlite3_exec(db, kSchema, nullptr, nullptr, nullptr);
        if (rc == SQLITE_OK)
            rc = sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
        if (rc != SQLITE_OK) {
            reportFault(db);
            sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
            sqlite3_close_v2(db);
            return nullptr;
        }
    }
    return db;
}

}  // namespace

void reportFault(const QString& what) {
    const QString path = databasePath();
    reportOnce(gReported, path,
               QStringLiteral("lyrabell: registry %1 cannot be used: %2\n").arg(path, what));
}

void reportBusy(const QString& what) {
    const QString path = databasePath();
    reportOnce(gReportedBusy, path,
               QStringLiteral("lyrabell: registry %1 is busy in another program; %2 was not "
                              "renewed\n")
                   .arg(path, what));
}

void reportFault(sqlite3* db) {
    reportFault(QString::fromUtf8(sqlite3_errmsg(db)));
}

sqlite3* connection() {
    Connection& c = tConnection;
    const QString path = databasePath();
    dev_t dev = 0;
    ino_t ino = 0;
    const bool exists = fileIdentity(path, &dev, &ino);
    if (c.db != nullptr &&
        (c.pid != getpid() || c.path != path || !exists || c.dev != dev || c.ino != ino)) {
        c.drop();
    }
    if (c.db != nullptr)
        return c.db;

    c.db = openDatabase(path);
    if (c.db == nullptr)
        return nullptr;
    c.path = path;
    c.pid = getpid();
    if (!fileIdentity(path, &c.dev, &c.ino)) {
        c.dev = 0;
        c.ino = 0;
    }
    return c.db;
}

Statement::Statement(sqlite3* db, const char* sql) : db_(db) {
    if (sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr) != SQLITE_OK) {
        reportFault(db);
        sqlite3_finalize(stmt_);
        stmt_ = nullptr;
        failed_ = true;
    }
}

Statement::~Statement() {
    sqlite3_finalize(stmt_);
}

Statement& Statement::bind(int index, qint64 number) {
    if (stmt_ != nullptr)
        sqlite3_bind_int64(stmt_, index, number);
    return *this;
}

Statement& Statement::bind(int index, const QString& text) {
    if (stmt_ != nullptr) {
        const QByteArray utf8 = text.toUtf8();
        sqlite3_bind_text(stmt_, index, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
    }
    return *this;
}

Statement& Statement::bindBlob(int index, const QByteArray& bytes) {
    // A zero-length blob still has to be a blob, not NULL.
    if (stmt_ != nullptr) {
        sqlite3_bind_blob(stmt_, index, bytes.isEmpty() ? "" : bytes.constData(), int(bytes.size()),
                          SQLITE_TRANSIENT);
    }
    return *this;
}

bool Statement::next() {
    if (stmt_ == nullptr || failed_)
        return false;
    const int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW)
        return true;
    if (rc != SQLITE_DONE) {
        reportFault(db_);
        failed_ = true;
    }
    return false;
}

bool Statement::run() {
    while (next()) {
    }
    return !failed_;
}

qint64 Statement::integer(int column) const {
    return sqlite3_column_int64(stmt_, column);
}

QString Statement::text(int column) const {
    const auto* bytes = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, column));
    return QString::fromUtf8(bytes, sqlite3_column_bytes(stmt_, column));
}

QByteArray Statement::blob(int column) const {
    const auto* bytes = static_cast<const char*>(sqlite3_column_blob(stmt_, column));
    const int size = sqlite3_column_bytes(stmt_, column);
    return bytes == nullptr ? QByteArray() : QByteArray(bytes, size);
}

bool writeTransaction(const std::function<bool(sqlite3*)>& body) {
    return writeTransaction(body, kBusyTimeoutMs, nullptr);
}

bool writeTransaction(const std::function<bool(sqlite3*)>& body, int busyTimeoutMs, bool* busy) {
    sqlite3* db = connection();
    if (db == nullptr)
        return false;
    // The write lock is taken here; once it is held nothing else waits.
    sqlite3_busy_timeout(db, busyTimeoutMs);
    const int begun = sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
    sqlite3_busy_timeout(db, kBusyTimeoutMs);
    if (begun != SQLITE_OK) {
        if (busy != nullptr && isBusy(begun))
            *busy = true;
        else
            reportFault(db);
        return false;
    }
    if (!body(db)) {
        sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
        return false;
    }
    if (sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) {
        reportFault(db);
        sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
        return false;
    }
    return true;
}

bool readTransaction(const std::function<bool(sqlite3*)>& body) {
    sqlite3* db = connection();
    if (db == nullptr)
        return false;
    if (sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr) != SQLITE_OK) {
        reportFault(db);
        return false;
    }
    const bool ok = body(db);
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    return ok;
}

}  // namespace lyb::reg::detail
