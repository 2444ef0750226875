// The one-instance lock, starting programs and URLs, and the private folder.
#include "platform/desktop/desktop.h"
#include "platform/desktop/desktop_internal.h"
#include "platform/desktop/file_names.h"
#include "platform/paths/paths.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDesktopServices>
#include <QDir>
#include <QGuiApplication>
#include <QMutex>
#include <QMutexLocker>
#include <QSocketNotifier>
#include <QThread>
#include <QUrl>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <thread>
#include <vector>

extern char** environ;

namespace lyb::desktop {

namespace {

// Returns true when path is a folder of this user, reached without following
// a symbolic link, with no access for others. Access found open to others is
// taken away (on the opened folder, so a folder swapped in meanwhile is not
// the one changed) and reported in one line: whatever others placed in it
// stays, which is why the files made in it never follow or reuse an entry.
bool privateFolder(const QByteArray& path) {
    const int fd = ::open(path.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    struct stat st {};
    bool ok = ::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::getuid();
    if (ok && (st.st_mode & 077) != 0) {
        ok = ::fchmod(fd, 0700) == 0;
        std::fprintf(stderr, "lyrabell: %s was open to other users (mode %03o); %s\n",
                     path.constData(), unsigned(st.st_mode & 0777),
                     ok ? "it is now private (0700)" : "it cannot be made private");
    }
    ::close(fd);
    return ok;
}

// Removes a folder made for this process and the entries in it; links are
// removed themselves, never what they point to.
void removeFolder(const QByteArray& path) {
    const int fd = ::open(path.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd >= 0) {
        if (DIR* dir = ::fdopendir(fd)) {
            while (const dirent* entry = ::readdir(dir)) {
                if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) {
                    ::unlinkat(fd, entry->d_name, 0);
                }
            }
            ::closedir(dir);  // closes fd
        } else {
            ::close(fd);
        }
    }
    ::rmdir(path.constData());
}

// The temporary folders this process made; removed when it exits normally.
struct TemporaryFolders {
    std::vector<QByteArray> paths;
    ~TemporaryFolders() {
        for (const QByteArray& path : paths) {
            removeFolder(path);
        }
    }
};

QString makeTemporaryFolder() {
    static TemporaryFolders made;
    QByteArray base = qgetenv("TMPDIR");
    if (base.isEmpty()) {
        base = "/tmp";
    }
    QByteArray templ = base + "/lyrabell-XXXXXX";
    if (::mkdtemp(templ.data()) == nullptr) {
        return {};
    }
    made.paths.push_back(templ);
    return decodeFileName(templ);
}

// Waits for a started program in the background so that it does not stay a
// zombie; waiting for one pid never takes another part's child. When the
// program exits with a status other than 0, failed runs (on the waiting
// thread).
void reapLater(pid_t pid, std::function<void()> failed) {
    std::thread([pid, failed = std::move(failed)] {
        int status = 0;
        pid_t done = -1;
        while ((done = ::waitpid(pid, &status, 0)) < 0 && errno == EINTR) {
        }
        if (done == pid && failed && WIFEXITED(status) && WEXITSTATUS(status) != 0)
            failed();
    }).detach();
}

// Starts argv[0] (searched on PATH when it has no slash) without a shell;
// failed as for reapLater.
bool spawn(const QList<QByteArray>& args, std::function<void()> failed = {}) {
    std::vector<char*> argv;
    argv.reserve(size_t(args.size()) + 1);
    for (const QByteArray& a : args) {
        argv.push_back(const_cast<char*>(a.constData()));
    }
    argv.push_back(nullptr);
    // Standard input is never passed on: ours may be a mail program's pipe,
    // which would stay open (and the mail program waiting) for as long as
    // the program started lives, without it ever reading.
    posix_spawn_file_actions_t actions;
    if (::posix_spawn_file_actions_init(&actions) != 0) {
        return false;
    }
    ::posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    pid_t pid = 0;
    const int rc = ::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    ::posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        return false;
    }
    reapLater(pid, std::move(failed));
    return true;
}

OpenFailureReporter& openFailureReporter() {
    static OpenFailureReporter reporter;  // the application object's thread only
    return reporter;
}

bool isUrl(const QString& file) {
    static const char* const kSchemes[] = {"http:", "https:", "tel:", "sms:", "mailto:", "file:"};
    for (const char* scheme : kSchemes) {
        if (file.startsWith(QLatin1String(scheme), Qt::CaseInsensitive)) {
            return true;
        }
    }
    return false;
}

bool openUrl(const QString& text) {
    // The handler ends with a status other than 0 when it found no program
    // for the URL (xdg-open: 3, or 4 when the program failed) or could not
    // open it; nothing else would tell the user.
    const auto failed = [text] { reportOpenFailure(text); };
    // LYRABELL_URL_OPENER names a program to take URLs instead of the
    // desktop's handler (scripts and tests use it).
    const QByteArray opener = qgetenv("LYRABELL_URL_OPENER");
    if (!opener.isEmpty()) {
        if (spawn({opener, text.toUtf8()}, failed))
            return true;
    } else if (spawn({QByteArrayLiteral("xdg-open"), text.toUtf8()}, failed)) {
        return true;
    } else if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr &&
               QDesktopServices::openUrl(QUrl(text))) {
        return true;  // without xdg-open, whatever Qt finds (a sandbox's portal)
    }
    reportOpenFailure(text);
    return false;
}

// Returns the folder for the locks, which every process of the user must
// agree on: lyrabell in XDG_RUNTIME_DIR when that is set, otherwise
// lyrabell-<uid> in the temporary folder; either only when it is a private
// folder of this user (someone else's or a link is refused). Empty when it
// is refused: a folder of this process's own would hold a lock nobody else
// sees.
QString lockDir() {
    const QByteArray xdg = qgetenv("XDG_RUNTIME_DIR");
    if (!xdg.isEmpty()) {
        const QString dir = runtimeDir();
        return dir == decodeFileName(xdg + "/lyrabell") ? dir : QString();
    }
    QByteArray base = qgetenv("TMPDIR");
    if (base.isEmpty()) {
        base = "/tmp";
    }
    const QByteArray dir = base + "/lyrabell-" + QByteArray::number(::getuid());
    if ((::mkdir(dir.constData(), 0700) == 0 || errno == EEXIST) && privateFolder(dir)) {
        return decodeFileName(dir);
    }
    static bool reported = false;
    if (!reported) {
        reported = true;
        std::fprintf(stderr,
                     "lyrabell: %s is not a private folder of this user; no lock is "
                     "kept there\n",
                     dir.constData());
    }
    return {};
}

// Opens (creating) the lock file name in the lock folder for flock. A link,
// or a file that is not this user's own (left in a folder that was once open
// to others), is refused: -1 with errno set, and *path the file's name.
int openLockFile(const QByteArray& name, QByteArray* path, int flags = 0) {
    const QString dir = lockDir();
    if (dir.isEmpty()) {
        *path = name;
        errno = ENOENT;
        return -1;
    }
    *path = encodeFileName(dir) + '/' + name;
    // Every process opens the same file, so it cannot be made afresh.
    const int fd =
        ::open(path->constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | flags, 0600);
    struct stat st {};
    if (fd >= 0 && (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::getuid())) {
        ::close(fd);
        errno = EPERM;
        return -1;
    }
    return fd;
}

// True when another process of ours has a window of the program at
// programPath on the session bus: the instance rule without a lock file.
bool programHasWindows(const QString& programPath) {
    for (const WindowInfo& info : listWindows()) {
        if (info.pid != ::getpid() && info.programPath == programPath) {
            return true;
        }
    }
    return false;
}

// The write end of the pipe that carries end signals to the event loop.
int gEndSignalPipe = -1;

void onEndSignal(int signal) {
    const int saved = errno;
    const char byte = char(signal);
    [[maybe_unused]] const ssize_t n = ::write(gEndSignalPipe, &byte, 1);
    errno = saved;
}

}  // namespace

InstanceLock::InstanceLock(const QString& programPath) {
    // A hash keeps the name short and free of slashes whatever the path.
    const QByteArray key = programPath.toUtf8();
    uint64_t hash = 14695981039346656037ull;
    for (char c : key) {
        hash ^= static_cast<uint8_t>(c);
        hash *= 1099511628211ull;
    }
    const QByteArray name =
        "instance-" + QByteArray::number(qulonglong(hash), 16).rightJustified(16, '0') + ".lock";
    QByteArray file;
    fd_ = openLockFile(name, &file, O_NONBLOCK);
    if (fd_ < 0) {
        std::fprintf(stderr, "lyrabell: cannot open the instance lock %s: %s\n", file.constData(),
                     std::strerror(errno));
        // The bus still tells whether the program runs (once it has a window).
        alreadyExisted_ = programHasWindows(programPath);
        return;
    }
    int rc;
    while ((rc = ::flock(fd_, LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
    }
    if (rc != 0) {
        alreadyExisted_ = errno == EWOULDBLOCK;
        ::close(fd_);
        fd_ = -1;
    }
}

InstanceLock::~InstanceLock() {
    release();
}

void InstanceLock::release() {
    if (fd_ >= 0) {
        ::flock(fd_, LOCK_UN);
        ::close(fd_);
        fd_ = -1;
    }
}

UserLock::UserLock(const char* name, int waitMs) {
    QByteArray file;
    fd_ = openLockFile(QByteArray(name) + ".lock", &file);
    if (fd_ < 0) {
        std::fprintf(stderr, "lyrabell: cannot take the lock %s: %s\n", file.constData(),
                     std::strerror(errno));
        return;
    }
    // Polled rather than waited for in flock, so that a holder that never
    // lets go (or a lock file someone keeps locked) costs a bounded wait.
    QDeadlineTimer deadline(waitMs);
    while (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        if (error == EINTR)
            continue;
        if (error != EWOULDBLOCK || deadline.hasExpired()) {
            if (error == EWOULDBLOCK)
                std::fprintf(stderr,
                             "lyrabell: the lock %s was still held after %g s; going on "
                             "without it\n",
                             file.constData(), waitMs / 1000.0);
            else
                std::fprintf(stderr, "lyrabell: cannot take the lock %s: %s\n", file.constData(),
                             std::strerror(error));
            ::close(fd_);
            fd_ = -1;
            return;
        }
        QThread::msleep(20);
    }
}

UserLock::~UserLock() {
    if (fd_ >= 0)
        ::close(fd_);  // closing the last descriptor releases the flock
}

void quitOnEndSignals() {
    static bool installed = false;
    QCoreApplication* app = QCoreApplication::instance();
    if (installed || app == nullptr) {
        return;
    }
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, fds) != 0) {
        return;
    }
    installed = true;
    gEndSignalPipe = fds[0];
    auto* notifier = new QSocketNotifier(fds[1], QSocketNotifier::Read, app);
    QObject::connect(notifier, &QSocketNotifier::activated, app, [notifier] {
        char byte = 0;
        while (::read(int(notifier->socket()), &byte, 1) > 0) {
        }
        // A second signal ends the process at once, should the clean-up hang.
        std::signal(SIGTERM, SIG_DFL);
        std::signal(SIGHUP, SIG_DFL);
        // exit, not quit: Lyrabell runs its window's own loop, not the
        // application's, and every loop running is to end.
        QCoreApplication::exit(0);
    });
    struct sigaction action {};
    action.sa_handler = onEndSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGHUP, &action, nullptr);
}

void setOpenFailureReporter(OpenFailureReporter reporter) {
    openFailureReporter() = std::move(reporter);
}

void reportOpenFailure(const QString& target) {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app)
        return;
    QMetaObject::invokeMethod(
        app,
        [target] {
            // A copy: the reporter may install another while it runs.
            if (const OpenFailureReporter reporter = openFailureReporter())
                reporter(target);
        },
        Qt::QueuedConnection);
}

bool shellExecuteOpen(const QString& file, const QString& parameters) {
    if (file.isEmpty()) {
        return false;
    }
    if (isUrl(file)) {
        return openUrl(file);
    }
    QList<QByteArray> args{encodeFileName(file)};
    if (!parameters.isEmpty()) {
        args << encodeFileName(parameters);
    }
    return spawn(args);
}

bool startProgram(const QString& program, const QStringList& arguments) {
    if (program.isEmpty()) {
        return false;
    }
    QList<QByteArray> args{encodeFileName(program)};
    for (const QString& a : arguments) {
        args << a.toUtf8();
    }
    return spawn(args);
}

QString runtimeDir() {
    static QMutex mutex;
    static QString fallback;  // made once per process when needed
    QMutexLocker lock(&mutex);
    const QByteArray xdg = qgetenv("XDG_RUNTIME_DIR");
    if (!xdg.isEmpty()) {
        const QByteArray dir = xdg + "/lyrabell";
        static bool reported = false;
        if (::mkdir(dir.constData(), 0700) == 0 || errno == EEXIST) {
            if (privateFolder(dir)) {
                return decodeFileName(dir);
            }
            errno = EPERM;
        }
        if (!reported) {
            reported = true;
            std::fprintf(stderr, "lyrabell: cannot use %s as a private folder (%s)\n",
                         dir.constData(), std::strerror(errno));
        }
    }
    if (fallback.isEmpty() || !privateFolder(encodeFileName(fallback))) {
        fallback = makeTemporaryFolder();
    }
    return fallback;
}

}  // namespace lyb::desktop
