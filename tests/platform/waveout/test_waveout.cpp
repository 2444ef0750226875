#include "platform/waveout/waveout.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <vector>

#include "tests/platform/waveout/wave_files.h"

using namespace lyb::waveout;
using namespace lyb::testing;

namespace {

// Every device in this program is the capture device; the choice is made at
// the first waveOut call.
const std::string kCapture = TempPath("waveout-capture.wav");
const bool kChosen = [] {
    return setenv("LYRABELL_AUDIO", ("capture:" + kCapture).c_str(), 1) == 0;
}();

struct Returns {
    std::mutex mutex;
    std::vector<WAVEHDR*> order;
    size_t size() {
        std::lock_guard lock(mutex);
        return order.size();
    }
};

void OnDone(HWAVEOUT, uint32_t message, void* instance, WAVEHDR* h) {
    if (message != WOM_DONE)
        return;
    auto* r = static_cast<Returns*>(instance);
    std::lock_guard lock(r->mutex);
    r->order.push_back(h);
}

WAVEFORMATEX Format(const Pcm& f) {
    WAVEFORMATEX w;
    w.nChannels = f.channels;
    w.nSamplesPerSec = f.rate;
    w.wBitsPerSample = f.bits;
    w.nBlockAlign = static_cast<uint16_t>(f.frameBytes());
    w.nAvgBytesPerSec = f.rate * f.frameBytes();
    return w;
}

// Plays data cut into buffers of the given lengths; returns the capture file.
Captured PlayInPieces(const Pcm& f, std::vector<uint8_t> data, const std::vector<uint32_t>& cuts,
                      uint32_t rate = kRateNormal, std::vector<WAVEHDR*>* order = nullptr) {
    Returns returns;
    HWAVEOUT dev = nullptr;
    EXPECT_EQ(waveOutOpen(&dev, 0, Format(f), OnDone, &returns), MMSYSERR_NOERROR);
    if (!dev)
        return {};
    EXPECT_EQ(waveOutSetPlaybackRate(dev, rate), MMSYSERR_NOERROR);
    std::vector<WAVEHDR> headers(cuts.size());
    size_t at = 0;
    for (size_t i = 0; i < cuts.size(); ++i) {
        headers[i].lpData = reinterpret_cast<char*>(data.data() + at);
        headers[i].dwBufferLength = cuts[i];
        at += cuts[i];
        EXPECT_EQ(waveOutPrepareHeader(dev, &headers[i]), MMSYSERR_NOERROR);
        EXPECT_EQ(waveOutWrite(dev, &headers[i]), MMSYSERR_NOERROR);
    }
    EXPECT_TRUE(WaitFor([&] { return returns.size() == cuts.size(); }));
    for (auto& h : headers) {
        EXPECT_EQ(h.dwFlags & (WHDR_DONE | WHDR_INQUEUE), WHDR_DONE);
        EXPECT_EQ(waveOutUnprepareHeader(dev, &h), MMSYSERR_NOERROR);
    }
    EXPECT_EQ(waveOutClose(dev), MMSYSERR_NOERROR);
    if (order) {
        std::lock_guard lock(returns.mutex);
        *order = returns.order;
    }
    return ReadCapture(kCapture);
}

}  // namespace

TEST(DeviceChoice, ParsesEachKindAndRefusesUnknownText) {
    struct Row {
        const char* text;
        DeviceKind kind;
        bool recognised;
        const char* path;
    } rows[] = {
        {"", DeviceKind::Default, true, ""},
        {"alsa", DeviceKind::Alsa, true, ""},
        {"null", DeviceKind::Null, true, ""},
        {"none", DeviceKind::None, true, ""},
        {"capture:/tmp/x.wav", DeviceKind::Capture, true, "/tmp/x.wav"},
        {"capture:", DeviceKind::Default, false, ""},
        {"ALSA", DeviceKind::Default, false, ""},
        {"pulse", DeviceKind::Default, false, ""},
    };
    for (const auto& row : rows) {
        const DeviceChoice c = ParseDeviceChoice(row.text);
        EXPECT_EQ(c.kind, row.kind) << row.text;
        EXPECT_EQ(c.recognised, row.recognised) << row.text;
        EXPECT_EQ(c.capturePath, row.path) << row.text;
    }
    EXPECT_EQ(ChosenDevice().kind, DeviceKind::Capture);
    EXPECT_EQ(waveOutGetNumDevs(), 1u);
}

TEST(WaveOut, OpenRefusesFormatsItCannotPlay) {
    Returns r;
    HWAVEOUT dev = nullptr;
    WAVEFORMATEX twelveBit = Format({1, 8000, 16});
    twelveBit.wBitsPerSample = 12;
    WAVEFORMATEX noChannels = Format({1, 8000, 16});
    noChannels.nChannels = 0;
    WAVEFORMATEX wrongAlign = Format({2, 8000, 16});
    wrongAlign.nBlockAlign = 2;
    WAVEFORMATEX adpcm = Format({1, 8000, 16});
    adpcm.wFormatTag = 2;
    for (const auto& f : {twelveBit, noChannels, wrongAlign, adpcm}) {
        EXPECT_EQ(waveOutOpen(&dev, 0, f, OnDone, &r), WAVERR_BADFORMAT);
        EXPECT_EQ(dev, nullptr);
    }
    EXPECT_EQ(waveOutOpen(&dev, 1, Format({1, 8000, 16}), OnDone, &r), MMSYSERR_BADDEVICEID);
}

TEST(WaveOut, ReturnsEachBufferOnceInOrderAndJoinsSplitFrames) {
    // 16-bit stereo: cuts that split frames (4 bytes) anywhere, and empty buffers.
    const Pcm f{2, 8000, 16};
    const auto data = NoiseBytes(4000, 7);
    std::vector<WAVEHDR*> order;
    const Captured c = PlayInPieces(f, data, {1, 0, 7, 1030, 2, 0, 1999, 961}, kRateNormal, &order);
    ASSERT_EQ(order.size(), 8u);
    for (size_t i = 1; i < order.size(); ++i)
        EXPECT_LT(order[i - 1], order[i]);
    EXPECT_EQ(c.announced, data.size());
    EXPECT_EQ(c.data, data);
}

TEST(WaveOut, ResetReturnsEveryHeldBufferBeforeItReturns) {
    const Pcm f{1, 8000, 16};
    auto data = NoiseBytes(3 * 3200, 3);
    Returns r;
    HWAVEOUT dev = nullptr;
    ASSERT_EQ(waveOutOpen(&dev, 0, Format(f), OnDone, &r), MMSYSERR_NOERROR);
    ASSERT_EQ(waveOutPause(dev), MMSYSERR_NOERROR);
    WAVEHDR h[3];
    for (int i = 0; i < 3; ++i) {
        h[i].lpData = reinterpret_cast<char*>(data.data() + i * 3200);
        h[i].dwBufferLength = 3200;
        EXPECT_EQ(waveOutWrite(dev, &h[i]), WAVERR_UNPREPARED);
        waveOutPrepareHeader(dev, &h[i]);
        ASSERT_EQ(waveOutWrite(dev, &h[i]), MMSYSERR_NOERROR);
    }
    EXPECT_EQ(waveOutWrite(dev, &h[0]), WAVERR_STILLPLAYING);
    EXPECT_EQ(waveOutUnprepareHeader(dev, &h[0]), WAVERR_STILLPLAYING);
    EXPECT_EQ(r.size(), 0u);  // paused: nothing plays
    ASSERT_EQ(waveOutReset(dev), MMSYSERR_NOERROR);
    ASSERT_EQ(r.size(), 3u);
    EXPECT_EQ(r.order[0], &h[0]);
    EXPECT_EQ(r.order[2], &h[2]);
    // Still paused after the reset: a new buffer waits for the restart.
    ASSERT_EQ(waveOutWrite(dev, &h[0]), MMSYSERR_NOERROR);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(r.size(), 3u);
    ASSERT_EQ(waveOutRestart(dev), MMSYSERR_NOERROR);
    EXPECT_TRUE(WaitFor([&] { return r.size() == 4; }));
    EXPECT_EQ(waveOutClose(dev), MMSYSERR_NOERROR);
    // Nothing reached the capture before the restart.
    const Captured c = ReadCapture(kCapture);
    EXPECT_EQ(c.data, std::vector<uint8_t>(data.begin(), data.begin() + 3200));
}

TEST(WaveOut, PlaybackRateAcceptsOnlyItsRange) {
    Returns r;
    HWAVEOUT dev = nullptr;
    ASSERT_EQ(waveOutOpen(&dev, 0, Format({1, 8000, 16}), OnDone, &r), MMSYSERR_NOERROR);
    uint32_t rate = 0;
    EXPECT_EQ(waveOutGetPlaybackRate(dev, &rate), MMSYSERR_NOERROR);
    EXPECT_EQ(rate, kRateNormal);
    EXPECT_EQ(waveOutSetPlaybackRate(dev, 0x7FFF), MMSYSERR_INVALPARAM);
    EXPECT_EQ(waveOutSetPlaybackRate(dev, 0x40001), MMSYSERR_INVALPARAM);
    EXPECT_EQ(waveOutSetPlaybackRate(dev, 0x16AAA), MMSYSERR_NOERROR);
    EXPECT_EQ(waveOutGetPlaybackRate(dev, &rate), MMSYSERR_NOERROR);
    EXPECT_EQ(rate, 0x16AAAu);
    waveOutClose(dev);
    ASSERT_EQ(waveOutOpen(&dev, 0, Format({1, 8000, 24}), OnDone, &r), MMSYSERR_NOERROR);
    EXPECT_EQ(waveOutSetPlaybackRate(dev, 0x16AAA), MMSYSERR_NOTSUPPORTED);
    EXPECT_EQ(waveOutSetPlaybackRate(dev, kRateNormal), MMSYSERR_NOERROR);
    waveOutClose(dev);
}

TEST(WaveOut, FastRateShortensPlayingTimeAndKeepsPitch) {
    for (const Pcm f : {Pcm{1, 8000, 16}, Pcm{2, 11025, 8}}) {
        SCOPED_TRACE(testing::Message() << f.channels << " ch " << f.bits << " bit");
        const auto data = ToneBytes(f, 440, 1.2);
        const uint32_t piece = 200 * f.rate / 1000 * f.frameBytes();
        std::vector<uint32_t> cuts;
        for (size_t left = data.size(); left; left -= std::min<size_t>(left, piece)) {
            cuts.push_back(static_cast<uint32_t>(std::min<size_t>(left, piece)));
        }
        const Captured c = PlayInPieces(f, data, cuts, 0x16AAA);
        const double ratio = double(data.size()) / double(c.data.size());
        EXPECT_NEAR(ratio, 92842.0 / 65536.0, 0.03 * 92842.0 / 65536.0);
        EXPECT_NEAR(DominantFrequency(c), 440.0, 440.0 * 0.02);
    }
}
