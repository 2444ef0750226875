#include "today/voicemail_count.h"

#include <sys/stat.h>

#include <QDateTime>
#include <QFile>

#include <algorithm>
#include <memory>
#include <optional>

#include "platform/mapi/maildir_provider.h"
#include "platform/names/names.h"
#include "platform/registry/registry.h"
#include "store/recording_rule.h"

namespace lyb::today {
namespace {

using namespace lyb::mapi;

const QString kSettingsKey = QString::fromLatin1(names::kSettingsKey);
const QString kMessageStore = QString::fromLatin1(names::kMessageStore);
// The longest account name read from the settings; a longer one is not read.
constexpr qsizetype kMaxAccountName = 256;

// Gives the next row, or false at the end of the table or on a failure.
bool nextRow(IMAPITable& table, SRow& row) {
    SRowSet rows;
    if (Failed(table.QueryRows(1, 0, rows)) || rows.size() != 1)
        return false;
    row = std::move(rows.front());
    return true;
}

bool hasValue(const SRow& row, size_t column, uint32_t tag) {
    return column < row.size() && row[column].ulPropTag == tag;
}

std::unique_ptr<IMsgStore> openAccount(IMAPISession& session, const QString& account) {
    std::unique_ptr<IMAPITable> stores;
    if (Failed(session.GetMsgStoresTable(MAPI_UNICODE, stores)) || !stores ||
        Failed(stores->SetColumns({PR_DISPLAY_NAME_W, PR_ENTRYID}, 0)))
        return nullptr;
    SRow row;
    while (nextRow(*stores, row)) {
        if (!hasValue(row, 0, PR_DISPLAY_NAME_W) ||
            row[0].str.compare(account, Qt::CaseInsensitive) != 0)
            continue;
        // The first account of that name is the one; later rows are not read.
        std::unique_ptr<IMsgStore> store;
        if (!hasValue(row, 1, PR_ENTRYID) ||
            Failed(session.OpenMsgStore(row[1].bin, MDB_NO_DIALOG | MAPI_BEST_ACCESS, store)))
            return nullptr;
        return store;
    }
    return nullptr;
}

std::unique_ptr<IMAPIFolder> openInbox(IMsgStore& store) {
    QByteArray inboxId;
    if (Failed(store.GetReceiveFolder(QString(), 0, inboxId)))
        return nullptr;
    std::unique_ptr<IMAPIProp> object;
    uint32_t type = 0;
    if (Failed(store.OpenEntry(inboxId, 0, &type, object)))
        return nullptr;
    return entry_cast<IMAPIFolder>(std::move(object));
}

std::optional<QString> chosenAccount() {
    const auto key = reg::Key::open(reg::Hive::CurrentUser, kSettingsKey);
    if (!key)
        return std::nullopt;
    auto account = key->readString(kMessageStore);
    if (!account || account->size() > kMaxAccountName)
        return std::nullopt;
    return account;
}

std::unique_ptr<IMAPIFolder> openChosenInbox(const QString& account) {
    std::unique_ptr<IMAPISession> session;
    if (Failed(MAPILogonEx(0, session)) || !session)
        return nullptr;
    const auto store = openAccount(*session, account);
    if (!store)
        return nullptr;
    return openInbox(*store);
}

// Modification time in nanoseconds; -1 when the folder cannot be read.
int64_t modified(const QString& path) {
    struct stat st;
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return -1;
    return static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
}

// A folder's time can stay the same over changes made within one tick of
// the file system's clock (two seconds on some), so a listing made that soon
// after the last change does not stand for later ones.
constexpr int64_t kSettleNs = int64_t{3} * 1000000000;

}  // namespace

long countNewVoicemails() {
    const auto account = chosenAccount();
    if (!account)
        return 0;
    const auto inbox = openChosenInbox(*account);
    if (!inbox)
        return 0;
    std::unique_ptr<IMAPITable> contents;
    if (Failed(inbox->GetContentsTable(0, contents)) || !contents ||
        Failed(contents->SetColumns({PR_ENTRYID, PR_MESSAGE_FLAGS}, 0)))
        return 0;

    long count = 0;
    SRow row;
    while (nextRow(*contents, row)) {
        if (!hasValue(row, 0, PR_ENTRYID) || !hasValue(row, 1, PR_MESSAGE_FLAGS) ||
            (row[1].l & MSGFLAG_READ) != 0)
            continue;
        std::unique_ptr<IMAPIProp> object;
        uint32_t type = 0;
        if (Failed(inbox->OpenEntry(row[0].bin, 0, &type, object)))
            continue;
        if (auto message = entry_cast<IMessage>(std::move(object));
            message && store::is_voicemail(*message))
            ++count;
    }
    return count;
}

std::optional<QByteArray> newestNewVoicemail() {
    const auto account = chosenAccount();
    const auto inbox = account ? openChosenInbox(*account) : nullptr;
    std::unique_ptr<IMAPITable> contents;
    if (!inbox || Failed(inbox->GetContentsTable(0, contents)) || !contents ||
        Failed(contents->SetColumns({PR_ENTRYID, PR_MESSAGE_FLAGS, PR_MESSAGE_DELIVERY_TIME}, 0)))
        return std::nullopt;
    std::optional<QByteArray> newest;
    uint64_t newestTime = 0;
    SRow row;
    while (nextRow(*contents, row)) {
        if (!hasValue(row, 0, PR_ENTRYID) || !hasValue(row, 1, PR_MESSAGE_FLAGS) ||
            (row[1].l & MSGFLAG_READ) != 0)
            continue;
        const uint64_t time = hasValue(row, 2, PR_MESSAGE_DELIVERY_TIME) ? row[2].ft : 0;
        if (newest && time <= newestTime)
            continue;
        std::unique_ptr<IMAPIProp> object;
        uint32_t type = 0;
        if (Failed(inbox->OpenEntry(row[0].bin, 0, &type, object)))
            continue;
        if (auto message = entry_cast<IMessage>(std::move(object));
            message && store::is_voicemail(*message)) {
            newest = row[0].bin;
            newestTime = time;
        }
    }
    return newest;
}

long CVoicemailCounter::count(const std::atomic<bool>* stop) {
    opened_ = 0;
    const auto account = chosenAccount();
    if (!account) {
        lastSettled_ = false;
        verdicts_.clear();
        return 0;
    }
    // The Maildir behind the account, as the store finds it: the first of that name.
    Stamp stamp;
    stamp.account = *account;
    for (const mapi::Account& a : mapi::loadAccounts()) {
        if (a.displayName.compare(*account, Qt::CaseInsensitive) == 0) {
            stamp.maildir = a.maildir;
            break;
        }
    }
    if (!stamp.maildir.isEmpty()) {
        stamp.newTime = modified(stamp.maildir + QStringLiteral("/new"));
        stamp.curTime = modified(stamp.maildir + QStringLiteral("/cur"));
    }
    if (lastSettled_ && stamp == last_)
        return lastCount_;

    const int64_t listedAt = QDateTime::currentMSecsSinceEpoch() * 1000000;
    const long count = listAndCount(*account, stop);
    if (stop && stop->load()) {
        lastSettled_ = false;
        return count;
    }
    last_ = stamp;
    lastCount_ = count;
    lastSettled_ = !stamp.maildir.isEmpty() && stamp.newTime >= 0 && stamp.curTime >= 0 &&
                   std::max(stamp.newTime, stamp.curTime) < listedAt - kSettleNs;
    return count;
}

long CVoicemailCounter::listAndCount(const QString& account, const std::atomic<bool>* stop) {
    const auto inbox = openChosenInbox(account);
    std::unique_ptr<IMAPITable> contents;
    if (!inbox || Failed(inbox->GetContentsTable(0, contents)) || !contents ||
        Failed(contents->SetColumns({PR_ENTRYID, PR_MESSAGE_FLAGS, PR_MESSAGE_SIZE}, 0))) {
        verdicts_.clear();
        return 0;
    }
    QHash<QByteArray, bool> seen;  // the verdicts still listed, kept for the next count
    long count = 0;
    SRow row;
    while (nextRow(*contents, row)) {
        if (stop && stop->load())
            return count;
        if (!hasValue(row, 0, PR_ENTRYID) || !hasValue(row, 1, PR_MESSAGE_FLAGS) ||
            (row[1].l & MSGFLAG_READ) != 0)
            continue;
        // A message file replaced under its unique name with one of another
        // size (one delivered in part, then whole) is opened again.
        QByteArray key = row[0].bin;
        key.append('\0');
        if (hasValue(row, 2, PR_MESSAGE_SIZE))
            key.append(QByteArray::number(row[2].l));
        auto known = verdicts_.constFind(key);
        bool verdict = false;
        if (known != verdicts_.constEnd()) {
            verdict = known.value();
        } else {
            std::unique_ptr<IMAPIProp> object;
            uint32_t type = 0;
            ++opened_;
            if (Failed(inbox->OpenEntry(row[0].bin, 0, &type, object)))
                continue;  // judged again next time
            auto message = entry_cast<IMessage>(std::move(object));
            verdict = message && store::is_voicemail(*message);
        }
        seen.insert(key, verdict);
        if (verdict)
            ++count;
    }
    verdicts_ = std::move(seen);
    return count;
}

CCountThread::CCountThread(std::function<void(long)> done)
    : done_(std::move(done)), thread_([this] { run(); }) {}

CCountThread::~CCountThread() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    wake_.notify_one();
    thread_.join();
}

void CCountThread::request() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        requested_ = true;
    }
    wake_.notify_one();
}

void CCountThread::run() {
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait(lock, [this] { return requested_ || stop_; });
            if (stop_)
                return;
            requested_ = false;
        }
        const long count = counter_.count(&stop_);
        if (stop_)
            return;
        done_(count);
    }
}

}  // namespace lyb::today
