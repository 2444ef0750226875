#include "today/voicemail_count.h"

#include "platform/registry/registry.h"

#include <memory>

namespace lyb::today {
namespace {

using namespace lyb::mapi;

const QString kSettingsKey = QStringLiteral("Software\\Corvendale\\Lyrabell\\Lyrabell");
const QString kMessageStore = QStringLiteral("Message Store");
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

bool audioFileName(const QString& name) {
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot < 0)
        return false;
    const QString ext = name.mid(dot, 4);
    return ext.compare(QLatin1String(".wav"), Qt::CaseInsensitive) == 0 ||
           ext.compare(QLatin1String(".gsm"), Qt::CaseInsensitive) == 0;
}

}  // namespace

bool hasAudioAttachment(IMessage& message) {
    std::unique_ptr<IMAPITable> table;
    if (Failed(message.GetAttachmentTable(0, table)) || !table ||
        Failed(table->SetColumns({PR_ATTACH_FILENAME_W, PR_ATTACH_MIME_TAG_W}, 0)))
        return false;
    bool verdict = false;
    SRow row;
    while (nextRow(*table, row)) {
        if (hasValue(row, 0, PR_ATTACH_FILENAME_W))
            verdict = audioFileName(row[0].str);
        if (!verdict && hasValue(row, 1, PR_ATTACH_MIME_TAG_W)) {
            const QString type = row[1].str.toLower();
            verdict = type.contains(QLatin1String("gsm")) || type.contains(QLatin1String("wav"));
        }
    }
    return verdict;
}

long countNewVoicemails() {
    const auto key = reg::Key::open(reg::Hive::CurrentUser, kSettingsKey);
    if (!key)
        return 0;
    const auto account = key->readString(kMessageStore);
    if (!account || account->size() > kMaxAccountName)
        return 0;

    std::unique_ptr<IMAPISession> session;
    if (Failed(MAPILogonEx(0, session)) || !session)
        return 0;
    const auto store = openAccount(*session, *account);
    if (!store)
        return 0;
    const auto inbox = openInbox(*store);
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
            message && hasAudioAttachment(*message))
            ++count;
    }
    return count;
}

}  // namespace lyb::today
