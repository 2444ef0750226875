// Windows, messages and raising across processes on a private session bus.
#include "peer.h"
#include "platform/desktop/desktop.h"
#include "platform/desktop/desktop_internal.h"

#include <QEventLoop>
#include <QFileInfo>
#include <QTimer>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <stdexcept>

using namespace lyb::desktop;
using namespace lyb::desktop::test;

namespace {

// A peer window that records what it gets into its own file.
struct PeerWindow {
    PeerWindow(const QString& caption, const QString& role, qint64 answer, int sleepMs = 0,
               const QString& messageName = {}, int windows = 1)
        : record(tempPath(caption + ".log")), peer([&] {
              QStringList args{"window",
                               caption,
                               role,
                               record,
                               QString::number(answer),
                               QString::number(sleepMs)};
              args << messageName << QString::number(windows);
              return args;
          }()) {
        ready = peer.readLine() == "ready";
    }
    QString record;
    Peer peer;
    bool ready = false;
};

std::optional<WindowInfo> infoOf(const WindowHandle& h) {
    for (const WindowInfo& w : listWindows()) {
        if (w.handle == h) {
            return w;
        }
    }
    return std::nullopt;
}

TEST(DesktopWindows, FoundByExactCaptionAndByRoleAcrossProcesses) {
    ensureApp();
    ASSERT_TRUE(busAvailable());
    PeerWindow one("Peer One", "test.one", 1);
    PeerWindow two("Peer Two", "test.two", 2);
    ASSERT_TRUE(one.ready && two.ready);

    std::optional<WindowHandle> byCaption = findWindow("Peer Two");
    ASSERT_TRUE(byCaption);
    std::optional<WindowHandle> byRole = findWindowByRole("test.two");
    ASSERT_TRUE(byRole);
    EXPECT_EQ(*byCaption, *byRole);
    EXPECT_NE(*byCaption, *findWindow("Peer One"));

    std::optional<WindowInfo> info = infoOf(*byCaption);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->pid, two.peer.pid());
    EXPECT_EQ(info->programPath, QFileInfo(peerProgram()).canonicalFilePath());
    EXPECT_EQ(info->role, "test.two");

    // Only the exact caption matches.
    for (const char* near : {"Peer", "peer two", "Peer Two ", ""}) {
        EXPECT_FALSE(findWindow(near)) << near;
    }
    EXPECT_FALSE(findWindowByRole("test"));

    // A window of a process that ended is gone at once.
    two.peer.kill();
    EXPECT_FALSE(findWindow("Peer Two"));
    EXPECT_FALSE(sendMessage(*byCaption, WM_USER, 0, 0));
    EXPECT_FALSE(setForegroundWindow(*byCaption));
}

TEST(DesktopWindows, OwnWindowsAreListedAndHandledInProcess) {
    ensureApp();
    int calls = 0;
    int raised = 0;
    auto window = std::make_unique<TopLevelWindow>(
        "Own Window", "test.own",
        [&](uint32_t message, quint64 wParam, qint64 lParam) -> qint64 {
            ++calls;
            return qint64(message) + qint64(wParam) + lParam;
        },
        [&] { ++raised; });
    const WindowHandle h = window->handle();
    ASSERT_EQ(findWindow("Own Window"), h);
    ASSERT_EQ(findWindowByRole("test.own"), h);
    EXPECT_EQ(infoOf(h)->pid, QCoreApplication::applicationPid());
    EXPECT_EQ(infoOf(h)->programPath, currentProgramPath());

    EXPECT_EQ(sendMessage(h, WM_USER, 5, -7), qint64(WM_USER) - 2);
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(setForegroundWindow(h));
    EXPECT_EQ(raised, 1);

    window->setCaption("Own Window 2");
    EXPECT_EQ(window->caption(), "Own Window 2");
    EXPECT_EQ(findWindow("Own Window 2"), h);
    EXPECT_FALSE(findWindow("Own Window"));

    window.reset();
    EXPECT_FALSE(findWindowByRole("test.own"));
    EXPECT_FALSE(sendMessage(h, WM_USER, 0, 0));
    EXPECT_FALSE(setForegroundWindow(h));
    EXPECT_EQ(calls, 1);
}

TEST(DesktopWindows, HandlerMayThrowOrDestroyItsOwnWindow) {
    ensureApp();
    TopLevelWindow thrower(
        "Thrower", "",
        [](uint32_t, quint64, qint64) -> qint64 { throw std::runtime_error("broken handler"); },
        nullptr);
    EXPECT_FALSE(sendMessage(thrower.handle(), WM_USER, 0, 0));
    TopLevelWindow silent("Silent", "", nullptr, nullptr);
    EXPECT_EQ(sendMessage(silent.handle(), WM_USER, 0, 0), 0);

    std::unique_ptr<TopLevelWindow> closing;
    int answered = 0;
    closing = std::make_unique<TopLevelWindow>(
        "Closing", "",
        [&](uint32_t, quint64, qint64) -> qint64 {
            closing.reset();
            // A nested event loop, as a modal dialog would run, must not
            // delete the window's object under the running call.
            QEventLoop loop;
            QTimer::singleShot(0, &loop, &QEventLoop::quit);
            loop.exec();
            return ++answered;
        },
        nullptr);
    const WindowHandle h = closing->handle();
    EXPECT_EQ(sendMessage(h, WM_USER, 0, 0), 1);
    EXPECT_FALSE(closing);
    EXPECT_FALSE(findWindow("Closing"));
    EXPECT_FALSE(sendMessage(h, WM_USER, 0, 0));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

TEST(DesktopWindows, CaptionChangeOfAnotherProcessIsSeen) {
    PeerWindow peer("Changing", "test.changing", 0);
    ASSERT_TRUE(peer.ready);
    std::optional<WindowHandle> h = findWindow("Changing");
    ASSERT_TRUE(h);
    ASSERT_TRUE(sendMessage(*h, WM_USER + 1, 0, 0));
    EXPECT_FALSE(findWindow("Changing"));
    EXPECT_EQ(findWindow("Changing (changed)"), h);
}

TEST(DesktopMessages, SendReturnsAfterTheHandlerRanWithItsAnswer) {
    PeerWindow peer("Answering", "test.answer", 4242, 300);
    ASSERT_TRUE(peer.ready);
    std::optional<WindowHandle> h = findWindow("Answering");
    ASSERT_TRUE(h);
    // Values at the edges of their types travel unchanged.
    EXPECT_EQ(sendMessage(*h, WM_SETTINGCHANGE, ~quint64(0), std::numeric_limits<qint64>::min()),
              4242);
    EXPECT_EQ(readLines(peer.record),
              QStringList{QStringLiteral("26 18446744073709551615 -9223372036854775808")});
    EXPECT_TRUE(setForegroundWindow(*h));
    EXPECT_EQ(readLines(peer.record).value(1), "raise");
}

TEST(DesktopMessages, BroadcastReachesEveryWindowOnceAndSkipsAHungProcess) {
    ensureApp();
    const uint32_t play = registerWindowMessage("TestBroadcast");
    PeerWindow quick("Quick", "test.quick", 1, 0, "TestBroadcast", 2);
    PeerWindow hung("Hung", "test.hung", 1, 8000, "TestBroadcast", 3);
    ASSERT_TRUE(quick.ready && hung.ready);
    std::vector<uint32_t> seen;
    TopLevelWindow own(
        "Own", "",
        [&](uint32_t m, quint64, qint64) -> qint64 {
            seen.push_back(m);
            return 0;
        },
        nullptr);

    EXPECT_EQ(broadcastMessage(play, 0, 0), 3);
    EXPECT_EQ(seen, std::vector<uint32_t>{play});
    EXPECT_EQ(readLines(quick.record), QStringList({"TestBroadcast 0 0", "TestBroadcast 0 0"}));
    // The first hung window got the message; its process's other two were
    // skipped, not queued behind it.
    EXPECT_EQ(readLines(hung.record), QStringList{"TestBroadcast 0 0"});
}

TEST(DesktopMessages, IdsAgreeAcrossProcessesWhateverTheCase) {
    ensureApp();
    for (const char* name : {"TavolinPlay", "tavolinplay", "TAVOLINPLAY"}) {
        Peer peer({"id", name});
        const QString printed = peer.readLine();
        EXPECT_EQ(printed.toUInt(), registerWindowMessage("TavolinPlay")) << name;
    }
    const uint32_t id = registerWindowMessage("TavolinPlay");
    EXPECT_GE(id, 0xC000u);
    EXPECT_LE(id, 0xFFFFu);
    EXPECT_NE(registerWindowMessage("TavolinPlay2"), id);
    EXPECT_EQ(registerWindowMessage(""), 0u);
}

TEST(DesktopMessages, CollidingNameStillReachesTheRightHandler) {
    ensureApp();
    // Register names until one could not get its hashed id: this process then
    // uses another id for it than a process that registers it alone.
    QString collided;
    for (int i = 0; i < 5000 && collided.isEmpty(); ++i) {
        const QString name = QStringLiteral("collide%1").arg(i);
        const uint32_t hashed = 0xC000 + detail::fnv1a32(name.toUtf8()) % 0x4000;
        if (registerWindowMessage(name) != hashed) {
            collided = name;
        }
    }
    ASSERT_FALSE(collided.isEmpty());
    PeerWindow peer("Collision", "test.collision", 7, 0, collided);
    ASSERT_TRUE(peer.ready);
    std::optional<WindowHandle> h = findWindow("Collision");
    ASSERT_TRUE(h);
    EXPECT_EQ(sendMessage(*h, registerWindowMessage(collided), 1, 2), 7);
    EXPECT_EQ(readLines(peer.record), QStringList{collided + " 1 2"});
}

TEST(DesktopMessages, MalformedHandlesAreRefused) {
    ensureApp();
    for (const WindowHandle& h : std::vector<WindowHandle>{
             {"", ""},
             {"org.lyrabell.Desktop.p", "/windows/1"},
             {"org.lyrabell.Desktop.p1x", "/windows/1"},
             {"org.freedesktop.DBus", "/windows/1"},
             {"org.lyrabell.Desktop.p1", "/windows/"},
             {"org.lyrabell.Desktop.p1", "no path"},
         }) {
        EXPECT_FALSE(sendMessage(h, WM_USER, 0, 0)) << h.service.toStdString();
        EXPECT_FALSE(setForegroundWindow(h)) << h.service.toStdString();
    }
}

// Another user who makes $TMPDIR/lyrabell-<uid> first keeps the instance
// lock from being shared; the bus then says whether the program runs.
TEST(InstanceLock, WithoutAUsableLockFolderTheBusDecides) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "only root can leave a folder of another user";
    }
    ensureApp();
    ASSERT_TRUE(busAvailable());
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    qunsetenv("XDG_RUNTIME_DIR");
    const QByteArray planted = QFile::encodeName(tempPath("lyrabell-" + QString::number(getuid())));
    ASSERT_EQ(::mkdir(planted.constData(), 0777), 0);
    ASSERT_EQ(::chown(planted.constData(), 65534, gid_t(-1)), 0);

    EXPECT_FALSE(InstanceLock(peerProgram()).alreadyExisted());
    PeerWindow running("Running", "test.running", 0);
    ASSERT_TRUE(running.ready);
    EXPECT_TRUE(InstanceLock(QFileInfo(peerProgram()).canonicalFilePath()).alreadyExisted());
    EXPECT_FALSE(InstanceLock("/opt/elsewhere/lyrabell").alreadyExisted());

    ::rmdir(planted.constData());
    qputenv("XDG_RUNTIME_DIR", runtime);
}

}  // namespace
