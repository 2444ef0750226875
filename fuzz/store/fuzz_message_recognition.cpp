// A message file's bytes through MIME parsing and record construction.
#include <cstddef>
#include <cstdint>

#include "platform/mapi/maildir_provider.h"
#include "store/body_text.h"
#include "store/voicemail_message.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto message = lyb::mapi::OpenMessageBytes(
        QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)));
    lyb::store::read_body_text(*message);
    try {
        lyb::store::CVoiceMailMessage record(message);
        if (auto* stream = record.open_audio_stream())
            stream->Release();
    } catch (const lyb::store::CNotVoiceMail&) {
    }
    return 0;
}
