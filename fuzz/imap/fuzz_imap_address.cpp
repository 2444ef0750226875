// IMAP account addresses as an accounts file gives them: arbitrary text. An
// address that parses has a user, a valid host and port, a folder, and a CA
// path that is empty or absolute; parsing it again gives the same.
#include <QString>

#include <cstdint>
#include <cstdlib>

#include "platform/mapi/imap_url.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString text =
        QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    lyb::mapi::ImapAddress a;
    QString error;
    if (!lyb::mapi::parseImapAddress(text, a, &error)) {
        if (error.isEmpty())
            std::abort();
        return 0;
    }
    if (a.user.isEmpty() || a.host.isEmpty() || a.port == 0 || a.folder.isEmpty() ||
        (!a.caFile.isEmpty() && !a.caFile.startsWith(QLatin1Char('/'))) ||
        !lyb::mapi::isImapAddress(text))
        std::abort();
    return 0;
}
