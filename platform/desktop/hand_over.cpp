#include "platform/desktop/hand_over.h"

#include "platform/desktop/desktop.h"
#include "platform/names/names.h"
#include "platform/registry/registry.h"

namespace lyb::desktop {

HandOverResult handOverRequest(const HandOver& handOver) {
    const UserLock lock(names::kHandOverLock, handOver.lockWaitMs);
    const auto settings = [] {
        return reg::Key::create(reg::Hive::CurrentUser, QString::fromLatin1(names::kSettingsKey));
    };
    if (handOver.entryId) {
        const auto key = settings();
        if (!key || !key->writeBinary(QString::fromLatin1(names::kMsgEntryId), *handOver.entryId))
            return HandOverResult::Dropped;
    }
    const bool running =
        handOver.running
            ? handOver.running()
            : findWindowByRole(QString::fromLatin1(names::kMainWindowRole)).has_value();
    if (!running)
        return handOver.start && handOver.start(handOver.request) ? HandOverResult::Started
                                                                  : HandOverResult::Dropped;
    const auto key = settings();
    if (!key || !key->writeString(QString::fromLatin1(names::kAutoPlay), handOver.request, true))
        return HandOverResult::Dropped;
    // Returns once Lyrabell has read "AutoPlay" and emptied it; the lock is
    // held until then.
    broadcastMessage(registerWindowMessage(QString::fromLatin1(names::kPlayMessage)), 0, 0);
    return HandOverResult::Notified;
}

}  // namespace lyb::desktop
