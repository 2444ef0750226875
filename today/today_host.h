// lybtoday: the host that shows the Today item in the desktop panel.
//
// It loads liblybtoday.so from its own folder, calls the entry point with its
// popup widget, and sends the item a refresh query every 2 s (the item
// recounts every third, so every 6 s). The panel's status area shows the
// program's icon (QSystemTrayIcon, a StatusNotifierItem on the session bus)
// with the item's text as tooltip; activating it opens the popup, which holds
// the item as the library paints it, and a click on the item starts Lyrabell.
// The item counts off the user-interface thread and tells the host when a
// count changed its text. When the count rises, one desktop notification says so
// (org.freedesktop.Notifications), grouped with Lyrabell's desktop entry: its
// "Play" action opens Lyrabell on the newest new voicemail, "Open Lyrabell"
// and the notification itself open Lyrabell (or bring the running one to the
// front). Lyrabell's account-change broadcast makes
// it recount at once. Once it is up it sets the shell-ready event.
#pragma once

#include <QList>
#include <QPointer>
#include <QString>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QWidget>

#include <memory>

#include "platform/desktop/desktop.h"
#include "today/today_protocol.h"

namespace lyb::today {

class CTodayHost : public QWidget {
    Q_OBJECT
public:
    CTodayHost();
    ~CTodayHost() override;

    // Loads the library at path and creates the item; the error text is empty
    // on success. Then shows the tray icon and sets the shell-ready event.
    QString start(const QString& libraryPath);
    // Sends one refresh query and follows what it says.
    void refresh();
    // Makes the item recount now: three queries in a row, one of which counts.
    void recountNow();

    QString itemText() const;
    long count() const { return count_; }
    QSystemTrayIcon& tray() { return tray_; }
    QWidget* item() const { return item_; }

    // The bus name of the notification service, its object and interface.
    static const char* const kNotifyService;

private slots:
    // The notification service's ActionInvoked: acts on those of our notifications.
    void actionInvoked(uint id, const QString& action);

protected:
    bool event(QEvent* e) override;

private:
    void follow(bool repaint);
    void notifyRise();
    void showPopup();

    void* library_ = nullptr;
    TodayListItem record_;
    QPointer<QWidget> item_;
    QTimer timer_;
    QSystemTrayIcon tray_;
    long count_ = 0;
    bool counted_ = false;  // the item's first count has been followed
    // The ids of the notifications shown.
    QList<uint> notifications_;
    std::unique_ptr<desktop::TopLevelWindow> window_;
};

// The number an item text gives ("You got 3 new voicemails": 3), 0 for none.
long countInText(const QString& text);

}  // namespace lyb::today
