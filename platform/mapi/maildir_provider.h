// The Maildir provider behind the message store interface (mapi.h).
//
// Accounts. The accounts file is the file named by LYRABELL_ACCOUNTS, else
// $XDG_CONFIG_HOME/lyrabell/accounts.conf (~/.config when unset). It is UTF-8
// text, one account per line:
//
//     # comment lines start with '#'; blank lines are ignored
//     Work Mail = ~/Maildir
//     Voicemail = /srv/mail/alice/.Voicemail
//     SMS =
//
// The display name is everything before the first '=', the Maildir folder
// everything after it, both trimmed. "~/" at the start of a path is the home
// folder; a relative path is taken from the accounts file's folder. An empty
// path gives an account with an empty Inbox. A value that starts with
// imap:// or imaps:// is an IMAP account instead (imap_provider.h), kept as
// written. Lines without '=' or with an
// empty name are ignored. Accounts keep the file's order.
// When the accounts file does not exist, two accounts are offered: "Demo
// Voicemail", the demo Maildir made by the build (demoMaildir() below), and
// an empty "SMS". An accounts file that exists but lists nothing gives none.
//
// Layout. An account's Inbox is its Maildir's root folder (cur, new, tmp);
// its Trash is the Maildir++ subfolder ".Trash", made on the first deletion.
//
// Mapping of the interface onto Maildir:
// - Entry ids are bytes "LYB1" + a kind letter + UTF-8 text: 'S' store
//   (display name, NUL, Maildir path), 'F' folder (Maildir path), 'M' message
//   (Maildir path, NUL, the Maildir unique name, the file name before ':').
//   They stay the same across sessions and flag renames and are unique per
//   message. Any session opens a message id with its OpenEntry.
// - PR_MESSAGE_FLAGS: MSGFLAG_READ is the Seen flag ('S' in ":2,FLAGS");
//   MSGFLAG_HASATTACH is set when the message has attachments. SetProps of
//   the read bit renames the file atomically (rename(2) in one file system):
//   to cur/UNIQUE:2,FLAGS with 'S' added or removed, the other flags kept and
//   sorted; a message in new/ moves to cur/ when it is marked read. Nothing
//   else changes; the message bytes never do. Other bits are ignored.
// - PR_MESSAGE_SIZE, in contents table rows only: the message file's size in
//   bytes when the listing was made (at most 2^31 - 1), missing when the file
//   could not be looked at. PR_LAST_MODIFICATION_TIME likewise: the file's
//   modification time (flag renames keep it; new content changes it).
// - PR_MESSAGE_DELIVERY_TIME: the date of the newest Received header (the
//   topmost one, after its last ';'), else the Date header, else the file's
//   modification time.
// - PR_SUBJECT_W: the Subject header, RFC 2047 decoded; missing without one.
// - PR_BODY_W: the first text/plain part that is not an attachment, transfer
//   encoding and charset decoded; PR_BODY_HTML_W likewise the first text/html
//   part. The 8-bit body tags are never present.
// - 0x81030102 (PR_MIME_RAW): the message file's bytes.
// - Attachments are the leaf parts that have a file name, are marked
//   "attachment", or are not text, plus embedded messages, in message order.
//   Rows carry PR_ATTACH_NUM (0, 1, ...), PR_ATTACH_FILENAME_W and
//   PR_ATTACH_LONG_FILENAME_W (both the part's file name), PR_ATTACH_EXTENSION_W
//   (from the last '.', dot included) and PR_ATTACH_MIME_TAG_W (lower case).
//   PR_ATTACH_DATA_BIN is the decoded part; a part without content (a message
//   only partly downloaded) has no such property, so OpenProperty fails.
// - DeleteMessages moves each message file to .Trash (cur/ to .Trash/cur, new/
//   to .Trash/new) without overwriting anything there; any mail tool can undo it.
//   MoveToWastebasket does the same and tells each file's entry id in .Trash;
//   a message's PR_PARENT_ENTRYID is its Maildir folder's entry id.
// - CopyMessages moves (MESSAGE_MOVE only; a copy is MAPI_E_NO_SUPPORT) into
//   another Maildir folder: the file goes to the same subfolder there under
//   the same name, so its flags (":2,S" and the rest) stay as they were; a
//   unique name taken there gets a new one, nothing is overwritten.
// - Listing and reading change nothing in the Maildir. The contents table
//   reads new/ before cur/ and keeps one row per unique name, rereading cur/
//   while its modification time changes during the read, so a message that a
//   mail tool moves from new/ to cur/ or renames meanwhile is listed once.
//   Rows are ordered by unique name (mail tools start it with the delivery
//   time). A message that is gone when it is opened fails with MAPI_E_NOT_FOUND.
// - Other clients rename files at any time (to change flags). Every lookup by
//   unique name (opening, reading, marking, deleting) that finds its file
//   gone looks the unique name up again in new/ and cur/ before giving up,
//   and a deletion ends with the file in exactly one place: when its name
//   vanishes between the link into .Trash and the unlink, the link is undone
//   and the move is tried again under the new name.
//
// Bad input. Malformed MIME (missing or wrong boundaries, bad base64, unknown
// or wrong charsets, raw 8-bit headers, very long lines) gives the best
// reading GMime makes of it: text in an unknown charset is read as UTF-8 when
// it is valid UTF-8, else as Latin-1; undecodable base64 gives what decodes.
// Parts nested deeper than 32 multipart levels are ignored. A file that
// cannot be read gives a message without properties. Nothing here throws.
#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/mapi/mapi.h"

namespace lyb::mapi {

struct Account {
    QString displayName;
    QString maildir;      // absolute; empty for an account with an empty Inbox
    QString imapAddress;  // an imap:// or imaps:// line (imap_provider.h); maildir is then empty
};

// The accounts file in use (LYRABELL_ACCOUNTS or the XDG default).
QString accountsFilePath();
// Reads the accounts as described above.
std::vector<Account> loadAccounts();
// Parses the text of an accounts file; relative paths are taken from baseDir.
std::vector<Account> parseAccounts(const QString& text, const QString& baseDir);
// The demo Maildir, "Maildir" in paths::demo_account_folder() (an installed
// program's is the user's copy of the installed demo); empty when it is not
// there (a build without the demo).
QString demoMaildir();

// The session over the Maildir accounts given (MAPILogonEx chooses the
// provider of each account).
std::unique_ptr<IMAPISession> makeMaildirSession(std::vector<Account> accounts);

// Builds the entry id of a message in a Maildir.
QByteArray messageEntryId(const QString& maildir, const QString& uniqueName);

// The largest message file read. A larger file, and any file that is not a
// regular file (a FIFO, a device, a symlink to one), is not read at all: in a
// Maildir it gives a message without properties.
constexpr uint64_t kMaxMessageFileBytes = uint64_t{256} << 20;

// Opens one message file that need not be in a Maildir (lybtool show); its
// read flag comes from a ":2," suffix, and SetProps fails. Fails with
// MAPI_E_NOT_FOUND when the file cannot be read; *error (when not null) then
// gets why, as an error code of platform/files/regular_file.h (0 on success).
HRESULT OpenMessageFile(const QString& path, std::unique_ptr<IMessage>& message,
                        int* error = nullptr);
// Opens a message from its bytes (tests, fuzzing).
std::unique_ptr<IMessage> OpenMessageBytes(const QByteArray& bytes);

// Starts GMime once per process; safe from any thread. Every entry point above
// calls it.
void ensureMimeInitialised();

}  // namespace lyb::mapi
