// lybtoday as a desktop session sees it, on a private session bus: a small
// status-notifier watcher and notification service of the test's own take
// the tray icon's registration and the notifications; the item's tooltip is
// read back over the bus as mail arrives and is read in the account.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QThread>

#include <functional>

#include "tests/platform/mapi/maildir_fixture.h"
#include "tests/today/today_account.h"
#include "today/today_host.h"

namespace lyb::today {

class FakeWatcher : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ hostRegistered)
    Q_PROPERTY(int ProtocolVersion READ protocolVersion)
    Q_PROPERTY(QStringList RegisteredStatusNotifierItems READ items)
public:
    bool hostRegistered() const { return true; }
    int protocolVersion() const { return 0; }
    QStringList items() const { return items_; }
    QString sender;  // the bus name that registered the item

public Q_SLOTS:
    void RegisterStatusNotifierItem(const QString& service, const QDBusMessage& message) {
        sender = message.service();
        items_ << service;
        Q_EMIT StatusNotifierItemRegistered(service);
    }
    void RegisterStatusNotifierHost(const QString&) {}

Q_SIGNALS:
    void StatusNotifierItemRegistered(const QString& service);

private:
    QStringList items_;
};

class FakeNotifications : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    QStringList summaries;
    QStringList actions;  // the last notification's
    QVariantMap hints;

public Q_SLOTS:
    uint Notify(const QString&, uint, const QString&, const QString& summary, const QString&,
                const QStringList& actionList, const QVariantMap& hintMap, int) {
        summaries << summary;
        actions = actionList;
        hints = hintMap;
        return static_cast<uint>(summaries.size());
    }
    QStringList GetCapabilities() { return {QStringLiteral("body")}; }
    QString GetServerInformation(QString& vendor, QString& version, QString& specVersion) {
        vendor = QStringLiteral("test");
        version = QStringLiteral("1");
        specVersion = QStringLiteral("1.2");
        return QStringLiteral("test");
    }
    void CloseNotification(uint) {}
};

namespace {

using testing::MaildirFixture;
using testing::MailParts;
using testing::pcmWave;
using testing::voicemailMail;

// Waits, handling events, until done() or 60 s have passed.
bool waitFor(const std::function<bool()>& done) {
    QDeadlineTimer deadline(60000);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        QThread::msleep(20);
    }
    return true;
}

// The title of the item's tooltip, read over the bus; empty when unreadable.
QString toolTip(const QString& service) {
    QDBusMessage get = QDBusMessage::createMethodCall(
        service, QStringLiteral("/StatusNotifierItem"),
        QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get << QStringLiteral("org.kde.StatusNotifierItem") << QStringLiteral("ToolTip");
    const QDBusMessage reply = QDBusConnection::sessionBus().call(get, QDBus::Block, 5000);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return {};
    const QDBusArgument arg =
        reply.arguments().first().value<QDBusVariant>().variant().value<QDBusArgument>();
    QString icon, title, description;
    arg.beginStructure();
    arg >> icon;
    arg.beginArray();
    while (!arg.atEnd()) {
        int w = 0, h = 0;
        QByteArray pixels;
        arg.beginStructure();
        arg >> w >> h >> pixels;
        arg.endStructure();
    }
    arg.endArray();
    arg >> title >> description;
    arg.endStructure();
    return title;
}

TEST(TodayHost, TrayFollowsTheCountAndNotifiesOncePerRise) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    ASSERT_TRUE(bus.isConnected());
    FakeWatcher watcher;
    FakeNotifications notifications;
    const auto exportAll = QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals |
                           QDBusConnection::ExportAllProperties;
    ASSERT_TRUE(bus.registerObject(QStringLiteral("/StatusNotifierWatcher"), &watcher, exportAll));
    ASSERT_TRUE(bus.registerService(QStringLiteral("org.kde.StatusNotifierWatcher")));
    ASSERT_TRUE(bus.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &notifications,
                                   exportAll));
    ASSERT_TRUE(bus.registerService(QStringLiteral("org.freedesktop.Notifications")));

    MaildirFixture md;
    testing::chooseTodayAccount(md);
    const QString first = md.deliver(voicemailMail());

    // The panel's icon needs a real window system's platform: a private X server.
    QProcess xserver;
    xserver.start(QStringLiteral("Xvfb"),
                  {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-nolisten"),
                   QStringLiteral("tcp"), QStringLiteral("-screen"), QStringLiteral("0"),
                   QStringLiteral("640x480x24")});
    ASSERT_TRUE(xserver.waitForStarted(10000));
    ASSERT_TRUE(waitFor([&] { return xserver.canReadLine(); })) << "Xvfb gave no display";
    const QString display = QLatin1Char(':') + QString::fromLatin1(xserver.readLine().trimmed());

    QProcess host;
    host.setProcessChannelMode(QProcess::ForwardedChannels);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), display);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    host.setProcessEnvironment(env);
    host.start(QStringLiteral(LYB_TODAY_HOST), {});
    ASSERT_TRUE(host.waitForStarted(10000));

    ASSERT_TRUE(waitFor([&] { return !watcher.sender.isEmpty(); })) << "no item registered";
    const QString item = watcher.sender;
    EXPECT_TRUE(waitFor([&] { return toolTip(item) == QLatin1String("You got 1 new voicemail"); }))
        << qPrintable(toolTip(item));

    const QString second = md.deliver(voicemailMail());
    EXPECT_TRUE(waitFor([&] { return toolTip(item) == QLatin1String("You got 2 new voicemails"); }))
        << qPrintable(toolTip(item));
    EXPECT_TRUE(waitFor([&] { return !notifications.summaries.isEmpty(); }));

    // Both read in the account: the count falls, and nobody is told.
    for (const QString& unique : {first, second}) {
        const QString path = md.pathOf(unique);
        const QString read = md.root + QStringLiteral("/cur/") + unique + QStringLiteral(":2,S");
        ASSERT_TRUE(QFile::rename(path, read));
    }
    EXPECT_TRUE(waitFor([&] {
        return toolTip(item) == QLatin1String("You have no new voicemails");
    })) << qPrintable(toolTip(item));

    // A rise again is told again. This voicemail is the one of twenty seconds.
    MailParts newest;
    newest.attachData = pcmWave(20);
    md.deliver(voicemailMail(newest));
    EXPECT_TRUE(waitFor([&] { return toolTip(item) == QLatin1String("You got 1 new voicemail"); }));
    EXPECT_TRUE(waitFor([&] { return notifications.summaries.size() >= 2; }));
    EXPECT_EQ(notifications.summaries, QStringList({QStringLiteral("You got 2 new voicemails"),
                                                    QStringLiteral("You got 1 new voicemail")}));
    // It leads to Lyrabell, and groups with it.
    EXPECT_EQ(notifications.actions,
              QStringList({"default", "Open Lyrabell", "play", "Play", "open", "Open Lyrabell"}));
    EXPECT_EQ(notifications.hints.value(QStringLiteral("desktop-entry")).toString(),
              QStringLiteral("org.lyrabell.Lyrabell"));

    // Play: Lyrabell starts on the newest new voicemail, as its media controls tell.
    QDBusMessage invoked = QDBusMessage::createSignal(
        QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("ActionInvoked"));
    invoked << 2u << QStringLiteral("play");
    ASSERT_TRUE(bus.send(invoked));
    const QString player = QStringLiteral("org.mpris.MediaPlayer2.lyrabell");
    const auto playerProperty = [&](const char* name) {
        QDBusMessage get = QDBusMessage::createMethodCall(
            player, QStringLiteral("/org/mpris/MediaPlayer2"),
            QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
        get << QStringLiteral("org.mpris.MediaPlayer2.Player") << QString::fromLatin1(name);
        const QDBusMessage reply = bus.call(get, QDBus::Block, 5000);
        return reply.arguments().value(0).value<QDBusVariant>().variant();
    };
    EXPECT_TRUE(waitFor([&] {
        return qdbus_cast<QVariantMap>(playerProperty("Metadata"))
                   .value(QStringLiteral("mpris:length"))
                   .toLongLong() == 20000000;
    }));
    QDBusMessage quit = QDBusMessage::createMethodCall(
        player, QStringLiteral("/org/mpris/MediaPlayer2"), QStringLiteral("org.mpris.MediaPlayer2"),
        QStringLiteral("Quit"));
    bus.call(quit, QDBus::Block, 5000);
    EXPECT_TRUE(waitFor([&] { return !bus.interface()->isServiceRegistered(player).value(); }));

    host.terminate();
    EXPECT_TRUE(host.waitForFinished(10000));
}

// In the host's own process: Lyrabell's account-change broadcast makes the
// item recount, which the host follows.
TEST(TodayHost, AccountChangeRecounts) {
    MaildirFixture md;
    testing::chooseTodayAccount(md);
    CTodayHost host;
    ASSERT_EQ(host.start(QStringLiteral(LYB_TODAY_LIBRARY)), QString());
    // The item counts off the user-interface thread: nothing to show at first.
    EXPECT_EQ(host.itemText(), QString());
    EXPECT_EQ(host.tray().toolTip(), QStringLiteral("Lyrabell"));
    ASSERT_TRUE(waitFor([&] { return !host.itemText().isEmpty(); }));
    EXPECT_EQ(host.itemText(), QStringLiteral("You have no new voicemails"));

    md.deliver(voicemailMail());
    EXPECT_GE(desktop::broadcastMessage(desktop::WM_SETTINGCHANGE, 0xF2, 0), 1);
    EXPECT_TRUE(waitFor([&] {
        return host.count() == 1 &&
               host.tray().toolTip() == QLatin1String("You got 1 new voicemail");
    })) << qPrintable(host.tray().toolTip());
}

}  // namespace
}  // namespace lyb::today

#include "test_today_host.moc"
