// The instance lock, the open verb and the private runtime folder.
#include "peer.h"
#include "platform/desktop/desktop.h"

#include <QFileInfo>
#include <QThread>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>

using namespace lyb::desktop;
using namespace lyb::desktop::test;

namespace {

// Waits until a file written by a started program is complete (its last line
// is "end"); gives up after 30 s so that a fault fails instead of hanging.
QStringList waitForRecord(const QString& path) {
    for (int i = 0; i < 3000; ++i) {
        QStringList lines = readLines(path);
        if (!lines.isEmpty() && lines.last() == "end") {
            lines.removeLast();
            return lines;
        }
        QThread::msleep(10);
    }
    return {"timed out"};
}

// Writes an executable script that records its argument count and arguments.
QString recordingScript(const QString& name, const QString& record) {
    const QString path = tempPath(name);
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QStringLiteral("#!/bin/sh\n"
                           "{ echo \"$#\"; for a in \"$@\"; do echo \"$a\"; done; echo end; } "
                           "> '%1.part'\n"
                           "mv '%1.part' '%1'\n")
                .arg(record)
                .toUtf8());
    f.close();
    f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return path;
}

TEST(InstanceLock, SecondHolderSeesTheFirstUntilItIsKilled) {
    const QString program = "/opt/some place/lyrabell";
    Peer holder({"lock", program});
    ASSERT_EQ(holder.readLine(), "held");
    {
        InstanceLock second(program);
        EXPECT_TRUE(second.alreadyExisted());
        InstanceLock other("/opt/some place/lyblauncher");
        EXPECT_FALSE(other.alreadyExisted());
    }
    holder.kill();  // SIGKILL: no destructor runs
    InstanceLock after(program);
    EXPECT_FALSE(after.alreadyExisted());

    // The lock is also exclusive within one process, and release gives it up.
    Peer probe({"lock", program});
    EXPECT_EQ(probe.readLine(), "existed");
    after.release();
    Peer next({"lock", program});
    EXPECT_EQ(next.readLine(), "held");
}

struct EnvGuard {
    explicit EnvGuard(const char* name) : name_(name) {
        if (const char* v = getenv(name)) {
            saved_ = v;
            had_ = true;
        }
    }
    ~EnvGuard() {
        if (had_) {
            setenv(name_, saved_.c_str(), 1);
        } else {
            unsetenv(name_);
        }
    }
    const char* name_;
    std::string saved_;
    bool had_ = false;
};

TEST(InstanceLock, SharedBetweenProcessesWithoutARuntimeDirectory) {
    EnvGuard guard("XDG_RUNTIME_DIR");
    unsetenv("XDG_RUNTIME_DIR");
    const QString program = "/usr/bin/lyrabell";
    Peer holder({"lock", program});
    ASSERT_EQ(holder.readLine(), "held");
    EXPECT_TRUE(InstanceLock(program).alreadyExisted());
    const QString dir = QDir::tempPath() + "/lyrabell-" + QString::number(getuid());
    EXPECT_EQ(QFileInfo(dir).permissions() & (QFile::ReadOther | QFile::ReadGroup), 0);
}

TEST(ShellExecuteOpen, StartsAProgramWithTheParameterAsOneArgument) {
    struct Case {
        QString parameters;
        QStringList expected;
    } cases[] = {
        {"  two  blanks \"and quotes\" $HOME ;", {"1", "  two  blanks \"and quotes\" $HOME ;"}},
        {"", {"0"}},
        {"<OID>", {"1", "<OID>"}},
    };
    int n = 0;
    for (const Case& c : cases) {
        const QString record = tempPath(QStringLiteral("args%1.txt").arg(n));
        const QString script = recordingScript(QStringLiteral("with blank %1.sh").arg(n++), record);
        ASSERT_TRUE(shellExecuteOpen(script, c.parameters));
        EXPECT_EQ(waitForRecord(record), c.expected) << c.parameters.toStdString();
    }
}

TEST(ShellExecuteOpen, FailsWhenNothingCanStart) {
    const QString plain = tempPath("not-executable");
    QFile f(plain);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("#!/bin/sh\n");
    f.close();
    for (const QString& file : {tempPath("missing-program"), plain, QDir::tempPath(), QString(),
                                QStringLiteral("no-such-program-on-path-xyz")}) {
        EXPECT_FALSE(shellExecuteOpen(file, "x")) << file.toStdString();
    }
}

TEST(ShellExecuteOpen, HandsUrlsToTheUrlOpener) {
    const QString record = tempPath("url.txt");
    const QString opener = recordingScript("opener.sh", record);
    ASSERT_EQ(setenv("LYRABELL_URL_OPENER", opener.toUtf8().constData(), 1), 0);
    for (const QString url : {"tel:+15551234567", "HTTPS://example.org/update?a=1&b=2",
                              "mailto:someone@example.org", "file:///tmp/a%20b.wav"}) {
        QFile::remove(record);
        EXPECT_TRUE(shellExecuteOpen(url, "ignored"));
        EXPECT_EQ(waitForRecord(record), (QStringList{"1", url}));
    }
    unsetenv("LYRABELL_URL_OPENER");
}

// A URL is reported when no handler starts, and when the handler ends with
// a status other than 0 (xdg-open found no program for it); the report
// comes from the event loop.
TEST(ShellExecuteOpen, ReportsUrlsThatNothingOpens) {
    int argc = 1;
    char name[] = "test";
    char* argv[] = {name, nullptr};
    QCoreApplication application(argc, argv);
    QStringList reported;
    setOpenFailureReporter([&](const QString& target) { reported << target; });
    const QString failing = tempPath("no-handler.sh");
    QFile script(failing);
    ASSERT_TRUE(script.open(QIODevice::WriteOnly));
    script.write("#!/bin/sh\nexit 3\n");
    script.close();
    script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

    ASSERT_EQ(setenv("LYRABELL_URL_OPENER", failing.toUtf8().constData(), 1), 0);
    EXPECT_TRUE(shellExecuteOpen("sms:+15551234", QString()));
    ASSERT_EQ(setenv("LYRABELL_URL_OPENER", tempPath("missing-opener").toUtf8().constData(), 1), 0);
    EXPECT_FALSE(shellExecuteOpen("https://example.org/", QString()));
    // Up to 30 s, so that a fault fails instead of hanging.
    for (int i = 0; i < 3000 && reported.size() < 2; ++i) {
        QCoreApplication::processEvents();
        QThread::msleep(10);
    }
    reported.sort();
    EXPECT_EQ(reported, (QStringList{"https://example.org/", "sms:+15551234"}));
    setOpenFailureReporter({});
    unsetenv("LYRABELL_URL_OPENER");
}

TEST(ShellExecuteOpen, LeavesNoZombies) {
    const QString record = tempPath("zombie.txt");
    const QString script = recordingScript("zombie.sh", record);
    ASSERT_TRUE(shellExecuteOpen(script, "x"));
    waitForRecord(record);
    // The reaper collects the child soon after it ends; wait for that rather
    // than assume a time.
    bool zombie = true;
    for (int i = 0; i < 3000 && zombie; ++i) {
        zombie = false;
        for (const QFileInfo& proc : QDir("/proc").entryInfoList(QDir::Dirs)) {
            QFile stat(proc.filePath() + "/stat");
            if (!stat.open(QIODevice::ReadOnly)) {
                continue;
            }
            const QList<QByteArray> fields = stat.readAll().split(' ');
            // fields: pid (comm) state ppid ... (comm has no blanks here)
            if (fields.size() > 3 && fields[2] == "Z" && fields[3].toInt() == getpid()) {
                zombie = true;
            }
        }
        if (zombie) {
            QThread::msleep(10);
        }
    }
    EXPECT_FALSE(zombie);
}

bool isPrivateFolder(const QString& path) {
    struct stat st {};
    return lstat(path.toUtf8().constData(), &st) == 0 && S_ISDIR(st.st_mode) &&
           st.st_uid == getuid() && (st.st_mode & 0777) == 0700;
}

TEST(RuntimeDir, IsAPrivateFolderUnderTheRuntimeDirectory) {
    const QString xdg = qEnvironmentVariable("XDG_RUNTIME_DIR");
    ASSERT_FALSE(xdg.isEmpty());
    EXPECT_EQ(runtimeDir(), xdg + "/lyrabell");
    EXPECT_TRUE(isPrivateFolder(runtimeDir()));
}

TEST(RuntimeDir, FallsBackToOneTemporaryFolderWhenUnsetOrUnsafe) {
    EnvGuard guard("XDG_RUNTIME_DIR");
    unsetenv("XDG_RUNTIME_DIR");
    const QString first = runtimeDir();
    EXPECT_TRUE(first.startsWith(QDir::tempPath() + "/lyrabell-")) << first.toStdString();
    EXPECT_TRUE(isPrivateFolder(first));
    EXPECT_EQ(runtimeDir(), first);

    // A "lyrabell" entry that is a link to somewhere else is never used.
    const QString fake = tempPath("fake-runtime");
    ASSERT_TRUE(QDir().mkpath(fake + "/elsewhere"));
    ASSERT_TRUE(QFile::link(fake + "/elsewhere", fake + "/lyrabell"));
    setenv("XDG_RUNTIME_DIR", fake.toUtf8().constData(), 1);
    EXPECT_EQ(runtimeDir(), first);
}

TEST(RuntimeDir, ATemporaryFolderIsRemovedWhenTheProcessEnds) {
    EnvGuard guard("XDG_RUNTIME_DIR");
    unsetenv("XDG_RUNTIME_DIR");
    const QString victim = tempPath("kept.txt");
    QFile file(victim);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("kept");
    file.close();

    Peer peer({"runtime", victim});
    const QString folder = peer.readLine();
    ASSERT_TRUE(folder.startsWith(QDir::tempPath() + "/lyrabell-")) << folder.toStdString();
    ASSERT_TRUE(peer.waitForExit());
    EXPECT_FALSE(QFileInfo::exists(folder));
    EXPECT_EQ(readLines(victim), QStringList{"kept"});  // a link inside goes, not its target
}

// Ended at logout (SIGTERM) or by its terminal (SIGHUP), a program ends as
// when its window closes: the temporary folder it made goes.
TEST(QuitOnEndSignals, TheProgramEndsNormallyAndCleansUp) {
#if defined(__SANITIZE_THREAD__)
    // The thread sanitizer holds a signal for the thread the kernel gave it to
    // until that thread enters one of its intercepted calls; one of Qt's helper
    // threads may wait outside them for good, and the signal with it.
    GTEST_SKIP() << "signals are held back by the thread sanitizer";
#endif
    EnvGuard guard("XDG_RUNTIME_DIR");
    unsetenv("XDG_RUNTIME_DIR");
    for (const int signal : {SIGTERM, SIGHUP}) {
        SCOPED_TRACE(signal);
        Peer peer({"runtime", tempPath("kept.txt"), "wait"});
        const QString folder = peer.readLine();
        ASSERT_EQ(peer.readLine(), "waiting");
        ASSERT_TRUE(QFileInfo::exists(folder));
        ASSERT_EQ(::kill(pid_t(peer.pid()), signal), 0);
        ASSERT_TRUE(peer.waitForExit());
        EXPECT_TRUE(peer.endedNormally());
        EXPECT_FALSE(QFileInfo::exists(folder)) << folder.toStdString();
    }
}

// The hand-off lock: a holder that never lets go costs a bounded wait, and a
// lock file that is not this user's own is not used at all.
TEST(UserLock, GivesUpWhenTheHolderDoesNotLetGo) {
    const QByteArray path = QFile::encodeName(runtimeDir() + "/test-wait.lock");
    const int holder = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(::flock(holder, LOCK_EX), 0);  // another open file: another holder
    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(UserLock("test-wait", 50).held());
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find(path.toStdString()), std::string::npos) << err;
    ::close(holder);
    EXPECT_TRUE(UserLock("test-wait", 50).held());
}

TEST(UserLock, RefusesALockFileOfAnotherUser) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "only root can leave a file of another user";
    }
    const QByteArray path = QFile::encodeName(runtimeDir() + "/test-planted.lock");
    const int planted = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    ASSERT_GE(planted, 0);
    ASSERT_EQ(::fchown(planted, 65534, gid_t(-1)), 0);
    ::close(planted);
    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(UserLock("test-planted", 50).held());
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find(path.toStdString()), std::string::npos) << err;
}

TEST(CurrentProgramPath, IsThisTestProgram) {
    EXPECT_EQ(currentProgramPath(), QFileInfo("/proc/self/exe").canonicalFilePath());
    EXPECT_TRUE(QFileInfo(currentProgramPath()).isAbsolute());
}

}  // namespace
