// The real lyrabell in a real X session: a mouse tap on the first row plays
// that voicemail, and the sound device receives its recording bit for bit.
#include "tests/app/voicemail_account.h"
#include "tests/platform/waveout/wave_files.h"

#include <QProcess>
#include <QStandardPaths>

#include <gtest/gtest.h>

using namespace lyb::testing;

TEST(RealLyrabell, MouseTapOnARowPlaysItsRecordingBitForBit) {
    if (QStandardPaths::findExecutable(QStringLiteral("xvfb-run")).isEmpty() ||
        QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())
        GTEST_SKIP() << "needs xvfb-run and xdotool (scripts/install-deps)";
    MaildirFixture md;
    useVoicemailAccount(md);
    const std::vector<uint8_t> audio = NoiseBytes(8000, 7);  // half a second
    const std::vector<uint8_t> wave = ReadAll(WriteWave("tapped.wav", 1, Pcm{1, 8000, 16}, audio));
    md.deliver(voicemailMail(voicemailWith("Tue, 01 Dec 2026 09:30:00 +0000")));
    md.deliver(voicemailMail(voicemailWith("Thu, 03 Dec 2026 09:30:00 +0000", wave)));

    const std::string capture = TempPath("xvfb-capture.wav");
    QProcess run;
    run.setProcessChannelMode(QProcess::ForwardedChannels);
    run.start(QStringLiteral("xvfb-run"),
              {QStringLiteral("-a"), QStringLiteral("-s"), QStringLiteral("-screen 0 480x800x24"),
               QStringLiteral(LYB_SOURCE_DIR "/tests/app/xvfb-tap"),
               QStringLiteral(LYB_BINARY_DIR "/bin/lyrabell"), QString::fromStdString(capture),
               QString::number(44 + audio.size())});
    ASSERT_TRUE(run.waitForFinished(90000));
    ASSERT_EQ(run.exitCode(), 0);
    EXPECT_EQ(ReadCapture(capture).data, audio);
}
