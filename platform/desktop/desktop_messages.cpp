// Registered window messages.
//
// An id is computed, not handed out by a server: 0xC000 plus a hash of the
// lower-cased name, so every process arrives at the same id for the same name
// without asking anyone. Two different names can hash alike; the second one a
// process registers then gets the next free id instead, which may differ from
// what another process gave it. That is why a message always travels with its
// name as well, and the receiver translates the name through its own table
// (see Deliver in desktop_bus.cpp): a collision can change an id, never which
// message arrives.
#include "platform/desktop/desktop.h"
#include "platform/desktop/desktop_internal.h"

#include <QHash>
#include <QMutex>
#include <QMutexLocker>

namespace lyb::desktop {

namespace {

constexpr uint32_t kFirstId = 0xC000;
constexpr uint32_t kIdCount = 0x4000;

struct MessageTable {
    QMutex mutex;
    QHash<QString, uint32_t> byName;
    QHash<uint32_t, QString> byId;
};

MessageTable& table() {
    static MessageTable t;
    return t;
}

}  // namespace

uint32_t detail::fnv1a32(const QByteArray& bytes) {
    uint32_t hash = 2166136261u;
    for (char c : bytes) {
        hash ^= static_cast<uint8_t>(c);
        hash *= 16777619u;
    }
    return hash;
}

uint32_t registerWindowMessage(const QString& name) {
    if (name.isEmpty()) {
        return 0;
    }
    const QString key = name.toLower();
    MessageTable& t = table();
    QMutexLocker lock(&t.mutex);
    if (auto it = t.byName.constFind(key); it != t.byName.constEnd()) {
        return it.value();
    }
    uint32_t offset = detail::fnv1a32(key.toUtf8()) % kIdCount;
    for (uint32_t tries = 0; tries < kIdCount; ++tries) {
        const uint32_t id = kFirstId + (offset + tries) % kIdCount;
        if (!t.byId.contains(id)) {
            t.byName.insert(key, id);
            t.byId.insert(id, key);
            return id;
        }
    }
    return 0;  // all 16384 ids taken by other names
}

QString detail::registeredMessageName(uint32_t id) {
    if (id < kFirstId) {
        return {};
    }
    MessageTable& t = table();
    QMutexLocker lock(&t.mutex);
    return t.byId.value(id);
}

}  // namespace lyb::desktop
