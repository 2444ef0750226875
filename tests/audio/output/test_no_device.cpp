#include <gtest/gtest.h>

#include <cstdlib>

#include "audio/output/wave_player.h"
#include "tests/platform/waveout/wave_files.h"

using lyb::audio::CWaveIOException;
using lyb::audio::CWavePlayer;

// This program runs with no sound device at all.
TEST(CWavePlayer, PlayFailsWithoutASoundDevice) {
    ASSERT_EQ(setenv("LYRABELL_AUDIO", "none", 1), 0);
    const std::vector<uint8_t> data(3200, 0);
    CWavePlayer p(lyb::testing::WriteWave("nodevice.wav", 1, {1, 8000, 16}, data));
    try {
        p.Play();
        FAIL() << "Play should throw";
    } catch (const CWaveIOException& e) {
        EXPECT_EQ(e.code(), CWaveIOException::kCannotOpenDevice);
        EXPECT_STREQ(e.what(), "Cannot open sound device.");
    }
    EXPECT_EQ(p.State(), CWavePlayer::kStopped);
    EXPECT_EQ(p.RateMode(), CWavePlayer::kRateNormal);
}
