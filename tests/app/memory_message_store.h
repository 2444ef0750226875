// A message store held in memory, for the window's tests: the records a test
// adds, logons that can be made to fail, and a count of the sessions alive.
#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "app/stored_messages.h"

namespace lyb::app {

// The fields of a voicemail kept in memory.
struct MemoryVoicemail {
    QString callerName;
    QString callerNumber;
    int32_t lengthSeconds = -1;
    int64_t receivedTime = 0;
    QString audioType = QStringLiteral(".wav");
    bool hasAudio = true;
    std::vector<uint8_t> audio;
};

// A store held in memory, keyed by entry identifier. Counts logons and the
// sessions alive, so callers can see that a session was released.
class CMemoryMessageStore final : public IMessageStore {
public:
    void add(const QByteArray& entryId, MemoryVoicemail voicemail);
    void setLogonFails(bool fails) { logonFails_ = fails; }

    std::unique_ptr<IStoreSession> logon() override;

    int logons() const { return logons_; }
    int sessionsAlive() const { return *alive_; }

private:
    std::map<QByteArray, MemoryVoicemail> messages_;
    bool logonFails_ = false;
    int logons_ = 0;
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

}  // namespace lyb::app
