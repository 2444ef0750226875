// The DATA text of "lybtool reg set" read as the bytes of a value of a type:
// REG_SZ any text, REG_DWORD a number from 0 to 4294967295 (decimal or 0x
// hex), REG_BINARY hex digits in pairs.
#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

#include "platform/registry/registry.h"

namespace lyb::tool {

// The value's bytes, or nothing with why saying what is wrong with data.
std::optional<QByteArray> encodeRegData(reg::Type type, const QString& data, QString* why);

}  // namespace lyb::tool
