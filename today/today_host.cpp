#include "today/today_host.h"

#include <dlfcn.h>

#include <QAccessible>
#include <QApplication>
#include <QCursor>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QFile>
#include <QIcon>
#include <QMenu>
#include <QPainter>
#include <QRegularExpression>
#include <QScreen>
#include <QVBoxLayout>

#include "platform/desktop/hand_over.h"
#include "platform/names/names.h"
#include "platform/paths/paths.h"
#include "today/named_event.h"
#include "today/voicemail_count.h"

// Q_INIT_RESOURCE declares a global function, so it must run outside any namespace.
static void initHostResources() {
    Q_INIT_RESOURCE(today);
}

namespace lyb::today {
namespace {

// Lyrabell's broadcast after the user chose another account.
constexpr quint64 kAccountChangeWParam = names::kAccountChangeBroadcast;
constexpr int kRefreshMs = 2000;
constexpr int kItemWidth = 280;

quint32 colorRef(const QColor& c) {
    return static_cast<quint32>(c.red()) | (static_cast<quint32>(c.green()) << 8) |
           (static_cast<quint32>(c.blue()) << 16);
}

}  // namespace

const char* const CTodayHost::kNotifyService = "org.freedesktop.Notifications";

long countInText(const QString& text) {
    static const QRegularExpression number(QStringLiteral("(\\d+)"));
    const auto match = number.match(text);
    return match.hasMatch() ? match.captured(1).toLong() : 0;
}

CTodayHost::CTodayHost() : QWidget(nullptr, Qt::Popup) {
    initHostResources();
    setWindowTitle(QStringLiteral("Lyrabell Today"));
    setAccessibleName(QStringLiteral("New voicemails"));
    tray_.setIcon(QIcon(QStringLiteral(":/today/lyrabell-32.png")));
    tray_.setToolTip(QStringLiteral("Lyrabell"));
    connect(&tray_, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason) { showPopup(); });
    QDBusConnection::sessionBus().connect(
        QLatin1String(kNotifyService), QStringLiteral("/org/freedesktop/Notifications"),
        QLatin1String(kNotifyService), QStringLiteral("ActionInvoked"), this,
        SLOT(actionInvoked(uint, QString)));
    timer_.setInterval(kRefreshMs);
    connect(&timer_, &QTimer::timeout, this, &CTodayHost::refresh);
}

CTodayHost::~CTodayHost() {
    removeEvent(QLatin1String(kShellReadyEvent));
    delete item_.data();
    // Messages the item posted to the host are objects of the library's code
    // (their destructor is its own): they go before the library does.
    QCoreApplication::removePostedEvents(this);
    if (library_)
        dlclose(library_);
}

QString CTodayHost::start(const QString& libraryPath) {
    // Not ready until the item and the tray icon are in place.
    createEvent(QLatin1String(kShellReadyEvent), false);
    library_ = dlopen(QFile::encodeName(libraryPath).constData(), RTLD_NOW | RTLD_LOCAL);
    if (!library_)
        return QStringLiteral("Cannot load %1: %2")
            .arg(libraryPath, QString::fromLocal8Bit(dlerror()));
    auto init = reinterpret_cast<InitializeCustomItemFn>(dlsym(library_, kEntryPointName));
    if (!init)
        return QStringLiteral("%1 has no %2").arg(libraryPath, QLatin1String(kEntryPointName));
    item_ = init(&record_, this);
    if (!item_)
        return QStringLiteral("The Today item could not be created");
    record_.itemWindow = item_;
    item_->resize(kItemWidth, 0);

    window_ = std::make_unique<desktop::TopLevelWindow>(
        windowTitle(), QString::fromLatin1(names::kTodayWindowRole),
        [this](uint32_t message, quint64 wParam, qint64) -> qint64 {
            if (message == desktop::WM_SETTINGCHANGE && wParam == kAccountChangeWParam)
                QTimer::singleShot(0, this, &CTodayHost::recountNow);
            return 0;
        },
        [] {});
    count_ = countInText(itemText());
    tray_.setToolTip(itemText().isEmpty() ? QStringLiteral("Lyrabell") : itemText());
    tray_.show();
    setEvent(QLatin1String(kShellReadyEvent));
    refresh();
    timer_.start();
    return {};
}

QString CTodayHost::itemText() const {
    return item_ ? item_->accessibleName() : QString();
}

void CTodayHost::refresh() {
    if (!item_)
        return;
    WindowMessage query(kRefreshQuery, reinterpret_cast<quintptr>(&record_), 0);
    QCoreApplication::sendEvent(item_, &query);
    follow(query.result != 0);
}

void CTodayHost::recountNow() {
    bool repaint = false;
    for (int i = 0; i < 3 && item_; ++i) {
        WindowMessage query(kRefreshQuery, reinterpret_cast<quintptr>(&record_), 0);
        QCoreApplication::sendEvent(item_, &query);
        repaint = repaint || query.result != 0;
    }
    follow(repaint);
}

void CTodayHost::follow(bool repaint) {
    if (!repaint || !item_)
        return;
    if (item_->height() != record_.itemHeight) {
        item_->resize(kItemWidth, record_.itemHeight);
        resize(item_->size());
    }
    item_->update();
    const QString text = itemText();
    if (text.isEmpty())
        return;  // not counted yet
    tray_.setToolTip(text);
    const long count = countInText(text);
    // The item's first count is where the host starts from, not a rise.
    const bool rose = counted_ && count > count_;
    counted_ = true;
    count_ = count;
    if (rose)
        notifyRise();
}

void CTodayHost::notifyRise() {
    QDBusMessage notify = QDBusMessage::createMethodCall(
        QLatin1String(kNotifyService), QStringLiteral("/org/freedesktop/Notifications"),
        QLatin1String(kNotifyService), QStringLiteral("Notify"));
    notify << QStringLiteral("Lyrabell") << 0u << QStringLiteral("lyrabell") << itemText()
           << QString() << QStringList{QStringLiteral("default"), QStringLiteral("Open Lyrabell"),
                                       QStringLiteral("play"),    QStringLiteral("Play"),
                                       QStringLiteral("open"),    QStringLiteral("Open Lyrabell")}
           << QVariantMap{{QStringLiteral("desktop-entry"),
                           QStringLiteral("org.lyrabell.Lyrabell")}}
           << -1;
    // Not waited for: a missing service only means nobody is told.
    auto* sent = new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(notify), this);
    connect(sent, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* call) {
        call->deleteLater();
        const QDBusPendingReply<uint> reply = *call;
        if (reply.isValid())
            notifications_.append(reply.value());
    });
}

void CTodayHost::actionInvoked(uint id, const QString& action) {
    if (!notifications_.contains(id))
        return;  // another program's notification
    const QString program =
        paths::program_folder() + QLatin1Char('/') + QLatin1String(names::kLyrabellProgram);
    const std::optional<QByteArray> newest =
        action == QLatin1String("play") ? newestNewVoicemail() : std::nullopt;
    if (!newest) {
        // A second Lyrabell brings the running one to the front.
        desktop::startProgram(program, {});
        return;
    }
    desktop::HandOver handOver;
    handOver.request = QString::fromLatin1(names::kStoredMessageRequest);
    handOver.entryId = newest;
    handOver.start = [program](const QString& request) {
        return desktop::startProgram(program, {request});
    };
    desktop::handOverRequest(handOver);
}

void CTodayHost::showPopup() {
    if (!item_)
        return;
    resize(item_->width(), qMax(item_->height(), 1));
    QPoint at = tray_.geometry().isValid() ? tray_.geometry().bottomLeft() : QCursor::pos();
    if (const QScreen* screen = QGuiApplication::screenAt(at)) {
        const QRect area = screen->availableGeometry();
        at.setX(qBound(area.left(), at.x(), area.right() - width()));
        at.setY(qBound(area.top(), at.y(), area.bottom() - height()));
    }
    move(at);
    show();
    item_->setFocus();
}

bool CTodayHost::event(QEvent* e) {
    const auto type = static_cast<uint32_t>(e->type());
    if (type == kGetColor) {
        auto* m = static_cast<WindowMessage*>(e);
        m->result = colorRef(palette().color(QPalette::WindowText));
        return true;
    }
    if (type == kDrawWatermark) {
        auto* m = static_cast<WindowMessage*>(e);
        const auto* info = reinterpret_cast<const TodayDrawWatermarkInfo*>(m->lParam);
        if (info && info->painter)
            info->painter->fillRect(info->rect, palette().color(QPalette::Window));
        m->result = 1;
        return true;
    }
    if (type == kCountIn) {
        follow(true);  // the text changed; the next query will say so again
        return true;
    }
    if (type == kTookSelection)
        return true;  // the popup holds one item; it has the focus already
    return QWidget::event(e);
}

}  // namespace lyb::today
