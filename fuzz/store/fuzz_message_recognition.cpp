// A message file's bytes through MIME parsing and record construction.
#include <cstddef>
#include <cstdint>

#include "platform/mapi/maildir_provider.h"
#include "platform/mapi/mapi_stream.h"
#include "store/body_text.h"
#include "store/voicemail_message.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto message = lyb::mapi::OpenMessageBytes(
        QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)));
    lyb::store::read_body_text(*message);
    try {
        lyb::store::CVoiceMailMessage record(message);
        if (auto* stream = record.open_audio_stream()) {
            // The stream gives exactly the size it states, read in any pieces.
            lyb::mapi::STATSTG stat;
            stream->Stat(&stat, lyb::mapi::STATFLAG_NONAME);
            uint8_t piece[1000];
            uint64_t total = 0;
            uint32_t got = 0;
            while (stream->Read(piece, 1 + size % sizeof piece, &got) == lyb::mapi::S_OK)
                total += got;
            total += got;
            if (total != stat.cbSize)
                __builtin_trap();
            stream->Release();
        }
    } catch (const lyb::store::CNotVoiceMail&) {
    }
    return 0;
}
