// The ui library's own access to the program's settings key
// (HKCU "Software\Corvendale\Lyrabell\Lyrabell"): the list's display mode and
// font size, and whether the tips have been shown.
#pragma once

#include <QString>

namespace lyb::ui {

// Returns the DWORD value `name`, or defaultValue when it is missing, not a
// DWORD, unreadable or above highest.
int read_setting(const QString& name, int defaultValue, int highest);
// Writes the DWORD value `name`, creating the key as needed; false when the
// registry cannot be written.
bool write_setting(const QString& name, int value);

}  // namespace lyb::ui
