#include "platform/desktop/idle_inhibit.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCall>
#include <QDBusPendingCallWatcher>
#include <QVariantMap>

#include <algorithm>
#include <optional>
#include <vector>

namespace lyb::desktop {

namespace {

const QString kPortalService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kPortalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kPortalInterface = QStringLiteral("org.freedesktop.portal.Inhibit");
const QString kRequestInterface = QStringLiteral("org.freedesktop.portal.Request");
const QString kSaverService = QStringLiteral("org.freedesktop.ScreenSaver");
const QString kSaverPath = QStringLiteral("/org/freedesktop/ScreenSaver");
constexpr uint kIdleFlag = 8;
constexpr int kReleaseWaitMs = 1000;

}  // namespace

struct IdleInhibitor::Impl {
    IdleInhibitor* owner;
    QString reason;
    bool wanted = false;
    bool portalRefused = false;  // ask the screen saver straight away from now on
    bool refused = false;        // neither would hold this time; asked again next time
    // The Inhibit call under way, and whether it went to the portal.
    QDBusPendingCallWatcher* asking = nullptr;
    bool askingPortal = false;
    QString request;             // the portal's request while it holds
    std::optional<uint> cookie;  // the screen saver's cookie while it holds
    std::vector<QDBusPendingCall> releases;

    bool held() const { return !request.isEmpty() || cookie.has_value(); }

    void sync() {
        if (asking)
            return;
        if (wanted && !held() && !refused)
            ask(!portalRefused);
        else if (!wanted && held())
            release();
    }

    void ask(bool portal) {
        QDBusConnection bus = QDBusConnection::sessionBus();
        if (!bus.isConnected())
            return;
        QDBusMessage call;
        if (portal) {
            call = QDBusMessage::createMethodCall(kPortalService, kPortalPath, kPortalInterface,
                                                  QStringLiteral("Inhibit"));
            call << QString() << kIdleFlag << QVariantMap{{QStringLiteral("reason"), reason}};
        } else {
            call = QDBusMessage::createMethodCall(kSaverService, kSaverPath, kSaverService,
                                                  QStringLiteral("Inhibit"));
            call << QCoreApplication::applicationName() << reason;
        }
        asking = new QDBusPendingCallWatcher(bus.asyncCall(call), owner);
        askingPortal = portal;
        QObject::connect(asking, &QDBusPendingCallWatcher::finished, owner,
                         [this](QDBusPendingCallWatcher* done) {
                             if (done == asking)
                                 answered(true);
                         });
    }

    // The Inhibit call has returned: keeps what it granted, falls back from
    // the portal to the screen saver, and catches up with setHeld.
    void answered(bool goOn) {
        const QDBusMessage reply = asking->reply();
        const bool portal = askingPortal;
        asking->deleteLater();
        asking = nullptr;
        const bool ok = reply.type() == QDBusMessage::ReplyMessage && reply.arguments().size() == 1;
        if (ok && portal)
            request = reply.arguments().at(0).value<QDBusObjectPath>().path();
        else if (ok)
            cookie = reply.arguments().at(0).toUInt();
        if (!ok && portal) {
            portalRefused = true;
            if (goOn && wanted)
                ask(false);
            return;
        }
        refused = !ok;
        if (goOn)
            sync();
    }

    void release() {
        QDBusMessage call;
        if (!request.isEmpty()) {
            call = QDBusMessage::createMethodCall(kPortalService, request, kRequestInterface,
                                                  QStringLiteral("Close"));
        } else {
            call = QDBusMessage::createMethodCall(kSaverService, kSaverPath, kSaverService,
                                                  QStringLiteral("UnInhibit"));
            call << *cookie;
        }
        request.clear();
        cookie.reset();
        std::erase_if(releases, [](const QDBusPendingCall& c) { return c.isFinished(); });
        releases.push_back(QDBusConnection::sessionBus().asyncCall(call, kReleaseWaitMs));
    }
};

IdleInhibitor::IdleInhibitor(QString reason, QObject* parent)
    : QObject(parent), impl_(std::make_unique<Impl>()) {
    impl_->owner = this;
    impl_->reason = std::move(reason);
}

IdleInhibitor::~IdleInhibitor() {
    impl_->wanted = false;
    // Waiting on the watcher hands its answer over at once (finished), which
    // lets go of what it granted.
    if (QDBusPendingCallWatcher* asking = impl_->asking) {
        asking->waitForFinished();
        if (impl_->asking == asking)
            impl_->answered(false);
    }
    if (impl_->held())
        impl_->release();
    for (QDBusPendingCall& call : impl_->releases)
        call.waitForFinished();
}

void IdleInhibitor::setHeld(bool held) {
    if (!held)
        impl_->refused = false;
    impl_->wanted = held;
    impl_->sync();
}

bool IdleInhibitor::holding() const {
    return impl_->held();
}

}  // namespace lyb::desktop
