// How long a recording plays, in seconds, read from its container without
// decoding it: what the message list shows as a voicemail's length.
//
// The input is read the way the decoding job reads it, with the same choice
// of decoder: raw GSM (by type) from its size; a wave file with an encoding
// the job's own decoders know from its header, as the job would announce it;
// anything else from the duration its container declares (the media
// libraries read the container's header, and a few packets when it declares
// none). Returns -1 when the length is unknown or the input is no recording.
#pragma once

#include "audio/decode/wave_header.h"
#include "platform/mapi/mapi_stream.h"

namespace lyb::audio {

// Reads from the reader's position on; the reader is left wherever reading
// ended. extension, when given, is the recording's file extension (".mp3"),
// which the container is expected to be (see ContainerDurationSeconds).
double RecordingDurationSeconds(CWaveReader& reader, bool raw_gsm = false,
                                const char* extension = nullptr);
// The same for a store stream, which stays the caller's (its reference is
// not taken over); its position is moved.
double RecordingDurationSeconds(mapi::IStream* stream, bool raw_gsm = false,
                                const char* extension = nullptr);

}  // namespace lyb::audio
