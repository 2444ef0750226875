// The decoding job: reads a recording (a wave file, a raw GSM file or a store
// stream), picks the decoder by format tag and writes a 16-bit PCM wave file
// on a thread of its own.
//
// Choice of decoder: raw GSM (by name or as the caller says) and a RIFF/WAVE
// input whose format tag we know go to our own decoders. Everything else (a
// wave file in another encoding, MP3, AAC/M4A, AMR, Ogg Vorbis and Opus,
// FLAC, WMA, ...) goes to the media libraries (see CAvRecording): the output
// is then at the recording's own rate, mono and stereo kept, more channels
// mixed down to stereo; its header's sizes come from the container's
// duration, or are the largest a wave file can hold when that is unknown,
// and are corrected at the end like any other. An input they cannot decode
// is refused with kInvalidHeaderText (a wave file with UnsupportedFormatText).
//
// Lifecycle:
//  1. The constructor opens the input, reads its header (none for raw GSM)
//     and only then creates the output (see OutputFile), so a refused input
//     leaves no output behind. It throws CFileException when a file cannot be
//     opened or created and CWaveDecoderException for kInvalidHeaderText,
//     UnsupportedFormatText or a named output that is the input file
//     (for a stream, the file its bytes were read from, when the caller
//     says which).
//  2. Start runs the thread. It writes the complete 44-byte header first, with
//     sizes computed in advance from the input (the data size it declares, but
//     no more than the input really holds from the data chunk on), then one
//     write per decoded unit (1024 input bytes, one ADPCM block, one GSM or
//     G.729 frame), in input order. Only the data chunk's bytes are decoded
//     (for raw GSM the whole input): chunks after it are not audio. Another
//     handle may read the output while it grows.
//  3. When the work ends (data exhausted, a read or write failed, or stop
//     set) and the audio written differs from the sizes announced (a
//     truncated recording, a partial last block or frame), the header's RIFF
//     and data sizes are rewritten to what was written. Then the thread posts
//     WM_DECODING_FINISHED to the notifier, so a reader told the file is
//     complete finds a header that matches it. An OKI stream with an
//     unsupported bit rate writes nothing and first posts WM_DECODING_ERROR
//     with kOkiUnsupportedText.
//     Once the header and a first block of audio are in the file (a quarter
//     of a second, or all of a shorter recording as announced) the thread
//     posts WM_DECODING_STARTED, once, so a player can start at once: it
//     never overtakes the job, since it waits for data the file does not hold
//     yet. When the work ends before that block is complete the notice is
//     posted after the sizes are corrected, just before WM_DECODING_FINISHED.
//     A job that writes no header (refused input, failed write) posts none.
//  4. The destructor sets stop (the thread leaves after its current unit),
//     joins the thread, then closes the input and the output.
//
// Bad input: a header with no channels, or an ADPCM header (tags 2 and 17)
// with a block align of 0, is refused with kInvalidHeaderText; header sizes
// are computed in 64 bits and clamped to 0xFFFFFFFF; a short final block is
// decoded as far as it holds whole units.
//
// The GSM and G.729 frame decoders keep process-wide state: only one job may
// run at a time (the owner destroys the old job before creating a new one).
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "audio/decode/exception.h"
#include "audio/decode/wave_header.h"
#include "platform/mapi/mapi_stream.h"

namespace lyb::audio {

// Posted when the decoding thread's work ends (WM_USER + 101); text is empty.
constexpr uint32_t WM_DECODING_FINISHED = 0x0400 + 101;
// Posted before WM_DECODING_FINISHED when the thread refuses its input (WM_USER + 102).
constexpr uint32_t WM_DECODING_ERROR = 0x0400 + 102;
// Posted once the output holds its header and a first block of audio that a
// player may start on (WM_USER + 103); text is empty.
constexpr uint32_t WM_DECODING_STARTED = 0x0400 + 103;

// The refusals, worded for the person who tried to play the recording: what
// is wrong with it and, where there is something to do, what.
constexpr const char* kInvalidHeaderText =
    "This is not a recording Lyrabell can play: no sound was found in it, or it is damaged.";
constexpr const char* kOkiUnsupportedText =
    "This recording uses OKI ADPCM at a bit rate which Lyrabell cannot play.";
// The refusal of a wave file in an encoding neither our decoders nor the
// media libraries play: by its sample size when that is what stands out
// ("This recording uses 24-bit samples, which Lyrabell cannot play. ..."),
// else by its format tag.
std::string UnsupportedFormatText(const WaveHeader& header);

// Receives the job's notices. Called on the decoding thread, so an
// implementation must be thread-safe (the application posts an event).
class IDecodeNotifier {
public:
    virtual ~IDecodeNotifier() = default;
    virtual void post(uint32_t message, const std::string& text) = 0;
};

// Returns the header of the decoded output for an input header: format tag
// 1, 16 bits, the output channels and rate, and the data size computed from
// the input's data size, with the riff size as data size + 36. available is
// what the input holds from the data chunk's first byte on (for raw GSM the
// whole input): a declared data size beyond it counts as available, so a
// header claiming more than the file holds does not promise audio that cannot
// come. Tag 1 keeps every other field as read. Sizes that do not fit 32 bits
// become 0xFFFFFFFF. Unsupported tags give data size 0.
WaveHeader DescribeDecodedOutput(const WaveHeader& input, bool raw_gsm, uint64_t available);

// Which file an input is: the device and inode of an open descriptor. A
// default one (known false) matches no file.
struct FileIdentity {
    uint64_t device = 0;
    uint64_t inode = 0;
    bool known = false;

    // The identity of the file open as fd; unknown when fstat fails.
    static FileIdentity Of(int fd);
};

// How the job makes its output file.
enum class OutputFile {
    // A new file of this user (mode 0600), created exclusively under a
    // temporary name beside the output name and renamed over it. Whatever was
    // at the name, a link someone planted or a file another handle reads, is
    // replaced, never opened or written. The temporary file the player reads
    // is made this way.
    kReplace,
    // The named file itself, created or truncated with links followed, as a
    // user who names an output expects (a pipe such as /dev/stdout works).
    // An output that is the input file (through any link or name) is refused
    // before anything is written.
    kWriteThrough,
};

class CAvRecording;

class CWaveDecoder {
public:
    // File source. An input path ending in ".gsm" (any case) is raw GSM.
    CWaveDecoder(const std::string& input_path, const std::string& output_path,
                 IDecodeNotifier* notify, OutputFile output = OutputFile::kReplace);
    // Stream source: takes over the caller's reference to stream (released
    // even when the constructor throws). is_gsm marks raw GSM content. source
    // is the file the stream's bytes were read from, when there is one: the
    // same rule as for a file source then refuses it as the output.
    CWaveDecoder(mapi::IStream* stream, const std::string& output_path, IDecodeNotifier* notify,
                 bool is_gsm, OutputFile output = OutputFile::kReplace, FileIdentity source = {});
    virtual ~CWaveDecoder();

    CWaveDecoder(const CWaveDecoder&) = delete;
    CWaveDecoder& operator=(const CWaveDecoder&) = delete;

    // Starts the decoding thread; a second call does nothing.
    void Start();

    // The input's header as parsed (format tag 49 and nothing else for raw
    // GSM); for a recording the media libraries decode, the output's format.
    const WaveHeader& header() const { return header_; }
    bool rawGsm() const { return raw_gsm_; }

private:
    // input is the file the input's bytes come from (unknown for most streams).
    void OpenOutput(const std::string& output_path, OutputFile mode, const FileIdentity& input);
    void ReadInputHeader(bool raw_gsm);
    // Hands the input to the media libraries; throws refusal when they cannot decode it.
    void OpenRecording(const char* refusal);
    void Run();
    void Post(uint32_t message, const std::string& text = {});
    bool Stopped() const { return stop_.load(std::memory_order_acquire); }
    bool Write(const void* data, size_t size);
    // Reads up to count bytes of the data chunk; 0 at its end.
    uint32_t ReadData(void* buffer, uint32_t count);
    // Rewrites the header's sizes when the audio written differs from them.
    void CorrectHeaderSizes(WaveHeader& announced);
    // Sets the size of the first block a player may start on, for the header written.
    void AwaitFirstBlock(const WaveHeader& output);
    // Posts WM_DECODING_STARTED unless it was posted already.
    void AnnounceFirstBlock();

    void CopyLoop();
    void G711Loop(bool alaw);
    void ImaLoop();
    void MsAdpcmLoop();
    void OkiLoop(uint64_t bit_rate);
    void GsmLoop();
    void G729Loop();
    void RecordingLoop();

    WaveHeader header_;
    std::unique_ptr<CWaveReader> reader_;
    std::unique_ptr<CAvRecording> recording_;  // set for what our own decoders do not read
    int output_ = -1;
    uint64_t data_left_ = 0;      // data chunk bytes not yet read
    uint64_t audio_written_ = 0;  // bytes written after the header
    uint64_t first_block_ = 0;    // the audio written when WM_DECODING_STARTED is due
    bool started_ = true;         // WM_DECODING_STARTED posted, or not to be posted
    bool raw_gsm_ = false;
    IDecodeNotifier* notify_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace lyb::audio
