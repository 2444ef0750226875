// The local cache of one account: what was learnt about each message of its
// Inbox, so that listing an unchanged Inbox again opens and parses nothing,
// and the recordings of played voicemails.
//
// Identity. A message is known by its entry id together with its size and a
// stamp (the provider's modification time, else its delivery time, else 0).
// A message whose identity differs from the cached one is a new message: its
// row, and its kept recording, are replaced. The cache never decides which
// messages exist; the provider's table does, and the cache only answers for
// the identities it lists.
//
// Recognition. What the cache learnt holds while the program recognises
// messages as it did then: the cache records the recognition version and
// the program's version, and forgets every message (and kept recording)
// when either differs, so that an improved rule reaches cached messages.
//
// Storage. One SQLite file per account in folder() (0700), the file 0600,
// named from the account's name by fileName(). Every change is one
// transaction, written ahead to the database's log, so a crash leaves the
// state before or after it. The schema carries its version (user_version).
//
// Faults. A file that is not a database, is damaged, holds rows of the wrong
// shape, or has a newer schema than this program knows is removed and made
// again empty, with one line on standard error; the caller then parses what
// it needs again. A file or folder that another user could have written, or
// a folder that cannot be made, is not used: one line on standard error, and
// open() gives null. Nothing here throws.
//
// Threads. A cache is used by one thread at a time; several processes may
// use the same file at once (the window and lybtool).
#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <vector>

struct sqlite3;

namespace lyb::store {

// What tells one version of a message from another.
struct CMessageIdentity {
    QByteArray entry_id;
    int64_t size = -1;  // bytes; -1 when the provider does not say (never cached)
    int64_t stamp = 0;
    bool operator==(const CMessageIdentity&) const = default;
};

// What recognising one message found: a voicemail record's fields, or that
// the message is not a voicemail (the other fields then empty).
struct CRecognition {
    bool voicemail = false;
    QString caller_name;  // as the message gave it, before the contacts named anybody
    QString caller_number;
    QString transcript;
    QString audio_type;
    int32_t length_seconds = -1;
    int64_t received_time = 0;
    int read = 0;
    uint32_t recording_attach = 0;
    bool operator==(const CRecognition&) const = default;
};

struct CCachedMessage {
    CMessageIdentity identity;
    CRecognition recognition;
};

class CMessageCache {
public:
    static constexpr int kSchemaVersion = 1;
    // Raised with every change to how a message is recognised or its fields
    // read (store/recording_rule, caller_reading, body_text, the record).
    static constexpr int kRecognitionVersion = 1;
    static constexpr int64_t kDefaultRecordingBytes = int64_t{200} << 20;

    // $XDG_CACHE_HOME/lyrabell (~/.cache/lyrabell when unset).
    static QString folder();
    // The file name of an account's cache: "account-" + the name with every
    // byte outside [A-Za-z0-9_-] written %XX, + ".sqlite"; a name longer than
    // 120 such characters keeps its first 80 and a hash of the whole.
    static QString fileName(const QString& accountName);
    // Opens (making when missing, rebuilding when damaged) the cache at path;
    // null when it cannot be used at all.
    static std::unique_ptr<CMessageCache> open(const QString& path);
    // The same for an account's cache in folder().
    static std::unique_ptr<CMessageCache> openForAccount(const QString& accountName);

    ~CMessageCache();
    CMessageCache(const CMessageCache&) = delete;
    CMessageCache& operator=(const CMessageCache&) = delete;

    QString path() const { return path_; }

    // Every cached message by entry id; empty (after a rebuild) when the file
    // turns out damaged.
    std::map<QByteArray, CCachedMessage> load();
    // Adds or replaces the given messages and forgets every cached message
    // whose entry id is in forget, in one transaction. A replaced message
    // whose identity changed loses its kept recording. False when nothing was written.
    bool update(const std::vector<CCachedMessage>& put, const std::vector<QByteArray>& forget);
    // Sets the read state of a cached message; false when it is not cached.
    bool setRead(const QByteArray& entryId, bool read);
    // Forgets one message and its recording.
    bool forget(const QByteArray& entryId);

    // Recordings. The bytes of a played recording are kept while the kept
    // recordings together stay within the limit; the least recently played
    // go first. A recording larger than the limit is not kept.
    void setRecordingLimit(int64_t bytes) { recordingLimit_ = bytes; }
    int64_t recordingLimit() const { return recordingLimit_; }
    // Keeps the recording of a cached message (it counts as played now);
    // false when the message is not cached or the recording is too large.
    bool keepRecording(const QByteArray& entryId, const QByteArray& bytes);
    // The kept recording of a message, which then counts as played now;
    // nullopt when none is kept.
    std::optional<QByteArray> recording(const QByteArray& entryId);
    // The entry ids of the kept recordings, least recently played first.
    std::vector<QByteArray> keptRecordings();

private:
    CMessageCache(QString path, sqlite3* db);
    // Removes the file and makes it again; the reason goes to standard error.
    bool rebuild(const QString& why);
    // Rebuilds when rc says the file is damaged; true when it did.
    bool rebuildIfDamaged(int rc);
    bool exec(const char* sql);
    bool evict();
    // Forgets everything learnt by another recognition version.
    void forgetOtherRecognition();
    int64_t nextPlayed();

    QString path_;
    sqlite3* db_ = nullptr;
    int64_t recordingLimit_ = kDefaultRecordingBytes;
    bool stale_ = false;  // learnt by another recognition, not yet forgotten
};

}  // namespace lyb::store
