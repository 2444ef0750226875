// The one-instance lock, starting programs and URLs, and the private folder.
#include "platform/desktop/desktop.h"
#include "platform/desktop/desktop_internal.h"
#include "platform/desktop/file_names.h"
#include "platform/paths/paths.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QGuiApplication>
#include <QMutex>
#include <QMutexLocker>
#include <QUrl>

#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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
// zombie; waiting for one pid never takes another part's child.
void reapLater(pid_t pid) {
    std::thread([pid] {
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }).detach();
}

// Starts argv[0] (searched on PATH when it has no slash) without a shell.
bool spawn(const QList<QByteArray>& args) {
    std::vector<char*> argv;
    argv.reserve(size_t(args.size()) + 1);
    for (const QByteArray& a : args) {
        argv.push_back(const_cast<char*>(a.constData()));
    }
    argv.push_back(nullptr);
    pid_t pid = 0;
    const int rc = ::posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ);
    if (rc != 0) {
        return false;
    }
    reapLater(pid);
    return true;
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
    // LYRABELL_URL_OPENER names a program to take URLs instead of the
    // desktop's handler (scripts and tests use it).
    const QByteArray opener = qgetenv("LYRABELL_URL_OPENER");
    if (!opener.isEmpty()) {
        return spawn({opener, text.toUtf8()});
    }
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr &&
        QDesktopServices::openUrl(QUrl(text))) {
        return true;
    }
    return spawn({QByteArrayLiteral("xdg-open"), text.toUtf8()});
}

// Returns the folder for instance locks, which every process of the user must
// agree on: the runtime folder when XDG_RUNTIME_DIR names one, otherwise
// lyrabell-<uid> in the temporary folder, used only when it is a private
// folder of this user (someone else's or a link is refused).
QString lockDir() {
    if (!qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR")) {
        return runtimeDir();
    }
    QByteArray base = qgetenv("TMPDIR");
    if (base.isEmpty()) {
        base = "/tmp";
    }
    const QByteArray dir = base + "/lyrabell-" + QByteArray::number(::getuid());
    if ((::mkdir(dir.constData(), 0700) == 0 || errno == EEXIST) && privateFolder(dir)) {
        return decodeFileName(dir);
    }
    std::fprintf(stderr, "lyrabell: %s is not a private folder; the instance lock is local\n",
                 dir.constData());
    return runtimeDir();
}

}  // namespace

InstanceLock::InstanceLock(const QString& programPath) {
    const QString dir = lockDir();
    if (dir.isEmpty()) {
        return;
    }
    // A hash keeps the name short and free of slashes whatever the path.
    const QByteArray key = programPath.toUtf8();
    uint64_t hash = 14695981039346656037ull;
    for (char c : key) {
        hash ^= static_cast<uint8_t>(c);
        hash *= 1099511628211ull;
    }
    const QByteArray file = encodeFileName(dir) + "/instance-" +
                            QByteArray::number(qulonglong(hash), 16).rightJustified(16, '0') +
                            ".lock";
    // Every instance opens the same file, so it cannot be made afresh; a link
    // or a file that is not this user's own (left in a folder that was once
    // open to others) is refused instead.
    fd_ = ::open(file.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
    struct stat st {};
    if (fd_ >= 0 && (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::getuid())) {
        ::close(fd_);
        fd_ = -1;
        errno = EPERM;
    }
    if (fd_ < 0) {
        std::fprintf(stderr, "lyrabell: cannot open the instance lock %s: %s\n", file.constData(),
                     std::strerror(errno));
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

UserLock::UserLock(const char* name) {
    const QByteArray file = encodeFileName(lockDir()) + '/' + name + ".lock";
    fd_ = ::open(file.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    int rc = -1;
    while (fd_ >= 0 && (rc = ::flock(fd_, LOCK_EX)) != 0 && errno == EINTR) {
    }
    if (rc != 0) {
        std::fprintf(stderr, "lyrabell: cannot take the lock %s: %s\n", file.constData(),
                     std::strerror(errno));
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }
}

UserLock::~UserLock() {
    if (fd_ >= 0)
        ::close(fd_);  // closing the last descriptor releases the flock
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

QString currentProgramPath() {
    const QByteArray name = paths::program_file_name();
    if (name.isEmpty())
        return QCoreApplication::instance() ? QCoreApplication::applicationFilePath() : QString();
    return decodeFileName(name);
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
