#include "tests/app/memory_message_store.h"

#include "platform/mapi/mapi_stream.h"

namespace lyb::app {

namespace {

class CMemoryRecord final : public IVoicemailRecord {
public:
    explicit CMemoryRecord(MemoryVoicemail voicemail) : v_(std::move(voicemail)) {}
    QString caller_name() const override { return v_.callerName; }
    QString caller_number() const override { return v_.callerNumber; }
    int32_t length_seconds() const override { return v_.lengthSeconds; }
    int64_t received_time() const override { return v_.receivedTime; }
    QString audio_type() const override { return v_.audioType; }
    mapi::IStream* open_audio_stream() override {
        return v_.hasAudio ? new mapi::CMemoryStream(v_.audio) : nullptr;
    }

private:
    MemoryVoicemail v_;
};

class CMemorySession final : public IStoreSession {
public:
    CMemorySession(const std::map<QByteArray, MemoryVoicemail>& messages,
                   std::shared_ptr<int> alive)
        : messages_(messages), alive_(std::move(alive)) {
        ++*alive_;
    }
    ~CMemorySession() override { --*alive_; }

    std::unique_ptr<IVoicemailRecord> open_voicemail(const QByteArray& entryId) override {
        const auto it = messages_.find(entryId);
        if (it == messages_.end())
            return nullptr;
        return std::make_unique<CMemoryRecord>(it->second);
    }

private:
    const std::map<QByteArray, MemoryVoicemail>& messages_;
    std::shared_ptr<int> alive_;
};

}  // namespace

void CMemoryMessageStore::add(const QByteArray& entryId, MemoryVoicemail voicemail) {
    messages_[entryId] = std::move(voicemail);
}

std::unique_ptr<IStoreSession> CMemoryMessageStore::logon() {
    ++logons_;
    if (logonFails_)
        return nullptr;
    return std::make_unique<CMemorySession>(messages_, alive_);
}

}  // namespace lyb::app
