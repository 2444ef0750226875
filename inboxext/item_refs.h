// The selection a messaging host hands its menu extensions: the block its data
// object gives in the clipboard format "ItemRefArray", and the ids both sides
// know. Plain structs in C layout; pointers are the platform's size.
#pragma once

#include "platform/com/com.h"

#include <cstddef>
#include <cstdint>

namespace lyb::inboxext {

inline constexpr const char* kItemRefArrayFormat = "ItemRefArray";

// The type of an item that is a message; its reference is a MessageRef.
inline constexpr com::GUID kMessageType{
    0x412F24E9, 0x87E6, 0x4BD5, {0x98, 0x20, 0x23, 0xE9, 0x23, 0x0D, 0x6E, 0x8D}};

// The two class ids of the menu extension: mode 1 for the list and read view
// menus, mode 0 for the list view's context menu.
inline constexpr com::CLSID kMenuExtensionClass{
    0x934366F1, 0x2B2F, 0x4E89, {0xB9, 0x2C, 0x37, 0x33, 0xF3, 0xB2, 0x3B, 0x7F}};
inline constexpr com::CLSID kContextMenuExtensionClass{
    0x21880FEA, 0x7F1D, 0x49F8, {0x84, 0x94, 0x3D, 0x6B, 0xDD, 0x2D, 0x62, 0x6B}};

// The extension points of the host, below HKLM; each has one subkey per
// registered class id.
inline constexpr const char* kExtensionsKey =
    "SOFTWARE\\Microsoft\\Shell\\Extensions\\ContextMenus\\Inbox";

// A message's entry identifier: count bytes at bytes.
struct MessageRef {
    uint32_t count;
    const uint8_t* bytes;
};

struct ItemRef {
    const com::GUID* type;
    const void* ref;  // a MessageRef for the message type
};

// The block: a 32-bit count, then count ItemRefs at kItemsOffset.
inline constexpr size_t kItemsOffset = alignof(ItemRef) > sizeof(uint32_t) ? alignof(ItemRef)
                                                                           : sizeof(uint32_t);

inline uint32_t itemCount(const void* block) {
    return *static_cast<const uint32_t*>(block);
}
inline const ItemRef* items(const void* block) {
    return reinterpret_cast<const ItemRef*>(static_cast<const char*>(block) + kItemsOffset);
}

}  // namespace lyb::inboxext
