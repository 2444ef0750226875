// lybtool's decode and play as a hostile neighbour and a careless user meet
// them: a runtime folder left open with a planted link, an output that is the
// input.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>

#include <fcntl.h>
#include <sys/stat.h>

#include <vector>

#include "tests/audio/decode/wave_bytes.h"

namespace {

using lyb::audio::test::Pattern;
using lyb::audio::test::WaveBytes;

struct ToolRun {
    int status;
    QStringList errors;  // the lines on standard error
};

const QString kLybtool = QStringLiteral(LYB_BINARY_DIR "/bin/lybtool");

ToolRun run(const QString& program, const QStringList& args) {
    QProcess p;
    p.start(program, args);
    p.waitForFinished(60000);
    return {p.exitCode(),
            QString::fromUtf8(p.readAllStandardError()).split('\n', Qt::SkipEmptyParts)};
}

ToolRun lybtool(const QStringList& args) {
    return run(kLybtool, args);
}

// Runs a shell command line with lybtool as $0.
ToolRun lybtool_through_shell(const QString& command) {
    return run(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), command, kLybtool});
}

QByteArray bytesOf(const std::vector<uint8_t>& v) {
    return QByteArray(reinterpret_cast<const char*>(v.data()), qsizetype(v.size()));
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

QByteArray readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// A twentieth of a second of 8 kHz PCM.
const QByteArray kShortWave = bytesOf(WaveBytes().header(1, 1, 8000, 2, 16).data(Pattern(800)));

TEST(LybtoolFiles, PlayNeverWritesThroughALinkPlantedInALooseRuntimeFolder) {
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR") + "/lyrabell";
    ASSERT_TRUE(QDir().mkpath(runtime));
    ASSERT_EQ(chmod(QFile::encodeName(runtime).constData(), 0777), 0);
    const QString victim = QDir::tempPath() + "/victim.txt";
    const QByteArray victimBytes = "another user's bait, or this user's own file\n";
    writeFile(victim, victimBytes);
    ASSERT_TRUE(QFile::link(victim, runtime + "/lybtemp.wav"));
    const QString input = QDir::tempPath() + "/short.wav";
    writeFile(input, kShortWave);

    const ToolRun run = lybtool({"play", input});
    EXPECT_EQ(run.status, 0) << run.errors.join('\n').toStdString();
    EXPECT_EQ(readFile(victim), victimBytes);
    struct stat st {};
    ASSERT_EQ(lstat(QFile::encodeName(runtime).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    ASSERT_EQ(run.errors.size(), 1) << run.errors.join('\n').toStdString();
    EXPECT_TRUE(run.errors[0].contains("open to other users")) << run.errors[0].toStdString();
}

TEST(LybtoolFiles, DecodeRefusesAnOutputThatIsItsInputFromAFileOrAStream) {
    const QString input = QDir::tempPath() + "/own.wav";
    writeFile(input, kShortWave);
    const QString link = QDir::tempPath() + "/own-link.wav";
    ASSERT_TRUE(QFile::link(input, link));
    const QString bad = QDir::tempPath() + "/not-a-wave.wav";
    writeFile(bad, "not a wave file");
    const QString kept = QDir::tempPath() + "/kept.wav";
    for (const QStringList& options : {QStringList{}, QStringList{"--stream"}}) {
        SCOPED_TRACE(options.join(' ').toStdString());
        for (const QString& output : {input, link}) {
            const ToolRun run =
                lybtool(QStringList{"decode"} + options + QStringList{input, output});
            EXPECT_EQ(run.status, 1);
            EXPECT_EQ(run.errors, QStringList{output + ": the output is the input file."});
            EXPECT_EQ(readFile(input), kShortWave);
        }
        // A refused input leaves the output as it was.
        writeFile(kept, kShortWave);
        EXPECT_EQ(lybtool(QStringList{"decode"} + options + QStringList{bad, kept}).status, 1);
        EXPECT_EQ(readFile(kept), kShortWave);
    }
}

// File names are bytes: a name that is not UTF-8 reaches the file itself.
TEST(LybtoolFiles, DecodeKeepsTheBytesOfNamesThatAreNotUtf8) {
    const QByteArray dir = QFile::encodeName(QDir::tempPath());
    const QByteArray input = dir + "/in\xff\xfe.wav", output = dir + "/out\xe9.wav";
    {
        QFile f;
        const int fd = ::open(input.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ASSERT_GE(fd, 0);
        ASSERT_TRUE(f.open(fd, QIODevice::WriteOnly, QFile::AutoCloseHandle));
        f.write(kShortWave);
    }
    // Through the environment, so that no QString carries the names.
    qputenv("LYB_IN", input);
    qputenv("LYB_OUT", output);
    const ToolRun run = lybtool_through_shell("exec \"$0\" decode \"$LYB_IN\" \"$LYB_OUT\"");
    EXPECT_EQ(run.status, 0) << run.errors.join('\n').toStdString();
    struct stat st {};
    ASSERT_EQ(::stat(output.constData(), &st), 0);
    EXPECT_GT(st.st_size, 44);
}

}  // namespace
