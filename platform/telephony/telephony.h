// The phone's request-call function: asks the desktop to call a number.
//
// When LYRABELL_DIALLER names a program (a path, or a name searched on
// PATH), that program is started with two arguments, the number and the
// called party's name (empty when there is none), without a shell and without
// waiting. Otherwise the number goes to the desktop's handler as a tel: URI
// (softphones and phone-link programs register for it; see
// desktop::shellExecuteOpen); the name cannot travel in the URI and is left
// out.
//
// What happens next (a call placed at once, or offered to the user first) is
// the handler's. The caller relies on nothing more. A dialler or handler that
// cannot be started, and a tel: URI that the handler finds no program for,
// go to the desktop's open-failure reporter (desktop::reportOpenFailure),
// which tells the user; one that cannot be started is also named once per
// process on standard error.
#pragma once

#include <QString>

namespace lyb::telephony {

// Returns the tel: URI for a number: "tel:" and the number with every
// character but digits and "+-.()*" percent-encoded ("#" and blanks among
// them), so the text the user typed cannot change the URI's meaning.
QString telUri(const QString& number);

// Hands number and calledParty to the dialler as described above. True when
// something was started; false, after the one line on standard error, when
// nothing could be (or the number is empty, which starts nothing).
bool tapi_request_make_call(const QString& number, const QString& calledParty);

}  // namespace lyb::telephony
