// CTransparentStatic2: a text label that looks transparent on the player
// strip, the 47-row gradient its parent paints across the bottom of its
// client area. It paints its own slice of that strip, then its text in white.
// Screen readers see it as a label (static text) with its text.
#pragma once

#include <QLabel>
#include <QPixmap>

namespace lyb::ui {

class CTransparentStatic2 : public QLabel {
    Q_OBJECT

public:
    explicit CTransparentStatic2(QWidget* parent = nullptr);

    // The strip: one pixel wide, standing for the bottom rows of the parent
    // (as many rows as the image is tall at 1x). A null pixmap paints nothing.
    void set_background(const QPixmap& strip);
    // How the text sits in the label (left, right, centred; top or middle).
    void set_text_format(Qt::Alignment alignment);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QPixmap strip_;
    Qt::Alignment format_ = Qt::AlignLeft | Qt::AlignTop;
};

}  // namespace lyb::ui
