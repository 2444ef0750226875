// Telephone numbers compared as telephone numbers, with libphonenumber.
//
// Two texts name the same number when libphonenumber reads them, in the
// default region, as the same country calling code and national significant
// number (extensions are ignored): "+1 (415) 555-1234", "415.555.1234" and
// "14155551234" are one number in region US. A text of digits only that is no
// valid number of the region is also read as if it began with "+", so that
// the digits a voicemail carries for a foreign caller (442071234567) match
// "+44 20 7123 4567". A text libphonenumber cannot read at all, and a text
// longer than 64 characters (no real number is), matches only a text with the
// same digits.
//
// The default region: LYRABELL_REGION (two letters, e.g. "GB") when it names
// a region libphonenumber knows, else the country of the system locale
// (QLocale::system()), else "US".
//
// PhoneIndex keys every number by its last seven digits (all of them when it
// has fewer), taken before any extension, so that a look-up reads only the few
// numbers that share the key; those are compared as above, each read by
// libphonenumber at most once.
#pragma once

#include <QString>

#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

namespace lyb::pim {

QString defaultRegion();

class PhoneIndex {
public:
    explicit PhoneIndex(QString region);
    ~PhoneIndex();
    PhoneIndex(const PhoneIndex&) = delete;
    PhoneIndex& operator=(const PhoneIndex&) = delete;

    const QString& region() const { return region_; }

    // Adds one number of the owner (any int the caller chooses).
    void add(int owner, const QString& number);
    // Returns the owners with a number that names the same number as text,
    // in the order they were added, each once. Safe to call from several threads.
    std::vector<int> match(const QString& text) const;
    // True when the two texts name the same number.
    bool same(const QString& a, const QString& b) const;

private:
    struct Reading {
        int countryCode = 0;  // 0: not readable, nsn holds the digits
        std::string nsn;
        bool operator==(const Reading&) const = default;
    };
    struct Entry {
        int owner;
        QString number;
        mutable bool read = false;
        mutable std::vector<Reading> readings;
    };
    // Primary: the reading in the region; Alternative: digits read as an
    // international number (only for digits that are no valid number of the region).
    enum class Stage { Primary, Alternative, Both };
    std::vector<Reading> readings(const QString& text, Stage stage) const;
    static std::string key(const QString& text);

    QString region_;
    std::string regionCode_;
    mutable std::mutex mutex_;  // guards the readings that match() fills in
    std::unordered_map<std::string, std::vector<Entry>> entries_;
};

}  // namespace lyb::pim
