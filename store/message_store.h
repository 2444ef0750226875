// The store session of the process, the accounts (message stores), the
// chosen account's Inbox and the voicemail records built from it.
//
// Failures are reported by returning null or false; nothing here shows
// anything or throws (the cache names its own faults on standard error,
// message_cache.h). A message that cannot be opened, is not a voicemail, or
// whose record construction throws is skipped (open_voicemail gives null).
#pragma once

#include <QByteArray>
#include <QString>

#include <memory>
#include <vector>

#include "platform/mapi/mapi.h"
#include "store/voicemail_message.h"

namespace lyb::store {

// The process-wide store session; empty until logon succeeds.
class CMapiSession {
public:
    bool is_logged_on() const { return session_ != nullptr; }
    mapi::IMAPISession* get() const { return session_.get(); }
    void reset(std::unique_ptr<mapi::IMAPISession> session = nullptr) {
        session_ = std::move(session);
    }

private:
    std::unique_ptr<mapi::IMAPISession> session_;
};

// One row of a store or folder table.
struct CEntryInfo {
    QString display_name;  // empty when the row has none
    QByteArray entry_id;
    // Message rows (list_messages) only: PR_MESSAGE_SIZE, -1 when the row
    // has none; the provider's stamp of this version of the message
    // (PR_LAST_MODIFICATION_TIME, else PR_MESSAGE_DELIVERY_TIME, else 0); the
    // read flag of PR_MESSAGE_FLAGS, -1 when the row has none.
    int64_t size = -1;
    int64_t stamp = 0;
    int read = -1;
};

class CCacheSource;

// An opened account.
struct CMessageStore {
    CEntryInfo info;
    std::unique_ptr<mapi::IMsgStore> store;
};

// An opened folder (the Inbox), with its account's cache (null when the
// cache cannot be used: everything then works without it). Records made from
// the cache share the folder to open their messages later.
struct CMessageFolder {
    std::shared_ptr<mapi::IMAPIFolder> folder;
    std::shared_ptr<CCacheSource> cache;
    // When the last list_messages could not reach the account's server and
    // gave the cached messages instead: when the server last gave the list
    // (seconds since 1970). 0 when the list came from the account itself.
    int64_t offline_since = 0;
};

// Logs on; false (and an empty holder) when that fails. Not retried.
bool logon(CMapiSession& session);
// The accounts in store-table order; false without a session or a table.
bool list_stores(const CMapiSession& session, std::vector<CEntryInfo>& stores);
// Opens the first account whose display name equals name without regard to
// case; null when none matches or the open fails.
std::unique_ptr<CMessageStore> open_store_by_name(const CMapiSession& session, const QString& name);
// Opens the account's Inbox and its cache (store/cache_source.h).
std::unique_ptr<CMessageFolder> open_inbox(CMessageStore& store);
// The Inbox's messages in table order, voicemail or not, with what tells one
// version of a message from another; false without a table. An IMAP
// account whose server cannot be reached, listed from the server before,
// gives the messages its cache holds (with their cached read state) and
// sets offline_since; it is cleared by the next listing from the server.
bool list_messages(CMessageFolder& folder, std::vector<CEntryInfo>& messages);
// Opens one listed message and builds its record; null when it cannot be
// opened or is not a voicemail.
std::unique_ptr<CVoiceMailMessage> open_voicemail(CMessageFolder& folder, const CEntryInfo& entry);
// Builds the records of all listed messages, as open_voicemail does for each,
// on up to `threads` threads at once (0: one per processor). The result has
// one slot per entry, in the same order; null where open_voicemail gives null.
// With the folder's cache, entries are the whole listing: a message whose
// identity (entry id, size, stamp) the cache holds is not opened, its record
// is made from the cache with the read state of its row; the others are
// opened and parsed, and the cache learns them and forgets the messages
// that are no longer listed (see open_voicemails_cached).
std::vector<std::unique_ptr<CVoiceMailMessage>> open_voicemails(
    CMessageFolder& folder, const std::vector<CEntryInfo>& entries, unsigned threads = 0);
// Opens a message by an entry id handed over by another program ("MsgEntryID").
std::unique_ptr<CVoiceMailMessage> open_voicemail_by_entry_id(const CMapiSession& session,
                                                              const QByteArray& entryId);
void close_store(std::unique_ptr<CMessageStore>& store);
void close_folder(std::unique_ptr<CMessageFolder>& folder);
// Deletes (moves to Trash) the message and remembers it as the folder's last
// delete (store/deleted_messages.h); true exactly when the store reports S_OK.
// The cache then forgets it.
bool delete_message(CMessageFolder* folder, const QByteArray& entryId);

// ---------------------------------------------------------------- the cache

// One difference between the cache and the listing.
struct CCacheChange {
    enum class Kind { added, changed, removed };
    Kind kind = Kind::added;
    QByteArray entry_id;
    // What the message is now (removed: what it was): a voicemail and its
    // caller, or not; unreadable when it could not be opened (not cached).
    bool voicemail = false;
    bool unreadable = false;
    QString caller_name;
    QString caller_number;
    QString what;  // for changed: "read", "unread" or "content"
};

struct CListingReport {
    std::vector<CCacheChange> changes;  // in listing order, the removed last
    size_t parsed = 0;                  // messages opened and parsed
    size_t from_cache = 0;              // records (or non-voicemails) taken from the cache
};

// open_voicemails, telling what the cache did into report (when not null).
std::vector<std::unique_ptr<CVoiceMailMessage>> open_voicemails_cached(
    CMessageFolder& folder, const std::vector<CEntryInfo>& entries, unsigned threads,
    CListingReport* report);

// Sets or clears the read flag of any message of the folder (voicemail or
// not) in the store and the cache; false when it cannot be opened or the
// store refuses.
bool mark_message_read(CMessageFolder& folder, const QByteArray& entryId, bool read);

// The account and Inbox that list the message; false (both null) when no
// account's Inbox does.
bool find_message(const CMapiSession& session, const QByteArray& entryId,
                  std::unique_ptr<CMessageStore>& store, std::unique_ptr<CMessageFolder>& folder);

// Reads a table of display names and entry ids, one row per request.
void read_entry_table(mapi::IMAPITable& table, std::vector<CEntryInfo>& out);

// The folder of the demo account (its Maildir and the contacts made with it)
// while it stands in for the accounts file the user has not made; empty when
// the user has one or the build made no demo.
QString demoAccountFolder();

}  // namespace lyb::store
