#include "ui/seek_slider.h"

#include "ui/resources.h"

#include <QAccessible>
#include <QAccessibleValueInterface>
#include <QAccessibleWidget>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QtMath>

#include <algorithm>
#include <cmath>
#include <limits>

namespace lyb::ui {

// What screen readers see: a slider whose value is the position. A value set
// by an assistive tool moves the slider as a key step does, so the parent
// hears of it.
class CSeekSliderAccessible : public QAccessibleWidget, public QAccessibleValueInterface {
public:
    explicit CSeekSliderAccessible(CSeekSlider* slider)
        : QAccessibleWidget(slider, QAccessible::Slider) {}

    void* interface_cast(QAccessible::InterfaceType type) override {
        if (type == QAccessible::ValueInterface)
            return static_cast<QAccessibleValueInterface*>(this);
        return QAccessibleWidget::interface_cast(type);
    }
    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Value)
            return QString::number(slider()->position());
        return QAccessibleWidget::text(t);
    }
    QVariant currentValue() const override { return slider()->position(); }
    void setCurrentValue(const QVariant& value) override { slider()->step(value.toLongLong()); }
    QVariant maximumValue() const override { return slider()->range().second; }
    QVariant minimumValue() const override { return slider()->range().first; }
    QVariant minimumStepSize() const override { return 1; }

private:
    CSeekSlider* slider() const { return static_cast<CSeekSlider*>(widget()); }
};

namespace {

QAccessibleInterface* accessibleSlider(const QString& className, QObject* object) {
    if (object != nullptr && className == QLatin1String(CSeekSlider::staticMetaObject.className()))
        return new CSeekSliderAccessible(static_cast<CSeekSlider*>(object));
    return nullptr;
}

}  // namespace

bool CSeekSlider::Image::load(qreal devicePixelRatio) {
    middle = QPixmap();
    pixmap = load_pixmap(name, devicePixelRatio);
    if (pixmap.isNull())
        return false;
    if (transparent) {
        const qreal ratio = pixmap.devicePixelRatio();
        const QColor colour = key.isValid() ? key : pixmap.toImage().pixelColor(keyPixel * ratio);
        pixmap.setMask(pixmap.createMaskFromColor(colour, Qt::MaskInColor));
    }
    return true;
}

CSeekSlider::CSeekSlider(int controlId, QWidget* parent) : QWidget(parent), controlId_(controlId) {
    static const bool factoryInstalled = (QAccessible::installFactory(accessibleSlider), true);
    (void)factoryInstalled;
    ensure_resources();
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_NoSystemBackground);
    // As long as its place allows; as tall as its images.
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    // The main window may give a better name; a screen reader never meets a nameless slider.
    setAccessibleName(QStringLiteral("Playing position"));
    height_ = height();
}

CSeekSlider::~CSeekSlider() = default;

bool CSeekSlider::loadPair(Image& first, Image& second, const QString& firstName,
                           const QString& secondName, bool transparent, QColor key,
                           QPoint keyPixel) {
    first = Image{firstName, transparent, key, keyPixel, {}, {}};
    second = Image{secondName, transparent, key, keyPixel, {}, {}};
    if (firstName.isEmpty())
        return true;
    const qreal ratio = devicePixelRatioF();
    if (!first.load(ratio) || (!secondName.isEmpty() && !second.load(ratio))) {
        first = Image{};
        second = Image{};
        return false;
    }
    imagesRatio_ = ratio;
    return true;
}

bool CSeekSlider::set_track_bitmaps(const QString& track, const QString& filledTrack,
                                    bool transparent, QColor key, QPoint keyPixel) {
    const bool loaded =
        loadPair(track_, filledTrack_, track, filledTrack, transparent, key, keyPixel);
    if (track_.pixmap.isNull()) {
        height_ = height();
    } else {
        const QSize size = track_.pixmap.deviceIndependentSize().toSize();
        height_ = size.height();
        resize(size);
    }
    // An opaque track covers the whole control; otherwise what lies under it shows.
    setAttribute(Qt::WA_OpaquePaintEvent, !track_.pixmap.isNull() && !transparent);
    update();
    return loaded;
}

bool CSeekSlider::set_thumb_bitmaps(const QString& thumb, const QString& pressedThumb,
                                    bool transparent, QColor key, QPoint keyPixel) {
    const bool loaded =
        loadPair(thumb_, pressedThumb_, thumb, pressedThumb, transparent, key, keyPixel);
    const QSize size = thumb_.pixmap.deviceIndependentSize().toSize();
    thumbWidth_ = size.width();
    thumbHeight_ = size.height();
    if (track_.pixmap.isNull())
        height_ = height();
    update();
    return loaded;
}

void CSeekSlider::reloadImages(qreal devicePixelRatio) {
    for (Image* image : {&track_, &filledTrack_, &thumb_, &pressedThumb_}) {
        if (!image->name.isEmpty())
            image->load(devicePixelRatio);
    }
    imagesRatio_ = devicePixelRatio;
}

void CSeekSlider::set_range(int minimum, int maximum, bool redraw) {
    minimum_ = minimum;
    maximum_ = maximum;
    if (redraw)
        update();
}

void CSeekSlider::set_position(int value) {
    store(value);
}

int CSeekSlider::set_page_size(int value) {
    return std::exchange(pageSize_, value);
}

void CSeekSlider::set_margins(int left, int right) {
    leftMargin_ = left;
    rightMargin_ = right;
}

void CSeekSlider::set_track_ends(int left, int right) {
    leftEnd_ = left;
    rightEnd_ = right;
    track_.middle = filledTrack_.middle = QPixmap();
    update();
}

int CSeekSlider::thumbCentre(int position) const {
    const int rest = thumbWidth_ / 2 + leftMargin_;
    if (maximum_ == minimum_)
        return rest;
    const double span = double(maximum_) - double(minimum_);
    const double travel = width() - thumbWidth_ - leftMargin_ - rightMargin_;
    return int(std::trunc((double(position) - minimum_) / span * travel)) + rest;
}

int CSeekSlider::positionAt(int x) const {
    const double travel = double(width()) - leftMargin_ - thumbWidth_ - rightMargin_;
    if (maximum_ == minimum_ || travel == 0)
        return minimum_;
    const double span = double(maximum_) - double(minimum_);
    const double value =
        std::trunc((double(x) - thumbWidth_ / 2 - leftMargin_) / travel * span + minimum_);
    // Far outside the track the value may not fit; the callers clamp anyway.
    return int(std::clamp(value, double(std::numeric_limits<int>::min()),
                          double(std::numeric_limits<int>::max())));
}

QSize CSeekSlider::sizeHint() const {
    if (!track_.pixmap.isNull())
        return track_.pixmap.deviceIndependentSize().toSize();
    return QSize(std::max(thumbWidth_ * 4, 100), std::max(thumbHeight_, 16));
}

QSize CSeekSlider::minimumSizeHint() const {
    const int ends = track_.pixmap.isNull() ? 0 : std::max(leftEnd_, 0) + std::max(rightEnd_, 0);
    const int length = std::max(ends, leftMargin_ + thumbWidth_ * 2 + rightMargin_);
    return QSize(length, sizeHint().height());
}

int CSeekSlider::store(qint64 value) {
    // An inverted range (maximum below minimum) clamps to the minimum.
    value = std::min<qint64>(value, maximum_);
    value = std::max<qint64>(value, minimum_);
    if (position_ != value) {
        position_ = int(value);
        if (QAccessible::isActive()) {
            QAccessibleValueChangeEvent changed(this, position_);
            QAccessible::updateAccessibility(&changed);
        }
    }
    update();
    return position_;
}

void CSeekSlider::step(qint64 value) {
    store(value);
    tell(false);
}

void CSeekSlider::tell(bool changing) {
    const int position = position_;
    QMetaObject::invokeMethod(
        this,
        [this, changing, position] {
            if (changing)
                emit positionChanging(position);
            else
                emit positionChanged(position);
        },
        Qt::QueuedConnection);
}

int CSeekSlider::pixelX(const QMouseEvent* event) {
    return qFloor(event->position().x());
}

void CSeekSlider::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    emit pressed();
    // Qt keeps the mouse with this widget while a button is down.
    setFocus(Qt::MouseFocusReason);
    dragging_ = true;
    const int x = pixelX(event);
    const int centre = thumbCentre(position_);
    // Caught by the thumb: keep the pen where it took hold. Elsewhere the thumb jumps under the
    // pen.
    grabOffset_ = std::abs(x - centre) <= thumbWidth_ / 2 ? x - centre : 0;
    penMove(x);
    update();
}

void CSeekSlider::mouseMoveEvent(QMouseEvent* event) {
    if (dragging_)
        penMove(pixelX(event));
}

void CSeekSlider::penMove(int x) {
    int target = std::max(x - grabOffset_, leftMargin_ + thumbWidth_ / 2);
    target = std::min(target, width() - thumbWidth_ / 2 - rightMargin_);
    if (target == thumbCentre(position_))
        return;
    store(positionAt(target));
    tell(true);
}

void CSeekSlider::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !dragging_) {
        QWidget::mouseReleaseEvent(event);
        return;
    }
    dragging_ = false;
    update();
    tell(false);
}

void CSeekSlider::keyPressEvent(QKeyEvent* event) {
    const qint64 position = position_;
    switch (event->key()) {
        case Qt::Key_Left:
        case Qt::Key_Up:
            step(position - 1);
            break;
        case Qt::Key_Right:
        case Qt::Key_Down:
            step(position + 1);
            break;
        case Qt::Key_PageUp:
            step(position - pageSize_);
            break;
        case Qt::Key_PageDown:
            step(position + pageSize_);
            break;
        case Qt::Key_Home:
            step(minimum_);
            break;
        case Qt::Key_End:
            step(maximum_);
            break;
        default:
            QWidget::keyPressEvent(event);
    }
}

void CSeekSlider::focusInEvent(QFocusEvent*) {
    hasFocus_ = true;
    update();
}

void CSeekSlider::focusOutEvent(QFocusEvent*) {
    hasFocus_ = false;
    update();
}

void CSeekSlider::resizeEvent(QResizeEvent*) {
    // Without a track the control's own size is the track's.
    if (track_.pixmap.isNull())
        height_ = height();
}

void CSeekSlider::drawTrack(QPainter& painter, Image& image, int from, int to) {
    from = std::max(from, 0);
    to = std::min(to, width());
    if (to <= from || image.pixmap.isNull())
        return;
    painter.save();
    painter.setClipRect(QRect(from, 0, to - from, height_));
    const QPixmap& whole = image.pixmap;
    const qreal ratio = whole.devicePixelRatio();
    const QSizeF size = whole.deviceIndependentSize();
    const int imageWidth = qRound(size.width());
    if (width() == imageWidth) {
        painter.drawPixmap(0, 0, whole);
    } else {
        const int half = qRound(size.height()) / 2;
        const int left = std::clamp(leftEnd_ < 0 ? half : leftEnd_, 0, imageWidth / 2);
        const int right = std::clamp(rightEnd_ < 0 ? half : rightEnd_, 0, imageWidth / 2);
        const qreal rows = whole.height();
        painter.drawPixmap(QRectF(0, 0, left, size.height()), whole,
                           QRectF(0, 0, left * ratio, rows));
        painter.drawPixmap(QRectF(width() - right, 0, right, size.height()), whole,
                           QRectF((imageWidth - right) * ratio, 0, right * ratio, rows));
        if (image.middle.isNull() && imageWidth > left + right) {
            image.middle = whole.copy(
                QRectF((left * ratio), 0, (imageWidth - left - right) * ratio, rows).toRect());
            image.middle.setDevicePixelRatio(ratio);
        }
        if (!image.middle.isNull() && width() > left + right) {
            painter.drawTiledPixmap(QRectF(left, 0, width() - left - right, size.height()),
                                    image.middle);
        }
    }
    painter.restore();
}

void CSeekSlider::paintEvent(QPaintEvent*) {
    const qreal ratio = devicePixelRatioF();
    if (ratio != imagesRatio_)
        reloadImages(ratio);
    const QSize pixels = size() * ratio;
    if (buffer_.size() != pixels || buffer_.devicePixelRatio() != ratio) {
        buffer_ = QPixmap(pixels);
        buffer_.setDevicePixelRatio(ratio);
    }
    const bool seeThrough = track_.pixmap.isNull() || track_.transparent;
    buffer_.fill(seeThrough ? QColor(Qt::transparent) : palette().color(backgroundRole()));

    QPainter painter(&buffer_);
    const int centre = thumbCentre(position_);
    if (filledTrack_.pixmap.isNull()) {
        drawTrack(painter, track_, 0, width());
    } else {
        drawTrack(painter, filledTrack_, 0, centre);
        drawTrack(painter, track_, centre, width());
    }
    const QPixmap& thumb =
        dragging_ && !pressedThumb_.pixmap.isNull() ? pressedThumb_.pixmap : thumb_.pixmap;
    if (!thumb.isNull())
        painter.drawPixmap(centre - thumbWidth_ / 2, 0, thumb);
    if (hasFocus_) {
        // A ring in the desktop's highlight colour just outside the thumb.
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(palette().color(QPalette::Highlight), 1.5));
        painter.setBrush(Qt::NoBrush);
        const qreal radius = std::min(thumbWidth_, thumbHeight_) / 2.0 + 0.75;
        painter.drawEllipse(QPointF(centre, thumbHeight_ / 2.0), radius, radius);
    }
    painter.end();

    QPainter(this).drawPixmap(0, 0, buffer_);
}

}  // namespace lyb::ui
