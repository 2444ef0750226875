#include "store/cache_source.h"

#include <algorithm>
#include <vector>

namespace lyb::store {

using namespace lyb::mapi;

namespace {

// Passes a recording's stream through and hands its bytes to the cache once
// every byte was read (as playing reads it). Bytes read again after a seek
// back are not collected twice, and a short skip forward is read through; a
// reader that skips further stops the collecting, and nothing is kept.
class CKeepingStream final : public IStream {
public:
    CKeepingStream(IStream* inner, std::weak_ptr<CCacheSource> source, QByteArray entryId,
                   int64_t limit)
        : inner_(inner), source_(std::move(source)), entryId_(std::move(entryId)), limit_(limit) {}

    HRESULT Read(void* buffer, uint32_t count, uint32_t* read) override {
        uint32_t got = 0;
        const HRESULT hr = inner_->Read(buffer, count, &got);
        if (read)
            *read = got;
        if (Failed(hr)) {
            collecting_ = false;
            return hr;
        }
        collect(static_cast<const char*>(buffer), got);
        position_ += got;
        if (collecting_ && position_ == uint64_t(bytes_.size()) && whole(got < count))
            keep();
        return hr;
    }
    HRESULT Seek(int64_t move, uint32_t origin, uint64_t* newPosition) override {
        uint64_t now = 0;
        HRESULT hr = inner_->Seek(move, origin, &now);
        const uint64_t collected = uint64_t(bytes_.size());
        if (!Failed(hr) && collecting_ && now > collected) {
            if (now - collected <= kReadThrough &&
                !Failed(inner_->Seek(int64_t(collected), STREAM_SEEK_SET, nullptr))) {
                // Read the skipped bytes, then stand where the reader asked.
                char gap[4096];
                uint64_t at = collected;
                while (collecting_ && at < now) {
                    uint32_t got = 0;
                    const uint32_t want = uint32_t(std::min<uint64_t>(sizeof gap, now - at));
                    if (Failed(inner_->Read(gap, want, &got)) || got == 0)
                        collecting_ = false;
                    position_ = at;
                    collect(gap, got);
                    at += got;
                }
                hr = inner_->Seek(int64_t(now), STREAM_SEEK_SET, &now);
            } else {
                collecting_ = false;
            }
        }
        if (!Failed(hr))
            position_ = now;
        if (newPosition)
            *newPosition = now;
        return hr;
    }
    HRESULT Stat(STATSTG* stat, uint32_t flags) override { return inner_->Stat(stat, flags); }

protected:
    ~CKeepingStream() override { inner_->Release(); }

private:
    static constexpr uint64_t kReadThrough = 64 * 1024;

    // Adds what a read at position_ gave beyond the bytes collected so far.
    void collect(const char* data, uint32_t got) {
        const uint64_t collected = uint64_t(bytes_.size());
        if (!collecting_ || position_ > collected || position_ + got <= collected)
            return;
        const uint64_t skip = collected - position_;
        if (collected + (got - skip) > uint64_t(limit_)) {
            collecting_ = false;
            bytes_.clear();
            return;
        }
        bytes_.append(data + skip, qsizetype(got - skip));
    }

    // Whether the bytes collected are the whole recording: its size as the
    // stream tells it. A short read may only mean that no more has arrived
    // yet, so the size is asked again then.
    bool whole(bool shortRead) {
        if (size_ < 0 || shortRead) {
            STATSTG stat;
            if (inner_->Stat(&stat, STATFLAG_NONAME) == S_OK)
                size_ = int64_t(stat.cbSize);
        }
        return size_ >= 0 && size_ == bytes_.size();
    }

    void keep() {
        collecting_ = false;
        if (auto source = source_.lock())
            source->with(
                [&](CMessageCache& cache) { return cache.keepRecording(entryId_, bytes_); });
        bytes_.clear();
    }

    IStream* inner_;
    std::weak_ptr<CCacheSource> source_;
    QByteArray entryId_;
    int64_t limit_;
    QByteArray bytes_;
    uint64_t position_ = 0;
    int64_t size_ = -1;  // the stream's size, once known
    bool collecting_ = true;
};

class CKeptStream final : public CBufferStream {
public:
    explicit CKeptStream(QByteArray bytes) : bytes_(std::move(bytes)) {}

protected:
    const uint8_t* bytes() const override {
        return reinterpret_cast<const uint8_t*>(bytes_.constData());
    }
    uint64_t size() const override { return uint64_t(bytes_.size()); }

private:
    QByteArray bytes_;
};

}  // namespace

std::shared_ptr<CCacheSource> CCacheSource::open(const QString& accountName,
                                                 std::shared_ptr<IMAPIFolder> folder) {
    auto cache = CMessageCache::openForAccount(accountName);
    if (!cache)
        return nullptr;
    return std::make_shared<CCacheSource>(std::move(cache), std::move(folder));
}

std::unique_ptr<IMessage> CCacheSource::open(const QByteArray& entryId) {
    std::lock_guard lock(folderMutex_);
    std::unique_ptr<IMAPIProp> object;
    uint32_t type = 0;
    if (!folder_ || Failed(folder_->OpenEntry(entryId, 0, &type, object)))
        return nullptr;
    return entry_cast<IMessage>(std::move(object));
}

void CCacheSource::readChanged(const QByteArray& entryId, bool read) {
    with([&](CMessageCache& cache) { return cache.setRead(entryId, read); });
}

IStream* CCacheSource::recordingStream(const QByteArray& entryId, IStream* stream) {
    std::lock_guard lock(mutex_);
    if (!stream) {
        std::optional<QByteArray> kept = cache_->recording(entryId);
        return kept ? new CKeptStream(std::move(*kept)) : nullptr;
    }
    return new CKeepingStream(stream, weak_from_this(), entryId, cache_->recordingLimit());
}

}  // namespace lyb::store
