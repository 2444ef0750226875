#include "platform/pim/phone_match.h"

#include <QLocale>

#include <phonenumbers/phonenumberutil.h>

#include <algorithm>

namespace lyb::pim {

namespace {

using i18n::phonenumbers::PhoneNumber;
using i18n::phonenumbers::PhoneNumberUtil;

// No real number, with its separators, is longer. libphonenumber's parser
// takes time that grows with the square of a text's length, so a longer text
// (a corrupt or hostile TEL) is compared by its digits alone.
constexpr qsizetype kLongestNumber = 64;

bool knownRegion(const QString& code) {
    if (code.size() != 2)
        return false;
    return PhoneNumberUtil::GetInstance()->GetCountryCodeForRegion(code.toUpper().toStdString()) !=
           0;
}

// The number part of a text: without a "tel:" scheme and without what follows
// an extension mark.
QString withoutExtension(const QString& text) {
    QString t = text.trimmed();
    if (t.startsWith(QLatin1String("tel:"), Qt::CaseInsensitive))
        t = t.mid(4);
    bool seenDigit = false;
    for (qsizetype i = 0; i < t.size(); ++i) {
        const QChar c = t[i];
        if (c.isDigit()) {
            seenDigit = true;
        } else if (seenDigit && (c.isLetter() || c == QLatin1Char(';') || c == QLatin1Char(',') ||
                                 c == QLatin1Char('#'))) {
            return t.left(i);
        }
    }
    return t;
}

std::string digitsOf(const QString& text) {
    std::string d;
    for (QChar c : text) {
        if (c >= QLatin1Char('0') && c <= QLatin1Char('9'))
            d += char(c.unicode());
    }
    return d;
}

}  // namespace

QString defaultRegion() {
    const QString configured = qEnvironmentVariable("LYRABELL_REGION").trimmed();
    if (knownRegion(configured))
        return configured.toUpper();
    const QString fromLocale = QLocale::territoryToCode(QLocale::system().territory());
    if (knownRegion(fromLocale))
        return fromLocale.toUpper();
    return QStringLiteral("US");
}

PhoneIndex::PhoneIndex(QString region)
    : region_(std::move(region)), regionCode_(region_.toStdString()) {}

PhoneIndex::~PhoneIndex() = default;

std::string PhoneIndex::key(const QString& text) {
    const std::string digits = digitsOf(withoutExtension(text));
    return digits.size() > 7 ? digits.substr(digits.size() - 7) : digits;
}

std::vector<PhoneIndex::Reading> PhoneIndex::readings(const QString& text, Stage stage) const {
    auto* util = PhoneNumberUtil::GetInstance();
    const QString number = withoutExtension(text);
    const std::string digits = digitsOf(number);
    std::vector<Reading> out;
    PhoneNumber parsed;
    if (number.size() > kLongestNumber || util->Parse(number.toStdString(), regionCode_, &parsed) !=
                                              PhoneNumberUtil::NO_PARSING_ERROR) {
        if (stage != Stage::Alternative && !digits.empty())
            out.push_back({0, digits});
        return out;
    }
    if (stage != Stage::Alternative) {
        Reading r;
        r.countryCode = parsed.country_code();
        util->GetNationalSignificantNumber(parsed, &r.nsn);
        out.push_back(r);
    }
    if (stage == Stage::Primary)
        return out;
    const bool digitsOnly = !number.isEmpty() && digits.size() == size_t(number.size());
    if (digitsOnly && !util->IsValidNumber(parsed)) {
        PhoneNumber international;
        if (util->Parse("+" + digits, "ZZ", &international) == PhoneNumberUtil::NO_PARSING_ERROR &&
            util->IsValidNumber(international)) {
            Reading alt;
            alt.countryCode = international.country_code();
            util->GetNationalSignificantNumber(international, &alt.nsn);
            out.push_back(alt);
        }
    }
    return out;
}

void PhoneIndex::add(int owner, const QString& number) {
    std::string k = key(number);
    if (k.empty())
        return;
    entries_[std::move(k)].push_back(Entry{owner, number, false, {}});
}

std::vector<int> PhoneIndex::match(const QString& text) const {
    std::vector<int> owners;
    const auto found = entries_.find(key(text));
    if (found == entries_.end())
        return owners;
    std::lock_guard lock(mutex_);
    auto collect = [&](const std::vector<Reading>& wanted) {
        for (const Entry& e : found->second) {
            if (!e.read) {
                e.readings = readings(e.number, Stage::Both);
                e.read = true;
            }
            const bool hit = std::any_of(wanted.begin(), wanted.end(), [&](const Reading& w) {
                return std::find(e.readings.begin(), e.readings.end(), w) != e.readings.end();
            });
            if (hit && std::find(owners.begin(), owners.end(), e.owner) == owners.end())
                owners.push_back(e.owner);
        }
    };
    // The reading in the region first; the costlier check whether the digits
    // are a foreign number only when that finds nobody.
    collect(readings(text, Stage::Primary));
    if (owners.empty())
        collect(readings(text, Stage::Alternative));
    return owners;
}

bool PhoneIndex::same(const QString& a, const QString& b) const {
    if (key(a) != key(b))
        return false;
    const auto ra = readings(a, Stage::Both);
    const auto rb = readings(b, Stage::Both);
    return std::any_of(ra.begin(), ra.end(), [&](const Reading& r) {
        return std::find(rb.begin(), rb.end(), r) != rb.end();
    });
}

}  // namespace lyb::pim
