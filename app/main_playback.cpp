// The main window's player: starting, pausing and resuming it, the playback
// tick that moves the slider and the time labels, seeking, skipping and the
// speed toggle, and the softkeys of the playback screen.
#include "app/command_bar.h"
#include "app/main_dialog.h"
#include "ui/seek_slider.h"
#include "ui/transparent_static.h"

namespace lyb::app {

namespace {

// "m:ss": whole minutes (at least one digit) and seconds.
QString minutesSeconds(qint64 seconds) {
    return QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

}  // namespace

void CMainDialog::setLabel(ui::CTransparentStatic2* label, const QString& text) {
    // Written only when the text changes, so a tick repaints nothing needlessly.
    if (label->text() != text) {
        label->setText(text);
        label->setAccessibleName(text.trimmed());
    }
}

void CMainDialog::setCommandBar(MenuId menu) {
    commandBar_ = menu;
    bar_->set_softkeys(softkeysOf(menu), mainMenu_);
}

void CMainDialog::start_player(const std::optional<QString>& path) {
    if (playback_->hasPlayer() && playback_->state() == IPlayback::kPaused) {
        playback_->resume();
        if (listMode_)
            setPaused(false);
        else
            setCommandBar(MenuId::PlayingScreen);
        playbackTimer_.start(kPlaybackTimerMs, this);
        return;
    }
    if (!path)
        return;
    if (!playback_->startPlayer(*path))
        return;  // no player: silently nothing plays
    slider_->set_range(0, static_cast<int>(playback_->duration() / 10), true);
    slider_->set_position(0);
    playbackTimer_.start(kPlaybackTimerMs, this);
    if (listMode_)
        setPaused(false);
    else
        setCommandBar(MenuId::PlayingScreen);
}

void CMainDialog::pause_player() {
    if (!playback_->hasPlayer() || playback_->state() != IPlayback::kPlaying)
        return;
    playback_->pause();
    playbackTimer_.stop();
    if (listMode_)
        setPaused(true);
    else
        setCommandBar(MenuId::PausedScreen);
}

void CMainDialog::playback_tick() {
    if (!playback_->hasPlayer())
        return;
    const qint64 p = playback_->position();
    if (playback_->ended()) {
        close_playback();
        return;
    }
    if (slider_->position() == p / 10)
        return;
    slider_->set_position(static_cast<int>(p / 10));
    const qint64 total = playback_->duration() / 1000;
    const qint64 rest = std::max<qint64>(0, total - p / 1000);
    setLabel(elapsed_, minutesSeconds(p / 1000));
    setLabel(remaining_, QLatin1Char('-') + minutesSeconds(rest));
    if (playback_->ended())
        close_playback();
}

void CMainDialog::update_time_labels(int hundredths) {
    if (!playback_->hasPlayer())
        return;
    pause_player();
    const qint64 s = hundredths / 100;
    const qint64 rest = std::max<qint64>(0, playback_->duration() / 1000 - s);
    setLabel(elapsed_, minutesSeconds(s));
    setLabel(remaining_, QLatin1Char('-') + minutesSeconds(rest));
}

void CMainDialog::slider_changed(int position) {
    if (!playback_->hasPlayer()) {
        slider_->set_position(0);
        play_selected();
        return;
    }
    // After a drag the player stays paused (the pen-down paused it); after a
    // key step it plays on from the new place.
    if (!playback_->seek(static_cast<uint32_t>(std::max(0, position)) * 10))
        slider_->set_position(static_cast<int>(playback_->position() / 10));
}

void CMainDialog::skip_back() {
    if (!playback_->hasPlayer())
        return;
    pause_player();
    const uint32_t duration = playback_->duration();
    const uint32_t step = duration > 10000 ? duration / 10 : 1000;
    const uint32_t position = playback_->position();
    const uint32_t target = position < step ? 0 : position - step;
    if (playback_->seek(target))
        update_time_labels(static_cast<int>(target / 10));
}

void CMainDialog::skip_forward() {
    if (!playback_->hasPlayer())
        return;
    pause_player();
    const uint32_t duration = playback_->duration();
    uint32_t target = playback_->position() + duration / 10;
    if (target > duration)
        target = duration > 200 ? duration - 200 : 0;
    if (playback_->seek(target))
        update_time_labels(static_cast<int>(target / 10));
}

void CMainDialog::toggle_speed() {
    if (!playback_->hasPlayer())
        return;
    playback_->setRateMode(playback_->rateMode() == IPlayback::kRateNormal
                               ? IPlayback::kRateFast
                               : IPlayback::kRateNormal);
}

}  // namespace lyb::app
