#include "app/command_bar.h"

#include <QHBoxLayout>
#include <QMenu>
#include <QShortcut>
#include <QToolButton>

namespace lyb::app {

namespace {

QToolButton* makeSoftkey(QWidget* parent) {
    auto* button = new QToolButton(parent);
    button->setAutoRaise(true);
    button->setFocusPolicy(Qt::TabFocus);
    button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    button->setToolButtonStyle(Qt::ToolButtonTextOnly);
    return button;
}

}  // namespace

CCommandBar::CCommandBar(QWidget* parent)
    : QWidget(parent), left_(makeSoftkey(this)), right_(makeSoftkey(this)) {
    setAccessibleName(QStringLiteral("Command bar"));
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Window);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(2, 2, 2, 2);
    layout->setSpacing(2);
    layout->addWidget(left_);
    layout->addWidget(right_);
    connect(left_, &QToolButton::clicked, this, [this] { press_left(); });
    connect(right_, &QToolButton::clicked, this, [this] { press_right(); });
    // The softkeys' keys work from anywhere in the window.
    auto* f1 = new QShortcut(QKeySequence(Qt::Key_F1), parent ? parent : this);
    connect(f1, &QShortcut::activated, this, [this] { press_left(); });
    auto* f2 = new QShortcut(QKeySequence(Qt::Key_F2), parent ? parent : this);
    connect(f2, &QShortcut::activated, this, [this] { press_right(); });
}

void CCommandBar::set_softkeys(const Softkey& left, const Softkey& right) {
    leftKey_ = left;
    rightKey_ = right;
    left_->setText(left.text);
    left_->setAccessibleName(left.text);
    right_->setText(right.text);
    right_->setAccessibleName(right.text);
}

QString CCommandBar::left_text() const {
    return leftKey_.text;
}

QString CCommandBar::right_text() const {
    return rightKey_.text;
}

void CCommandBar::press_left() {
    press(left_, leftKey_);
}

void CCommandBar::press_right() {
    press(right_, rightKey_);
}

void CCommandBar::press(QToolButton* button, const Softkey& key) {
    if (key.popup) {
        // Opened above the softkey, right-aligned for the right one, so that
        // it stays on the window.
        QMenu* menu = key.popup;
        const QSize size = menu->sizeHint();
        QPoint at = button->mapToGlobal(QPoint(0, 0));
        if (button == right_)
            at.rx() += button->width() - size.width();
        at.ry() -= size.height();
        menu->exec(at);
        return;
    }
    if (key.command != 0)
        emit command(key.command);
}

}  // namespace lyb::app
