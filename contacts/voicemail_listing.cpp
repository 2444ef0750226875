#include "contacts/voicemail_listing.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>

#include "contacts/contacts.h"

namespace lyb::contacts {

QString listing_contacts_folder() {
    const QString own = pim::contactsFolder();
    if (!qEnvironmentVariableIsEmpty("LYRABELL_CONTACTS") || QFileInfo(own).isDir())
        return own;
    // Only while the demo account stands in for an accounts file: a first
    // start shows the demo voicemails with their callers named, but a user's
    // own Inbox is never named from the demo's made-up contacts.
    const QString demo = store::demoAccountFolder();
    if (!demo.isEmpty()) {
        const QString folder = QDir(demo).filePath(QStringLiteral("contacts"));
        if (QFileInfo(folder).isDir())
            return folder;
    }
    return own;
}

bool name_callers(std::vector<std::unique_ptr<store::CVoiceMailMessage>>& records,
                  pim::Application* app) {
    if (!app)
        return false;
    const bool opened = app->logon(nullptr) == pim::kOk;
    if (opened) {
        for (auto& record : records) {
            if (record)
                resolve_caller_name(*app, *record);
        }
    }
    app->logoff();
    return opened;
}

void sort_newest_first(std::vector<std::unique_ptr<store::CVoiceMailMessage>>& records) {
    std::stable_sort(records.begin(), records.end(), [](const auto& a, const auto& b) {
        if (!a || !b)
            return false;
        return a->received_time() > b->received_time();
    });
}

VoicemailListing list_voicemails(const store::CMapiSession& session, const QString& accountName,
                                 pim::Application* contacts) {
    VoicemailListing listing;
    listing.store = store::open_store_by_name(session, accountName);
    if (!listing.store)
        return listing;
    listing.folder = store::open_inbox(*listing.store);
    if (!listing.folder)
        return listing;
    if (!store::list_messages(*listing.folder, listing.entries))
        return listing;
    listing.listed = true;
    auto built = store::open_voicemails(*listing.folder, listing.entries);
    listing.records.reserve(built.size());
    for (auto& record : built) {
        if (record)
            listing.records.push_back(std::move(record));
    }
    std::unique_ptr<pim::Application> own;
    if (!contacts) {
        own = pim::Application::create(listing_contacts_folder(), pim::contactUi());
        contacts = own.get();
    }
    listing.contacts_opened = name_callers(listing.records, contacts);
    sort_newest_first(listing.records);
    return listing;
}

}  // namespace lyb::contacts
