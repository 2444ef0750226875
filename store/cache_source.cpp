#include "store/cache_source.h"

#include <vector>

namespace lyb::store {

using namespace lyb::mapi;

namespace {

// Passes a recording's stream through and hands its bytes to the cache once
// it was read from its start to its end in order (as playing reads it). A
// reader that seeks elsewhere only stops the collecting.
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
        if (collecting_ && position_ == uint64_t(bytes_.size())) {
            if (bytes_.size() + qsizetype(got) > limit_) {
                collecting_ = false;
                bytes_.clear();
            } else {
                bytes_.append(static_cast<const char*>(buffer), got);
            }
        }
        position_ += got;
        // A short read may only mean that no more has arrived yet: the
        // recording is whole when the stream's size says so.
        STATSTG stat;
        if (collecting_ && got < count && position_ == uint64_t(bytes_.size()) &&
            inner_->Stat(&stat, STATFLAG_NONAME) == S_OK && stat.cbSize == position_)
            keep();
        return hr;
    }
    HRESULT Seek(int64_t move, uint32_t origin, uint64_t* newPosition) override {
        uint64_t now = 0;
        const HRESULT hr = inner_->Seek(move, origin, &now);
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
    std::lock_guard lock(mutex_);
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
