// Pieces shared by the files of the desktop library; not for its users.
#pragma once

#include <QString>

#include <cstdint>

namespace lyb::desktop::detail {

// Returns the name a registered message id stands for in this process, or an
// empty string when the id was not registered here.
QString registeredMessageName(uint32_t id);

// Returns the 32-bit FNV-1a hash of the bytes.
uint32_t fnv1a32(const QByteArray& bytes);

}  // namespace lyb::desktop::detail
