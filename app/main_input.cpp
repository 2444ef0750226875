// The main window's input: keys are shortcuts of the window, so they act
// before the focused widget and never in the window's menus, boxes or
// dialogs (which take their own keys, Escape among them); the list's taps,
// its press-and-hold and its right click come from the list itself.
#include "app/main_dialog.h"
#include "app/undo_bar.h"
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
    };
    for (const auto& [key, slot] : keys) {
        auto* shortcut = new QShortcut(QKeySequence(key), this);
        shortcut->setAutoRepeat(true);
        connect(shortcut, &QShortcut::activated, this, slot);
    }
    // The keys of a desktop program, not repeated while held.
    const auto inList = [this] { return listMode_ && !list_->isHidden(); };
    const std::pair<QKeySequence, std::function<void()>> commands[] = {
        // Done on the playback screen; in the list Escape does nothing.
        {QKeySequence(Qt::Key_Escape),
         [this] {
             if (!listMode_)
                 close_playback();
         }},
        {QKeySequence(Qt::Key_Delete),
         [this, inList] {
             if (inList())
                 runCommand(ID_DELETE);
         }},
        // The keyboard's menu key and Shift+F10 open the selected row's
        // menu, or the playback screen's.
        {QKeySequence(Qt::Key_Menu),
         [this, inList] {
             if (inList())
                 open_context_menu(QPoint());
             else
                 open_playback_menu(QPoint());
         }},
        {QKeySequence(Qt::SHIFT | Qt::Key_F10),
         [this, inList] {
             if (inList())
                 open_context_menu(QPoint());
             else
                 open_playback_menu(QPoint());
         }},
        // Takes back the delete while the bar offers it.
        {QKeySequence(Qt::CTRL | Qt::Key_Z),
         [this, inList] {
             if (inList() && undo_->offered())
                 undo_delete();
         }},
        {QKeySequence(Qt::Key_F5),
         [this, inList] {
             if (inList() && usingAccount_ != 0)
                 runCommand(ID_REFRESH);
         }},
        {QKeySequence(Qt::CTRL | Qt::Key_O), [this] { runCommand(ID_OPEN_FILE); }},
        // As the title bar's close button.
        {QKeySequence(Qt::CTRL | Qt::Key_Q), [this] { close(); }},
    };
    for (const auto& [sequence, slot] : commands) {
        auto* shortcut = new QShortcut(sequence, this);
        shortcut->setAutoRepeat(false);
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
        close_playback();  // nothing to play or pause: Done
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
