#include "platform/files/regular_file.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cstring>

namespace lyb::files {

int openRegularFile(const char* path, int* error, uint64_t* size) {
    return openRegularFileAt(AT_FDCWD, path, error, size);
}

int openRegularFileAt(int dirFd, const char* name, int* error, uint64_t* size) {
    // O_NONBLOCK: opening a FIFO without a writer (or some devices) returns at once.
    const int fd = ::openat(dirFd, name, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        *error = errno;
        return -1;
    }
    struct stat st;
    if (::fstat(fd, &st) != 0) {
        *error = errno;
        ::close(fd);
        return -1;
    }
    if (!S_ISREG(st.st_mode)) {
        *error = S_ISDIR(st.st_mode) ? EISDIR : kNotRegularFile;
        ::close(fd);
        return -1;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        *error = errno;
        ::close(fd);
        return -1;
    }
    if (size)
        *size = static_cast<uint64_t>(st.st_size);
    return fd;
}

int64_t readFully(int fd, char* buffer, size_t count) {
    size_t used = 0;
    while (used < count) {
        const ssize_t n = ::read(fd, buffer + used, count - used);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        used += static_cast<size_t>(n);
    }
    return static_cast<int64_t>(used);
}

}  // namespace lyb::files
