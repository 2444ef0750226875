#include "platform/paths/private_files.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QFileInfo>

#include <cerrno>

#include "platform/files/file_names.h"

namespace lyb::paths {

namespace {

QString judge(const struct stat& st, Owner owner, Writers writers) {
    const uid_t me = ::geteuid();
    if (st.st_uid != me && !(owner == Owner::UserOrRoot && st.st_uid == 0))
        return QStringLiteral("it belongs to another user (uid %1)").arg(st.st_uid);
    const bool stickyFolder = S_ISDIR(st.st_mode) && (st.st_mode & S_ISVTX) != 0;
    const mode_t others = writers == Writers::Owner ? (S_IWGRP | S_IWOTH) : S_IWOTH;
    if ((st.st_mode & others) != 0 && !stickyFolder)
        return QStringLiteral("other users may write it (mode %1; chmod %2 makes it private)")
            .arg(st.st_mode & 07777, 4, 8, QLatin1Char('0'))
            .arg(writers == Writers::Owner ? QLatin1String("go-w") : QLatin1String("o-w"));
    return {};
}

}  // namespace

bool makePrivateFolder(const QString& folder) {
    const QByteArray path = files::encodeFileName(folder);
    struct stat st {};
    if (::stat(path.constData(), &st) == 0)
        return S_ISDIR(st.st_mode);
    // Made from the top down, so every folder this makes is 0700.
    for (qsizetype at = path.indexOf('/', 1); at != -1 || !path.endsWith('/');
         at = path.indexOf('/', at + 1)) {
        const QByteArray part = at == -1 ? path : path.left(at);
        if (::mkdir(part.constData(), 0700) == 0) {
            // The umask may have taken the owner's bits too.
            ::chmod(part.constData(), 0700);
        } else if (errno != EEXIST) {
            return false;
        }
        if (at == -1)
            break;
    }
    return ::stat(path.constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

QString untrustedBecause(const QString& path, Owner owner, Writers writers) {
    struct stat st {};
    if (::stat(files::encodeFileName(path).constData(), &st) != 0)
        return {};
    return judge(st, owner, writers);
}

QString untrustedBecause(int fd, Owner owner, Writers writers) {
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        return QStringLiteral("it cannot be examined");
    return judge(st, owner, writers);
}

QString untrustedDatabase(const QString& path, Owner folderOwner) {
    const QString folder = QFileInfo(path).absolutePath();
    if (const QString why = untrustedBecause(folder, folderOwner); !why.isEmpty())
        return QStringLiteral("its folder %1 is not private: %2").arg(folder, why);
    for (const char* suffix : {"", "-wal", "-shm"}) {
        const QString file = path + QLatin1String(suffix);
        if (const QString why = untrustedBecause(file); !why.isEmpty())
            return QStringLiteral("%1: %2").arg(file, why);
    }
    return {};
}

}  // namespace lyb::paths
