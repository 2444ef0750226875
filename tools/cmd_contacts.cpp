// lybtool contacts: which contact a caller number names.
#include "contacts/contacts.h"
#include "platform/pim/pim.h"
#include "tools/command.h"

namespace {

int run(const QStringList& args) {
    using lyb::tool::err;
    using lyb::tool::out;
    namespace pim = lyb::pim;
    if (args.size() < 2 || args[0] != QLatin1String("match")) {
        err(QStringLiteral("usage: lybtool contacts match NUMBER"));
        return 2;
    }
    const QString number = args.mid(1).join(QLatin1Char(' '));
    auto app = pim::Application::create();
    if (!app || app->logon(nullptr) != pim::kOk) {
        err(QStringLiteral("Cannot open the contacts in %1.").arg(pim::contactsFolder()));
        return 1;
    }
    std::unique_ptr<pim::Contact> contact;
    if (app->matchContact(number, pim::kMatchTelephoneNumbers, &contact) != pim::kOk) {
        err(QStringLiteral("No contact has the number %1 (region %2).").arg(number, app->region()));
        return 1;
    }
    // The name the voicemail list would show, then the card's file.
    const QString shown =
        lyb::contacts::resolve_caller_name(*app, number, QString()).value_or(QString());
    out(QStringLiteral("%1\t%2").arg(shown, contact ? contact->filePath() : QString()));
    return 0;
}

const lyb::tool::Registration reg{
    {"contacts", "match NUMBER",
     "prints the file-as name and card file of the contact with that telephone number", run}};

}  // namespace
