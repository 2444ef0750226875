#include <gtest/gtest.h>

#include <QFont>
#include <QFontMetrics>
#include <QLocale>

#include <ctime>

#include "ui/row_texts.h"

using lyb::ui::date_texts;
using lyb::ui::shorten_to_width;

namespace {

// Puts the process in a time zone for one test.
class TimeZone {
public:
    explicit TimeZone(const char* zone)
        : before_(qgetenv("TZ")), had_(qEnvironmentVariableIsSet("TZ")) {
        qputenv("TZ", zone);
        tzset();
    }
    ~TimeZone() {
        if (had_)
            qputenv("TZ", before_);
        else
            qunsetenv("TZ");
        tzset();
    }

private:
    QByteArray before_;
    bool had_;
};

QDateTime local(int y, int m, int d, int h, int min) {
    return QDateTime(QDate(y, m, d), QTime(h, min));
}

QString weekday(const QDate& d) {
    return QLocale::system().dayName(d.dayOfWeek(), QLocale::LongFormat);
}

}  // namespace

// Each case: a zone, now, the received local time (or a raw t), and the day
// text expected.
TEST(RowTexts, DayTextFollowsTheCalendarRulesInBothZones) {
    struct Case {
        const char* zone;
        QDateTime now, received;
        QString day;
    };
    const QDateTime now = local(2026, 6, 17, 15, 0);  // a Wednesday
    const QString shortDate = QLocale::system().toString(QDate(2026, 6, 10), QLocale::ShortFormat);
    for (const char* zone : {"Europe/Berlin", "America/New_York"}) {
        TimeZone tz(zone);
        const Case cases[] = {
            {zone, now, local(2026, 6, 17, 0, 1), "Today"},
            {zone, now, local(2026, 6, 16, 0, 1), "Yesterday"},
            {zone, now, local(2026, 6, 16, 23, 59), "Yesterday"},
            {zone, now, local(2026, 6, 18, 9, 0), "Yesterday"},  // tomorrow: the clock is behind
            {zone, now, local(2026, 6, 11, 9, 0), weekday(QDate(2026, 6, 11))},  // six days ago
            {zone, now, local(2026, 6, 10, 9, 0), shortDate},                    // seven days ago
            {zone, now, local(2026, 6, 15, 9, 0), weekday(QDate(2026, 6, 15))},
        };
        for (const Case& c : cases) {
            const auto texts = date_texts(c.received.toSecsSinceEpoch(), c.now);
            EXPECT_EQ(texts.day, c.day) << zone << " " << c.received.toString().toStdString();
            EXPECT_EQ(texts.time, lyb::ui::time_text(c.received.time()));
            EXPECT_EQ(texts.today, c.day == "Today");
        }
    }
    // The day after the clocks go back is an hour longer (d = 86400): the
    // day before shows its weekday; after they go forward (d = 79200) it is
    // "Yesterday".
    struct Change {
        const char* zone;
        QDate back, forward;
    } changes[] = {{"Europe/Berlin", QDate(2026, 10, 25), QDate(2026, 3, 29)},
                   {"America/New_York", QDate(2026, 11, 1), QDate(2026, 3, 8)}};
    for (const Change& c : changes) {
        TimeZone tz(c.zone);
        const QDate before = c.back.addDays(-1);
        EXPECT_EQ(date_texts(QDateTime(before, QTime(20, 0)).toSecsSinceEpoch(),
                             QDateTime(c.back, QTime(12, 0)))
                      .day,
                  weekday(before))
            << c.zone;
        EXPECT_EQ(date_texts(QDateTime(c.forward.addDays(-1), QTime(20, 0)).toSecsSinceEpoch(),
                             QDateTime(c.forward, QTime(12, 0)))
                      .day,
                  "Yesterday")
            << c.zone;
    }
    EXPECT_FALSE(lyb::ui::time_text(QTime(8, 5, 42)).contains("42"));
    EXPECT_TRUE(lyb::ui::time_text(QTime(8, 5, 42)).contains("05"));
    for (int64_t t : {0, -1, -86400}) {
        const auto texts = date_texts(t, now);
        EXPECT_EQ(texts.day, "n/a");
        EXPECT_EQ(texts.time, "n/a");
    }
}

TEST(RowTexts, ShorteningKeepsTheLongestPrefixThatFitsWithDots) {
    const QFontMetrics m{QFont()};
    const QString name = QStringLiteral("Bartholomew Fitzgerald-Montgomery");
    const int full = m.horizontalAdvance(name);
    const int dots = m.horizontalAdvance(QStringLiteral("..."));
    EXPECT_EQ(shorten_to_width(name, m, full), name);
    for (int width : {full - 1, full / 2, dots + 1, dots, dots - 1, 0, -5}) {
        const QString s = shorten_to_width(name, m, width);
        ASSERT_TRUE(s.endsWith("...")) << width;
        const QString kept = s.chopped(3);
        EXPECT_TRUE(name.startsWith(kept));
        if (!kept.isEmpty()) {
            EXPECT_LE(m.horizontalAdvance(s), width);
        }
        // One more character would not fit.
        if (kept.size() < name.size()) {
            EXPECT_GT(m.horizontalAdvance(name.left(kept.size() + 1) + "..."), width) << width;
        }
    }
    EXPECT_EQ(shorten_to_width(name, m, dots - 1), "...");
    EXPECT_EQ(lyb::ui::duration_text(-1), "n/a");
    EXPECT_EQ(lyb::ui::duration_text(0), "00:00");
    EXPECT_EQ(lyb::ui::duration_text(6001), "100:01");
}
