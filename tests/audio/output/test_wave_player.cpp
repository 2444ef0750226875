#include "audio/output/wave_player.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <set>
#include <thread>

#include "tests/platform/waveout/wave_files.h"

using lyb::audio::CWaveIOException;
using lyb::audio::CWavePlayer;
using namespace lyb::testing;

namespace {

// Every device in this program is the capture device.
const std::string kCapture = TempPath("player-capture.wav");
const bool kChosen = [] {
    return setenv("LYRABELL_AUDIO", ("capture:" + kCapture).c_str(), 1) == 0;
}();

const Pcm k8k16Mono{1, 8000, 16};

bool WaitEnded(CWavePlayer& p) {
    return WaitFor([&] { return p.Ended(); });
}

// Stops the player (which closes the device and completes the capture) and
// returns what was played.
std::vector<uint8_t> StopAndCapture(CWavePlayer& p) {
    p.Stop();
    return ReadCapture(kCapture).data;
}

// Splits captured ramp samples into runs of consecutive values.
struct Run {
    uint32_t first, last;
};
std::vector<Run> Runs(const std::vector<uint8_t>& bytes) {
    std::vector<Run> runs;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        const uint32_t v = bytes[i] | (bytes[i + 1] << 8);
        if (runs.empty() || v != runs.back().last + 1) {
            runs.push_back({v, v});
        } else {
            runs.back().last = v;
        }
    }
    return runs;
}

std::string ErrorOf(const std::string& path) {
    try {
        CWavePlayer p(path);
    } catch (const CWaveIOException& e) {
        return e.what();
    }
    return "";
}

}  // namespace

TEST(CWaveIOException, MessagesByCode) {
    const char* expected[] = {"No error.",
                              "Cannot open file.",
                              "Cannot create file.",
                              "Cannot open sound device.",
                              "Cannot read wav header.",
                              "Unsupported sound format.",
                              "Unknown error."};
    for (int code = 0; code <= 6; ++code) {
        CWaveIOException e(code);
        EXPECT_STREQ(e.what(), expected[code]);
        char buffer[64];
        EXPECT_TRUE(e.GetErrorMessage(buffer, sizeof buffer));
        EXPECT_STREQ(buffer, expected[code]);
    }
    EXPECT_STREQ(CWaveIOException(-1).what(), "Unknown error.");
}

TEST(CWavePlayer, ConstructionRefusesWhatItCannotPlay) {
    const std::string garbage = TempPath("garbage.wav");
    {
        std::ofstream out(garbage, std::ios::binary);
        out << "RIFF\x10\0\0\0WAVE not a fmt chunk";
    }
    const std::vector<uint8_t> some(100, 0x80);
    EXPECT_EQ(ErrorOf(TempPath("missing.wav")), "Cannot open file.");
    EXPECT_EQ(ErrorOf(garbage), "Cannot read wav header.");
    EXPECT_EQ(ErrorOf(WriteWave("900.wav", 1, {1, 900, 8}, some)), "Unsupported sound format.");
    EXPECT_EQ(ErrorOf(WriteWave("tag2.wav", 2, {1, 8000, 4}, some)), "Unsupported sound format.");
    EXPECT_EQ(ErrorOf(WriteWave("12bit.wav", 1, {1, 8000, 12}, some)), "Unsupported sound format.");
    EXPECT_EQ(ErrorOf(WriteWave("1000hz.wav", 1, {1, 1000, 8}, some)), "");
}

TEST(CWavePlayer, SizesFollowWholeBytesPerMillisecond) {
    struct Row {
        Pcm f;
        uint32_t dataSize, bytesPerMs, bufferSize, duration;
    } rows[] = {
        {{1, 8000, 16}, 32000, 16, 3200, 2000},
        {{1, 11025, 16}, 441000, 22, 4400, 20045},
        {{2, 44100, 16}, 176400, 176, 35200, 1002},
        {{1, 8000, 8}, 7999, 8, 1600, 999},
    };
    for (const auto& row : rows) {
        CWavePlayer p(WriteWave("sizes.wav", 1, row.f, {}, row.dataSize));
        EXPECT_EQ(p.BytesPerMillisecond(), row.bytesPerMs);
        EXPECT_EQ(p.BufferSize(), row.bufferSize);
        EXPECT_EQ(p.Duration(), row.duration);
        EXPECT_EQ(p.State(), CWavePlayer::kStopped);
    }
}

TEST(CWavePlayer, PlaysTheFileBitForBitInEveryLayout) {
    uint32_t seed = 1;
    for (uint16_t bits : {8, 16}) {
        for (uint16_t channels : {1, 2}) {
            for (uint32_t rate : {8000u, 11025u, 44100u}) {
                const Pcm f{channels, rate, bits};
                SCOPED_TRACE(testing::Message() << rate << " Hz " << bits << " bit " << channels);
                // A quarter second and a few frames: the last buffer is short.
                const auto data = NoiseBytes((rate / 4 + 3) * f.frameBytes(), seed++);
                CWavePlayer p(WriteWave("layout.wav", 1, f, data));
                p.Play();
                ASSERT_TRUE(WaitEnded(p));
                EXPECT_EQ(StopAndCapture(p), data);
            }
        }
    }
}

TEST(CWavePlayer, PlaysAGrowingFileToItsEndWithNothingLostOrRepeated) {
    const auto data = RampBytes(12000);  // 1.5 s
    const std::string path = WriteWave("growing.wav", 1, k8k16Mono, {}, data.size());
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND);
    ASSERT_GE(fd, 0);
    // Slower than real time (16000 bytes/s), in pieces that split samples.
    auto appendSome = [&](size_t& at, size_t n) {
        n = std::min(n, data.size() - at);
        ASSERT_EQ(::write(fd, data.data() + at, n), ssize_t(n));
        at += n;
    };
    size_t at = 0;
    appendSome(at, 4001);
    CWavePlayer p(path);
    p.Play();
    std::thread appender([&] {
        while (at < data.size()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(80));
            appendSome(at, 999);
        }
    });
    appender.join();
    ::close(fd);
    ASSERT_TRUE(WaitEnded(p));
    EXPECT_EQ(StopAndCapture(p), data);
}

TEST(CWavePlayer, PauseHoldsPlaybackAndResumeLosesNothing) {
    const auto data = RampBytes(8000);  // 1 s
    CWavePlayer p(WriteWave("pause.wav", 1, k8k16Mono, data));
    p.Play();
    p.Play();  // playing already: no effect
    p.Resume();
    ASSERT_TRUE(WaitFor([&] { return p.Position() >= 200; }));
    p.Pause();
    p.Pause();
    EXPECT_EQ(p.State(), CWavePlayer::kPaused);
    // Once paused the device plays nothing more: the capture stops growing.
    const size_t held = ReadAll(kCapture).size();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(ReadAll(kCapture).size(), held);
    EXPECT_LT(held, 44 + data.size());
    EXPECT_FALSE(p.Ended());
    p.Resume();
    EXPECT_EQ(p.State(), CWavePlayer::kPlaying);
    ASSERT_TRUE(WaitEnded(p));
    EXPECT_EQ(StopAndCapture(p), data);
    EXPECT_EQ(p.State(), CWavePlayer::kStopped);
    EXPECT_EQ(p.Position(), 0u);
}

TEST(CWavePlayer, PositionGrowsInWholeBuffers) {
    const auto data = RampBytes(8000);  // five 200 ms buffers
    CWavePlayer p(WriteWave("steps.wav", 1, k8k16Mono, data));
    std::set<uint32_t> seen;
    p.Play();
    ASSERT_TRUE(WaitFor([&] {
        seen.insert(p.Position());
        return p.Ended();
    }));
    seen.insert(p.Position());
    for (uint32_t ms : seen)
        EXPECT_EQ(ms % 200, 0u) << ms;
    EXPECT_GE(seen.size(), 4u);
    EXPECT_EQ(*seen.rbegin(), 1000u);
}

TEST(CWavePlayer, SeekWhilePlayingJumpsAndKeepsPlaying) {
    const auto data = RampBytes(16000);  // 2 s
    CWavePlayer p(WriteWave("seek.wav", 1, k8k16Mono, data));
    p.Play();
    ASSERT_TRUE(WaitFor([&] { return p.Position() >= 200; }));
    ASSERT_TRUE(p.Seek(1000));
    EXPECT_EQ(p.State(), CWavePlayer::kPlaying);
    EXPECT_GE(p.Position(), 1000u);
    ASSERT_TRUE(WaitEnded(p));
    EXPECT_EQ(p.Position(), 2000u);
    const auto runs = Runs(StopAndCapture(p));
    // From the start for a while, then from the seek's target to the end.
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[0].first, 0u);
    EXPECT_EQ(runs[1].first, 8000u);
    EXPECT_EQ(runs[1].last, 15999u);
}

TEST(CWavePlayer, SeekWhilePausedStaysPaused) {
    const auto data = RampBytes(16000);
    CWavePlayer p(WriteWave("seekpaused.wav", 1, k8k16Mono, data));
    p.Play();
    ASSERT_TRUE(WaitFor([&] { return p.Position() >= 200; }));
    p.Pause();
    ASSERT_TRUE(p.Seek(1500));
    EXPECT_EQ(p.State(), CWavePlayer::kPaused);
    EXPECT_EQ(p.Position(), 1500u);
    p.Resume();
    ASSERT_TRUE(WaitEnded(p));
    const auto runs = Runs(StopAndCapture(p));
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[1].first, 12000u);
    EXPECT_EQ(runs[1].last, 15999u);
}

TEST(CWavePlayer, SeekAtOrBeyondTheEndChangesNothing) {
    const auto data = RampBytes(8000);
    CWavePlayer p(WriteWave("seekend.wav", 1, k8k16Mono, data));
    p.Play();
    for (int paused = 0; paused < 2; ++paused) {
        if (paused)
            p.Pause();
        const int state = p.State();
        EXPECT_FALSE(p.Seek(1000));
        EXPECT_FALSE(p.Seek(60000));
        EXPECT_EQ(p.State(), state);
    }
    p.Resume();
    ASSERT_TRUE(WaitEnded(p));
    EXPECT_EQ(StopAndCapture(p), data);
}

TEST(CWavePlayer, SeekBeyondWhatIsWrittenSoFarFails) {
    // The header announces 2 s; half a second is there yet.
    const auto data = RampBytes(4000);
    CWavePlayer p(WriteWave("partial.wav", 1, k8k16Mono, data, 32000));
    EXPECT_EQ(p.Duration(), 2000u);
    p.Play();
    EXPECT_FALSE(p.Seek(1500));
    EXPECT_TRUE(p.Seek(250));
    EXPECT_EQ(p.State(), CWavePlayer::kPlaying);
}

TEST(CWavePlayer, ShortFileEndsOnlyOnceTheSourceIsComplete) {
    const auto data = RampBytes(4000);  // 0.5 s of 2 s announced
    for (auto source : {CWavePlayer::Source::kWhole, CWavePlayer::Source::kGrowing}) {
        CWavePlayer p(WriteWave("short.wav", 1, k8k16Mono, data, 32000), source);
        p.Play();
        ASSERT_TRUE(WaitFor([&] { return p.Position() >= 500; }));
        // Everything is played, but the file may still grow.
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        EXPECT_FALSE(p.Ended());
        p.set_source_complete();
        ASSERT_TRUE(WaitEnded(p));
        EXPECT_EQ(p.Position(), 500u);
        EXPECT_EQ(StopAndCapture(p), data);
    }
}

TEST(CWavePlayer, PlaysAgainFromTheStartAfterStop) {
    const auto data = RampBytes(6400);
    CWavePlayer p(WriteWave("again.wav", 1, k8k16Mono, data));
    p.Play();
    ASSERT_TRUE(WaitFor([&] { return p.Position() >= 200; }));
    p.Stop();
    p.Stop();
    p.Play();
    EXPECT_FALSE(p.Ended());
    ASSERT_TRUE(WaitEnded(p));
    EXPECT_EQ(p.Position(), 800u);
    EXPECT_EQ(StopAndCapture(p), data);
}

TEST(CWavePlayer, FastRateEndsExactlyInLessTimeAtTheSamePitch) {
    const Pcm f{1, 11025, 16};
    const auto data = ToneBytes(f, 300, 1.6);
    CWavePlayer p(WriteWave("fast.wav", 1, f, data));
    EXPECT_EQ(p.RateMode(), CWavePlayer::kRateNormal);
    EXPECT_NE(p.SetRateMode(CWavePlayer::kRateFast), 0u);  // no device while stopped
    p.Play();
    EXPECT_EQ(p.SetRateMode(CWavePlayer::kRateFast), 0u);
    EXPECT_EQ(p.RateMode(), CWavePlayer::kRateFast);
    ASSERT_TRUE(WaitEnded(p));
    EXPECT_EQ(p.Position(), p.Duration());
    EXPECT_EQ(p.SetRateMode(CWavePlayer::kRateNormal), 0u);
    EXPECT_EQ(p.RateMode(), CWavePlayer::kRateNormal);
    p.Stop();
    const Captured c = ReadCapture(kCapture);
    const double ratio = double(data.size()) / double(c.data.size());
    EXPECT_NEAR(ratio, 1.417, 0.03 * 1.417);
    EXPECT_NEAR(DominantFrequency(c), 300.0, 300.0 * 0.02);
}

TEST(CWavePlayer, TellsItsListenerEachStepAndTheEndOnce) {
    const auto data = RampBytes(8000);  // five 200 ms buffers
    struct Row {
        uint32_t step;
        std::vector<uint32_t> told;
    } rows[] = {
        {200, {0, 200, 400, 600, 800, 1000}},
        {300, {0, 400, 600, 1000}},
        {1000, {0, 1000}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.step);
        CWavePlayer p(WriteWave("listener.wav", 1, k8k16Mono, data));
        std::vector<uint32_t> told;
        int ends = 0;
        bool ownerThread = false;
        const auto owner = std::this_thread::get_id();
        ASSERT_TRUE(p.SetListener({[&](uint32_t ms) {
                                       told.push_back(ms);
                                       ownerThread |= std::this_thread::get_id() == owner;
                                   },
                                   [&] { ++ends; }},
                                  row.step));
        p.Play();
        EXPECT_FALSE(p.SetListener({}, 1));
        ASSERT_TRUE(WaitEnded(p));
        // Nothing more is told after the end, which is told once.
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        p.Stop();
        EXPECT_EQ(told, row.told);
        EXPECT_EQ(ends, 1);
        EXPECT_FALSE(ownerThread);
    }
}
