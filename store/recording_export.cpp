#include "store/recording_export.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDateTime>
#include <QFileInfo>

#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <mutex>

#include "audio/decode/wave_decoder.h"
#include "platform/files/file_names.h"
#include "store/voicemail_message.h"

namespace lyb::store {

namespace {

QByteArray native(const QString& path) {
    return files::encodeFileName(path);
}

QString systemError(const QString& path, int error) {
    return path + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(error));
}

// Waits for the end of a decoding job and keeps its refusal, if any.
class CJobEnd final : public audio::IDecodeNotifier {
public:
    void post(uint32_t message, const std::string& text) override {
        std::lock_guard lock(mutex_);
        if (message == audio::WM_DECODING_ERROR)
            error_ = text;
        if (message == audio::WM_DECODING_FINISHED) {
            finished_ = true;
            ended_.notify_all();
        }
    }
    // Returns the job's refusal; empty when it wrote its file.
    std::string wait() {
        std::unique_lock lock(mutex_);
        ended_.wait(lock, [this] { return finished_; });
        return error_;
    }

private:
    std::mutex mutex_;
    std::condition_variable ended_;
    bool finished_ = false;
    std::string error_;
};

// A file of ours beside the target, removed unless it was renamed.
class CTemporaryFile {
public:
    explicit CTemporaryFile(const QString& target) {
        QByteArray pattern = native(QFileInfo(target).absolutePath()) + "/.lyrabell-XXXXXX";
        fd_ = ::mkstemp(pattern.data());
        if (fd_ >= 0) {
            path_ = pattern;
            // A kept recording is an ordinary file of the user (mkstemp makes 0600).
            const mode_t mask = ::umask(0);
            ::umask(mask);
            ::fchmod(fd_, 0666 & ~mask);
        }
    }
    ~CTemporaryFile() {
        close();
        if (!path_.isEmpty())
            ::unlink(path_.constData());
    }
    CTemporaryFile(const CTemporaryFile&) = delete;
    CTemporaryFile& operator=(const CTemporaryFile&) = delete;

    int fd() const { return fd_; }
    const QByteArray& path() const { return path_; }
    bool close() {
        const bool ok = fd_ < 0 || ::close(fd_) == 0;
        fd_ = -1;
        return ok;
    }
    // Gives the file its final name; errno is kept on failure.
    bool moveTo(const QByteArray& target, bool replace) {
        if (replace) {
            if (::rename(path_.constData(), target.constData()) != 0)
                return false;
        } else {
            if (::link(path_.constData(), target.constData()) != 0)
                return false;
            ::unlink(path_.constData());
        }
        path_.clear();
        return true;
    }

private:
    int fd_ = -1;
    QByteArray path_;
};

bool copyStream(mapi::IStream* stream, int fd) {
    char buffer[64 * 1024];
    for (;;) {
        uint32_t got = 0;
        if (mapi::Failed(stream->Read(buffer, sizeof buffer, &got)))
            return false;
        for (uint32_t done = 0; done < got;) {
            const ssize_t n = ::write(fd, buffer + done, got - done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return false;
            done += static_cast<uint32_t>(n);
        }
        if (got < sizeof buffer)
            return true;
    }
}

}  // namespace

QString exportExtension(ExportKind kind, const QString& audioType) {
    if (kind == ExportKind::Wav)
        return QStringLiteral(".wav");
    return audioType.isEmpty() ? QStringLiteral(".bin") : audioType.toLower();
}

QString exportFileName(const QString& caller, const QString& number, int64_t received,
                       const QString& extension) {
    QString name = !caller.trimmed().isEmpty()   ? caller.trimmed()
                   : !number.trimmed().isEmpty() ? number.trimmed()
                                                 : QStringLiteral("Unknown caller");
    if (received != 0)
        name += QLatin1Char(' ') + QDateTime::fromSecsSinceEpoch(received).toString(
                                       QStringLiteral("yyyy-MM-dd hh.mm"));
    name += extension;
    for (QChar& c : name) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7F || QStringView(u"/\\:*?\"<>|").contains(c))
            c = QLatin1Char('_');
    }
    if (name.startsWith(QLatin1Char('.')))
        name[0] = QLatin1Char('_');
    return name;
}

bool exportRecording(mapi::IStream* stream, bool isGsm, ExportKind kind, const QString& target,
                     bool replace, QString* error) {
    QString why;
    bool ok = false;
    {
        CTemporaryFile file(target);
        if (file.fd() < 0) {
            why = systemError(QFileInfo(target).absolutePath(), errno);
        } else if (kind == ExportKind::AsReceived) {
            ok = copyStream(stream, file.fd());
            if (!ok)
                why = systemError(target, errno ? errno : EIO);
        } else {
            CJobEnd end;
            try {
                audio::CWaveDecoder job(stream, file.path().toStdString(), &end, isGsm,
                                        audio::OutputFile::kWriteThrough);
                stream = nullptr;  // the job has it now
                job.Start();
                const std::string refused = end.wait();
                ok = refused.empty();
                why = QString::fromStdString(refused);
            } catch (const std::exception& e) {
                stream = nullptr;  // released by the job's constructor
                why = QString::fromUtf8(e.what());
            }
        }
        if (ok && (::fsync(file.fd()) != 0 || !file.close())) {
            ok = false;
            why = systemError(target, errno);
        }
        if (ok && !file.moveTo(native(target), replace)) {
            ok = false;
            why = systemError(target, errno);
        }
    }
    if (stream)
        stream->Release();
    if (!ok && error)
        *error = why;
    return ok;
}

bool exportRecording(CVoiceMailMessage& record, ExportKind kind, const QString& target,
                     bool replace, QString* error) {
    mapi::IStream* stream = record.open_audio_stream();
    if (!stream) {
        if (error)
            *error = QStringLiteral("Unable to open voicemail attachment.");
        return false;
    }
    return exportRecording(stream, record.is_gsm(), kind, target, replace, error);
}

}  // namespace lyb::store
