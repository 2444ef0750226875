// CAddAccountDialog: adds an IMAP account from Settings ("Add account…").
//
// The user gives the account's name, the server, port and security (TLS from
// the first byte, or STARTTLS on the plain port), user name, password and
// folder, and for a self-hosted server the file of the certificate authority
// that signed its certificate. "Add" first tries the connection as the
// account will make it: what failed (server not found, connection refused,
// certificate not trusted with its fingerprint, login refused, ...) is said
// in the dialog, which stays up. On success the account's line is appended
// to the accounts file (appendAccountLine), the password goes to the Secret
// Service, and the dialog ends with IDOK.
#pragma once

#include <QDialog>
#include <QString>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QSpinBox;

namespace lyb::mapi {
struct ImapAddress;
}

namespace lyb::app {

// The accounts file line of an address, "imaps://me%40example.com@host/INBOX".
QString imapAccountLine(const mapi::ImapAddress& address);

// Appends "name = value" as a line of its own to the accounts file at path,
// leaving every byte before it as it was: the new file is written beside the
// old one and renamed over it, with the old file's permissions (0600 for a
// new file). False with *error (when not null) saying why.
bool appendAccountLine(const QString& path, const QString& name, const QString& value,
                       QString* error = nullptr);

class CAddAccountDialog final : public QDialog {
    Q_OBJECT

public:
    static constexpr const char* kCaption = "Add account";

    explicit CAddAccountDialog(QWidget* parent = nullptr);

    // The name of the account added (after IDOK).
    QString accountName() const;

    QLineEdit* nameField() const { return name_; }
    QLineEdit* serverField() const { return server_; }
    QSpinBox* portField() const { return port_; }
    QComboBox* securityList() const { return security_; }
    QLineEdit* userField() const { return user_; }
    QLineEdit* passwordField() const { return password_; }
    QLineEdit* folderField() const { return folder_; }
    QLineEdit* caField() const { return ca_; }
    QLabel* problem() const { return problem_; }

    void accept() override;

private:
    void securityChanged(int index);
    void say(const QString& problem);

    QLineEdit* name_;
    QLineEdit* server_;
    QSpinBox* port_;
    QComboBox* security_;
    QLineEdit* user_;
    QLineEdit* password_;
    QLineEdit* folder_;
    QLineEdit* ca_;
    QLabel* problem_;
};

}  // namespace lyb::app
