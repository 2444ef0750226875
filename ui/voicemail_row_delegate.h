// Paints the rows of the voicemail list: background, symbol, caller and day
// on the first line, number, length and time on the second (two-line mode),
// the separator, or the placeholder's italic text. On a wide list the symbol
// and the texts keep a readable measure (a column centred in the row; the
// background and the separator run the whole width). It paints only from what
// the model holds (CVoiceMailListModel::row_texts); it never opens a message
// or a contact.
#pragma once

#include <QFont>
#include <QPixmap>
#include <QStyledItemDelegate>

namespace lyb::ui {

class CVoiceMailRowDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    static constexpr int kSymbolWidth = 22;
    static constexpr int kSymbolHeight = 16;

    // Loads the row symbols from the program's resources; a symbol that is
    // missing is simply not drawn.
    explicit CVoiceMailRowDelegate(QObject* parent = nullptr);

    // Row height: 18, 24, 28 (one line) or 34, 40, 44 (two lines) for font
    // sizes 0, 1, 2. First-line band: 16, 20, 24.
    static int row_height(int detailsMode, int fontSize);
    static int band_height(int fontSize);

    void set_layout(int detailsMode, int fontSize);
    // The width every row gets; 0 leaves it to the view.
    void set_column_width(int width) { column_width_ = width; }

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

private:
    struct Symbol {
        QPixmap one, two;  // 1x and 2x; either may be null
        const QPixmap& for_ratio(qreal ratio) const;
    };
    struct Fonts {
        QFont base;  // the view's font these were made from
        QFont bold, normal, placeholder;
    };
    const Fonts& fonts_for(const QFont& base) const;

    Symbol unread_, play_, pause_;
    int details_ = 0;
    int font_size_ = 1;
    int column_width_ = 0;
    mutable Fonts fonts_;
    mutable bool fonts_made_ = false;
};

}  // namespace lyb::ui
