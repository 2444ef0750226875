// Stands in for the voicemail list until the list widget exists: an empty
// upper area that says so.
#include "app/main_dialog.h"

#include <QLabel>

namespace lyb::app {

void CMainDialog::createList() {
    auto* label = new QLabel(QStringLiteral("No voicemail"));
    label->setAlignment(Qt::AlignCenter);
    listWidget_ = label;
}
void CMainDialog::populateList(const QString&) {}
void CMainDialog::clearList() {}
void CMainDialog::updateColumnWidth() {}
void CMainDialog::showList(bool shown) {
    listWidget_->setVisible(shown);
}
int CMainDialog::selectionMark() const {
    return -1;
}
int CMainDialog::rowCount() const {
    return 0;
}
int CMainDialog::currentRow() const {
    return kNoRow;
}
store::CVoiceMailMessage* CMainDialog::recordAt(int) const {
    return nullptr;
}
QString CMainDialog::openAccountName() const {
    return {};
}
void CMainDialog::setCurrentRow(int) {}
void CMainDialog::setPaused(bool) {}
void CMainDialog::redrawRow(int) {}
void CMainDialog::selectRow(int) {}
MenuState CMainDialog::menu_state() const {
    MenuState state;
    state.usingAccount = usingAccount_;
    return state;
}
void CMainDialog::play_selected() {}
void CMainDialog::toggle_selected(bool) {}
void CMainDialog::listTap() {}
bool CMainDialog::open_context_menu(const QPoint&) {
    return false;
}
void CMainDialog::refresh_list(const QString&) {
    close_playback();
}
void CMainDialog::foreground_refresh() {}
void CMainDialog::commandDelete() {}
void CMainDialog::commandMarkRead() {}
void CMainDialog::commandShowDetails() {}
void CMainDialog::commandFontSize(int) {}

}  // namespace lyb::app
