// A menu a messaging host hands its extensions: the items in order, each
// with its command id, text and enabled state. lyminbox and the tests use it.
#pragma once

#include "platform/com/com.h"

#include <QString>

#include <algorithm>
#include <vector>

namespace lyb::inboxext {

class HostMenu final : public com::HMENU__ {
public:
    struct Item {
        uint32_t id;
        QString text;
        bool enabled = true;
    };
    std::vector<Item> items;

    bool insertByPosition(uint32_t position, uint32_t id, const char* text) override {
        if (!text)
            return false;
        items.insert(items.begin() + std::min<size_t>(position, items.size()),
                     Item{id, QString::fromUtf8(text)});
        return true;
    }
    bool enableByCommand(uint32_t id, bool enabled) override {
        for (auto& item : items)
            if (item.id == id) {
                item.enabled = enabled;
                return true;
            }
        return false;
    }
};

}  // namespace lyb::inboxext
