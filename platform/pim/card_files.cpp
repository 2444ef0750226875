#include "platform/pim/card_files.h"

#include <QCryptographicHash>

#include <algorithm>
#include <cerrno>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/files/file_names.h"
#include "platform/files/regular_file.h"
#include "platform/paths/private_files.h"

namespace lyb::pim::detail {

int readCardFile(const QString& path, QByteArray* data, FileState* state) {
    int error = 0;
    uint64_t size = 0;
    const int fd = files::openRegularFile(files::encodeFileName(path).constData(), &error, &size);
    if (fd < 0)
        return error;
    struct stat st = {};
    if (::fstat(fd, &st) == 0)
        state->mtimeNs = qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    // One byte more than the reader takes, so that it sees the file is too long.
    error =
        files::readOpenedFile(fd, size, vcard::kMaxInput + 1, *data, files::Oversize::keepPrefix);
    state->size = qint64(size);
    state->hash = QCryptographicHash::hash(*data, QCryptographicHash::Sha256);
    return error;
}

FileCards readFile(const QString& path, QString* why) {
    FileCards out;
    QByteArray data;
    const int error = readCardFile(path, &data, &out.state);
    if (error != 0 && error != EFBIG) {
        *why = QString::fromStdString(files::errorText(error));
        return out;
    }
    vcard::ReadResult result = vcard::read(data);
    out.cards = std::move(result.cards);
    out.clean = result.problems.isEmpty();
    if (!out.clean) {
        const auto& p = result.problems.first();
        *why = p.line > 0 ? QStringLiteral("line %1: %2").arg(p.line).arg(p.reason) : p.reason;
    }
    return out;
}

bool listFolder(const QString& folder, std::vector<Stamp>* stamps) {
    DIR* dir = ::opendir(files::encodeFileName(folder).constData());
    if (!dir)
        return errno == ENOENT;
    const int fd = ::dirfd(dir);
    while (const dirent* entry = ::readdir(dir)) {
        const QString name = files::decodeFileName(entry->d_name);
        if (name.startsWith(QLatin1Char('.')) ||
            !name.endsWith(QLatin1String(".vcf"), Qt::CaseInsensitive))
            continue;
        struct stat st = {};
        Stamp stamp{name};
        if (::fstatat(fd, entry->d_name, &st, 0) == 0) {
            if (S_ISDIR(st.st_mode))
                continue;
            stamp.size = st.st_size;
            stamp.mtimeNs = qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
            stamp.inode = st.st_ino;
        }
        stamps->push_back(std::move(stamp));
    }
    ::closedir(dir);
    std::sort(stamps->begin(), stamps->end(),
              [](const Stamp& a, const Stamp& b) { return a.name < b.name; });
    return true;
}

namespace {

// A file written beside the card under a temporary name and renamed over it,
// by the name's own bytes: a card file whose name is not UTF-8 is replaced,
// not joined by a second file under a mangled name.
class CardWriter {
public:
    explicit CardWriter(const QString& path) : path_(files::encodeFileName(path)) {}
    CardWriter(const CardWriter&) = delete;
    CardWriter& operator=(const CardWriter&) = delete;
    ~CardWriter() { cancel(); }

    // Writes bytes to the temporary file; false when that fails.
    bool write(const QByteArray& bytes) {
        temp_ = path_ + ".lyb-XXXXXX";
        const int fd = ::mkstemp(temp_.data());
        if (fd < 0) {
            temp_.clear();
            return false;
        }
        // A card that exists keeps its mode; a new one is private.
        struct stat st {};
        const mode_t mode = ::stat(path_.constData(), &st) == 0 ? st.st_mode & 07777 : 0600;
        bool ok = ::fchmod(fd, mode) == 0;
        for (qsizetype done = 0; ok && done < bytes.size();) {
            const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
            if (n < 0 && errno == EINTR)
                continue;
            ok = n > 0;
            done += ok ? n : 0;
        }
        ok = ok && ::fsync(fd) == 0;
        return ::close(fd) == 0 && ok;
    }
    bool commit() {
        const bool ok = !temp_.isEmpty() && ::rename(temp_.constData(), path_.constData()) == 0;
        if (ok)
            temp_.clear();
        return ok;
    }
    void cancel() {
        if (!temp_.isEmpty())
            ::unlink(temp_.constData());
        temp_.clear();
    }

private:
    QByteArray path_;
    QByteArray temp_;
};

}  // namespace

bool writeFile(const QString& folder, const QString& path, const QByteArray& bytes) {
    if (!paths::makePrivateFolder(folder))
        return false;
    CardWriter file(path);
    return file.write(bytes) && file.commit();
}

Replaced replaceFile(const QString& path, const QByteArray& bytes, const FileState& expected) {
    CardWriter file(path);
    if (!file.write(bytes))
        return Replaced::failed;
    QByteArray now;
    FileState state;
    if (readCardFile(path, &now, &state) != 0 || !(state == expected))
        return Replaced::changed;
    return file.commit() ? Replaced::done : Replaced::failed;
}

}  // namespace lyb::pim::detail
