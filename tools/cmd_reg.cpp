// lybtool reg: read, write, delete and list registry values.
//
// Exit status: 0 done; 1 the key or value is missing, a key to delete has
// subkeys, or the registry cannot be used; 2 the command line is wrong.

#include "platform/registry/registry.h"
#include "tools/command.h"
#include "tools/reg_data.h"

namespace {

using lyb::tool::err;
using lyb::tool::out;
namespace reg = lyb::reg;

constexpr int kMissing = 1;
using lyb::tool::kUsage;

const char* const kUsageText =
    "get HIVE KEY [VALUE] | set HIVE KEY VALUE TYPE DATA | delete HIVE KEY [VALUE] | export";

int usage(const QString& why) {
    err(QStringLiteral("lybtool reg: %1").arg(why));
    err(QStringLiteral("usage: lybtool reg %1").arg(QString::fromLatin1(kUsageText)));
    err(QStringLiteral("  HIVE is HKCU, HKCR or HKLM; VALUE \"\" is the key's default value;"));
    err(QStringLiteral("  TYPE is REG_SZ, REG_DWORD (decimal or 0x hex) or REG_BINARY (hex)"));
    return kUsage;
}

QString shownData(const reg::Value& v) {
    switch (v.type) {
        case reg::Type::Sz:
            return reg::decodeSz(v.data);
        case reg::Type::Dword:
            if (v.data.size() == 4) {
                const auto* b = reinterpret_cast<const uchar*>(v.data.constData());
                const uint32_t n = uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 |
                                   uint32_t(b[3]) << 24;
                return QString::number(n);
            }
            break;
        case reg::Type::Binary:
            break;
    }
    return QString::fromLatin1(v.data.toHex());
}

QString keyLabel(reg::Hive hive, const QString& path) {
    return path.isEmpty() ? reg::hiveName(hive) : reg::hiveName(hive) + QLatin1Char('\\') + path;
}

int runGet(reg::Hive hive, const QStringList& args) {
    const auto key = reg::Key::open(hive, args[1]);
    if (!key) {
        err(QStringLiteral("lybtool reg: no key %1").arg(keyLabel(hive, args[1])));
        return kMissing;
    }
    if (args.size() == 3) {
        const auto value = key->read(args[2]);
        if (!value) {
            err(QStringLiteral("lybtool reg: no value \"%1\" in %2")
                    .arg(args[2], keyLabel(hive, key->path())));
            return kMissing;
        }
        out(shownData(*value));
        return 0;
    }
    // The whole key: its values as NAME TYPE DATA, then its subkeys' names.
    for (const reg::Value& v : key->values()) {
        out(QStringLiteral("%1\t%2\t%3")
                .arg(v.name.isEmpty() ? QStringLiteral("@") : v.name, reg::typeName(v.type),
                     shownData(v)));
    }
    for (const QString& sub : key->subkeys())
        out(sub + QLatin1Char('\\'));
    return 0;
}

int runSet(reg::Hive hive, const QStringList& args) {
    const auto type = reg::parseType(args[3]);
    if (!type)
        return usage(QStringLiteral("unknown type \"%1\"").arg(args[3]));
    QString why;
    const auto data = lyb::tool::encodeRegData(*type, args[4], &why);
    if (!data)
        return usage(why);
    const auto key = reg::Key::create(hive, args[1]);
    if (!key || !key->write(reg::Value{args[2], *type, *data})) {
        err(QStringLiteral("lybtool reg: cannot write to %1 (the registry cannot be written)")
                .arg(reg::databasePath()));
        return kMissing;
    }
    return 0;
}

int runDelete(reg::Hive hive, const QStringList& args) {
    const auto key = reg::Key::open(hive, args[1]);
    if (!key) {
        err(QStringLiteral("lybtool reg: no key %1").arg(keyLabel(hive, args[1])));
        return kMissing;
    }
    if (args.size() == 3) {
        if (!key->deleteValue(args[2])) {
            err(QStringLiteral("lybtool reg: no value \"%1\" in %2")
                    .arg(args[2], keyLabel(hive, key->path())));
            return kMissing;
        }
        return 0;
    }
    if (key->path().isEmpty())
        return usage(QStringLiteral("a hive cannot be deleted"));
    if (!key->subkeys().isEmpty()) {
        err(QStringLiteral("lybtool reg: %1 has subkeys; delete them first")
                .arg(keyLabel(hive, key->path())));
        return kMissing;
    }
    if (!reg::Key::remove(hive, key->path())) {
        err(QStringLiteral("lybtool reg: cannot delete %1").arg(keyLabel(hive, key->path())));
        return kMissing;
    }
    return 0;
}

int runReg(const QStringList& args) {
    if (args.isEmpty())
        return usage(QStringLiteral("missing action"));
    const QString action = args[0];
    if (action == QLatin1String("export")) {
        if (args.size() != 1)
            return usage(QStringLiteral("export takes no arguments"));
        QString text = reg::exportText();
        if (text.endsWith(QLatin1Char('\n')))
            text.chop(1);
        if (!text.isEmpty())
            out(text);
        return 0;
    }
    const QStringList rest = args.mid(1);
    const bool get = action == QLatin1String("get");
    const bool set = action == QLatin1String("set");
    const bool del = action == QLatin1String("delete");
    if (!get && !set && !del)
        return usage(QStringLiteral("unknown action \"%1\"").arg(action));
    if (set ? rest.size() != 5 : (rest.size() < 2 || rest.size() > 3)) {
        return usage(QStringLiteral("wrong number of arguments for %1").arg(action));
    }
    const auto hive = reg::parseHive(rest[0]);
    if (!hive)
        return usage(QStringLiteral("unknown hive \"%1\"").arg(rest[0]));
    if (get)
        return runGet(*hive, rest);
    if (set)
        return runSet(*hive, rest);
    return runDelete(*hive, rest);
}

const lyb::tool::Registration registration{
    {"reg", kUsageText, "read, write, delete or list registry values", runReg}};

}  // namespace
