#include "app/player_strip.h"

#include "ui/resources.h"
#include "ui/seek_slider.h"
#include "ui/transparent_static.h"

#include <QMouseEvent>
#include <QPainter>

#include <algorithm>

namespace lyb::app {

namespace {

// The slider's top, and the labels' beside it and under it, from the strip's top.
constexpr int kSliderTop = 13;
constexpr int kLabelsBeside = kSliderTop + 3;
constexpr int kLabelsUnder = CPlayerStrip::kHeight - 11;
// The labels keep 2 pixels from the slider.
constexpr int kLabelGap = 2;

// "m:ss": whole minutes (at least one digit) and seconds.
QString minutesSeconds(qint64 seconds) {
    return QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

void setLabel(ui::CTransparentStatic2* label, const QString& text) {
    // Written only when the text changes, so nothing is repainted needlessly.
    if (label->text() != text) {
        label->setText(text);
        label->setAccessibleName(text.trimmed());
    }
}

}  // namespace

CPlayerStrip::CPlayerStrip(QWidget* parent)
    : QWidget(parent),
      slider_(new ui::CSeekSlider(kSliderId, this)),
      elapsed_(new ui::CTransparentStatic2(this)),
      remaining_(new ui::CTransparentStatic2(this)) {
    ui::ensure_resources();
    setFixedHeight(kHeight);
    // The strip's gradient is the labels' background; the slider is drawn from its images.
    const QPixmap strip = ui::load_pixmap(QStringLiteral(":/images/player_strip.png"), 1.0);
    elapsed_->set_background(strip);
    remaining_->set_background(strip);
    elapsed_->setAccessibleDescription(QStringLiteral("Elapsed time"));
    remaining_->setAccessibleDescription(QStringLiteral("Remaining time"));
    slider_->set_track_bitmaps(QStringLiteral(":/images/slider_track.png"));
    slider_->set_thumb_bitmaps(QStringLiteral(":/images/slider_thumb.png"));
    slider_->set_page_size(100);
    slider_->set_range(0, 200, false);
    slider_->set_position(0);
    slider_->set_margins(4, 4);
    elapsed_->setText(QStringLiteral(" "));
    remaining_->setText(QStringLiteral(" "));
    connect(slider_, &ui::CSeekSlider::pressed, this, &CPlayerStrip::pressed);
}

void CPlayerStrip::showTime(qint64 seconds, qint64 total) {
    setLabel(elapsed_, minutesSeconds(seconds));
    setLabel(remaining_, QLatin1Char('-') + minutesSeconds(std::max<qint64>(0, total - seconds)));
}

void CPlayerStrip::clear() {
    setLabel(elapsed_, QStringLiteral(" "));
    setLabel(remaining_, QStringLiteral(" "));
    slider_->set_range(0, 200, true);
    slider_->set_position(0);
}

void CPlayerStrip::arrange() {
    const int w = width();
    const int sw = slider_->width();
    const int sl = (w - sw) / 2;
    slider_->move(sl, kSliderTop);

    const QFontMetrics metrics(elapsed_->font());
    const int tw = metrics.horizontalAdvance(QStringLiteral("88:88"));
    const int th = metrics.height();
    // With a large desktop font the labels would reach past the bottom edge;
    // they are lifted to end on it.
    if (sl >= tw) {
        const int y = std::min(kLabelsBeside, kHeight - th);
        elapsed_->setGeometry(sl - tw - kLabelGap, y, tw, th);
        elapsed_->set_text_format(Qt::AlignRight | Qt::AlignTop);
        remaining_->setGeometry(sl + sw + kLabelGap, y, tw, th);
        remaining_->set_text_format(Qt::AlignLeft | Qt::AlignTop);
    } else {
        const int y = std::min(kLabelsUnder, kHeight - th);
        elapsed_->setGeometry(sl, y, tw, th);
        elapsed_->set_text_format(Qt::AlignLeft | Qt::AlignTop);
        remaining_->setGeometry(sl + sw - tw, y, tw, th);
        remaining_->set_text_format(Qt::AlignRight | Qt::AlignTop);
    }
    update();
}

void CPlayerStrip::paintEvent(QPaintEvent*) {
    const qreal ratio = devicePixelRatioF();
    if (strip_.isNull() || strip_.devicePixelRatio() != ratio)
        strip_ = ui::load_pixmap(QStringLiteral(":/images/player_strip.png"), ratio);
    QPainter painter(this);
    painter.drawPixmap(rect(), strip_);
}

void CPlayerStrip::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton)
        emit pressed();
    QWidget::mousePressEvent(event);
}

void CPlayerStrip::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    arrange();
}

}  // namespace lyb::app
