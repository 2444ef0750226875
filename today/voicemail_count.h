// Counting the new voicemails for the Today item, through a store session of
// its own: the Inbox of the account named in the settings, the unread
// messages that are voicemails by the store's one rule (store/recording_rule).
// It shares with Lyrabell the registry value, the store and that rule, not
// the rest of its code.
//
// A count opens every unread message, so the item keeps a CVoicemailCounter:
// it remembers each message's verdict and opens only messages it has not
// seen, and while the Maildir's folders have not changed it does not list
// them at all. CCountThread runs those counts off the user-interface thread.
#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

#include "platform/mapi/mapi.h"

namespace lyb::today {

// The number of unread voicemails in the Inbox of the account in "Message
// Store". 0 on any failure: no setting, no session, no such account, no Inbox. A message that cannot be opened is not counted.
// Blocks the caller while it opens every unread message.
long countNewVoicemails();

// The entry id of the newest unread voicemail (by delivery time) in the same
// Inbox, for opening Lyrabell on it; nothing when there is none or on a failure.
std::optional<QByteArray> newestNewVoicemail();

// Counts as countNewVoicemails does, remembering between counts each unread
// message's verdict by its entry id (which holds the Maildir unique name)
// and its size, so a message is opened once however often it is counted. A
// verdict is forgotten once its message is no longer listed as unread. When
// neither the chosen account nor the modification times of its new/ and cur/
// folders changed since the last count, that count is the answer. Used by
// one thread at a time.
class CVoicemailCounter {
public:
    // stop, when given and set, ends the count early; the answer is then
    // not kept and is to be ignored.
    long count(const std::atomic<bool>* stop = nullptr);
    // How many messages the last count opened.
    long opened() const { return opened_; }

private:
    struct Stamp {
        QString account, maildir;
        int64_t newTime = -1, curTime = -1;
        bool operator==(const Stamp&) const = default;
    };
    long listAndCount(const QString& account, const std::atomic<bool>* stop);

    QHash<QByteArray, bool> verdicts_;  // key: entry id, then the size
    Stamp last_;
    bool lastSettled_ = false;  // the last count can stand for an unchanged Maildir
    long lastCount_ = 0;
    long opened_ = 0;
};

// A thread of its own that counts with one CVoicemailCounter on request and
// hands each result to done, called on that thread. Requests made while a
// count runs are merged into one more count after it.
class CCountThread {
public:
    explicit CCountThread(std::function<void(long)> done);
    // Ends a running count early, without calling done, and waits for the thread.
    ~CCountThread();
    CCountThread(const CCountThread&) = delete;
    CCountThread& operator=(const CCountThread&) = delete;

    void request();

private:
    void run();

    std::function<void(long)> done_;
    CVoicemailCounter counter_;  // the thread's own
    std::mutex mutex_;
    std::condition_variable wake_;
    bool requested_ = false;
    std::atomic<bool> stop_{false};
    std::thread thread_;  // last, so it starts once the rest is in place
};

}  // namespace lyb::today
