// CSettingsDialog: the choice of the mail account whose Inbox holds the
// voicemails (or none: "Other (no mail account)") and of the North
// American dialling rules.
//
// "Add account…" adds an IMAP account (add_account_dialog.h) and selects it.
//
// OK writes "NANP" from the check box and "Using Outlook" (1 when an account
// is selected, else 0) and ends with IDOK; the caller then stores
// selectedAccount() in "Message Store" itself. Cancel, Escape and the window's
// close button end with IDCANCEL and write nothing.
//
// The selected account is the stored "Message Store" at first, even when no
// entry matches it any more (nothing is shown as selected then, and OK keeps
// the name). It changes when the user picks an entry: when the drop-down list
// closes, and when the keys or the wheel change the entry of the closed list.
#pragma once

#include <QComboBox>
#include <QDialog>
#include <QString>
#include <QStringList>

class QCheckBox;
class QLabel;
class QPushButton;

namespace lyb::store {
class CMapiSession;
}

namespace lyb::app {

// A drop-down list that says when its open list closes, whatever closed it.
class CCloseUpComboBox final : public QComboBox {
    Q_OBJECT

public:
    using QComboBox::QComboBox;
    void hidePopup() override;

signals:
    void closedUp();
};

class CSettingsDialog final : public QDialog {
    Q_OBJECT

public:
    static constexpr const char* kCaption = "Settings";
    static constexpr const char* kPrompt =
        "Select an e-mail account through which you receive voicemail messages:";
    static constexpr const char* kOtherEntry = "Other (no mail account)";
    static constexpr const char* kDialingRules = "Use North American dialing rules";
    static constexpr const char* kAddAccount = "&Add account\u2026";

    // session: the process-wide store session whose accounts are offered
    // (borrowed for the construction only; null or logged off: no accounts).
    explicit CSettingsDialog(const store::CMapiSession* session, QWidget* parent = nullptr);
    ~CSettingsDialog() override;

    // Returns the account to store after OK; empty for "Other (no mail account)".
    QString selectedAccount() const { return selectedAccount_; }

    QComboBox* accountList() const { return accounts_; }
    QCheckBox* dialingRules() const { return dialingRules_; }
    QPushButton* addAccountButton() const { return addAccount_; }

    // Returns the accounts worth offering: every name but "sms" and
    // "Multimedia Messages" (any case), in the given order.
    static QStringList offeredAccounts(const QStringList& displayNames);
    // Returns the entry that the select-string search finds for text: the
    // first whose text begins with it (any case), searching from the second
    // entry and wrapping round to the first; -1 when none does.
    static int selectStringIndex(const QStringList& entries, const QString& text);

    void accept() override;

private:
    void fill(const store::CMapiSession* session);
    void takeCurrentEntry();
    void addAccount();

    QString selectedAccount_;
    QLabel* prompt_;
    CCloseUpComboBox* accounts_;
    QCheckBox* dialingRules_;
    QPushButton* addAccount_;
};

}  // namespace lyb::app
