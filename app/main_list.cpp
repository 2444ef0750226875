// The main window's part of the voicemail list: loading it, the row
// commands (Play, Delete, Mark as Read, Show Details, font sizes), and the
// current row that marks the voicemail loaded in the player.
#include "app/main_dialog.h"
#include "app/offline_notice.h"
#include "app/password_dialog.h"
#include "store/account_problem.h"
#include "store/message_store.h"
#include "ui/voicemail_list.h"

#include <QAbstractItemModel>
#include <QLabel>
#include <QMenu>

namespace lyb::app {

namespace {

const char* const kNoAttachment =
    "Unable to open voicemail attachment.\n\nPlease check in your E-mail configuration that "
    "you have enabled download of complete messages.";

}  // namespace

void CMainDialog::populateList(const QString& account) {
    if (session_) {
        askAccountPassword(this, *requests_, account);
        list_->populate(*session_, account);
        upper_->setAccountProblem(store::account_problem(account));
    } else {
        list_->clear();
        list_->add_placeholder_if_empty();
        list_->update_column_width();
        list_->select_first();
    }
}

int CMainDialog::selectionMark() const {
    return list_->selection_mark();
}

int CMainDialog::rowCount() const {
    return list_->row_count();
}

int CMainDialog::currentRow() const {
    return list_->current_row();
}

store::CVoiceMailMessage* CMainDialog::recordAt(int row) const {
    return list_->record_at(row);
}

void CMainDialog::redrawRow(int row) {
    if (row >= 0 && row < rowCount())
        list_->update(list_->model()->index(row, 0));
}

void CMainDialog::selectRow(int row) {
    if (row < 0 || row >= rowCount())
        return;
    list_->select_row(row);
    list_->scrollTo(list_->model()->index(row, 0));
}

MenuState CMainDialog::menuState() const {
    MenuState state;
    const int sel = selectionMark();
    const store::CVoiceMailMessage* record = recordAt(sel);
    state.hasSelection = sel >= 0 && sel < rowCount();
    state.hasRecord = record != nullptr;
    state.recordRead = record && record->is_read();
    state.selectedPlaying = state.hasSelection && sel == currentRow() && player_->hasPlayer() &&
                            player_->state() != IPlayback::kPaused;
    state.detailsMode = list_->details_mode();
    state.fontSize = list_->font_size();
    state.usingAccount = usingAccount_ != 0;
    return state;
}

void CMainDialog::play_selected() {
    const int sel = selectionMark();
    store::CVoiceMailMessage* record = recordAt(sel);
    if (!record)
        return;
    close_playback();
    mapi::IStream* stream = record->open_audio_stream();
    if (!stream) {
        showMessage(QString::fromLatin1(kNoAttachment), MessageIcon::Error);
        return;
    }
    const bool decoding = decode_and_play(PlaySource{QString(), stream, record->is_gsm()});
    stream->Release();
    // Heard only once it plays: a voicemail that cannot be played stays new.
    if (decoding && player_->hasPlayer()) {
        record->set_read(true);
        list_->set_current_row(sel);
        redrawRow(sel);
        announce(record->caller_name(), record->caller_number(), record->received_time());
    }
}

void CMainDialog::toggle_selected(bool allowPause) {
    if (!player_->hasPlayer()) {
        play_selected();
        return;
    }
    const int sel = selectionMark();
    if (sel >= 0 && sel != currentRow()) {
        close_playback();
        play_selected();
    } else if (player_->state() == IPlayback::kPaused) {
        start_player(std::nullopt);
    } else if (allowPause) {
        pause_player();
    }
}

void CMainDialog::refresh_list(const QString& account) {
    close_playback();
    const Work work(*this, QString::fromLatin1(kRefreshingCaption));
    populateList(account);
}

void CMainDialog::foreground_refresh() {
    if (!isEnabled() || !isVisible() || busy() || player_->hasPlayer() || usingAccount_ == 0)
        return;
    const QString account = list_->open_account_name();
    if (account.isEmpty())
        return;
    // The reload keeps the user's place: the selection stays on its voicemail
    // when that is still listed.
    store::CVoiceMailMessage* selected = recordAt(selectionMark());
    const QByteArray id = selected ? selected->entry_id() : QByteArray();
    refresh_list(account);
    for (int row = 0; !id.isEmpty() && row < rowCount(); ++row) {
        if (store::CVoiceMailMessage* record = recordAt(row); record && record->entry_id() == id) {
            list_->select_row(row);
            list_->scrollTo(list_->model()->index(row, 0));
            break;
        }
    }
}

void CMainDialog::commandDelete() {
    const int sel = selectionMark();
    if (!recordAt(sel) || refuseWhileOffline(this, *requests_, list_, QStringLiteral("deleted")))
        return;
    const int answer = requests_->messageBox(
        this, QStringLiteral("Are you sure you want to delete this voicemail?"),
        MessageIcon::Question, MessageButtons::YesNo);
    if (answer != IDYES)
        return;
    // The row goes first: a deletion that the store refuses leaves the row
    // and its recording playing.
    const int current = currentRow();
    if (!list_->delete_row(sel))
        return;
    offer_undo();
    if (sel == current)
        close_playback();
    else if (current >= 0 && sel < current)
        list_->set_current_row(current - 1);  // the loaded voicemail moved up a row
}

void CMainDialog::commandMarkRead() {
    const int sel = selectionMark();
    if (store::CVoiceMailMessage* record = recordAt(sel)) {
        if (refuseWhileOffline(this, *requests_, list_,
                               record->is_read() ? QStringLiteral("marked as unread")
                                                 : QStringLiteral("marked as read")))
            return;
        record->set_read(!record->is_read());
        redrawRow(sel);
    }
}

void CMainDialog::commandShowDetails() {
    list_->set_details_mode((list_->details_mode() + 1) % 2);
    list_->setGeometry(list_->geometry());
    list_->update_column_width();
    if (selectionMark() >= 0)
        list_->scrollTo(list_->model()->index(selectionMark(), 0));
}

void CMainDialog::commandFontSize(int size) {
    list_->set_font_size(size);
    list_->setGeometry(list_->geometry());
    list_->update_column_width();
}

}  // namespace lyb::app
