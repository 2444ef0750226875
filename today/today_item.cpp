#include "today/today_item.h"

#include <dlfcn.h>

#include <QFile>
#include <QFontInfo>
#include <QGuiApplication>
#include <QIcon>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QPointer>
#include <QScreen>
#include <QWidget>

#include <memory>

#include "platform/names/names.h"
#include "today/named_event.h"
#include "today/voicemail_count.h"

// Q_INIT_RESOURCE declares a global function, so it must run outside any namespace.
static void initTodayResources() {
    Q_INIT_RESOURCE(today);
}

namespace lyb::today {
namespace {

const QString kDisplayName = QStringLiteral("Lyrabell");
const QLatin1String kLibraryName("/liblybtoday.so");
const QString kProgramName = QLatin1Char('/') + QLatin1String(names::kLyrabellProgram);

// One item per loaded library.
struct ModuleState {
    const void* instance = nullptr;
    QPointer<QWidget> itemWindow;
    QPixmap* icon = nullptr;
    long newCount = 0;
    uint32_t queryCounter = 0;
    int dpiX = 0;
    int dpiY = 0;
};

ModuleState& state() {
    static ModuleState s;
    return s;
}

// The screen's densities, read once on first use and then kept.
void readDpi() {
    ModuleState& s = state();
    if (s.dpiX != 0)
        return;
    const QScreen* screen = QGuiApplication::primaryScreen();
    s.dpiX = screen ? qRound(screen->logicalDotsPerInchX()) : 96;
    s.dpiY = screen ? qRound(screen->logicalDotsPerInchY()) : 96;
}

// The program's icon at 16 x 16 scaled by the screen's density. Needs a GUI
// application; without one nothing is loaded.
void loadIcon() {
    ModuleState& s = state();
    if (s.icon || !qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        return;
    readDpi();
    initTodayResources();
    QIcon icon;
    icon.addFile(QStringLiteral(":/today/lyrabell-16.png"));
    icon.addFile(QStringLiteral(":/today/lyrabell-32.png"));
    const QSize size(((s.dpiX + 3) * 16) / 96, ((s.dpiY + 3) * 16) / 96);
    s.icon = new QPixmap(icon.pixmap(size, 1.0));
}

__attribute__((constructor)) void libraryLoad() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<const void*>(&libraryLoad), &info))
        state().instance = info.dli_fbase;
    loadIcon();
}

__attribute__((destructor)) void libraryUnload() {
    ModuleState& s = state();
    delete s.icon;
    s.icon = nullptr;
    s.instance = nullptr;
}

QString itemText(long count) {
    if (count == 0)
        return QStringLiteral("You have no new voicemails");
    QString text = QString::asprintf("You got %ld new voicemail", count);
    if (count != 1)
        text += QLatin1Char('s');
    return text;
}

// Starts the lyrabell beside this library; nothing when the library's file
// name does not hold its own name.
void startLyrabell() {
    Dl_info info{};
    if (!dladdr(reinterpret_cast<const void*>(&startLyrabell), &info) || !info.dli_fname)
        return;
    const QString library = QFile::decodeName(info.dli_fname);
    const qsizetype at = library.indexOf(kLibraryName);
    if (at < 0)
        return;
    desktop::shellExecuteOpen(library.left(at) + kProgramName, QString());
}

// The colour the parent answers for the Today text, black when it does not.
QColor textColor(QWidget* parent) {
    QColor color(Qt::black);
    if (!parent)
        return color;
    WindowMessage ask(kGetColor, kColorText, 0);
    QCoreApplication::sendEvent(parent, &ask);
    const auto c = static_cast<quint32>(ask.result);
    return QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF);
}

// Counts run on the item's counting thread; each result comes back to the
// user-interface thread as a queued call, which the widget's destruction
// cancels. The accessible name is empty until the first count is in, and the
// dynamic property "counting" is true while a count is asked for and not in.
class CTodayItem final : public QWidget {
public:
    explicit CTodayItem(QWidget* parent)
        : QWidget(parent),
          counter_(std::make_unique<CCountThread>([this](long count, const QString& caller) {
              QMetaObject::invokeMethod(
                  this, [this, count, caller] { countDone(count, caller); }, Qt::QueuedConnection);
          })) {
        setObjectName(kDisplayName);
        setWindowTitle(kDisplayName);
        setFocusPolicy(Qt::TabFocus);
        setGeometry(0, 0, 0, 0);
        setProperty("counting", false);
    }
    // Stops a running count and waits for its thread before the widget goes.
    ~CTodayItem() override { counter_.reset(); }

    // Asks for a count; one asked for while another runs follows it, once.
    void requestCount() {
        if (running_) {
            pending_ = true;
            return;
        }
        running_ = true;
        setProperty("counting", true);
        counter_->request();
    }

protected:
    bool event(QEvent* e) override {
        if (e->type() == static_cast<QEvent::Type>(kRefreshQuery)) {
            auto* message = static_cast<WindowMessage*>(e);
            message->result =
                refreshQuery(reinterpret_cast<TodayListItem*>(message->wParam)) ? 1 : 0;
            return true;
        }
        return QWidget::event(e);
    }

    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        eraseBackground(painter);
        paint(painter);
    }

    void mousePressEvent(QMouseEvent* e) override {
        if (e->button() == Qt::LeftButton && parentWidget()) {
            QCoreApplication::postEvent(
                parentWidget(),
                new WindowMessage(kTookSelection, reinterpret_cast<quintptr>(this), 0));
        }
        QWidget::mousePressEvent(e);
    }

    void mouseReleaseEvent(QMouseEvent* e) override {
        if (e->button() == Qt::LeftButton)
            startLyrabell();
        QWidget::mouseReleaseEvent(e);
    }

    // The keyboard's way to what a tap does.
    void keyPressEvent(QKeyEvent* e) override {
        if (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter || e->key() == Qt::Key_Space) {
            startLyrabell();
            return;
        }
        QWidget::keyPressEvent(e);
    }

private:
    // The host paints its background (its watermark) under the item.
    void eraseBackground(QPainter& painter) {
        if (!parentWidget())
            return;
        TodayDrawWatermarkInfo info{&painter, rect(), this};
        WindowMessage ask(kDrawWatermark, 0, reinterpret_cast<qintptr>(&info));
        QCoreApplication::sendEvent(parentWidget(), &ask);
    }

    void paint(QPainter& painter) {
        const ModuleState& s = state();
        const QString text = accessibleName();
        const int inset = ((s.dpiY + 24) * 2) / 96;
        QRect textRect(0, inset, width(), height() - inset);
        if (s.icon)
            painter.drawPixmap(inset, 0, *s.icon);
        QFont font = QGuiApplication::font();
        const int uiPixels = QFontInfo(font).pixelSize();
        font.setPixelSize(uiPixels > 0 ? uiPixels : 9);
        font.setWeight(s.newCount != 0 ? QFont::Bold : QFont::Normal);
        painter.setFont(font);
        painter.setPen(textColor(parentWidget()));
        textRect.setLeft((s.dpiX * 28 + 48) / 96);
        painter.drawText(textRect, Qt::AlignLeft | Qt::AlignTop, text);
    }

    // Every third query starts a count; any query answers whether the text
    // changed since the last answer, so a host that ignores kCountIn still
    // shows a count at the query after it is in.
    bool refreshQuery(TodayListItem* item) {
        if (!item)
            return false;
        // Only a shell that exists and is not ready yet holds the count back.
        if (waitEventNow(QLatin1String(kShellReadyEvent)) == WaitResult::TimedOut)
            return false;
        ModuleState& s = state();
        if (s.queryCounter++ % 3 == 0)
            requestCount();
        const bool changed = accessibleName() != reported_;
        reported_ = accessibleName();
        if (item->itemHeight != 0)
            return changed;
        item->itemHeight = (s.dpiY * 20 + 48) / 96;
        return true;
    }

    void countDone(long count, const QString& newestCaller) {
        running_ = false;
        state().newCount = count;
        setProperty(kNewestCallerProperty, newestCaller);
        const QString before = accessibleName();
        setAccessibleName(itemText(count));
        update();
        if (accessibleName() != before && parentWidget()) {
            QCoreApplication::postEvent(
                parentWidget(), new WindowMessage(kCountIn, reinterpret_cast<quintptr>(this), 0));
        }
        if (pending_) {
            pending_ = false;
            requestCount();
        } else {
            setProperty("counting", false);
        }
    }

    std::unique_ptr<CCountThread> counter_;
    bool running_ = false;
    bool pending_ = false;
    QString reported_;  // the text as the last query answer left it
};

}  // namespace
}  // namespace lyb::today

QWidget* InitializeCustomItem(lyb::today::TodayListItem*, QWidget* parent) {
    using namespace lyb::today;
    if (!parent)
        return nullptr;
    loadIcon();
    readDpi();
    auto* item = new CTodayItem(parent);
    ModuleState& s = state();
    s.itemWindow = item;
    item->show();
    item->update();
    item->requestCount();
    return item;
}
