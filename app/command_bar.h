// CCommandBar: the strip of two softkeys along the bottom edge of the main
// window, as a handheld shows its command bar. Each softkey either sends a
// command id or opens a popup menu above itself. F1 presses the left softkey
// and F2 the right one, as on a handheld's keypad; both can also be reached
// with Tab. Screen readers see each softkey as a button named by its text.
#pragma once

#include "app/main_menus.h"

#include <QWidget>

class QMenu;
class QPushButton;

namespace lyb::app {

class CCommandBar : public QWidget {
    Q_OBJECT

public:
    explicit CCommandBar(QWidget* parent = nullptr);

    // Replaces both softkeys. A softkey with command 0 opens popup (borrowed)
    // above itself.
    void set_softkeys(const Softkeys& keys, QMenu* popup);
    QString left_text() const;
    QString right_text() const;
    // Presses a softkey as the pen or its function key would.
    void press_left();
    void press_right();
    QPushButton* left_button() const { return left_; }
    QPushButton* right_button() const { return right_; }

signals:
    void command(int id);

private:
    void press(QPushButton* button, const Softkey& key);

    QPushButton* left_;
    QPushButton* right_;
    Softkeys keys_;
    QMenu* popup_ = nullptr;
};

}  // namespace lyb::app
