#include "contacts/contacts.h"

#include "contacts/number_forms.h"

namespace lyb::contacts {

std::optional<QString> resolve_caller_name(pim::Application& app, const QString& callerNumber,
                                           const QString& callerName) {
    if (callerNumber.isEmpty())
        return std::nullopt;
    std::unique_ptr<pim::Contact> contact;
    if (app.matchContact(callerNumber, pim::kMatchTelephoneNumbers, &contact) != pim::kOk)
        return std::nullopt;
    if (contact) {
        QString fileAs;
        if (contact->getProperty(pim::kPropFileAs, &fileAs) == pim::kOk && !fileAs.isEmpty())
            return fileAs;
        return std::nullopt;
    }
    if (callerName.isEmpty())
        return callerNumber;
    return std::nullopt;
}

namespace {

// A card is listed and matched under its FN: with "File as" left empty it
// is named by first and last name, else by its number.
void name_card(pim::Contact& contact) {
    if (!contact.fileAs().trimmed().isEmpty())
        return;
    const QString first = contact.firstName().trimmed();
    const QString last = contact.lastName().trimmed();
    const QString name = first.isEmpty() || last.isEmpty() ? first + last : first + u' ' + last;
    contact.setFileAs(name.isEmpty() ? contact.mobileTelephoneNumber().trimmed() : name);
}

}  // namespace

AddResult add_caller_to_contacts(const QString& callerName, const QString& callerNumber,
                                 QObject* owner) {
    auto app = pim::Application::create();
    if (!app)
        return AddResult::Failed;
    if (app->logon(nullptr) != pim::kOk) {
        app->logoff();
        return AddResult::Failed;
    }
    AddResult result = AddResult::Failed;
    std::unique_ptr<pim::Contact> contact;
    if (app->createItem(pim::kItemContact, &contact) == pim::kOk && contact) {
        const QString name = callerName.trimmed();
        const qsizetype blank = name.indexOf(QLatin1Char(' '));
        if (blank > 0) {
            contact->setFirstName(name.left(blank));
            contact->setLastName(name.mid(blank + 1));
        } else {
            contact->setFirstName(name);
        }
        contact->setFileAs(name);
        // The card keeps the whole number, "+" and country code, whatever
        // form the notification wrote it in.
        const QString e164 = make_e164(callerNumber);
        contact->setMobileTelephoneNumber(e164.isEmpty() ? callerNumber : e164);
        // The editor opens only on a stored contact.
        if (contact->save() == pim::kOk) {
            if (pim::Item* item = contact->item()) {
                if (item->edit(owner) == pim::kOk) {
                    name_card(*contact);
                    result = contact->save() == pim::kOk ? AddResult::Added : AddResult::Failed;
                } else {
                    contact->remove();
                    result = AddResult::Cancelled;
                }
            } else {
                contact->remove();
            }
        }
    }
    contact.reset();
    app->logoff();
    return result;
}

ContactMatch find_contact_by_name(pim::Application& app, const QString& callerName) {
    const QString name = callerName.trimmed();
    QString first = name;
    std::optional<QString> turned;
    const qsizetype blank = name.indexOf(QLatin1Char(' '));
    if (blank > 0) {
        const QString given = name.left(blank);
        const QString rest = name.mid(blank + 1);
        first = given + QLatin1Char(' ') + rest;
        turned = rest + QStringLiteral(", ") + given;
    }
    ContactMatch match;
    if (app.matchContact(first, pim::kMatchFileAs, &match.contact) == pim::kOk) {
        match.found = true;
    } else if (turned && app.matchContact(*turned, pim::kMatchFileAs, &match.contact) == pim::kOk) {
        match.found = true;
    }
    return match;
}

}  // namespace lyb::contacts
