// CVoiceMailList: the list of the chosen account's voicemails, newest first,
// one owner-drawn row each (CVoiceMailRowDelegate), with a placeholder row
// "<no voicemails in your inbox>" when there are none. The list owns its
// records and the open store and Inbox through its model.
//
// While the list has the keyboard focus, its current row is framed with a
// dotted line, as desktop lists mark the row the keys act on.
//
// Settings: the display mode ("DETAILS", 0 one line, 1 two lines) and font
// size ("Font", 0 Small, 1 Medium, 2 Large) are read at construction and
// written whenever they change. A stored value out of range reads as its
// default.
#pragma once

#include <QListView>
#include <QPoint>

class QMimeData;
class QTimer;

#include "store/message_store.h"
#include "ui/voicemail_list_model.h"

namespace lyb::ui {

class CVoiceMailRowDelegate;

class CVoiceMailList : public QListView {
    Q_OBJECT
public:
    static constexpr int kNoRow = CVoiceMailListModel::kNoRow;

    explicit CVoiceMailList(QWidget* parent = nullptr);
    ~CVoiceMailList() override;

    // Clears the list, then lists the voicemails of the account's Inbox with
    // their callers named from the contacts, newest first, and selects the
    // first row. An account or Inbox that cannot be opened leaves only the
    // placeholder; contacts that cannot be opened leave the names that the
    // messages gave. The session is not kept.
    void populate(const store::CMapiSession& session, const QString& accountName);
    // Frees every record and closes the Inbox and the store.
    void clear();
    // Moves the row's message to the account's Trash and removes the row,
    // then selects the row now at index (the last when it was the last);
    // false, with nothing changed, for the placeholder, an invalid index or
    // a deletion the store refuses.
    bool delete_row(int index);
    void add_placeholder_if_empty();
    // Selects and focuses row 0, scrolls to it and sets the selection mark.
    void select_first();
    // Makes every row as wide as the list, less the scroll bar when shown.
    void update_column_width();

    int details_mode() const;
    void set_details_mode(int mode);
    int font_size() const { return font_size_; }
    void set_font_size(int size);
    int row_height() const;

    // The record of a row; null for the placeholder or an invalid index.
    store::CVoiceMailMessage* record_at(int index) const;
    QString open_account_name() const;
    int row_count() const;

    // The row whose voicemail is loaded in the player (kNoRow for none) and
    // whether it is paused or stopped; they pick the row's symbol.
    int current_row() const;
    void set_current_row(int row);
    bool paused() const;
    void set_paused(bool paused);
    // The row that selections start from; -1 before the first population.
    int selection_mark() const { return selection_mark_; }
    // Moves the selection to row and makes it the selection mark.
    void select_row(int row);

    CVoiceMailListModel* list_model() const { return model_; }

    // A row's recording as a file, for a drag out of the list: a copy as
    // received, in a new folder of the private runtime folder, named as
    // Save Recording As… names it. Null for the placeholder, an invalid row
    // or a recording that cannot be written. The caller owns it.
    QMimeData* drag_mime_data(int row) const;

    // Held this long without moving, the pen on a row asks for its menu.
    static constexpr int kHoldMs = 500;

signals:
    // The pen was lifted before the hold time, where it was put down: row is
    // the row under it, or -1 below the rows.
    void rowTapped(int row);
    // The pen held still for kHoldMs, or a right click (or the keyboard's
    // menu key while the list has the focus): row is the row under global,
    // the screen point the menu opens at, or -1 below the rows.
    void rowHeld(int row, const QPoint& global);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

    // The row the user moves to with the pen becomes the selection mark.
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;

private:
    CVoiceMailListModel* model_;
    CVoiceMailRowDelegate* delegate_;
    int font_size_ = 1;
    int selection_mark_ = -1;
    QTimer* hold_timer_;
    QPoint hold_point_;  // in the viewport, where the pen was put down
    int drag_row_ = -1;  // the row the pen went down on, until it leaves the list
};

}  // namespace lyb::ui
