// The player started on the decoding job's first-block notice, while the job
// still writes: everything the job writes is played, nothing early ends it.
#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <mutex>

#include "audio/decode/wave_decoder.h"
#include "audio/output/wave_player.h"
#include "platform/mapi/mapi_stream.h"
#include "tests/audio/decode/wave_bytes.h"
#include "tests/platform/waveout/wave_files.h"

using namespace lyb::audio;
using lyb::audio::test::Pattern;
using lyb::audio::test::WaveBytes;
using lyb::testing::ReadAll;
using lyb::testing::ReadCapture;
using lyb::testing::TempPath;

namespace {

const std::string kCapture = TempPath("decode-and-play-capture.wav");
const bool kChosen = [] {
    return setenv("LYRABELL_AUDIO", ("capture:" + kCapture).c_str(), 1) == 0;
}();

// A recording that arrives slower than it plays: every read from its data on
// takes 80 ms, for at most 64 ms of sound, so the player catches up with the
// job again and again.
class SlowStream final : public lyb::mapi::CBufferStream {
public:
    SlowStream(std::vector<uint8_t> bytes, uint64_t dataStart)
        : bytes_(std::move(bytes)), dataStart_(dataStart) {}

protected:
    const uint8_t* bytes() const override { return bytes_.data(); }
    uint64_t size() const override { return bytes_.size(); }
    uint64_t extent(uint64_t end) override {
        if (end > dataStart_)
            std::this_thread::sleep_for(std::chrono::milliseconds(80));
        return std::min<uint64_t>(end, bytes_.size());
    }

private:
    std::vector<uint8_t> bytes_;
    uint64_t dataStart_;
};

class Notices : public IDecodeNotifier {
public:
    void post(uint32_t message, const std::string&) override {
        std::lock_guard lock(mutex_);
        seen_.push_back(message);
        changed_.notify_all();
    }
    void waitFor(uint32_t message) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return std::count(seen_.begin(), seen_.end(), message) > 0; });
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<uint32_t> seen_;
};

}  // namespace

TEST(DecodeAndPlay, PlaysAllTheJobWritesFromItsFirstBlockOn) {
    struct Case {
        const char* name;
        std::vector<uint8_t> input;
    } cases[] = {
        {"PCM, 1.5 s arriving slowly", WaveBytes().header(1, 1, 8000, 2, 16).data(Pattern(24000))},
        // The header announces whole blocks only; the partial last one comes
        // after the announced size is played, and is played too.
        {"Microsoft ADPCM, more than announced",
         WaveBytes().header(2, 1, 8000, 256, 4).data(Pattern(16 * 256 + 100))},
        {"shorter than the first block", WaveBytes().header(1, 1, 8000, 2, 16).data(Pattern(1000))},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string out = TempPath("decode-and-play.wav");
        Notices notices;
        CWaveDecoder job(new SlowStream(c.input, kWaveHeaderSize), out, &notices, false);
        job.Start();
        notices.waitFor(WM_DECODING_STARTED);
        CWavePlayer player(out, CWavePlayer::Source::kGrowing);
        player.Play();
        notices.waitFor(WM_DECODING_FINISHED);
        // The job is done, but until told so the player waits for more.
        EXPECT_FALSE(player.Ended());
        player.set_source_complete();
        ASSERT_TRUE(lyb::testing::WaitFor([&] { return player.Ended(); }));
        player.Stop();
        const std::vector<uint8_t> decoded = ReadAll(out);
        ASSERT_GT(decoded.size(), kWaveHeaderSize);
        EXPECT_EQ(ReadCapture(kCapture).data,
                  std::vector<uint8_t>(decoded.begin() + kWaveHeaderSize, decoded.end()));
        EXPECT_EQ(player.Duration(), (decoded.size() - kWaveHeaderSize) / 16);
    }
}
