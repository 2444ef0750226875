// Special files in place of the files we read: each fails at once with a
// clear error. A test that blocked would end at the test timeout.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/files/regular_file.h"

using namespace lyb::files;

namespace {

std::string tempDir() {
    const char* dir = std::getenv("TMPDIR");
    std::string path = std::string(dir ? dir : "/tmp") + "/regular-XXXXXX";
    return ::mkdtemp(path.data()) ? path : std::string();
}

void writeFile(const std::string& path, const std::string& bytes) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    ::close(fd);
}

}  // namespace

TEST(RegularFile, SpecialFilesFailAtOnceAndLargeFilesWithinTheLimit) {
    const std::string dir = tempDir();
    ASSERT_FALSE(dir.empty());
    constexpr uint64_t kLimit = 1 << 20;
    writeFile(dir + "/plain", "hello");
    ASSERT_EQ(::mkfifo((dir + "/fifo").c_str(), 0600), 0);
    ASSERT_EQ(::symlink((dir + "/fifo").c_str(), (dir + "/to-fifo").c_str()), 0);
    ASSERT_EQ(::symlink("/dev/zero", (dir + "/to-zero").c_str()), 0);
    // Sparse: a terabyte-sized file that takes no room.
    writeFile(dir + "/huge", "");
    ASSERT_EQ(::truncate((dir + "/huge").c_str(), off_t{1} << 40), 0);

    const struct {
        const char* name;
        int error;
    } cases[] = {
        {"plain", 0},
        {"missing", ENOENT},
        {"fifo", kNotRegularFile},
        {"to-fifo", kNotRegularFile},
        {"to-zero", kNotRegularFile},
        {".", EISDIR},
        {"huge", EFBIG},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> bytes{1, 2, 3};
        EXPECT_EQ(readRegularFile((dir + "/" + c.name).c_str(), kLimit, bytes), c.error);
        EXPECT_EQ(bytes.size(), c.error == 0 ? 5u : 0u);
    }
    EXPECT_EQ(errorText(kNotRegularFile), "Not a regular file");

    // A prefix is kept when asked for; a file exactly at the limit is whole.
    std::string prefix;
    EXPECT_EQ(readRegularFile((dir + "/huge").c_str(), kLimit, prefix, Oversize::keepPrefix),
              EFBIG);
    EXPECT_EQ(prefix.size(), kLimit);
    EXPECT_EQ(readRegularFile((dir + "/plain").c_str(), 4, prefix, Oversize::keepPrefix), EFBIG);
    EXPECT_EQ(prefix, "hell");
    EXPECT_EQ(readRegularFile((dir + "/plain").c_str(), 5, prefix), 0);
    EXPECT_EQ(prefix, "hello");

    // The descriptor handed out blocks as usual.
    int error = 0;
    uint64_t size = 0;
    const int fd = openRegularFile((dir + "/plain").c_str(), &error, &size);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(size, 5u);
    EXPECT_EQ(::fcntl(fd, F_GETFL) & O_NONBLOCK, 0);
    ::close(fd);
}
