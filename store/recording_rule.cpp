#include "store/recording_rule.h"

#include <memory>

namespace lyb::store {

using namespace lyb::mapi;

namespace {

// The extensions the voicemail services and carriers name their recordings
// with; an attachment so named is a recording whatever type it is sent as.
constexpr const char* kRecordingExtensions[] = {".wav", ".gsm",  ".mp3",  ".m4a", ".mp4",
                                                ".aac", ".amr",  ".awb",  ".3gp", ".ogg",
                                                ".oga", ".opus", ".flac", ".wma"};

// The recording extension the name ends in, in lower case; empty for none.
QString recordingExtension(const QString& fileName) {
    const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
    if (dot < 0)
        return {};
    const QString extension = fileName.mid(dot).toLower();
    for (const char* known : kRecordingExtensions) {
        if (extension == QLatin1String(known))
            return extension;
    }
    return {};
}

// "type/subtype" in lower case, parameters and spaces left off.
QString bareMimeType(const QString& mimeType) {
    const qsizetype semicolon = mimeType.indexOf(QLatin1Char(';'));
    return (semicolon < 0 ? mimeType : mimeType.left(semicolon)).trimmed().toLower();
}

}  // namespace

QStringList recording_extensions() {
    QStringList extensions;
    for (const char* known : kRecordingExtensions)
        extensions.append(QLatin1String(known));
    return extensions;
}

QString recording_audio_type(const QString& fileName, const QString& mimeType) {
    const QString mime = bareMimeType(mimeType);
    if (mime.contains(QLatin1String("wav")))
        return QStringLiteral(".wav");
    if (mime.contains(QLatin1String("gsm")))
        return QStringLiteral(".gsm");
    const QString extension = recordingExtension(fileName);
    if (!extension.isEmpty())
        return extension;
    if (!mime.startsWith(QLatin1String("audio/")))
        return {};
    QString subtype = mime.mid(6);
    if (subtype.startsWith(QLatin1String("x-")))
        subtype.remove(0, 2);
    // A type without a usable subtype still names audio.
    return subtype.isEmpty() ? QStringLiteral(".audio") : QLatin1Char('.') + subtype;
}

std::optional<Recording> find_recording(IMessage& message) {
    std::unique_ptr<IMAPITable> table;
    if (Failed(message.GetAttachmentTable(0, table)) || !table ||
        Failed(table->SetColumns(
            {PR_ATTACH_NUM, PR_ATTACH_FILENAME_W, PR_ATTACH_LONG_FILENAME_W, PR_ATTACH_MIME_TAG_W},
            0)))
        return std::nullopt;
    for (int row = 0;; ++row) {
        SRowSet rows;
        if (Failed(table->QueryRows(1, 0, rows)) || rows.size() != 1)
            return std::nullopt;
        Recording found;
        found.attach_num = static_cast<uint32_t>(row);
        QString fileName, longFileName, mimeType;
        for (const SPropValue& v : rows[0]) {
            if (v.ulPropTag == PR_ATTACH_NUM)
                found.attach_num = static_cast<uint32_t>(v.l);
            else if (v.ulPropTag == PR_ATTACH_FILENAME_W)
                fileName = v.str;
            else if (v.ulPropTag == PR_ATTACH_LONG_FILENAME_W)
                longFileName = v.str;
            else if (v.ulPropTag == PR_ATTACH_MIME_TAG_W)
                mimeType = v.str;
        }
        // A short (8.3) name can lose the extension the long one keeps.
        found.audio_type = recording_audio_type(fileName, mimeType);
        if (found.audio_type.isEmpty() && !longFileName.isEmpty())
            found.audio_type = recording_audio_type(longFileName, mimeType);
        if (!found.audio_type.isEmpty()) {
            found.row = row;
            return found;
        }
    }
}

}  // namespace lyb::store
