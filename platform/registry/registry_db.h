// The registry's storage: one SQLite connection per thread to the database in
// use, prepared statements, and read and write transactions.
//
// The connection is reopened when the database path changes, when the file at
// that path is replaced or removed, and in a forked child (a connection must
// not cross fork). Values are never cached: every read runs a query.
//
// Faults (a file that is not a database, a folder or file that cannot be
// written, a lock held past the busy timeout) are named on standard error once
// per database path per process; the caller then gets nullptr or false.
#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

struct sqlite3;
struct sqlite3_stmt;

namespace lyb::reg::detail {

// Returns this thread's connection to the database in use, opening (and, when
// missing, creating) it first; nullptr when it cannot be used.
sqlite3* connection();

// Names the database in use and the fault on standard error, once per path.
void reportFault(const QString& what);
// Reports sqlite3_errmsg of db.
void reportFault(sqlite3* db);

// A prepared statement; steps report their own faults.
class Statement {
public:
    Statement(sqlite3* db, const char* sql);
    ~Statement();
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    bool prepared() const { return stmt_ != nullptr; }
    Statement& bind(int index, qint64 number);
    Statement& bind(int index, const QString& text);
    Statement& bindBlob(int index, const QByteArray& bytes);

    // Returns true for a row; false at the end or on a fault (see failed()).
    bool next();
    // Runs a statement that gives no rows; false on a fault.
    bool run();
    bool failed() const { return failed_; }

    qint64 integer(int column) const;
    QString text(int column) const;
    QByteArray blob(int column) const;

private:
    sqlite3* db_;
    sqlite3_stmt* stmt_ = nullptr;
    bool failed_ = false;
};

// Runs body inside BEGIN IMMEDIATE ... COMMIT on this thread's connection;
// rolls back when body returns false. False when the database is unusable,
// body failed or the commit failed.
bool writeTransaction(const std::function<bool(sqlite3*)>& body);
// As above, but waits at most busyTimeoutMs for another connection's write
// lock. When that is still held, sets *busy and returns false without naming
// a fault (the database is fine, only taken).
bool writeTransaction(const std::function<bool(sqlite3*)>& body, int busyTimeoutMs, bool* busy);

// Names on standard error, once per database path per process, that what
// was not written because another program held the database.
void reportBusy(const QString& what);

// Runs body inside a read transaction, so that several queries see one state.
// False when the database is unusable or body returned false.
bool readTransaction(const std::function<bool(sqlite3*)>& body);

}  // namespace lyb::reg::detail
