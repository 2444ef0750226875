// What one program hands another: a file name's bytes carried through a
// QString (the command line, "AutoPlay"), and the play request read from it.
// Every byte sequence must come back unchanged, and a local-file request must
// begin with its path.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "app/play_request.h"
#include "platform/files/file_names.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    if (bytes.contains('\0'))
        return 0;  // never part of a file name or an argument
    const QString name = lyb::files::decodeFileName(bytes);
    if (lyb::files::encodeFileName(name) != bytes)
        std::abort();
    const lyb::app::PlayRequest request = lyb::app::parsePlayRequest(name);
    if (request.kind == lyb::app::RequestKind::LocalFile && !name.startsWith(request.path))
        std::abort();
    (void)lyb::app::fileNameOf(request.path);
    return 0;
}
