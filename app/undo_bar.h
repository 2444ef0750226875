// The bar that offers to take back a delete: "Voicemail deleted — Undo",
// shown below the list for eight seconds after each delete (a new delete
// replaces the offer and starts the time again). The window runs the undo on
// the button or on Ctrl+Z while the bar shows.
#pragma once

#include <QWidget>

#include <optional>

#include "store/deleted_messages.h"

class QPushButton;
class QTimer;

namespace lyb::app {

class CUndoBar final : public QWidget {
    Q_OBJECT

public:
    static constexpr int kShownMs = 8000;

    explicit CUndoBar(QWidget* parent = nullptr);

    // Shows the bar for this delete.
    void offer(const store::CDeletedMessage& deleted);
    // Hides the bar and gives back the delete offered; nothing when none is.
    std::optional<store::CDeletedMessage> take();
    bool offered() const { return deleted_.has_value(); }
    QPushButton* undoButton() const { return undo_; }

signals:
    // The user pressed Undo.
    void undoRequested();

private:
    std::optional<store::CDeletedMessage> deleted_;
    QPushButton* undo_;
    QTimer* timer_;
};

}  // namespace lyb::app
