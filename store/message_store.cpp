#include "store/message_store.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <atomic>
#include <map>
#include <optional>
#include <system_error>
#include <thread>

#include "platform/mapi/imap_provider.h"
#include "platform/mapi/maildir_provider.h"
#include "store/cache_source.h"
#include "store/deleted_messages.h"

namespace lyb::store {

using namespace lyb::mapi;

namespace {

enum class Outcome { record, notVoicemail, failed };

std::unique_ptr<CVoiceMailMessage> buildRecord(std::unique_ptr<IMAPIProp> object,
                                               Outcome* outcome = nullptr) {
    if (outcome)
        *outcome = Outcome::failed;
    std::unique_ptr<IMessage> message = entry_cast<IMessage>(std::move(object));
    if (!message)
        return nullptr;
    try {
        auto record = std::make_unique<CVoiceMailMessage>(message);
        if (outcome)
            *outcome = Outcome::record;
        return record;
    } catch (const CNotVoiceMail&) {
        if (outcome)
            *outcome = Outcome::notVoicemail;
        return nullptr;
    } catch (...) {
        return nullptr;  // the message is released with its pointer
    }
}

std::unique_ptr<CVoiceMailMessage> openRecord(CMessageFolder& folder, const CEntryInfo& entry,
                                              Outcome* outcome) {
    if (outcome)
        *outcome = Outcome::failed;
    if (!folder.folder)
        return nullptr;
    std::unique_ptr<IMAPIProp> object;
    uint32_t type = 0;
    if (Failed(folder.folder->OpenEntry(entry.entry_id, 0, &type, object)))
        return nullptr;
    auto record = buildRecord(std::move(object), outcome);
    if (record && folder.cache)
        record->set_source(entry.entry_id, folder.cache);
    return record;
}

// Builds the records of entries[i] for every i in which, on up to threads
// threads; outcomes (when not null) gets what became of each.
void buildRecords(CMessageFolder& folder, const std::vector<CEntryInfo>& entries,
                  const std::vector<size_t>& which, unsigned threads,
                  std::vector<std::unique_ptr<CVoiceMailMessage>>& records,
                  std::vector<Outcome>* outcomes) {
    // Messages are parsed independently, and a folder opens entries from any
    // thread, so the work is shared out one message at a time.
    std::atomic<size_t> next{0};
    auto work = [&] {
        for (size_t k = next++; k < which.size(); k = next++) {
            const size_t i = which[k];
            Outcome outcome = Outcome::failed;
            try {
                records[i] = openRecord(folder, entries[i], &outcome);
            } catch (...) {
                // skipped like any message that cannot be opened
            }
            if (outcomes)
                (*outcomes)[i] = outcome;
        }
    };
    constexpr size_t kPerThread = 32;  // fewer messages are not worth a thread
    if (threads == 0)
        threads = std::max(1u, std::thread::hardware_concurrency());
    const size_t helpers = std::min<size_t>(threads - 1, which.size() / kPerThread);
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
}

CCacheChange changeOf(CCacheChange::Kind kind, const QByteArray& id, const CRecognition& r,
                      const QString& what = QString()) {
    CCacheChange c;
    c.kind = kind;
    c.entry_id = id;
    c.voicemail = r.voicemail;
    c.caller_name = r.caller_name;
    c.caller_number = r.caller_number;
    c.what = what;
    return c;
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
    folder->cache = CCacheSource::open(store.info.display_name, folder->folder);
    return folder;
}

namespace {

// A file beside the cache whose modification time is when the account last
// listed its messages; empty without a cache.
QString listedStamp(CMessageFolder& folder) {
    if (!folder.cache)
        return {};
    return folder.cache->with([](CMessageCache& c) { return c.path(); }) +
           QStringLiteral(".listed");
}

bool isImapFolder(IMAPIFolder& folder) {
    std::vector<SPropValue> values;
    return !Failed(folder.GetProps({PR_ENTRYID}, 0, values)) && values.size() == 1 &&
           values[0].ulPropTag == PR_ENTRYID && mapi::isImapEntryId(values[0].bin);
}

// The cached messages in place of an unreachable server's listing.
bool cachedListing(CMessageFolder& folder, std::vector<CEntryInfo>& messages) {
    const QString stamp = listedStamp(folder);
    const QFileInfo listed(stamp);
    if (stamp.isEmpty() || !listed.exists() || !isImapFolder(*folder.folder))
        return false;
    const auto cached = folder.cache->with([](CMessageCache& c) { return c.load(); });
    for (const auto& [id, m] : cached) {
        CEntryInfo info;
        info.entry_id = id;
        info.size = m.identity.size;
        info.stamp = m.identity.stamp;
        info.read = m.recognition.read;
        messages.push_back(std::move(info));
    }
    folder.offline_since = std::max<int64_t>(1, listed.lastModified().toSecsSinceEpoch());
    return true;
}

}  // namespace

bool list_messages(CMessageFolder& folder, std::vector<CEntryInfo>& messages) {
    messages.clear();
    if (!folder.folder)
        return false;
    std::unique_ptr<IMAPITable> table;
    if (Failed(folder.folder->GetContentsTable(0, table)) || !table)
        return cachedListing(folder, messages);
    folder.offline_since = 0;
    if (const QString stamp = listedStamp(folder); !stamp.isEmpty()) {
        QFile file(stamp);
        if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            file.setFileTime(QDateTime::currentDateTimeUtc(), QFileDevice::FileModificationTime);
    }
    table->SetColumns({PR_DISPLAY_NAME_W, PR_ENTRYID, PR_MESSAGE_SIZE, PR_LAST_MODIFICATION_TIME,
                       PR_MESSAGE_DELIVERY_TIME, PR_MESSAGE_FLAGS},
                      0);
    for (;;) {
        SRowSet rows;
        if (Failed(table->QueryRows(1, 0, rows)) || rows.size() != 1)
            break;
        CEntryInfo info;
        bool modified = false;
        for (const SPropValue& v : rows[0]) {
            switch (v.ulPropTag) {
                case PR_ENTRYID:
                    info.entry_id = v.bin;
                    break;
                case PR_DISPLAY_NAME_W:
                    info.display_name = v.str;
                    break;
                case PR_MESSAGE_SIZE:
                    info.size = v.l;
                    break;
                case PR_LAST_MODIFICATION_TIME:
                    info.stamp = static_cast<int64_t>(v.ft);
                    modified = true;
                    break;
                case PR_MESSAGE_DELIVERY_TIME:
                    if (!modified)
                        info.stamp = static_cast<int64_t>(v.ft);
                    break;
                case PR_MESSAGE_FLAGS:
                    info.read = v.l & MSGFLAG_READ ? 1 : 0;
                    break;
                default:
                    break;
            }
        }
        messages.push_back(std::move(info));
    }
    return true;
}

std::unique_ptr<CVoiceMailMessage> open_voicemail(CMessageFolder& folder, const CEntryInfo& entry) {
    return openRecord(folder, entry, nullptr);
}

std::vector<std::unique_ptr<CVoiceMailMessage>> open_voicemails(
    CMessageFolder& folder, const std::vector<CEntryInfo>& entries, unsigned threads) {
    return open_voicemails_cached(folder, entries, threads, nullptr);
}

std::vector<std::unique_ptr<CVoiceMailMessage>> open_voicemails_cached(
    CMessageFolder& folder, const std::vector<CEntryInfo>& entries, unsigned threads,
    CListingReport* report) {
    using Kind = CCacheChange::Kind;
    std::vector<std::unique_ptr<CVoiceMailMessage>> records(entries.size());
    CListingReport own;
    CListingReport& r = report ? *report : own;
    r = CListingReport();
    std::vector<size_t> toParse;
    if (!folder.cache) {
        toParse.resize(entries.size());
        for (size_t i = 0; i < entries.size(); ++i)
            toParse[i] = i;
        buildRecords(folder, entries, toParse, threads, records, nullptr);
        r.parsed = toParse.size();
        return records;
    }

    std::map<QByteArray, CCachedMessage> cached =
        folder.cache->with([](CMessageCache& cache) { return cache.load(); });
    std::vector<CCachedMessage> put;
    std::vector<std::optional<Kind>> pending(entries.size());  // the change a parse makes
    for (size_t i = 0; i < entries.size(); ++i) {
        const CEntryInfo& e = entries[i];
        const CMessageIdentity identity{e.entry_id, e.size, e.stamp};
        auto it = cached.find(e.entry_id);
        if (it == cached.end() || e.size < 0 || !(it->second.identity == identity)) {
            pending[i] = it == cached.end() ? Kind::added : Kind::changed;
            if (it != cached.end())
                cached.erase(it);  // a new message under the same id
            toParse.push_back(i);
            continue;
        }
        CRecognition known = it->second.recognition;
        cached.erase(it);
        if (e.read >= 0 && e.read != known.read) {
            known.read = e.read;
            put.push_back({identity, known});
            r.changes.push_back(
                changeOf(Kind::changed, e.entry_id, known,
                         known.read ? QStringLiteral("read") : QStringLiteral("unread")));
        }
        if (known.voicemail)
            records[i] = std::make_unique<CVoiceMailMessage>(known, e.entry_id, folder.cache);
        ++r.from_cache;
    }

    std::vector<Outcome> outcomes(entries.size(), Outcome::failed);
    buildRecords(folder, entries, toParse, threads, records, &outcomes);
    r.parsed = toParse.size();
    for (size_t i : toParse) {
        const CEntryInfo& e = entries[i];
        CRecognition learnt;
        if (records[i])
            learnt = records[i]->recognition();
        if (outcomes[i] != Outcome::failed && e.size >= 0)
            put.push_back({{e.entry_id, e.size, e.stamp}, learnt});
        CCacheChange c =
            changeOf(*pending[i], e.entry_id, learnt,
                     *pending[i] == Kind::changed ? QStringLiteral("content") : QString());
        c.unreadable = outcomes[i] == Outcome::failed;
        r.changes.push_back(std::move(c));
    }
    // What is left was cached but is listed no more.
    std::vector<QByteArray> forget;
    for (const auto& [id, message] : cached) {
        forget.push_back(id);
        r.changes.push_back(changeOf(Kind::removed, id, message.recognition));
    }
    if (!put.empty() || !forget.empty())
        folder.cache->with([&](CMessageCache& cache) { return cache.update(put, forget); });
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

bool delete_message(CMessageFolder* folder, const QByteArray& entryId) {
    // Remembered as the folder's last delete, so it can be taken back.
    if (!folder || !folder->folder || !delete_to_trash(*folder, entryId))
        return false;
    if (folder->cache)
        folder->cache->with([&](CMessageCache& cache) { return cache.forget(entryId); });
    return true;
}

bool mark_message_read(CMessageFolder& folder, const QByteArray& entryId, bool read) {
    if (!folder.folder)
        return false;
    std::unique_ptr<IMAPIProp> object;
    uint32_t type = 0;
    if (Failed(folder.folder->OpenEntry(entryId, 0, &type, object)))
        return false;
    std::unique_ptr<IMessage> message = entry_cast<IMessage>(std::move(object));
    std::vector<SPropValue> values;
    if (!message || Failed(message->GetProps({PR_MESSAGE_FLAGS}, 0, values)) ||
        values.size() != 1 || values[0].ulPropTag != PR_MESSAGE_FLAGS) {
        return false;
    }
    SPropValue value = values[0];
    value.l = read ? (value.l | static_cast<int32_t>(MSGFLAG_READ))
                   : (value.l & ~static_cast<int32_t>(MSGFLAG_READ));
    if (message->SetProps({value}) != S_OK)
        return false;
    if (folder.cache)
        folder.cache->readChanged(entryId, read);
    return true;
}

bool find_message(const CMapiSession& session, const QByteArray& entryId,
                  std::unique_ptr<CMessageStore>& store, std::unique_ptr<CMessageFolder>& folder) {
    store.reset();
    folder.reset();
    std::vector<CEntryInfo> stores;
    if (entryId.isEmpty() || !list_stores(session, stores))
        return false;
    for (const CEntryInfo& info : stores) {
        auto candidate = std::make_unique<CMessageStore>();
        if (Failed(session.get()->OpenMsgStore(info.entry_id, MDB_NO_DIALOG | MAPI_BEST_ACCESS,
                                               candidate->store)) ||
            !candidate->store) {
            continue;
        }
        candidate->info = info;
        auto inbox = open_inbox(*candidate);
        std::vector<CEntryInfo> messages;
        if (!inbox || !list_messages(*inbox, messages))
            continue;
        for (const CEntryInfo& m : messages) {
            if (m.entry_id == entryId) {
                store = std::move(candidate);
                folder = std::move(inbox);
                return true;
            }
        }
    }
    return false;
}

}  // namespace lyb::store
