#include "tools/reg_data.h"

#include <QRegularExpression>

namespace lyb::tool {

std::optional<QByteArray> encodeRegData(reg::Type type, const QString& data, QString* why) {
    switch (type) {
        case reg::Type::Sz:
            return reg::encodeSz(data, true);
        case reg::Type::Dword: {
            bool ok = false;
            const bool hex = data.startsWith(QLatin1String("0x"), Qt::CaseInsensitive);
            const qulonglong n = hex ? data.mid(2).toULongLong(&ok, 16) : data.toULongLong(&ok, 10);
            // toULongLong accepts a sign and blanks; a number here is digits
            // only. Anchored to the whole text: "$" alone lets a final line
            // break through.
            static const QRegularExpression digits(
                QRegularExpression::anchoredPattern(QStringLiteral("0[xX][0-9a-fA-F]+|[0-9]+")));
            if (!ok || n > 0xffffffffULL || !digits.match(data).hasMatch()) {
                *why = QStringLiteral(
                           "REG_DWORD data \"%1\" is not a number from 0 to 4294967295 "
                           "(decimal or 0x hex)")
                           .arg(data);
                return std::nullopt;
            }
            QByteArray bytes(4, '\0');
            for (int i = 0; i < 4; ++i)
                bytes[i] = char((n >> (8 * i)) & 0xff);
            return bytes;
        }
        case reg::Type::Binary: {
            // fromHex skips what is not a hex digit, so the check takes the whole text.
            static const QRegularExpression hexPairs(
                QRegularExpression::anchoredPattern(QStringLiteral("([0-9a-fA-F]{2})*")));
            if (!hexPairs.match(data).hasMatch()) {
                *why = QStringLiteral(
                           "REG_BINARY data \"%1\" is not hex digits in pairs (like 0a1b2c)")
                           .arg(data);
                return std::nullopt;
            }
            return QByteArray::fromHex(data.toLatin1());
        }
    }
    *why = QStringLiteral("unknown type");
    return std::nullopt;
}

}  // namespace lyb::tool
