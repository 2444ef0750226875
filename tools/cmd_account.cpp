// lybtool account: an IMAP account's password, kept in the desktop's Secret
// Service (platform/secrets).
#include <cstdio>
#include <string>

#include "platform/secrets/secrets.h"
#include "tools/command.h"

namespace {

using lyb::tool::err;
using lyb::tool::out;

using lyb::tool::kFailed;
using lyb::tool::kUsage;

// The password is the first line of standard input, its line end left off;
// anything after it is not read.
int runAccount(const QStringList& args) {
    if (args.size() != 2 || args[0] != QLatin1String("password")) {
        err(QStringLiteral(
            "usage: lybtool account password NAME  (the password on standard input)"));
        return kUsage;
    }
    std::string line;
    for (int c; (c = std::getchar()) != EOF && c != '\n';)
        line.push_back(static_cast<char>(c));
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    if (line.empty()) {
        err(QStringLiteral("lybtool account password: no password on standard input"));
        return kFailed;
    }
    QString error;
    if (!lyb::secrets::storePassword(args[1], QString::fromStdString(line), &error)) {
        err(QStringLiteral("lybtool account password: the password could not be stored: %1")
                .arg(error));
        return kFailed;
    }
    out(QStringLiteral("Password stored for \"%1\"").arg(args[1]));
    return 0;
}

const lyb::tool::Registration account{
    {"account", "password NAME",
     "store an IMAP account's password (read from standard input) in the desktop's Secret Service",
     runAccount}};

}  // namespace
