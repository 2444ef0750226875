// The exception types of this system. All derive from CException (itself a
// std::exception) and are thrown by value and caught by reference; what()
// is the text shown to the user. Each library adds its own kinds on top
// (audio/decode/exception.h, audio/output/wave_player.h).
#pragma once

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <exception>
#include <string>
#include <utility>

namespace lyb {

// The error for a path that opens but is not a regular file (a FIFO, a
// device, a socket). The other error codes are errno values; this one is
// negative so that it never clashes with one.
constexpr int kNotRegularFile = -1;

// The text for an error code: strerror() for errno values, "Not a regular
// file" for kNotRegularFile.
std::string errorText(int error);

// The base of every exception this system throws.
class CException : public std::exception {
public:
    explicit CException(std::string message) : message_(std::move(message)) {}
    const char* what() const noexcept override { return message_.c_str(); }
    // Copies the message, terminated, into buffer (truncated to size - 1
    // characters); returns false only when there is no room at all.
    bool GetErrorMessage(char* buffer, size_t size) const {
        if (buffer == nullptr || size == 0)
            return false;
        const size_t n = std::min(size - 1, message_.size());
        std::memcpy(buffer, message_.data(), n);
        buffer[n] = '\0';
        return true;
    }

private:
    std::string message_;
};

// A file could not be opened or used: the cause, the errno value (or
// kNotRegularFile) and the file's name; the message reads
// "<file name>: <strerror(errno)>" ("<file name>: Not a regular file").
class CFileException : public CException {
public:
    enum class Cause {
        generic,
        fileNotFound,
        badPath,
        tooManyOpenFiles,
        accessDenied,
        diskFull,
    };

    CFileException(Cause cause, int error, std::string file_name)
        : CException(file_name + ": " + errorText(error)),
          cause_(cause),
          error_(error),
          file_name_(std::move(file_name)) {}

    // Builds the exception for a failed open or write from its errno value
    // (or an error code of files::openRegularFile).
    static CFileException FromErrno(int error, std::string file_name) {
        return CFileException(CauseOf(error), error, std::move(file_name));
    }

    static Cause CauseOf(int error) {
        switch (error) {
            case ENOENT:
                return Cause::fileNotFound;
            case ENOTDIR:
            case ENAMETOOLONG:
            case ELOOP:
                return Cause::badPath;
            case EMFILE:
            case ENFILE:
                return Cause::tooManyOpenFiles;
            case EACCES:
            case EPERM:
            case EROFS:
            case EISDIR:
                return Cause::accessDenied;
            case ENOSPC:
            case EDQUOT:
                return Cause::diskFull;
            default:
                return Cause::generic;
        }
    }

    Cause cause() const { return cause_; }
    int error() const { return error_; }
    const std::string& fileName() const { return file_name_; }

private:
    Cause cause_;
    int error_;
    std::string file_name_;
};

}  // namespace lyb
