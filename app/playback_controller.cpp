#include "app/playback_controller.h"

#include <QEventLoop>
#include <QTimer>
#include <QTimerEvent>

namespace lyb::app {

CPlaybackController::CPlaybackController(QObject* parent)
    : QObject(parent), playback_(std::make_unique<CNoPlayback>()) {
    listen();
}

CPlaybackController::~CPlaybackController() {
    poll_.stop();
    playback_->discard();
}

void CPlaybackController::setPlayback(std::unique_ptr<IPlayback> playback) {
    playback_ = playback ? std::move(playback) : std::make_unique<CNoPlayback>();
    listen();
}

void CPlaybackController::listen() {
    notified_ = playback_->setPositionListener([this](uint32_t ms) { tell(ms); },
                                               [this] {
                                                   if (playback_->hasPlayer())
                                                       emit ended();
                                               },
                                               kNoticeStepMs);
}

bool CPlaybackController::startDecoding(const PlaySource& source, const QString& output,
                                        QString* error) {
    playback_->discard();
    return playback_->startDecoding(source, output, error);
}

void CPlaybackController::waitForFirstBlock(int headStartMs) {
    // Messages from other processes are answered meanwhile; the user's input is not.
    QEventLoop loop;
    bool ready = false;
    if (playback_->setFirstBlockListener([&] {
            ready = true;
            loop.quit();
        })) {
        if (!ready)
            loop.exec(QEventLoop::ExcludeUserInputEvents);
        playback_->setFirstBlockListener({});
        return;
    }
    // A precise timer: a coarse one may end the head start up to 5 % early.
    QTimer::singleShot(headStartMs, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec(QEventLoop::ExcludeUserInputEvents);
}

bool CPlaybackController::startPlayer(const QString& path) {
    told_.reset();
    if (!playback_->startPlayer(path))
        return false;
    if (!notified_)
        poll_.start(kPollMs, this);
    emit stateChanged(IPlayback::kPlaying);
    emit rateChanged(playback_->rateMode());
    return true;
}

bool CPlaybackController::resume() {
    if (!playback_->hasPlayer() || playback_->state() != IPlayback::kPaused)
        return false;
    playback_->resume();
    if (!notified_)
        poll_.start(kPollMs, this);
    emit stateChanged(IPlayback::kPlaying);
    return true;
}

bool CPlaybackController::pause() {
    if (!playback_->hasPlayer() || playback_->state() != IPlayback::kPlaying)
        return false;
    playback_->pause();
    poll_.stop();
    emit stateChanged(IPlayback::kPaused);
    return true;
}

bool CPlaybackController::seek(uint32_t ms) {
    if (!playback_->seek(ms))
        return false;
    emit seeked(ms);
    return true;
}

std::optional<uint32_t> CPlaybackController::skipBack() {
    if (!playback_->hasPlayer())
        return std::nullopt;
    pause();
    const uint32_t duration = playback_->duration();
    const uint32_t step = duration > 10000 ? duration / 10 : 1000;
    const uint32_t position = playback_->position();
    const uint32_t target = position < step ? 0 : position - step;
    return seek(target) ? std::optional(target) : std::nullopt;
}

std::optional<uint32_t> CPlaybackController::skipForward() {
    if (!playback_->hasPlayer())
        return std::nullopt;
    pause();
    const uint32_t duration = playback_->duration();
    uint32_t target = playback_->position() + duration / 10;
    if (target > duration)
        target = duration > 200 ? duration - 200 : 0;
    return seek(target) ? std::optional(target) : std::nullopt;
}

void CPlaybackController::toggleSpeed() {
    setRateMode(playback_->rateMode() == IPlayback::kRateNormal ? IPlayback::kRateFast
                                                                : IPlayback::kRateNormal);
}

void CPlaybackController::setRateMode(int mode) {
    if (!playback_->hasPlayer() || playback_->rateMode() == mode)
        return;
    playback_->setRateMode(mode);
    emit rateChanged(playback_->rateMode());
}

void CPlaybackController::close() {
    poll_.stop();
    told_.reset();
    emit rateChanged(IPlayback::kRateNormal);
    const bool had = playback_->hasPlayer();
    if (had) {
        const int state = playback_->state();
        if (state == IPlayback::kPlaying || state == IPlayback::kPaused)
            playback_->stop();
    }
    playback_->discard();
    if (had)
        emit closed();
}

void CPlaybackController::poll() {
    if (!playback_->hasPlayer())
        return;
    if (playback_->ended()) {
        emit ended();
        return;
    }
    tell(playback_->position());
}

void CPlaybackController::tell(qint64 ms) {
    const std::pair<qint64, int> shown(ms / 1000, pixelOf_ ? pixelOf_(ms) : int(ms / 10));
    if (told_ == shown)
        return;
    told_ = shown;
    emit positionChanged(ms);
}

void CPlaybackController::timerEvent(QTimerEvent* event) {
    if (event->timerId() == poll_.timerId())
        poll();
    else
        QObject::timerEvent(event);
}

}  // namespace lyb::app
