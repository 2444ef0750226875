// CVoiceMailApp: the life of the Lyrabell process. The one-instance rule
// first, then the start-up sequence: the settings key, the file association,
// the play message, the store logon, and the main window run modally; the
// process ends when that window closes.
#pragma once

#include "app/stored_messages.h"
#include "platform/desktop/desktop.h"
#include "platform/names/names.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

namespace lyb::app {

class CMainDialog;

// The registered name of the play message.
inline constexpr const char* kPlayMessageName = names::kPlayMessage;

// The main window as the program runs it: the real decoding and playing
// engine, whose refusals from the decoding thread are shown in a message box
// of the window (a handed-over request waits while it is up), and the
// display form of phone numbers.
void setUpMainWindow(CMainDialog& window);

class CVoiceMailApp {
public:
    // store: the message store to log on to (null: none). setUp, when given,
    // runs on the main window before it is shown (it installs the playback
    // engine and the number forms).
    explicit CVoiceMailApp(std::unique_ptr<IMessageStore> store,
                           std::function<void(CMainDialog&)> setUp = {});
    ~CVoiceMailApp();  // releases the store session

    // Runs the program on its request (the command line). Returns the exit
    // code: -1 when another Lyrabell was brought up instead.
    int run(const QString& request);

    // The one-instance rule. When another Lyrabell holds the lock, looks for
    // its window in up to `rounds` rounds, intervalMs apart; when found, hands
    // a request of 2 or more characters over to it, brings it to the front and
    // returns -1. Otherwise returns nullopt: start normally. The lock is kept
    // for the life of this object.
    std::optional<int> enforceOneInstance(const QString& request, int rounds = 40,
                                          int intervalMs = 250);

    // Writes the associations of ".gsm" and "wavFile" in the classes root so
    // that wave and GSM files open with the launcher in programDir, and
    // programDir as "InstallDir", and registers the Inbox menu extension
    // beside it. A key that can't be created is skipped.
    static void registerFileAssociation(const QString& programDir);
    // Registers the Inbox menu extension found in programDir (through its own
    // DllRegisterServer) unless the registry already names it; nothing when
    // the library is not there. A failure is named on standard error.
    static void registerInboxExtension(const QString& programDir);
    // Returns the window of a running Lyrabell with this program path
    // (compared without regard to case), preferring its main window.
    static std::optional<desktop::WindowHandle> findInstanceWindow(const QString& programPath);
    // Hands a request over as the launcher does: "AutoPlay", then the play message.
    static void handOver(const QString& request);

    uint32_t playMessage() const { return playMessage_; }
    IStoreSession* session() const { return session_.get(); }

private:
    std::unique_ptr<IMessageStore> store_;
    std::function<void(CMainDialog&)> setUp_;
    std::unique_ptr<desktop::InstanceLock> lock_;
    std::unique_ptr<IStoreSession> session_;
    uint32_t playMessage_ = 0;
};

}  // namespace lyb::app
