// The store session of the process, the accounts (message stores), the
// chosen account's Inbox and the voicemail records built from it.
//
// Failures are reported by returning null or false; nothing here shows
// anything or throws. A message that cannot be opened, is not a voicemail, or
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
};

// An opened account.
struct CMessageStore {
    CEntryInfo info;
    std::unique_ptr<mapi::IMsgStore> store;
};

// An opened folder (the Inbox).
struct CMessageFolder {
    std::unique_ptr<mapi::IMAPIFolder> folder;
};

// Logs on; false (and an empty holder) when that fails. Not retried.
bool logon(CMapiSession& session);
// The accounts in store-table order; false without a session or a table.
bool list_stores(const CMapiSession& session, std::vector<CEntryInfo>& stores);
// Opens the first account whose display name equals name without regard to
// case; null when none matches or the open fails.
std::unique_ptr<CMessageStore> open_store_by_name(const CMapiSession& session, const QString& name);
std::unique_ptr<CMessageFolder> open_inbox(CMessageStore& store);
// The Inbox's messages in table order, voicemail or not; false without a table.
bool list_messages(CMessageFolder& folder, std::vector<CEntryInfo>& messages);
// Opens one listed message and builds its record; null when it cannot be
// opened or is not a voicemail.
std::unique_ptr<CVoiceMailMessage> open_voicemail(CMessageFolder& folder, const CEntryInfo& entry);
// Builds the records of all listed messages, as open_voicemail does for each,
// on up to `threads` threads at once (0: one per processor). The result has
// one slot per entry, in the same order; null where open_voicemail gives null.
std::vector<std::unique_ptr<CVoiceMailMessage>> open_voicemails(
    CMessageFolder& folder, const std::vector<CEntryInfo>& entries, unsigned threads = 0);
// Opens a message by an entry id handed over by another program ("MsgEntryID").
std::unique_ptr<CVoiceMailMessage> open_voicemail_by_entry_id(const CMapiSession& session,
                                                              const QByteArray& entryId);
void close_store(std::unique_ptr<CMessageStore>& store);
void close_folder(std::unique_ptr<CMessageFolder>& folder);
// Why the account open_store_by_name would open for name cannot be read, as
// one line for the user naming the account and where it is (the home folder
// as "~"): 'The account "Work" (~/Mail/wrk) cannot be read: No such file or
// directory', or 'There is no account "Work" in ~/.config/lyrabell/accounts.conf'.
// Empty when it can be read (an account with an empty Inbox can).
QString account_problem(const CMapiSession& session, const QString& name);
// Deletes (moves to Trash) the message; true exactly when the store reports S_OK.
bool delete_message(CMessageFolder* folder, const QByteArray& entryId);

// Reads a table of display names and entry ids, one row per request.
void read_entry_table(mapi::IMAPITable& table, std::vector<CEntryInfo>& out);

// The folder of the demo account (its Maildir and the contacts made with it)
// while it stands in for the accounts file the user has not made; empty when
// the user has one or the build made no demo.
QString demoAccountFolder();

}  // namespace lyb::store
