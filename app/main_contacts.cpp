// The main window's commands that reach the caller: Call Back, Reply With and
// Add to Contacts.
#include "app/main_dialog.h"
#include "contacts/contacts.h"
#include "contacts/number_forms.h"
#include "contacts/voicemail_listing.h"
#include "platform/telephony/telephony.h"
#include "ui/dial_dialog.h"
#include "ui/voicemail_list.h"

namespace lyb::app {

void CMainDialog::call_back() {
    const store::CVoiceMailMessage* record = recordAt(selectionMark());
    if (!record)
        return;
    // Copied first: nothing below may rely on the record once a dialog has run.
    const QString name = record->caller_name();
    const QString number = record->caller_number();
    close_playback();
    list_->setEnabled(false);
    if (!number.trimmed().isEmpty()) {
        ui::CDialDialog dialog(name, contacts::make_dialable(number), this);
        int result = QDialog::Rejected;
        runModal([&] { result = dialog.exec(); });
        if (result == QDialog::Accepted)
            telephony::tapi_request_make_call(dialog.number(), dialog.name());
    } else if (name.trimmed().isEmpty()) {
        showMessage(QStringLiteral("Cannot call unknown caller."), MessageIcon::Exclamation);
    } else {
        reply_with();
    }
    list_->setEnabled(true);
}

void CMainDialog::reply_with() {
    const store::CVoiceMailMessage* record = recordAt(selectionMark());
    if (!record)
        return;
    const QString name = record->caller_name();
    close_playback();
    if (name.isEmpty()) {
        showMessage(QStringLiteral("Cannot find contact without name in your contacts."),
                    MessageIcon::Exclamation);
        return;
    }
    // The contacts that named the list's callers, so the card is found for
    // every name the list shows.
    auto app = pim::Application::create(contacts::listing_contacts_folder(), pim::contactUi());
    if (!app || app->logon(nullptr) != pim::kOk)
        return;
    contacts::ContactMatch match = contacts::find_contact_by_name(*app, name);
    if (!match.found) {
        showMessage(QStringLiteral("Cannot find '%1' in your contacts.").arg(name),
                    MessageIcon::Exclamation);
    } else if (match.contact) {
        runModal([&] { match.contact->display(this); });
    }
    match.contact.reset();
    app->logoff();
}

void CMainDialog::add_to_contacts() {
    const store::CVoiceMailMessage* record = recordAt(selectionMark());
    if (!record)
        return;
    const QString name = record->caller_name();
    const QString number = record->caller_number();
    contacts::AddResult result = contacts::AddResult::Failed;
    runModal([&] { result = contacts::add_caller_to_contacts(name, number, this); });
    if (result == contacts::AddResult::Added)
        list_->list_model()->rename_callers(number);
}

}  // namespace lyb::app
