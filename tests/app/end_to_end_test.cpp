// Lyrabell and the launcher as real processes on the private session bus.
#include "app/main_dialog.h"
#include "app/settings.h"
#include "platform/desktop/desktop.h"
#include "platform/registry/registry.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "qstring_print.h"
#include "recording_playback.h"
#include "tests/fixtures/audio/wave_writer.h"
#include "tests/platform/waveout/wave_files.h"

#include <gtest/gtest.h>

#include <signal.h>

#include <csignal>
#include <functional>
#include <memory>
#include <optional>

namespace desktop = lyb::desktop;
namespace s = lyb::settings;

namespace {

constexpr int kTimeoutMs = 30000;

// The query message of Lyrabell's main window (wParam: 0 panel, 1 raise count,
// 2 hash of the info panel text); panel 0 is the list, 2 a local file, 3 a caller.
constexpr quint64 kQueryPanel = 0;
constexpr quint64 kQueryRaiseCount = 1;
constexpr quint64 kQueryPanelTextHash = 2;
constexpr qint64 kPanelList = 0;
constexpr qint64 kPanelLocalFile = 2;
constexpr qint64 kPanelCaller = 3;

QString program(const char* name) {
    return QFileInfo(QStringLiteral(LYB_BINARY_DIR "/bin/") + QString::fromLatin1(name))
        .canonicalFilePath();
}

std::optional<desktop::WindowInfo> lyrabellWindow() {
    const QString lyrabell = program("lyrabell");
    for (const desktop::WindowInfo& w : desktop::listWindows())
        if (w.role == QLatin1String("lyrabell.main") && w.programPath == lyrabell)
            return w;
    return std::nullopt;
}

qint64 query(const desktop::WindowHandle& window, quint64 what) {
    const uint32_t message = desktop::registerWindowMessage(QStringLiteral("LyrabellQuery"));
    return desktop::sendMessage(window, message, what, 0).value_or(-100);
}

// Writes a wave file of silence in the temporary folder, long enough to be
// still playing when the test looks (a missing file would stop Lyrabell at
// its error message); returns its path.
QString playableFile(const char* name) {
    using namespace lyb::testing;
    return QString::fromStdString(
        WriteWave(name, 1, Pcm{1, 8000, 16}, std::vector<uint8_t>(30 * 16000, 0)));
}

qint64 panelTextHash(const QString& text) {
    return static_cast<qint64>(qHash(text, 0));
}

bool finished(QProcess& p) {
    return QTest::qWaitFor([&] { return p.state() == QProcess::NotRunning; }, kTimeoutMs);
}

// A Lyrabell started by the test, closed through its window at the end.
class Running {
public:
    explicit Running(const QStringList& arguments = {}) {
        process_.start(program("lyrabell"), arguments);
        process_.waitForStarted();
        (void)QTest::qWaitFor([&] { return (window_ = lyrabellWindow()).has_value(); }, kTimeoutMs);
    }
    ~Running() {
        if (window_)
            desktop::sendMessage(window_->handle, 0x0010, 0, 0);  // WM_CLOSE
        if (!finished(process_))
            process_.kill();
        process_.waitForFinished();
    }
    const std::optional<desktop::WindowInfo>& window() const { return window_; }
    QProcess& process() { return process_; }

private:
    QProcess process_;
    std::optional<desktop::WindowInfo> window_;
};

int runToEnd(const char* name, const QStringList& arguments) {
    QProcess p;
    p.start(program(name), arguments);
    if (!p.waitForStarted() || !finished(p))
        return -1000;
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1001;
}

}  // namespace

// Lyrabell starts on the demo account with the tips seen, so no first-start
// settings dialog or tips screen waits.
struct DemoAccount final : ::testing::Environment {
    void SetUp() override {
        s::setMessageStore(QStringLiteral("Demo Voicemail"));
        s::setTips(1);
    }
};
const auto* const kDemoAccount = ::testing::AddGlobalTestEnvironment(new DemoAccount);

TEST(Lyrabell, StartWritesTheFileAssociationAndShutdownRemovesTheTemporaryFiles) {
    const QString folder = desktop::runtimeDir();
    const QStringList files = {folder + QStringLiteral("/lybtemp.wav"),
                               folder + QStringLiteral("/lyb.gsm"),
                               folder + QStringLiteral("/lyb.wav")};
    {
        Running lyrabell;
        ASSERT_TRUE(lyrabell.window());
        EXPECT_EQ(lyrabell.window()->caption, QStringLiteral("Lyrabell"));
        EXPECT_EQ(query(lyrabell.window()->handle, kQueryPanel), kPanelList);

        using lyb::reg::Hive;
        using lyb::reg::Key;
        const auto gsm = Key::open(Hive::ClassesRoot, QStringLiteral(".gsm"));
        ASSERT_TRUE(gsm);
        EXPECT_EQ(gsm->readString(QString()), QStringLiteral("wavFile"));
        const auto command =
            Key::open(Hive::ClassesRoot, QStringLiteral("wavfile\\shell\\open\\command"));
        ASSERT_TRUE(command);
        EXPECT_EQ(command->readString(QString()),
                  QStringLiteral("\"%1/lyblauncher\"%2")
                      .arg(QFileInfo(program("lyrabell")).absolutePath(), QStringLiteral("%1")));

        for (const QString& path : files) {
            QFile f(path);
            ASSERT_TRUE(f.open(QIODevice::WriteOnly)) << path.toStdString();
        }
    }
    for (const QString& path : files)
        EXPECT_FALSE(QFile::exists(path)) << path.toStdString();
}

// Ended at logout (SIGTERM) or by its terminal (SIGHUP), Lyrabell closes as
// when its window is closed: it returns from main and its files go.
TEST(Lyrabell, EndSignalsCloseItAsItsWindowDoes) {
    const QString file = desktop::runtimeDir() + QStringLiteral("/lybtemp.wav");
    for (const int signal : {SIGTERM, SIGHUP}) {
        SCOPED_TRACE(signal);
        Running lyrabell;
        ASSERT_TRUE(lyrabell.window());
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.close();
        ASSERT_EQ(::kill(pid_t(lyrabell.process().processId()), signal), 0);
        ASSERT_TRUE(finished(lyrabell.process()));
        EXPECT_EQ(lyrabell.process().exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(lyrabell.process().exitCode(), 0);
        EXPECT_FALSE(QFile::exists(file));
    }
}

TEST(Lyrabell, HelpAndVersionPrintAndEndWithoutAWindow) {
    for (const char* option : {"--help", "--version"}) {
        QProcess p;
        p.start(program("lyrabell"), {QString::fromLatin1(option)});
        ASSERT_TRUE(p.waitForStarted() && finished(p));
        EXPECT_EQ(p.exitCode(), 0) << option;
        EXPECT_TRUE(p.readAllStandardOutput().startsWith(option[2] == 'h' ? "Usage: lyrabell"
                                                                          : "lyrabell "))
            << option;
    }
    EXPECT_FALSE(lyrabellWindow());
}

TEST(Lyrabell, SecondInstanceBringsUpTheFirstHandsOverItsRequestAndEndsWithMinusOne) {
    Running first;
    ASSERT_TRUE(first.window());
    const desktop::WindowHandle window = first.window()->handle;

    EXPECT_EQ(runToEnd("lyrabell", {}), 255);
    EXPECT_EQ(query(window, kQueryRaiseCount), 1);
    EXPECT_EQ(query(window, kQueryPanel), kPanelList);

    const QString file = playableFile("from Ann.wav");
    EXPECT_EQ(runToEnd("lyrabell", {file.chopped(8), QStringLiteral("Ann.wav")}), 255);
    EXPECT_EQ(query(window, kQueryPanel), kPanelLocalFile);
    EXPECT_EQ(query(window, kQueryPanelTextHash),
              panelTextHash(QStringLiteral("\n Playing local file:\n \n from Ann.wav")));
    EXPECT_GE(query(window, kQueryRaiseCount), 2);
    EXPECT_EQ(s::autoPlay(), QString());
    EXPECT_EQ(lyrabellWindow()->handle, window);  // still the one window
}

namespace {

// A folder with a short wave file whose name holds the byte 0xFF, and the
// capture file that Lyrabell's sound goes to.
class OddlyNamedRecording {
public:
    OddlyNamedRecording() {
        const lyb::fixtures::WaveFormat pcm{1, 1, 8000, 16000, 2, 16};
        EXPECT_TRUE(lyb::fixtures::WriteWaveFile(path().constData(), pcm,
                                                 std::vector<uint8_t>(3200, 0x10)));
    }
    QByteArray path() const { return QFile::encodeName(dir_.path()) + "/call\xff.wav"; }
    QString capture() const { return dir_.filePath(QStringLiteral("capture.wav")); }
    // True once something was played into the capture file.
    bool played() const { return QFileInfo(capture()).size() > 44; }

    // Starts a program with one argument passed byte for byte (QProcess would
    // turn the 0xFF into U+FFFD) and the capture device as its sound.
    std::unique_ptr<QProcess> start(const char* name, const QByteArray& argument) const {
        const QString script = dir_.filePath(QStringLiteral("start-%1.sh").arg(name));
        QFile f(script);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("#!/bin/sh\nexec '" + QFile::encodeName(program(name)) + "'" +
                (argument.isEmpty() ? QByteArray() : " '" + argument + "'") + "\n");
        f.close();
        auto p = std::make_unique<QProcess>();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("LYRABELL_AUDIO"), QStringLiteral("capture:") + capture());
        p->setProcessEnvironment(env);
        p->start(QStringLiteral("/bin/sh"), {script});
        EXPECT_TRUE(p->waitForStarted());
        return p;
    }

private:
    QTemporaryDir dir_;
};

}  // namespace

// Lyrabell plays the file named on its command line and then ends by itself.
TEST(Lyrabell, PlaysAFileWhoseNameIsNotUtf8) {
    const OddlyNamedRecording recording;
    const auto lyrabell = recording.start("lyrabell", recording.path());
    const bool ended = finished(*lyrabell);
    EXPECT_TRUE(ended) << "still running: it could not open the file";
    if (!ended)
        lyrabell->kill(), lyrabell->waitForFinished();
    EXPECT_EQ(lyrabell->exitCode(), 0);
    EXPECT_TRUE(recording.played());
}

#ifdef LYB_HAVE_LAUNCHER

// Through the launcher and "AutoPlay" to a running Lyrabell that shows its
// list: it plays the file and returns to the list, still running.
TEST(Launcher, HandsAFileWhoseNameIsNotUtf8ToTheRunningLyrabell) {
    const OddlyNamedRecording recording;
    const auto lyrabell = recording.start("lyrabell", QByteArray());
    std::optional<desktop::WindowInfo> window;
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return (window = lyrabellWindow()).has_value(); }, kTimeoutMs));
    const auto launcher = recording.start("lyblauncher", recording.path());
    EXPECT_TRUE(finished(*launcher));
    // The list comes back once the recording has played (it is shown while it plays).
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return recording.played() && query(window->handle, kQueryPanel) == kPanelList; },
        kTimeoutMs))
        << "it could not open the file";
    EXPECT_EQ(lyrabell->state(), QProcess::Running);
    desktop::sendMessage(window->handle, 0x0010, 0, 0);  // WM_CLOSE
    if (!finished(*lyrabell))
        lyrabell->kill(), lyrabell->waitForFinished();
}

TEST(Launcher, WithoutArgumentsTouchesNothing) {
    s::setAutoPlay(QStringLiteral("untouched"));
    const QString before = lyb::reg::exportText();
    EXPECT_EQ(runToEnd("lyblauncher", {}), 0);
    EXPECT_EQ(lyb::reg::exportText(), before);
    EXPECT_FALSE(lyrabellWindow());
    s::setAutoPlay(QString());
}

TEST(Launcher, HandsAPathToTheRunningLyrabell) {
    Running lyrabell;
    ASSERT_TRUE(lyrabell.window());
    EXPECT_EQ(runToEnd("lyblauncher", {playableFile("a b.gsm")}), 0);
    EXPECT_EQ(query(lyrabell.window()->handle, kQueryPanel), kPanelLocalFile);
    EXPECT_EQ(query(lyrabell.window()->handle, kQueryPanelTextHash),
              panelTextHash(QStringLiteral("\n Playing local file:\n \n a b.gsm")));
    EXPECT_EQ(s::autoPlay(), QString());
    EXPECT_EQ(lyrabell.process().state(), QProcess::Running);
}

// The launcher's output pipes are gone by the time Lyrabell writes to them.
TEST(Launcher, StartsLyrabellWithTheRequestWhenNoneRuns) {
    ASSERT_FALSE(lyrabellWindow());
    EXPECT_EQ(runToEnd("lyblauncher", {playableFile("c.wav") + QStringLiteral("<lyb:Bo>")}), 0);
    std::optional<desktop::WindowInfo> started;
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return (started = lyrabellWindow()).has_value(); }, kTimeoutMs));
    // Ends the Lyrabell the launcher started, however the test ends.
    const std::unique_ptr<void, std::function<void(void*)>> closer(
        reinterpret_cast<void*>(1), [&](void*) {
            desktop::sendMessage(started->handle, 0x0010, 0, 0);
            if (!QTest::qWaitFor([] { return !lyrabellWindow(); }, kTimeoutMs))
                ::kill(static_cast<pid_t>(started->pid), SIGKILL);
        });
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            return query(started->handle, kQueryPanelTextHash) ==
                   panelTextHash(QStringLiteral("\n Playing voicemail from:\n \n Bo"));
        },
        kTimeoutMs));
    EXPECT_EQ(query(started->handle, kQueryPanel), kPanelCaller);
    // Nothing was handed over through the registry.
    EXPECT_EQ(s::autoPlay(), QString());
}

// The main window runs in this process; the launcher is handed a second file
// while the window waits with the caption "Decoding...".
TEST(Launcher, RequestHandedOverDuringDecodingIsPlayedWhenTheWaitEnds) {
    auto log = std::make_shared<PlaybackLog>();
    lyb::app::CMainDialog dialog(nullptr,
                                 desktop::registerWindowMessage(QStringLiteral("TavolinPlay")));
    dialog.setPlayback(std::make_unique<CRecordingPlayback>(log));
    dialog.setHeadStart(100);

    // Inside the wait the launcher runs to its end, so the wait lasts until the
    // launcher's broadcast has been answered.
    QProcess launcher;
    bool launcherEndedWhileDecoding = false;
    log->onDecode = [&] {
        if (log->decoded.size() != 1)
            return;
        QTimer::singleShot(0, [&] {
            launcher.start(program("lyblauncher"), {QStringLiteral("/calls/second.wav")});
            const bool ended = finished(launcher);
            launcherEndedWhileDecoding =
                ended && dialog.busy() && dialog.caption() == QLatin1String("Decoding...");
            EXPECT_EQ(log->decoded.size(), 1u);
        });
    };
    dialog.setPendingRequest(QStringLiteral("/calls/first.wav"));
    dialog.initialise();

    EXPECT_TRUE(launcherEndedWhileDecoding);
    ASSERT_TRUE(QTest::qWaitFor([&] { return log->decoded.size() == 2; }, kTimeoutMs));
    EXPECT_EQ(log->decoded[1].path, QStringLiteral("/calls/second.wav"));
    EXPECT_EQ(dialog.infoPanelText(), QStringLiteral("\n Playing local file:\n \n second.wav"));
    EXPECT_EQ(s::autoPlay(), QString());
    EXPECT_EQ(launcher.exitCode(), 0);
    EXPECT_FALSE(lyrabellWindow());  // no second Lyrabell was started
}

#endif
