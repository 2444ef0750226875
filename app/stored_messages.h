// What the application needs of the message store: a logon, opening one
// message by its entry identifier as a voicemail record, and the record's
// fields and recording. The store library provides the real implementation;
// the tests keep one in memory.
#pragma once

#include "platform/mapi/mapi_stream.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <map>
#include <memory>
#include <vector>

namespace lyb::store {
class CMapiSession;
}

namespace lyb::app {

// One voicemail, owning its opened message.
class IVoicemailRecord {
public:
    virtual ~IVoicemailRecord() = default;
    virtual QString caller_name() const = 0;
    // Digits, after a leading "+" when the number had one; may be empty.
    virtual QString caller_number() const = 0;
    virtual int32_t length_seconds() const = 0;  // -1 when unknown
    virtual int64_t received_time() const = 0;   // seconds since 1970 UTC; 0 when absent
    // The recording's extension, lower case: ".wav", ".gsm" or any other
    // recording kind (".mp3", ".m4a", ...), as store::recording_audio_type gives.
    virtual QString audio_type() const = 0;
    // Opens a stream over the recording from its start, or returns null. The
    // caller owns the one reference and releases it.
    virtual mapi::IStream* open_audio_stream() = 0;
};

// One logged-on store session; released when destroyed.
class IStoreSession {
public:
    virtual ~IStoreSession() = default;
    // Opens the message with this entry identifier and builds its record.
    // Null when the open fails or the message is not a voicemail.
    virtual std::unique_ptr<IVoicemailRecord> open_voicemail(const QByteArray& entryId) = 0;
    // The store library's session under this one, which the voicemail list
    // is populated from; null for sessions that have none (in memory).
    virtual const store::CMapiSession* mapi_session() const { return nullptr; }
};

// The message store as a whole.
class IMessageStore {
public:
    virtual ~IMessageStore() = default;
    // Logs on with a new session (no window, no profile); null on failure.
    virtual std::unique_ptr<IStoreSession> logon() = 0;
};

// A store that cannot be logged on to: every logon fails.
class CNoMessageStore final : public IMessageStore {
public:
    std::unique_ptr<IStoreSession> logon() override { return nullptr; }
};

}  // namespace lyb::app
