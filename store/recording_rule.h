// The one rule for "is this message a voicemail, and which attachment is its
// recording?". The message list, lybtool, the Today item's new-voicemail
// count and the Inbox menu extension all ask it, so they never disagree. It
// is a library of its own (lyb_recording_rule) that reads only the store's
// attachment table: the two companions link it without linking Lyrabell or
// any decoder.
//
// An attachment is a recording when its MIME type is audio/* or names wave
// or GSM audio, or when its file name ends in a recording's extension (any
// case, whatever the MIME type: application/octet-stream, video/3gpp and the
// like carry recordings too). A message is a voicemail when any attachment is
// a recording, and the first recording is the one played: transcripts,
// pictures and cards beside it, before or after, do not hide it. A message
// without a recording is not a voicemail however it is worded.
//
// Bad input: any texts; a message whose attachment table cannot be read has
// no recording. Nothing here throws.
#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>

#include "platform/mapi/mapi.h"

namespace lyb::store {

// The audio type a recording attachment is played as: ".gsm" for raw GSM
// and ".wav" for a wave file (the MIME type first, then the file name, as
// the record always read them), else the recording's own extension in lower
// case (".mp3", ".m4a", ...), else "." and the MIME subtype ("audio/x-foo"
// gives ".foo"). Empty when the attachment is not a recording.
QString recording_audio_type(const QString& fileName, const QString& mimeType);

// The extensions a recording's file name may end in (".wav", ".gsm", ".mp3",
// ...), lower case, wave and GSM first: the kinds Lyrabell plays.
QStringList recording_extensions();

// The recording of a message, as the rule finds it.
struct Recording {
    uint32_t attach_num = 0;  // PR_ATTACH_NUM of its row (the row's index when missing)
    int row = 0;              // its position in the attachment table
    QString audio_type;       // as recording_audio_type gives it
};

// The first recording among the message's attachments, in table order;
// nothing when it has none or its table cannot be read.
std::optional<Recording> find_recording(mapi::IMessage& message);

inline bool is_voicemail(mapi::IMessage& message) {
    return find_recording(message).has_value();
}

}  // namespace lyb::store
