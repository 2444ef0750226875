// CSeekSlider: the playing position as a horizontal slider drawn from images,
// a track and a thumb that moves along it.
//
// The control takes the track's size when the track is loaded and may then
// be made longer or shorter: the track is drawn in three slices, its two ends
// as they are and its middle repeated to fill the length between them.
//
// The position lives in [minimum, maximum] and is clamped whenever it is set,
// except that set_range leaves it alone (a later set_position clamps). The
// thumb centre for a position, and the position for a pixel, are computed in
// double precision and truncated toward zero; the centre never comes closer to
// an end than that end's margin plus half the thumb width. An empty range
// (minimum == maximum) puts the thumb at the left end and maps every pixel to
// the minimum.
//
// The pen drags the thumb (a tap away from it moves the thumb under the pen
// first); the keys step it. Every move is told through signals emitted from
// the event loop (so they arrive after the slider has finished):
// positionChanging each time a drag moves the thumb to a new pixel,
// positionChanged when the pen is lifted and after each key step. pressed is
// emitted at once when the pen goes down, before the thumb moves.
// Tab and keys the slider does not use keep their meaning in the dialog.
//
// Screen readers see a slider with its minimum, maximum and current value.
#pragma once

#include <QColor>
#include <QPixmap>
#include <QPoint>
#include <QString>
#include <QWidget>

#include <utility>

class QPainter;

namespace lyb::ui {

class CSeekSlider : public QWidget {
    Q_OBJECT

public:
    // controlId: the control's id in the dialog.
    explicit CSeekSlider(int controlId, QWidget* parent = nullptr);
    ~CSeekSlider() override;

    // Loads the track image and an optional filled-track image (drawn left of
    // the thumb; empty for none) from resource names, and resizes the control
    // to the track's size without moving it. transparent: make the pixels of
    // the key colour see-through (an invalid key: the colour of the image's
    // pixel at keyPixel); images with an alpha channel need no key. An empty track name unloads
    // both. On a load failure the track images are released and false is
    // returned.
    bool set_track_bitmaps(const QString& track, const QString& filledTrack = {},
                           bool transparent = false, QColor key = {}, QPoint keyPixel = {});
    // The same for the thumb and an optional pressed-thumb image (shown while
    // dragging). Without a track the control keeps its own size.
    bool set_thumb_bitmaps(const QString& thumb, const QString& pressedThumb = {},
                           bool transparent = false, QColor key = {}, QPoint keyPixel = {});

    // Stores the range without touching the position.
    void set_range(int minimum, int maximum, bool redraw);
    // Stores value clamped into the range and redraws; posts nothing.
    void set_position(int value);
    // Returns the previous page size (the step of Page Up and Page Down).
    int set_page_size(int value);
    // Pixels kept free at the ends of the track; takes effect at the next redraw.
    void set_margins(int left, int right);
    // The widths of the track's end slices, drawn as they are at any length
    // (by default half the track's height each); the rest of the track
    // image is its middle, repeated.
    void set_track_ends(int left, int right);

    int position() const { return position_; }
    std::pair<int, int> range() const { return {minimum_, maximum_}; }
    int pageSize() const { return pageSize_; }
    int controlId() const { return controlId_; }
    bool isDragging() const { return dragging_; }

    // The thumb centre, in pixels from the left, for a position.
    int thumbCentre(int position) const;
    // The position for a thumb centre at x (not clamped into the range).
    int positionAt(int x) const;

    // The track's own size; at least its ends and the thumb.
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    void pressed();
    void positionChanging(int position);
    void positionChanged(int position);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    friend class CSeekSliderAccessible;

    // One image, remembered by name so it can be loaded again when the
    // control moves to a screen of another pixel density.
    struct Image {
        QString name;
        bool transparent = false;
        QColor key;
        QPoint keyPixel;
        QPixmap pixmap;
        QPixmap middle;  // the columns between the end slices, made when first drawn
        bool load(qreal devicePixelRatio);
    };

    bool loadPair(Image& first, Image& second, const QString& firstName, const QString& secondName,
                  bool transparent, QColor key, QPoint keyPixel);
    void reloadImages(qreal devicePixelRatio);
    // Draws a track image at the control's length, its ends kept and its
    // middle repeated, clipped to the columns [from, to).
    void drawTrack(QPainter& painter, Image& image, int from, int to);
    // Clamps, stores, redraws and tells screen readers; returns the new position.
    int store(qint64 value);
    // Moves as a key step does: stores value and tells positionChanged.
    void step(qint64 value);
    void penMove(int x);
    // Emits positionChanging (or positionChanged) from the event loop.
    void tell(bool changing);
    static int pixelX(const QMouseEvent* event);

    const int controlId_;
    int minimum_ = 0;
    int maximum_ = 100;
    int position_ = 0;
    int pageSize_ = 20;
    int height_ = 0;
    int thumbWidth_ = 0;
    int thumbHeight_ = 0;
    int leftMargin_ = 0;
    int rightMargin_ = 0;
    int leftEnd_ = -1;  // -1: half the track's height
    int rightEnd_ = -1;
    Image track_, filledTrack_, thumb_, pressedThumb_;
    qreal imagesRatio_ = 1.0;
    bool dragging_ = false;
    int grabOffset_ = 0;
    bool hasFocus_ = false;
    QPixmap buffer_;  // the off-screen image every paint draws into first
};

}  // namespace lyb::ui
