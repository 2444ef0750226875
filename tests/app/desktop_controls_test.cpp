// The main window as the desktop sees it while it plays: its media controls
// driven by playerctl, and the session kept awake, both on the test's own
// session bus, with two voicemails of a Maildir account played for real on
// the clock-driven sound device.
#include "app/engine_playback.h"
#include "app/main_dialog.h"
#include "store/message_store.h"
#include "tests/app/qstring_print.h"
#include "tests/app/voicemail_account.h"
#include "tests/platform/waveout/wave_files.h"
#include "ui/row_texts.h"
#include "ui/seek_slider.h"
#include "ui/voicemail_list.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVirtualObject>
#include <QDateTime>
#include <QImage>
#include <QMutex>
#include <QProcess>
#include <QTest>
#include <QThread>
#include <QTimeZone>
#include <QUrl>

#include <gtest/gtest.h>

using namespace lyb::app;
using namespace lyb::testing;

namespace {

// The desktop's idle service, on a bus connection of its own and answering
// from a thread of its own: the portal's Inhibit with its requests, or the
// screen saver's Inhibit with its cookies. Records "Inhibit" for each hold
// of idle and "UnInhibit" for each release of the hold it last gave.
class IdleStandIn final : public QDBusVirtualObject {
public:
    enum Kind { Portal, ScreenSaver };

    explicit IdleStandIn(Kind kind)
        : kind_(kind),
          bus_(QDBusConnection::connectToBus(QDBusConnection::SessionBus,
                                             QStringLiteral("idle-stand-in"))) {
        bus_.registerVirtualObject(QStringLiteral("/org/freedesktop"), this,
                                   QDBusConnection::SubPath);
        bus_.registerService(kind == Portal ? QStringLiteral("org.freedesktop.portal.Desktop")
                                            : QStringLiteral("org.freedesktop.ScreenSaver"));
        moveToThread(&thread_);
        thread_.start();
    }
    ~IdleStandIn() override {
        bus_.unregisterObject(QStringLiteral("/org/freedesktop"));
        QDBusConnection::disconnectFromBus(QStringLiteral("idle-stand-in"));
        thread_.quit();
        thread_.wait();
    }

    QStringList log() const {
        const QMutexLocker lock(&mutex_);
        return log_;
    }

    QString introspect(const QString&) const override { return QString(); }

    bool handleMessage(const QDBusMessage& call, const QDBusConnection& bus) override {
        const QMutexLocker lock(&mutex_);
        const QString method = call.interface() + QLatin1Char('.') + call.member();
        QDBusMessage reply;
        if (kind_ == Portal && method == QLatin1String("org.freedesktop.portal.Inhibit.Inhibit")) {
            log_ << (call.arguments().value(1).toUInt() == 8 ? QStringLiteral("Inhibit")
                                                             : QStringLiteral("Inhibit not idle"));
            held_ = QStringLiteral("/org/freedesktop/portal/desktop/request/1/t%1").arg(++serial_);
            reply = call.createReply(QVariant::fromValue(QDBusObjectPath(held_)));
        } else if (kind_ == Portal &&
                   method == QLatin1String("org.freedesktop.portal.Request.Close")) {
            log_ << (call.path() == held_ ? QStringLiteral("UnInhibit")
                                          : QStringLiteral("Close of ") + call.path());
            reply = call.createReply();
        } else if (kind_ == ScreenSaver &&
                   method == QLatin1String("org.freedesktop.ScreenSaver.Inhibit")) {
            log_ << QStringLiteral("Inhibit");
            held_ = QString::number(++serial_);
            reply = call.createReply(QVariant::fromValue(uint(serial_)));
        } else if (kind_ == ScreenSaver &&
                   method == QLatin1String("org.freedesktop.ScreenSaver.UnInhibit")) {
            const QString cookie = QString::number(call.arguments().value(0).toUInt());
            log_ << (cookie == held_ ? QStringLiteral("UnInhibit")
                                     : QStringLiteral("UnInhibit ") + cookie);
            reply = call.createReply();
        } else {
            return false;
        }
        bus.send(reply);
        return true;
    }

private:
    const Kind kind_;
    QThread thread_;
    QDBusConnection bus_;
    mutable QMutex mutex_;
    QStringList log_;
    QString held_;
    int serial_ = 0;
};

// Runs playerctl on Lyrabell's player while the window answers it; its output.
QString playerctl(const QStringList& arguments) {
    QProcess process;
    process.start(QStringLiteral("playerctl"),
                  QStringList{QStringLiteral("-p"), QStringLiteral("lyrabell")} + arguments);
    if (!QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, 10000)) {
        process.kill();
        process.waitForFinished();
    }
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

// Asks playerctl until it answers expected; the last answer.
QString awaitAnswer(const QStringList& query, const QString& expected) {
    QString answer;
    for (int attempt = 0; attempt < 200 && answer != expected; ++attempt) {
        if (attempt > 0)
            QTest::qWait(50);
        answer = playerctl(query);
    }
    return answer;
}

qint64 at(int day, int hour, int minute) {
    return QDateTime(QDate(2026, 12, day), QTime(hour, minute), QTimeZone::utc())
        .toSecsSinceEpoch();
}

class DesktopControls : public ::testing::Test {
protected:
    void SetUp() override {
        useVoicemailAccount(md_);
        // Two voicemails of twenty seconds; the newer (the first row) from a
        // caller the contacts name.
        const std::vector<uint8_t> wave =
            ReadAll(WriteWave("voicemail.wav", 1, Pcm{1, 8000, 16}, NoiseBytes(320000, 7)));
        MailParts older = voicemailWith("Wed, 02 Dec 2026 08:15:00 +0000", wave);
        older.subject = "Voice Mail Message (5559876543)";
        older.textBody = "You have a new voice message.\r\nCaller ID: 555-987-6543\r\n";
        md_.deliver(voicemailMail(older));
        md_.deliver(voicemailMail(voicemailWith("Thu, 03 Dec 2026 09:30:00 +0000", wave)));
        ASSERT_TRUE(lyb::store::logon(session_));
    }

    std::unique_ptr<CMainDialog> openWindow() {
        auto window = std::make_unique<CMainDialog>(nullptr, 0);
        window->setSession(&session_);
        window->setNumberFormatter([](const QString& number) { return "tel " + number; });
        window->setPlayback(std::make_unique<CEnginePlayback>(std::function<void()>(), nullptr));
        window->show();
        window->initialise();
        if (window->list()->row_count() == 2)
            window->list()->record_at(0)->set_caller_name(QStringLiteral("Ada Lovelace"));
        return window;
    }

    MaildirFixture md_;
    lyb::store::CMapiSession session_;
};

QString dayAndTime(qint64 received) {
    const lyb::ui::CDateTexts texts = lyb::ui::date_texts(received, QDateTime::currentDateTime());
    return texts.day + QLatin1Char(' ') + texts.time;
}

TEST_F(DesktopControls, PlayerctlSeesAndDrivesThePlayer) {
    std::unique_ptr<CMainDialog> window = openWindow();
    ASSERT_EQ(window->list()->row_count(), 2);
    // What playerctl is told as it happens: the state (PropertiesChanged)
    // and the place after a seek (Seeked).
    QProcess followStatus, followPosition;
    for (auto [process, what] : {std::pair{&followStatus, "status"}, {&followPosition, "position"}})
        process->start(
            QStringLiteral("playerctl"),
            {QStringLiteral("-p"), QStringLiteral("lyrabell"), QStringLiteral("--follow"), what});

    struct Step {
        QStringList command;  // none: only the query
        QStringList query;
        QString expected;
    };
    const auto words = [](const char* text) { return QString::fromLatin1(text).split(' '); };
    const Step steps[] = {
        {{}, words("status"), "Stopped"},
        {{}, words("metadata mpris:trackid"), "'/org/mpris/MediaPlayer2/TrackList/NoTrack'"},
        // Play from the list: its selected row, the first.
        {words("play"), words("status"), "Playing"},
        {{}, words("metadata xesam:title"), "Ada Lovelace"},
        {{}, words("metadata xesam:artist"), "tel 5551234567"},
        {{}, words("metadata xesam:comment"), dayAndTime(at(3, 9, 30))},
        {{}, words("metadata mpris:length"), "20000000"},
        {words("play-pause"), words("status"), "Paused"},
        {words("position 3"), words("position"), "3.000000"},
        {words("play-pause"), words("status"), "Playing"},
        {words("next"), words("metadata xesam:title"), "Unknown caller"},
        {{}, words("metadata xesam:artist"), "tel 5559876543"},
        {{}, words("status"), "Playing"},
        {words("previous"), words("metadata xesam:title"), "Ada Lovelace"},
        {words("stop"), words("status"), "Stopped"},
    };
    int sliderAfterSeek = -1;
    QString icon;
    for (const Step& step : steps) {
        SCOPED_TRACE((step.command.join(' ') + " / " + step.query.join(' ')).toStdString());
        if (!step.command.isEmpty())
            playerctl(step.command);
        EXPECT_EQ(awaitAnswer(step.query, step.expected), step.expected);
        if (step.command == words("position 3"))
            sliderAfterSeek = window->slider()->position();
        if (step.query == words("metadata mpris:length"))
            icon = QUrl(playerctl(words("metadata mpris:artUrl"))).toLocalFile();
    }
    EXPECT_EQ(sliderAfterSeek, 300);  // the strip follows a seek made on the desktop
    EXPECT_FALSE(QImage(icon).isNull()) << icon.toStdString();
    // The window played the rows asked for and is back in its list.
    EXPECT_EQ(window->list()->current_row(), CMainDialog::kNoRow);
    EXPECT_EQ(window->list()->selection_mark(), 0);

    const auto told = [](QProcess& process) {
        process.terminate();
        process.waitForFinished();
        return QString::fromUtf8(process.readAllStandardOutput()).split('\n');
    };
    QStringList states = told(followStatus);
    QStringList expected{"Playing", "Paused", "Playing", "Stopped"};
    for (const QString& line : states)
        if (!expected.isEmpty() && line == expected.front())
            expected.removeFirst();
    EXPECT_TRUE(expected.isEmpty()) << states.join(',').toStdString();
    const QStringList places = told(followPosition);
    EXPECT_TRUE(places.contains(QStringLiteral("3.000000"))) << places.join(',').toStdString();
}

TEST_F(DesktopControls, IdleIsHeldOnlyWhilePlaying) {
    for (const IdleStandIn::Kind kind : {IdleStandIn::Portal, IdleStandIn::ScreenSaver}) {
        SCOPED_TRACE(kind == IdleStandIn::Portal ? "portal" : "screen saver");
        IdleStandIn standIn(kind);
        std::unique_ptr<CMainDialog> window = openWindow();
        ASSERT_EQ(window->list()->row_count(), 2);
        const auto logReaches = [&](const QStringList& expected) {
            (void)QTest::qWaitFor([&] { return standIn.log().size() >= expected.size(); }, 10000);
            return standIn.log() == expected;
        };
        const auto play = [&] {
            window->list()->select_row(0);
            window->play_selected();
            ASSERT_TRUE(window->playback()->hasPlayer());
        };
        QStringList expected;
        const auto hold = [&] { return expected << QStringLiteral("Inhibit"); };
        const auto release = [&] { return expected << QStringLiteral("UnInhibit"); };

        play();
        EXPECT_TRUE(logReaches(hold()));
        window->pause_player();
        EXPECT_TRUE(logReaches(release()));
        window->start_player(std::nullopt);
        EXPECT_TRUE(logReaches(hold()));
        // To the end: near it again whenever the length grows while the
        // recording is still being decoded (slow builds).
        auto length = window->player()->duration();
        window->player()->seek(length - 300);
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                if (!window->playback()->hasPlayer())
                    return true;
                if (const auto now = window->player()->duration(); now != length) {
                    length = now;
                    window->player()->seek(length - 300);
                }
                return false;
            },
            60000));
        EXPECT_TRUE(logReaches(release()));
        // Done.
        play();
        EXPECT_TRUE(logReaches(hold()));
        window->close_playback();
        EXPECT_TRUE(logReaches(release()));
        // The end of the program, while playing: released before it ends.
        play();
        EXPECT_TRUE(logReaches(hold()));
        window.reset();
        EXPECT_EQ(standIn.log(), release()) << standIn.log().join(',').toStdString();
    }
}

}  // namespace
