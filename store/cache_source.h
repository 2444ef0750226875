// An account's cache as its Inbox's records use it: one CMessageCache behind
// a lock, and the folder the records open their messages from.
//
// Records made from the cache, and those parsed while it was open, tell it
// when they are marked read or unread; their recordings are read from it
// when it keeps them, else kept once played to the end (within the cache's
// limit). A cache fault never fails a record: it plays and marks from the
// message as it would without a cache.
#pragma once

#include <QByteArray>
#include <QString>

#include <functional>
#include <memory>
#include <mutex>

#include "platform/mapi/mapi.h"
#include "store/message_cache.h"
#include "store/voicemail_message.h"

namespace lyb::store {

class CCacheSource final : public CRecordSource, public std::enable_shared_from_this<CCacheSource> {
public:
    // The source of an account's cache (CMessageCache::openForAccount); null
    // when the cache cannot be used.
    static std::shared_ptr<CCacheSource> open(const QString& accountName,
                                              std::shared_ptr<mapi::IMAPIFolder> folder);

    CCacheSource(std::unique_ptr<CMessageCache> cache, std::shared_ptr<mapi::IMAPIFolder> folder)
        : cache_(std::move(cache)), folder_(std::move(folder)) {}

    std::unique_ptr<mapi::IMessage> open(const QByteArray& entryId) override;
    void readChanged(const QByteArray& entryId, bool read) override;
    mapi::IStream* recordingStream(const QByteArray& entryId, mapi::IStream* stream) override;

    // Runs work on the cache with the lock held.
    template <typename Work>
    auto with(Work&& work) {
        std::lock_guard lock(mutex_);
        return work(*cache_);
    }

private:
    std::mutex mutex_;        // the cache's
    std::mutex folderMutex_;  // the folder's: opening a message may wait on a server
    std::unique_ptr<CMessageCache> cache_;
    std::shared_ptr<mapi::IMAPIFolder> folder_;
};

}  // namespace lyb::store
