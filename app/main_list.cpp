// The main window's part of the voicemail list: loading it, the row
// commands (Play, Delete, Mark as Read, Show Details, font sizes), the tap,
// the context menu, and the current row and paused flag that mark the
// voicemail loaded in the player.
#include "app/main_dialog.h"
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

void CMainDialog::createList() {
    list_ = new ui::CVoiceMailList;  // given to the client area by the caller
    listWidget_ = list_;
    // A right click opens the context menu; a press-and-hold does the same
    // (see startHoldTimer).
    list_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(list_, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        holdTimer_.stop();
        open_context_menu(list_->viewport()->mapToGlobal(at));
    });
}

void CMainDialog::populateList(const QString& account) {
    if (session_) {
        list_->populate(*session_, account);
    } else {
        list_->clear();
        list_->add_placeholder_if_empty();
        list_->update_column_width();
        list_->select_first();
    }
}

void CMainDialog::clearList() {
    list_->clear();
}

void CMainDialog::updateColumnWidth() {
    list_->update_column_width();
}

void CMainDialog::showList(bool shown) {
    list_->setVisible(shown);
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

QString CMainDialog::openAccountName() const {
    return list_->open_account_name();
}

void CMainDialog::setCurrentRow(int row) {
    list_->set_current_row(row);
}

void CMainDialog::setPaused(bool paused) {
    list_->set_paused(paused);
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
    state.selectedPlaying = state.hasSelection && sel == currentRow() && playback_->hasPlayer() &&
                            playback_->state() != IPlayback::kPaused;
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
    record->set_read(true);
    redrawRow(sel);
    close_playback();
    mapi::IStream* stream = record->open_audio_stream();
    if (!stream) {
        showMessage(QString::fromLatin1(kNoAttachment), MessageIcon::Error);
        return;
    }
    const bool started = decode_and_play(PlaySource{QString(), stream, record->is_gsm()});
    stream->Release();
    if (started) {
        setCurrentRow(sel);
        redrawRow(sel);
    }
}

void CMainDialog::toggle_selected(bool allowPause) {
    if (!playback_->hasPlayer()) {
        play_selected();
        return;
    }
    const int sel = selectionMark();
    if (sel >= 0 && sel != currentRow()) {
        close_playback();
        play_selected();
    } else if (playback_->state() == IPlayback::kPaused) {
        start_player(std::nullopt);
    } else if (allowPause) {
        pause_player();
    }
}

void CMainDialog::listTap() {
    const QPoint local = list_->viewport()->mapFromGlobal(lastTapPoint_);
    const QModelIndex index = list_->indexAt(local);
    if (index.isValid()) {
        selectRow(index.row());
        toggle_selected(true);
    } else if (selectionMark() >= 0 && selectionMark() < rowCount()) {
        selectRow(selectionMark());
    }
}

bool CMainDialog::open_context_menu(const QPoint& globalPoint) {
    QPoint global = globalPoint;
    if (global.isNull()) {
        // From the keyboard: at the selected row.
        const QModelIndex index = list_->model()->index(selectionMark(), 0);
        if (!index.isValid())
            return false;
        global = list_->viewport()->mapToGlobal(list_->visualRect(index).center());
    }
    QPoint local = list_->viewport()->mapFromGlobal(global);
    if (local.x() > 1)
        local.rx() -= 1;
    const QModelIndex index = list_->indexAt(local);
    if (!index.isValid())
        return false;
    selectRow(index.row());
    contextMenu_->popup(global);
    return true;
}

void CMainDialog::refresh_list(const QString& account) {
    close_playback();
    const Work work(*this, QString::fromLatin1(kRefreshingCaption));
    populateList(account);
}

void CMainDialog::foreground_refresh() {
    if (!isEnabled() || !isVisible() || busy() || playback_->hasPlayer() || usingAccount_ == 0)
        return;
    const QString account = openAccountName();
    if (!account.isEmpty())
        refresh_list(account);
}

void CMainDialog::commandDelete() {
    const int sel = selectionMark();
    if (!recordAt(sel))
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
    if (sel == current)
        close_playback();
    else if (current >= 0 && sel < current)
        setCurrentRow(current - 1);  // the loaded voicemail moved up a row
}

void CMainDialog::commandMarkRead() {
    const int sel = selectionMark();
    if (store::CVoiceMailMessage* record = recordAt(sel)) {
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
