// CCommandBar: the strip of two softkeys along the bottom edge of the main
// window, as a handheld shows its command bar. Each softkey either sends a
// command id or opens a popup menu above itself. F1 presses the left softkey
// and F2 the right one, as on a handheld's keypad; both can also be reached
// with Tab. Screen readers see each softkey as a button named by its text.
#pragma once

#include <QWidget>

class QMenu;
class QToolButton;

namespace lyb::app {

struct Softkey {
    QString text;
    int command = 0;         // sent when pressed, unless popup is set
    QMenu* popup = nullptr;  // borrowed; opened above the softkey when pressed
};

class CCommandBar : public QWidget {
    Q_OBJECT

public:
    explicit CCommandBar(QWidget* parent = nullptr);

    // Replaces both softkeys; the menus named by an earlier call are forgotten.
    void set_softkeys(const Softkey& left, const Softkey& right);
    QString left_text() const;
    QString right_text() const;
    // Presses a softkey as the pen or its function key would.
    void press_left();
    void press_right();
    QToolButton* left_button() const { return left_; }
    QToolButton* right_button() const { return right_; }

signals:
    void command(int id);

private:
    void press(QToolButton* button, const Softkey& key);

    QToolButton* left_;
    QToolButton* right_;
    Softkey leftKey_;
    Softkey rightKey_;
};

}  // namespace lyb::app
