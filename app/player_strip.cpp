#include "app/player_strip.h"

#include "app/playback.h"
#include "platform/waveout/waveout.h"
#include "ui/resources.h"
#include "ui/seek_slider.h"
#include "ui/transparent_static.h"

#include <QGridLayout>
#include <QMouseEvent>
#include <QPainter>
#include <QSpacerItem>

#include <algorithm>

namespace lyb::app {

namespace {

// The slider's top from the strip's top, and the strip's sides.
constexpr int kSliderTop = 13;
constexpr int kSide = 4;
// The labels keep 2 pixels from the slider and from each other.
constexpr int kLabelGap = 2;
// The track's ends (its rounded caps), kept as they are at any length.
constexpr int kTrackEnd = 12;

// "m:ss": whole minutes (at least one digit) and seconds.
QString minutesSeconds(qint64 seconds) {
    return QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

QString fastFactor() {
    return QString::fromStdString(waveout::RateFactorText(waveout::kRateFast)) + QChar(0x00D7);
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
      remaining_(new ui::CTransparentStatic2(this)),
      factor_(new ui::CTransparentStatic2(this)),
      grid_(new QGridLayout(this)) {
    ui::ensure_resources();
    setFixedHeight(kHeight);
    // The strip's gradient is the labels' background; the slider is drawn from its images.
    const QPixmap strip = ui::load_pixmap(QStringLiteral(":/images/player_strip.png"), 1.0);
    for (ui::CTransparentStatic2* label : {elapsed_, remaining_, factor_}) {
        label->set_background(strip);
        label->setText(QStringLiteral(" "));
    }
    elapsed_->setAccessibleDescription(QStringLiteral("Elapsed time"));
    remaining_->setAccessibleDescription(QStringLiteral("Remaining time"));
    factor_->setAccessibleDescription(QStringLiteral("Fast playback"));
    factor_->setText(fastFactor());
    factor_->setAccessibleName(QStringLiteral("Playing %1 as fast").arg(fastFactor()));
    factor_->hide();
    slider_->set_track_bitmaps(QStringLiteral(":/images/slider_track.png"));
    slider_->set_thumb_bitmaps(QStringLiteral(":/images/slider_thumb.png"));
    slider_->set_track_ends(kTrackEnd, kTrackEnd);
    slider_->set_page_size(100);
    slider_->set_range(0, 200, false);
    slider_->set_position(0);
    slider_->set_margins(4, 4);
    grid_->setSpacing(kLabelGap);
    grid_->setVerticalSpacing(0);
    // What the rows leave of the strip's height stays under them.
    grid_->addItem(new QSpacerItem(0, 0, QSizePolicy::Minimum, QSizePolicy::Expanding), 2, 0);
    connect(slider_, &ui::CSeekSlider::pressed, this, &CPlayerStrip::pressed);
    arrange();
}

void CPlayerStrip::showTime(qint64 seconds, qint64 total) {
    setLabel(elapsed_, minutesSeconds(seconds));
    setLabel(remaining_, QLatin1Char('-') + minutesSeconds(std::max<qint64>(0, total - seconds)));
}

void CPlayerStrip::showRateMode(int mode) {
    factor_->setVisible(mode != IPlayback::kRateNormal);
}

void CPlayerStrip::clear() {
    setLabel(elapsed_, QStringLiteral(" "));
    setLabel(remaining_, QStringLiteral(" "));
    factor_->hide();
    slider_->set_range(0, 200, true);
    slider_->set_position(0);
}

void CPlayerStrip::arrange() {
    const QFontMetrics metrics(elapsed_->font());
    const int timeWidth = metrics.horizontalAdvance(QStringLiteral("88:88"));
    const int factorWidth = QFontMetrics(factor_->font()).horizontalAdvance(factor_->text());
    const int textHeight = std::max(metrics.height(), QFontMetrics(factor_->font()).height());
    const int sliderHeight = slider_->sizeHint().height();
    // Beside: elapsed | slider | remaining factor, the sides equally wide so
    // the slider stays centred whether the factor shows or not.
    const int side = timeWidth + kLabelGap + factorWidth;
    const bool beside = width() - 2 * kSide - 2 * (side + kLabelGap) >= slider_->sizeHint().width();
    if (placed_ && beside == beside_) {
        grid_->setColumnMinimumWidth(0, beside ? side : 0);
        grid_->setColumnMinimumWidth(2, beside ? timeWidth : 0);
        grid_->setColumnMinimumWidth(3, beside ? factorWidth : 0);
    } else {
        for (QWidget* w : {static_cast<QWidget*>(slider_), static_cast<QWidget*>(elapsed_),
                           static_cast<QWidget*>(remaining_), static_cast<QWidget*>(factor_)})
            grid_->removeWidget(w);
        if (beside) {
            grid_->addWidget(elapsed_, 0, 0);
            grid_->addWidget(slider_, 0, 1);
            grid_->addWidget(remaining_, 0, 2);
            grid_->addWidget(factor_, 0, 3);
            grid_->setColumnStretch(0, 0);
            grid_->setColumnStretch(1, 1);
            grid_->setColumnStretch(2, 0);
            grid_->setColumnMinimumWidth(0, side);
            grid_->setColumnMinimumWidth(2, timeWidth);
            grid_->setColumnMinimumWidth(3, factorWidth);
        } else {
            // Under: the slider across, the times under its ends, the factor between.
            grid_->addWidget(slider_, 0, 0, 1, 3);
            grid_->addWidget(elapsed_, 1, 0);
            grid_->addWidget(factor_, 1, 1, Qt::AlignHCenter);
            grid_->addWidget(remaining_, 1, 2);
            for (int column = 0; column < 4; ++column) {
                grid_->setColumnStretch(column, column == 3 ? 0 : 1);
                grid_->setColumnMinimumWidth(column, 0);
            }
        }
        beside_ = beside;
        placed_ = true;
    }
    elapsed_->set_text_format((beside ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter);
    remaining_->set_text_format((beside ? Qt::AlignLeft : Qt::AlignRight) | Qt::AlignVCenter);
    factor_->set_text_format((beside ? Qt::AlignLeft : Qt::AlignHCenter) | Qt::AlignVCenter);
    // With a large desktop font the labels would reach past the bottom edge;
    // the slider is lifted to leave them room.
    const int rows = beside ? std::max(sliderHeight, textHeight) : sliderHeight + textHeight;
    const int top = std::clamp(kHeight - rows, 0, kSliderTop);
    grid_->setContentsMargins(kSide, top, kSide, 0);
    grid_->setRowMinimumHeight(0, sliderHeight);
    grid_->invalidate();
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
