// A message file's bytes through MIME parsing and record construction.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/mapi/maildir_provider.h"
#include "platform/mapi/mapi_stream.h"
#include "store/body_text.h"
#include "store/voicemail_message.h"

// Inputs up to 256 KiB, so that bodies longer than the part of them read for
// the caller (64 KiB) are tried; a -max_len given on the command line still
// wins, as it comes later.
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    static std::vector<char*> args;
    static char maxLen[] = "-max_len=262144";
    args.assign(*argv, *argv + *argc);
    args.insert(args.begin() + (args.empty() ? 0 : 1), maxLen);
    args.push_back(nullptr);
    *argc = static_cast<int>(args.size() - 1);
    *argv = args.data();
    return 0;
}

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
