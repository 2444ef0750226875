#include "platform/mapi/maildir_provider.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <deque>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <thread>

#include "platform/files/file_names.h"
#include "platform/files/regular_file.h"
#include "platform/mapi/imap_url.h"
#include "platform/mapi/mime_content.h"
#include "platform/mapi/row_table.h"
#include "platform/paths/paths.h"
#include "platform/paths/private_files.h"

namespace lyb::mapi {

namespace {

// ---------------------------------------------------------------- entry ids

constexpr char kMagic[] = "LYB1";

// The two fields are file names (a Maildir and a unique name) or an account's
// name, kept as the file-name bytes: UTF-8 for any valid name, and a name that
// is not UTF-8 still names its file once read back.
QByteArray makeId(char kind, const QString& first, const QString& second) {
    QByteArray id(kMagic);
    id.append(kind);
    id.append(files::encodeFileName(first));
    id.append('\0');
    id.append(files::encodeFileName(second));
    return id;
}

bool parseId(const QByteArray& id, char kind, QString& first, QString& second) {
    if (id.size() < 5 || !id.startsWith(kMagic) || id[4] != kind)
        return false;
    const QByteArray body = id.mid(5);
    const qsizetype nul = body.indexOf('\0');
    // No file name has a zero byte, and the system calls would take the name
    // only up to it: another file, or a message deleted under a wrong id.
    if (nul < 0 || body.indexOf('\0', nul + 1) >= 0)
        return false;
    first = files::decodeFileName(body.left(nul));
    second = files::decodeFileName(body.mid(nul + 1));
    return true;
}

// ---------------------------------------------------------------- Maildir files

// The bytes of a path for the system calls; names read from a folder come
// back whole (file_names.h), whatever their bytes.
QByteArray native(const QString& path) {
    return files::encodeFileName(path);
}

bool isDir(const QString& path) {
    struct stat st;
    return ::stat(native(path).constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool exists(const QString& path) {
    struct stat st;
    return ::lstat(native(path).constData(), &st) == 0;
}

// Reads a message file whole: a regular file of at most kMaxMessageFileBytes.
// Returns 0 or the error (files::readRegularFile); ENOENT when it is gone.
int readMessageFile(const QString& path, QByteArray& bytes) {
    return files::readRegularFile(native(path).constData(), kMaxMessageFileBytes, bytes);
}

// The flags of a file name in the ":2,FLAGS" form; empty otherwise.
QString flagsOf(const QString& fileName) {
    const qsizetype info = fileName.indexOf(QLatin1String(":2,"));
    return info < 0 ? QString() : fileName.mid(info + 3);
}

int64_t mtimeNs(const QString& dir) {
    struct stat st;
    if (::stat(native(dir).constData(), &st) != 0)
        return -1;
    return static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
}

// ---------------------------------------------------------------- listings

// One file of a listing. Its name is kept as bytes in Listing::names.
struct ListedFile {
    uint32_t offset = 0;        // of the name, NUL-terminated, in Listing::names
    uint32_t length = 0;        // of the whole file name
    uint32_t uniqueLength = 0;  // of the unique name, up to the first ':'
    bool inCur = false;
    ino_t inode = 0;
};

// What a listing is sorted by: the unique name's first 16 bytes as two
// big-endian numbers (zeros after a shorter name), which order most names
// without looking at them, and the file's place in the order read.
struct SortKey {
    uint64_t head[2] = {0, 0};
    uint32_t index = 0;
};

SortKey sortKey(std::string_view unique, uint32_t index) {
    SortKey key;
    key.index = index;
    for (size_t i = 0; i < 16 && i < unique.size(); ++i)
        key.head[i / 8] |= uint64_t{static_cast<unsigned char>(unique[i])} << (8 * (7 - i % 8));
    return key;
}

// A contents table's rows: one file per unique name, ordered by the bytes of
// the unique names. Sizes and modification times are looked at when a row
// asks for one, then kept. A listing does not change once made, except that
// sizes and times are filled in, which any thread may do (each an atomic
// value; two looks give the same answer).
class Listing {
public:
    static constexpr int64_t kUnknown = -2;  // not looked at yet
    static constexpr int64_t kMissing = -1;  // the file could not be looked at

    Listing() = default;
    Listing(const Listing&) = delete;
    Listing& operator=(const Listing&) = delete;
    ~Listing() {
        for (int fd : {newFd, curFd}) {
            if (fd >= 0)
                ::close(fd);
        }
    }

    std::string_view name(const ListedFile& f) const { return {names.data() + f.offset, f.length}; }
    std::string_view unique(const ListedFile& f) const {
        return {names.data() + f.offset, f.uniqueLength};
    }

    // The file of a unique name; null when the listing has none.
    const ListedFile* find(std::string_view wanted) const {
        auto it = std::lower_bound(
            files.begin(), files.end(), wanted,
            [this](const ListedFile& f, std::string_view u) { return unique(f) < u; });
        return it != files.end() && unique(*it) == wanted ? &*it : nullptr;
    }

    // The file's size in bytes, or kMissing.
    int64_t size(size_t index) {
        int64_t size = sizes[index].load(std::memory_order_relaxed);
        if (size != kUnknown)
            return size;
        size = sizeInName(unique(files[index]));
        if (size < 0)
            return look(index).first;
        sizes[index].store(size, std::memory_order_relaxed);
        return size;
    }

    // The file's modification time in 100 ns units since 1601, or kMissing.
    int64_t modified(size_t index) {
        const int64_t time = times[index].load(std::memory_order_relaxed);
        return time != kUnknown ? time : look(index).second;
    }

    // Takes the sizes already known of files that an earlier listing of the
    // same folder had under the same name, subfolder and inode: Maildir files
    // are written whole before they are moved in, and a file replaced under
    // its name is another inode.
    void keepSizes(const Listing& earlier) {
        size_t j = 0;
        for (size_t i = 0; i < files.size() && j < earlier.files.size(); ++i) {
            const std::string_view u = unique(files[i]);
            while (j < earlier.files.size() && earlier.unique(earlier.files[j]) < u)
                ++j;
            if (j == earlier.files.size())
                break;
            const ListedFile& then = earlier.files[j];
            if (then.inode != files[i].inode || then.inCur != files[i].inCur ||
                earlier.name(then) != name(files[i]))
                continue;
            if (const int64_t known = earlier.sizes[j].load(std::memory_order_relaxed); known >= 0)
                sizes[i].store(known, std::memory_order_relaxed);
            if (const int64_t known = earlier.times[j].load(std::memory_order_relaxed); known >= 0)
                times[i].store(known, std::memory_order_relaxed);
        }
    }

    // Sorts what was read and keeps the last read of each unique name.
    void settle() {
        std::vector<SortKey> keys;
        keys.reserve(files.size());
        for (size_t i = 0; i < files.size(); ++i)
            keys.push_back(sortKey(unique(files[i]), static_cast<uint32_t>(i)));
        std::sort(keys.begin(), keys.end(), [this](const SortKey& a, const SortKey& b) {
            if (a.head[0] != b.head[0])
                return a.head[0] < b.head[0];
            if (a.head[1] != b.head[1])
                return a.head[1] < b.head[1];
            const int c = unique(files[a.index]).compare(unique(files[b.index]));
            return c != 0 ? c < 0 : a.index < b.index;
        });
        std::vector<ListedFile> sorted;
        sorted.reserve(keys.size());
        for (size_t i = 0; i < keys.size(); ++i) {
            const ListedFile& f = files[keys[i].index];
            if (i + 1 < keys.size() && unique(f) == unique(files[keys[i + 1].index]))
                continue;
            sorted.push_back(f);
        }
        files = std::move(sorted);
        sizes = std::make_unique<std::atomic<int64_t>[]>(files.size());
        times = std::make_unique<std::atomic<int64_t>[]>(files.size());
        for (size_t i = 0; i < files.size(); ++i) {
            sizes[i].store(kUnknown, std::memory_order_relaxed);
            times[i].store(kUnknown, std::memory_order_relaxed);
        }
    }

    // The size a ",S=" field of the unique name gives (as Dovecot and
    // others write it); -1 without one.
    static int64_t sizeInName(std::string_view unique) {
        const size_t at = unique.find(",S=");
        if (at == std::string_view::npos)
            return -1;
        int64_t size = 0;
        size_t i = at + 3;
        for (; i < unique.size() && unique[i] >= '0' && unique[i] <= '9'; ++i) {
            if (size > (INT64_MAX - 9) / 10)
                return -1;
            size = size * 10 + (unique[i] - '0');
        }
        const bool ended = i == unique.size() || unique[i] == ',';
        return i > at + 3 && ended ? size : -1;
    }

    std::string names;
    std::vector<ListedFile> files;
    std::unique_ptr<std::atomic<int64_t>[]> sizes;
    std::unique_ptr<std::atomic<int64_t>[]> times;
    int newFd = -1;  // new/ and cur/, for looking at sizes
    int curFd = -1;

private:
    // Looks at the file once for both its size and its modification time.
    std::pair<int64_t, int64_t> look(size_t index) {
        const ListedFile& f = files[index];
        const int dir = f.inCur ? curFd : newFd;
        struct stat st;
        if (dir < 0 || ::fstatat(dir, names.data() + f.offset, &st, 0) != 0) {
            sizes[index].store(kMissing, std::memory_order_relaxed);
            times[index].store(kMissing, std::memory_order_relaxed);
            return {kMissing, kMissing};
        }
        const int64_t time = static_cast<int64_t>(unixToFileTime(st.st_mtim.tv_sec) +
                                                  uint64_t(st.st_mtim.tv_nsec) / 100);
        // A size the name gives stays the size.
        int64_t size = sizeInName(unique(f));
        if (size < 0)
            size = st.st_size;
        sizes[index].store(size, std::memory_order_relaxed);
        times[index].store(time, std::memory_order_relaxed);
        return {size, time};
    }
};

// Adds the messages of a subfolder to a listing; false when it cannot be read.
bool readNames(const QString& dir, bool inCur, Listing& listing) {
    DIR* d = ::opendir(native(dir).constData());
    if (!d)
        return false;
    while (const dirent* e = ::readdir(d)) {
        if (e->d_name[0] == '.')
            continue;  // ".", ".." and hidden files are not messages
        const size_t length = std::strlen(e->d_name);
        const void* colon = std::memchr(e->d_name, ':', length);
        ListedFile f;
        f.offset = static_cast<uint32_t>(listing.names.size());
        f.length = static_cast<uint32_t>(length);
        f.uniqueLength =
            static_cast<uint32_t>(colon ? static_cast<const char*>(colon) - e->d_name : length);
        f.inode = e->d_ino;
        f.inCur = inCur;
        listing.names.append(e->d_name, length + 1);  // with its NUL
        listing.files.push_back(f);
    }
    ::closedir(d);
    return true;
}

int openDir(const QString& dir) {
    return ::open(native(dir).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

// Lists a Maildir: new/ first, then cur/ until its modification time holds
// still over one read (a few times at most), one entry per unique name. A
// message moved from new/ to cur/ meanwhile is found in one or the other.
bool listMaildir(const QString& root, Listing& listing) {
    const QString newDir = root + QStringLiteral("/new");
    const QString curDir = root + QStringLiteral("/cur");
    listing.newFd = openDir(newDir);
    listing.curFd = openDir(curDir);
    const bool newOk = readNames(newDir, false, listing);
    bool curOk = false;
    for (int attempt = 0; attempt < 4; ++attempt) {
        const int64_t before = mtimeNs(curDir);
        curOk = readNames(curDir, true, listing) || curOk;
        if (mtimeNs(curDir) == before)
            break;
    }
    listing.settle();
    return newOk || curOk;
}

// The flags of a file name in the ":2,FLAGS" form hold 'S'.
bool seenIn(std::string_view fileName) {
    const size_t info = fileName.find(":2,");
    return info != std::string_view::npos && fileName.find('S', info + 3) != std::string_view::npos;
}

// The rows of a listing; only the columns asked for are made.
class CListingTable final : public IMAPITable {
public:
    CListingTable(std::shared_ptr<Listing> listing, QByteArray idPrefix)
        : listing_(std::move(listing)), idPrefix_(std::move(idPrefix)) {}

    HRESULT SetColumns(const std::vector<uint32_t>& tags, uint32_t) override {
        columns_ = tags;
        return S_OK;
    }
    HRESULT QueryRows(int count, uint32_t, SRowSet& rows) override {
        const size_t n =
            std::min(static_cast<size_t>(std::max(count, 0)), listing_->files.size() - next_);
        rows.resize(n);
        for (SRow& row : rows) {
            row.clear();
            makeRow(next_++, row);
        }
        return S_OK;
    }

private:
    void makeRow(size_t index, SRow& row) {
        const ListedFile& f = listing_->files[index];
        for (uint32_t tag : columns_) {
            SPropValue& v = row.emplace_back();
            v.ulPropTag = tag;
            switch (tag) {
                case PR_ENTRYID: {
                    const std::string_view unique = listing_->unique(f);
                    v.bin = QByteArray(idPrefix_.size() + static_cast<qsizetype>(unique.size()),
                                       Qt::Uninitialized);
                    std::memcpy(v.bin.data(), idPrefix_.constData(),
                                static_cast<size_t>(idPrefix_.size()));
                    std::memcpy(v.bin.data() + idPrefix_.size(), unique.data(), unique.size());
                    break;
                }
                case PR_MESSAGE_FLAGS:
                    v.l = seenIn(listing_->name(f)) ? static_cast<int32_t>(MSGFLAG_READ) : 0;
                    break;
                case PR_MESSAGE_SIZE: {
                    const int64_t size = listing_->size(index);
                    if (size < 0)
                        v = SPropValue::error(tag, MAPI_E_NOT_FOUND);
                    else
                        v.l = static_cast<int32_t>(std::min<int64_t>(size, INT32_MAX));
                    break;
                }
                case PR_LAST_MODIFICATION_TIME: {
                    const int64_t time = listing_->modified(index);
                    if (time < 0)
                        v = SPropValue::error(tag, MAPI_E_NOT_FOUND);
                    else
                        v.ft = static_cast<uint64_t>(time);
                    break;
                }
                default:
                    v = SPropValue::error(tag, MAPI_E_NOT_FOUND);
                    break;
            }
        }
    }

    std::shared_ptr<Listing> listing_;
    QByteArray idPrefix_;  // a message id up to its unique name
    std::vector<uint32_t> columns_{PR_ENTRYID};
    size_t next_ = 0;
};

// How often a message that vanished under its name is looked for again
// before the work is given up. Another client renaming flags moves a file
// between names; each look sees it unless that happens again at once.
constexpr int kAttempts = 8;
// How many reads of new/ and cur/ in a row must miss a message before it
// counts as gone.
constexpr int kLookups = 3;

// What a lookup found; when asked to, the file opened the moment its name
// was read, so that another client's rename cannot come in between.
struct Found {
    QString rel;  // "new/x" or "cur/x:2,S"; empty when the message is gone
    int fd = -1;  // the open file (owned by the caller), or -1
    uint64_t size = 0;
    int error = 0;  // why the open failed
};

// The file name in dir with the given unique name; empty when there is none.
// It stops at the first match, so that the name is as fresh as it can be.
// With found, it also opens the file there (see Found).
QString findUnique(const QString& dir, const QString& unique, Found* found = nullptr) {
    DIR* d = ::opendir(native(dir).constData());
    if (!d)
        return {};
    const QByteArray wanted = native(unique);
    QString name;
    while (const dirent* e = ::readdir(d)) {
        if (e->d_name[0] == '.')
            continue;  // as in a listing: never a message
        if (std::strncmp(e->d_name, wanted.constData(), size_t(wanted.size())) == 0 &&
            (e->d_name[wanted.size()] == ':' || e->d_name[wanted.size()] == '\0')) {
            if (found)
                found->fd =
                    files::openRegularFileAt(::dirfd(d), e->d_name, &found->error, &found->size);
            name = files::decodeFileName(e->d_name);
            break;
        }
    }
    ::closedir(d);
    return name;
}

// Finds the current file of a unique name: the hint when it still exists,
// else the name found in new/ and then cur/ (the way messages move). A
// directory read can miss a file that another client renames while it runs,
// and a folder's change time is too coarse to tell, so the message counts as
// gone only when several reads in a row miss it. Empty when it is gone. With
// found, the file found by a directory read is opened there and then.
QString locate(const QString& root, const QString& unique, const QString& hint,
               Found* found = nullptr) {
    if (!hint.isEmpty() && exists(root + QLatin1Char('/') + hint))
        return hint;
    for (int attempt = 0; attempt < kLookups; ++attempt) {
        for (const QString& dir : {QStringLiteral("new"), QStringLiteral("cur")}) {
            const QString name = findUnique(root + QLatin1Char('/') + dir, unique, found);
            if (!name.isEmpty())
                return dir + QLatin1Char('/') + name;
        }
    }
    return {};
}

// Reads the message of a unique name: at rel (the name last seen, may be
// empty) and, while the file vanishes between finding and opening it, at the
// name found again. rel gets the file read. Returns 0, ENOENT when the
// message is gone, or the error that stopped the read.
int readMessage(const QString& root, const QString& unique, QString& rel, QByteArray& bytes) {
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        Found found;
        if (rel.isEmpty())
            rel = locate(root, unique, QString(), &found);
        if (rel.isEmpty())
            return ENOENT;
        const int error =
            found.fd >= 0 ? files::readOpenedFile(found.fd, found.size, kMaxMessageFileBytes, bytes)
            : found.error != 0 ? found.error
                               : readMessageFile(root + QLatin1Char('/') + rel, bytes);
        if (error != ENOENT)
            return error;
        rel.clear();
        // A client that renames in step with these reads (it waits for the
        // folder while it is read, then renames at once) would win every
        // time; a growing pause breaks the step.
        std::this_thread::sleep_for(std::chrono::microseconds(20 << attempt));
    }
    return ENOENT;
}

bool makeDir(const QString& path) {
    return ::mkdir(native(path).constData(), 0700) == 0 || errno == EEXIST;
}

enum class Move { done, sourceGone, targetTaken, failed };

// Moves a file without replacing anything at the target: a hard link, then
// the unlink of the source. When the unlink fails (another client renamed the
// file between the two), the link is undone, so the message stays in one
// place; sourceGone tells the caller to find it again. File systems without
// hard links get a plain rename when the target is free. errno is kept for failed.
Move moveNoReplace(const QString& from, const QString& to) {
    const QByteArray src = native(from), dst = native(to);
    if (::link(src.constData(), dst.constData()) == 0) {
        if (::unlink(src.constData()) == 0)
            return Move::done;
        const int error = errno;
        ::unlink(dst.constData());
        errno = error;
        return error == ENOENT ? Move::sourceGone : Move::failed;
    }
    if (errno == EEXIST)
        return Move::targetTaken;
    if (errno == ENOENT)
        return Move::sourceGone;
    if (exists(to))
        return Move::targetTaken;
    if (::rename(src.constData(), dst.constData()) == 0)
        return Move::done;
    return errno == ENOENT ? Move::sourceGone : Move::failed;
}

HRESULT accessError(int error) {
    return error == EACCES || error == EROFS || error == EPERM ? MAPI_E_NO_ACCESS : E_FAIL;
}

// ---------------------------------------------------------------- content cache

// Parsed messages are kept for the few messages used last, so building one
// record parses its file once while thousands of open messages stay small.
class CContentCache {
public:
    std::shared_ptr<const MimeContent> find(const QString& key) {
        std::lock_guard lock(mutex_);
        for (auto it = entries_.begin(); it != entries_.end(); ++it) {
            if (it->first == key) {
                auto hit = *it;
                entries_.erase(it);
                entries_.push_front(hit);
                return hit.second;
            }
        }
        return nullptr;
    }
    void put(const QString& key, std::shared_ptr<const MimeContent> content) {
        std::lock_guard lock(mutex_);
        entries_.emplace_front(key, std::move(content));
        if (entries_.size() > kCapacity)
            entries_.pop_back();
    }

private:
    static constexpr size_t kCapacity = 4;
    std::mutex mutex_;
    std::deque<std::pair<QString, std::shared_ptr<const MimeContent>>> entries_;
};

CContentCache& contentCache() {
    static CContentCache cache;
    return cache;
}

// ---------------------------------------------------------------- objects

QString extensionOf(const QString& fileName) {
    const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
    return dot < 0 ? QString() : fileName.mid(dot);
}

SRow attachmentRow(const MimeAttachment& a, uint32_t number) {
    SRow row{longProp(PR_ATTACH_NUM, static_cast<int32_t>(number)),
             strProp(PR_ATTACH_MIME_TAG_W, a.mimeType)};
    if (!a.fileName.isEmpty()) {
        row.push_back(strProp(PR_ATTACH_FILENAME_W, a.fileName));
        row.push_back(strProp(PR_ATTACH_LONG_FILENAME_W, a.fileName));
        const QString ext = extensionOf(a.fileName);
        if (!ext.isEmpty())
            row.push_back(strProp(PR_ATTACH_EXTENSION_W, ext));
    }
    return row;
}

class CMaildirAttach final : public IAttach {
public:
    CMaildirAttach(std::shared_ptr<const MimeContent> content, uint32_t number)
        : content_(std::move(content)), number_(number) {}

    // The content is decoded as the stream is read.
    HRESULT OpenProperty(uint32_t tag, uint32_t options, uint32_t flags,
                         IStream** stream) override {
        if (tag != PR_ATTACH_DATA_BIN || !stream)
            return IAttach::OpenProperty(tag, options, flags, stream);
        *stream = content_->attachments[number_].content.open();
        return *stream ? S_OK : MAPI_E_NOT_FOUND;
    }

protected:
    SPropValue getProp(uint32_t tag) override {
        const MimeAttachment& a = content_->attachments[number_];
        if (tag == PR_ATTACH_DATA_BIN) {
            QByteArray data = a.content.decoded();
            if (data.isEmpty())
                return SPropValue::error(tag, MAPI_E_NOT_FOUND);
            return binProp(tag, std::move(data));
        }
        for (const SPropValue& v : attachmentRow(a, number_)) {
            if (v.ulPropTag == tag)
                return v;
        }
        return SPropValue::error(tag, MAPI_E_NOT_FOUND);
    }

private:
    std::shared_ptr<const MimeContent> content_;
    uint32_t number_;
};

class CMaildirMessage final : public IMessage {
public:
    // A message of a Maildir (root non-empty) or a lone file or buffer.
    // bytes: the file as read when it was found, parsed when first needed.
    CMaildirMessage(QString root, QString unique, QString relPath,
                    std::optional<QByteArray> bytes = std::nullopt)
        : root_(std::move(root)),
          unique_(std::move(unique)),
          relPath_(std::move(relPath)),
          pending_(std::move(bytes)) {}
    explicit CMaildirMessage(const QByteArray& bytes)
        : own_(std::make_shared<MimeContent>(parseMimeContent(bytes))) {}
    CMaildirMessage(QString path, std::shared_ptr<const MimeContent> content)
        : relPath_(std::move(path)), own_(std::move(content)) {}

    HRESULT GetAttachmentTable(uint32_t, std::unique_ptr<IMAPITable>& table) override {
        auto c = content();
        if (!c)
            return MAPI_E_NOT_FOUND;
        SRowSet rows;
        for (size_t i = 0; i < c->attachments.size(); ++i) {
            rows.push_back(attachmentRow(c->attachments[i], static_cast<uint32_t>(i)));
        }
        table = std::make_unique<CRowTable>(std::move(rows));
        return S_OK;
    }

    HRESULT OpenAttach(uint32_t number, uint32_t, std::unique_ptr<IAttach>& attach) override {
        auto c = content();
        if (!c)
            return MAPI_E_NOT_FOUND;
        if (number >= c->attachments.size())
            return MAPI_E_NOT_FOUND;
        attach = std::make_unique<CMaildirAttach>(std::move(c), number);
        return S_OK;
    }

    HRESULT SetProps(const std::vector<SPropValue>& values) override {
        HRESULT hr = S_OK;
        for (const SPropValue& v : values) {
            if (v.ulPropTag != PR_MESSAGE_FLAGS) {
                hr = MAPI_W_ERRORS_RETURNED;
                continue;
            }
            const HRESULT one = setSeen((v.l & MSGFLAG_READ) != 0);
            if (Failed(one))
                return one;
        }
        return hr;
    }

protected:
    SPropValue getProp(uint32_t tag) override {
        if (tag == PR_ENTRYID && !root_.isEmpty())
            return binProp(tag, messageEntryId(root_, unique_));
        if (tag == PR_PARENT_ENTRYID && !root_.isEmpty())
            return binProp(tag, makeId('F', root_, QString()));
        if (tag == PR_MESSAGE_FLAGS) {
            auto c = content();
            if (!c)
                return SPropValue::error(tag, MAPI_E_NOT_FOUND);
            int32_t flags = flagsOf(QFileInfo(relPath_).fileName()).contains(QLatin1Char('S'))
                                ? MSGFLAG_READ
                                : 0;
            if (!c->attachments.empty())
                flags |= MSGFLAG_HASATTACH;
            return longProp(tag, flags);
        }
        auto c = content();
        if (!c)
            return SPropValue::error(tag, MAPI_E_NOT_FOUND);
        switch (tag) {
            case PR_SUBJECT_W:
                if (c->subject)
                    return strProp(tag, *c->subject);
                break;
            case PR_BODY_W:
                if (c->bodyText)
                    return strProp(tag, *c->bodyText);
                break;
            case PR_BODY_HTML_W:
                if (c->bodyHtml)
                    return strProp(tag, *c->bodyHtml);
                break;
            case PR_MIME_RAW:
                return binProp(tag, c->raw);
            case PR_HASATTACH: {
                SPropValue v;
                v.ulPropTag = tag;
                v.b = !c->attachments.empty();
                return v;
            }
            case PR_MESSAGE_DELIVERY_TIME: {
                SPropValue v;
                v.ulPropTag = tag;
                if (c->deliveryTime) {
                    v.ft = *c->deliveryTime;
                } else {
                    struct stat st;
                    if (::stat(native(filePath()).constData(), &st) != 0)
                        break;
                    v.ft = unixToFileTime(st.st_mtim.tv_sec);
                }
                return v;
            }
            default:
                break;
        }
        return SPropValue::error(tag, MAPI_E_NOT_FOUND);
    }

private:
    QString filePath() const {
        return root_.isEmpty() ? relPath_ : root_ + QLatin1Char('/') + relPath_;
    }

    // The parsed file, read when first needed; null when the file is gone.
    std::shared_ptr<const MimeContent> content() {
        if (own_)
            return own_;
        const QString key = root_ + QLatin1Char('\0') + unique_;
        std::optional<QByteArray> bytes = std::move(pending_);
        pending_.reset();
        if (auto hit = contentCache().find(key))
            return hit;
        if (!bytes) {
            QByteArray read;
            if (readMessage(root_, unique_, relPath_, read) != 0)
                return nullptr;
            bytes = std::move(read);
        }
        auto parsed = std::make_shared<const MimeContent>(parseMimeContent(*bytes));
        contentCache().put(key, parsed);
        return parsed;
    }

    // Renames the file to carry the Seen flag or not (maildir_provider.h).
    HRESULT setSeen(bool seen) {
        if (root_.isEmpty())
            return MAPI_E_NO_SUPPORT;
        for (int attempt = 0; attempt < kAttempts; ++attempt) {
            const QString current = locate(root_, unique_, relPath_);
            if (current.isEmpty())
                return MAPI_E_NOT_FOUND;
            relPath_ = current;
            const QString name = QFileInfo(current).fileName();
            const bool inNew = current.startsWith(QLatin1String("new/"));
            const bool hasInfo = name.contains(QLatin1Char(':'));
            if (hasInfo && !name.contains(QLatin1String(":2,")))
                return MAPI_E_NO_SUPPORT;
            QString flags = flagsOf(name);
            if (seen == flags.contains(QLatin1Char('S')))
                return S_OK;
            if (seen) {
                flags.append(QLatin1Char('S'));
            } else {
                flags.remove(QLatin1Char('S'));
            }
            std::sort(flags.begin(), flags.end());
            if (!seen && inNew && !hasInfo)
                return S_OK;
            const QString target = QStringLiteral("cur/") + unique_ + QStringLiteral(":2,") + flags;
            if (::rename(native(filePath()).constData(),
                         native(root_ + QLatin1Char('/') + target).constData()) == 0) {
                relPath_ = target;
                return S_OK;
            }
            if (errno != ENOENT)
                return accessError(errno);
            relPath_.clear();  // renamed by someone else meanwhile: look again
        }
        // Still there, but it kept moving away each time.
        return E_FAIL;
    }

    QString root_;
    QString unique_;
    QString relPath_;
    std::optional<QByteArray> pending_;
    std::shared_ptr<const MimeContent> own_;
};

class CMaildirFolder final : public IMAPIFolder {
public:
    explicit CMaildirFolder(QString root) : root_(std::move(root)) {}

    HRESULT GetContentsTable(uint32_t, std::unique_ptr<IMAPITable>& table) override {
        if (root_.isEmpty()) {
            table = std::make_unique<CRowTable>(SRowSet());
            return S_OK;
        }
        auto listing = std::make_shared<Listing>();
        if (!listMaildir(root_, *listing))
            return MAPI_E_NOT_FOUND;
        if (last_)
            listing->keepSizes(*last_);
        last_ = listing;
        QByteArray prefix = makeId('M', root_, QString());
        table = std::make_unique<CListingTable>(std::move(listing), std::move(prefix));
        return S_OK;
    }

    HRESULT DeleteMessages(const std::vector<QByteArray>& entryIds, uint32_t) override {
        std::vector<QByteArray> trashIds;
        return MoveToWastebasket(entryIds, trashIds);
    }

    HRESULT MoveToWastebasket(const std::vector<QByteArray>& entryIds,
                              std::vector<QByteArray>& trashIds) override {
        HRESULT hr = S_OK;
        trashIds.assign(entryIds.size(), QByteArray());
        for (size_t i = 0; i < entryIds.size(); ++i) {
            const HRESULT one = deleteOne(entryIds[i], &trashIds[i]);
            if (Failed(one))
                hr = one;
        }
        return hr;
    }

    // Moves messages into another Maildir folder of this provider, in the
    // subfolder (new/ or cur/) and with the flags they have here.
    HRESULT CopyMessages(const std::vector<QByteArray>& entryIds, IMAPIFolder* destination,
                         uint32_t flags, std::vector<QByteArray>* newIds) override {
        if (newIds)
            newIds->assign(entryIds.size(), QByteArray());
        auto* target = dynamic_cast<CMaildirFolder*>(destination);
        if (!(flags & MESSAGE_MOVE) || !target || target->root_.isEmpty())
            return MAPI_E_NO_SUPPORT;
        HRESULT hr = S_OK;
        for (size_t i = 0; i < entryIds.size(); ++i) {
            QByteArray moved;
            const HRESULT one = moveOne(entryIds[i], target->root_, moved);
            if (Failed(one))
                hr = one;
            else if (newIds)
                (*newIds)[i] = moved;
        }
        return hr;
    }

    HRESULT OpenEntry(const QByteArray& entryId, uint32_t, uint32_t* objType,
                      std::unique_ptr<IMAPIProp>& object) override {
        QString root, unique;
        if (!parseId(entryId, 'M', root, unique) || root != root_ || root_.isEmpty() ||
            unique.isEmpty()) {
            return MAPI_E_INVALID_ENTRYID;
        }
        // Reading the listed file shows that it is still there; a message
        // renamed since the listing is looked for under its unique name. A
        // file that is there but cannot be read gives a message without properties.
        QString rel = hintFor(unique);
        QByteArray read;
        const int error = readMessage(root_, unique, rel, read);
        if (error == ENOENT)
            return MAPI_E_NOT_FOUND;
        std::optional<QByteArray> bytes;
        if (error == 0)
            bytes = std::move(read);
        object = std::make_unique<CMaildirMessage>(root_, unique, rel, std::move(bytes));
        if (objType)
            *objType = MAPI_MESSAGE;
        return S_OK;
    }

protected:
    SPropValue getProp(uint32_t tag) override {
        if (tag == PR_ENTRYID)
            return binProp(tag, makeId('F', root_, QString()));
        if (tag == PR_DISPLAY_NAME_W)
            return strProp(tag, QStringLiteral("Inbox"));
        return SPropValue::error(tag, MAPI_E_NOT_FOUND);
    }

private:
    // Moves the message of id into the Maildir at destination (new/ or cur/
    // as here, the file name and so its flags kept; a unique name taken
    // there gets a new one); movedId gets its entry id there.
    HRESULT moveOne(const QByteArray& id, const QString& destination, QByteArray& movedId) {
        return moveTo(id, destination, 'R', &movedId);
    }

    HRESULT deleteOne(const QByteArray& id, QByteArray* trashId) {
        QString root, unique;
        if (!parseId(id, 'M', root, unique) || root != root_ || root_.isEmpty() ||
            unique.isEmpty()) {
            return MAPI_E_INVALID_ENTRYID;
        }
        const QString trash = root_ + QStringLiteral("/.Trash");
        if (!makeDir(trash) || !makeDir(trash + QStringLiteral("/cur")) ||
            !makeDir(trash + QStringLiteral("/new")) || !makeDir(trash + QStringLiteral("/tmp"))) {
            return MAPI_E_NO_ACCESS;
        }
        const int marker = ::open(native(trash + QStringLiteral("/maildirfolder")).constData(),
                                  O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
        if (marker >= 0)
            ::close(marker);
        return moveTo(id, trash, 'T', trashId);
    }

    // Moves a message of this folder into the same subfolder (new/ or cur/)
    // of the Maildir destination under its own name, flags and all; when that
    // unique name is taken there, under a fresh one made with mark. movedId
    // (when given) gets its entry id there.
    HRESULT moveTo(const QByteArray& id, const QString& destination, char mark,
                   QByteArray* movedId) {
        QString root, unique;
        if (!parseId(id, 'M', root, unique) || root != root_ || root_.isEmpty() ||
            unique.isEmpty()) {
            return MAPI_E_INVALID_ENTRYID;
        }
        const QString hint = hintFor(unique);
        for (int attempt = 0; attempt < kAttempts; ++attempt) {
            const QString rel = locate(root_, unique, attempt == 0 ? hint : QString());
            if (rel.isEmpty())
                return MAPI_E_NOT_FOUND;
            if (!makeDir(destination + QLatin1Char('/') + rel.left(3)))
                return MAPI_E_NO_ACCESS;
            const QString from = root_ + QLatin1Char('/') + rel;
            Move moved = moveNoReplace(from, destination + QLatin1Char('/') + rel);
            QString movedUnique = unique;
            if (moved == Move::targetTaken) {
                // The same unique name is there already: keep both under a new name.
                movedUnique = unique + QStringLiteral(".") + QString::number(::getpid()) +
                              QLatin1Char(mark) + QString::number(time(nullptr));
                moved = moveNoReplace(from, destination + QLatin1Char('/') + rel.left(4) +
                                                movedUnique + rel.mid(4 + unique.size()));
            }
            switch (moved) {
                case Move::done:
                    if (movedId)
                        *movedId = messageEntryId(destination, movedUnique);
                    return S_OK;
                case Move::sourceGone:
                    continue;  // renamed by another client meanwhile: find it again
                case Move::targetTaken:
                    return E_FAIL;
                case Move::failed:
                    return accessError(errno);
            }
        }
        // Still there, but it kept moving away each time.
        return E_FAIL;
    }

    // The file of a unique name ("new/x", "cur/x:2,S") in the last listing;
    // empty when it was not listed.
    QString hintFor(const QString& unique) const {
        if (!last_)
            return {};
        const QByteArray wanted = native(unique);
        const ListedFile* f = last_->find(std::string_view(wanted.constData(), wanted.size()));
        if (!f)
            return {};
        return (f->inCur ? QStringLiteral("cur/") : QStringLiteral("new/")) +
               files::decodeFileName(QByteArrayView(last_->name(*f).data(), f->length));
    }

    QString root_;
    std::shared_ptr<Listing> last_;  // the last listing: files by unique name, sizes known
};

HRESULT openFolder(const QString& root, std::unique_ptr<IMAPIProp>& object, uint32_t* objType) {
    if (!root.isEmpty() && !isDir(root + QStringLiteral("/cur")) &&
        !isDir(root + QStringLiteral("/new"))) {
        return MAPI_E_NOT_FOUND;
    }
    object = std::make_unique<CMaildirFolder>(root);
    if (objType)
        *objType = MAPI_FOLDER;
    return S_OK;
}

HRESULT openAny(const QByteArray& entryId, uint32_t flags, uint32_t* objType,
                std::unique_ptr<IMAPIProp>& object) {
    QString root, second;
    if (parseId(entryId, 'F', root, second))
        return openFolder(root, object, objType);
    if (parseId(entryId, 'M', root, second)) {
        CMaildirFolder folder(root);
        return folder.OpenEntry(entryId, flags, objType, object);
    }
    return MAPI_E_INVALID_ENTRYID;
}

class CMaildirStore final : public IMsgStore {
public:
    CMaildirStore(QString name, QString root) : name_(std::move(name)), root_(std::move(root)) {}

    HRESULT GetReceiveFolder(const QString&, uint32_t, QByteArray& entryId) override {
        entryId = makeId('F', root_, QString());
        return S_OK;
    }
    HRESULT OpenEntry(const QByteArray& entryId, uint32_t flags, uint32_t* objType,
                      std::unique_ptr<IMAPIProp>& object) override {
        return openAny(entryId, flags, objType, object);
    }

protected:
    SPropValue getProp(uint32_t tag) override {
        if (tag == PR_DISPLAY_NAME_W)
            return strProp(tag, name_);
        if (tag == PR_ENTRYID)
            return binProp(tag, makeId('S', name_, root_));
        return SPropValue::error(tag, MAPI_E_NOT_FOUND);
    }

private:
    QString name_;
    QString root_;
};

class CMaildirSession final : public IMAPISession {
public:
    explicit CMaildirSession(std::vector<Account> accounts) : accounts_(std::move(accounts)) {}

    HRESULT GetMsgStoresTable(uint32_t, std::unique_ptr<IMAPITable>& table) override {
        SRowSet rows;
        for (const Account& a : accounts_) {
            rows.push_back(SRow{strProp(PR_DISPLAY_NAME_W, a.displayName),
                                binProp(PR_ENTRYID, makeId('S', a.displayName, a.maildir))});
        }
        table = std::make_unique<CRowTable>(std::move(rows));
        return S_OK;
    }
    HRESULT OpenMsgStore(const QByteArray& entryId, uint32_t,
                         std::unique_ptr<IMsgStore>& store) override {
        QString name, root;
        if (!parseId(entryId, 'S', name, root))
            return MAPI_E_INVALID_ENTRYID;
        store = std::make_unique<CMaildirStore>(name, root);
        return S_OK;
    }
    HRESULT OpenEntry(const QByteArray& entryId, uint32_t flags, uint32_t* objType,
                      std::unique_ptr<IMAPIProp>& object) override {
        return openAny(entryId, flags, objType, object);
    }

private:
    std::vector<Account> accounts_;
};

}  // namespace

QByteArray messageEntryId(const QString& maildir, const QString& uniqueName) {
    return makeId('M', maildir, uniqueName);
}

QString accountsFilePath() {
    const QByteArray env = qgetenv("LYRABELL_ACCOUNTS");
    if (!env.isEmpty())
        return files::decodeFileName(env);
    QString config = files::decodeFileName(qgetenv("XDG_CONFIG_HOME"));
    if (config.isEmpty())
        config = QDir::homePath() + QStringLiteral("/.config");
    return config + QStringLiteral("/lyrabell/accounts.conf");
}

std::vector<Account> parseAccounts(const QString& text, const QString& baseDir,
                                   std::vector<BadAccountLine>* bad) {
    std::vector<Account> accounts;
    int number = 0;
    for (const QString& rawLine : text.split(QLatin1Char('\n'))) {
        ++number;
        const QString line = rawLine.trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        Account a;
        if (eq > 0)
            a.displayName = line.left(eq).trimmed();
        if (a.displayName.isEmpty()) {
            if (bad)
                bad->push_back({number, line});
            continue;
        }
        QString path = line.mid(eq + 1).trimmed();
        if (isImapAddress(path)) {
            a.imapAddress = path;
            accounts.push_back(std::move(a));
            continue;
        }
        if (path == QLatin1String("~")) {
            path = QDir::homePath();
        } else if (path.startsWith(QLatin1String("~/"))) {
            path = QDir::homePath() + path.mid(1);
        }
        // Joined by hand: QDir takes a path that starts with ':' for one of
        // Qt's resources, and would give "." for ": mail/..".
        if (!path.isEmpty())
            a.maildir = QDir::cleanPath(
                path.startsWith(QLatin1Char('/')) ? path : baseDir + QLatin1Char('/') + path);
        accounts.push_back(std::move(a));
    }
    return accounts;
}

QString accountLineWarning(const QString& file, const BadAccountLine& line) {
    // The line as it can be shown on a terminal: no control characters, and
    // not more than a line's worth of it.
    constexpr qsizetype kShown = 80;
    QString shown = line.text.left(kShown);
    for (QChar& c : shown) {
        if (c.category() == QChar::Other_Control || c.category() == QChar::Other_Format)
            c = QLatin1Char('?');
    }
    if (line.text.size() > kShown)
        shown += QStringLiteral("...");
    return QStringLiteral("%1:%2: not an account line (Name = path): %3")
        .arg(file)
        .arg(line.number)
        .arg(shown);
}

QString demoMaildir() {
    const QString demo = paths::demo_account_folder();
    if (demo.isEmpty())
        return {};
    const QString maildir = demo + QStringLiteral("/Maildir");
    if (isDir(maildir + QStringLiteral("/cur")) || isDir(maildir + QStringLiteral("/new")))
        return QDir::cleanPath(maildir);
    return {};
}

std::vector<Account> loadAccounts() {
    const QString path = accountsFilePath();
    QFile file;
    const int fd = ::open(native(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 && (errno == ENOENT || errno == ENOTDIR)) {
        std::vector<Account> defaults;
        const QString demo = demoMaildir();
        if (!demo.isEmpty())
            defaults.push_back({QStringLiteral("Demo Voicemail"), demo, QString()});
        defaults.push_back({QStringLiteral("SMS"), QString(), QString()});
        return defaults;
    }
    if (fd < 0)
        return {};
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return {};
    }
    // The file names the folders whose messages are shown and played: one
    // that another user could have written is not read.
    if (const QString why = paths::untrustedBecause(file.handle(), paths::Owner::UserOrRoot);
        !why.isEmpty()) {
        std::fprintf(stderr, "lyrabell: the accounts file %s is not used: %s\n",
                     files::encodeFileName(path).constData(), why.toLocal8Bit().constData());
        return {};
    }
    // Maildir paths are file names: read as such, one that is not UTF-8 keeps
    // its bytes. A leading byte order mark is no part of the first line.
    QByteArray text = file.readAll();
    if (text.startsWith("\xEF\xBB\xBF"))
        text.remove(0, 3);
    std::vector<BadAccountLine> bad;
    auto accounts =
        parseAccounts(files::decodeFileName(text), QFileInfo(path).absolutePath(), &bad);
    // Each line is told of once per process, however often the file is read.
    static std::mutex mutex;
    static std::set<QString> told;
    for (const BadAccountLine& line : bad) {
        const QString warning = accountLineWarning(path, line);
        std::lock_guard lock(mutex);
        if (told.insert(warning).second)
            std::fprintf(stderr, "%s\n", files::encodeFileName(warning).constData());
    }
    return accounts;
}

std::unique_ptr<IMAPISession> makeMaildirSession(std::vector<Account> accounts) {
    ensureMimeInitialised();
    return std::make_unique<CMaildirSession>(std::move(accounts));
}

HRESULT OpenMessageFile(const QString& path, std::unique_ptr<IMessage>& message, int* error) {
    QByteArray bytes;
    const int failure = readMessageFile(path, bytes);
    if (error)
        *error = failure;
    if (failure != 0)
        return MAPI_E_NOT_FOUND;
    auto content = std::make_shared<const MimeContent>(parseMimeContent(bytes));
    message = std::make_unique<CMaildirMessage>(QFileInfo(path).absoluteFilePath(), content);
    return S_OK;
}

std::unique_ptr<IMessage> OpenMessageBytes(const QByteArray& bytes) {
    return std::make_unique<CMaildirMessage>(bytes);
}

}  // namespace lyb::mapi
