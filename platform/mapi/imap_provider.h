// The IMAP provider behind the message store interface (mapi.h): accounts
// whose line in the accounts file is an imap:// or imaps:// address
// (imap_url.h), over one shared connection per account (imap_connection.h).
//
// Mapping of the interface onto IMAP, the same as the Maildir provider's
// (maildir_provider.h) where nothing else is said:
// - Entry ids are bytes "LYI1" + a kind letter + UTF-8 fields separated by
//   NUL: 'S' store and 'F' folder (the account's name), 'M' message (account,
//   folder, UIDVALIDITY, UID in decimal). They stay the same across sessions;
//   a message's content never changes under its id, so the id alone
//   identifies what a cache keeps of it. A changed UIDVALIDITY makes every old
//   id not found.
//   Another folder of the account (the Trash) is 'F' with two fields
//   (account, the folder's name on the wire), its messages 'M' with that
//   name as the folder.
// - The store's receive folder is the address's folder.
// - The contents table lists the folder with one UID FETCH of flags, internal
//   date, RFC822.SIZE and BODYSTRUCTURE (later listings on the connection:
//   UIDs and flags, and all of new messages only); its rows, in UID order, carry
//   PR_ENTRYID, PR_MESSAGE_FLAGS (read bit from \Seen), PR_MESSAGE_SIZE
//   (RFC822.SIZE) and PR_MESSAGE_DELIVERY_TIME (INTERNALDATE).
// - Opening a message costs nothing: its attachment table comes from the
//   structure. The first property that needs content fetches, in one
//   exchange, the Subject, Received and Date header fields and the first
//   text/plain and text/html parts (at most kImapBodyBytes each); subject,
//   delivery time and bodies follow the Maildir rules on those bytes.
// - What was fetched of a message's content and a recording's shape is kept
//   for the process (bounded), so listing again fetches none of it.
// - PR_MIME_RAW is the message's first kImapRawBytes only (callers read the
//   start of a body from it), never the whole message.
// - An attachment's PR_ATTACH_DATA_BIN stream fetches the part in ranges as
//   it is read: identity encodings byte for byte; base64 with lines of one
//   length (what mail programs write) from the first and last bytes, which
//   give the exact decoded size, then any range on demand; other encodings,
//   and base64 with uneven lines, whole when first read.
// - SetProps of the read bit is UID STORE +/-FLAGS.SILENT (\Seen). Deleting
//   moves to the Trash (ImapConnection::moveToTrash); S_OK only when the
//   server confirmed. MoveToWastebasket tells the message's id in the Trash
//   from the server's COPYUID answer (UIDPLUS; none without). Opening that
//   id costs nothing and gives PR_ENTRYID and PR_PARENT_ENTRYID only; the
//   Trash folder it names moves messages back into the account's folder
//   (CopyMessages with MESSAGE_MOVE: ImapConnection::moveBack) and does
//   nothing else.
// - Failures (no connection, login refused, UIDVALIDITY changed) make the
//   calls fail: no table, no message. The reason is printed once on standard
//   error and kept in the connection's lastError().
#pragma once

#include <QString>

#include <memory>
#include <vector>

#include "platform/mapi/imap_url.h"
#include "platform/mapi/mapi.h"

namespace lyb::mapi {

constexpr uint32_t kImapBodyBytes = 256 * 1024;
constexpr uint32_t kImapRawBytes = 64 * 1024;

struct ImapAccount {
    QString displayName;
    QString line;  // the address as written
};

// The store rows (PR_DISPLAY_NAME_W, PR_ENTRYID) of IMAP accounts.
SRow imapStoreRow(const ImapAccount& account);
// Whether an entry id is one of this provider's.
bool isImapEntryId(const QByteArray& entryId);
HRESULT imapOpenStore(const std::vector<ImapAccount>& accounts, const QByteArray& entryId,
                      std::unique_ptr<IMsgStore>& store);
HRESULT imapOpenEntry(const std::vector<ImapAccount>& accounts, const QByteArray& entryId,
                      uint32_t* objType, std::unique_ptr<IMAPIProp>& object);

}  // namespace lyb::mapi
