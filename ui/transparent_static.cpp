#include "ui/transparent_static.h"

#include <QPainter>

#include <algorithm>

namespace lyb::ui {

CTransparentStatic2::CTransparentStatic2(QWidget* parent) : QLabel(parent) {
    // Drawn as text below; the label never reads it as markup either.
    setTextFormat(Qt::PlainText);
    setAlignment(format_);
}

void CTransparentStatic2::set_background(const QPixmap& strip) {
    strip_ = strip;
    update();
}

void CTransparentStatic2::set_text_format(Qt::Alignment alignment) {
    format_ = alignment;
    setAlignment(alignment);
    update();
}

void CTransparentStatic2::paintEvent(QPaintEvent*) {
    if (strip_.isNull())
        return;
    QPainter painter(this);
    const qreal ratio = strip_.devicePixelRatio();
    const int rows = qRound(strip_.height() / ratio);
    const int parentHeight = parentWidget() != nullptr ? parentWidget()->height() : height();
    // The strip row under the label's top edge; the label may reach past
    // either end of the strip, and there the end rows are stretched.
    const int top = y() - parentHeight + rows;
    const int bottom = top + height();
    auto stretch = [&](int fromRow, int rowCount, int toY, int toHeight) {
        if (toHeight <= 0)
            return;
        painter.drawPixmap(QRectF(0, toY, width(), toHeight), strip_,
                           QRectF(0, fromRow * ratio, strip_.width(), rowCount * ratio));
    };
    stretch(0, 1, 0, std::min(-top, height()));
    const int from = std::max(top, 0);
    const int to = std::min(bottom, rows);
    stretch(from, to - from, from - top, to - from);
    const int below = std::max(rows, top);
    stretch(rows - 1, 1, below - top, bottom - below);

    painter.setPen(Qt::white);
    painter.setFont(font());
    painter.drawText(contentsRect(), int(format_), text());
}

}  // namespace lyb::ui
