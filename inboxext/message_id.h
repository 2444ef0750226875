// The Message-ID that lyminbox looks a piped message up by.
#pragma once

#include <QByteArray>

namespace lyb::inboxext {

// The Message-ID in a message's header part, without its angle brackets;
// empty when there is none. message is whatever a mail program piped in.
QByteArray messageId(const QByteArray& message);

}  // namespace lyb::inboxext
