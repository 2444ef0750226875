// The file-name codec lives with the other file helpers (platform/files), so
// that the libraries below this one use the same rule; the programs built on
// this library keep calling it by these names.
#pragma once

#include "platform/files/file_names.h"

namespace lyb::desktop {

using files::decodeFileName;
using files::encodeFileName;

}  // namespace lyb::desktop
