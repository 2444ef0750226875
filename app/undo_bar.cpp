#include "app/undo_bar.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

namespace lyb::app {

CUndoBar::CUndoBar(QWidget* parent)
    : QWidget(parent),
      undo_(new QPushButton(QStringLiteral("Undo"), this)),
      timer_(new QTimer(this)) {
    setAccessibleName(QStringLiteral("Voicemail deleted \u2014 Undo"));
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::ToolTipBase);
    setForegroundRole(QPalette::ToolTipText);
    auto* label = new QLabel(QStringLiteral("Voicemail deleted \u2014"), this);
    label->setForegroundRole(QPalette::ToolTipText);
    undo_->setFlat(true);
    undo_->setAutoDefault(false);
    undo_->setAccessibleName(QStringLiteral("Undo"));
    undo_->setToolTip(QStringLiteral("Ctrl+Z"));
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(6, 2, 2, 2);
    layout->addWidget(label, 1);
    layout->addWidget(undo_);
    timer_->setSingleShot(true);
    timer_->setInterval(kShownMs);
    connect(timer_, &QTimer::timeout, this, [this] { take(); });
    connect(undo_, &QPushButton::clicked, this, &CUndoBar::undoRequested);
    hide();
}

void CUndoBar::offer(const store::CDeletedMessage& deleted) {
    deleted_ = deleted;
    show();
    timer_->start();
}

std::optional<store::CDeletedMessage> CUndoBar::take() {
    timer_->stop();
    hide();
    return std::exchange(deleted_, std::nullopt);
}

}  // namespace lyb::app
