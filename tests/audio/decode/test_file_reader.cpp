// The file reader's read-ahead must be invisible: every mix of reads and
// seeks gives the bytes and positions of the file itself.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "audio/decode/wave_decoder.h"
#include "audio/decode/wave_header.h"

using lyb::audio::CFileWaveReader;

namespace {

std::string MakeFile(size_t size, std::vector<uint8_t>& bytes) {
    bytes.resize(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<uint8_t>((i * 7 + i / 251) & 0xFF);
    const char* dir = std::getenv("TMPDIR");
    const std::string path = std::string(dir ? dir : "/tmp") + "/reader.bin";
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(size));
    return path;
}

}  // namespace

TEST(FileWaveReader, ReadsAndSeeksAcrossTheReadAheadGiveTheFilesBytes) {
    std::vector<uint8_t> file;
    const std::string path = MakeFile(200000, file);  // three read-ahead blocks and a bit
    CFileWaveReader reader(::open(path.c_str(), O_RDONLY));
    ASSERT_EQ(reader.GetLength(), file.size());

    uint64_t at = 0;
    auto expectRead = [&](uint32_t count) {
        std::vector<uint8_t> got(count, 0xEE);
        const uint32_t n = reader.Read(got.data(), count);
        const uint64_t want = std::min<uint64_t>(count, file.size() - at);
        ASSERT_EQ(n, want) << "at " << at;
        EXPECT_TRUE(std::equal(got.begin(), got.begin() + n, file.begin() + at)) << "at " << at;
        at += n;
        EXPECT_EQ(reader.GetPosition(), at);
    };

    expectRead(12);
    expectRead(4096);
    EXPECT_EQ(reader.Seek(-100, 1), at - 100);  // back into the bytes read ahead
    at -= 100;
    expectRead(33);
    EXPECT_EQ(reader.Seek(70000, 0), 70000u);  // beyond them
    at = 70000;
    expectRead(65536 + 10);  // larger than a block, straddling two
    EXPECT_EQ(reader.Seek(5, 1), at + 5);
    at += 5;
    expectRead(1024);
    EXPECT_EQ(reader.Seek(-10, 2), file.size() - 10);
    at = file.size() - 10;
    expectRead(1024);  // a short read at the end
    EXPECT_EQ(reader.Read(nullptr, 0), 0u);
    EXPECT_EQ(reader.Seek(0, 7), 0u);  // an unknown origin does nothing
    EXPECT_EQ(reader.GetPosition(), file.size());
}

TEST(FileWaveReader, SmallStepsReadTheWholeFileInOrder) {
    std::vector<uint8_t> file;
    const std::string path = MakeFile(140001, file);
    CFileWaveReader reader(::open(path.c_str(), O_RDONLY));
    std::vector<uint8_t> all;
    uint8_t frame[33];
    for (uint32_t n; (n = reader.Read(frame, sizeof frame)) > 0;)
        all.insert(all.end(), frame, frame + n);
    EXPECT_EQ(all, file);
}

TEST(WaveDecoderInput, SpecialFilesAreRefusedWithoutWaiting) {
    const char* dir = std::getenv("TMPDIR");
    const std::string base = std::string(dir ? dir : "/tmp");
    const std::string fifo = base + "/input.fifo", linked = base + "/zero.wav";
    ::unlink(fifo.c_str());
    ::unlink(linked.c_str());
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    ASSERT_EQ(::symlink("/dev/zero", linked.c_str()), 0);
    for (const std::string& input : {fifo, linked}) {
        try {
            lyb::audio::CWaveDecoder decoder(input, base + "/out.wav", nullptr);
            ADD_FAILURE() << input << " was accepted";
        } catch (const lyb::CFileException& e) {
            EXPECT_EQ(std::string(e.what()), input + ": Not a regular file");
        }
    }
}
