// The main window's command table: what each command id of the menus and
// softkeys does, and the commands that do not act on the list's rows.
#include "app/main_dialog.h"
#include "app/settings.h"
#include "app/update_page.h"
#include "ui/details_popup.h"
#include "ui/help_screens.h"
#include "ui/voicemail_list.h"

#include <QFileDialog>

namespace lyb::app {

void CMainDialog::runCommand(int id) {
    switch (id) {
        case ID_DELETE:
            commandDelete();
            break;
        case ID_PLAY:
            play_command();
            break;
        case ID_MARK_READ:
            commandMarkRead();
            break;
        case ID_SHOW_DETAILS:
            commandShowDetails();
            break;
        case ID_REFRESH:
            commandRefresh();
            break;
        case ID_OPEN_FILE:
            commandOpenFile();
            break;
        case ID_SETTINGS:
            commandSettings();
            break;
        case ID_FONT_SMALL:
            commandFontSize(0);
            break;
        case ID_FONT_MEDIUM:
            commandFontSize(1);
            break;
        case ID_FONT_LARGE:
            commandFontSize(2);
            break;
        case ID_CHECK_FOR_UPDATE:
            openUpdatePage();
            break;
        case ID_SOFTKEY_PLAY:
            start_player(std::nullopt);
            break;
        case ID_SOFTKEY_PAUSE:
            pause_player();
            break;
        case ID_DONE:
            close_playback();
            break;
        case ID_TIPS:
            runModal([this] { ui::show_tips(this); });
            break;
        case ID_ABOUT:
            runModal([this] { ui::show_about(this); });
            break;
        case ID_CALL_BACK:
            call_back();
            break;
        case ID_REPLY_WITH:
            reply_with();
            break;
        case ID_ADD_TO_CONTACTS:
            add_to_contacts();
            break;
        default:
            break;
    }
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
    if (sel == currentRow() && playback_->hasPlayer()) {
        if (playback_->state() == IPlayback::kPaused)
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
    showUpperArea();
    if (usingAccount_ != 0) {
        const QString open = openAccountName();
        settings::chooseAccount(account, !open.isEmpty() && open != account);
        if (open != account)
            refresh_list(account);
    } else {
        settings::chooseAccount(QString(), false);
        clearList();
    }
    update();
}

void CMainDialog::commandOpenFile() {
    QString path;
    {
        const CRequestDispatcher::ModalScope scope(*requests_);
        if (chooseFile_)
            path = chooseFile_(this);
        else
            path = QFileDialog::getOpenFileName(
                this, QString(), QString(), QStringLiteral("Wav Files (*.wav);;GSM Files (*.gsm)"));
    }
    if (path.isEmpty())
        return;
    close_playback();
    listMode_ = false;
    show_file_panel(path, QString());
    decode_and_play(PlaySource{path, nullptr, false});
}

}  // namespace lyb::app
