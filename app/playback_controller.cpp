#include "app/playback_controller.h"

#include <QEventLoop>
#include <QTimer>
#include <QTimerEvent>

namespace lyb::app {

CPlaybackController::CPlaybackController(QObject* parent)
    : QObject(parent), playback_(std::make_unique<CNoPlayback>()) {}

CPlaybackController::~CPlaybackController() {
    poll_.stop();
    playback_->discard();
}

void CPlaybackController::setPlayback(std::unique_ptr<IPlayback> playback) {
    playback_ = playback ? std::move(playback) : std::make_unique<CNoPlayback>();
}

bool CPlaybackController::startDecoding(const PlaySource& source, const QString& output,
                                        QString* error) {
    playback_->discard();
    return playback_->startDecoding(source, output, error);
}

void CPlaybackController::waitHeadStart(int milliseconds) {
    // Messages from other processes are answered meanwhile; the user's input is not.
    QEventLoop loop;
    // A precise timer: a coarse one may end the head start up to 5 % early.
    QTimer::singleShot(milliseconds, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec(QEventLoop::ExcludeUserInputEvents);
}

bool CPlaybackController::startPlayer(const QString& path) {
    told_.reset();
    if (!playback_->startPlayer(path))
        return false;
    poll_.start(kPollMs, this);
    emit stateChanged(IPlayback::kPlaying);
    return true;
}

bool CPlaybackController::resume() {
    if (!playback_->hasPlayer() || playback_->state() != IPlayback::kPaused)
        return false;
    playback_->resume();
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
    return playback_->seek(ms);
}

std::optional<uint32_t> CPlaybackController::skipBack() {
    if (!playback_->hasPlayer())
        return std::nullopt;
    pause();
    const uint32_t duration = playback_->duration();
    const uint32_t step = duration > 10000 ? duration / 10 : 1000;
    const uint32_t position = playback_->position();
    const uint32_t target = position < step ? 0 : position - step;
    return playback_->seek(target) ? std::optional(target) : std::nullopt;
}

std::optional<uint32_t> CPlaybackController::skipForward() {
    if (!playback_->hasPlayer())
        return std::nullopt;
    pause();
    const uint32_t duration = playback_->duration();
    uint32_t target = playback_->position() + duration / 10;
    if (target > duration)
        target = duration > 200 ? duration - 200 : 0;
    return playback_->seek(target) ? std::optional(target) : std::nullopt;
}

void CPlaybackController::toggleSpeed() {
    if (!playback_->hasPlayer())
        return;
    playback_->setRateMode(playback_->rateMode() == IPlayback::kRateNormal
                               ? IPlayback::kRateFast
                               : IPlayback::kRateNormal);
}

void CPlaybackController::close() {
    poll_.stop();
    told_.reset();
    if (playback_->hasPlayer()) {
        const int state = playback_->state();
        if (state == IPlayback::kPlaying || state == IPlayback::kPaused)
            playback_->stop();
    }
    playback_->discard();
}

void CPlaybackController::poll() {
    if (!playback_->hasPlayer())
        return;
    if (playback_->ended()) {
        emit ended();
        return;
    }
    const qint64 ms = playback_->position();
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
