// Keeps the session from going idle (screen saver, screen lock, sleep) while
// held. Asks the desktop portal first (org.freedesktop.portal.Inhibit with
// the idle flag; released by closing the request it returns) and, where the
// portal is missing or refuses, the screen saver service
// (org.freedesktop.ScreenSaver.Inhibit; released with its cookie).
//
// The calls are asynchronous: holding and letting go never wait on the bus,
// and a change made while a call is under way is carried out when it returns.
// Destroying a held inhibitor releases it and waits (at most a second) for
// the release to be delivered, so an ending process leaves nothing held.
// Without a session bus, or with neither service, holding does nothing.
#pragma once

#include <QObject>
#include <QString>

#include <memory>

namespace lyb::desktop {

class IdleInhibitor final : public QObject {
public:
    // reason: shown by desktops that list what holds them awake.
    explicit IdleInhibitor(QString reason, QObject* parent = nullptr);
    ~IdleInhibitor() override;
    IdleInhibitor(const IdleInhibitor&) = delete;
    IdleInhibitor& operator=(const IdleInhibitor&) = delete;

    void setHeld(bool held);
    // True once a service has granted the hold and until it is let go.
    bool holding() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace lyb::desktop
