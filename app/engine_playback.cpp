#include "app/engine_playback.h"

#include "app/play_request.h"
#include "audio/decode/exception.h"
#include "audio/decode/wave_decoder.h"
#include "audio/output/wave_player.h"
#include "platform/desktop/file_names.h"
#include "platform/waveout/waveout.h"

#include <QCoreApplication>
#include <QEvent>
#include <QFile>
#include <QTimerEvent>

#include <atomic>
#include <cstring>

#if defined(__SANITIZE_THREAD__)
#define LYB_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define LYB_TSAN 1
#endif
#endif
#ifdef LYB_TSAN
extern "C" void __tsan_acquire(void* address);
extern "C" void __tsan_release(void* address);
#endif

namespace lyb::app {

namespace {

// Qt's event queue hands a posted event to the receiving thread under its own
// lock, which the thread sanitizer does not see; these tell it.
void handOver(void* event) {
#ifdef LYB_TSAN
    __tsan_release(event);
#else
    (void)event;
#endif
}
void takeOver(void* event) {
#ifdef LYB_TSAN
    __tsan_acquire(event);
#else
    (void)event;
#endif
}

const QEvent::Type kDecodeNoticeEvent = static_cast<QEvent::Type>(QEvent::registerEventType());
// The end of playback is looked for this often.
constexpr int kEndPollMs = 20;

struct DecodeNotice : QEvent {
    DecodeNotice(uint64_t generation, uint32_t message, QString text)
        : QEvent(kDecodeNoticeEvent),
          generation(generation),
          message(message),
          text(std::move(text)) {}
    uint64_t generation;
    uint32_t message;
    QString text;
};

QString unreadableFileText(const QString& path, const CFileException& e) {
    return QStringLiteral("Unable to open the file \"%1\".\n\n%2")
        .arg(path, QString::fromLocal8Bit(std::strerror(e.error())));
}

// A refusal of the decoder, with the file it was about when the recording
// is a file (a voicemail's recording is the one the window shows).
QString refusalText(const QString& path, const QString& refusal) {
    if (path.isEmpty())
        return refusal;
    return QStringLiteral("Lyrabell cannot play \"%1\".\n\n%2").arg(fileNameOf(path), refusal);
}

}  // namespace

// Posts the decoding thread's notices to the engine, tagged with the decoder
// they come from.
class CEnginePlayback::Notifier final : public audio::IDecodeNotifier {
public:
    explicit Notifier(QObject* target) : target_(target) {}
    void post(uint32_t message, const std::string& text) override {
        auto* notice = new DecodeNotice(generation_.load(), message, QString::fromStdString(text));
        handOver(notice);
        QCoreApplication::postEvent(target_, notice);
    }
    // Starts a new decoder's notices; returns its generation.
    uint64_t next() { return ++generation_; }
    uint64_t current() const { return generation_.load(); }

private:
    QObject* target_;
    std::atomic<uint64_t> generation_{0};
};

CEnginePlayback::CEnginePlayback(std::function<void()> onEnded,
                                 std::function<void(const QString&)> onError)
    : onEnded_(std::move(onEnded)),
      onError_(std::move(onError)),
      notifier_(std::make_unique<Notifier>(this)) {}

CEnginePlayback::~CEnginePlayback() {
    discard();
}

void CEnginePlayback::discard() {
    endTimer_.stop();
    ++playerSerial_;
    player_.reset();
    decoder_.reset();
}

bool CEnginePlayback::startDecoding(const PlaySource& source, const QString& outputPath,
                                    QString* error) {
    discard();
    notifier_->next();
    sourceComplete_ = false;
    sourcePath_ = source.stream ? QString() : source.path;
    const std::string output = outputPath.toStdString();
    try {
        if (source.stream) {
            source.stream->AddRef();  // the decoder takes this reference over
            decoder_ = std::make_unique<audio::CWaveDecoder>(source.stream, output, notifier_.get(),
                                                             source.isGsm);
        } else {
            decoder_ = std::make_unique<audio::CWaveDecoder>(
                desktop::encodeFileName(source.path).toStdString(), output, notifier_.get());
        }
    } catch (const audio::CWaveDecoderException& e) {
        if (error)
            *error = refusalText(sourcePath_, QString::fromUtf8(e.what()));
        return false;
    } catch (const CFileException& e) {
        // A file the user picked or handed over that cannot be read is said
        // so; the temporary output failing stays the program's own business.
        if (error && !source.stream && e.fileName() != output)
            *error = unreadableFileText(source.path, e);
        return false;
    } catch (const std::exception&) {
        return false;
    }
    decoder_->Start();
    return true;
}

bool CEnginePlayback::startPlayer(const QString& path) {
    player_.reset();
    try {
        player_ =
            std::make_unique<audio::CWavePlayer>(lyb::desktop::encodeFileName(path).toStdString());
        if (sourceComplete_ || !decoder_)
            player_->set_source_complete();
        if (position_ || ended_) {
            // Told on the player's feeder thread; acted on here, on ours.
            const uint64_t serial = ++playerSerial_;
            const auto here = [this, serial](std::function<void()> act) {
                QMetaObject::invokeMethod(
                    this,
                    [this, serial, act = std::move(act)] {
                        if (serial == playerSerial_ && player_)
                            act();
                    },
                    Qt::QueuedConnection);
            };
            audio::CWavePlayer::Listener listener;
            listener.position = [this, here](uint32_t ms) {
                here([this, ms] {
                    if (position_)
                        position_(ms);
                });
            };
            listener.ended = [this, here] {
                here([this] {
                    if (ended_)
                        ended_();
                });
            };
            player_->SetListener(std::move(listener), stepMs_);
        }
        player_->Play();
        silent_ = waveout::SoundOutputMissing();
    } catch (const std::exception&) {
        player_.reset();
        return false;
    }
    if (onEnded_)
        endTimer_.start(kEndPollMs, this);
    return true;
}

int CEnginePlayback::state() const {
    return player_ ? player_->State() : kStopped;
}

void CEnginePlayback::pause() {
    if (player_)
        player_->Pause();
}

void CEnginePlayback::resume() {
    if (player_)
        player_->Resume();
}

void CEnginePlayback::stop() {
    if (player_)
        player_->Stop();
}

bool CEnginePlayback::seek(uint32_t ms) {
    return player_ && player_->Seek(ms);
}

uint32_t CEnginePlayback::duration() const {
    return player_ ? player_->Duration() : 0;
}

uint32_t CEnginePlayback::position() const {
    return player_ ? player_->Position() : 0;
}

bool CEnginePlayback::ended() const {
    return player_ && player_->Ended();
}

int CEnginePlayback::rateMode() {
    return player_ ? player_->RateMode() : kRateNormal;
}

void CEnginePlayback::setRateMode(int mode) {
    if (player_)
        player_->SetRateMode(mode);
}

bool CEnginePlayback::setFirstBlockListener(std::function<void()> listener) {
    firstBlock_ = std::move(listener);
    return true;
}

bool CEnginePlayback::setPositionListener(std::function<void(uint32_t ms)> position,
                                          std::function<void()> ended, uint32_t stepMs) {
    position_ = std::move(position);
    ended_ = std::move(ended);
    stepMs_ = stepMs;
    return true;
}

void CEnginePlayback::customEvent(QEvent* event) {
    takeOver(event);
    if (event->type() != kDecodeNoticeEvent)
        return;
    const auto* notice = static_cast<DecodeNotice*>(event);
    if (notice->generation != notifier_->current())
        return;
    if (notice->message == audio::WM_DECODING_ERROR) {
        if (onError_)
            onError_(refusalText(sourcePath_, notice->text));
    } else if (notice->message == audio::WM_DECODING_STARTED) {
        if (firstBlock_)
            firstBlock_();
    } else if (notice->message == audio::WM_DECODING_FINISHED) {
        decoder_.reset();
        sourceComplete_ = true;
        if (player_)
            player_->set_source_complete();
        // A job that wrote no first block ends the wait for one all the same.
        if (firstBlock_)
            firstBlock_();
    }
}

void CEnginePlayback::timerEvent(QTimerEvent* event) {
    if (event->timerId() != endTimer_.timerId())
        return;
    if (player_ && player_->Ended()) {
        endTimer_.stop();
        if (onEnded_)
            onEnded_();
    }
}

}  // namespace lyb::app
