// The demo account an installed program uses: the user's own copy of the
// installed demo. The installed one is never written (a program run as root
// could, and its marks would outlive the package), while heard marks and
// deletions are to work on the demo as on any account.
#include "platform/files/file_names.h"
#include "platform/paths/paths.h"
#include "platform/paths/private_files.h"

#include <QDir>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace lyb::paths {

namespace {

bool copyFile(const QByteArray& from, const QByteArray& to, const struct stat& st) {
    const int in = ::open(from.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (in < 0)
        return false;
    const int out = ::open(to.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    bool ok = out >= 0;
    char buffer[64 * 1024];
    while (ok) {
        const ssize_t n = ::read(in, buffer, sizeof buffer);
        if (n == 0)
            break;
        if (n < 0) {
            ok = errno == EINTR;
            continue;
        }
        for (ssize_t done = 0; ok && done < n;) {
            const ssize_t w = ::write(out, buffer + done, size_t(n - done));
            ok = w > 0 || (w < 0 && errno == EINTR);
            done += w > 0 ? w : 0;
        }
    }
    // A Maildir message's time is when it arrived; the copy keeps it.
    const struct timespec times[2] = {st.st_atim, st.st_mtim};
    ok = ok && ::futimens(out, times) == 0;
    if (out >= 0)
        ok = ::close(out) == 0 && ok;
    ::close(in);
    return ok;
}

// Copies the folders and regular files in from into the existing folder to;
// anything else (links, devices) is no part of the demo and is passed over.
bool copyContents(const QByteArray& from, const QByteArray& to) {
    DIR* dir = ::opendir(from.constData());
    if (!dir)
        return false;
    bool ok = true;
    while (const dirent* e = ::readdir(dir)) {
        if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0)
            continue;
        const QByteArray source = from + '/' + e->d_name;
        const QByteArray target = to + '/' + e->d_name;
        struct stat st {};
        if (::lstat(source.constData(), &st) != 0) {
            ok = false;
        } else if (S_ISDIR(st.st_mode)) {
            ok = ::mkdir(target.constData(), 0700) == 0 && copyContents(source, target);
        } else if (S_ISREG(st.st_mode)) {
            ok = copyFile(source, target, st);
        }
        if (!ok)
            break;
    }
    ::closedir(dir);
    return ok;
}

void removeTree(const QByteArray& path) {
    if (DIR* dir = ::opendir(path.constData())) {
        while (const dirent* e = ::readdir(dir)) {
            if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0)
                continue;
            const QByteArray entry = path + '/' + e->d_name;
            struct stat st {};
            if (::lstat(entry.constData(), &st) == 0 && S_ISDIR(st.st_mode))
                removeTree(entry);
            else
                ::unlink(entry.constData());
        }
        ::closedir(dir);
    }
    ::rmdir(path.constData());
}

// $XDG_DATA_HOME/lyrabell, where the user's contacts are kept too.
QString userDataFolder() {
    QString data = files::decodeFileName(qgetenv("XDG_DATA_HOME"));
    if (data.isEmpty() || !QDir::isAbsolutePath(data)) {
        const QString home = QDir::homePath();
        if (home.isEmpty())
            return {};
        data = home + QStringLiteral("/.local/share");
    }
    return data + QStringLiteral("/lyrabell");
}

}  // namespace

QString demo_account_folder() {
    const QString shipped = demo_folder();
    if (shipped.isEmpty() || data_folder() == program_folder())
        return shipped;  // a build's own demo, made beside its programs
    const QString user = userDataFolder();
    if (user.isEmpty())
        return {};
    const QString copy = user + QStringLiteral("/demo");
    const QByteArray target = files::encodeFileName(copy);
    struct stat st {};
    if (::stat(target.constData(), &st) == 0)
        return copy;
    if (::stat(files::encodeFileName(shipped).constData(), &st) != 0 || !S_ISDIR(st.st_mode))
        return {};  // installed without the demo
    // Made whole beside its place and then renamed into it, so that a
    // program starting meanwhile finds either no copy or a complete one.
    if (!makePrivateFolder(user))
        return {};
    QByteArray stage = files::encodeFileName(user) + "/.demo-XXXXXX";
    bool ok = ::mkdtemp(stage.data()) != nullptr;
    if (ok && copyContents(files::encodeFileName(shipped), stage) &&
        ::rename(stage.constData(), target.constData()) == 0)
        return copy;
    const int error = errno;
    if (ok)
        removeTree(stage);
    if (::stat(target.constData(), &st) == 0)
        return copy;  // another program made it first
    std::fprintf(stderr, "lyrabell: the demo account cannot be copied to %s: %s\n",
                 target.constData(), std::strerror(error));
    return {};
}

}  // namespace lyb::paths
