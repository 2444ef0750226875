#include "app/command_bar.h"

#include <QHBoxLayout>
#include <QMenu>
#include <QShortcut>

#include <QPushButton>
#include <utility>

namespace lyb::app {

namespace {

QPushButton* makeSoftkey(QWidget* parent) {
    auto* button = new QPushButton(parent);
    // Enter belongs to the window's own key handling, not to a softkey.
    button->setAutoDefault(false);
    button->setFlat(true);
    button->setFocusPolicy(Qt::TabFocus);
    button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
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
    connect(left_, &QPushButton::clicked, this, [this] { press_left(); });
    connect(right_, &QPushButton::clicked, this, [this] { press_right(); });
    // The softkeys' keys work from anywhere in the window.
    auto* f1 = new QShortcut(QKeySequence(Qt::Key_F1), parent ? parent : this);
    connect(f1, &QShortcut::activated, this, [this] { press_left(); });
    auto* f2 = new QShortcut(QKeySequence(Qt::Key_F2), parent ? parent : this);
    connect(f2, &QShortcut::activated, this, [this] { press_right(); });
}

void CCommandBar::set_softkeys(const Softkeys& keys, QMenu* popup) {
    keys_ = keys;
    popup_ = popup;
    for (auto [button, key] : {std::pair{left_, keys.left}, std::pair{right_, keys.right}}) {
        button->setText(key.text);
        button->setAccessibleName(key.text);
        button->setEnabled(true);
    }
}

QString CCommandBar::left_text() const {
    return keys_.left.text;
}

QString CCommandBar::right_text() const {
    return keys_.right.text;
}

void CCommandBar::press_left() {
    if (left_->isEnabled())
        press(left_, keys_.left);
}

void CCommandBar::press_right() {
    if (right_->isEnabled())
        press(right_, keys_.right);
}

void CCommandBar::press(QPushButton* button, const Softkey& key) {
    if (key.command != 0) {
        emit command(key.command);
        return;
    }
    if (!popup_)
        return;
    // Opened above the softkey, right-aligned for the right one, so that it
    // stays on the window.
    const QSize size = popup_->sizeHint();
    QPoint at = button->mapToGlobal(QPoint(0, 0));
    if (button == right_)
        at.rx() += button->width() - size.width();
    at.ry() -= size.height();
    popup_->popup(at);
}

}  // namespace lyb::app
