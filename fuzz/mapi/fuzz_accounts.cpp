// The accounts file (accounts.conf) as loadAccounts reads it: arbitrary bytes
// taken as file-name text (file_names.h). Every account read has a name, and
// a Maildir that is empty or an absolute path without "." or ".." steps.
#include <QDir>
#include <QString>

#include <cstdint>
#include <cstdlib>

#include "platform/files/file_names.h"
#include "platform/mapi/maildir_provider.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString text = lyb::files::decodeFileName(
        QByteArrayView(reinterpret_cast<const char*>(data), qsizetype(size)));
    for (const auto& account : lyb::mapi::parseAccounts(text, QStringLiteral("/home/u/.config"))) {
        if (account.displayName.isEmpty())
            std::abort();
        if (!account.maildir.isEmpty() && (!QDir::isAbsolutePath(account.maildir) ||
                                           QDir::cleanPath(account.maildir) != account.maildir))
            std::abort();
    }
    return 0;
}
