// The voicemail record: one message of the store recognised as a voicemail,
// with the caller, length, received time, read state and audio type read
// from it (the caller is read by store/caller_reading).
//
// Recognition is the store's one rule (store/recording_rule): the first
// attachment that is a recording, wherever it stands among the attachments.
// A record is built either from its opened message or from what the
// account's cache learnt when it last did that (store/message_cache.h); the
// latter opens its message only when it is played or marked.
//
// Bad input: the parser and scanner accept any text and stop at its end; a
// message whose properties are missing, unreadable or malformed gives empty
// texts, a received time of 0 or a length of -1, never an exception, except
// "Not a voice mail" when no attachment is a recording.
#pragma once

#include <QByteArray>
#include <QString>

#include <exception>
#include <memory>
#include <vector>

#include "platform/mapi/mapi.h"
#include "store/caller_reading.h"
#include "store/message_cache.h"

namespace lyb::store {

// Thrown by record construction for a message that is not a voicemail.
class CNotVoiceMail : public std::exception {
public:
    const char* what() const noexcept override { return "Not a voice mail"; }
    QString text() const { return QStringLiteral("Not a voice mail"); }
};

// One row of a message's attachment table; empty texts for missing columns.
struct CAttachmentInfo {
    QString file_name;
    QString mime_type;
    QString extension;
    QString long_file_name;
    QString path_name;
    QString transport_name;
    QString long_path_name;
};

// The received time of a delivery time (a file time): the instant as the
// local calendar gives it back, 0 when it cannot be converted or the local
// year is before 1900.
int64_t received_time_from_file_time(uint64_t fileTime);

// Where a record reaches its message and its account's cache after it was
// built: a record made from the cache opens its message only when it is
// played or marked. Shared by the records of one listing; any thread.
class CRecordSource {
public:
    virtual ~CRecordSource() = default;
    // Opens the message; null when it cannot be opened (gone meanwhile).
    virtual std::unique_ptr<mapi::IMessage> open(const QByteArray& entryId) = 0;
    // Records the new read state in the cache.
    virtual void readChanged(const QByteArray& entryId, bool read) = 0;
    // A stream over the recording the cache keeps for the message, or null;
    // else, given the recording's stream from the message, a stream that
    // reads it through and keeps it once it was read to its end. Takes the
    // reference of stream and gives one.
    virtual mapi::IStream* recordingStream(const QByteArray& entryId, mapi::IStream* stream) = 0;
};

class CVoiceMailMessage {
public:
    // Builds the record from an opened message. On success the record takes
    // the message (message becomes null); when this throws CNotVoiceMail (or
    // anything else), message stays the caller's.
    explicit CVoiceMailMessage(std::unique_ptr<mapi::IMessage>& message);

    // Builds the record from what the cache learnt about the message, which
    // source opens when it is first needed.
    CVoiceMailMessage(const CRecognition& recognition, QByteArray entryId,
                      std::shared_ptr<CRecordSource> source);

    CVoiceMailMessage(const CVoiceMailMessage&) = delete;
    CVoiceMailMessage& operator=(const CVoiceMailMessage&) = delete;

    QString caller_name() const { return caller_name_; }
    QString caller_number() const { return caller_number_; }
    void set_caller_name(const QString& name) { caller_name_ = name; }
    // The transcript the notification carries (body section or attached
    // text), lines joined by "\n"; empty when it carries none.
    QString transcript() const { return transcript_; }
    int32_t length_seconds() const { return length_; }
    int64_t received_time() const { return received_time_; }  // seconds since 1970, 0 = none
    int is_read() const { return read_; }
    // ".wav" or ".gsm" for our own encodings, else the recording's extension
    // (".mp3", ".m4a", ...; see recording_audio_type): anything but ".gsm" is
    // decoded as a wave file or by the media libraries, whichever it is.
    QString audio_type() const { return audio_type_; }
    bool is_gsm() const {
        return audio_type_.compare(QLatin1String(".gsm"), Qt::CaseInsensitive) == 0;
    }

    // A stream over the recording's data from its start, or null (a message
    // only partly downloaded). The caller owns the reference.
    mapi::IStream* open_audio_stream();
    // Marks the message read or unread in the store and in the record; store
    // failures are silent (the record keeps the new value).
    void set_read(bool read);

    // The message's PR_ENTRYID; empty when it has none.
    QByteArray entry_id();
    // The message, opened now for a record made from the cache; null when
    // that fails.
    mapi::IMessage* message();

    // What the record holds, as the cache keeps it.
    CRecognition recognition() const;
    // Makes the record tell source about reads and recordings from now on.
    void set_source(QByteArray entryId, std::shared_ptr<CRecordSource> source);

    // Every column of the attachment table the store gives; false when the
    // table cannot be opened.
    static bool read_attachments(mapi::IMessage& message, std::vector<CAttachmentInfo>& out);

private:
    std::unique_ptr<mapi::IMessage> message_;
    QByteArray entry_id_;  // known without the message for a record from the cache
    std::shared_ptr<CRecordSource> source_;
    QString caller_name_;
    QString caller_number_;
    QString transcript_;
    int32_t length_ = -1;
    int64_t received_time_ = 0;
    int read_ = 0;
    QString audio_type_;
    uint32_t recording_attach_ = 0;  // PR_ATTACH_NUM of the recording
};

// Free forms of the record's operations.
mapi::IStream* open_audio_stream(CVoiceMailMessage& record);
void set_read(CVoiceMailMessage& record, bool read);

}  // namespace lyb::store
