#include "today/voicemail_count.h"

#include <sys/stat.h>

#include <QDateTime>
#include <QFile>

#include <algorithm>
#include <memory>
#include <optional>

#include "contacts/contacts.h"
#include "contacts/number_forms.h"
#include "contacts/voicemail_listing.h"
#include "platform/mapi/maildir_provider.h"
#include "platform/names/names.h"
#include "platform/pim/pim.h"
#include "platform/registry/registry.h"
#include "store/body_text.h"
#include "store/caller_reading.h"
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

// Whether a contents row whose first two columns are PR_ENTRYID and
// PR_MESSAGE_FLAGS is an unread message.
bool isUnreadRow(const SRow& row) {
    return hasValue(row, 0, PR_ENTRYID) && hasValue(row, 1, PR_MESSAGE_FLAGS) &&
           (row[1].l & MSGFLAG_READ) == 0;
}

// Whether the message with this entry id opens and is a voicemail.
bool opensAsVoicemail(IMAPIFolder& inbox, const QByteArray& entryId) {
    std::unique_ptr<IMAPIProp> object;
    uint32_t type = 0;
    if (Failed(inbox.OpenEntry(entryId, 0, &type, object)))
        return false;
    const auto message = entry_cast<IMessage>(std::move(object));
    return message && store::is_voicemail(*message);
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

// The message's delivery time as a file time; 0 when it has none.
uint64_t deliveredAt(IMessage& message) {
    std::vector<SPropValue> values;
    message.GetProps({PR_MESSAGE_DELIVERY_TIME}, 0, values);
    return values.size() == 1 && values[0].ulPropTag == PR_MESSAGE_DELIVERY_TIME ? values[0].ft : 0;
}

// The caller of a message as the list names it: read from its subject and
// body as the voicemail record reads them, then named from the contacts as
// the list names callers, else the number as shown. Empty when nobody is named.
QString callerOf(IMAPIFolder& inbox, const QByteArray& entryId) {
    std::unique_ptr<IMAPIProp> object;
    uint32_t type = 0;
    if (Failed(inbox.OpenEntry(entryId, 0, &type, object)))
        return {};
    const auto message = entry_cast<IMessage>(std::move(object));
    if (!message)
        return {};
    std::vector<SPropValue> values;
    message->GetProps({PR_SUBJECT_W}, MAPI_UNICODE, values);
    const QString subject =
        values.size() == 1 && values[0].ulPropTag == PR_SUBJECT_W ? values[0].str : QString();
    store::CDefaultVoiceMailParser parser;
    parser.parse(subject, store::read_body_text(*message));
    QString name = parser.caller_name;
    if (!parser.caller_number.isEmpty()) {
        const auto app =
            pim::Application::create(contacts::listing_contacts_folder(), pim::contactUi());
        if (app && app->logon(nullptr) == pim::kOk) {
            if (auto named = contacts::resolve_caller_name(*app, parser.caller_number, name))
                name = *named;
        }
        if (app)
            app->logoff();
    }
    if (name.isEmpty() && !parser.caller_number.isEmpty())
        name = contacts::format_for_display(parser.caller_number);
    return name;
}

// Modification time in nanoseconds; -1 when the folder cannot be read.
int64_t modified(const QString& path) {
    struct stat st;
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return -1;
    return static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
}

// Rows are asked for in batches of this many.
constexpr int kRowsPerQuery = 256;

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
    SRowSet rows;
    while (!Failed(contents->QueryRows(kRowsPerQuery, 0, rows)) && !rows.empty()) {
        for (const SRow& row : rows) {
            if (!isUnreadRow(row))
                continue;
            if (opensAsVoicemail(*inbox, row[0].bin))
                ++count;
        }
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
        if (!isUnreadRow(row))
            continue;
        const uint64_t time = hasValue(row, 2, PR_MESSAGE_DELIVERY_TIME) ? row[2].ft : 0;
        if (newest && time <= newestTime)
            continue;
        if (opensAsVoicemail(*inbox, row[0].bin)) {
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
        newestId_.clear();
        newestCaller_.clear();
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
    const long count = listAndCount(*account, stamp.maildir, stop);
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

long CVoicemailCounter::listAndCount(const QString& account, const QString& maildir,
                                     const std::atomic<bool>* stop) {
    // The folder stays open while it is the same account's, so that what its
    // last listing learnt about each file is not learnt again.
    if (!inbox_ || inboxAccount_ != account || inboxMaildir_ != maildir) {
        inbox_ = openChosenInbox(account);
        inboxAccount_ = account;
        inboxMaildir_ = maildir;
    }
    std::unique_ptr<IMAPITable> contents;
    if (!inbox_ || Failed(inbox_->GetContentsTable(0, contents)) || !contents ||
        Failed(contents->SetColumns({PR_ENTRYID, PR_MESSAGE_FLAGS, PR_MESSAGE_SIZE}, 0))) {
        inbox_.reset();
        verdicts_.clear();
        newestId_.clear();
        newestCaller_.clear();
        return 0;
    }
    ++generation_;
    long count = 0;
    QByteArray newest;  // the newest voicemail counted, by entry id
    uint64_t newestTime = 0;
    SRowSet rows;
    while (!Failed(contents->QueryRows(kRowsPerQuery, 0, rows)) && !rows.empty()) {
        for (const SRow& row : rows) {
            if (stop && stop->load())
                return count;
            if (!isUnreadRow(row))
                continue;
            // A message file replaced under its unique name with one of another
            // size (one delivered in part, then whole) is opened again.
            const int64_t size = hasValue(row, 2, PR_MESSAGE_SIZE) ? row[2].l : -1;
            auto known = verdicts_.find(row[0].bin);
            bool verdict = false;
            uint64_t delivered = 0;
            if (known != verdicts_.end() && known->size == size) {
                known->generation = generation_;
                verdict = known->voicemail;
                delivered = known->delivered;
            } else {
                std::unique_ptr<IMAPIProp> object;
                uint32_t type = 0;
                ++opened_;
                if (Failed(inbox_->OpenEntry(row[0].bin, 0, &type, object)))
                    continue;  // judged again next time
                auto message = entry_cast<IMessage>(std::move(object));
                verdict = message && store::is_voicemail(*message);
                if (verdict)
                    delivered = deliveredAt(*message);
                verdicts_.insert(row[0].bin, Verdict{size, delivered, generation_, verdict});
            }
            if (!verdict)
                continue;
            ++count;
            if (newest.isNull() || delivered > newestTime) {
                newest = row[0].bin;
                newestTime = delivered;
            }
        }
    }
    // Verdicts of messages no longer listed as unread are forgotten.
    verdicts_.removeIf([this](const QHash<QByteArray, Verdict>::iterator& it) {
        return it->generation != generation_;
    });
    // The caller is read again when the newest changes or the count does (a
    // contact added meanwhile names it then).
    if (newest.isNull()) {
        newestId_.clear();
        newestCaller_.clear();
    } else if (newest != newestId_ || count != lastCount_) {
        newestId_ = newest;
        newestCaller_ = callerOf(*inbox_, newest);
    }
    return count;
}

CCountThread::CCountThread(Done done) : done_(std::move(done)), thread_([this] { run(); }) {}

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
        done_(count, counter_.newestCaller());
    }
}

}  // namespace lyb::today
