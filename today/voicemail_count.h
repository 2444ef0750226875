// Counting the new voicemails for the Today item, through a store session of
// its own: the Inbox of the account named in the settings, the unread
// messages that carry an audio attachment. It shares with Lyrabell only the
// registry value and the store, not its code.
#pragma once

#include "platform/mapi/mapi.h"

namespace lyb::today {

// The number of unread messages with an audio attachment in the Inbox of the
// account in "Message Store". 0 on any failure: no setting, no session, no
// such account, no Inbox. A message that cannot be opened is not counted.
// Blocks the caller while it opens every unread message.
long countNewVoicemails();

// Whether a message has an audio attachment, by its attachment rows in order,
// the verdict carrying from row to row: a row's file name decides it (".wav"
// or ".gsm" from its last dot, without regard to case); a row whose name
// leaves it false gets a second chance from its MIME type (containing "gsm"
// or "wav"). So a later non-audio attachment overrules an earlier wave file.
bool hasAudioAttachment(mapi::IMessage& message);

}  // namespace lyb::today
