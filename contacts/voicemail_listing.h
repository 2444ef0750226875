// The voicemails of one account's Inbox, as the list shows them and as
// lybtool lists them: one record per voicemail, built on all cores, callers
// named from the contacts, newest first.
//
// Failures: an account, Inbox or message list that cannot be opened gives no
// records (and says which step failed); a message that is not a voicemail or
// cannot be opened is skipped. Contacts that cannot be opened name nobody:
// every voicemail is still listed, under the name its message gave.
#pragma once

#include <QString>

#include <memory>
#include <vector>

#include "platform/pim/pim.h"
#include "store/message_store.h"

namespace lyb::contacts {

struct VoicemailListing {
    std::unique_ptr<store::CMessageStore> store;    // null when the account cannot be opened
    std::unique_ptr<store::CMessageFolder> folder;  // null when its Inbox cannot be opened
    bool listed = false;                            // the Inbox's messages could be listed
    bool contacts_opened = false;                   // the contacts named the callers
    std::vector<store::CEntryInfo> entries;         // every message listed, voicemail or not
    std::vector<std::unique_ptr<store::CVoiceMailMessage>> records;  // newest first, no nulls
};

// Returns the contacts folder that names the callers of a listing: the
// user's (pim::contactsFolder()) when LYRABELL_CONTACTS names it or it
// exists, else, while there is no accounts file (the demo account stands in
// for one), the demo contacts made by the build beside the demo Maildir, else
// the user's (which reads as empty).
QString listing_contacts_folder();

// Opens the account named accountName (without regard to case), its Inbox
// and message list, builds the records on all cores, names the callers
// through one contacts application (made on listing_contacts_folder() when
// contacts is null; logged on and off here) and sorts the records.
VoicemailListing list_voicemails(const store::CMapiSession& session, const QString& accountName,
                                 pim::Application* contacts = nullptr);

// Names every record's caller through app, which is not yet logged on;
// false, with every name left as it was, when the contacts cannot be opened.
bool name_callers(std::vector<std::unique_ptr<store::CVoiceMailMessage>>& records,
                  pim::Application* app);

// Sorts records newest first by received time; records of the same time keep
// their order.
void sort_newest_first(std::vector<std::unique_ptr<store::CVoiceMailMessage>>& records);

}  // namespace lyb::contacts
