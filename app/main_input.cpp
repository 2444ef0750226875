// The main window's input: keys are shortcuts of the window, so they act
// before the focused widget and never in the window's menus, boxes or
// dialogs; the list's taps, its press-and-hold and its right click come from
// the list itself.
#include "app/main_dialog.h"
#include "ui/voicemail_list.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QMenu>
#include <QMouseEvent>
#include <QShortcut>
#include <QTimer>

namespace lyb::app {

namespace {

// Held this long, the pen on the list opens the context menu.
constexpr int kHoldMs = 500;

}  // namespace

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

    // A right click opens the context menu; a press-and-hold does the same.
    list_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(list_, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        holdTimer_->stop();
        open_context_menu(list_->viewport()->mapToGlobal(at));
    });
    holdTimer_->setSingleShot(true);
    holdTimer_->setInterval(kHoldMs);
    connect(holdTimer_, &QTimer::timeout, this, [this] { open_context_menu(holdPoint_); });
    list_->viewport()->installEventFilter(this);
}

bool CMainDialog::eventFilter(QObject* watched, QEvent* event) {
    // The pen on the list: a tap plays or pauses the row, a hold opens the menu.
    if (watched != list_->viewport())
        return QDialog::eventFilter(watched, event);
    if (event->type() != QEvent::MouseButtonPress && event->type() != QEvent::MouseMove &&
        event->type() != QEvent::MouseButtonRelease)
        return false;
    const auto* mouse = static_cast<QMouseEvent*>(event);
    const QPoint global = mouse->globalPosition().toPoint();
    if (event->type() == QEvent::MouseButtonPress && mouse->button() == Qt::LeftButton) {
        holdPoint_ = global;
        holdTimer_->start();
    } else if (event->type() == QEvent::MouseMove && holdTimer_->isActive()) {
        if ((global - holdPoint_).manhattanLength() > QApplication::startDragDistance())
            holdTimer_->stop();
    } else if (event->type() == QEvent::MouseButtonRelease && mouse->button() == Qt::LeftButton) {
        const bool tap = holdTimer_->isActive();
        holdTimer_->stop();
        if (tap)
            QTimer::singleShot(0, this, [this, global] { listTap(global); });
    }
    return false;
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

void CMainDialog::listTap(const QPoint& global) {
    const QModelIndex index = list_->indexAt(list_->viewport()->mapFromGlobal(global));
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

}  // namespace lyb::app
