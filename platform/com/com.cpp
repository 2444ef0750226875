#include "platform/com/com.h"

#include <cctype>

namespace lyb::com {

std::string guidText(const GUID& g) {
    char text[39];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  static_cast<unsigned>(g.Data1), g.Data2, g.Data3, g.Data4[0], g.Data4[1],
                  g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
    return text;
}

std::optional<GUID> parseGuid(std::string_view text) {
    // Hex digit positions of each byte, most significant first, in "{8-4-4-4-12}".
    if (text.size() != 38 || text.front() != '{' || text.back() != '}')
        return std::nullopt;
    uint8_t bytes[16];
    size_t at = 1;
    for (int i = 0; i < 16; ++i) {
        if (at == 9 || at == 14 || at == 19 || at == 24) {
            if (text[at] != '-')
                return std::nullopt;
            ++at;
        }
        unsigned value = 0;
        for (int k = 0; k < 2; ++k) {
            const unsigned char c = static_cast<unsigned char>(text[at++]);
            if (!std::isxdigit(c))
                return std::nullopt;
            value = value * 16 + (std::isdigit(c) ? c - '0' : std::tolower(c) - 'a' + 10);
        }
        bytes[i] = static_cast<uint8_t>(value);
    }
    GUID g{};
    g.Data1 =
        uint32_t(bytes[0]) << 24 | uint32_t(bytes[1]) << 16 | uint32_t(bytes[2]) << 8 | bytes[3];
    g.Data2 = static_cast<uint16_t>(bytes[4] << 8 | bytes[5]);
    g.Data3 = static_cast<uint16_t>(bytes[6] << 8 | bytes[7]);
    for (int i = 0; i < 8; ++i)
        g.Data4[i] = bytes[8 + i];
    return g;
}

CLIPFORMAT RegisterClipboardFormat(std::string_view name) {
    if (name.empty())
        return 0;
    // FNV-1a over the lower-cased name, folded into the registered range.
    uint32_t hash = 2166136261u;
    for (const char c : name) {
        hash ^= static_cast<uint8_t>(std::tolower(static_cast<unsigned char>(c)));
        hash *= 16777619u;
    }
    return static_cast<CLIPFORMAT>(0xC000u | ((hash ^ (hash >> 14)) & 0x3FFFu));
}

}  // namespace lyb::com
