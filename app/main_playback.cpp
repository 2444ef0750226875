// The main window's side of playing: decoding and starting, pausing and
// resuming, what the strip and the command bar show as the player moves,
// seeking from the slider, skipping, and Done.
#include "app/command_bar.h"
#include "app/main_dialog.h"
#include "ui/seek_slider.h"
#include "ui/voicemail_list.h"

#include <QPushButton>

#include <algorithm>

namespace lyb::app {

void CMainDialog::setCommandBar(MenuId menu) {
    commandBar_ = menu;
    bar_->set_softkeys(softkeysOf(menu), mainMenu_);
}

bool CMainDialog::decode_and_play(const PlaySource& source) {
    QString error;
    if (!player_->startDecoding(source, tempWavePath(), &error)) {
        if (!error.isEmpty())
            showMessage(error, MessageIcon::None);
        return false;
    }
    {
        // The player starts once the decoder has written a first block.
        const Work work(*this, QString::fromLatin1(kDecodingCaption));
        player_->waitForFirstBlock(headStartMs_);
    }
    start_player(tempWavePath());
    return true;
}

void CMainDialog::start_player(const std::optional<QString>& path) {
    if (player_->resume())
        return;
    if (!path || !player_->startPlayer(*path))
        return;  // no player: silently nothing plays
    slider()->set_range(0, static_cast<int>(player_->duration() / 10), true);
    slider()->set_position(0);
}

void CMainDialog::pause_player() {
    player_->pause();
}

void CMainDialog::showState(int state) {
    const bool playing = state == IPlayback::kPlaying;
    if (listMode_)
        list_->set_paused(!playing);
    else
        setCommandBar(playing ? MenuId::PlayingScreen : MenuId::PausedScreen);
}

void CMainDialog::showPosition(qint64 ms) {
    slider()->set_position(static_cast<int>(ms / 10));
    strip_->showTime(ms / 1000, player_->duration() / 1000);
}

void CMainDialog::update_time_labels(int hundredths) {
    if (!player_->hasPlayer())
        return;
    pause_player();
    strip_->showTime(hundredths / 100, player_->duration() / 1000);
}

void CMainDialog::slider_changed(int position) {
    if (!player_->hasPlayer()) {
        slider()->set_position(0);
        play_selected();
        return;
    }
    // After a drag the player stays paused (the pen-down paused it); after a
    // key step it plays on from the new place.
    if (!player_->seek(static_cast<uint32_t>(std::max(0, position)) * 10))
        slider()->set_position(static_cast<int>(player_->position() / 10));
}

void CMainDialog::skip_back() {
    if (const std::optional<uint32_t> target = player_->skipBack())
        update_time_labels(static_cast<int>(*target / 10));
}

void CMainDialog::skip_forward() {
    if (const std::optional<uint32_t> target = player_->skipForward())
        update_time_labels(static_cast<int>(*target / 10));
}

void CMainDialog::stopPlayback() {
    setCaption(QString::fromLatin1(kCaption));
    list_->set_current_row(kNoRow);
    show_file_panel(std::nullopt, QString());
    listMode_ = true;
    strip_->clear();
    setCommandBar(MenuId::MenuBar);
    player_->close();
    upper_->showSoundNotice(false);
}

void CMainDialog::close_playback() {
    // Only the playback screen of a window started for one recording ends
    // the program; from the list nothing does.
    const bool end = exitOnDone_ && !listMode_;
    exitOnDone_ = false;
    stopPlayback();
    if (end)
        done(IDOK);
}

void CMainDialog::layout_player_strip() {
    strip_->arrange();
}

}  // namespace lyb::app
