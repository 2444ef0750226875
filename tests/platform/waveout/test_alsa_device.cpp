// The ALSA device, end to end: lybtool plays a wave file on ALSA's default
// PCM, which this test's own ALSA configuration points at a file, so what ALSA
// was handed can be compared with the recording.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>

#include "tests/platform/waveout/wave_files.h"

using namespace lyb::testing;

TEST(AlsaDevice, PlaysAWaveFileBitForBitThroughTheDefaultPcm) {
    const QString home = QDir::homePath();
    const QString raw = home + QStringLiteral("/alsa-out.raw");
    QFile config(home + QStringLiteral("/.asoundrc"));
    ASSERT_TRUE(config.open(QIODevice::WriteOnly));
    config.write("pcm.!default {\n  type file\n  slave.pcm \"null\"\n  file \"" + raw.toUtf8() +
                 "\"\n  format \"raw\"\n}\n");
    config.close();

    const Pcm stereo16{2, 11025, 16};
    const auto data = NoiseBytes(5512 * 4, 11);  // half a second of whole frames
    const std::string input = WriteWave("alsa-in.wav", 1, stereo16, data);

    QProcess lybtool;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LYRABELL_AUDIO"), QStringLiteral("alsa"));
    lybtool.setProcessEnvironment(env);
    lybtool.start(QStringLiteral(LYB_BINARY_DIR "/bin/lybtool"),
                  {QStringLiteral("play"), QString::fromStdString(input)});
    ASSERT_TRUE(lybtool.waitForFinished(60000));
    EXPECT_EQ(lybtool.exitCode(), 0) << lybtool.readAllStandardError().toStdString();
    const auto played = ReadAll(raw.toStdString());
    ASSERT_EQ(played.size(), data.size());
    EXPECT_TRUE(played == data) << "ALSA was handed other bytes than the file holds";
}
