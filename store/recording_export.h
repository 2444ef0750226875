// Keeping a voicemail as a file: the recording as received (the attachment's
// own bytes) or as a 16-bit PCM wave file decoded by the decoding job, the
// same file the player plays.
//
// Writing. The file is written under a temporary name in the target's folder
// and renamed to the target only when it is complete, so a reader never sees
// half a recording and a failure leaves nothing behind. An existing target is
// replaced only when the caller says so (the file dialog asked); otherwise
// the final step is a link that fails when the name is taken, even by a file
// that appeared while the recording was written.
//
// A wave export runs a decoding job of its own: like any job it must not run
// beside another one that decodes GSM or G.729 (those decoders keep one
// state per process), so a caller that plays stops its decoding first.
#pragma once

#include <QString>

#include <cstdint>

#include "platform/mapi/mapi_stream.h"

namespace lyb::store {

class CVoiceMailMessage;

enum class ExportKind {
    AsReceived,  // the attachment's bytes, its own format
    Wav,         // 16-bit PCM wave, decoded as for the player
};

// "<caller or number> <yyyy-mm-dd hh.mm><extension>" in local time: the
// caller's name, else the number as given, else "Unknown caller"; the date
// left out when received is 0. Characters that file names on common systems
// do not allow ("/", "\", ":", "*", "?", '"', "<", ">", "|", controls) become
// "_", and a leading "." does too, so the name is never hidden.
QString exportFileName(const QString& caller, const QString& number, int64_t received,
                       const QString& extension);
// The extension a kind of export gets: ".wav" for Wav, else audioType (".gsm",
// ".mp3", ...), ".bin" when that is empty.
QString exportExtension(ExportKind kind, const QString& audioType);

// Writes the recording read from stream to target. Takes over the caller's
// reference to stream (released in every case). isGsm marks raw GSM 06.10
// content (decoded as such for Wav). replace: an existing target may be
// replaced. False on failure, *error (when not null) then saying why in one
// line: the decoder's own text ("Invalid wav header."), "<target>: File
// exists", or the system's error for the file.
bool exportRecording(mapi::IStream* stream, bool isGsm, ExportKind kind, const QString& target,
                     bool replace, QString* error = nullptr);
// The same for a voicemail record's recording; false ("Unable to open
// voicemail attachment.") when it has no content.
bool exportRecording(CVoiceMailMessage& record, ExportKind kind, const QString& target,
                     bool replace, QString* error = nullptr);

}  // namespace lyb::store
