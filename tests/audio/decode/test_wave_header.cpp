// The wave header parsers (file reader, stream reader, memory) and writer.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "audio/decode/wave_header.h"
#include "tests/audio/decode/wave_bytes.h"

using namespace lyb::audio;
using lyb::audio::test::WaveBytes;
using lyb::mapi::CMemoryStream;

namespace {

// A descriptor of a fresh temporary file holding bytes, positioned at 0.
int TempFileWith(const std::vector<uint8_t>& bytes) {
    const char* tmp = std::getenv("TMPDIR");
    std::string path = std::string(tmp ? tmp : "/tmp") + "/wavehdrXXXXXX";
    const int fd = mkstemp(path.data());
    EXPECT_GE(fd, 0);
    unlink(path.c_str());
    EXPECT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    lseek(fd, 0, SEEK_SET);
    return fd;
}

struct Parsed {
    bool ok = false;
    WaveHeader header;
    uint64_t position = 0;  // the reader's position after parsing
};

Parsed ParseStream(const std::vector<uint8_t>& bytes) {
    Parsed p;
    CStreamWaveReader reader(new CMemoryStream(bytes));
    p.ok = ParseWaveHeader(p.header, reader);
    p.position = reader.GetPosition();
    return p;
}

Parsed ParseFile(const std::vector<uint8_t>& bytes) {
    Parsed p;
    CFileWaveReader reader(TempFileWith(bytes));
    p.ok = ParseWaveHeader(p.header, reader);
    p.position = reader.GetPosition();
    return p;
}

Parsed ParseMemory(const std::vector<uint8_t>& bytes) {
    Parsed p;
    p.ok = ParseWaveHeaderFromMemory(p.header, bytes.data(), bytes.size());
    return p;
}

// Parses with all three parsers and checks that they agree; returns the stream's result.
Parsed ParseAll(const std::vector<uint8_t>& bytes) {
    const Parsed s = ParseStream(bytes);
    const Parsed f = ParseFile(bytes);
    const Parsed m = ParseMemory(bytes);
    EXPECT_EQ(s.ok, f.ok);
    EXPECT_EQ(s.ok, m.ok);
    if (s.ok && f.ok && m.ok) {
        EXPECT_EQ(SerializeWaveHeader(s.header), SerializeWaveHeader(f.header));
        EXPECT_EQ(SerializeWaveHeader(s.header), SerializeWaveHeader(m.header));
        EXPECT_EQ(s.header.extension, m.header.extension);
        EXPECT_EQ(s.position, f.position);
    }
    return s;
}

}  // namespace

TEST(WaveHeader, ParsesIdsInAnyCaseAndStopsAtTheData) {
    const std::vector<uint8_t> bytes = WaveBytes()
                                           .id("riff")
                                           .u32(100)
                                           .id("wAvE")
                                           .id("Fmt ")
                                           .u32(16)
                                           .u16(1)
                                           .u16(2)
                                           .u32(8000)
                                           .u32(32000)
                                           .u16(4)
                                           .u16(16)
                                           .chunk("DATA", {1, 2, 3, 4});
    const Parsed p = ParseAll(bytes);
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(p.header.format_tag, 1);
    EXPECT_EQ(p.header.channels, 2);
    EXPECT_EQ(p.header.sample_rate, 8000u);
    EXPECT_EQ(p.header.avg_bytes_per_sec, 32000u);
    EXPECT_EQ(p.header.block_align, 4);
    EXPECT_EQ(p.header.bits_per_sample, 16);
    EXPECT_EQ(p.header.data_size, 4u);
    EXPECT_EQ(p.header.riff_size, 100u);
    EXPECT_TRUE(p.header.extension.empty());
    EXPECT_EQ(p.position, 44u);
}

TEST(WaveHeader, SkipsChunksBeforeTheDataWithoutPadding) {
    // fact, LIST and an odd-sized chunk: each skipped by 8 + its size.
    const std::vector<uint8_t> bytes = WaveBytes()
                                           .header(17, 1, 8000, 256, 4)
                                           .chunk("fact", {0x10, 0, 0, 0})
                                           .chunk("LIST", {'I', 'N', 'F', 'O', 'x', 'y'})
                                           .chunk("odd ", {9, 9, 9})
                                           .data({7, 8});
    const Parsed p = ParseAll(bytes);
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(p.header.format_tag, 17);
    EXPECT_EQ(p.header.data_size, 2u);
    EXPECT_EQ(p.position, bytes.size() - 2);
}

TEST(WaveHeader, KeepsAnFmtExtensionAndSearchesTheDataAfterIt) {
    const std::vector<uint8_t> extension = {2, 0, 0xF9, 0x01};
    const std::vector<uint8_t> bytes =
        WaveBytes().header(2, 1, 8000, 256, 4, extension).data({1, 2, 3});
    Parsed p = ParseAll(bytes);
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(p.header.fmt_size, 20u);
    EXPECT_EQ(p.header.extension, extension);
    EXPECT_EQ(p.position, bytes.size() - 3);

    // Parsing again into the same record replaces the extension.
    CStreamWaveReader reader(new CMemoryStream(WaveBytes().header(1, 1, 8000, 2, 16).data({0, 0})));
    ASSERT_TRUE(ParseWaveHeader(p.header, reader));
    EXPECT_TRUE(p.header.extension.empty());
}

// A fmt chunk declared shorter than its 16 fields still has them read, and the
// walk starts where the declared chunk ends, inside those fields.
TEST(WaveHeader, ShortFmtChunkIsWalkedFromItsDeclaredEnd) {
    std::vector<uint8_t> bytes = {'R', 'I', 'F', 'F', 28, 0, 0, 0, 'W', 'A', 'V', 'E'};
    const uint8_t fmt[] = {'f', 'm', 't', ' ', 4, 0, 0, 0};
    const uint8_t tagAndChannels[] = {1, 0, 1, 0};             // the 4 declared bytes
    const uint8_t rates[] = {'d', 'a', 't', 'a', 2, 0, 0, 0};  // also the data chunk
    const uint8_t alignAndBits[] = {2, 0, 16, 0};              // also the data
    bytes.insert(bytes.end(), std::begin(fmt), std::end(fmt));
    bytes.insert(bytes.end(), std::begin(tagAndChannels), std::end(tagAndChannels));
    bytes.insert(bytes.end(), std::begin(rates), std::end(rates));
    bytes.insert(bytes.end(), std::begin(alignAndBits), std::end(alignAndBits));
    Parsed p = ParseAll(bytes);
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(p.header.fmt_size, 4u);
    EXPECT_EQ(p.header.format_tag, 1);
    EXPECT_EQ(p.header.data_size, 2u);
    EXPECT_EQ(p.header.bits_per_sample, 16);
    EXPECT_EQ(p.position, 32u);
    EXPECT_TRUE(p.header.extension.empty());
}

// Every parser finds the first "fmt " at any offset after WAVE, also right
// after a byte that started a false match.
TEST(WaveHeader, FindsTheFmtChunkAfterJunk) {
    const std::vector<std::vector<uint8_t>> junks = {
        {'x', 'f', 'm', 'x', 'F', 'M', 'T', '!'}, {'f'}, {'F', 'm'}, {'f', 'm', 't'}, {'f', 'f'}};
    for (const auto& junk : junks) {
        SCOPED_TRACE(std::string(junk.begin(), junk.end()));
        const std::vector<uint8_t> bytes = WaveBytes()
                                               .id("RIFF")
                                               .u32(0)
                                               .id("WAVE")
                                               .raw(junk)
                                               .id("fmt ")
                                               .u32(16)
                                               .u16(7)
                                               .u16(1)
                                               .u32(8000)
                                               .u32(8000)
                                               .u16(1)
                                               .u16(8)
                                               .data({0xFF});
        const Parsed p = ParseAll(bytes);
        ASSERT_TRUE(p.ok);
        EXPECT_EQ(p.header.format_tag, 7);
        EXPECT_EQ(p.position, bytes.size() - 1);
    }
}

TEST(WaveHeader, RefusesEveryTruncationAndWrongIds) {
    const std::vector<uint8_t> whole = WaveBytes().header(1, 1, 8000, 2, 16).data({});
    ASSERT_TRUE(ParseAll(whole).ok);
    for (size_t n = 0; n < whole.size(); ++n) {
        const std::vector<uint8_t> cut(whole.begin(), whole.begin() + n);
        EXPECT_FALSE(ParseAll(cut).ok) << "cut at " << n;
    }
    for (size_t at : {0, 3, 8, 11}) {  // a letter of RIFF or WAVE
        std::vector<uint8_t> bad = whole;
        bad[at] = 'X';
        EXPECT_FALSE(ParseAll(bad).ok) << "byte " << at;
    }
    std::vector<uint8_t> noData = whole;
    noData[36] = 'x';  // "xata": the walk runs off the end
    EXPECT_FALSE(ParseAll(noData).ok);
}

TEST(WaveHeader, ChunkSizesThatWrapOrOverrunEndTheWalk) {
    // 8 + 0xFFFFFFF8 wraps to 0 in 32 bits: a 32-bit walk would revisit the
    // same chunk forever.
    for (uint32_t size : {0xFFFFFFF8u, 0xFFFFFFFFu, 0x7FFFFFFFu, 100u}) {
        const std::vector<uint8_t> bytes =
            WaveBytes().header(1, 1, 8000, 2, 16).id("junk").u32(size).data({1, 2});
        EXPECT_FALSE(ParseAll(bytes).ok) << size;
    }
    // An extension larger than the input is refused before it is read.
    const std::vector<uint8_t> huge = WaveBytes()
                                          .id("RIFF")
                                          .u32(0)
                                          .id("WAVE")
                                          .id("fmt ")
                                          .u32(0xFFFFFFF0u)
                                          .raw(std::vector<uint8_t>(16, 1))
                                          .data({});
    EXPECT_FALSE(ParseAll(huge).ok);
}

TEST(WaveHeader, WritesFieldsInFileOrderWithFmtSize16) {
    WaveHeader h;
    h.format_tag = 1;
    h.channels = 2;
    h.sample_rate = 0x11223344;
    h.avg_bytes_per_sec = 0x55667788;
    h.block_align = 0x99AA;
    h.bits_per_sample = 16;
    h.data_size = 0xCAFEBABE;
    h.riff_size = h.data_size + 36;
    h.fmt_size = 20;
    h.extension = {1, 2, 3, 4};
    const std::vector<uint8_t> bytes = SerializeWaveHeader(h);
    const std::vector<uint8_t> expected = WaveBytes()
                                              .id("RIFF")
                                              .u32(0xCAFEBABE + 36)
                                              .id("WAVE")
                                              .id("fmt ")
                                              .u32(16)
                                              .u16(1)
                                              .u16(2)
                                              .u32(0x11223344)
                                              .u32(0x55667788)
                                              .u16(0x99AA)
                                              .u16(16)
                                              .id("data")
                                              .u32(0xCAFEBABE);
    EXPECT_EQ(bytes, expected);

    const int fd = TempFileWith({});
    ASSERT_TRUE(WriteWaveHeader(h, fd));
    EXPECT_EQ(h.fmt_size, 16u);
    std::vector<uint8_t> back(64);
    EXPECT_EQ(pread(fd, back.data(), back.size(), 0), 44);
    back.resize(44);
    EXPECT_EQ(back, expected);
    close(fd);
}

TEST(WaveHeader, SupportsExactlyTheDecodedTags) {
    for (uint32_t tag = 0; tag <= 0xFFFF; ++tag) {
        const bool expected = tag == 1 || tag == 2 || tag == 6 || tag == 7 || tag == 16 ||
                              tag == 17 || tag == 49 || tag == 307;
        ASSERT_EQ(IsSupportedFormatTag(static_cast<uint16_t>(tag)), expected) << tag;
    }
}

TEST(StreamWaveReader, KeepsTheBytesOfAShortFinalRead) {
    CStreamWaveReader reader(new CMemoryStream({1, 2, 3, 4, 5}));
    EXPECT_EQ(reader.GetLength(), 5u);
    uint8_t buffer[8] = {};
    EXPECT_EQ(reader.Read(buffer, 3), 3u);
    EXPECT_EQ(reader.Read(buffer, 8), 2u);  // S_FALSE with two bytes
    EXPECT_EQ(buffer[0], 4);
    EXPECT_EQ(buffer[1], 5);
    EXPECT_EQ(reader.Read(buffer, 8), 0u);
    EXPECT_EQ(reader.Seek(1, 0), 1u);
    EXPECT_EQ(reader.Seek(2, 1), 3u);
    EXPECT_EQ(reader.Seek(0, 2), 5u);
    EXPECT_EQ(reader.Seek(0, 7), 0u);  // unknown origin: nothing moves
    EXPECT_EQ(reader.GetPosition(), 5u);
    reader.Close(true);
    EXPECT_EQ(reader.Read(buffer, 1), 0u);
}

TEST(FileWaveReader, ReadsSeeksAndReportsTheLength) {
    CFileWaveReader reader(TempFileWith({9, 8, 7, 6}));
    EXPECT_EQ(reader.GetLength(), 4u);
    uint8_t buffer[8] = {};
    EXPECT_EQ(reader.Seek(2, 0), 2u);
    EXPECT_EQ(reader.Read(buffer, 8), 2u);
    EXPECT_EQ(buffer[0], 7);
    EXPECT_EQ(reader.Seek(-1, 2), 3u);
    EXPECT_EQ(reader.Seek(5, 3), 0u);
    EXPECT_EQ(reader.GetPosition(), 3u);
}
