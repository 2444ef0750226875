// The main window's playback engine on the real decoder and player, playing to
// the capture device.
#include "app/engine_playback.h"

#include "app/main_dialog.h"
#include "app/settings.h"
#include "app/voicemail_app.h"

#include "audio/decode/wave_decoder.h"
#include "platform/mapi/mapi_stream.h"
#include "tests/platform/waveout/wave_files.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>

using namespace lyb;
using namespace lyb::testing;

namespace {

const std::string& capturePath() {
    static const std::string path = [] {
        const std::string p = TempPath("engine-capture.wav");
        // The device is chosen once, at its first use in this process.
        setenv("LYRABELL_AUDIO", ("capture:" + p).c_str(), 1);
        return p;
    }();
    return path;
}

QString outputPath() {
    return QString::fromStdString(TempPath("lybtemp.wav"));
}

// A stream whose reads past the wave header wait until the test opens the
// gate, so its decoder is still running for as long as the test needs.
class GatedStream final : public mapi::IStream {
public:
    explicit GatedStream(std::vector<uint8_t> bytes) : inner_(new mapi::CMemoryStream(bytes)) {}
    void open() {
        std::lock_guard lock(m_);
        open_ = true;
        cv_.notify_all();
    }
    mapi::HRESULT Read(void* b, uint32_t n, uint32_t* got) override {
        std::unique_lock lock(m_);
        if (position_ >= 44)
            cv_.wait(lock, [&] { return open_; });
        uint32_t n_read = 0;
        const mapi::HRESULT hr = inner_->Read(b, n, &n_read);
        position_ += n_read;
        if (got)
            *got = n_read;
        return hr;
    }
    mapi::HRESULT Seek(int64_t m, uint32_t o, uint64_t* p) override {
        std::lock_guard lock(m_);
        uint64_t at = position_;
        const mapi::HRESULT hr = inner_->Seek(m, o, &at);
        position_ = at;
        if (p)
            *p = at;
        return hr;
    }
    mapi::HRESULT Stat(mapi::STATSTG* s, uint32_t f) override { return inner_->Stat(s, f); }

private:
    ~GatedStream() override { inner_->Release(); }
    mapi::CMemoryStream* inner_;
    std::mutex m_;
    std::condition_variable cv_;
    bool open_ = false;
    uint64_t position_ = 0;
};

}  // namespace

TEST(EnginePlayback, PlaysADecodedFileToItsEndBitForBit) {
    const std::string capture = capturePath();
    const Pcm mono16{1, 8000, 16};
    const auto data = NoiseBytes(8000, 7);  // half a second
    const std::string input = WriteWave("engine-in.wav", 1, mono16, data);

    int ended = 0;
    {
        app::CEnginePlayback engine([&] { ++ended; }, {});
        QString error;
        ASSERT_TRUE(engine.startDecoding({QString::fromStdString(input)}, outputPath(), &error));
        EXPECT_TRUE(QTest::qWaitFor([&] { return !engine.decoding(); }, 10000));
        ASSERT_TRUE(engine.startPlayer(outputPath()));
        EXPECT_TRUE(QTest::qWaitFor([&] { return ended > 0; }, 20000));
        engine.discard();
    }
    EXPECT_EQ(ended, 1);
    EXPECT_EQ(ReadCapture(capture).data, data);
}

// The window's engine tells when the decoder has a first block to play, then
// the player's position at each step it crosses and its end once: nothing polls.
TEST(EnginePlayback, TellsTheFirstBlockThePositionsAndTheEnd) {
    capturePath();
    const std::string input =
        WriteWave("engine-told.wav", 1, Pcm{1, 8000, 16}, NoiseBytes(16000, 3));  // a second
    app::CEnginePlayback engine({}, {});
    int firstBlocks = 0;
    std::vector<uint32_t> positions;
    int ended = 0;
    ASSERT_TRUE(engine.setFirstBlockListener([&] { ++firstBlocks; }));
    ASSERT_TRUE(engine.setPositionListener([&](uint32_t ms) { positions.push_back(ms); },
                                           [&] { ++ended; }, 250));
    ASSERT_TRUE(engine.startDecoding({QString::fromStdString(input)}, outputPath(), nullptr));
    EXPECT_TRUE(QTest::qWaitFor([&] { return firstBlocks > 0; }, 10000));
    ASSERT_TRUE(engine.startPlayer(outputPath()));
    EXPECT_TRUE(QTest::qWaitFor([&] { return ended > 0; }, 20000));
    QTest::qWait(0);
    EXPECT_EQ(ended, 1);
    EXPECT_GE(positions.size(), 4u);  // at the start and at each quarter second crossed
    EXPECT_TRUE(std::is_sorted(positions.begin(), positions.end()));
    engine.discard();
}

TEST(EnginePlayback, AnnouncedButMissingAudioStillEnds) {
    capturePath();
    // The header announces two seconds, the file holds a quarter of one.
    const std::string input =
        WriteWave("engine-short.wav", 1, Pcm{1, 8000, 16}, NoiseBytes(4000, 3), 32000);
    bool ended = false;
    app::CEnginePlayback engine([&] { ended = true; }, {});
    ASSERT_TRUE(engine.startDecoding({QString::fromStdString(input)}, outputPath(), nullptr));
    // The head start: the player opens the file once its header is there.
    EXPECT_TRUE(QTest::qWaitFor([&] { return QFileInfo(outputPath()).size() >= 44; }, 10000));
    ASSERT_TRUE(engine.startPlayer(outputPath()));
    EXPECT_TRUE(QTest::qWaitFor([&] { return ended; }, 20000));
}

TEST(EnginePlayback, RefusalsReachTheCaller) {
    capturePath();
    app::CEnginePlayback engine({}, {});
    QString error;
    const std::string junk = TempPath("engine-junk.wav");
    std::ofstream(junk) << "not a wave file at all";
    EXPECT_FALSE(engine.startDecoding({QString::fromStdString(junk)}, outputPath(), &error));
    // A file that is not a recording is named, with what is wrong.
    EXPECT_EQ(error, QStringLiteral("Lyrabell cannot play \"engine-junk.wav\".\n\n") +
                         QString::fromLatin1(audio::kInvalidHeaderText));

    // A file that cannot be opened is named with the reason.
    error.clear();
    EXPECT_FALSE(
        engine.startDecoding({QStringLiteral("/nonexistent/x.wav")}, outputPath(), &error));
    EXPECT_EQ(error, QStringLiteral("Unable to open the file \"/nonexistent/x.wav\".\n\n"
                                    "No such file or directory"));

    // The temporary output failing is not the user's file: no message.
    error.clear();
    const std::string good = WriteWave("engine-good.wav", 1, Pcm{1, 8000, 16}, NoiseBytes(160, 5));
    EXPECT_FALSE(engine.startDecoding({QString::fromStdString(good)},
                                      QStringLiteral("/nonexistent/out.wav"), &error));
    EXPECT_TRUE(error.isEmpty()) << error.toStdString();
}

TEST(EnginePlayback, DecodingThreadRefusalIsShownThroughTheErrorCallback) {
    capturePath();
    // OKI ADPCM, 4 bits at 11025 Hz: a bit rate the decoder refuses.
    const std::string input = WriteWave("engine-oki.wav", 16, Pcm{1, 11025, 4}, NoiseBytes(512, 1));
    QStringList errors;
    app::CEnginePlayback engine({}, [&](const QString& text) { errors << text; });
    ASSERT_TRUE(engine.startDecoding({QString::fromStdString(input)}, outputPath(), nullptr));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !engine.decoding(); }, 10000));
    EXPECT_EQ(errors, QStringList{QStringLiteral("Lyrabell cannot play \"engine-oki.wav\".\n\n") +
                                  QString::fromLatin1(audio::kOkiUnsupportedText)});
}

// The program's window shows that refusal in a box of its own, inside its
// modal scope: a request handed over meanwhile waits until the box is closed.
TEST(EnginePlayback, DecodingThreadRefusalBoxKeepsTheProgramWindowBusy) {
    capturePath();
    const std::string input = WriteWave("window-oki.wav", 16, Pcm{1, 11025, 4}, NoiseBytes(512, 1));
    app::CMainDialog window(nullptr, 0);
    app::setUpMainWindow(window);
    window.setHeadStart(0);
    window.setSettingsRunner([](QWidget*, QString*) { return app::IDCANCEL; });
    settings::setTips(1);
    window.initialise();
    std::vector<bool> busyInBox;
    app::setMessageBoxHandler([&](QWidget*, const QString&, app::MessageIcon, app::MessageButtons) {
        busyInBox.push_back(window.busy());
        return app::IDOK;
    });
    window.dispatch(QString::fromStdString(input));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !busyInBox.empty(); }, 10000));
    EXPECT_EQ(busyInBox, std::vector<bool>{true});
    app::setMessageBoxHandler({});
}

TEST(EnginePlayback, LateNoticeOfAReplacedDecoderLeavesTheNewOneRunning) {
    capturePath();
    const std::string first =
        WriteWave("engine-first.wav", 1, Pcm{1, 8000, 16}, NoiseBytes(160, 2));
    app::CEnginePlayback engine({}, {});
    ASSERT_TRUE(engine.startDecoding({QString::fromStdString(first)}, outputPath(), nullptr));
    // Let the first decoder finish and post its notice, without handling it yet.
    QTest::qSleep(300);

    const Pcm mono16{1, 8000, 16};
    std::vector<uint8_t> wave = WaveHeaderBytes(1, mono16, 1600);
    const auto audio = NoiseBytes(1600, 4);
    wave.insert(wave.end(), audio.begin(), audio.end());
    auto* stream = new GatedStream(wave);
    ASSERT_TRUE(engine.startDecoding({QString(), stream, false}, outputPath(), nullptr));
    // Should the stale notice destroy the new decoder, its join would wait on
    // the gate; this opens it in time for the test to fail instead of hang.
    std::thread rescue([stream] {
        std::this_thread::sleep_for(std::chrono::seconds(5));
        stream->open();
    });
    QCoreApplication::processEvents();  // the first decoder's notice arrives now
    EXPECT_TRUE(engine.decoding());
    stream->open();
    rescue.join();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !engine.decoding(); }, 10000));
    stream->Release();
}
