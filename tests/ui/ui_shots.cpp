// Writes pictures of the slider and the time labels on the player strip, of
// every image enlarged, of the details popup, every tips page and the about
// page (help-*, the pages read from the help folder beside this program), and
// of the contact card, the contact editor and the dial dialog (contacts-*), into the folder given
// as the argument, at the screen's pixel ratio (run with QT_SCALE_FACTOR=2 for 2x): for people to
// look at. Usage: ui_shots FOLDER
#include "platform/pim/pim.h"
#include "ui/contact_dialogs.h"
#include "ui/details_popup.h"
#include "ui/dial_dialog.h"
#include "ui/help_screens.h"
#include "ui/resources.h"
#include "ui/seek_slider.h"
#include "ui/transparent_static.h"

#include <QApplication>
#include <QBuffer>
#include <QDir>
#include <QFocusEvent>
#include <QPainter>
#include <QTemporaryDir>

#include <cstdio>

using namespace lyb::ui;

namespace {

// A stand-in for the bottom of the main window: a white area above the strip.
class Strip : public QWidget {
public:
    QPixmap strip = load_pixmap(QStringLiteral(":/images/player_strip.png"), devicePixelRatioF());

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.fillRect(rect(), Qt::white);
        painter.drawPixmap(QRect(0, height() - 47, width(), 47), strip);
    }
};

QWidget* playerStrip(int width, int position, bool focused) {
    auto* window = new Strip;
    window->resize(width, 47 + 12);
    auto* slider = new CSeekSlider(1019, window);
    slider->set_track_bitmaps(QStringLiteral(":/images/slider_track.png"));
    slider->set_thumb_bitmaps(QStringLiteral(":/images/slider_thumb.png"));
    slider->set_margins(4, 4);
    slider->set_page_size(100);
    slider->set_range(0, 6000, false);
    slider->set_position(position);
    const int h = window->height();
    const int sl = (width - slider->width()) / 2;
    slider->move(sl, h - 34);
    const QFontMetrics metrics(window->font());
    const int tw = metrics.horizontalAdvance(QStringLiteral("88:88"));
    const int th = metrics.height();
    auto* elapsed = new CTransparentStatic2(window);
    auto* remaining = new CTransparentStatic2(window);
    elapsed->setText(QStringLiteral("0:%1").arg(position / 100, 2, 10, QLatin1Char('0')));
    remaining->setText(
        QStringLiteral("0:%1").arg((6000 - position) / 100, 2, 10, QLatin1Char('0')));
    for (auto* label : {elapsed, remaining})
        label->set_background(window->strip);
    if (sl >= tw) {
        elapsed->setGeometry(sl - tw - 2, h - 34 + 3, tw, th);
        remaining->setGeometry((width + slider->width()) / 2 + 2, h - 34 + 3, tw, th);
        elapsed->set_text_format(Qt::AlignRight);
        remaining->set_text_format(Qt::AlignLeft);
    } else {
        elapsed->setGeometry(sl, h - 14 + 3, tw, th);
        remaining->setGeometry((width + slider->width()) / 2 - tw, h - 14 + 3, tw, th);
        elapsed->set_text_format(Qt::AlignLeft);
        remaining->set_text_format(Qt::AlignRight);
    }
    if (focused) {
        QFocusEvent in(QEvent::FocusIn);
        QCoreApplication::sendEvent(slider, &in);
    }
    return window;
}

bool save(const QPixmap& pixmap, const QString& path) {
    const bool ok = pixmap.save(path);
    std::printf("%s %s\n", ok ? "wrote" : "FAILED", qPrintable(path));
    return ok;
}

bool saveShown(QWidget* widget, const QString& path) {
    widget->show();
    QApplication::processEvents();
    return save(widget->grab(), path);
}

// The details popup for a known and an unknown caller, the tips pages and
// the about page, over a window of the handheld's size.
bool helpShots(const QDir& folder, const QString& suffix) {
    bool ok = true;
    QWidget owner;
    owner.resize(360, 540);
    const int64_t received = QDateTime(QDate(2005, 4, 5), QTime(9, 5)).toSecsSinceEpoch();
    CTestDialog known(
        details_texts(QStringLiteral("Ada Lovelace"), QStringLiteral("4155550001"), received, 346),
        &owner);
    ok &= saveShown(&known, folder.filePath(QStringLiteral("help-details") + suffix));
    CTestDialog unknown(details_texts(QString(), QStringLiteral("6175550002"), received, -1),
                        &owner);
    ok &= saveShown(&unknown, folder.filePath(QStringLiteral("help-details-unknown") + suffix));

    CTipsDlg tips(QString(), &owner);
    for (int page = 1; page <= CTipsDlg::kPages; ++page) {
        tips.show_page(page);
        ok &= saveShown(&tips, folder.filePath(QStringLiteral("help-tips%1").arg(page) + suffix));
    }
    CAboutBoxHtml about(QString(), &owner);
    ok &= saveShown(&about, folder.filePath(QStringLiteral("help-about") + suffix));
    return ok;
}

// A photo for the card: a head and shoulders on a soft blue ground.
QByteArray portrait() {
    QImage image(96, 96, QImage::Format_ARGB32);
    image.fill(QColor(0xC8, 0xDA, 0xEE));
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0x5B, 0x61, 0x70));
    painter.drawEllipse(QRectF(30, 14, 36, 40));
    painter.drawEllipse(QRectF(12, 60, 72, 70));
    painter.end();
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return png;
}

// The contact card, the contact editor and the dial dialog (with a number of
// the usual length and with one longer than the typing limit).
bool contactShots(const QDir& folder, const QString& suffix) {
    QTemporaryDir dir;
    QFile card(dir.filePath(QStringLiteral("anna.vcf")));
    if (!card.open(QIODevice::WriteOnly))
        return false;
    card.write(
        "BEGIN:VCARD\r\nVERSION:4.0\r\nFN:Maria Berg\\, Anna\r\nN:Maria Berg;Anna;;;\r\n"
        "PHOTO:data:image/png;base64," +
        portrait().toBase64() +
        "\r\nTEL;TYPE=cell:+46 70 123 45 67\r\nTEL;TYPE=work:+46 18 471 00 00\r\n"
        "TEL;TYPE=home:018-12 34 56\r\nEMAIL:anna.berg@example.org\r\nEND:VCARD\r\n");
    card.close();
    auto app = lyb::pim::Application::create(dir.path(), nullptr);
    std::unique_ptr<lyb::pim::Contact> contact;
    if (app->logon() != lyb::pim::kOk ||
        app->matchContact(QStringLiteral("Maria Berg, Anna"), lyb::pim::kMatchFileAs, &contact) !=
            lyb::pim::kOk ||
        !contact)
        return false;
    QWidget owner;
    owner.resize(360, 540);
    bool ok = true;
    CContactCard shown(*contact, &owner);
    ok &= saveShown(&shown, folder.filePath(QStringLiteral("contacts-card") + suffix));
    CContactEditor editor(*contact, &owner);
    ok &= saveShown(&editor, folder.filePath(QStringLiteral("contacts-editor") + suffix));
    CDialDialog dial(QStringLiteral("Anna Maria Berg"), QStringLiteral("14155551234"), &owner);
    ok &= saveShown(&dial, folder.filePath(QStringLiteral("contacts-dial") + suffix));
    CDialDialog longer(QString(), QStringLiteral("011442071234567890"), &owner);
    ok &= saveShown(&longer, folder.filePath(QStringLiteral("contacts-dial-long") + suffix));
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: ui_shots FOLDER\n");
        return 2;
    }
    const QDir folder(QString::fromLocal8Bit(argv[1]));
    const qreal ratio = application.devicePixelRatio();
    const QString suffix = QStringLiteral("@%1x.png").arg(ratio);
    bool ok = true;

    // Wide enough for the labels beside the slider, and too narrow for that.
    QWidget* wide = playerStrip(320, 1500, false);
    QWidget* narrow = playerStrip(200, 4500, true);
    ok &= save(wide->grab(), folder.filePath(QStringLiteral("strip-wide") + suffix));
    ok &= save(narrow->grab(), folder.filePath(QStringLiteral("strip-narrow-focused") + suffix));
    ok &= helpShots(folder, suffix);
    ok &= contactShots(folder, suffix);

    // Every image, enlarged 8 times without smoothing, on white and on the strip's colour.
    const char* names[] = {"row_unread",   "row_play",     "row_pause",        "slider_thumb",
                           "slider_track", "player_strip", "details_envelope", "dial_phone",
                           "lyrabell-16",  "lyrabell-32"};
    const int scale = 8;
    QPixmap sheet(QSize(2900, 1500));
    sheet.fill(Qt::white);
    QPainter painter(&sheet);
    int x = 10, y = 10, rowHeight = 0;
    for (const char* name : names) {
        for (qreal imageRatio : {1.0, 2.0}) {
            const QPixmap image =
                load_pixmap(QStringLiteral(":/images/%1.png").arg(QLatin1String(name)), imageRatio);
            const QSize size = image.size() * scale / image.devicePixelRatio();
            if (x + 2 * size.width() + 30 > sheet.width()) {
                x = 10;
                y += rowHeight + 10;
                rowHeight = 0;
            }
            QPixmap plain = image;
            plain.setDevicePixelRatio(1.0);
            for (const QColor& ground : {QColor(Qt::white), QColor(0x7D, 0x83, 0x92)}) {
                painter.fillRect(QRect(QPoint(x, y), size), ground);
                painter.drawPixmap(QRect(QPoint(x, y), size), plain);
                x += size.width() + 10;
            }
            rowHeight = std::max(rowHeight, size.height());
            x += 20;
        }
    }
    // The icon at each of its sizes, as they are drawn.
    x = 10;
    y += rowHeight + 20;
    for (const char* icon :
         {"lyrabell-16", "lyrabell-32", "lyrabell-48", "lyrabell-64", "lyrabell-128", "lyrabell"}) {
        const QPixmap image(QStringLiteral(":/images/%1.png").arg(QLatin1String(icon)));
        painter.drawPixmap(x, y, image);
        x += image.width() + 20;
    }
    painter.end();
    if (ratio == 1.0)
        ok &= save(sheet, folder.filePath(QStringLiteral("images-enlarged.png")));
    return ok ? 0 : 1;
}
