#include "app/store_adapter.h"

#include "store/message_store.h"

namespace lyb::app {

namespace {

class CRecord final : public IVoicemailRecord {
public:
    explicit CRecord(std::unique_ptr<store::CVoiceMailMessage> record)
        : record_(std::move(record)) {}
    QString caller_name() const override { return record_->caller_name(); }
    QString caller_number() const override { return record_->caller_number(); }
    int32_t length_seconds() const override { return record_->length_seconds(); }
    int64_t received_time() const override { return record_->received_time(); }
    QString audio_type() const override { return record_->audio_type(); }
    mapi::IStream* open_audio_stream() override { return record_->open_audio_stream(); }

private:
    std::unique_ptr<store::CVoiceMailMessage> record_;
};

class CSession final : public IStoreSession {
public:
    std::unique_ptr<IVoicemailRecord> open_voicemail(const QByteArray& entryId) override {
        auto record = store::open_voicemail_by_entry_id(session_, entryId);
        if (!record)
            return nullptr;
        return std::make_unique<CRecord>(std::move(record));
    }
    const store::CMapiSession* mapi_session() const override { return &session_; }
    store::CMapiSession session_;
};

}  // namespace

std::unique_ptr<IStoreSession> CMaildirMessageStore::logon() {
    auto session = std::make_unique<CSession>();
    if (!store::logon(session->session_))
        return nullptr;
    return session;
}

}  // namespace lyb::app
