// The player strip along the bottom of the main window's client area: the
// strip's gradient, the seek slider across it and the elapsed and remaining
// time, and while fast playback is on its factor ("1.4×") beside the
// remaining time. A grid layout places them: the slider takes the width the
// times leave, with the times beside its ends when the slider keeps at least
// its image's length so, and under its ends otherwise.
#pragma once

#include <QPixmap>
#include <QWidget>

class QGridLayout;

namespace lyb::ui {
class CSeekSlider;
class CTransparentStatic2;
}  // namespace lyb::ui

namespace lyb::app {

class CPlayerStrip final : public QWidget {
    Q_OBJECT

public:
    static constexpr int kHeight = 47;
    static constexpr int kSliderId = 1019;

    explicit CPlayerStrip(QWidget* parent = nullptr);

    ui::CSeekSlider* slider() const { return slider_; }
    ui::CTransparentStatic2* elapsed() const { return elapsed_; }
    ui::CTransparentStatic2* remaining() const { return remaining_; }
    ui::CTransparentStatic2* factor() const { return factor_; }
    // True while the times stand beside the slider, false while under it.
    bool timesBeside() const { return beside_; }

    // Writes both labels for second `seconds` of a recording of `total` seconds.
    void showTime(qint64 seconds, qint64 total);
    // Shows the factor of a fast rate beside the time (IPlayback's rate
    // modes: kRateNormal hides it).
    void showRateMode(int mode);
    // Blank labels, no factor and the slider at the start of an empty range.
    void clear();
    // Places the slider and the labels again for the strip's width and the
    // labels' font (after the font changed).
    void arrange();

signals:
    // The pen went down on the strip or its slider.
    void pressed();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    ui::CSeekSlider* slider_;
    ui::CTransparentStatic2* elapsed_;
    ui::CTransparentStatic2* remaining_;
    ui::CTransparentStatic2* factor_;
    QGridLayout* grid_;
    bool beside_ = false;
    bool placed_ = false;  // the grid holds the widgets
    QPixmap strip_;
};

}  // namespace lyb::app
