// The desktop: top-level windows that other processes can find and send
// messages to, registered window messages, the one-instance lock, and starting
// programs and URLs. Built on the D-Bus session bus (Qt DBus).
//
// Every process of ours that has windows owns one bus name; each registered
// window is an object on it with its caption, process id, program path and
// role. Sending a message is a synchronous bus call: it returns when the window
// has handled the message, or after 5 s without an answer (the window is then
// skipped). Broadcasting sends to every window of every process in turn.
//
// With no reachable session bus nothing fails: finding finds nothing,
// broadcasts reach nobody, and one line on standard error says so.
//
// Everything here is called from the thread that runs the Qt event loop.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "platform/paths/paths.h"

namespace lyb::desktop {

// Window messages with the values the system has always used.
constexpr uint32_t WM_SETTINGCHANGE = 0x001A;
constexpr uint32_t WM_USER = 0x0400;

// Identifies a window anywhere on the session: its owner's bus name and its object path.
struct WindowHandle {
    QString service;
    QString path;
    bool operator==(const WindowHandle&) const = default;
};

struct WindowInfo {
    WindowHandle handle;
    QString caption;
    qint64 pid = 0;
    QString programPath;  // absolute path of the owning program
    QString role;         // what the window is, e.g. "lyrabell.main"; may be empty
};

// Answers a message sent to a window; returns the message's result. A window
// made without a handler answers every message with 0.
using MessageHandler = std::function<qint64(uint32_t message, quint64 wParam, qint64 lParam)>;

// A top-level window as the rest of the session sees it. Registered on
// construction, unregistered on destruction. The raise function brings the
// real widget to the front (raise and activate).
class TopLevelWindow {
public:
    TopLevelWindow(QString caption, QString role, MessageHandler handler,
                   std::function<void()> raise);
    ~TopLevelWindow();
    TopLevelWindow(const TopLevelWindow&) = delete;
    TopLevelWindow& operator=(const TopLevelWindow&) = delete;

    void setCaption(const QString& caption);
    QString caption() const;
    WindowHandle handle() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// Returns true when the session bus is reachable.
bool busAvailable();

// Returns the same id for the same name (compared without regard to case) in
// every process of the session; ids lie in 0xC000..0xFFFF. 0 for an empty name.
uint32_t registerWindowMessage(const QString& name);

// Lists every registered top-level window of the session, this process's included.
std::vector<WindowInfo> listWindows();
// Finds the first window whose caption is exactly caption.
std::optional<WindowHandle> findWindow(const QString& caption);
// Finds the first window with this role (any caption).
std::optional<WindowHandle> findWindowByRole(const QString& role);

// Sends a message to one window and waits for its answer (at most 5 s);
// nullopt when the window is gone or did not answer in time.
std::optional<qint64> sendMessage(const WindowHandle& window, uint32_t message, quint64 wParam,
                                  qint64 lParam);
// Sends the message to every window, one after the other, each with the 5 s
// limit; once a window has not answered in time, the other windows of its
// process are skipped too. Returns the number of windows that handled it.
int broadcastMessage(uint32_t message, quint64 wParam, qint64 lParam);

// Brings a window to the front (raise and activate). False when it is gone.
bool setForegroundWindow(const WindowHandle& window);

// The one-instance lock of a program, named from its path: a lock file in the
// private runtime folder held with flock, so it is released when the process
// ends, however it ends. When XDG_RUNTIME_DIR is unset the lock file lives in
// $TMPDIR/lyrabell-<uid> (a folder checked to be this user's, mode 0700, not a
// link), since a per-process folder would let every instance be the first.
// Only the first holder holds the lock: a later instance that keeps running
// does not make a third see alreadyExisted once the first has ended.
// When that folder or the lock file in it is refused (another user's, or a
// link), one line says so and the session bus decides instead: the lock
// already existed when another process has a window of this program.
class InstanceLock {
public:
    explicit InstanceLock(const QString& programPath);
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // True when another process held the lock when this one was made.
    bool alreadyExisted() const { return alreadyExisted_; }
    // Gives the lock up early (the destructor does it otherwise).
    void release();

private:
    int fd_ = -1;
    bool alreadyExisted_ = false;
};

// A per-user lock by name, waited for: a lock file beside the instance locks
// (in the runtime folder), held with flock until destruction or the end of
// the process. A lock file that is not this user's own, or a link, is refused
// as the instance lock's is. The wait is bounded (10 s unless told): a holder
// that never lets go must not stop every later process for good. Without a
// usable lock file, or once the wait is over, nothing is held; one line on
// standard error says so and the caller goes on unprotected.
class UserLock {
public:
    // name: letters, digits, '-' and '.', no slash.
    explicit UserLock(const char* name, int waitMs = 10000);
    ~UserLock();
    UserLock(const UserLock&) = delete;
    UserLock& operator=(const UserLock&) = delete;

    bool held() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

// Makes SIGTERM (the session's logout) and SIGHUP (a closed terminal) end
// every running Qt event loop, so that the program ends as it does when its
// window closes: its destructors run (playback stops, the files and folders
// it made are removed). A second such signal ends it at once. Call once the
// application object exists; later calls do nothing.
void quitOnEndSignals();

// The verb "Open": a program path started with its parameter text as one
// argument (posix_spawn, no shell, no wait; no argument when the text is
// empty; both made bytes by encodeFileName, file_names.h), or a URL (http:,
// https:, tel:, file:, mailto:) through the desktop's handler (the program
// named by LYRABELL_URL_OPENER when that is set, else xdg-open, else, in a
// GUI program, QDesktopServices; sms: is taken too). False when nothing
// started: a missing or non-executable file among others. Started programs
// are waited for in the background, so none stays a zombie.
// A URL that nothing opens is handed to the open-failure reporter: at once
// when no handler starts, or when the handler ends with a status other than
// 0 (xdg-open found no program for it, or the program failed).
bool shellExecuteOpen(const QString& file, const QString& parameters);

// Tells the user that something could not be opened: target is the URL, or
// the program that could not be started. Runs on the application object's
// thread, from its event loop.
using OpenFailureReporter = std::function<void(const QString& target)>;
// Installs the reporter; empty: none (failures then show nowhere).
void setOpenFailureReporter(OpenFailureReporter reporter);
// Hands target to the installed reporter from the event loop, from any
// thread; nothing without an application object or a reporter.
void reportOpenFailure(const QString& target);

// Starts program (searched on PATH when it has no slash) with each argument
// passed as one argument of its own, without a shell and without waiting;
// program made bytes by encodeFileName, arguments as UTF-8. False when it
// could not be started (missing, not executable, empty name).
bool startProgram(const QString& program, const QStringList& arguments);

// The absolute path of the running program; one rule for every library, so
// that the instance lock and the bus name the same file.
using paths::currentProgramPath;
// Returns the private per-user folder for temporary files and locks:
// $XDG_RUNTIME_DIR/lyrabell (created 0700), or a private mkdtemp folder
// when XDG_RUNTIME_DIR is unset. Never a world-writable fixed path.
// The folder is checked on the opened folder, not by its name: it must be a
// folder of this user, not a link. One left open to others is made 0700 and
// reported on standard error (entries others placed in it may remain, so
// files are never opened there through an existing name); anything else
// unexpected is reported once and a fresh mkdtemp folder is used. The mkdtemp
// folders, with what is in them, are removed when the process exits normally.
QString runtimeDir();

}  // namespace lyb::desktop
