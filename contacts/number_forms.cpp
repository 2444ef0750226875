#include "contacts/number_forms.h"

#include <optional>

#include "platform/registry/registry.h"

namespace lyb::contacts {

namespace {

bool northAmericanRules() {
    const auto key = reg::Key::open(reg::Hive::CurrentUser,
                                    QStringLiteral("Software\\Corvendale\\Lyrabell\\Lyrabell"));
    if (!key)
        return true;
    return key->readDword(QStringLiteral("NANP")).value_or(1) != 0;
}

// Places the characters of text into pattern, where each 'X' takes the next one.
QString fill(const QString& text, QLatin1StringView pattern) {
    QString out;
    out.reserve(pattern.size());
    qsizetype next = 0;
    for (QChar p : pattern)
        out += p == QLatin1Char('X') ? text[next++] : p;
    return out;
}

}  // namespace

QString make_dialable(const QString& number) {
    return make_dialable(number, northAmericanRules());
}

QString make_dialable(const QString& number, bool northAmerican) {
    QString kept;
    for (QChar c : number) {
        if ((c >= QLatin1Char('0') && c <= QLatin1Char('9')) || c == QLatin1Char('+'))
            kept += c;
    }
    if (northAmerican && kept.size() >= 8 && kept[0] != QLatin1Char('+') &&
        kept[0] != QLatin1Char('1') && kept[0] != QLatin1Char('0'))
        return (kept.size() <= 10 ? QStringLiteral("1") : QStringLiteral("011")) + kept;
    return kept;
}

QString format_for_display(const QString& number) {
    switch (number.size()) {
        case 6:
            return fill(number, QLatin1StringView("XX.XXXX"));
        case 7:
            return fill(number, QLatin1StringView("XXX.XXXX"));
        case 8:
            return fill(number, QLatin1StringView("X.XXX.XXXX"));
        case 9:
            return fill(number, QLatin1StringView("XX.XXX.XXXX"));
        case 10:
            return fill(number, QLatin1StringView("XXX.XXX.XXXX"));
        case 11:
            return fill(number, QLatin1StringView("+X.XXX.XXX.XXXX"));
        default:
            break;
    }
    if (number.size() < 6)
        return number;
    const qsizetype head = number.size() - 7;
    return number.left(head) + QLatin1Char(' ') + number.mid(head, 3) + QLatin1Char('.') +
           number.right(4);
}

}  // namespace lyb::contacts
