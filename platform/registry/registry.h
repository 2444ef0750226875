// The registry: three hives of keys and typed values, kept in one SQLite
// database per user and shared by every program of the system.
//
// Where it lives: the file named by LYRABELL_REGISTRY, else
// $XDG_CONFIG_HOME/lyrabell/registry.sqlite3 (~/.config when unset).
//
// Keys are backslash paths below a hive ("Software\\Corvendale\\Lyrabell").
// Key and value names compare without regard to case and are kept as first
// written. The empty value name is the key's default value. Every read goes to
// the database and every write is committed at once (write-ahead log and a
// busy timeout, so several processes read and write at the same time).
//
// A missing database is created 0600 (its folders 0700) whatever the umask.
// Since the classes root names the libraries programs load, a database that
// another user could have written or replaced (the file or its logs not this
// user's or writable by group or others, or its folder writable by others) is
// not used: it is named once on standard error as a fault, like those below.
//
// Bad input: a database that is corrupt or
// cannot be written is named once on standard error; reads then give nothing
// (callers fall back to their defaults) and writes return false. Nothing here
// throws or aborts on bad data. The fault is named once per database path in
// each process.
//
// A value whose type number is none of ours (only a foreign writer makes one)
// is read as it is stored, type number and bytes, and listed and exported
// with its bytes in hex; write() refuses such types, so it stays read-only
// here. A REG_DWORD value must be written with exactly four bytes.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>

struct sqlite3;

namespace lyb::reg {

enum class Hive { CurrentUser, ClassesRoot, LocalMachine };

// The registry types we keep, with their platform numbers.
enum class Type : uint32_t { Sz = 1, Binary = 3, Dword = 4 };

struct Value {
    QString name;
    Type type = Type::Sz;
    // The stored bytes: REG_SZ as UTF-16LE (a terminating zero is kept when the
    // writer included one), REG_DWORD as 4 little-endian bytes, REG_BINARY as is.
    QByteArray data;
};

// Parses "HKCU", "HKCR", "HKLM" (and the long HKEY_ forms); nullopt otherwise.
std::optional<Hive> parseHive(const QString& text);
// Parses "REG_SZ", "REG_DWORD", "REG_BINARY"; nullopt otherwise.
std::optional<Type> parseType(const QString& text);
QString hiveName(Hive hive);
QString typeName(Type type);

// Returns the database path in use (LYRABELL_REGISTRY or the XDG default).
QString databasePath();

// Decodes REG_SZ bytes to text, dropping the trailing zero (and anything after
// the first zero character). Odd trailing bytes are ignored.
QString decodeSz(const QByteArray& data);
// Encodes text as REG_SZ bytes; with withTerminator the zero character is included.
QByteArray encodeSz(const QString& text, bool withTerminator = true);

// An open key. Cheap to copy: it names the key, the database is opened per call.
class Key {
public:
    // Creates the key (and its parents) when needed; nullopt when it cannot be written.
    static std::optional<Key> create(Hive hive, const QString& path);
    // Opens an existing key; nullopt when it does not exist or the database is unusable.
    static std::optional<Key> open(Hive hive, const QString& path);
    // Deletes a key that has no subkeys, with its values. False when it has
    // subkeys, does not exist or the database cannot be written.
    static bool remove(Hive hive, const QString& path);

    Hive hive() const { return hive_; }
    const QString& path() const { return path_; }

    std::optional<Value> read(const QString& name) const;
    // Typed reads: nullopt when the value is missing or has another type, except
    // readDword, which takes the first four bytes of a value of any type that
    // holds at least four (the settings do not check an integer's type).
    std::optional<QString> readString(const QString& name) const;
    std::optional<uint32_t> readDword(const QString& name) const;
    std::optional<QByteArray> readBinary(const QString& name) const;

    // Writing creates the key again (with its parents) when it was removed
    // since it was opened. False for a type we do not keep or when the
    // database cannot be written.
    bool write(const Value& value) const;
    bool writeString(const QString& name, const QString& text, bool withTerminator = true) const;
    bool writeDword(const QString& name, uint32_t number) const;
    bool writeBinary(const QString& name, const QByteArray& bytes) const;
    // False when the value does not exist or the database cannot be written.
    bool deleteValue(const QString& name) const;

    enum class Refresh { Unchanged, Written, Busy, Failed };
    // Stores a value that only renews what an earlier run already stored
    // (the file association at every start), creating the key when needed.
    // Nothing is written when the stored value is the same. Another program's
    // write lock is waited for a quarter of a second, not the usual ten: when
    // it is still held, the value is left as it is and the skip is named on
    // standard error, one line per process (Busy). Failed as write() fails.
    static Refresh refresh(Hive hive, const QString& path, const Value& value);

    QStringList subkeys() const;  // names as written, sorted without regard to case
    QList<Value> values() const;  // the default value (if set) first, then by name

private:
    Key(Hive hive, QString path) : hive_(hive), path_(std::move(path)) {}
    // True for a type we keep, with four bytes when it is a REG_DWORD.
    static bool writable(const Value& value);
    // Writes value (and the key chain) inside the caller's write transaction.
    bool store(sqlite3* db, const Value& value) const;
    Hive hive_;
    QString path_;
};

// Every key with its values, as text for people: "[HKCU\\path]" lines followed by
// "name"=type:data lines (the default value shown as @), hives in order.
QString exportText();

}  // namespace lyb::reg
