// The contact card and the contact editor that the contacts store shows
// (pim::ContactUi), as dialogs modal to the window that asks for them.
//
// The card shows the contact's name and photo, each telephone number with its
// type and a Call button (and a Text button for mobile numbers), and each
// e-mail address with a Write button. Call hands the number and the contact's
// name to the phone (telephony.h); Write opens a mailto: URL and Text an sms:
// URL through the desktop's handler. It changes nothing.
//
// The editor shows first name, last name, file-as name, the mobile, work and
// home numbers and the e-mail address. OK applies only the fields the user
// changed, so every other property of the card, and a shown one left alone,
// stays exactly as it was; a field emptied removes its property (the names
// are kept, empty). Saving is the caller's (pim::Contact::save).
#pragma once

#include <QDialog>
#include <QString>

#include "platform/pim/pim.h"

class QLineEdit;
class QPushButton;

namespace lyb::ui {

// Returns the name a contact is shown and called under: its file-as name, or
// first and last name when it has none.
QString contact_display_name(const pim::Contact& contact);

class CContactCard : public QDialog {
    Q_OBJECT
public:
    // Copies what it shows from contact; parent may be null.
    CContactCard(const pim::Contact& contact, QWidget* parent = nullptr);

    // Returns the action button with this accessible name ("Call Mobile
    // 5551234", "Text Mobile 5551234", "Write a@b.c"); null when absent.
    QPushButton* action(const QString& accessibleName) const;
};

class CContactEditor : public QDialog {
    Q_OBJECT
public:
    enum Field { FirstName, LastName, FileAs, Mobile, Work, Home, Email, FieldCount };

    // Fills the fields from contact (not kept); parent may be null.
    CContactEditor(const pim::Contact& contact, QWidget* parent = nullptr);

    QLineEdit* field(Field f) const { return fields_[f]; }
    // Writes the fields the user changed into contact.
    void apply(pim::Contact& contact) const;

private:
    QLineEdit* fields_[FieldCount];
    QString initial_[FieldCount];
};

// The card and editor as the contacts store calls them; install with
// pim::setContactUi. The owner, when it is a widget, is the dialogs' parent.
class CContactUi : public pim::ContactUi {
public:
    void display(pim::Contact& contact, QObject* owner) override;
    bool edit(pim::Contact& contact, QObject* owner) override;
};

}  // namespace lyb::ui
