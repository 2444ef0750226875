// The player strip along the bottom of the main window's client area: the
// strip's gradient, the seek slider centred on it and the elapsed and
// remaining time, which stand beside the slider when there is room and
// under its ends otherwise.
#pragma once

#include <QPixmap>
#include <QWidget>

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

    // Writes both labels for second `seconds` of a recording of `total` seconds.
    void showTime(qint64 seconds, qint64 total);
    // Blank labels and the slider at the start of an empty range.
    void clear();
    // Places the slider and the labels for the strip's width and the labels' font.
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
    QPixmap strip_;
};

}  // namespace lyb::app
