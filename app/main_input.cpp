// The main window's input: keys are shortcuts of the window, so they act
// before the focused widget and never in the window's menus, boxes or
// dialogs; the list's taps, its press-and-hold and its right click come from
// the list itself.
#include "app/main_dialog.h"
#include "ui/voicemail_list.h"

#include <QAbstractItemModel>
#include <QMenu>
#include <QShortcut>

namespace lyb::app {

void CMainDialog::createInput() {
    const std::pair<int, std::function<void()>> keys[] = {
        {Qt::Key_Up, [this] { stepRow(-1); }},
        {Qt::Key_Down, [this] { stepRow(+1); }},
        {Qt::Key_Return, [this] { enterKey(); }},
        {Qt::Key_Enter, [this] { enterKey(); }},
        {Qt::Key_Select, [this] { enterKey(); }},
        {Qt::Key_Left,
         [this] {
             skip_back();
             player_->poll();
         }},
        {Qt::Key_Right,
         [this] {
             skip_forward();
             player_->poll();
         }},
        {Qt::Key_Space, [this] { toggle_speed(); }},
        // The details popup, as the message WM_USER + 1 opens it.
        {Qt::Key_I,
         [this] {
             if (listMode_ && !list_->isHidden())
                 show_details();
         }},
        // The keyboard's context menu key opens the selected row's menu.
        {Qt::Key_Menu,
         [this] {
             if (listMode_ && !list_->isHidden())
                 open_context_menu(QPoint());
         }},
    };
    for (const auto& [key, slot] : keys) {
        auto* shortcut = new QShortcut(QKeySequence(key), this);
        shortcut->setAutoRepeat(true);
        connect(shortcut, &QShortcut::activated, this, slot);
    }

    // A tap plays or pauses the row, once the list has taken the pen's
    // release; a hold or a right click opens the row's menu.
    connect(list_, &ui::CVoiceMailList::rowTapped, this, &CMainDialog::listTap,
            Qt::QueuedConnection);
    connect(list_, &ui::CVoiceMailList::rowHeld, this,
            [this](int, const QPoint& global) { open_context_menu(global); });
}

void CMainDialog::stepRow(int by) {
    const int row = selectionMark() + by;
    if (listMode_ && row >= 0 && row < rowCount())
        selectRow(row);
}

void CMainDialog::enterKey() {
    if (listMode_)
        toggle_selected(true);
    else if (!player_->hasPlayer())
        done(IDOK);  // as the dialog's OK: the program ends
    else if (player_->state() == IPlayback::kPaused)
        start_player(std::nullopt);
    else
        pause_player();
}

void CMainDialog::listTap(int row) {
    if (row >= 0) {
        selectRow(row);
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

}  // namespace lyb::app
