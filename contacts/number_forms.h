// The derived forms of a caller number: the display form that the list and
// the playback screen show, the dialable form that Call Back offers, and the
// E.164 form that a contact card keeps.
//
// A caller number arrives either as the notification wrote it ("+44 20 7946
// 0123") or as digits only ("442079460123"). The display and E.164 forms read
// it as a telephone number, with libphonenumber, when it is one of:
//  - a "+" and digits: the international number they give;
//  - 10 digits, or 11 that begin with "1", that make a valid North American
//    number;
//  - digits that begin with "0" and make a valid number of the region (read
//    with the region's trunk and international prefixes: "020 7946 0123" and
//    "00 44 20 7946 0123" in GB, "011 44 20 7946 0123" in US);
//  - 11 or more digits that begin with neither "0" nor "1" and make a valid
//    number when read after a "+" (those are the numbers Call Back dials with
//    "011" in front, so the two forms agree).
// Only the digits and "+" of the text count, a "+" only in front, and at
// most 18 digits (no real number has more, even after "011").
//
// The region is a two-letter code ("GB"); without one, pim::defaultRegion()
// (LYRABELL_REGION, else the locale's country, else "US").
#pragma once

#include <QString>

namespace lyb::contacts {

// Keeps the digits and "+" of number. With North American rules on, a kept
// text of at least 8 characters that starts with none of "+", "1", "0" gets
// "1" in front when it has at most 10 characters and "011" when it has more.
// Reads the setting "NANP" (HKCU Software\Corvendale\Lyrabell\Lyrabell,
// DWORD, default 1; 0 turns the rules off) at every call.
QString make_dialable(const QString& number);
// The same with the setting given.
QString make_dialable(const QString& number, bool northAmerican);

// A North American number keeps the dotted form: XXX.XXX.XXXX, and
// +1.XXX.XXX.XXXX when it was given with its country code. Any other number
// read as above is shown in the national format when its country calling code
// is the region's ("020 7946 0123" in GB), else in the international format
// ("+44 20 7946 0123").
//
// A text that is no such number keeps the form it always had, which groups
// the characters by the text's length: up to 5 unchanged; 6 XX.XXXX;
// 7 XXX.XXXX; 8 X.XXX.XXXX; 9 XX.XXX.XXXX; 10 XXX.XXX.XXXX; 11 a "+" and
// X.XXX.XXX.XXXX (also when the text starts with "+"); 12 or more: all but the
// last 7, a blank, XXX.XXXX.
QString format_for_display(const QString& number);
QString format_for_display(const QString& number, const QString& region);

// The E.164 form ("+442079460123") of a number read as above; empty when the
// text is no such number (a local number without its area code, junk).
QString make_e164(const QString& number);
QString make_e164(const QString& number, const QString& region);

}  // namespace lyb::contacts
