// Caller names from the contacts, adding a caller as a contact, and finding
// the contact that belongs to a caller's name. Nothing is kept between calls;
// every operation works on the application object it is given or makes its
// own (see platform/pim/pim.h). Failures return quietly; the caller decides
// what the user sees.
#pragma once

#include <QObject>
#include <QString>

#include <memory>
#include <optional>

#include "platform/pim/pim.h"

namespace lyb::contacts {

// Returns the name a voicemail's caller should be shown under, or nullopt to
// keep callerName: the file-as name of the contact whose telephone number
// matches callerNumber (when the contact has a non-empty one); the number
// itself when a contact matched but could not be opened and callerName is
// empty. An empty callerNumber never reaches the contacts. app is logged on.
std::optional<QString> resolve_caller_name(pim::Application& app, const QString& callerNumber,
                                           const QString& callerName);

// The same on a record with caller_number(), caller_name() and
// set_caller_name(QString).
template <class Record>
void resolve_caller_name(pim::Application& app, Record& record) {
    if (auto name = resolve_caller_name(app, record.caller_number(), record.caller_name()))
        record.set_caller_name(*name);
}

enum class AddResult {
    Added,      // saved, the user finished the editor
    Cancelled,  // the user cancelled the editor; the new contact was deleted
    Failed,     // no contacts store, or the contact could not be stored
};

// Creates a contact for a caller and opens the editor on it (owned by
// owner): the trimmed name is the file-as name; split at its first blank
// (when that is not the first character) into first name and last name (the
// rest, blanks kept), else all first name. The number is stored exactly as
// given, as the mobile number. Works on its own application object.
AddResult add_caller_to_contacts(const QString& callerName, const QString& callerNumber,
                                 QObject* owner);

struct ContactMatch {
    bool found = false;
    std::unique_ptr<pim::Contact> contact;  // may be null when found
};

// Looks for the contact whose file-as name is the trimmed name ("Anna Maria
// Berg"), or, for a name with a blank after its first word, that name turned
// round ("Maria Berg, Anna"). app is logged on.
ContactMatch find_contact_by_name(pim::Application& app, const QString& callerName);

}  // namespace lyb::contacts
