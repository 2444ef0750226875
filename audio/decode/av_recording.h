// Recordings in every container and codec the media libraries know (MP3,
// AAC/M4A, AMR, Ogg Vorbis and Opus, FLAC, WMA and the rest), decoded to
// interleaved 16-bit PCM for the decoding job. The wave encodings and raw GSM
// keep their own bit-exact decoders; this is for everything else.
//
// Input. The recording is read only through a CWaveReader (a file or a store
// stream), from the position the reader stands at when the recording is
// opened, which counts as its first byte. Nothing is copied aside and nothing
// beyond the reader's own end is asked for. A recording that refers to other
// files or addresses (playlists, segment lists, external references) is
// refused: nothing but the reader is ever opened.
//
// Output format. The recording's own sample rate. Mono and stereo keep their
// channels; a recording with more channels is mixed down to stereo, since a
// voice on the centre channel of a surround layout would otherwise be lost on
// a stereo device.
//
// Threads. An instance is used by one thread at a time (the job opens it on
// the caller's thread and decodes on its own).
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "audio/decode/wave_header.h"

namespace lyb::audio {

class CAvRecording {
public:
    // Opens the recording, finds its best audio stream and decodes up to the
    // first audio it holds, so a recording that cannot be decoded is known
    // here. Throws CWaveDecoderException with refusal as its text when the
    // input is no recording the libraries can decode. reader must outlive
    // this object.
    CAvRecording(CWaveReader& reader, const char* refusal);
    ~CAvRecording();

    CAvRecording(const CAvRecording&) = delete;
    CAvRecording& operator=(const CAvRecording&) = delete;

    uint32_t sampleRate() const;
    uint16_t channels() const;
    // The duration the container declares, in seconds; -1 when it declares none.
    double durationSeconds() const;

    // The header of the PCM wave output: format tag 1, 16 bits, the output
    // rate and channels. Its sizes come from the container's duration; a
    // duration estimated from the bit rate alone is announced 10% longer, so
    // a player that trusts the header does not stop before the end, and an
    // unknown one as the largest size a wave file can hold. The job corrects
    // them once decoding ends.
    WaveHeader OutputHeader() const;

    // Replaces samples with the next decoded interleaved samples (never an
    // empty block). Returns false at the end of the recording, after a
    // demuxing or decoding error it cannot step over, or once the output
    // would pass the largest data size a wave file can hold.
    bool Next(std::vector<int16_t>& samples);

private:
    struct State;
    std::unique_ptr<State> state_;
};

// True when the reader's next 12 bytes are a RIFF/WAVE header's start (ids in
// either case, as the wave parser reads them). The reader is put back where
// it stood.
bool StartsLikeWave(CWaveReader& reader);

// The duration the container declares, in seconds, read from the reader's
// position on without decoding anything; -1 when it is unknown or the input
// is no recording the libraries know. extension (".mp3", ".m4a", ...), when
// given, names the container the input is expected to be: it is opened as
// that first, which spares probing every format the libraries know (the
// larger part of the cost for a small recording), and probed as usual when
// that fails.
double ContainerDurationSeconds(CWaveReader& reader, const char* extension = nullptr);

}  // namespace lyb::audio
