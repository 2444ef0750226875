// Opening and reading the files a user hands us: message files, recordings,
// vCards. Any of them may be a FIFO, a device or a symlink to one (planted in
// a Maildir, or named on the command line), and a plain open() of a FIFO
// blocks until a writer comes, while reading /dev/zero never ends. So every
// such file is opened non-blocking, checked to be a regular file with fstat
// on the open descriptor (the file checked is the file read, whatever a
// symlink or a rename does meanwhile) and read within a size limit.
#pragma once

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <string>

#include "base/exception.h"

namespace lyb::files {

// The error codes below are errno values or kNotRegularFile (a path that
// opens but is not a regular file); errorText gives their text. Both live
// with the exceptions that carry them.
using lyb::errorText;
using lyb::kNotRegularFile;

// Opens path (symlinks followed) for reading when it is a regular file. The
// open cannot block; the descriptor returned blocks as usual. Returns it
// (close-on-exec, owned by the caller) and, when size is not null, the file's
// size; -1 on failure with *error set: the errno of the open, EISDIR for a
// folder, kNotRegularFile for other special files.
int openRegularFile(const char* path, int* error, uint64_t* size = nullptr);
// The same for name in the folder open as dirFd (AT_FDCWD: the working folder).
int openRegularFileAt(int dirFd, const char* name, int* error, uint64_t* size = nullptr);

// Reads count bytes into buffer, retrying after EINTR and short reads. Returns
// the number read, less than count only at the end of the file, or -1 with
// errno set.
int64_t readFully(int fd, char* buffer, size_t count);

// What readRegularFile does with a file larger than its limit.
enum class Oversize {
    fail,        // reads nothing (a size seen at the open is not read at all)
    keepPrefix,  // keeps the first limit bytes
};

// Reads the rest of fd, a regular file of the given size opened by
// openRegularFile, into bytes, and closes it; as readRegularFile below.
template <class Bytes>
int readOpenedFile(int fd, uint64_t size, uint64_t limit, Bytes& bytes,
                   Oversize oversize = Oversize::fail) {
    bytes.resize(0);
    int error = 0;
    if (size > limit && oversize == Oversize::fail) {
        ::close(fd);
        return EFBIG;
    }
    // One byte more than the size promises, so the end shows at once; a file
    // that grows meanwhile is read on, up to one byte past the limit.
    const uint64_t cap = limit + 1;
    uint64_t want = std::min(size, limit) + 1;
    uint64_t used = 0;
    for (;;) {
        bytes.resize(static_cast<decltype(bytes.size())>(want));
        const int64_t n = readFully(fd, reinterpret_cast<char*>(bytes.data()) + used,
                                    static_cast<size_t>(want - used));
        if (n < 0) {
            error = errno;
            ::close(fd);
            bytes.resize(0);
            return error;
        }
        used += static_cast<uint64_t>(n);
        if (used < want || want == cap)
            break;
        want = std::min(cap, std::max<uint64_t>(4096, want * 2));
    }
    ::close(fd);
    if (used > limit) {
        bytes.resize(oversize == Oversize::keepPrefix ? static_cast<decltype(bytes.size())>(limit)
                                                      : 0);
        return EFBIG;
    }
    bytes.resize(static_cast<decltype(bytes.size())>(used));
    return 0;
}

// Reads the whole regular file at path into bytes (QByteArray or a vector of
// bytes). Returns 0, or an error code as openRegularFile gives, or the errno
// of a failed read (bytes then empty). A file holding more than limit bytes,
// by its size at the open or by growing while it is read, gives EFBIG, with
// bytes empty or holding the first limit bytes as oversize says.
template <class Bytes>
int readRegularFile(const char* path, uint64_t limit, Bytes& bytes,
                    Oversize oversize = Oversize::fail) {
    bytes.resize(0);
    int error = 0;
    uint64_t size = 0;
    const int fd = openRegularFile(path, &error, &size);
    if (fd < 0)
        return error;
    return readOpenedFile(fd, size, limit, bytes, oversize);
}

}  // namespace lyb::files
