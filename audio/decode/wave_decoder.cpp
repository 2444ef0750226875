#include "audio/decode/wave_decoder.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <strings.h>
#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <vector>

#include "audio/decode/av_recording.h"
#include "audio/decode/g711.h"
#include "audio/decode/g729_codec.h"
#include "audio/decode/gsm_codec.h"
#include "audio/decode/ima_adpcm.h"
#include "audio/decode/ms_adpcm.h"
#include "audio/decode/oki_adpcm.h"
#include "platform/files/regular_file.h"

namespace lyb::audio {
namespace {

// Samples are written in memory order; the output is little-endian PCM.
static_assert(std::endian::native == std::endian::little);

constexpr uint32_t kReadUnit = 1024;
constexpr uint64_t kMax32 = 0xFFFFFFFFull;

uint32_t Clamp32(uint64_t value) {
    return static_cast<uint32_t>(std::min(value, kMax32));
}

bool EndsWithGsm(const std::string& path) {
    return path.size() >= 4 && strcasecmp(path.c_str() + path.size() - 4, ".gsm") == 0;
}

// Frames in a WAV49 data chunk of d bytes: two per whole 65-byte block, and
// one more when the rest holds a whole first frame (33 bytes).
uint64_t Wav49FrameCount(uint64_t d) {
    return 2 * (d / 65) + (d % 65 >= 33 ? 1 : 0);
}

// Creates a new file under a unique name beside path (exclusively, so no
// existing entry or link is opened; mode 0600) and renames it over path.
// Returns its descriptor, or -1 with errno set and nothing left behind.
int CreateAndRenameOver(const std::string& path) {
    std::string temp = path + ".XXXXXX";
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0)
        return -1;
    if (::rename(temp.c_str(), path.c_str()) != 0) {
        const int error = errno;
        ::unlink(temp.c_str());
        ::close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

// True when path names (through links) the file.
bool IsSameFile(const FileIdentity& file, const std::string& path) {
    struct stat named {};
    return file.known && ::stat(path.c_str(), &named) == 0 && file.device == named.st_dev &&
           file.inode == named.st_ino;
}

}  // namespace

FileIdentity FileIdentity::Of(int fd) {
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0)
        return {};
    return {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino), true};
}

std::string UnsupportedFormatText(const WaveHeader& header) {
    const uint16_t bits = header.bits_per_sample;
    // Sizes other than 8 and 16 bits are what an ordinary player meets in a
    // wave file it cannot play (studio recordings at 24 or 32 bits).
    if (bits != 0 && bits != 8 && bits != 16)
        return "This recording uses " + std::to_string(bits) +
               "-bit samples, which Lyrabell cannot play. A sound editor can save it as 16-bit "
               "audio that Lyrabell plays.";
    return "This recording is stored in a kind of wave file that Lyrabell cannot play (format " +
           std::to_string(header.format_tag) +
           "). A sound editor can save it as 16-bit audio that Lyrabell plays.";
}

WaveHeader DescribeDecodedOutput(const WaveHeader& input, bool raw_gsm, uint64_t available) {
    WaveHeader out = input;
    out.extension = {};
    out.fmt_size = 16;
    std::memcpy(out.riff_id, "RIFF", 4);
    std::memcpy(out.wave_id, "WAVE", 4);
    std::memcpy(out.fmt_id, "fmt ", 4);
    std::memcpy(out.data_id, "data", 4);

    const uint64_t d = std::min<uint64_t>(input.data_size, available);
    const uint64_t a = input.block_align;
    const uint64_t ch = input.channels;
    uint64_t size = 0;
    if (raw_gsm || input.format_tag == 49) {
        out.channels = 1;
        out.sample_rate = 8000;
        size = 320 * (raw_gsm ? available / 33 : Wav49FrameCount(d));
    } else if (input.format_tag == 16) {
        out.sample_rate = 8000;
        const uint64_t bit_rate = uint64_t{input.bits_per_sample} * input.sample_rate;
        if (bit_rate == 32000)
            size = 4 * d;
        if (bit_rate == 24000)
            size = 16 * (d / 3);
    } else {
        switch (input.format_tag) {
            case 1:
                size = d;
                break;
            case 6:
            case 7:
                size = 2 * d;
                break;
            case 2:
                if (a > 0)
                    size = 2 * ch * MsAdpcmBlockSampleCount(input.channels, a) * (d / a);
                break;
            case 17:
                if (a > 0) {
                    size = 2 * ch *
                           (uint64_t{ImaBlockSampleCount(input.channels, a)} * (d / a) +
                            ImaBlockSampleCount(input.channels, d % a));
                }
                break;
            case 307:
                size = 16 * d;
                break;
            default:
                size = 0;
                break;
        }
    }
    out.data_size = Clamp32(size);
    out.riff_size = Clamp32(size + 36);
    if (input.format_tag != 1 || raw_gsm) {
        out.format_tag = 1;
        out.bits_per_sample = 16;
        out.block_align = static_cast<uint16_t>(2 * out.channels);
        out.avg_bytes_per_sec = Clamp32(2 * uint64_t{out.channels} * out.sample_rate);
    }
    return out;
}

CWaveDecoder::CWaveDecoder(const std::string& input_path, const std::string& output_path,
                           IDecodeNotifier* notify, OutputFile output)
    : notify_(notify) {
    // A FIFO or a device named as the input would block or never end.
    int error = 0;
    const int input = files::openRegularFile(input_path.c_str(), &error);
    if (input < 0)
        throw CFileException::FromErrno(error, input_path);
    reader_ = std::make_unique<CFileWaveReader>(input);
    ReadInputHeader(EndsWithGsm(input_path));
    OpenOutput(output_path, output, FileIdentity::Of(input));
}

CWaveDecoder::CWaveDecoder(mapi::IStream* stream, const std::string& output_path,
                           IDecodeNotifier* notify, bool is_gsm, OutputFile output,
                           FileIdentity source)
    : reader_(std::make_unique<CStreamWaveReader>(stream)), notify_(notify) {
    ReadInputHeader(is_gsm);
    OpenOutput(output_path, output, source);
}

void CWaveDecoder::OpenOutput(const std::string& output_path, OutputFile mode,
                              const FileIdentity& input) {
    // Private to the user; the player opens it again by name while it grows.
    if (mode == OutputFile::kReplace) {
        output_ = CreateAndRenameOver(output_path);
    } else {
        // Truncating the input before it is read would destroy it.
        if (IsSameFile(input, output_path))
            throw CWaveDecoderException(output_path + ": the output is the input file.");
        output_ = ::open(output_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    }
    if (output_ < 0)
        throw CFileException::FromErrno(errno, output_path);
}

void CWaveDecoder::ReadInputHeader(bool raw_gsm) {
    raw_gsm_ = raw_gsm;
    if (raw_gsm) {
        header_.format_tag = 49;
        return;
    }
    if (!StartsLikeWave(*reader_)) {
        OpenRecording(kInvalidHeaderText);
        return;
    }
    const uint64_t start = reader_->GetPosition();
    if (!ParseWaveHeader(header_, *reader_))
        throw CWaveDecoderException(kInvalidHeaderText);
    if (!IsSupportedFormatTag(header_.format_tag)) {
        const std::string refusal = UnsupportedFormatText(header_);
        reader_->Seek(static_cast<int64_t>(start), 0);
        OpenRecording(refusal.c_str());
        return;
    }
    // Nothing can be decoded without channels, and ADPCM blocks need a size.
    const bool adpcm = header_.format_tag == 2 || header_.format_tag == 17;
    if (header_.channels == 0 || (adpcm && header_.block_align == 0)) {
        throw CWaveDecoderException(kInvalidHeaderText);
    }
}

void CWaveDecoder::OpenRecording(const char* refusal) {
    recording_ = std::make_unique<CAvRecording>(*reader_, refusal);
    header_ = recording_->OutputHeader();
}

CWaveDecoder::~CWaveDecoder() {
    stop_.store(true, std::memory_order_release);
    if (thread_.joinable())
        thread_.join();
    recording_.reset();  // it reads through the reader
    reader_->Close(true);
    if (output_ >= 0)
        ::close(output_);
}

void CWaveDecoder::Start() {
    if (thread_.joinable())
        return;
    thread_ = std::thread([this] { Run(); });
}

void CWaveDecoder::Post(uint32_t message, const std::string& text) {
    if (notify_)
        notify_->post(message, text);
}

bool CWaveDecoder::Write(const void* data, size_t size) {
    if (size == 0)
        return true;
    if (!WriteAll(output_, data, size))
        return false;
    audio_written_ += size;
    if (!started_ && audio_written_ >= first_block_)
        AnnounceFirstBlock();
    return true;
}

void CWaveDecoder::AwaitFirstBlock(const WaveHeader& output) {
    // A quarter of a second at the output's rate, in whole frames.
    const uint64_t frame = uint64_t{output.channels} * ((output.bits_per_sample + 7u) / 8u);
    const uint64_t quarter = frame * (output.sample_rate / 4u);
    first_block_ = std::max<uint64_t>(1, std::min<uint64_t>(quarter, output.data_size));
    started_ = false;
}

void CWaveDecoder::AnnounceFirstBlock() {
    if (started_)
        return;
    started_ = true;
    Post(WM_DECODING_STARTED);
}

uint32_t CWaveDecoder::ReadData(void* buffer, uint32_t count) {
    const uint32_t want = static_cast<uint32_t>(std::min<uint64_t>(count, data_left_));
    const uint32_t got = want == 0 ? 0 : reader_->Read(buffer, want);
    data_left_ -= got;
    return got;
}

void CWaveDecoder::CorrectHeaderSizes(WaveHeader& announced) {
    const uint32_t data_size = Clamp32(audio_written_);
    if (data_size == announced.data_size)
        return;
    announced.data_size = data_size;
    announced.riff_size = Clamp32(audio_written_ + 36);
    // In place, so a reader that holds the file open sees the change; an
    // output that cannot seek (a pipe) keeps the sizes it was given.
    const std::vector<uint8_t> bytes = SerializeWaveHeader(announced);
    (void)!::pwrite(output_, bytes.data(), bytes.size(), 0);
}

void CWaveDecoder::Run() {
    if (recording_) {
        WaveHeader output = recording_->OutputHeader();
        if (WriteWaveHeader(output, output_)) {
            AwaitFirstBlock(output);
            RecordingLoop();
            CorrectHeaderSizes(output);
            AnnounceFirstBlock();
        }
        Post(WM_DECODING_FINISHED);
        return;
    }
    const uint16_t tag = raw_gsm_ ? 49 : header_.format_tag;
    const uint64_t bit_rate = uint64_t{header_.bits_per_sample} * header_.sample_rate;
    if (tag == 16 && !COkiDecoder::Create(bit_rate)) {
        Post(WM_DECODING_ERROR, kOkiUnsupportedText);
        Post(WM_DECODING_FINISHED);
        return;
    }

    // The reader stands at the data chunk's first byte (at 0 for raw GSM).
    const uint64_t length = reader_->GetLength();
    const uint64_t position = reader_->GetPosition();
    const uint64_t available = length > position ? length - position : 0;
    data_left_ = raw_gsm_ ? available : std::min<uint64_t>(header_.data_size, available);
    WaveHeader output = DescribeDecodedOutput(header_, raw_gsm_, available);
    if (WriteWaveHeader(output, output_)) {
        AwaitFirstBlock(output);
        switch (tag) {
            case 1:
                CopyLoop();
                break;
            case 6:
                G711Loop(true);
                break;
            case 7:
                G711Loop(false);
                break;
            case 17:
                ImaLoop();
                break;
            case 2:
                MsAdpcmLoop();
                break;
            case 16:
                OkiLoop(bit_rate);
                break;
            case 49:
                GsmLoop();
                break;
            case 307:
                G729Loop();
                break;
            default:
                break;
        }
        CorrectHeaderSizes(output);
        AnnounceFirstBlock();
    }
    Post(WM_DECODING_FINISHED);
}

void CWaveDecoder::CopyLoop() {
    uint8_t buffer[kReadUnit];
    while (!Stopped()) {
        const uint32_t got = ReadData(buffer, kReadUnit);
        if (got == 0 || !Write(buffer, got))
            return;
    }
}

void CWaveDecoder::G711Loop(bool alaw) {
    uint8_t buffer[kReadUnit];
    int16_t samples[kReadUnit];
    while (!Stopped()) {
        const uint32_t got = ReadData(buffer, kReadUnit);
        if (got == 0)
            return;
        if (alaw) {
            ExpandALaw(buffer, got, samples);
        } else {
            ExpandMuLaw(buffer, got, samples);
        }
        if (!Write(samples, 2ull * got))
            return;
    }
}

void CWaveDecoder::ImaLoop() {
    const uint32_t channels = header_.channels;
    const uint32_t align = header_.block_align;
    std::vector<uint8_t> block(align);
    std::vector<int16_t> samples(size_t{channels} * ImaBlockSampleCount(channels, align));
    while (!Stopped()) {
        const uint32_t got = ReadData(block.data(), align);
        if (got == 0)
            return;
        const uint32_t n = ImaBlockSampleCount(channels, got);
        DecodeImaBlock(channels, block.data(), got, samples.data(), n);
        if (!Write(samples.data(), 2ull * channels * n))
            return;
    }
}

void CWaveDecoder::MsAdpcmLoop() {
    const uint32_t channels = header_.channels;
    const uint32_t align = header_.block_align;
    const std::vector<MsAdpcmCoefficient> pairs =
        MsAdpcmCoefficientsFromExtension(header_.extension);
    std::vector<uint8_t> block(align);
    std::vector<int16_t> samples(size_t{channels} * MsAdpcmBlockSampleCount(channels, align));
    while (!Stopped()) {
        const uint32_t got = ReadData(block.data(), align);
        if (got == 0)
            return;
        const uint32_t n = MsAdpcmBlockSampleCount(channels, got);
        // The warning for an out-of-range predictor is not reported.
        DecodeMsAdpcmBlock(channels, pairs.size(), pairs.data(), block.data(), got, samples.data(),
                           n);
        if (!Write(samples.data(), 2ull * channels * n))
            return;
    }
}

void CWaveDecoder::OkiLoop(uint64_t bit_rate) {
    std::optional<COkiDecoder> oki = COkiDecoder::Create(bit_rate);
    uint8_t buffer[kReadUnit];
    std::vector<int16_t> samples(COkiDecoder::MaxSamples(kReadUnit));
    while (!Stopped()) {
        const uint32_t got = ReadData(buffer, kReadUnit);
        if (got == 0)
            return;
        const size_t n = oki->Decode(buffer, got, samples.data());
        if (!Write(samples.data(), 2 * n))
            return;
    }
}

void CWaveDecoder::RecordingLoop() {
    std::vector<int16_t> samples;
    while (!Stopped() && recording_->Next(samples)) {
        if (!Write(samples.data(), 2 * samples.size()))
            return;
    }
}

void CWaveDecoder::GsmLoop() {
    GsmDecoderStart(raw_gsm_);
    uint8_t frame[kGsmFrameBytes];
    int16_t samples[kGsmFrameSamples];
    bool second = false;  // WAV49: the next frame is the second of its 65-byte block
    while (!Stopped()) {
        if (raw_gsm_ || !second) {
            if (ReadData(frame, 33) != 33)
                break;
        } else {
            if (ReadData(frame, 32) != 32)
                break;
            frame[32] = 0;
        }
        second = !raw_gsm_ && !second;
        GsmDecodeFrame(frame, samples);
        if (!Write(samples, sizeof samples))
            break;
    }
    GsmDecoderStop();
}

void CWaveDecoder::G729Loop() {
    G729DecoderStart();
    uint8_t frame[kG729FrameBytes];
    int16_t samples[kG729FrameSamples];
    while (!Stopped()) {
        if (ReadData(frame, kG729FrameBytes) != kG729FrameBytes)
            break;
        G729DecodeFrame(frame, samples);
        if (!Write(samples, sizeof samples))
            break;
    }
    G729DecoderStop();
}

}  // namespace lyb::audio
