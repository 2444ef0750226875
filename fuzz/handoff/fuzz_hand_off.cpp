// What one program hands another: a file name's bytes carried through a
// QString (the command line, "AutoPlay"), and the request read from it.
// Checks that every byte sequence comes back unchanged and that a local-file
// request always begins with its path.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "app/play_request.h"
#include "platform/desktop/file_names.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    if (bytes.contains('\0'))
        return 0;  // never part of a file name or an argument
    const QString name = lyb::desktop::decodeFileName(bytes);
    if (lyb::desktop::encodeFileName(name) != bytes)
        std::abort();
    const lyb::app::PlayRequest request = lyb::app::parsePlayRequest(name);
    if (request.kind == lyb::app::RequestKind::LocalFile && !name.startsWith(request.path))
        std::abort();
    (void)lyb::app::fileNameOf(request.path);
    return 0;
}
