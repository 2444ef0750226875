#include "ui/row_texts.h"

#include <QLocale>
#include <QRegularExpression>

namespace lyb::ui {

namespace {

const QString kNotAvailable = QStringLiteral("n/a");
const QString kEllipsis = QStringLiteral("...");

// The locale's short time format with the seconds (and the separator before
// them) taken out; some locales' short form carries seconds.
QString timeFormatWithoutSeconds(const QLocale& locale) {
    QString format = locale.timeFormat(QLocale::ShortFormat);
    format.remove(QRegularExpression(QStringLiteral("[^hHmaApPt ]?s+")));
    return format.trimmed();
}

}  // namespace

QString time_text(const QTime& time) {
    static const QString format = timeFormatWithoutSeconds(QLocale::system());
    return QLocale::system().toString(time, format);
}

QString time_text(const QTime& time, const QLocale& locale) {
    return locale.toString(time, timeFormatWithoutSeconds(locale));
}

CDateTexts date_texts(int64_t t, const QDateTime& now) {
    if (t <= 0)
        return {kNotAvailable, kNotAvailable, false};
    const QDateTime when = QDateTime::fromSecsSinceEpoch(t);  // local time
    const QDate day = when.date();
    const QDate today = now.toLocalTime().date();
    CDateTexts texts;
    texts.time = time_text(when.time());
    if (day == today) {
        texts.day = QStringLiteral("Today");
        texts.today = true;
        return texts;
    }
    // Local wall-clock times: across a clock change the day is an hour
    // longer or shorter, which moves d across the thresholds.
    const qint64 d = QDateTime(day, QTime(11, 0)).secsTo(QDateTime(today, QTime(10, 0)));
    if (d < 86400) {
        texts.day = QStringLiteral("Yesterday");
    } else if (d < 518400) {
        texts.day = QLocale::system().dayName(day.dayOfWeek(), QLocale::LongFormat);
    } else {
        texts.day = QLocale::system().toString(day, QLocale::ShortFormat);
    }
    return texts;
}

QString duration_text(int32_t lengthSeconds) {
    if (lengthSeconds < 0)
        return kNotAvailable;
    return QString::asprintf("%.2i:%.2i", lengthSeconds / 60, lengthSeconds % 60);
}

QString shorten_to_width(const QString& text, const QFontMetrics& metrics, int width) {
    if (metrics.horizontalAdvance(text) <= width)
        return text;
    // The longest leading part that fits with "..." after it; widths grow
    // with the length, so a binary search finds what cutting one character
    // at a time from the end would.
    qsizetype low = 0, high = text.size() - 1;
    while (low < high) {
        qsizetype mid = (low + high + 1) / 2;
        if (metrics.horizontalAdvance(text.left(mid) + kEllipsis) <= width) {
            low = mid;
        } else {
            high = mid - 1;
        }
    }
    if (low > 0 && text[low - 1].isHighSurrogate())
        --low;  // never half a character
    return text.left(low) + kEllipsis;
}

}  // namespace lyb::ui
