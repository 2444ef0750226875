// The two derived forms of a caller number: the display form that the list
// and the playback screen show, and the dialable form that Call Back offers.
// Both work on the text as stored, character by character (a "+" counts).
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

// Groups the characters by the text's length: up to 5 unchanged; 6 XX.XXXX;
// 7 XXX.XXXX; 8 X.XXX.XXXX; 9 XX.XXX.XXXX; 10 XXX.XXX.XXXX; 11 a "+" and
// X.XXX.XXX.XXXX (also when the text starts with "+"); 12 or more: all but the
// last 7, a blank, XXX.XXXX.
QString format_for_display(const QString& number);

}  // namespace lyb::contacts
