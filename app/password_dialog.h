// The password of an IMAP account, asked for when none is stored.
//
// CPasswordDialog asks for one account's password, with "Remember" checked
// at first. OK tries the password against the server (the given tryPassword
// says what failed, in words for the user, or nothing): a refused one keeps
// the dialog up with the reason shown, an accepted one ends it with IDOK.
//
// askAccountPassword is what the window calls before it lists an account:
// for an IMAP account with no password stored it shows the dialog, once per
// account and run, inside the window's modal scope; the password given is
// kept for the run and, with "Remember", stored in the Secret Service.
#pragma once

#include <QDialog>
#include <QString>

#include <functional>

class QCheckBox;
class QLabel;
class QLineEdit;

namespace lyb::mapi {
struct ImapAddress;
struct ImapTrial;
}  // namespace lyb::mapi

namespace lyb::app {

class CRequestDispatcher;

// What a failed connection trial means, in a sentence for the user.
QString trialText(const mapi::ImapTrial& trial, const mapi::ImapAddress& address);

class CPasswordDialog final : public QDialog {
    Q_OBJECT

public:
    static constexpr const char* kCaption = "Password";

    CPasswordDialog(const QString& account, const QString& where,
                    std::function<QString(const QString& password)> tryPassword,
                    QWidget* parent = nullptr);

    QString password() const;
    bool remember() const;
    QLineEdit* passwordField() const { return password_; }
    QCheckBox* rememberBox() const { return remember_; }
    QLabel* problem() const { return problem_; }

    void accept() override;

private:
    std::function<QString(const QString&)> tryPassword_;
    QLineEdit* password_;
    QCheckBox* remember_;
    QLabel* problem_;
};

// Returns true when it asked and a password was given.
bool askAccountPassword(QWidget* parent, CRequestDispatcher& requests, const QString& account);

}  // namespace lyb::app
