// Live news of an IMAP account's folder, for a program that shows it.
//
// An ImapWatch follows one account: a thread of its own keeps a connection
// of its own in IDLE (where the server lacks IDLE, it asks with NOOP every
// kImapPollSeconds) and calls `changed` whenever the server tells of new
// messages, messages that went away or changed flags, once when the
// connection broke, and once each time it was made anew. What changed is for the
// caller to list (the account's ordinary connection does that cheaply).
//
// The program keeps one such connection per account, whatever the number of
// watches: watches of one account share it, and it closes when the last of
// them goes. A broken or refused connection is tried again after 1, 2, 4 ...
// up to kImapRetryMaxSeconds; after a refused password the account's
// connections try at most once a minute (imap_connection.h). The waiting
// thread sleeps in poll(): an idle watch costs no processor time.
#pragma once

#include <QString>

#include <functional>
#include <memory>

#include "platform/mapi/imap_url.h"

namespace lyb::mapi {

constexpr int kImapPollSeconds = 60;
constexpr int kImapIdleSeconds = 20 * 60;  // IDLE is renewed before servers end it
constexpr int kImapRetryMaxSeconds = 120;
constexpr int kImapStopWaitSeconds = 2;  // the longest a watch's end waits for its thread

class ImapWatch {
public:
    // changed runs on the watch's thread; it must be quick (post to the
    // thread that lists, for instance).
    ImapWatch(const QString& account, const ImapAddress& address, std::function<void()> changed);
    // After it returns, changed is never called again. The last watch of an
    // account ends its thread and waits for it (at once unless a connection
    // is still being made, and then at most kImapStopWaitSeconds).
    ~ImapWatch();
    ImapWatch(const ImapWatch&) = delete;
    ImapWatch& operator=(const ImapWatch&) = delete;

    // How many accounts have a watching connection now (for tests).
    static int followedAccounts();

    struct Follower;  // the account's connection and thread

private:
    std::shared_ptr<Follower> follower_;
    int id_;
};

}  // namespace lyb::mapi
