#include "audio/decode/av_recording.h"

#include <strings.h>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "audio/decode/exception.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/log.h>
#include <libavutil/mem.h>
#include <libswresample/swresample.h>
}

namespace lyb::audio {
namespace {

constexpr int kIoBufferSize = 4096;
// The data chunk of a wave file, and so the output, holds at most this much.
constexpr uint64_t kMaxDataBytes = 0xFFFFFFFFull - 36;
// A decoder that keeps failing without being given anything new is stuck.
constexpr int kMaxErrorsInARow = 16;

// The libraries' own messages about broken input would only reach a terminal;
// the job reports its refusals itself.
void QuietLibraries() {
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_level(AV_LOG_QUIET); });
}

// A channel layout with a known order: one without (a count only) becomes the
// default layout for its count, which the resampler can mix.
AVChannelLayout OrderedLayout(const AVChannelLayout& layout) {
    AVChannelLayout out{};
    if (layout.order == AV_CHANNEL_ORDER_UNSPEC || av_channel_layout_copy(&out, &layout) < 0)
        av_channel_layout_default(&out, layout.nb_channels);
    return out;
}

// The recording's bytes as the libraries' input: the reader from where it
// stood when opened, which is offset 0.
struct ReaderIo {
    CWaveReader* reader = nullptr;
    uint64_t start = 0;
    AVIOContext* io = nullptr;

    explicit ReaderIo(CWaveReader& r) : reader(&r), start(r.GetPosition()) {}
    ~ReaderIo() {
        if (io) {
            av_freep(&io->buffer);
            avio_context_free(&io);
        }
    }

    bool Open() {
        auto* buffer = static_cast<uint8_t*>(av_malloc(kIoBufferSize));
        if (!buffer)
            return false;
        io = avio_alloc_context(buffer, kIoBufferSize, 0, this, &ReaderIo::ReadPacket, nullptr,
                                &ReaderIo::SeekTo);
        if (!io) {
            av_free(buffer);
            return false;
        }
        return true;
    }

    static int ReadPacket(void* opaque, uint8_t* buffer, int size) {
        auto* self = static_cast<ReaderIo*>(opaque);
        if (size <= 0)
            return 0;
        const uint32_t got = self->reader->Read(buffer, static_cast<uint32_t>(size));
        return got == 0 ? AVERROR_EOF : static_cast<int>(got);
    }

    static int64_t SeekTo(void* opaque, int64_t offset, int whence) {
        auto* self = static_cast<ReaderIo*>(opaque);
        CWaveReader& r = *self->reader;
        const uint64_t length = r.GetLength();
        const int64_t size = length > self->start ? static_cast<int64_t>(length - self->start) : 0;
        if (whence & AVSEEK_SIZE)
            return size;
        int64_t base = 0;
        switch (whence & ~AVSEEK_FORCE) {
            case SEEK_SET:
                break;
            case SEEK_CUR:
                base = static_cast<int64_t>(r.GetPosition() - self->start);
                break;
            case SEEK_END:
                base = size;
                break;
            default:
                return AVERROR(EINVAL);
        }
        if ((offset > 0 && base > INT64_MAX - offset) || base + offset < 0)
            return AVERROR(EINVAL);
        const uint64_t target = self->start + static_cast<uint64_t>(base + offset);
        if (r.Seek(static_cast<int64_t>(target), 0) != target)
            return AVERROR(EIO);
        return base + offset;
    }
};

// No recording may make the libraries open anything but the reader: a
// playlist or a segment list naming other files or addresses is refused.
int RefuseNestedOpen(AVFormatContext*, AVIOContext**, const char*, int, AVDictionary**) {
    return AVERROR(EPERM);
}

// Opens the container over io, as the given format or, without one, as the
// probe finds it; null when it is none the libraries know.
AVFormatContext* OpenContainer(ReaderIo& io, const AVInputFormat* as = nullptr) {
    QuietLibraries();
    if (!io.Open())
        return nullptr;
    AVFormatContext* format = avformat_alloc_context();
    if (!format)
        return nullptr;
    format->pb = io.io;
    format->flags |= AVFMT_FLAG_CUSTOM_IO;
    format->io_open = &RefuseNestedOpen;
    // On failure the context is freed and the pointer cleared.
    if (avformat_open_input(&format, nullptr, as, nullptr) < 0)
        return nullptr;
    return format;
}

// The container's duration, else the stream's (with stream < 0, the first
// audio stream that has one); -1 when neither is known.
double SecondsOf(const AVFormatContext* format, int stream) {
    if (format->duration != AV_NOPTS_VALUE && format->duration > 0)
        return static_cast<double>(format->duration) / AV_TIME_BASE;
    for (unsigned i = 0; i < format->nb_streams; ++i) {
        const AVStream* s = format->streams[i];
        const bool wanted = stream >= 0 ? static_cast<int>(i) == stream
                                        : s->codecpar->codec_type == AVMEDIA_TYPE_AUDIO;
        if (wanted && s->duration != AV_NOPTS_VALUE && s->duration > 0 && s->time_base.num > 0 &&
            s->time_base.den > 0) {
            return static_cast<double>(s->duration) * av_q2d(s->time_base);
        }
    }
    return -1;
}

// The demuxer a recording's file extension names; null when it names none
// or one the libraries lack.
const AVInputFormat* FormatOfExtension(const char* extension) {
    static const struct {
        const char* extension;
        const char* format;
    } kFormats[] = {{".mp3", "mp3"}, {".m4a", "mp4"},  {".mp4", "mp4"},   {".3gp", "3gp"},
                    {".aac", "aac"}, {".amr", "amr"},  {".awb", "amr"},   {".ogg", "ogg"},
                    {".oga", "ogg"}, {".opus", "ogg"}, {".flac", "flac"}, {".wma", "asf"}};
    if (!extension)
        return nullptr;
    for (const auto& f : kFormats) {
        if (std::strcmp(f.extension, extension) == 0)
            return av_find_input_format(f.format);
    }
    return nullptr;
}

double DurationAs(CWaveReader& reader, const AVInputFormat* as) {
    ReaderIo io(reader);
    AVFormatContext* format = OpenContainer(io, as);
    if (!format)
        return -1;
    double seconds = SecondsOf(format, -1);
    // Some containers know it only once a few packets have been read, or
    // from the time stamps at their end.
    if (seconds < 0 && avformat_find_stream_info(format, nullptr) >= 0)
        seconds = SecondsOf(format, -1);
    avformat_close_input(&format);
    return seconds;
}

}  // namespace

struct CAvRecording::State {
    explicit State(CWaveReader& reader) : io(reader) {}
    ~State() {
        av_frame_free(&frame);
        av_packet_free(&packet);
        swr_free(&resampler);
        avcodec_free_context(&codec);
        avformat_close_input(&format);
        av_channel_layout_uninit(&inLayout);
        av_channel_layout_uninit(&outLayout);
    }

    bool Open();
    // Decodes until a frame comes out; false at the end or on a lasting error.
    bool ReceiveFrame();
    bool Configure(const AVFrame& in);
    bool Convert(const AVFrame* in, std::vector<int16_t>& samples);

    ReaderIo io;
    AVFormatContext* format = nullptr;
    AVCodecContext* codec = nullptr;
    SwrContext* resampler = nullptr;
    AVPacket* packet = nullptr;
    AVFrame* frame = nullptr;
    int stream = -1;
    bool draining = false;  // the demuxer is done; the decoder gives what it holds
    bool ended = false;
    AVChannelLayout inLayout{};
    int inRate = 0;
    int inFormat = -1;
    AVChannelLayout outLayout{};
    int outRate = 0;
    uint64_t bytesOut = 0;
    std::vector<int16_t> first;  // the audio decoded while opening
};

bool CAvRecording::State::Open() {
    format = OpenContainer(io);
    if (!format || avformat_find_stream_info(format, nullptr) < 0)
        return false;
    const AVCodec* decoder = nullptr;
    stream = av_find_best_stream(format, AVMEDIA_TYPE_AUDIO, -1, -1, &decoder, 0);
    if (stream < 0 || !decoder)
        return false;
    codec = avcodec_alloc_context3(decoder);
    packet = av_packet_alloc();
    frame = av_frame_alloc();
    if (!codec || !packet || !frame ||
        avcodec_parameters_to_context(codec, format->streams[stream]->codecpar) < 0) {
        return false;
    }
    codec->pkt_timebase = format->streams[stream]->time_base;
    // One job decodes at a time; the decoder's own threads would only compete.
    codec->thread_count = 1;
    if (avcodec_open2(codec, decoder, nullptr) < 0)
        return false;
    // The output format is the first frame's; a recording without a frame
    // that converts to samples is no recording.
    while (first.empty()) {
        if (!ReceiveFrame())
            return false;
        if (!Configure(*frame) || !Convert(frame, first))
            return false;
        av_frame_unref(frame);
    }
    return true;
}

bool CAvRecording::State::ReceiveFrame() {
    int errors = 0;  // in a row, without a packet read in between
    while (!ended) {
        const int received = avcodec_receive_frame(codec, frame);
        if (received == 0) {
            if (frame->nb_samples > 0 && frame->sample_rate > 0 &&
                frame->ch_layout.nb_channels > 0) {
                return true;
            }
            av_frame_unref(frame);
            continue;
        }
        if (received == AVERROR_EOF || ++errors > kMaxErrorsInARow) {
            ended = true;
            break;
        }
        // A damaged packet is dropped by the decoder with an error; the ones
        // after it may decode.
        if (received != AVERROR(EAGAIN))
            continue;
        if (draining) {  // the decoder asks for more after being told there is none
            ended = true;
            break;
        }
        if (av_read_frame(format, packet) < 0) {
            draining = true;
            avcodec_send_packet(codec, nullptr);
            continue;
        }
        errors = 0;
        if (packet->stream_index == stream)
            avcodec_send_packet(codec, packet);
        av_packet_unref(packet);
    }
    return false;
}

bool CAvRecording::State::Configure(const AVFrame& in) {
    if (outRate == 0) {
        outRate = in.sample_rate;
        av_channel_layout_default(&outLayout, std::min(in.ch_layout.nb_channels, 2));
    }
    AVChannelLayout layout = OrderedLayout(in.ch_layout);
    if (resampler && in.sample_rate == inRate && in.format == inFormat &&
        av_channel_layout_compare(&layout, &inLayout) == 0) {
        av_channel_layout_uninit(&layout);
        return true;
    }
    // A recording whose format changes midway keeps the output format it
    // started with.
    swr_free(&resampler);
    av_channel_layout_uninit(&inLayout);
    inLayout = layout;
    inRate = in.sample_rate;
    inFormat = in.format;
    return swr_alloc_set_opts2(&resampler, &outLayout, AV_SAMPLE_FMT_S16, outRate, &inLayout,
                               static_cast<AVSampleFormat>(in.format), in.sample_rate, 0,
                               nullptr) >= 0 &&
           swr_init(resampler) >= 0;
}

bool CAvRecording::State::Convert(const AVFrame* in, std::vector<int16_t>& samples) {
    const int count = in ? in->nb_samples : 0;
    const int room = swr_get_out_samples(resampler, count);
    if (room < 0)
        return false;
    const size_t channels = static_cast<size_t>(outLayout.nb_channels);
    samples.resize(static_cast<size_t>(room) * channels);
    auto* out = reinterpret_cast<uint8_t*>(samples.data());
    const int made =
        swr_convert(resampler, &out, room,
                    in ? const_cast<const uint8_t**>(in->extended_data) : nullptr, count);
    if (made < 0)
        return false;
    samples.resize(static_cast<size_t>(made) * channels);
    return true;
}

CAvRecording::CAvRecording(CWaveReader& reader, const char* refusal)
    : state_(std::make_unique<State>(reader)) {
    if (!state_->Open())
        throw CWaveDecoderException(refusal);
}

CAvRecording::~CAvRecording() = default;

uint32_t CAvRecording::sampleRate() const {
    return static_cast<uint32_t>(state_->outRate);
}

uint16_t CAvRecording::channels() const {
    return static_cast<uint16_t>(state_->outLayout.nb_channels);
}

double CAvRecording::durationSeconds() const {
    return SecondsOf(state_->format, state_->stream);
}

WaveHeader CAvRecording::OutputHeader() const {
    WaveHeader header;
    header.format_tag = 1;
    header.channels = channels();
    header.sample_rate = sampleRate();
    header.bits_per_sample = 16;
    header.block_align = static_cast<uint16_t>(2 * header.channels);
    header.avg_bytes_per_sec = header.sample_rate * header.block_align;
    double seconds = durationSeconds();
    if (seconds > 0 && state_->format->duration_estimation_method == AVFMT_DURATION_FROM_BITRATE)
        seconds *= 1.1;
    uint64_t bytes = kMaxDataBytes;
    if (seconds > 0) {
        const double frames = std::ceil(seconds * header.sample_rate);
        if (frames * header.block_align < static_cast<double>(kMaxDataBytes))
            bytes = static_cast<uint64_t>(frames) * header.block_align;
    }
    bytes -= bytes % header.block_align;
    header.data_size = static_cast<uint32_t>(bytes);
    header.riff_size = static_cast<uint32_t>(bytes + 36);
    return header;
}

bool CAvRecording::Next(std::vector<int16_t>& samples) {
    State& s = *state_;
    samples.clear();
    if (!s.first.empty()) {
        samples.swap(s.first);
    } else {
        while (samples.empty() && s.resampler) {
            if (s.ReceiveFrame()) {
                const bool converted = s.Configure(*s.frame) && s.Convert(s.frame, samples);
                av_frame_unref(s.frame);
                if (!converted)
                    s.ended = true;
            } else {
                // What the resampler still holds ends the recording.
                s.Convert(nullptr, samples);
                swr_free(&s.resampler);
            }
        }
    }
    // The output stops at a whole frame where a wave file can hold no more.
    const uint64_t frameBytes = 2ull * s.outLayout.nb_channels;
    const uint64_t room = (kMaxDataBytes - s.bytesOut) / frameBytes * frameBytes;
    if (2 * samples.size() > room)
        samples.resize(room / 2);
    s.bytesOut += 2 * samples.size();
    return !samples.empty();
}

bool StartsLikeWave(CWaveReader& reader) {
    const uint64_t at = reader.GetPosition();
    char head[12] = {};
    const bool wave = reader.Read(head, sizeof head) == sizeof head &&
                      strncasecmp(head, "riff", 4) == 0 && strncasecmp(head + 8, "wave", 4) == 0;
    reader.Seek(static_cast<int64_t>(at), 0);
    return wave;
}

double ContainerDurationSeconds(CWaveReader& reader, const char* extension) {
    if (const AVInputFormat* expected = FormatOfExtension(extension)) {
        const uint64_t start = reader.GetPosition();
        const double seconds = DurationAs(reader, expected);
        if (seconds >= 0)
            return seconds;
        reader.Seek(static_cast<int64_t>(start), 0);  // misnamed: probed after all
    }
    return DurationAs(reader, nullptr);
}

}  // namespace lyb::audio
