// The main window's speed: from a tap on a row to the first sample reaching
// the capture device, per recording format (every wave encoding, raw GSM,
// and MP3 and Ogg Vorbis when the ffmpeg program can make them); the processor time of the whole
// process while a 60 s voicemail plays from the list on the null device; and Refresh of an Inbox of
// 1,000 voicemails, from the command to the list shown again; and the
// launcher's round trip to this running window (from starting lyblauncher
// with a file until it has ended), while the window is idle, while it waits
// in its "Decoding..." wait and while it shows a message box.
//
// Usage (each in a world of its own, for example through tests/run-isolated;
// launcher needs a session bus: tests/run-isolated --dbus):
//   bench_main_window first-sound | cpu [SECONDS] | refresh [COUNT] | launcher [RUNS]
#include "app/engine_playback.h"
#include "app/main_dialog.h"
#include "app/settings.h"
#include "bench/audio/bench_recordings.h"
#include "bench/store/bench_inbox.h"
#include "platform/desktop/desktop.h"
#include "platform/names/names.h"
#include "store/message_store.h"
#include "tests/app/recording_playback.h"
#include "tests/platform/mapi/maildir_fixture.h"
#include "ui/voicemail_list.h"

#include <QApplication>
#include <QDBusConnection>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QProcess>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <utility>
#include <vector>

using namespace lyb::app;

namespace {

QString folder() {
    const QByteArray tmp = qgetenv("TMPDIR");
    const QString dir =
        QString::fromLocal8Bit(tmp.isEmpty() ? "/tmp" : tmp) + QStringLiteral("/bench-main-window");
    QDir(dir).removeRecursively();
    QDir().mkpath(dir);
    return dir;
}

// Points the accounts at a Maildir of its own and names it in the settings.
QString account(const QString& dir) {
    const QString root = dir + QStringLiteral("/Maildir");
    for (const char* sub : {"cur", "new", "tmp"})
        QDir().mkpath(root + "/" + sub);
    QFile accounts(dir + QStringLiteral("/accounts.conf"));
    accounts.open(QIODevice::WriteOnly);
    accounts.write("Bench = " + root.toUtf8() + "\n");
    qputenv("LYRABELL_ACCOUNTS", QFile::encodeName(accounts.fileName()));
    qputenv("LYRABELL_CONTACTS", QFile::encodeName(dir + QStringLiteral("/contacts")));
    lyb::settings::setMessageStore(QStringLiteral("Bench"));
    lyb::settings::setTips(1);
    lyb::settings::setUsingOutlook(1);
    return root;
}

struct Window {
    explicit Window() {
        lyb::store::logon(session);
        dialog.setSession(&session);
        dialog.setPlayback(std::make_unique<CEnginePlayback>(std::function<void()>(), nullptr));
        dialog.show();
        dialog.initialise();
    }
    void tapFirstRow() {
        lyb::ui::CVoiceMailList* list = dialog.list();
        const QRect row = list->visualRect(list->model()->index(0, 0));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, row.center());
    }
    lyb::store::CMapiSession session;
    CMainDialog dialog{nullptr, 0};
};

// A recording made with the ffmpeg program from a wave file, as a file's
// bytes; empty when the program or its encoder is missing.
QByteArray ffmpegRecording(const QString& dir, const QByteArray& wave, const char* suffix,
                           const char* codec) {
    const QString in = dir + QStringLiteral("/source.wav");
    const QString out = dir + QStringLiteral("/made") + QLatin1String(suffix);
    QFile source(in);
    if (!source.open(QIODevice::WriteOnly) || source.write(wave) != wave.size())
        return {};
    source.close();
    QProcess ffmpeg;
    ffmpeg.start(QStringLiteral("ffmpeg"),
                 {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-y"),
                  QStringLiteral("-i"), in, QStringLiteral("-c:a"), QLatin1String(codec), out});
    if (!ffmpeg.waitForFinished(60000) || ffmpeg.exitCode() != 0)
        return {};
    QFile made(out);
    return made.open(QIODevice::ReadOnly) ? made.readAll() : QByteArray();
}

struct Format {
    QString name;
    QByteArray fileName;
    QByteArray mimeType;
    QByteArray bytes;
};

std::vector<Format> formats(const QString& dir) {
    constexpr uint32_t kSeconds = 30;
    std::vector<Format> all;
    for (const lyb::bench::BenchEncoding& e : lyb::bench::BenchEncodings()) {
        const std::vector<uint8_t> bytes = lyb::bench::BenchRecording(e, kSeconds);
        all.push_back({QString::fromLatin1(e.name), QByteArray("message") + e.suffix(),
                       e.tag == 0 ? "audio/x-gsm" : "audio/wav",
                       QByteArray(reinterpret_cast<const char*>(bytes.data()),
                                  static_cast<qsizetype>(bytes.size()))});
    }
    const QByteArray pcm = lyb::testing::pcmWave(kSeconds);
    const std::pair<const char*, const char*> made[][2] = {
        {{"MP3", ".mp3"}, {"libmp3lame", "audio/mpeg"}},
        {{"Ogg Vorbis", ".ogg"}, {"libvorbis", "audio/ogg"}},
    };
    for (const auto& m : made) {
        const QByteArray bytes = ffmpegRecording(dir, pcm, m[0].second, m[1].first);
        if (bytes.isEmpty())
            std::printf("%s: not made (no ffmpeg or encoder)\n", m[0].first);
        else
            all.push_back({QString::fromLatin1(m[0].first), QByteArray("message") + m[0].second,
                           m[1].second, bytes});
    }
    return all;
}

// Per format, 20 taps on a voicemail with that recording, each from the tap
// to the first sample reaching the capture device; median and 95th
// percentile.
int firstSound() {
    constexpr int kTaps = 20;
    const QString dir = folder();
    const QString capture = dir + QStringLiteral("/capture.wav");
    setenv("LYRABELL_AUDIO", ("capture:" + capture).toLocal8Bit().constData(), 1);
    const QString root = account(dir);
    const QString message = root + QStringLiteral("/new/1.M1P1.bench");
    int failures = 0;
    std::printf("tap to first sample on the capture device, %d taps each:\n", kTaps);
    for (const Format& format : formats(dir)) {
        {
            QFile f(message);
            f.open(QIODevice::WriteOnly);
            f.write(lyb::bench::mail(0, format.fileName, format.mimeType, format.bytes));
        }
        Window w;
        std::vector<double> taps;
        for (int tap = 0; tap < kTaps; ++tap) {
            w.dialog.runCommand(ID_DONE);
            (void)QTest::qWaitFor([&] { return !w.dialog.playback()->hasPlayer(); }, 5000);
            QFile::remove(capture);
            QElapsedTimer clock;
            qint64 firstSample = -1;
            QTimer probe;
            probe.setTimerType(Qt::PreciseTimer);
            QObject::connect(&probe, &QTimer::timeout, [&] {
                if (firstSample < 0 && QFileInfo(capture).size() > 44)
                    firstSample = clock.elapsed();
            });
            probe.start(1);
            clock.start();
            w.tapFirstRow();
            (void)QTest::qWaitFor([&] { return firstSample >= 0; }, 10000);
            if (firstSample < 0) {
                ++failures;
                continue;
            }
            taps.push_back(static_cast<double>(firstSample));
        }
        w.dialog.runCommand(ID_DONE);
        std::printf("  %-16s median %4.0f ms, 95th percentile %4.0f ms (%zu of %d taps sounded)\n",
                    qPrintable(format.name), lyb::bench::Percentile(taps, 0.5),
                    lyb::bench::Percentile(taps, 0.95), taps.size(), kTaps);
    }
    return failures == 0 ? 0 : 1;
}

int cpu(int seconds) {
    const QString dir = folder();
    setenv("LYRABELL_AUDIO", "null", 1);
    const QString root = account(dir);
    {
        QFile f(root + QStringLiteral("/new/1.M1P1.bench"));
        f.open(QIODevice::WriteOnly);
        f.write(lyb::bench::mail(0, "message.wav", "audio/wav", lyb::testing::pcmWave(seconds)));
    }
    Window w;
    w.tapFirstRow();
    (void)QTest::qWaitFor([&] { return w.dialog.playback()->hasPlayer(); }, 10000);
    const double cpuStart = lyb::bench::cpuSeconds();
    QElapsedTimer clock;
    clock.start();
    // Waited for in the event loop, looked at once a second: QTest::qWaitFor
    // would wake the program every 10 ms and be most of what is measured.
    QEventLoop loop;
    QTimer look;
    QObject::connect(&look, &QTimer::timeout, [&] {
        if (!w.dialog.playback()->hasPlayer() || clock.elapsed() > (seconds + 30) * 1000)
            loop.quit();
    });
    look.start(1000);
    loop.exec();
    const double cpuUsed = lyb::bench::cpuSeconds() - cpuStart;
    const double wall = clock.elapsed() / 1000.0;
    std::printf(
        "playing %d s from the list (null device): %.2f s of processor in %.1f s = %.2f %%\n",
        seconds, cpuUsed, wall, 100.0 * cpuUsed / wall);
    return 0;
}

int refresh(int count) {
    const QString dir = folder();
    setenv("LYRABELL_AUDIO", "null", 1);
    lyb::bench::makeInbox(account(dir), count);
    Window w;
    double best = 1e9;
    for (int run = 0; run < 3; ++run) {
        QElapsedTimer clock;
        clock.start();
        w.dialog.runCommand(ID_REFRESH);
        QApplication::processEvents();  // the list painted again
        best = std::min(best, clock.nsecsElapsed() / 1e6);
    }
    std::printf("Refresh of %d voicemails: %.0f ms (best of 3), %d rows\n", count, best,
                w.dialog.list()->row_count());
    return 0;
}

// One launcher run handing a file to this process's window: its wall time
// in milliseconds (-1 when it did not end in time), and whether the window
// was still busy when it ended.
struct Trip {
    double ms = -1;
    bool whileBusy = false;
};

Trip launcherTrip(CMainDialog& dialog, int run) {
    QProcess launcher;
    QElapsedTimer clock;
    clock.start();
    launcher.start(QCoreApplication::applicationDirPath() + QStringLiteral("/lyblauncher"),
                   {QStringLiteral("/calls/bench-%1.wav").arg(run)});
    Trip trip;
    if (QTest::qWaitFor([&] { return launcher.state() == QProcess::NotRunning; }, 10000)) {
        trip.ms = clock.nsecsElapsed() / 1e6;
        trip.whileBusy = dialog.busy();
    }
    return trip;
}

void reportTrips(const char* what, const std::vector<Trip>& trips, int runs) {
    std::vector<double> ms;
    int busy = 0;
    for (const Trip& t : trips) {
        if (t.ms >= 0)
            ms.push_back(t.ms);
        busy += t.whileBusy ? 1 : 0;
    }
    const double max = ms.empty() ? 0 : *std::max_element(ms.begin(), ms.end());
    std::printf("  %-18s median %5.1f ms, max %5.1f ms (%zu of %d ended, %d while busy)\n", what,
                lyb::bench::Percentile(ms, 0.5), max, ms.size(), runs, busy);
}

// The launcher's round trip: runs trips each while the window is idle, in
// its decoding wait (an engine that never says its first block is written,
// so the wait lasts its whole head start; each trip's file is decoded next
// and hosts the next trip) and while a message box is up.
int launcherRoundTrip(int runs) {
    if (!QDBusConnection::sessionBus().isConnected()) {
        std::fprintf(stderr, "launcher: no session bus (run under tests/run-isolated --dbus)\n");
        return 2;
    }
    const QString dir = folder();
    setenv("LYRABELL_AUDIO", "null", 1);
    account(dir);
    auto log = std::make_shared<PlaybackLog>();
    CMainDialog dialog(nullptr, lyb::desktop::registerWindowMessage(
                                    QString::fromLatin1(lyb::names::kPlayMessage)));
    dialog.setPlayback(std::make_unique<CRecordingPlayback>(log));
    dialog.setHeadStart(0);
    dialog.show();
    dialog.initialise();
    std::printf("launcher round trip to a running Lyrabell, %d runs each:\n", runs);

    std::vector<Trip> idle;
    for (int run = 0; run < runs; ++run) {
        idle.push_back(launcherTrip(dialog, run));
        QApplication::processEvents();
    }
    reportTrips("idle", idle, runs);

    // Decoding: every handed-over file waits 800 ms in "Decoding...", and
    // the next trip runs inside that wait.
    constexpr int kDecodingWaitMs = 800;
    std::vector<Trip> decoding;
    dialog.setHeadStart(kDecodingWaitMs);
    log->onDecode = [&] {
        if (static_cast<int>(decoding.size()) >= runs)
            return;
        QTimer::singleShot(0, [&] { decoding.push_back(launcherTrip(dialog, runs + 1)); });
    };
    dialog.dispatch(QStringLiteral("/calls/bench-start.wav"));
    (void)QTest::qWaitFor(
        [&] { return static_cast<int>(decoding.size()) >= runs && !dialog.busy(); },
        runs * (kDecodingWaitMs + 10000));
    log->onDecode = {};
    dialog.setHeadStart(0);
    reportTrips("decoding", decoding, runs);

    // A message box: every trip runs while it is up.
    std::vector<Trip> box;
    QTimer::singleShot(0, [&] {
        QTimer::singleShot(0, [&] {
            for (int run = 0; run < runs; ++run)
                box.push_back(launcherTrip(dialog, 2 * runs + run));
            if (QWidget* shown = QApplication::activeModalWidget())
                shown->close();
        });
        dialog.showMessage(QStringLiteral("A box of the benchmark."), lyb::app::MessageIcon::None);
    });
    (void)QTest::qWaitFor([&] { return static_cast<int>(box.size()) >= runs && !dialog.busy(); },
                          runs * 10000);
    reportTrips("message box", box, runs);
    dialog.close_playback();
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    const QString mode = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
    const int number = argc > 2 ? std::atoi(argv[2]) : 0;
    if (mode == QLatin1String("first-sound"))
        return firstSound();
    if (mode == QLatin1String("cpu"))
        return cpu(number > 0 ? number : 60);
    if (mode == QLatin1String("refresh"))
        return refresh(number > 0 ? number : 1000);
    if (mode == QLatin1String("launcher"))
        return launcherRoundTrip(number > 0 ? number : 20);
    std::fprintf(stderr,
                 "usage: bench_main_window first-sound | cpu [SECONDS] | refresh [COUNT] | "
                 "launcher [RUNS]\n");
    return 2;
}
