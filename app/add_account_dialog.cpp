#include "app/add_account_dialog.h"

#include "app/password_dialog.h"
#include "platform/mapi/imap_connection.h"
#include "platform/mapi/imap_url.h"
#include "platform/mapi/maildir_provider.h"
#include "platform/secrets/secrets.h"

#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSaveFile>
#include <QSpinBox>
#include <QUrl>
#include <QVBoxLayout>

#include <cstdio>

namespace lyb::app {

namespace {

constexpr int kTlsPort = 993;
constexpr int kStarttlsPort = 143;

}  // namespace

QString imapAccountLine(const mapi::ImapAddress& address) {
    QString line = address.implicitTls ? QStringLiteral("imaps://") : QStringLiteral("imap://");
    line += QString::fromLatin1(QUrl::toPercentEncoding(address.user)) + QLatin1Char('@');
    line += address.host.contains(QLatin1Char(':'))
                ? QLatin1Char('[') + address.host + QLatin1Char(']')
                : address.host;
    if (address.port != (address.implicitTls ? kTlsPort : kStarttlsPort))
        line += QLatin1Char(':') + QString::number(address.port);
    line += QLatin1Char('/') + QString::fromLatin1(QUrl::toPercentEncoding(address.folder, "/"));
    if (!address.caFile.isEmpty())
        line += QStringLiteral("?ca=") +
                QString::fromLatin1(QUrl::toPercentEncoding(address.caFile, "/"));
    return line;
}

bool appendAccountLine(const QString& path, const QString& name, const QString& value,
                       QString* error) {
    QByteArray bytes;
    QFile::Permissions permissions = QFile::ReadOwner | QFile::WriteOwner;
    if (QFileInfo::exists(path)) {
        QFile old(path);
        if (!old.open(QIODevice::ReadOnly)) {
            if (error)
                *error = old.errorString();
            return false;
        }
        bytes = old.readAll();
        permissions = old.permissions();
    } else {
        QDir().mkpath(QFileInfo(path).absolutePath());
    }
    if (!bytes.isEmpty() && !bytes.endsWith('\n'))
        bytes += '\n';
    bytes += (name + QStringLiteral(" = ") + value).toUtf8() + '\n';
    QSaveFile file(path);
    file.setDirectWriteFallback(false);
    if (!file.open(QIODevice::WriteOnly) || !file.setPermissions(permissions) ||
        file.write(bytes) != bytes.size() || !file.commit()) {
        if (error)
            *error = file.errorString();
        return false;
    }
    return true;
}

CAddAccountDialog::CAddAccountDialog(QWidget* parent)
    : QDialog(parent),
      name_(new QLineEdit(this)),
      server_(new QLineEdit(this)),
      port_(new QSpinBox(this)),
      security_(new QComboBox(this)),
      user_(new QLineEdit(this)),
      password_(new QLineEdit(this)),
      folder_(new QLineEdit(QStringLiteral("INBOX"), this)),
      ca_(new QLineEdit(this)),
      problem_(new QLabel(this)) {
    setWindowTitle(QLatin1String(kCaption));
    setAccessibleName(QLatin1String(kCaption));
    port_->setRange(1, 65535);
    port_->setValue(kTlsPort);
    security_->addItems({QStringLiteral("TLS"), QStringLiteral("STARTTLS")});
    password_->setEchoMode(QLineEdit::Password);
    ca_->setPlaceholderText(QStringLiteral("only for a server with its own certificates"));
    problem_->setWordWrap(true);
    problem_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    problem_->setAccessibleName(QStringLiteral("Problem"));
    problem_->hide();

    auto* form = new QFormLayout;
    const struct {
        const char* label;
        QWidget* field;
    } rows[] = {
        {"Account &name:", name_}, {"&Server:", server_},
        {"P&ort:", port_},         {"S&ecurity:", security_},
        {"&User name:", user_},    {"&Password:", password_},
        {"&Folder:", folder_},     {"Certificate &authority file:", ca_},
    };
    for (const auto& row : rows) {
        auto* label = new QLabel(QLatin1String(row.label), this);
        label->setBuddy(row.field);
        row.field->setAccessibleName(label->text().remove(QLatin1Char('&')).chopped(1));
        form->addRow(label, row.field);
    }
    auto* buttons = new QDialogButtonBox(this);
    auto* add = buttons->addButton(QStringLiteral("A&dd"), QDialogButtonBox::AcceptRole);
    auto* cancel = buttons->addButton(QStringLiteral("&Cancel"), QDialogButtonBox::RejectRole);
    add->setAccessibleName(QStringLiteral("Add"));
    add->setDefault(true);
    cancel->setAccessibleName(QStringLiteral("Cancel"));
    connect(buttons, &QDialogButtonBox::accepted, this, &CAddAccountDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &CAddAccountDialog::reject);
    connect(security_, &QComboBox::currentIndexChanged, this, &CAddAccountDialog::securityChanged);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(problem_);
    layout->addWidget(buttons);
}

QString CAddAccountDialog::accountName() const {
    return name_->text().trimmed();
}

void CAddAccountDialog::securityChanged(int index) {
    // A port left at the other security's usual one follows the choice.
    if (index == 1 && port_->value() == kTlsPort)
        port_->setValue(kStarttlsPort);
    else if (index == 0 && port_->value() == kStarttlsPort)
        port_->setValue(kTlsPort);
}

void CAddAccountDialog::say(const QString& problem) {
    problem_->setText(problem);
    problem_->show();
}

void CAddAccountDialog::accept() {
    const QString name = accountName();
    const struct {
        QLineEdit* field;
        const char* missing;
    } required[] = {
        {name_, "Give the account a name."},
        {server_, "Give the server's name."},
        {user_, "Give the user name."},
        {password_, "Give the password."},
    };
    for (const auto& r : required) {
        if (r.field->text().trimmed().isEmpty()) {
            say(QLatin1String(r.missing));
            r.field->setFocus();
            return;
        }
    }
    if (name.contains(QLatin1Char('=')) || name.startsWith(QLatin1Char('#'))) {
        say(QStringLiteral("An account name cannot hold \"=\" or begin with \"#\"."));
        return;
    }
    for (const mapi::Account& a : mapi::loadAccounts()) {
        if (a.displayName.compare(name, Qt::CaseInsensitive) == 0) {
            say(QStringLiteral("There is an account \"%1\" already. Choose another name.")
                    .arg(a.displayName));
            return;
        }
    }
    mapi::ImapAddress wanted;
    wanted.implicitTls = security_->currentIndex() == 0;
    wanted.host = server_->text().trimmed();
    wanted.port = uint16_t(port_->value());
    wanted.user = user_->text().trimmed();
    wanted.folder =
        folder_->text().trimmed().isEmpty() ? QStringLiteral("INBOX") : folder_->text().trimmed();
    wanted.caFile = ca_->text().trimmed();
    // What is tried is what the line says.
    const QString line = imapAccountLine(wanted);
    mapi::ImapAddress address;
    QString error;
    if (!mapi::parseImapAddress(line, address, &error)) {
        say(QStringLiteral("These settings cannot be used: %1.").arg(error));
        return;
    }
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const mapi::ImapTrial trial = mapi::tryImapLogin(name, address, password_->text());
    QApplication::restoreOverrideCursor();
    if (trial.failure != mapi::ImapFailure::None) {
        say(trialText(trial, address));
        return;
    }
    if (!appendAccountLine(mapi::accountsFilePath(), name, line, &error)) {
        say(QStringLiteral("The account cannot be saved in %1: %2")
                .arg(QDir::toNativeSeparators(mapi::accountsFilePath()), error));
        return;
    }
    secrets::keepForThisRun(name, password_->text());
    if (!secrets::storePassword(name, password_->text(), &error))
        std::fprintf(stderr, "lyrabell: the password of \"%s\" cannot be stored: %s\n",
                     name.toUtf8().constData(), error.toUtf8().constData());
    QDialog::accept();
}

}  // namespace lyb::app
