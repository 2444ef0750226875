// The contacts store: an application object to log on to, contacts matched by
// telephone number or file-as name, created, changed, saved and deleted, and
// the item interface through which the contact card and editor are shown.
//
// Where contacts live: a folder of vCard files, one contact per ".vcf" file,
// named by LYRABELL_CONTACTS, else $XDG_DATA_HOME/lyrabell/contacts
// (~/.local/share when XDG_DATA_HOME is unset). Files exported by address
// books may hold several cards; each is one contact.
//
// Lifecycle of one operation:
//  1. Application::create() makes the application object (null when no folder
//     can be named).
//  2. logon() reads the folder once and builds the indexes that matchContact
//     uses: file-as names (the card's FN) and telephone numbers (TEL), see
//     phone_match.h. A missing folder reads as empty. Changes that other
//     programs make later are seen at the next logon.
//  3. matchContact, createItem, and the contacts' own operations.
//  4. logoff() drops what logon read; destroying the object logs off.
// Contacts are plain objects the caller owns; they stay usable after logoff.
//
// Saving writes the file to a temporary file in the same folder and renames
// it over the card's file, so readers never see half a card and two programs
// saving at once lose neither contact (a new contact gets a file of its own,
// named by a fresh UUID, written as vCard 4.0). The folder is created,
// private to the user, at the first save.
//
// A stored card is saved as an edit of the bytes it was read from: every line
// the user did not change keeps its bytes, and changed or added lines are
// written in the card's own version (vcard::writeEdited); the other cards and
// any other text of its file are left as they are. Just before the rename the
// file must still be what the save was based on (its size, modification time
// and a hash of its bytes); when another program changed it since it was
// read, it is read again, the card found in it by its UID, else by the text
// it was read from, and only the user's changes applied to it. A card that is
// no longer there is not written (kNotFound), nor is a file that holds a
// malformed card, nor a card read-only for its charset (see vcard.h).
// Deleting finds the card the same way.
//
// Bad input: an unreadable file, or a malformed card (see vcard.h), is skipped
// and named once per process on standard error; the other cards still count.
//
// Result codes: 0 (kOk) is success, anything else failure.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <memory>

#include "platform/pim/vcard.h"

namespace lyb::pim {

enum Result : int {
    kOk = 0,
    kNotFound = 1,
    kNotLoggedOn = 2,
    kFailed = 3,
    kBadArgument = 4,
    kCancelled = 5,
};

// matchContact flags.
constexpr uint32_t kMatchTelephoneNumbers = 1;
constexpr uint32_t kMatchFileAs = 4;

// Item types for createItem.
constexpr int kItemContact = 2;

// Property identifiers for Item::getProperty and matchContact.
constexpr uint32_t kPropFileAs = 0x0080001F;
constexpr uint32_t kPropFirstName = 0x3A06001F;
constexpr uint32_t kPropLastName = 0x3A11001F;
constexpr uint32_t kPropMobileTelephoneNumber = 0x3A1C001F;
constexpr uint32_t kPropHomeTelephoneNumber = 0x3A09001F;
constexpr uint32_t kPropBusinessTelephoneNumber = 0x3A08001F;
constexpr uint32_t kPropOtherTelephoneNumber = 0x3A1F001F;

// Returns the contacts folder in use (see above).
QString contactsFolder();

class Contact;
namespace detail {
struct LoadedFolder;

// What a card file was when it was read; equal states mean the same bytes.
struct FileState {
    qint64 size = -1;
    qint64 mtimeNs = 0;
    QByteArray hash;  // SHA-256 of its bytes
    bool operator==(const FileState&) const = default;
};
}  // namespace detail

// The contact card and editor. The program installs its dialogs with
// setContactUi; without them Display shows nothing and Edit cancels.
class ContactUi {
public:
    virtual ~ContactUi() = default;
    // Shows the contact card, owned by owner (may be null).
    virtual void display(Contact& contact, QObject* owner) = 0;
    // Lets the user change the contact through its setters; true when the user
    // finished the editor normally, false when cancelled. Does not save.
    virtual bool edit(Contact& contact, QObject* owner) = 0;
};

// Installs the process-wide card and editor (null removes them); not owned.
void setContactUi(ContactUi* ui);
ContactUi* contactUi();

// The item interface of a stored contact.
class Item {
public:
    virtual ~Item() = default;
    // Reads one string property; kOk and *value, or kNotFound when the contact
    // lacks it (a card without FN has no file-as name) or the id is unknown.
    virtual int getProperty(uint32_t propertyId, QString* value) const = 0;
    // Shows the contact card; kOk, or kFailed when no card can be shown.
    virtual int display(QObject* owner) = 0;
    // Opens the editor; kOk when finished normally, kCancelled otherwise.
    virtual int edit(QObject* owner) = 0;
};

class Contact : public Item {
public:
    QString firstName() const;
    QString lastName() const;
    QString fileAs() const;
    QString mobileTelephoneNumber() const;
    QStringList telephoneNumbers() const;  // every TEL, unescaped, in order

    struct Telephone {
        uint32_t kind;   // kPropMobile/Home/Business/OtherTelephoneNumber
        QString number;  // unescaped
    };
    // Returns every TEL with its kind (cell before home before work), in order.
    QList<Telephone> telephones() const;
    // Returns the first number of a kind; empty when the card has none.
    QString telephoneNumber(uint32_t kind) const;
    // Returns every EMAIL, unescaped, in order.
    QStringList emailAddresses() const;
    // Returns the picture of a PHOTO held in the card (a base64 "data:" URI);
    // empty when there is none or it is only a link.
    QByteArray photo() const;

    // Setters change the card in memory; save() stores it. The text is kept
    // exactly as given.
    void setFirstName(const QString& text);
    void setLastName(const QString& text);
    void setFileAs(const QString& text);
    void setMobileTelephoneNumber(const QString& text);
    // Sets the first number of a kind (mobile, home or business), adding a TEL
    // of that type when there is none; empty text removes that TEL. Other
    // properties, and the parameters of a TEL that stays, are left as they are.
    void setTelephoneNumber(uint32_t kind, const QString& text);
    // Sets the first EMAIL (adding one when there is none); empty text removes it.
    void setEmailAddress(const QString& text);

    // kOk; kNotFound when the card is no longer in its file; kFailed
    // otherwise. errorText() then says why.
    int save();
    // Removes the stored contact (Delete); kOk also when it was never stored.
    int remove();
    // Why the last save or remove failed; empty after success.
    QString errorText() const { return error_; }
    // Why the contact cannot be saved (a charset that cannot be read, see
    // vcard.h); empty when it can.
    QString readOnlyReason() const { return card_.readOnly; }

    // Returns the item interface, or null while the contact is not stored.
    Item* item();

    // The card's file; empty for a new contact until it is saved.
    QString filePath() const { return stored_ ? path_ : QString(); }
    const vcard::Card& card() const { return card_; }

    int getProperty(uint32_t propertyId, QString* value) const override;
    int display(QObject* owner) override;
    int edit(QObject* owner) override;

private:
    friend class Application;
    Contact() = default;

    vcard::Property* mobileProperty();
    vcard::Property* telephoneProperty(uint32_t kind);
    QStringList nameParts() const;
    void setNamePart(int index, const QString& text);

    // Rewrites the card's file with the card replaced by what produce makes
    // of it as the file now holds it (empty bytes: removed).
    int rewrite(const std::function<QByteArray(const vcard::Card&)>& produce);

    vcard::Card card_;
    vcard::Card original_;     // as read, or as last saved
    detail::FileState state_;  // of its file then
    QString folder_;
    QString path_;
    QString error_;
    int indexInFile_ = 0;
    bool stored_ = false;
    ContactUi* ui_ = nullptr;
};

class Application {
public:
    // Creates the application object for the default folder and the installed
    // contact UI; null when no folder can be named.
    static std::unique_ptr<Application> create();
    static std::unique_ptr<Application> create(const QString& folder, ContactUi* ui);
    ~Application();

    // Reads the folder (owner: the window that logs on, may be null). kOk, or
    // kFailed when the folder exists but cannot be listed.
    int logon(QObject* owner = nullptr);
    void logoff();
    bool loggedOn() const { return loaded_ != nullptr; }

    // Looks for the contact whose telephone numbers (flags & 1) or file-as name
    // (flags & 4) match text; names compare trimmed and without regard to
    // case. kOk when one matches: *contact gets it, or null when its card was
    // removed since logon; *matchedProperty (when not null) gets the property
    // that matched. kNotFound otherwise. Several matches give the one whose
    // file sorts first.
    int matchContact(const QString& text, uint32_t flags, std::unique_ptr<Contact>* contact,
                     uint32_t* matchedProperty = nullptr);

    // Makes a new, unsaved contact (itemType kItemContact) with a file of its own.
    int createItem(int itemType, std::unique_ptr<Contact>* contact);

    const QString& folder() const { return folder_; }
    // The region numbers are read in (phone_match.h); fixed at logon.
    QString region() const;

private:
    Application(QString folder, ContactUi* ui);

    QString folder_;
    ContactUi* ui_;
    std::shared_ptr<const detail::LoadedFolder> loaded_;
};

}  // namespace lyb::pim
