#include "contacts/number_forms.h"

#include <phonenumbers/phonenumberutil.h>

#include <optional>
#include <string>

#include "platform/names/names.h"
#include "platform/pim/phone_match.h"
#include "platform/registry/registry.h"

namespace lyb::contacts {

namespace {

using i18n::phonenumbers::PhoneNumber;
using i18n::phonenumbers::PhoneNumberUtil;

// E.164 allows 15 digits; three more leave room for an international prefix
// ("011"). Nothing longer is read, so junk never reaches the parser.
constexpr size_t kMostDigits = 18;

bool northAmericanRules() {
    const auto key =
        reg::Key::open(reg::Hive::CurrentUser, QString::fromLatin1(names::kSettingsKey));
    if (!key)
        return true;
    return key->readDword(QString::fromLatin1(names::kNanp)).value_or(1) != 0;
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

std::optional<PhoneNumber> validParse(const std::string& text, const std::string& region) {
    auto* util = PhoneNumberUtil::GetInstance();
    PhoneNumber parsed;
    if (util->Parse(text, region, &parsed) != PhoneNumberUtil::NO_PARSING_ERROR ||
        !util->IsValidNumber(parsed))
        return std::nullopt;
    return parsed;
}

// The number text names, by the rules in the header; nothing when it names none.
std::optional<PhoneNumber> readNumber(const QString& text, const QString& region) {
    std::string digits;
    bool plus = false;
    for (QChar c : text) {
        if (c >= QLatin1Char('0') && c <= QLatin1Char('9')) {
            digits += char(c.unicode());
        } else if (c == QLatin1Char('+')) {
            // A "+" after a digit, or a second one, is no telephone number.
            if (plus || !digits.empty())
                return std::nullopt;
            plus = true;
        }
    }
    if (digits.empty() || digits.size() > kMostDigits)
        return std::nullopt;
    if (plus)
        return validParse("+" + digits, "ZZ");
    if (digits.size() == 10 || (digits.size() == 11 && digits[0] == '1')) {
        if (auto nanp = validParse(digits, "US"))
            return nanp;
    }
    if (digits[0] == '0')
        return validParse(digits, region.toUpper().toStdString());
    if (digits.size() >= 11 && digits[0] != '1')
        return validParse("+" + digits, "ZZ");
    return std::nullopt;
}

// The form every text had before numbers were read: its characters grouped by
// its length. It stays for what is no number, so nothing shown so far changes.
QString groupedByLength(const QString& number) {
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

// Whether the digits of text begin with the country code "1" (as "+1...",
// "1..." or "011 1..." do) rather than with the area code.
bool startsWithCountryCode(const QString& text, const std::string& nsn) {
    QString digits;
    for (QChar c : text) {
        if (c >= QLatin1Char('0') && c <= QLatin1Char('9'))
            digits += c;
    }
    return !digits.startsWith(QString::fromStdString(nsn));
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
    return format_for_display(number, pim::defaultRegion());
}

QString format_for_display(const QString& number, const QString& region) {
    const std::optional<PhoneNumber> read = readNumber(number, region);
    if (!read)
        return groupedByLength(number);
    auto* util = PhoneNumberUtil::GetInstance();
    std::string nsn;
    util->GetNationalSignificantNumber(*read, &nsn);
    if (read->country_code() == 1 && nsn.size() == 10) {
        const QString digits = QString::fromStdString(nsn);
        return startsWithCountryCode(number, nsn)
                   ? fill(digits, QLatin1StringView("+1.XXX.XXX.XXXX"))
                   : fill(digits, QLatin1StringView("XXX.XXX.XXXX"));
    }
    const bool home =
        read->country_code() == util->GetCountryCodeForRegion(region.toUpper().toStdString());
    std::string shown;
    util->Format(*read, home ? PhoneNumberUtil::NATIONAL : PhoneNumberUtil::INTERNATIONAL, &shown);
    return QString::fromStdString(shown);
}

QString make_e164(const QString& number) {
    return make_e164(number, pim::defaultRegion());
}

QString make_e164(const QString& number, const QString& region) {
    const std::optional<PhoneNumber> read = readNumber(number, region);
    if (!read)
        return QString();
    std::string e164;
    PhoneNumberUtil::GetInstance()->Format(*read, PhoneNumberUtil::E164, &e164);
    return QString::fromStdString(e164);
}

}  // namespace lyb::contacts
