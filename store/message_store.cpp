#include "store/message_store.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <atomic>
#include <system_error>
#include <thread>

#include "platform/mapi/maildir_provider.h"

namespace lyb::store {

using namespace lyb::mapi;

namespace {

std::unique_ptr<CVoiceMailMessage> buildRecord(std::unique_ptr<IMAPIProp> object) {
    std::unique_ptr<IMessage> message = entry_cast<IMessage>(std::move(object));
    if (!message)
        return nullptr;
    try {
        return std::make_unique<CVoiceMailMessage>(message);
    } catch (...) {
        return nullptr;  // the message is released with its pointer
    }
}

}  // namespace

void read_entry_table(IMAPITable& table, std::vector<CEntryInfo>& out) {
    table.SetColumns({PR_DISPLAY_NAME_W, PR_ENTRYID}, 0);
    out.clear();
    for (;;) {
        SRowSet rows;
        if (Failed(table.QueryRows(1, 0, rows)) || rows.size() != 1)
            break;
        CEntryInfo info;
        for (const SPropValue& v : rows[0]) {
            if (v.ulPropTag == PR_ENTRYID)
                info.entry_id = v.bin;
            if (v.ulPropTag == PR_DISPLAY_NAME_W)
                info.display_name = v.str;
        }
        out.push_back(std::move(info));
    }
}

bool logon(CMapiSession& session) {
    std::unique_ptr<IMAPISession> s;
    if (MAPILogonEx(0, s) != S_OK)
        s.reset();
    session.reset(std::move(s));
    return session.is_logged_on();
}

bool list_stores(const CMapiSession& session, std::vector<CEntryInfo>& stores) {
    stores.clear();
    if (!session.is_logged_on())
        return false;
    std::unique_ptr<IMAPITable> table;
    if (Failed(session.get()->GetMsgStoresTable(MAPI_UNICODE, table)) || !table)
        return false;
    read_entry_table(*table, stores);
    return true;
}

std::unique_ptr<CMessageStore> open_store_by_name(const CMapiSession& session,
                                                  const QString& name) {
    std::vector<CEntryInfo> stores;
    if (!list_stores(session, stores))
        return nullptr;
    for (const CEntryInfo& info : stores) {
        if (info.display_name.compare(name, Qt::CaseInsensitive) != 0)
            continue;
        auto result = std::make_unique<CMessageStore>();
        if (Failed(session.get()->OpenMsgStore(info.entry_id, MDB_NO_DIALOG | MAPI_BEST_ACCESS,
                                               result->store)) ||
            !result->store) {
            return nullptr;
        }
        result->info = info;
        return result;  // later rows with the same name are never tried
    }
    return nullptr;
}

std::unique_ptr<CMessageFolder> open_inbox(CMessageStore& store) {
    if (!store.store)
        return nullptr;
    QByteArray inboxId;
    if (Failed(store.store->GetReceiveFolder(QString(), 0, inboxId)))
        return nullptr;
    std::unique_ptr<IMAPIProp> object;
    uint32_t type = 0;
    if (Failed(store.store->OpenEntry(inboxId, 0, &type, object)))
        return nullptr;
    auto folder = std::make_unique<CMessageFolder>();
    folder->folder = entry_cast<IMAPIFolder>(std::move(object));
    if (!folder->folder)
        return nullptr;
    return folder;
}

bool list_messages(CMessageFolder& folder, std::vector<CEntryInfo>& messages) {
    messages.clear();
    if (!folder.folder)
        return false;
    std::unique_ptr<IMAPITable> table;
    if (Failed(folder.folder->GetContentsTable(0, table)) || !table)
        return false;
    read_entry_table(*table, messages);
    return true;
}

std::unique_ptr<CVoiceMailMessage> open_voicemail(CMessageFolder& folder, const CEntryInfo& entry) {
    if (!folder.folder)
        return nullptr;
    std::unique_ptr<IMAPIProp> object;
    uint32_t type = 0;
    if (Failed(folder.folder->OpenEntry(entry.entry_id, 0, &type, object)))
        return nullptr;
    return buildRecord(std::move(object));
}

std::vector<std::unique_ptr<CVoiceMailMessage>> open_voicemails(
    CMessageFolder& folder, const std::vector<CEntryInfo>& entries, unsigned threads) {
    std::vector<std::unique_ptr<CVoiceMailMessage>> records(entries.size());
    // Messages are parsed independently, and a folder opens entries from any
    // thread, so the work is shared out one message at a time.
    std::atomic<size_t> next{0};
    auto work = [&] {
        for (size_t i = next++; i < entries.size(); i = next++) {
            try {
                records[i] = open_voicemail(folder, entries[i]);
            } catch (...) {
                // skipped like any message that cannot be opened
            }
        }
    };
    constexpr size_t kPerThread = 32;  // fewer messages are not worth a thread
    if (threads == 0)
        threads = std::max(1u, std::thread::hardware_concurrency());
    const size_t helpers = std::min<size_t>(threads - 1, entries.size() / kPerThread);
    std::vector<std::jthread> pool;
    pool.reserve(helpers);
    try {
        for (size_t i = 0; i < helpers; ++i)
            pool.emplace_back(work);
    } catch (const std::system_error&) {
        // no more threads to be had: those started and this one do the rest
    }
    work();
    pool.clear();  // joins
    return records;
}

std::unique_ptr<CVoiceMailMessage> open_voicemail_by_entry_id(const CMapiSession& session,
                                                              const QByteArray& entryId) {
    if (!session.is_logged_on())
        return nullptr;
    std::unique_ptr<IMAPIProp> object;
    uint32_t type = 0;
    if (Failed(session.get()->OpenEntry(entryId, 0, &type, object)))
        return nullptr;
    return buildRecord(std::move(object));
}

void close_store(std::unique_ptr<CMessageStore>& store) {
    store.reset();
}
void close_folder(std::unique_ptr<CMessageFolder>& folder) {
    folder.reset();
}

QString demoAccountFolder() {
    if (QFileInfo::exists(mapi::accountsFilePath()))
        return {};
    const QString maildir = mapi::demoMaildir();
    return maildir.isEmpty() ? QString() : QFileInfo(maildir).absolutePath();
}

namespace {

// A path as the user writes it: the home folder as "~".
QString shownPath(const QString& path) {
    const QString home = QDir::homePath();
    if (path == home)
        return QStringLiteral("~");
    if (home != QLatin1String("/") && path.startsWith(home + QLatin1Char('/')))
        return QLatin1Char('~') + path.mid(home.size());
    return path;
}

}  // namespace

QString account_problem(const CMapiSession& session, const QString& name) {
    std::vector<CEntryInfo> stores;
    list_stores(session, stores);
    for (const CEntryInfo& info : stores) {
        if (info.display_name.compare(name, Qt::CaseInsensitive) != 0)
            continue;
        const QString maildir = mapi::storeMaildir(info.entry_id);
        const QString why = mapi::maildirProblem(maildir);
        if (why.isEmpty())
            return {};
        return QStringLiteral("The account \"%1\" (%2) cannot be read: %3")
            .arg(info.display_name, shownPath(maildir), why);
    }
    return QStringLiteral("There is no account \"%1\" in %2")
        .arg(name, shownPath(mapi::accountsFilePath()));
}

bool delete_message(CMessageFolder* folder, const QByteArray& entryId) {
    if (!folder || !folder->folder)
        return false;
    return folder->folder->DeleteMessages({entryId}, 0) == S_OK;
}

}  // namespace lyb::store
