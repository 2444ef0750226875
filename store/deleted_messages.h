// Taking back a delete: a message moved to its account's Trash goes back to
// the folder it left, with its flags (read or not) as they were.
//
// Everything goes through the message store interface (MoveToWastebasket,
// the Trash message's PR_PARENT_ENTRYID and CopyMessages with MESSAGE_MOVE),
// so it works for every provider that implements those.
//
// The last delete of every folder is remembered in a small state file, so a
// delete made in the window can be taken back from the command line:
// $XDG_STATE_HOME/lyrabell/deleted (~/.local/state when unset), made 0600 in
// a 0700 folder and replaced whole on each change. One line per folder, three
// hex fields separated by blanks: the folder's entry id, the message's entry
// id before the delete, its entry id in the Trash. Lines that do not read so
// are ignored; a file that cannot be written leaves the delete done and only
// the command line's undo unable to find it.
#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

#include "store/message_store.h"

namespace lyb::store {

// A message moved to the Trash, as undoing it needs.
struct CDeletedMessage {
    QByteArray folder_id;    // the folder it left (its PR_ENTRYID)
    QByteArray original_id;  // its entry id there
    QByteArray trash_id;     // its entry id in the Trash; empty when the store cannot tell
};

// Moves the message to the Trash and remembers it as its folder's last
// delete; *deleted (when not null) gets what undo needs. True exactly when
// the store reports S_OK.
bool delete_to_trash(CMessageFolder& folder, const QByteArray& entryId,
                     CDeletedMessage* deleted = nullptr);

// Moves a deleted message back to the folder it left and forgets it as that
// folder's last delete. Returns its entry id there; empty when it cannot go
// back (no Trash id, gone from the Trash, a store that cannot move).
QByteArray undelete(const CMapiSession& session, const CDeletedMessage& deleted);

// The state file (see above).
QString deleted_state_path();
// The remembered last delete of the folder with this entry id, or the one
// whose entry id before the delete was id; nothing when none is remembered.
std::optional<CDeletedMessage> last_deleted(const QByteArray& id);
// The entry id of an open folder; empty when it has none.
QByteArray folder_entry_id(CMessageFolder& folder);

}  // namespace lyb::store
