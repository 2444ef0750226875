#include "app/settings_dialog.h"

#include "app/add_account_dialog.h"
#include "app/settings.h"
#include "store/message_store.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

#include <vector>

namespace lyb::app {

namespace {

// 7 pixels at 96 dots per inch, rounded, from the screen's resolution, which
// is read once per process.
int sideMargin() {
    static const int margin = [] {
        const QScreen* screen = QGuiApplication::primaryScreen();
        const int dpi = screen ? qRound(screen->logicalDotsPerInchX()) : 96;
        return (dpi * 7 + 48) / 96;
    }();
    return margin;
}

}  // namespace

void CCloseUpComboBox::hidePopup() {
    // Hiding the box hides its list too, open or not; only a list that was
    // open closes up.
    const bool open = view()->window()->isVisible();
    QComboBox::hidePopup();
    if (open)
        emit closedUp();
}

QStringList CSettingsDialog::offeredAccounts(const QStringList& displayNames) {
    QStringList offered;
    for (const QString& name : displayNames) {
        if (name.compare(QLatin1String("sms"), Qt::CaseInsensitive) == 0 ||
            name.compare(QLatin1String("Multimedia Messages"), Qt::CaseInsensitive) == 0)
            continue;
        offered << name;
    }
    return offered;
}

int CSettingsDialog::selectStringIndex(const QStringList& entries, const QString& text) {
    const qsizetype count = entries.size();
    for (qsizetype step = 0; step < count; ++step) {
        const qsizetype index = (1 + step) % count;
        if (entries[index].startsWith(text, Qt::CaseInsensitive))
            return static_cast<int>(index);
    }
    return -1;
}

CSettingsDialog::CSettingsDialog(const store::CMapiSession* session, QWidget* parent)
    : QDialog(parent),
      prompt_(new QLabel(QString::fromLatin1(kPrompt), this)),
      accounts_(new CCloseUpComboBox(this)),
      dialingRules_(new QCheckBox(QString::fromLatin1(kDialingRules), this)),
      addAccount_(new QPushButton(QString::fromUtf8(kAddAccount), this)) {
    setWindowTitle(QString::fromLatin1(kCaption));

    prompt_->setWordWrap(true);
    prompt_->setBuddy(accounts_);
    accounts_->setEditable(false);
    accounts_->setAccessibleName(prompt_->text());
    dialingRules_->setAccessibleName(dialingRules_->text());
    addAccount_->setAccessibleName(QStringLiteral("Add account"));
    addAccount_->setAutoDefault(false);
    connect(addAccount_, &QPushButton::clicked, this, &CSettingsDialog::addAccount);

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    ok->setAccessibleName(ok->text());
    cancel->setAccessibleName(cancel->text());
    ok->setDefault(true);
    auto* buttons = new QDialogButtonBox(this);
    buttons->addButton(ok, QDialogButtonBox::AcceptRole);
    buttons->addButton(cancel, QDialogButtonBox::RejectRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &CSettingsDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &CSettingsDialog::reject);

    auto* layout = new QVBoxLayout(this);
    const int m = sideMargin();
    layout->setContentsMargins(m, m, m, m);
    layout->addWidget(prompt_);
    layout->addWidget(accounts_);
    layout->addWidget(addAccount_, 0, Qt::AlignLeft);
    layout->addWidget(dialingRules_);
    layout->addStretch(1);
    layout->addWidget(buttons);

    fill(session);

    // The user's pick, whether the list was opened or not: what OK stores
    // is always the entry on screen once the user has chosen one.
    connect(accounts_, &CCloseUpComboBox::closedUp, this, &CSettingsDialog::takeCurrentEntry);
    connect(accounts_, &QComboBox::activated, this, &CSettingsDialog::takeCurrentEntry);
}

CSettingsDialog::~CSettingsDialog() {
    // Hiding the dialog on its way out may close the list; nothing is chosen then.
    disconnect(accounts_, nullptr, this, nullptr);
}

void CSettingsDialog::fill(const store::CMapiSession* session) {
    dialingRules_->setChecked(settings::nanp() != 0);

    QStringList names;
    std::vector<store::CEntryInfo> stores;
    if (session && store::list_stores(*session, stores))
        for (const store::CEntryInfo& info : stores)
            names << info.display_name;
    QStringList entries = offeredAccounts(names);
    entries << QString::fromLatin1(kOtherEntry);
    accounts_->addItems(entries);

    const QString stored = settings::messageStore();
    if (settings::usingOutlook() != 0) {
        if (!stored.isEmpty()) {
            accounts_->setCurrentIndex(selectStringIndex(entries, stored));
            selectedAccount_ = stored;
        } else {
            accounts_->setCurrentIndex(0);
            selectedAccount_ = entries.size() > 1 ? entries[0] : QString();
        }
    } else {
        accounts_->setCurrentIndex(static_cast<int>(entries.size()) - 1);
        selectedAccount_.clear();
    }
}

void CSettingsDialog::takeCurrentEntry() {
    const int index = accounts_->currentIndex();
    if (index < 0)
        return;  // nothing picked: the stored name stays
    selectedAccount_ = index == accounts_->count() - 1 ? QString() : accounts_->currentText();
}

void CSettingsDialog::addAccount() {
    CAddAccountDialog dialog(this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    // Offered before "Other (no mail account)", and chosen.
    const int at = accounts_->count() - 1;
    accounts_->insertItem(at, dialog.accountName());
    accounts_->setCurrentIndex(at);
    selectedAccount_ = dialog.accountName();
}

void CSettingsDialog::accept() {
    settings::setNanp(dialingRules_->isChecked() ? 1 : 0);
    settings::setUsingOutlook(selectedAccount_.isEmpty() ? 0 : 1);
    QDialog::accept();
}

}  // namespace lyb::app
