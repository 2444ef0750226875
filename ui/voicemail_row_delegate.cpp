#include "ui/voicemail_row_delegate.h"

#include <QFontInfo>
#include <QPainter>

#include "ui/resources.h"
#include "ui/row_texts.h"
#include "ui/voicemail_list_model.h"

namespace lyb::ui {

namespace {

constexpr int kOneLineHeights[3] = {18, 24, 28};
constexpr int kTwoLineHeights[3] = {34, 40, 44};
constexpr int kBandHeights[3] = {16, 20, 24};

// A wide row keeps a readable measure: its symbol and texts stand in a
// column of at most this many average characters of its font (about 450
// pixels at the usual font), centred in the row; the background, the
// selection and the separator still run the row's whole width.
constexpr int kMeasureChars = 64;

QRect readableMeasure(const QRect& row, const QFont& font) {
    const int measure =
        CVoiceMailRowDelegate::kSymbolWidth + kMeasureChars * QFontMetrics(font).averageCharWidth();
    if (row.width() <= measure)
        return row;
    return QRect(row.left() + (row.width() - measure) / 2, row.top(), measure, row.height());
}

int clampSize(int fontSize) {
    return fontSize < 0 ? 0 : fontSize > 2 ? 2 : fontSize;
}

QFont sizedFont(const QFont& base, int pixelDelta, int weight) {
    QFont font(base);
    font.setPixelSize(QFontInfo(base).pixelSize() + pixelDelta);
    font.setWeight(static_cast<QFont::Weight>(weight));
    font.setStyleStrategy(QFont::PreferAntialias);
    return font;
}

}  // namespace

const QPixmap& CVoiceMailRowDelegate::Symbol::for_ratio(qreal ratio) const {
    if (two.isNull() || (ratio <= 1 && !one.isNull()))
        return one;
    return two;
}

CVoiceMailRowDelegate::CVoiceMailRowDelegate(QObject* parent) : QStyledItemDelegate(parent) {
    ensure_resources();
    auto load = [](const char* name) {
        const QString path = QStringLiteral(":/images/%1.png").arg(QLatin1String(name));
        return Symbol{load_pixmap(path, 1), load_pixmap(path, 2)};
    };
    unread_ = load("row_unread");
    play_ = load("row_play");
    pause_ = load("row_pause");
}

int CVoiceMailRowDelegate::row_height(int detailsMode, int fontSize) {
    return (detailsMode ? kTwoLineHeights : kOneLineHeights)[clampSize(fontSize)];
}

int CVoiceMailRowDelegate::band_height(int fontSize) {
    return kBandHeights[clampSize(fontSize)];
}

void CVoiceMailRowDelegate::set_layout(int detailsMode, int fontSize) {
    details_ = detailsMode;
    if (font_size_ != fontSize)
        fonts_made_ = false;
    font_size_ = fontSize;
}

const CVoiceMailRowDelegate::Fonts& CVoiceMailRowDelegate::fonts_for(const QFont& base) const {
    if (!fonts_made_ || !(fonts_.base == base)) {
        // Medium and Large are 2 and 4 pixels taller than the view's font.
        const int grow = 2 * clampSize(font_size_);
        fonts_.base = base;
        fonts_.bold = sizedFont(base, grow, QFont::Bold);
        fonts_.normal = sizedFont(base, grow, QFont::Normal);
        fonts_.placeholder = sizedFont(base, 2, QFont::Normal);
        fonts_.placeholder.setItalic(true);
        fonts_made_ = true;
    }
    return fonts_;
}

QSize CVoiceMailRowDelegate::sizeHint(const QStyleOptionViewItem& option,
                                      const QModelIndex&) const {
    return {column_width_ > 0 ? column_width_ : option.rect.width(),
            row_height(details_, font_size_)};
}

void CVoiceMailRowDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                                  const QModelIndex& index) const {
    const auto* model = qobject_cast<const CVoiceMailListModel*>(index.model());
    if (!model)
        return;
    const CRowTexts texts = model->row_texts(index.row());
    const QRect row = option.rect;
    const QPalette& palette = option.palette;
    // The selection stays in the highlight colour when the list loses focus.
    const bool selected = option.state & QStyle::State_Selected;
    const QColor textColour = selected ? palette.color(QPalette::Active, QPalette::HighlightedText)
                                       : palette.color(QPalette::Active, QPalette::Text);
    painter->save();
    painter->fillRect(row, selected ? palette.color(QPalette::Active, QPalette::Highlight)
                                    : palette.color(QPalette::Active, QPalette::Base));
    painter->setPen(textColour);
    const Fonts& fonts = fonts_for(option.font);

    if (texts.placeholder) {
        painter->setFont(fonts.placeholder);
        painter->drawText(row, Qt::AlignCenter, CVoiceMailListModel::kPlaceholderText);
    } else {
        const QRect content = readableMeasure(option.rect, fonts.normal);
        const int band = band_height(font_size_);
        const Symbol* symbol = texts.symbol == CRowTexts::Symbol::Play     ? &play_
                               : texts.symbol == CRowTexts::Symbol::Pause  ? &pause_
                               : texts.symbol == CRowTexts::Symbol::Unread ? &unread_
                                                                           : nullptr;
        if (symbol) {
            const QPixmap& pixmap = symbol->for_ratio(painter->device()->devicePixelRatioF());
            const int lift = band >= kSymbolHeight ? (band - kSymbolHeight) / 2
                             : symbol == &unread_  ? 0
                                                   : 1;
            if (!pixmap.isNull())
                painter->drawPixmap(
                    QRect(content.left(), content.top() + lift, kSymbolWidth, kSymbolHeight),
                    pixmap);
        }

        const QRect first(content.left() + kSymbolWidth, content.top(),
                          content.width() - kSymbolWidth - 2, band);
        painter->setFont(texts.unread ? fonts.bold : fonts.normal);
        QFontMetrics metrics = painter->fontMetrics();
        painter->drawText(first, Qt::AlignRight | Qt::AlignVCenter, texts.first_right);
        const int nameSpace = first.width() - metrics.horizontalAdvance(texts.first_right) - 2;
        painter->drawText(first, Qt::AlignLeft | Qt::AlignVCenter,
                          shorten_to_width(texts.name, metrics, nameSpace));

        if (details_ == 1) {
            const QRect second(first.left(), content.top(), first.width(), content.height() - 3);
            painter->setFont(fonts.normal);
            metrics = painter->fontMetrics();
            if (!selected)
                painter->setPen(QColor(128, 128, 128));
            painter->drawText(second, Qt::AlignRight | Qt::AlignBottom, texts.second_right);
            const int leftSpace =
                second.width() - metrics.horizontalAdvance(texts.second_right) - 2;
            painter->drawText(second, Qt::AlignLeft | Qt::AlignBottom,
                              shorten_to_width(texts.second_left, metrics, leftSpace));
        }
    }

    painter->setPen(palette.color(QPalette::Disabled, QPalette::WindowText));
    painter->drawLine(row.left(), row.bottom(), row.right(), row.bottom());
    painter->restore();
}

}  // namespace lyb::ui
