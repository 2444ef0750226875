// The main window on the desktop beyond its own frame: its player in the
// desktop's media controls and media keys, and the session kept awake while a
// recording plays (not while it is paused).
#include "app/main_dialog.h"
#include "app/media_controls.h"
#include "platform/desktop/idle_inhibit.h"
#include "ui/voicemail_list.h"

namespace lyb::app {

namespace {
constexpr uint32_t WM_CLOSE = 0x0010;
}  // namespace

void CMainDialog::createDesktopControls() {
    media_ = new CMediaControls(player_, this);
    media_->setStepper([this](int by) { return canPlayStep(by); });
    connect(media_, &CMediaControls::raiseRequested, this, &CMainDialog::bringToFront);
    connect(media_, &CMediaControls::quitRequested, this,
            [this] { handleMessage(WM_CLOSE, 0, 0); });
    connect(media_, &CMediaControls::playRequested, this, [this] { playStep(0); });
    connect(media_, &CMediaControls::stepRequested, this, &CMainDialog::playStep);
    connect(media_, &CMediaControls::stopRequested, this, [this] {
        if (!busy() && player_->hasPlayer())
            close_playback();
    });
    media_->publish();
    // A seek from the desktop moves the strip too, paused or not.
    connect(player_, &CPlaybackController::seeked, this, &CMainDialog::showPosition);

    auto* awake = new desktop::IdleInhibitor(QStringLiteral("Playing a voicemail"), this);
    connect(player_, &CPlaybackController::stateChanged, awake,
            [awake](int state) { awake->setHeld(state == IPlayback::kPlaying); });
    connect(player_, &CPlaybackController::closed, awake, [awake] { awake->setHeld(false); });
}

bool CMainDialog::canPlayStep(int by) const {
    if (!listMode_ || list_->isHidden())
        return false;
    if (by == 0)
        return !player_->hasPlayer() && recordAt(selectionMark()) != nullptr;
    return currentRow() >= 0 && recordAt(currentRow() + by) != nullptr;
}

void CMainDialog::playStep(int by) {
    if (busy() || !canPlayStep(by))
        return;
    if (by != 0)
        selectRow(currentRow() + by);
    play_selected();
}

void CMainDialog::announce(const QString& caller, const QString& number, qint64 received,
                           const QString& file) {
    media_->setTrack(
        MediaTrack{caller, number.isEmpty() ? number : formatNumber_(number), received, file});
}

}  // namespace lyb::app
