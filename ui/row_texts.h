// The texts of a voicemail row: the day and time of its received time, the
// recording's length and the shortening of a text to a width. Pure functions
// of their arguments (and of the local time zone and system locale).
#pragma once

#include <QDateTime>
#include <QFontMetrics>
#include <QLocale>
#include <QString>

#include <cstdint>

namespace lyb::ui {

struct CDateTexts {
    QString day;         // "Today", "Yesterday", a weekday, a short date or "n/a"
    QString time;        // the time of day without seconds, or "n/a"
    bool today = false;  // received on now's calendar day
};

// Returns the day and time texts of a received time t (seconds since 1970)
// seen at now, on local calendar dates: "Today" on now's date; otherwise with
// d = (now's date at 10:00) - (t's date at 11:00) in seconds, "Yesterday" for
// d < 86400 (so also every later day), the full weekday name for
// d < 518400, else the system locale's short date. A t of 0 or less gives
// "n/a" for both.
CDateTexts date_texts(int64_t t, const QDateTime& now);

// Returns the time of day in the system locale's short form, without seconds.
QString time_text(const QTime& time);
// The same in the given locale's short form.
QString time_text(const QTime& time, const QLocale& locale);

// Returns "mm:ss" of a length in seconds (minutes not limited to two digits),
// or "n/a" for a negative length.
QString duration_text(int32_t lengthSeconds);

// Returns text when it fits width, else its longest leading part that fits
// with "..." after it, or "..." alone when not even that fits.
QString shorten_to_width(const QString& text, const QFontMetrics& metrics, int width);

}  // namespace lyb::ui
