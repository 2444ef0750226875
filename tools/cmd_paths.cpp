// lybtool paths: where the programs look for their folders and files, for
// checking an installation.
#include "contacts/voicemail_listing.h"
#include "platform/mapi/maildir_provider.h"
#include "platform/paths/paths.h"
#include "platform/registry/registry.h"
#include "tools/command.h"

namespace {

int run(const QStringList& args) {
    if (!args.isEmpty()) {
        lyb::tool::err(QStringLiteral("usage: lybtool paths"));
        return 2;
    }
    const auto line = [](const char* what, const QString& where) {
        lyb::tool::out(QStringLiteral("%1\t%2").arg(QLatin1String(what), where));
    };
    line("programs", lyb::paths::program_folder());
    line("data", lyb::paths::data_folder());
    line("help", lyb::paths::help_folder());
    line("demo", lyb::mapi::demoMaildir());
    line("accounts", lyb::mapi::accountsFilePath());
    line("contacts", lyb::contacts::listing_contacts_folder());
    line("registry", lyb::reg::databasePath());
    return 0;
}

const lyb::tool::Registration reg{
    {"paths", "",
     "prints the folders in use: programs, data, help pages, demo Maildir (empty when "
     "missing), accounts file, contacts folder and registry file",
     run}};

}  // namespace
