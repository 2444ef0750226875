// Handing a play request over to Lyrabell: the one way the launcher, a second
// Lyrabell and the Inbox extension put a request where a running Lyrabell
// takes it, or start one with it.
//
// All of it happens under the per-user hand-over lock (names::kHandOverLock),
// held until the running Lyrabell has answered the play message: "AutoPlay"
// and "MsgEntryID" each hold one request, so a second hand-over waits instead
// of replacing the first before it was taken. The wait for the lock is
// bounded (UserLock): after it the hand-over goes on without the lock, since
// a holder that never lets go must not swallow every later request.
#pragma once

#include <QByteArray>
#include <QString>

#include <functional>
#include <optional>

namespace lyb::desktop {

struct HandOver {
    // The request as Lyrabell reads it from "AutoPlay" or its command line.
    QString request;
    // For a stored message ("<OID>"): the entry id, written to "MsgEntryID"
    // before anything else.
    std::optional<QByteArray> entryId;
    // Tells whether a Lyrabell runs that takes the request through "AutoPlay"
    // and the play message. Unset: its main window (names::kMainWindowRole)
    // is looked for on the session.
    std::function<bool()> running;
    // Starts Lyrabell, or the program that hands over to it, with the request
    // when none runs; false when nothing started. Unset: nothing is started.
    std::function<bool(const QString& request)> start;
    // How long the lock is waited for, in ms.
    int lockWaitMs = 10000;
};

enum class HandOverResult {
    Notified,  // "AutoPlay" written and the play message answered
    Started,   // no Lyrabell ran; start() started one
    Dropped,   // the settings could not be written, or nothing started
};

// Hands the request over, under the lock: "MsgEntryID" first when an entry id
// is given; then, when a Lyrabell runs, the request to "AutoPlay" and the play
// message broadcast (returning once every window answered, Lyrabell's after
// taking "AutoPlay" and emptying it); otherwise start(request). The settings
// key is only created when something is written to it.
HandOverResult handOverRequest(const HandOver& handOver);

}  // namespace lyb::desktop
