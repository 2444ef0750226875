// The message store of the running program: store sessions over the Maildir
// accounts, and voicemail records built by the voicemail store.
#pragma once

#include "app/stored_messages.h"

namespace lyb::app {

class CMaildirMessageStore final : public IMessageStore {
public:
    std::unique_ptr<IStoreSession> logon() override;
};

}  // namespace lyb::app
