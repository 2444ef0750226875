// The decoding job end to end: constructor refusals, the output header and
// sizes per format tag, the audio written, the notices and stopping.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "audio/decode/wave_decoder.h"
#include "tests/audio/decode/wave_bytes.h"

using namespace lyb::audio;
using lyb::audio::test::Filled;
using lyb::audio::test::Pattern;
using lyb::audio::test::WaveBytes;
using lyb::mapi::CMemoryStream;

namespace {

struct Notice {
    uint32_t message;
    std::string text;
    bool operator==(const Notice&) const = default;
};

// Keeps the notices, and the size the output had at each (the job waits
// while it posts, so that is what it had written then).
class RecordingNotifier : public IDecodeNotifier {
public:
    explicit RecordingNotifier(std::string output = {}) : output_(std::move(output)) {}
    void post(uint32_t message, const std::string& text) override {
        struct stat st {};
        const int64_t size = stat(output_.c_str(), &st) == 0 ? st.st_size : -1;
        std::lock_guard lock(mutex_);
        notices_.push_back({message, text});
        sizes_.push_back(size);
        changed_.notify_all();
    }
    void waitFor(uint32_t message = WM_DECODING_FINISHED) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] {
            for (const Notice& n : notices_) {
                if (n.message == message)
                    return true;
            }
            return false;
        });
    }
    void waitFinished() { waitFor(WM_DECODING_FINISHED); }
    std::vector<Notice> notices() {
        std::lock_guard lock(mutex_);
        return notices_;
    }
    std::vector<int64_t> sizes() {
        std::lock_guard lock(mutex_);
        return sizes_;
    }

private:
    const std::string output_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Notice> notices_;
    std::vector<int64_t> sizes_;
};

std::string TempPath(const std::string& name) {
    const char* tmp = std::getenv("TMPDIR");
    return std::string(tmp ? tmp : "/tmp") + "/" + name;
}

std::vector<uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

struct Decoded {
    WaveHeader header;           // the output's header
    std::vector<uint8_t> audio;  // what follows it
    std::vector<uint8_t> file;   // the whole output
    std::vector<Notice> notices;
    std::vector<int64_t> sizes;  // the output's size at each notice
};

// Decodes bytes given as a store stream and waits for the finished notice.
Decoded DecodeStream(const std::vector<uint8_t>& input, bool gsm = false) {
    const std::string out = TempPath("decoded.wav");
    RecordingNotifier notifier(out);
    Decoded run;
    {
        CWaveDecoder decoder(new CMemoryStream(input), out, &notifier, gsm);
        decoder.Start();
        notifier.waitFinished();
    }
    run.notices = notifier.notices();
    run.sizes = notifier.sizes();
    run.file = ReadFile(out);
    if (run.file.size() >= kWaveHeaderSize) {
        EXPECT_TRUE(ParseWaveHeaderFromMemory(run.header, run.file.data(), run.file.size()));
        run.audio.assign(run.file.begin() + kWaveHeaderSize, run.file.end());
    }
    return run;
}

const std::vector<Notice> kStartedAndFinished = {{WM_DECODING_STARTED, ""},
                                                 {WM_DECODING_FINISHED, ""}};

int16_t SampleAt(const std::vector<uint8_t>& audio, size_t i) {
    return static_cast<int16_t>(audio[2 * i] | (audio[2 * i + 1] << 8));
}

}  // namespace

TEST(DecodeJob, WritesTheHeaderFirstAndCopiesOnlyTheDataChunk) {
    const std::vector<uint8_t> pcm = Pattern(2148);
    const std::vector<uint8_t> input =
        WaveBytes().header(1, 1, 8000, 2, 16).data(pcm).chunk("LIST", {1, 2, 3, 4, 5, 6});
    const Decoded run = DecodeStream(input);
    EXPECT_EQ(run.notices, kStartedAndFinished);
    EXPECT_EQ(run.header.format_tag, 1);
    EXPECT_EQ(run.header.data_size, 2148u);
    EXPECT_EQ(run.header.riff_size, 2148u + 36);
    EXPECT_EQ(run.header.fmt_size, 16u);
    // The LIST chunk after the data is not audio.
    EXPECT_EQ(run.audio, pcm);
}

TEST(DecodeJob, ExpandsG711ToTwiceTheBytes) {
    for (uint16_t tag : {6, 7}) {
        const std::vector<uint8_t> codes = {0xD5, 0x55, 0xFF, 0x00, 0x80, 0x7F};
        const Decoded run = DecodeStream(WaveBytes().header(tag, 2, 8000, 2, 8).data(codes));
        EXPECT_EQ(run.header.format_tag, 1);
        EXPECT_EQ(run.header.channels, 2);
        EXPECT_EQ(run.header.bits_per_sample, 16);
        EXPECT_EQ(run.header.block_align, 4);
        EXPECT_EQ(run.header.avg_bytes_per_sec, 32000u);
        EXPECT_EQ(run.header.data_size, 12u);
        ASSERT_EQ(run.audio.size(), 12u);
        if (tag == 6) {
            EXPECT_EQ(SampleAt(run.audio, 0), 8);
            EXPECT_EQ(SampleAt(run.audio, 1), -8);
        } else {
            EXPECT_EQ(SampleAt(run.audio, 2), 0);
            EXPECT_EQ(SampleAt(run.audio, 3), -32124);
        }
    }
}

TEST(DecodeJob, AdpcmHeadersAndThePartialLastBlock) {
    // Two whole 256-byte blocks and 100 bytes more. The Microsoft ADPCM header
    // announces whole blocks only; once the partial block is decoded too, the
    // sizes are corrected to what was written.
    const std::vector<uint8_t> data = Pattern(2 * 256 + 100);
    const Decoded ms = DecodeStream(WaveBytes().header(2, 1, 8000, 256, 4).data(data));
    EXPECT_EQ(ms.audio.size(), 2u * (500 * 2 + (2 * 93 + 2)));
    EXPECT_EQ(ms.header.data_size, ms.audio.size());
    EXPECT_EQ(ms.header.riff_size, ms.audio.size() + 36);

    const Decoded ima = DecodeStream(WaveBytes().header(17, 1, 8000, 256, 4).data(data));
    EXPECT_EQ(ima.header.data_size, 2u * (505 * 2 + 193));
    EXPECT_EQ(ima.audio.size(), ima.header.data_size);
    EXPECT_EQ(SampleAt(ima.audio, 0), static_cast<int16_t>(data[0] | (data[1] << 8)));
}

TEST(DecodeJob, MsAdpcmUsesTheCoefficientsOfAShortExtension) {
    // The extension declares 7 pairs but holds one, (0, 0): predictor 0 then
    // predicts silence, so each sample is code x delta.
    const std::vector<uint8_t> extension = {6, 0, 0xF4, 0x01, 7, 0, 0, 0, 0, 0};
    const std::vector<uint8_t> block = {0, 16, 0, 100, 0, 50, 0, 0x11};
    const Decoded run = DecodeStream(WaveBytes().header(2, 1, 8000, 8, 4, extension).data(block));
    ASSERT_EQ(run.audio.size(), 8u);
    EXPECT_EQ(SampleAt(run.audio, 2), 16);
    EXPECT_EQ(SampleAt(run.audio, 3), 16);
}

TEST(DecodeJob, OkiSizesFollowTheBitRate) {
    const Decoded full = DecodeStream(WaveBytes().header(16, 1, 8000, 1, 4).data(Pattern(1000)));
    EXPECT_EQ(full.header.sample_rate, 8000u);
    EXPECT_EQ(full.header.data_size, 4000u);
    EXPECT_EQ(full.audio.size(), 4000u);

    const Decoded low = DecodeStream(WaveBytes().header(16, 1, 6000, 1, 4).data(Pattern(999)));
    EXPECT_EQ(low.header.sample_rate, 8000u);
    EXPECT_EQ(low.header.data_size, 16u * 333);
    EXPECT_EQ(low.audio.size(), 16u * 333);
}

TEST(DecodeJob, RefusesOkiAtAnUnsupportedBitRateWithANotice) {
    const Decoded run = DecodeStream(WaveBytes().header(16, 1, 11025, 1, 4).data(Pattern(100)));
    const std::vector<Notice> expected = {{WM_DECODING_ERROR, kOkiUnsupportedText},
                                          {WM_DECODING_FINISHED, ""}};
    EXPECT_EQ(run.notices, expected);
    EXPECT_TRUE(run.file.empty());
}

TEST(DecodeJob, GsmAndG729FrameCounts) {
    // 100 raw frames and 20 stray bytes: 100 frames announced and decoded.
    const Decoded raw = DecodeStream(Pattern(3320), true);
    EXPECT_EQ(raw.header.channels, 1);
    EXPECT_EQ(raw.header.sample_rate, 8000u);
    EXPECT_EQ(raw.header.data_size, 32000u);
    EXPECT_EQ(raw.audio.size(), 32000u);

    // WAV49: 10 blocks of 65 bytes give 20 frames; 40 more bytes one more.
    const Decoded wav49 = DecodeStream(WaveBytes().header(49, 1, 8000, 65, 0).data(Pattern(650)));
    EXPECT_EQ(wav49.header.data_size, 6400u);
    EXPECT_EQ(wav49.audio.size(), 6400u);
    const Decoded extra = DecodeStream(WaveBytes().header(49, 1, 8000, 65, 0).data(Pattern(690)));
    EXPECT_EQ(extra.header.data_size, 21u * 320);
    EXPECT_EQ(extra.audio.size(), 21u * 320);

    // G.729: 1000 bytes are 100 frames, one second at 8000 Hz.
    const Decoded g729 = DecodeStream(WaveBytes().header(307, 1, 8000, 10, 0).data(Pattern(1000)));
    EXPECT_EQ(g729.header.data_size, 16000u);
    EXPECT_EQ(g729.audio.size(), 16000u);
    EXPECT_EQ(g729.notices, kStartedAndFinished);
}

// A player starts on the first block: a quarter of a second as soon as it is
// written, or everything a shorter recording holds once it is, sizes corrected.
TEST(DecodeJob, AnnouncesTheFirstBlockOnceBeforeFinishing) {
    struct Case {
        const char* name;
        std::vector<uint8_t> input;
        int64_t sizeAtStart;  // the output's size when the first block is announced
    } cases[] = {
        // 4000 bytes are a quarter second; copied in 1024-byte units.
        {"long", WaveBytes().header(1, 1, 8000, 2, 16).data(Pattern(32000)), 44 + 4096},
        {"stereo 44.1 kHz", WaveBytes().header(1, 2, 44100, 4, 16).data(Pattern(176400)),
         44 + 45056},
        {"shorter than a quarter", WaveBytes().header(1, 1, 8000, 2, 16).data(Pattern(1000)),
         44 + 1000},
        // 16 bytes of G.729 are announced as 256 output bytes; one frame comes.
        {"ends before the block", WaveBytes().header(307, 1, 8000, 10, 0).data(Pattern(16)),
         44 + 160},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Decoded run = DecodeStream(c.input);
        EXPECT_EQ(run.notices, kStartedAndFinished);
        ASSERT_EQ(run.sizes.size(), 2u);
        EXPECT_EQ(run.sizes[0], c.sizeAtStart);
        EXPECT_EQ(run.header.data_size + kWaveHeaderSize, run.file.size());
    }
}

TEST(DecodeJob, OutputSizesPerTagAreClampedTo32Bits) {
    struct Case {
        uint16_t tag;
        uint16_t channels;
        uint32_t rate;
        uint16_t align;
        uint16_t bits;
        uint32_t data;
        uint32_t expected;
    };
    const Case cases[] = {
        {1, 1, 8000, 2, 16, 1000, 1000},
        {6, 1, 8000, 1, 8, 1000, 2000},
        {7, 2, 8000, 2, 8, 1000, 2000},
        {2, 2, 8000, 512, 4, 1024, 2 * 2 * 500 * 2},
        {17, 2, 8000, 512, 4, 1024 + 8, 2 * 2 * (505 * 2 + 1)},
        {17, 1, 8000, 256, 4, 3, 0},
        {16, 1, 8000, 1, 4, 1000, 4000},
        {16, 1, 6000, 1, 4, 1000, 16 * 333},
        {16, 1, 11025, 1, 4, 1000, 0},
        {49, 1, 8000, 65, 0, 650, 6400},
        {49, 1, 8000, 65, 0, 64, 320},
        {307, 1, 8000, 10, 0, 1000, 16000},
        // Sizes past 32 bits become 0xFFFFFFFF.
        {307, 1, 8000, 10, 0, 0x10000000, 0xFFFFFFFF},
        {6, 1, 8000, 1, 8, 0x80000000, 0xFFFFFFFF},
        {16, 1, 8000, 1, 4, 0x40000000, 0xFFFFFFFF},
        {1, 1, 8000, 2, 16, 0xFFFFFFF0, 0xFFFFFFF0},
    };
    for (const Case& c : cases) {
        WaveHeader in;
        in.format_tag = c.tag;
        in.channels = c.channels;
        in.sample_rate = c.rate;
        in.block_align = c.align;
        in.bits_per_sample = c.bits;
        in.data_size = c.data;
        const WaveHeader out = DescribeDecodedOutput(in, false, UINT64_MAX);
        EXPECT_EQ(out.data_size, c.expected) << "tag " << c.tag << ", data " << c.data;
        const uint64_t riff = std::min<uint64_t>(uint64_t{c.expected} + 36, 0xFFFFFFFF);
        EXPECT_EQ(out.riff_size, riff) << "tag " << c.tag;
        EXPECT_EQ(out.format_tag, 1);
    }

    WaveHeader gsm;
    EXPECT_EQ(DescribeDecodedOutput(gsm, true, 3300).data_size, 32000u);
    EXPECT_EQ(DescribeDecodedOutput(gsm, true, 32).data_size, 0u);
}

TEST(DecodeJob, HeaderSizesCountNoMoreDataThanTheInputHolds) {
    struct Case {
        uint16_t tag;
        uint16_t align;
        uint16_t bits;
        uint32_t data;
        uint64_t available;
        uint32_t expected;
    };
    const Case cases[] = {
        {1, 2, 16, 0xFFFFFFFF, 1600, 1600},
        {6, 1, 8, 0xFFFFFFFF, 1600, 3200},
        {2, 256, 4, 0xFFFFFFFF, 600, 2 * 500 * 2},  // whole blocks only
        {17, 256, 4, 0xFFFFFFFF, 260, 2 * (505 + 1)},
        {49, 65, 0, 0xFFFFFFFF, 130, 4 * 320},
        {307, 10, 0, 0xFFFFFFFF, 25, 16 * 25},
        // A declared size smaller than the input (trailing chunks) stands.
        {1, 2, 16, 100, 1600, 100},
        {1, 2, 16, 100, 0, 0},
    };
    for (const Case& c : cases) {
        WaveHeader in;
        in.format_tag = c.tag;
        in.channels = 1;
        in.sample_rate = 8000;
        in.block_align = c.align;
        in.bits_per_sample = c.bits;
        in.data_size = c.data;
        const WaveHeader out = DescribeDecodedOutput(in, false, c.available);
        EXPECT_EQ(out.data_size, c.expected) << "tag " << c.tag << ", holding " << c.available;
        EXPECT_EQ(out.riff_size, c.expected + 36) << "tag " << c.tag;
    }

    // The job measures what a file holds from its data chunk on.
    const std::string in = TempPath("declares-too-much.wav");
    WriteFile(in,
              WaveBytes().header(1, 1, 8000, 2, 16).id("data").u32(0xFFFFFFFF).raw(Pattern(1600)));
    RecordingNotifier notifier;
    const std::string out = TempPath("declares-too-much.out.wav");
    {
        CWaveDecoder decoder(in, out, &notifier);
        decoder.Start();
        notifier.waitFinished();
    }
    WaveHeader written;
    const std::vector<uint8_t> file = ReadFile(out);
    ASSERT_TRUE(ParseWaveHeaderFromMemory(written, file.data(), file.size()));
    EXPECT_EQ(written.data_size, 1600u);
    EXPECT_EQ(written.riff_size, 1636u);
    EXPECT_EQ(file.size(), 44u + 1600);
}

TEST(DecodeJob, ConstructorRefusesBadHeadersAndReleasesTheStream) {
    const std::vector<std::pair<std::vector<uint8_t>, std::string>> cases = {
        // A tag neither our decoders nor the media libraries know.
        // Said by what stands out: the sample size, else the format tag.
        {WaveBytes().header(0x1234, 1, 8000, 4, 32).data(Pattern(8)),
         "This recording uses 32-bit samples, which Lyrabell cannot play. A sound editor can "
         "save it as 16-bit audio that Lyrabell plays."},
        {WaveBytes().header(85, 1, 8000, 1, 0).data({}),
         "This recording is stored in a kind of wave file that Lyrabell cannot play (format "
         "85). A sound editor can save it as 16-bit audio that Lyrabell plays."},
        {Pattern(200), kInvalidHeaderText},
        {{}, kInvalidHeaderText},
        {WaveBytes().header(1, 1, 8000, 2, 16), kInvalidHeaderText},
        // No channels, or ADPCM without a block size.
        {WaveBytes().header(6, 0, 8000, 1, 8).data(Pattern(8)), kInvalidHeaderText},
        {WaveBytes().header(17, 1, 8000, 0, 4).data(Pattern(8)), kInvalidHeaderText},
        {WaveBytes().header(2, 1, 8000, 0, 4).data(Pattern(8)), kInvalidHeaderText},
    };
    for (const auto& [input, message] : cases) {
        auto* stream = new CMemoryStream(input);
        stream->AddRef();  // keep one reference to see the decoder drop its own
        try {
            CWaveDecoder decoder(stream, TempPath("refused.wav"), nullptr, false);
            ADD_FAILURE() << "accepted, expected " << message;
        } catch (const CWaveDecoderException& e) {
            EXPECT_EQ(std::string(e.what()), message);
            char buffer[256];
            EXPECT_TRUE(e.GetErrorMessage(buffer, sizeof buffer));
            EXPECT_EQ(std::string(buffer), message);
        }
        EXPECT_EQ(stream->Release(), 0u) << message;
    }
}

TEST(DecodeJob, FileSourceTakesAnyDotGsmAsRawAndReportsFileErrors) {
    // Wave bytes in a file named .GSM are still decoded as raw frames.
    const std::string in = TempPath("message.GSM");
    WriteFile(in, WaveBytes().header(1, 1, 8000, 2, 16).data(Pattern(70)));
    RecordingNotifier notifier;
    const std::string out = TempPath("from-file.wav");
    {
        CWaveDecoder decoder(in, out, &notifier);
        EXPECT_TRUE(decoder.rawGsm());
        EXPECT_EQ(decoder.header().format_tag, 49);
        decoder.Start();
        notifier.waitFinished();
    }
    EXPECT_EQ(ReadFile(out).size(), 44u + 3 * 320);  // 114 bytes: three frames
    struct stat st {};
    ASSERT_EQ(stat(out.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    const std::string missing = TempPath("no-such.wav");
    try {
        CWaveDecoder decoder(missing, out, nullptr);
        ADD_FAILURE() << "opened a missing file";
    } catch (const lyb::CFileException& e) {
        EXPECT_EQ(e.cause(), lyb::CFileException::Cause::fileNotFound);
        EXPECT_EQ(e.error(), ENOENT);
        EXPECT_EQ(e.fileName(), missing);
        EXPECT_EQ(std::string(e.what()), missing + ": No such file or directory");
    }
    const std::string badOut = TempPath("no-dir/out.wav");
    try {
        CWaveDecoder decoder(in, badOut, nullptr);
        ADD_FAILURE() << "created an output in a missing folder";
    } catch (const lyb::CFileException& e) {
        EXPECT_EQ(e.fileName(), badOut);
    }
}

TEST(DecodeJob, OutputIsMadeOnlyForAnAcceptedInputAndNeverThroughAPlantedEntry) {
    const std::vector<uint8_t> wave = WaveBytes().header(1, 1, 8000, 2, 16).data(Pattern(64));
    const std::vector<uint8_t> victimBytes = Pattern(300);
    const std::string victim = TempPath("victim.txt");
    const std::string in = TempPath("accepted.wav");
    WriteFile(in, wave);

    // Whatever stands at the output name of the temporary file is replaced,
    // not written: the file a link or a second name leads to keeps its bytes.
    struct Planted {
        const char* what;
        int (*plant)(const char* target, const char* name);
    };
    const Planted planted[] = {{"a symbolic link", ::symlink}, {"a hard link", ::link}};
    for (const Planted& p : planted) {
        WriteFile(victim, victimBytes);
        const std::string out = TempPath("planted.wav");
        std::remove(out.c_str());
        ASSERT_EQ(p.plant(victim.c_str(), out.c_str()), 0) << p.what;
        RecordingNotifier notifier;
        {
            CWaveDecoder decoder(in, out, &notifier);
            decoder.Start();
            notifier.waitFinished();
        }
        EXPECT_EQ(ReadFile(victim), victimBytes) << p.what;
        struct stat st {};
        ASSERT_EQ(lstat(out.c_str(), &st), 0);
        EXPECT_TRUE(S_ISREG(st.st_mode)) << p.what;
        EXPECT_EQ(st.st_nlink, 1u) << p.what;
        EXPECT_EQ(st.st_mode & 0777, 0600u) << p.what;
        const std::vector<uint8_t> written = ReadFile(out);
        EXPECT_EQ(std::vector<uint8_t>(written.begin() + std::min<size_t>(written.size(), 44),
                                       written.end()),
                  Pattern(64))
            << p.what;
    }

    // A named output that is the input, directly or through a link, is refused
    // and the input keeps its bytes.
    const std::string link = TempPath("input-link.wav");
    std::remove(link.c_str());
    ASSERT_EQ(::symlink(in.c_str(), link.c_str()), 0);
    for (const std::string& out : {in, link}) {
        try {
            CWaveDecoder decoder(in, out, nullptr, OutputFile::kWriteThrough);
            ADD_FAILURE() << "decoded " << in << " onto " << out;
        } catch (const CWaveDecoderException& e) {
            EXPECT_EQ(std::string(e.what()), out + ": the output is the input file.");
        }
        EXPECT_EQ(ReadFile(in), wave);
    }

    // A refused input leaves a named output as it was, and makes no new one.
    const std::string bad = TempPath("not-a-wave.wav");
    WriteFile(bad, Pattern(200));
    WriteFile(victim, victimBytes);
    const std::string fresh = TempPath("never-made.wav");
    std::remove(fresh.c_str());
    for (OutputFile mode : {OutputFile::kReplace, OutputFile::kWriteThrough}) {
        for (const std::string& out : {victim, fresh}) {
            EXPECT_THROW({ CWaveDecoder decoder(bad, out, nullptr, mode); }, CWaveDecoderException);
        }
        EXPECT_EQ(ReadFile(victim), victimBytes);
        struct stat st {};
        EXPECT_NE(stat(fresh.c_str(), &st), 0);
    }
}

namespace {

// A stream that never ends: a PCM header, then zeros forever.
class EndlessStream final : public lyb::mapi::IStream {
public:
    EndlessStream() : header_(WaveBytes().header(1, 1, 8000, 2, 16).id("data").u32(0xFFFFFFFF)) {}
    lyb::mapi::HRESULT Read(void* buffer, uint32_t count, uint32_t* read) override {
        auto* out = static_cast<uint8_t*>(buffer);
        for (uint32_t i = 0; i < count; ++i, ++position_) {
            out[i] = position_ < header_.size() ? header_[position_] : 0;
        }
        if (read)
            *read = count;
        return lyb::mapi::S_OK;
    }
    lyb::mapi::HRESULT Seek(int64_t move, uint32_t origin, uint64_t* position) override {
        position_ = (origin == lyb::mapi::STREAM_SEEK_CUR ? position_ : 0) + move;
        if (position)
            *position = position_;
        return lyb::mapi::S_OK;
    }
    lyb::mapi::HRESULT Stat(lyb::mapi::STATSTG* stat, uint32_t) override {
        stat->cbSize = uint64_t{1} << 62;
        return lyb::mapi::S_OK;
    }

private:
    std::vector<uint8_t> header_;
    uint64_t position_ = 0;
};

}  // namespace

TEST(DecodeJob, DestroyingARunningJobStopsItAndStillPostsItsNotice) {
    const std::string out = TempPath("endless.wav");
    RecordingNotifier notifier;
    {
        CWaveDecoder decoder(new EndlessStream, out, &notifier, false);
        decoder.Start();
        notifier.waitFor(WM_DECODING_STARTED);
        // Another handle sees the output grow while the job writes.
        struct stat st {};
        while (stat(out.c_str(), &st) != 0 || st.st_size < 44 + 8192) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        EXPECT_EQ(notifier.notices().size(), 1u);
    }  // only stop can end this input
    EXPECT_EQ(notifier.notices(), kStartedAndFinished);

    // A job that never started posts nothing.
    RecordingNotifier idle;
    { CWaveDecoder decoder(new EndlessStream, out, &idle, false); }
    EXPECT_TRUE(idle.notices().empty());
}
