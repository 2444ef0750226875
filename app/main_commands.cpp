// The main window's commands, one QAction each, and those of them that do
// not act on the list's rows.
#include "app/main_dialog.h"
#include "app/open_file.h"
#include "app/settings.h"
#include "app/update_page.h"
#include "ui/details_popup.h"
#include "ui/help_screens.h"
#include "ui/voicemail_list.h"

#include <QAction>
#include <QFileDialog>

#include <functional>
#include <utility>

namespace lyb::app {

void CMainDialog::createCommands() {
    // One action per command, connected to what it does; the menus and the
    // softkeys name it by its id.
    const std::pair<int, std::function<void()>> table[] = {
        {ID_DELETE, [this] { commandDelete(); }},
        {ID_PLAY, [this] { play_command(); }},
        {ID_MARK_READ, [this] { commandMarkRead(); }},
        {ID_SHOW_DETAILS, [this] { commandShowDetails(); }},
        {ID_REFRESH, [this] { commandRefresh(); }},
        {ID_OPEN_FILE, [this] { commandOpenFile(); }},
        {ID_SETTINGS, [this] { commandSettings(); }},
        {ID_FONT_SMALL, [this] { commandFontSize(0); }},
        {ID_FONT_MEDIUM, [this] { commandFontSize(1); }},
        {ID_FONT_LARGE, [this] { commandFontSize(2); }},
        {ID_CHECK_FOR_UPDATE, [] { openUpdatePage(); }},
        {ID_SOFTKEY_PLAY, [this] { start_player(std::nullopt); }},
        {ID_SOFTKEY_PAUSE, [this] { pause_player(); }},
        {ID_DONE, [this] { close_playback(); }},
        {ID_TIPS, [this] { runModal([this] { ui::show_tips(this); }); }},
        {ID_ABOUT, [this] { runModal([this] { ui::show_about(this); }); }},
        {ID_CALL_BACK, [this] { call_back(); }},
        {ID_REPLY_WITH, [this] { reply_with(); }},
        {ID_ADD_TO_CONTACTS, [this] { add_to_contacts(); }},
        {ID_SAVE_RECORDING_AS, [this] { save_recording_as(); }},
    };
    for (const auto& [id, slot] : table) {
        auto* action = new QAction(this);
        action->setData(id);
        connect(action, &QAction::triggered, this, slot);
        commands_.insert(id, action);
    }
}

void CMainDialog::runCommand(int id) {
    if (QAction* action = commands_.value(id))
        action->trigger();
}

void CMainDialog::runModal(const std::function<void()>& show) {
    const CRequestDispatcher::ModalScope scope(*requests_);
    show();
}

void CMainDialog::show_details() {
    const int sel = selectionMark();
    store::CVoiceMailMessage* record = sel >= 0 ? recordAt(sel) : nullptr;
    if (!record || !list_)
        return;
    runModal([this, record] { ui::show_details(this, list_, *record); });
}

void CMainDialog::play_command() {
    const int sel = selectionMark();
    if (sel < 0 || !recordAt(sel))
        return;
    if (sel == currentRow() && player_->hasPlayer()) {
        if (player_->state() == IPlayback::kPaused)
            start_player(std::nullopt);
        else
            pause_player();
        return;
    }
    close_playback();
    play_selected();
}

void CMainDialog::commandRefresh() {
    QString account = settings::messageStore();
    if (account.isEmpty()) {
        if (runSettings(&account) != IDOK)
            return;
        settings::chooseAccount(account, true);
    }
    close_playback();
    refresh_list(account);
}

void CMainDialog::commandSettings() {
    QString account;
    if (runSettings(&account) != IDOK)
        return;
    usingAccount_ = settings::usingOutlook();
    show_file_panel(std::nullopt, QString());
    if (usingAccount_ != 0) {
        const QString open = list_->open_account_name();
        settings::chooseAccount(account, !open.isEmpty() && open != account);
        if (open != account)
            refresh_list(account);
    } else {
        settings::chooseAccount(QString(), false);
        list_->clear();
    }
}

void CMainDialog::commandOpenFile() {
    QString path;
    {
        const CRequestDispatcher::ModalScope scope(*requests_);
        if (chooseFile_)
            path = chooseFile_(this);
        else
            path = QFileDialog::getOpenFileName(this, QString(), openFileStartFolder(),
                                                openFileFilters());
    }
    if (path.isEmpty())
        return;
    // A window started for one recording still ends with the one chosen here.
    stopPlayback();
    show_file_panel(path, QString());
    keepShown(shownFile(path, QString()));
    showPlaybackScreen(decode_and_play(PlaySource{path, nullptr, false}));
    announce(QString(), QString(), 0, path);
}

}  // namespace lyb::app
