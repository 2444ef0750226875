// The one place that chooses a provider for each account: an account whose
// line is an imap:// or imaps:// address is the IMAP provider's
// (imap_provider.h), every other one the Maildir provider's
// (maildir_provider.h). The session lists the accounts in the file's order
// and hands each entry id to the provider that made it.
#include <QDateTime>
#include <QFileInfo>

#include <algorithm>
#include <mutex>
#include <shared_mutex>

#include "platform/mapi/imap_provider.h"
#include "platform/mapi/maildir_provider.h"
#include "platform/mapi/mapi.h"
#include "platform/mapi/row_table.h"

namespace lyb::mapi {

namespace {

// The accounts file's state, to see that it changed.
QString fileStamp(const QString& path) {
    const QFileInfo info(path);
    return info.exists() ? QStringLiteral("%1 %2")
                               .arg(info.size())
                               .arg(info.lastModified().toMSecsSinceEpoch())
                         : QString();
}

class CSession final : public IMAPISession {
public:
    CSession() { load(); }

    HRESULT GetMsgStoresTable(uint32_t flags, std::unique_ptr<IMAPITable>& table) override {
        // An account added to the file while the program runs (Settings'
        // Add account) is listed from then on.
        std::unique_lock lock(mutex_);
        if (fileStamp(accountsFilePath()) != stamp_)
            load();
        SRowSet maildirRows;
        std::unique_ptr<IMAPITable> inner;
        if (const HRESULT hr = maildir_->GetMsgStoresTable(flags, inner); Failed(hr))
            return hr;
        inner->SetColumns({PR_DISPLAY_NAME_W, PR_ENTRYID}, 0);
        for (SRowSet rows; inner->QueryRows(1, 0, rows) == S_OK && rows.size() == 1;)
            maildirRows.push_back(std::move(rows[0]));
        SRowSet rows;
        size_t nextMaildir = 0, nextImap = 0;
        for (const Account& a : accounts_) {
            if (a.imapAddress.isEmpty()) {
                if (nextMaildir < maildirRows.size())
                    rows.push_back(std::move(maildirRows[nextMaildir++]));
            } else {
                rows.push_back(imapStoreRow(imap_[nextImap++]));
            }
        }
        table = std::make_unique<CRowTable>(std::move(rows));
        return S_OK;
    }
    HRESULT OpenMsgStore(const QByteArray& entryId, uint32_t flags,
                         std::unique_ptr<IMsgStore>& store) override {
        std::shared_lock lock(mutex_);
        if (isImapEntryId(entryId))
            return imapOpenStore(imap_, entryId, store);
        return maildir_->OpenMsgStore(entryId, flags, store);
    }
    HRESULT OpenEntry(const QByteArray& entryId, uint32_t flags, uint32_t* objType,
                      std::unique_ptr<IMAPIProp>& object) override {
        std::shared_lock lock(mutex_);
        if (isImapEntryId(entryId))
            return imapOpenEntry(imap_, entryId, objType, object);
        return maildir_->OpenEntry(entryId, flags, objType, object);
    }

private:
    void load() {
        stamp_ = fileStamp(accountsFilePath());
        accounts_ = loadAccounts();
        imap_.clear();
        std::vector<Account> maildirs;
        for (const Account& a : accounts_) {
            if (a.imapAddress.isEmpty())
                maildirs.push_back(a);
            else
                imap_.push_back({a.displayName, a.imapAddress});
        }
        maildir_ = makeMaildirSession(std::move(maildirs));
    }

    std::shared_mutex mutex_;  // the accounts, replaced when the file changed
    QString stamp_;
    std::vector<Account> accounts_;
    std::vector<ImapAccount> imap_;
    std::unique_ptr<IMAPISession> maildir_;
};

}  // namespace

HRESULT MAPILogonEx(uint32_t, std::unique_ptr<IMAPISession>& session) {
    session = std::make_unique<CSession>();
    return S_OK;
}

}  // namespace lyb::mapi
