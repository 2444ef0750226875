#include "platform/registry/registry.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>

#include <sqlite3.h>

#include <functional>

#include "platform/registry/registry_db.h"

namespace lyb::reg {

using detail::Statement;

namespace {

QString normalisePath(const QString& path) {
    return path.split(QLatin1Char('\\'), Qt::SkipEmptyParts).join(QLatin1Char('\\'));
}

QString fold(const QString& text) {
    return text.toCaseFolded();
}

qint64 hiveId(Hive hive) {
    return static_cast<qint64>(hive);
}

bool knownType(uint32_t type) {
    return type == uint32_t(Type::Sz) || type == uint32_t(Type::Binary) ||
           type == uint32_t(Type::Dword);
}

// Inserts every key on the way to path (path normalised) that is not there yet.
bool ensureKeyChain(sqlite3* db, Hive hive, const QString& path) {
    const QStringList parts = path.split(QLatin1Char('\\'), Qt::SkipEmptyParts);
    QString lpath;
    for (const QString& part : parts) {
        const QString parent = lpath;
        lpath = parent.isEmpty() ? fold(part) : parent + QLatin1Char('\\') + fold(part);
        Statement st(db,
                     "INSERT OR IGNORE INTO reg_keys(hive, lpath, parent, name) "
                     "VALUES(?1, ?2, ?3, ?4)");
        st.bind(1, hiveId(hive)).bind(2, lpath).bind(3, parent).bind(4, part);
        if (!st.run())
            return false;
    }
    return true;
}

// Returns whether the key exists; nullopt on a fault. The hive itself always exists.
std::optional<bool> keyExists(sqlite3* db, Hive hive, const QString& lpath) {
    if (lpath.isEmpty())
        return true;
    Statement st(db, "SELECT 1 FROM reg_keys WHERE hive = ?1 AND lpath = ?2");
    st.bind(1, hiveId(hive)).bind(2, lpath);
    const bool found = st.next();
    if (st.failed())
        return std::nullopt;
    return found;
}

uint32_t littleEndian32(const QByteArray& data) {
    const auto* b = reinterpret_cast<const uchar*>(data.constData());
    return uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
}

QString quoted(const QString& text) {
    QString out = QStringLiteral("\"");
    for (const QChar c : text) {
        switch (c.unicode()) {
            case '\\':
                out += QLatin1String("\\\\");
                break;
            case '"':
                out += QLatin1String("\\\"");
                break;
            case '\n':
                out += QLatin1String("\\n");
                break;
            case '\r':
                out += QLatin1String("\\r");
                break;
            case '\t':
                out += QLatin1String("\\t");
                break;
            default:
                if (c.unicode() < 0x20) {
                    out += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
                } else {
                    out += c;
                }
        }
    }
    out += QLatin1Char('"');
    return out;
}

QString exportData(const Value& v) {
    switch (v.type) {
        case Type::Sz:
            return QStringLiteral("REG_SZ:") + quoted(decodeSz(v.data));
        case Type::Dword:
            if (v.data.size() == 4)
                return QStringLiteral("REG_DWORD:%1").arg(littleEndian32(v.data));
            break;
        case Type::Binary:
            break;
    }
    return typeName(v.type) + QLatin1Char(':') + QString::fromLatin1(v.data.toHex());
}

}  // namespace

std::optional<Hive> parseHive(const QString& text) {
    const QString t = text.toUpper();
    if (t == QLatin1String("HKCU") || t == QLatin1String("HKEY_CURRENT_USER")) {
        return Hive::CurrentUser;
    }
    if (t == QLatin1String("HKCR") || t == QLatin1String("HKEY_CLASSES_ROOT")) {
        return Hive::ClassesRoot;
    }
    if (t == QLatin1String("HKLM") || t == QLatin1String("HKEY_LOCAL_MACHINE")) {
        return Hive::LocalMachine;
    }
    return std::nullopt;
}

std::optional<Type> parseType(const QString& text) {
    const QString t = text.toUpper();
    if (t == QLatin1String("REG_SZ"))
        return Type::Sz;
    if (t == QLatin1String("REG_DWORD"))
        return Type::Dword;
    if (t == QLatin1String("REG_BINARY"))
        return Type::Binary;
    return std::nullopt;
}

QString hiveName(Hive hive) {
    switch (hive) {
        case Hive::CurrentUser:
            return QStringLiteral("HKCU");
        case Hive::ClassesRoot:
            return QStringLiteral("HKCR");
        case Hive::LocalMachine:
            return QStringLiteral("HKLM");
    }
    return QStringLiteral("HK?");
}

QString typeName(Type type) {
    switch (type) {
        case Type::Sz:
            return QStringLiteral("REG_SZ");
        case Type::Binary:
            return QStringLiteral("REG_BINARY");
        case Type::Dword:
            return QStringLiteral("REG_DWORD");
    }
    return QStringLiteral("REG_TYPE_%1").arg(uint32_t(type));
}

QString databasePath() {
    const QString own = qEnvironmentVariable("LYRABELL_REGISTRY");
    if (!own.isEmpty())
        return QFileInfo(own).absoluteFilePath();
    QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (config.isEmpty() || !QDir::isAbsolutePath(config)) {
        config = QDir::homePath() + QStringLiteral("/.config");
    }
    return config + QStringLiteral("/lyrabell/registry.sqlite3");
}

QString decodeSz(const QByteArray& data) {
    QString text;
    const qsizetype units = data.size() / 2;
    text.reserve(units);
    const auto* b = reinterpret_cast<const uchar*>(data.constData());
    for (qsizetype i = 0; i < units; ++i) {
        const char16_t unit = char16_t(b[2 * i] | b[2 * i + 1] << 8);
        if (unit == 0)
            break;
        text.append(QChar(unit));
    }
    return text;
}

QByteArray encodeSz(const QString& text, bool withTerminator) {
    QByteArray bytes;
    bytes.reserve((text.size() + 1) * 2);
    for (const QChar c : text) {
        bytes.append(char(c.unicode() & 0xff));
        bytes.append(char(c.unicode() >> 8));
    }
    if (withTerminator)
        bytes.append(2, '\0');
    return bytes;
}

std::optional<Key> Key::create(Hive hive, const QString& path) {
    const QString norm = normalisePath(path);
    const bool ok =
        detail::writeTransaction([&](sqlite3* db) { return ensureKeyChain(db, hive, norm); });
    if (!ok)
        return std::nullopt;
    return Key(hive, norm);
}

std::optional<Key> Key::open(Hive hive, const QString& path) {
    const QString norm = normalisePath(path);
    sqlite3* db = detail::connection();
    if (db == nullptr)
        return std::nullopt;
    const auto exists = keyExists(db, hive, fold(norm));
    if (!exists || !*exists)
        return std::nullopt;
    return Key(hive, norm);
}

bool Key::remove(Hive hive, const QString& path) {
    const QString lpath = fold(normalisePath(path));
    if (lpath.isEmpty())
        return false;  // a hive cannot be removed
    return detail::writeTransaction([&](sqlite3* db) {
        const auto exists = keyExists(db, hive, lpath);
        if (!exists || !*exists)
            return false;
        Statement children(db, "SELECT 1 FROM reg_keys WHERE hive = ?1 AND parent = ?2 LIMIT 1");
        children.bind(1, hiveId(hive)).bind(2, lpath);
        if (children.next() || children.failed())
            return false;
        Statement values(db, "DELETE FROM reg_values WHERE hive = ?1 AND lkey = ?2");
        values.bind(1, hiveId(hive)).bind(2, lpath);
        Statement key(db, "DELETE FROM reg_keys WHERE hive = ?1 AND lpath = ?2");
        key.bind(1, hiveId(hive)).bind(2, lpath);
        return values.run() && key.run();
    });
}

std::optional<Value> Key::read(const QString& name) const {
    sqlite3* db = detail::connection();
    if (db == nullptr)
        return std::nullopt;
    Statement st(db,
                 "SELECT name, type, data FROM reg_values "
                 "WHERE hive = ?1 AND lkey = ?2 AND lname = ?3");
    st.bind(1, hiveId(hive_)).bind(2, fold(path_)).bind(3, fold(name));
    if (!st.next())
        return std::nullopt;
    return Value{st.text(0), static_cast<Type>(uint32_t(st.integer(1))), st.blob(2)};
}

std::optional<QString> Key::readString(const QString& name) const {
    const auto v = read(name);
    if (!v || v->type != Type::Sz)
        return std::nullopt;
    return decodeSz(v->data);
}

std::optional<uint32_t> Key::readDword(const QString& name) const {
    const auto v = read(name);
    if (!v || v->data.size() < 4)
        return std::nullopt;
    return littleEndian32(v->data);
}

std::optional<QByteArray> Key::readBinary(const QString& name) const {
    const auto v = read(name);
    if (!v || v->type != Type::Binary)
        return std::nullopt;
    return v->data;
}

bool Key::write(const Value& value) const {
    if (!writable(value))
        return false;
    return detail::writeTransaction([&](sqlite3* db) { return store(db, value); });
}

Key::Refresh Key::refresh(Hive hive, const QString& path, const Value& value) {
    // Short enough that a start is not held up, long enough to outlast
    // another program's single commit.
    constexpr int kRefreshTimeoutMs = 250;
    if (!writable(value))
        return Refresh::Failed;
    const Key key(hive, normalisePath(path));
    // Reading needs no lock: a writer elsewhere does not hold this up.
    if (const auto stored = key.read(value.name);
        stored && stored->type == value.type && stored->data == value.data) {
        return Refresh::Unchanged;
    }
    bool busy = false;
    if (detail::writeTransaction([&](sqlite3* db) { return key.store(db, value); },
                                 kRefreshTimeoutMs, &busy)) {
        return Refresh::Written;
    }
    if (!busy)
        return Refresh::Failed;
    detail::reportBusy(QStringLiteral("[%1\\%2]").arg(hiveName(hive), key.path_));
    return Refresh::Busy;
}

bool Key::writable(const Value& value) {
    if (!knownType(uint32_t(value.type)))
        return false;
    return value.type != Type::Dword || value.data.size() == 4;
}

bool Key::store(sqlite3* db, const Value& value) const {
    if (!ensureKeyChain(db, hive_, path_))
        return false;
    Statement st(db,
                 "INSERT INTO reg_values(hive, lkey, lname, name, type, data) "
                 "VALUES(?1, ?2, ?3, ?4, ?5, ?6) "
                 "ON CONFLICT(hive, lkey, lname) DO UPDATE "
                 "SET type = excluded.type, data = excluded.data");
    st.bind(1, hiveId(hive_))
        .bind(2, fold(path_))
        .bind(3, fold(value.name))
        .bind(4, value.name)
        .bind(5, qint64(value.type))
        .bindBlob(6, value.data);
    return st.run();
}

bool Key::writeString(const QString& name, const QString& text, bool withTerminator) const {
    return write(Value{name, Type::Sz, encodeSz(text, withTerminator)});
}

bool Key::writeDword(const QString& name, uint32_t number) const {
    QByteArray bytes(4, '\0');
    for (int i = 0; i < 4; ++i)
        bytes[i] = char((number >> (8 * i)) & 0xff);
    return write(Value{name, Type::Dword, bytes});
}

bool Key::writeBinary(const QString& name, const QByteArray& bytes) const {
    return write(Value{name, Type::Binary, bytes});
}

bool Key::deleteValue(const QString& name) const {
    return detail::writeTransaction([&](sqlite3* db) {
        Statement st(db, "DELETE FROM reg_values WHERE hive = ?1 AND lkey = ?2 AND lname = ?3");
        st.bind(1, hiveId(hive_)).bind(2, fold(path_)).bind(3, fold(name));
        return st.run() && sqlite3_changes(db) > 0;
    });
}

QStringList Key::subkeys() const {
    QStringList names;
    sqlite3* db = detail::connection();
    if (db == nullptr)
        return names;
    Statement st(db, "SELECT name FROM reg_keys WHERE hive = ?1 AND parent = ?2 ORDER BY lpath");
    st.bind(1, hiveId(hive_)).bind(2, fold(path_));
    while (st.next())
        names.append(st.text(0));
    if (st.failed())
        names.clear();
    return names;
}

QList<Value> Key::values() const {
    QList<Value> all;
    sqlite3* db = detail::connection();
    if (db == nullptr)
        return all;
    // The default value's folded name is empty, so it sorts first.
    Statement st(db,
                 "SELECT name, type, data FROM reg_values "
                 "WHERE hive = ?1 AND lkey = ?2 ORDER BY lname");
    st.bind(1, hiveId(hive_)).bind(2, fold(path_));
    while (st.next()) {
        all.append(Value{st.text(0), static_cast<Type>(uint32_t(st.integer(1))), st.blob(2)});
    }
    if (st.failed())
        all.clear();
    return all;
}

QString exportText() {
    QString text;
    const bool ok = detail::readTransaction([&](sqlite3* db) {
        for (const Hive hive : {Hive::CurrentUser, Hive::ClassesRoot, Hive::LocalMachine}) {
            struct Child {
                QString lpath;
                QString name;
            };
            QHash<QString, QList<Child>> children;
            Statement keys(db,
                           "SELECT lpath, parent, name FROM reg_keys WHERE hive = ?1 "
                           "ORDER BY lpath");
            keys.bind(1, hiveId(hive));
            while (keys.next())
                children[keys.text(1)].append({keys.text(0), keys.text(2)});

            QHash<QString, QList<Value>> values;
            Statement vals(db,
                           "SELECT lkey, name, type, data FROM reg_values WHERE hive = ?1 "
                           "ORDER BY lkey, lname");
            vals.bind(1, hiveId(hive));
            while (vals.next()) {
                values[vals.text(0)].append(
                    {vals.text(1), static_cast<Type>(uint32_t(vals.integer(2))), vals.blob(3)});
            }
            if (keys.failed() || vals.failed())
                return false;

            // Depth first, so every key follows its parent.
            std::function<void(const QString&, const QString&)> visit = [&](const QString& lpath,
                                                                            const QString& shown) {
                const auto own = values.constFind(lpath);
                if (!lpath.isEmpty() || own != values.constEnd()) {
                    text += QLatin1Char('[') + shown + QStringLiteral("]\n");
                    if (own != values.constEnd()) {
                        for (const Value& v : *own) {
                            text += (v.name.isEmpty() ? QStringLiteral("@") : quoted(v.name)) +
                                    QLatin1Char('=') + exportData(v) + QLatin1Char('\n');
                        }
                    }
                    text += QLatin1Char('\n');
                }
                for (const Child& c : children.value(lpath)) {
                    visit(c.lpath, shown + QLatin1Char('\\') + c.name);
                }
            };
            visit(QString(), hiveName(hive));
        }
        return true;
    });
    return ok ? text : QString();
}

}  // namespace lyb::reg
