#include "app/password_dialog.h"

#include "app/request_dispatcher.h"
#include "platform/mapi/imap_connection.h"
#include "platform/mapi/imap_url.h"
#include "platform/mapi/maildir_provider.h"
#include "platform/secrets/secrets.h"

#include <QApplication>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSet>
#include <QVBoxLayout>

#include <cstdio>

namespace lyb::app {

QString trialText(const mapi::ImapTrial& trial, const mapi::ImapAddress& address) {
    const QString server = address.host;
    switch (trial.failure) {
        case mapi::ImapFailure::None:
            return {};
        case mapi::ImapFailure::HostNotFound:
            return QStringLiteral("The server \"%1\" was not found. Check its name.").arg(server);
        case mapi::ImapFailure::Refused:
            return QStringLiteral(
                       "The server \"%1\" refused the connection on port %2. Check the port "
                       "and the security.")
                .arg(server)
                .arg(address.port);
        case mapi::ImapFailure::Unreachable:
            return QStringLiteral(
                       "The server \"%1\" does not answer on port %2. Check the port and your "
                       "network.")
                .arg(server)
                .arg(address.port);
        case mapi::ImapFailure::NoTls:
            return QStringLiteral(
                       "No secure connection to \"%1\" could be made. Check the port and the "
                       "security.")
                .arg(server);
        case mapi::ImapFailure::NoStarttls:
            return QStringLiteral(
                       "The server \"%1\" does not offer STARTTLS on port %2, and the password "
                       "is never sent unencrypted. Choose TLS and its port (usually 993).")
                .arg(server)
                .arg(address.port);
        case mapi::ImapFailure::Untrusted:
            return QStringLiteral(
                       "The server's certificate is not trusted. If this is your own server, "
                       "compare its fingerprint with this one before you trust it:\n%1")
                .arg(trial.fingerprint);
        case mapi::ImapFailure::NoPassword:
        case mapi::ImapFailure::LoginRefused:
            return QStringLiteral("The server refused the user name or the password.");
        case mapi::ImapFailure::NoFolder:
            return QStringLiteral("The folder \"%1\" cannot be opened on the server.")
                .arg(address.folder);
        case mapi::ImapFailure::Lost:
            break;
    }
    return QStringLiteral("The connection to \"%1\" broke. Try again.").arg(server);
}

CPasswordDialog::CPasswordDialog(const QString& account, const QString& where,
                                 std::function<QString(const QString&)> tryPassword,
                                 QWidget* parent)
    : QDialog(parent),
      tryPassword_(std::move(tryPassword)),
      password_(new QLineEdit(this)),
      remember_(new QCheckBox(QStringLiteral("&Remember"), this)),
      problem_(new QLabel(this)) {
    setWindowTitle(QLatin1String(kCaption));
    setAccessibleName(QLatin1String(kCaption));
    auto* prompt = new QLabel(
        QStringLiteral("The password of the account \"%1\" (%2):").arg(account, where), this);
    prompt->setWordWrap(true);
    password_->setEchoMode(QLineEdit::Password);
    password_->setAccessibleName(QStringLiteral("Password"));
    remember_->setChecked(true);
    remember_->setAccessibleName(QStringLiteral("Remember"));
    problem_->setWordWrap(true);
    problem_->setAccessibleName(QStringLiteral("Problem"));
    problem_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    problem_->hide();
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("&OK"));
    buttons->button(QDialogButtonBox::Ok)->setAccessibleName(QStringLiteral("OK"));
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("&Cancel"));
    buttons->button(QDialogButtonBox::Cancel)->setAccessibleName(QStringLiteral("Cancel"));
    connect(buttons, &QDialogButtonBox::accepted, this, &CPasswordDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &CPasswordDialog::reject);

    auto* form = new QFormLayout;
    auto* label = new QLabel(QStringLiteral("&Password:"), this);
    label->setBuddy(password_);
    form->addRow(label, password_);
    form->addRow(QString(), remember_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(prompt);
    layout->addLayout(form);
    layout->addWidget(problem_);
    layout->addWidget(buttons);
    password_->setFocus();
}

QString CPasswordDialog::password() const {
    return password_->text();
}

bool CPasswordDialog::remember() const {
    return remember_->isChecked();
}

void CPasswordDialog::accept() {
    QString why;
    if (tryPassword_) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        why = tryPassword_(password());
        QApplication::restoreOverrideCursor();
    }
    if (!why.isEmpty()) {
        problem_->setText(why);
        problem_->show();
        password_->selectAll();
        password_->setFocus();
        return;
    }
    QDialog::accept();
}

bool askAccountPassword(QWidget* parent, CRequestDispatcher& requests, const QString& account) {
    static QSet<QString> asked;
    if (account.isEmpty() || asked.contains(account.toLower()))
        return false;
    mapi::ImapAddress address;
    QString name;
    for (const mapi::Account& a : mapi::loadAccounts()) {
        if (a.displayName.compare(account, Qt::CaseInsensitive) == 0) {
            if (a.imapAddress.isEmpty() || !mapi::parseImapAddress(a.imapAddress, address))
                return false;
            name = a.displayName;
            break;
        }
    }
    if (name.isEmpty() || secrets::lookupPassword(name))
        return false;
    asked.insert(account.toLower());
    const CRequestDispatcher::ModalScope scope(requests);
    CPasswordDialog dialog(
        name, QStringLiteral("%1 on %2").arg(address.user, address.host),
        [&](const QString& password) {
            return trialText(mapi::tryImapLogin(name, address, password), address);
        },
        parent);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    secrets::keepForThisRun(name, dialog.password());
    QString error;
    if (dialog.remember() && !secrets::storePassword(name, dialog.password(), &error))
        std::fprintf(stderr, "lyrabell: the password of \"%s\" cannot be stored: %s\n",
                     name.toUtf8().constData(), error.toUtf8().constData());
    return true;
}

}  // namespace lyb::app
