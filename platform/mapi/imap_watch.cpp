#include "platform/mapi/imap_watch.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>
#include <utility>

#include "platform/mapi/imap_connection.h"

namespace lyb::mapi {

struct ImapWatch::Follower {
    Follower(const QString& account, const ImapAddress& address)
        : connection(account, address), wake(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}
    ~Follower() {
        if (wake >= 0)
            ::close(wake);
    }

    void run();
    void notify() {
        std::lock_guard lock(mutex);
        for (const auto& [id, changed] : listeners)
            changed();
    }
    // Sleeps `seconds` unless woken; false when it should end.
    bool rest(int seconds) {
        pollfd fd{wake, POLLIN, 0};
        ::poll(&fd, 1, seconds * 1000);
        return !stopping;
    }
    // Ends the thread's wait at once, without a word to the server.
    void stop() {
        stopping = true;
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = ::write(wake, &one, sizeof one);
        connection.interrupt();
    }

    // Told when the thread has ended and the follower is gone.
    struct Ending {
        std::mutex mutex;
        std::condition_variable done;
        bool ended = false;
    };

    ImapConnection connection;
    int wake;
    std::atomic<bool> stopping{false};
    std::mutex mutex;  // listeners
    std::map<int, std::function<void()>> listeners;
    const std::shared_ptr<Ending> ending = std::make_shared<Ending>();
};

void ImapWatch::Follower::run() {
    int retry = 1;
    bool up = false;
    while (!stopping) {
        const HRESULT hr = connection.waitForChange(wake, kImapIdleSeconds, kImapPollSeconds);
        if (stopping)
            break;
        if (Failed(hr)) {
            // The server went away: the caller learns it by listing.
            if (std::exchange(up, false))
                notify();
            if (!rest(retry))
                break;
            retry = std::min(retry * 2, kImapRetryMaxSeconds);
            continue;
        }
        retry = 1;
        up = true;
        if (hr == S_OK)
            notify();
    }
    // The last watch changed the listeners under the lock before it asked
    // the thread to end; the follower may be destroyed here, after it.
    std::lock_guard lock(mutex);
}

namespace {

std::mutex& registryMutex() {
    static std::mutex m;
    return m;
}

}  // namespace

// The followers by account, never destroyed: a follower's thread may still
// be ending when the program does.
static auto* followers = new std::map<QString, std::weak_ptr<ImapWatch::Follower>>;

ImapWatch::ImapWatch(const QString& account, const ImapAddress& address,
                     std::function<void()> changed) {
    static std::atomic<int> nextId{1};
    id_ = nextId++;
    std::lock_guard lock(registryMutex());
    std::weak_ptr<Follower>& slot = (*followers)[account];
    follower_ = slot.lock();
    if (!follower_ || follower_->stopping) {
        follower_ = std::make_shared<Follower>(account, address);
        slot = follower_;
        std::thread([f = follower_, ending = follower_->ending]() mutable {
            f->run();
            f.reset();
            std::lock_guard lock(ending->mutex);
            ending->ended = true;
            ending->done.notify_all();
        }).detach();
    }
    std::lock_guard listeners(follower_->mutex);
    follower_->listeners[id_] = std::move(changed);
}

ImapWatch::~ImapWatch() {
    std::shared_ptr<Follower::Ending> ending;
    {
        std::lock_guard lock(registryMutex());
        bool last = false;
        {
            std::lock_guard listeners(follower_->mutex);
            follower_->listeners.erase(id_);
            last = follower_->listeners.empty();
        }
        if (last) {
            follower_->stop();
            ending = follower_->ending;
        }
        follower_.reset();
    }
    // The thread needs no network to end; waiting for it keeps it out of the
    // network libraries while the program ends. Only a connection still
    // being made keeps it longer, and then it ends on its own.
    if (ending) {
        std::unique_lock lock(ending->mutex);
        ending->done.wait_for(lock, std::chrono::seconds(kImapStopWaitSeconds),
                              [&] { return ending->ended; });
    }
}

int ImapWatch::followedAccounts() {
    std::lock_guard lock(registryMutex());
    int count = 0;
    for (const auto& [account, follower] : *followers) {
        const auto f = follower.lock();
        count += f && !f->stopping ? 1 : 0;
    }
    return count;
}

}  // namespace lyb::mapi
