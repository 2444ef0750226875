// The exception types of the audio code. All derive from CException (itself a
// std::exception) and are thrown by value and caught by reference; what()
// is the text shown to the user.
#pragma once

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <exception>
#include <string>
#include <utility>

#include "platform/files/regular_file.h"

namespace lyb {

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
// files::kNotRegularFile) and the file's name; the message reads
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
        : CException(file_name + ": " + files::errorText(error)),
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

namespace lyb::audio {

// The decoding job refused its input ("Invalid wav header.", "Unsupported wav format (3).").
class CWaveDecoderException : public CException {
public:
    using CException::CException;
};

}  // namespace lyb::audio
