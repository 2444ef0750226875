// The main window's command table: what each command id of the menus and
// softkeys does, and the commands that do not act on the list's rows.
#include "app/main_dialog.h"
#include "app/settings.h"

#include <QFileDialog>

namespace lyb::app {

QString update_page_url() {
    return QStringLiteral("https://lyrabell.example/update.jsp?prod=Lyrabell_PPC&ver=1.1.1");
}

void CMainDialog::on_command(int id) {
    switch (id) {
        case cmd::Delete:
            commandDelete();
            break;
        case cmd::Play:
            play_command();
            break;
        case cmd::MarkRead:
            commandMarkRead();
            break;
        case cmd::ShowDetails:
            commandShowDetails();
            break;
        case cmd::Refresh:
            commandRefresh();
            break;
        case cmd::OpenFile:
            commandOpenFile();
            break;
        case cmd::Settings:
            commandSettings();
            break;
        case cmd::FontSmall:
            commandFontSize(0);
            break;
        case cmd::FontMedium:
            commandFontSize(1);
            break;
        case cmd::FontLarge:
            commandFontSize(2);
            break;
        case cmd::CheckForUpdate:
            openUrl_(update_page_url());
            break;
        case cmd::SoftPlay:
            start_player(std::nullopt);
            break;
        case cmd::SoftPause:
            pause_player();
            break;
        case cmd::Done:
            close_playback();
            break;
        case cmd::CallBack:
        case cmd::ReplyWith:
        case cmd::AddToContacts:
        case cmd::Tips:
        case cmd::About:
            // Calling back, replying, adding to the contacts and the help
            // screens are not part of this window yet.
            break;
        default:
            break;
    }
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
        settings::setMessageStore(account);
        settings::broadcast_account_change();
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
        settings::setMessageStore(account);
        const QString open = openAccountName();
        if (!open.isEmpty() && open != account)
            settings::broadcast_account_change();
        if (open != account)
            refresh_list(account);
    } else {
        settings::setMessageStore(QString());
        clearList();
    }
    update();
}

void CMainDialog::commandOpenFile() {
    QString path;
    ++modalDepth_;
    if (chooseFile_)
        path = chooseFile_(this);
    else
        path = QFileDialog::getOpenFileName(this, QString(), QString(),
                                            QStringLiteral("Wav Files (*.wav);;GSM Files (*.gsm)"));
    --modalDepth_;
    workEnded();
    if (path.isEmpty())
        return;
    close_playback();
    listMode_ = false;
    show_file_panel(path, QString());
    decode_and_play(PlaySource{path, nullptr, false});
}

}  // namespace lyb::app
