// lybtool decode: runs the decoding job on a file, as the playback screen does,
// and waits for it to finish.
#include <QFile>
#include <QStringList>

#include <string>
#include <vector>

#include "audio/decode/wave_decoder.h"
#include "platform/desktop/file_names.h"
#include "platform/files/regular_file.h"
#include "platform/mapi/maildir_provider.h"
#include "platform/mapi/mapi_stream.h"
#include "tools/command.h"
#include "tools/decode_notices.h"

namespace {

using lyb::audio::CWaveDecoder;

// The output is the file the user named: written through links, so that a
// pipe such as /dev/stdout works, and refused when it is the input itself.
constexpr lyb::audio::OutputFile kNamedOutput = lyb::audio::OutputFile::kWriteThrough;

int Fail(const std::string& text) {
    lyb::tool::err(QString::fromStdString(text));
    return 1;
}

int Decode(const QStringList& args) {
    bool stream = false;
    bool gsm = false;
    QStringList paths;
    for (const QString& a : args) {
        if (a == QLatin1String("--stream")) {
            stream = true;
        } else if (a == QLatin1String("--gsm")) {
            gsm = true;
        } else {
            paths << a;
        }
    }
    if (paths.size() != 2 || (gsm && !stream)) {
        lyb::tool::err(QStringLiteral("usage: lybtool decode [--stream [--gsm]] INPUT OUTPUT"));
        return 2;
    }
    const std::string input = lyb::desktop::encodeFileName(paths[0]).toStdString();
    const std::string output = lyb::desktop::encodeFileName(paths[1]).toStdString();

    lyb::tool::CDecodeNotices notifier;
    try {
        std::unique_ptr<CWaveDecoder> decoder;
        if (stream) {
            // Read whole, as a message's attachment is, so within a message's limit.
            int error = 0;
            uint64_t size = 0;
            const int fd = lyb::files::openRegularFile(input.c_str(), &error, &size);
            if (fd < 0)
                return Fail(lyb::CFileException::FromErrno(error, input).what());
            // The file read, so that naming it as the output is refused as
            // it is for a file source.
            const lyb::audio::FileIdentity source = lyb::audio::FileIdentity::Of(fd);
            std::vector<uint8_t> bytes;
            error = lyb::files::readOpenedFile(fd, size, lyb::mapi::kMaxMessageFileBytes, bytes);
            if (error != 0)
                return Fail(lyb::CFileException::FromErrno(error, input).what());
            decoder = std::make_unique<CWaveDecoder>(new lyb::mapi::CMemoryStream(std::move(bytes)),
                                                     output, &notifier, gsm, kNamedOutput, source);
        } else {
            decoder = std::make_unique<CWaveDecoder>(input, output, &notifier, kNamedOutput);
        }
        decoder->Start();
        const std::string error = notifier.wait();
        if (!error.empty())
            return Fail(error);
    } catch (const lyb::CException& e) {
        return Fail(e.what());
    }
    return 0;
}

const lyb::tool::Registration reg{
    {"decode", "[--stream [--gsm]] INPUT OUTPUT",
     "decode a recording (wave, raw GSM *.gsm, MP3, AAC/M4A, AMR, Ogg, FLAC, WMA, ...) to a "
     "16-bit PCM wave file; --stream reads it "
     "through a store stream, --gsm marks the stream as raw GSM",
     Decode}};

}  // namespace
