// Windows on the session bus.
//
// Layout on the bus: every process of ours that has made a window owns the
// name org.lyrabell.Desktop.p<pid>. On it,
//   /process      org.lyrabell.Desktop  ListWindows() -> as
//                   [pid, program path, then path, caption, role per window]
//   /windows/<n>  org.lyrabell.Window   Caption() -> s, Role() -> s,
//                   Deliver(u message, s name, t wParam, x lParam) -> x,
//                   Raise()
// Deliver carries the registered message's name next to its id (empty for
// the fixed messages below 0xC000); the receiver uses its own id for that
// name, so the two sides agree even where their ids differ.
//
// Calls go out with QDBus::Block: the caller's event loop does not run while
// it waits, so nothing re-enters the caller. A window of the calling process
// is therefore never called over the bus (that would wait for itself); its
// handler is called directly. Two processes that send to each other at the
// same moment both wait out the 5 s limit.
#include "platform/desktop/desktop.h"
#include "platform/desktop/desktop_internal.h"
#include "platform/names/names.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusContext>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusPendingReply>
#include <QDBusReply>
#include <QMap>
#include <QPointer>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <exception>

namespace lyb::desktop {

namespace {

constexpr const char* kServicePrefix = names::kBusServicePrefix;
constexpr const char* kProcessInterface = names::kBusProcessInterface;
constexpr const char* kWindowInterface = names::kBusWindowInterface;
constexpr char kProcessPath[] = "/process";
constexpr char kWindowPathPrefix[] = "/windows/";
constexpr int kCallTimeoutMs = 5000;

QString ownService() {
    return QString::fromLatin1(kServicePrefix) + QString::number(::getpid());
}

// Checks that a handle can name one of our windows before anything is sent:
// a malformed bus name or object path would only produce Qt warnings.
bool plausibleHandle(const WindowHandle& h) {
    const QString prefix = QString::fromLatin1(kServicePrefix);
    if (!h.service.startsWith(prefix) || h.service.size() == prefix.size()) {
        return false;
    }
    for (qsizetype i = prefix.size(); i < h.service.size(); ++i) {
        if (!h.service[i].isDigit() || h.service[i].unicode() > 0x7f) {
            return false;
        }
    }
    const QString pathPrefix = QString::fromLatin1(kWindowPathPrefix);
    if (!h.path.startsWith(pathPrefix) || h.path.size() == pathPrefix.size()) {
        return false;
    }
    for (qsizetype i = pathPrefix.size(); i < h.path.size(); ++i) {
        if (!h.path[i].isDigit() || h.path[i].unicode() > 0x7f) {
            return false;
        }
    }
    return true;
}

// One exported window. Lives on the thread that made it (the event loop's);
// the bus calls its slots from there.
class WindowObject : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.lyrabell.Window")

public:
    WindowObject(int number, QString caption, QString role, MessageHandler handler,
                 std::function<void()> raise)
        : number_(number),
          caption_(std::move(caption)),
          role_(std::move(role)),
          handler_(std::move(handler)),
          raise_(std::move(raise)) {}

    int number() const { return number_; }
    QString path() const {
        return QString::fromLatin1(kWindowPathPrefix) + QString::number(number_);
    }
    void setCaptionText(const QString& c) { caption_ = c; }
    QString roleText() const { return role_; }
    bool busy() const { return busy_ > 0; }

    // Drops the handlers, for a window whose owner is gone while one of its
    // own calls still runs; the object deletes itself once the outermost of
    // those calls has returned. Not deleted any earlier, even by a nested event
    // loop that the handler runs: the bus still uses the object after the slot.
    void detach() {
        detached_ = true;
        handler_ = nullptr;
        raise_ = nullptr;
    }

    // Runs the handler; nullopt when it threw or the window is gone.
    std::optional<qint64> deliver(uint32_t message, quint64 wParam, qint64 lParam, QString* error) {
        if (detached_) {
            return std::nullopt;
        }
        if (!handler_) {
            return 0;  // a window without a handler answers like a default one
        }
        // A copy, so that a handler that destroys its own window keeps running
        // on a live function object.
        MessageHandler handler = handler_;
        ++busy_;
        std::optional<qint64> result;
        try {
            result = handler(message, wParam, lParam);
        } catch (const std::exception& e) {
            if (error) {
                *error = QString::fromLocal8Bit(e.what());
            }
        } catch (...) {
            if (error) {
                *error = QStringLiteral("unknown exception");
            }
        }
        leave();
        return result;
    }

    bool raiseWindow() {
        if (detached_) {
            return false;
        }
        if (raise_) {
            std::function<void()> raise = raise_;
            ++busy_;
            raise();
            leave();
        }
        return true;
    }

public slots:
    QString Caption() const { return caption_; }
    QString Role() const { return role_; }

    qlonglong Deliver(uint message, const QString& name, qulonglong wParam, qlonglong lParam) {
        const uint32_t local = name.isEmpty() ? message : registerWindowMessage(name);
        QString error;
        std::optional<qint64> result = deliver(local, wParam, lParam, &error);
        if (!result && calledFromDBus()) {
            sendErrorReply(QDBusError::Failed,
                           error.isEmpty() ? QStringLiteral("window is gone") : error);
            return 0;
        }
        return result.value_or(0);
    }

    void Raise() {
        if (!raiseWindow() && calledFromDBus()) {
            sendErrorReply(QDBusError::UnknownObject, QStringLiteral("window is gone"));
        }
    }

private:
    int number_;
    QString caption_;
    QString role_;
    MessageHandler handler_;
    std::function<void()> raise_;
    void leave() {
        if (--busy_ == 0 && detached_) {
            deleteLater();
        }
    }

    int busy_ = 0;
    bool detached_ = false;
};

// The windows of this process, in the order they were made.
struct LocalWindows {
    QMap<int, WindowObject*> byNumber;
    int lastNumber = 0;
    bool exported = false;  // the process object and bus name are set up
};

LocalWindows& local() {
    static LocalWindows w;
    return w;
}

WindowObject* localWindow(const WindowHandle& h) {
    if (h.service != ownService() || !h.path.startsWith(QLatin1String(kWindowPathPrefix))) {
        return nullptr;
    }
    bool ok = false;
    const int number = h.path.mid(qsizetype(sizeof(kWindowPathPrefix) - 1)).toInt(&ok);
    return ok ? local().byNumber.value(number, nullptr) : nullptr;
}

QStringList describeLocalWindows() {
    QStringList out{QString::number(::getpid()), currentProgramPath()};
    for (WindowObject* w : std::as_const(local().byNumber)) {
        out << w->path() << w->Caption() << w->roleText();
    }
    return out;
}

class ProcessObject : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.lyrabell.Desktop")

public slots:
    QStringList ListWindows() const { return describeLocalWindows(); }
};

void exportProcess() {
    LocalWindows& w = local();
    if (w.exported || !busAvailable()) {
        return;
    }
    w.exported = true;
    QDBusConnection bus = QDBusConnection::sessionBus();
    // Never destroyed: static destruction would run after the bus is gone.
    static ProcessObject* process = new ProcessObject;
    if (!bus.registerObject(QString::fromLatin1(kProcessPath), process,
                            QDBusConnection::ExportAllSlots)) {
        std::fprintf(stderr, "lyrabell: cannot export the process object on the session bus\n");
    }
    if (!bus.registerService(ownService())) {
        std::fprintf(stderr, "lyrabell: cannot own the bus name %s: %s\n", qPrintable(ownService()),
                     qPrintable(bus.lastError().message()));
    }
}

// Parses one ListWindows answer; malformed answers add nothing.
void appendRemote(const QString& service, const QStringList& fields, std::vector<WindowInfo>& out) {
    if (fields.size() < 2 || (fields.size() - 2) % 3 != 0) {
        return;
    }
    bool ok = false;
    const qint64 pid = fields[0].toLongLong(&ok);
    if (!ok) {
        return;
    }
    for (qsizetype i = 2; i + 2 < fields.size(); i += 3) {
        WindowInfo info;
        info.handle = {service, fields[i]};
        info.caption = fields[i + 1];
        info.role = fields[i + 2];
        info.pid = pid;
        info.programPath = fields[1];
        if (plausibleHandle(info.handle)) {
            out.push_back(std::move(info));
        }
    }
}

}  // namespace

struct TopLevelWindow::Impl {
    WindowObject* object = nullptr;
    bool registered = false;
};

TopLevelWindow::TopLevelWindow(QString caption, QString role, MessageHandler handler,
                               std::function<void()> raise)
    : impl_(std::make_unique<Impl>()) {
    LocalWindows& w = local();
    const int number = ++w.lastNumber;
    impl_->object = new WindowObject(number, std::move(caption), std::move(role),
                                     std::move(handler), std::move(raise));
    w.byNumber.insert(number, impl_->object);
    exportProcess();
    if (busAvailable()) {
        impl_->registered = QDBusConnection::sessionBus().registerObject(
            impl_->object->path(), impl_->object, QDBusConnection::ExportAllSlots);
    }
}

TopLevelWindow::~TopLevelWindow() {
    WindowObject* object = impl_->object;
    local().byNumber.remove(object->number());
    if (impl_->registered) {
        QDBusConnection::sessionBus().unregisterObject(object->path());
    }
    if (object->busy()) {
        // Destroyed from inside its own handler: the call still runs on it.
        object->detach();
    } else {
        delete object;
    }
}

void TopLevelWindow::setCaption(const QString& caption) {
    impl_->object->setCaptionText(caption);
}

QString TopLevelWindow::caption() const {
    return impl_->object->Caption();
}

WindowHandle TopLevelWindow::handle() const {
    return {ownService(), impl_->object->path()};
}

bool busAvailable() {
    static bool reported = false;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected()) {
        return true;
    }
    if (!reported) {
        reported = true;
        std::fprintf(stderr,
                     "lyrabell: no D-Bus session bus (%s); other programs' windows are not "
                     "reachable\n",
                     qPrintable(bus.lastError().message()));
    }
    return false;
}

std::vector<WindowInfo> listWindows() {
    std::vector<WindowInfo> out;
    const QString own = ownService();
    appendRemote(own, describeLocalWindows(), out);
    if (!busAvailable()) {
        return out;
    }
    QDBusConnection bus = QDBusConnection::sessionBus();
    QDBusReply<QStringList> names = bus.interface()->registeredServiceNames();
    if (!names.isValid()) {
        return out;
    }
    QStringList services;
    for (const QString& name : names.value()) {
        if (name.startsWith(QLatin1String(kServicePrefix)) && name != own &&
            plausibleHandle({name, QStringLiteral("/windows/1")})) {
            services << name;
        }
    }
    std::sort(services.begin(), services.end());
    // Ask every process at once, so that one that does not answer costs the
    // time limit once, not once per process.
    std::vector<QDBusPendingCall> calls;
    calls.reserve(services.size());
    for (const QString& service : services) {
        QDBusMessage call = QDBusMessage::createMethodCall(
            service, QString::fromLatin1(kProcessPath), QString::fromLatin1(kProcessInterface),
            QStringLiteral("ListWindows"));
        calls.push_back(bus.asyncCall(call, kCallTimeoutMs));
    }
    for (size_t i = 0; i < calls.size(); ++i) {
        QDBusPendingReply<QStringList> reply = calls[i];
        reply.waitForFinished();
        if (reply.isValid()) {
            appendRemote(services[qsizetype(i)], reply.value(), out);
        }
    }
    return out;
}

std::optional<WindowHandle> findWindow(const QString& caption) {
    for (const WindowInfo& w : listWindows()) {
        if (w.caption == caption) {
            return w.handle;
        }
    }
    return std::nullopt;
}

std::optional<WindowHandle> findWindowByRole(const QString& role) {
    for (const WindowInfo& w : listWindows()) {
        if (w.role == role) {
            return w.handle;
        }
    }
    return std::nullopt;
}

namespace {

// Sends one message; timedOut tells a window that did not answer in time
// from one that is gone.
std::optional<qint64> deliverTo(const WindowHandle& window, uint32_t message, quint64 wParam,
                                qint64 lParam, bool* timedOut) {
    if (window.service == ownService()) {
        WindowObject* w = localWindow(window);
        if (!w) {
            return std::nullopt;
        }
        QString error;
        std::optional<qint64> result = w->deliver(message, wParam, lParam, &error);
        if (!error.isEmpty()) {
            std::fprintf(stderr, "lyrabell: window message 0x%x failed: %s\n", message,
                         qPrintable(error));
        }
        return result;
    }
    if (!plausibleHandle(window) || !busAvailable()) {
        return std::nullopt;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(window.service, window.path,
                                                       QString::fromLatin1(kWindowInterface),
                                                       QStringLiteral("Deliver"));
    call << uint(message) << detail::registeredMessageName(message) << qulonglong(wParam)
         << qlonglong(lParam);
    const QDBusMessage reply =
        QDBusConnection::sessionBus().call(call, QDBus::Block, kCallTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() != 1) {
        if (timedOut) {
            const QDBusError::ErrorType type = QDBusError(reply).type();
            *timedOut = type == QDBusError::NoReply || type == QDBusError::Timeout;
        }
        return std::nullopt;
    }
    bool ok = false;
    const qint64 value = reply.arguments().constFirst().toLongLong(&ok);
    return ok ? std::optional<qint64>(value) : std::nullopt;
}

}  // namespace

std::optional<qint64> sendMessage(const WindowHandle& window, uint32_t message, quint64 wParam,
                                  qint64 lParam) {
    return deliverTo(window, message, wParam, lParam, nullptr);
}

int broadcastMessage(uint32_t message, quint64 wParam, qint64 lParam) {
    int handled = 0;
    QStringList hung;  // processes that let a window time out: their others would too
    for (const WindowInfo& w : listWindows()) {
        if (hung.contains(w.handle.service)) {
            continue;
        }
        bool timedOut = false;
        if (deliverTo(w.handle, message, wParam, lParam, &timedOut)) {
            ++handled;
        } else if (timedOut) {
            hung << w.handle.service;
        }
    }
    return handled;
}

bool setForegroundWindow(const WindowHandle& window) {
    if (window.service == ownService()) {
        WindowObject* w = localWindow(window);
        return w && w->raiseWindow();
    }
    if (!plausibleHandle(window) || !busAvailable()) {
        return false;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(window.service, window.path,
                                                       QString::fromLatin1(kWindowInterface),
                                                       QStringLiteral("Raise"));
    const QDBusMessage reply =
        QDBusConnection::sessionBus().call(call, QDBus::Block, kCallTimeoutMs);
    return reply.type() == QDBusMessage::ReplyMessage;
}

}  // namespace lyb::desktop

#include "desktop_bus.moc"
