// Named events shared between processes of one user, as the Today host uses
// to say it is up: a small file per event in $XDG_RUNTIME_DIR/lyrabell/events,
// holding "1" while the event is set and nothing while it is reset. Without
// XDG_RUNTIME_DIR (or with the folder unusable) no event can be created or
// opened, which a waiter sees as Failed.
#pragma once

#include <QString>

namespace lyb::today {

enum class WaitResult { Signalled, TimedOut, Failed };

// Creates the event (or resets it when it exists already) in the given state.
// False when its file cannot be written.
bool createEvent(const QString& name, bool signalled);
// Sets an existing or new event. False when its file cannot be written.
bool setEvent(const QString& name);
// Removes the event; waiters then fail to open it.
void removeEvent(const QString& name);
// Opens the event and waits for it with a zero time-out: Signalled when set,
// TimedOut when reset, Failed when there is no such event.
WaitResult waitEventNow(const QString& name);

}  // namespace lyb::today
