// lybtool sync, mark and delete: an account's cache brought up to date with
// its Inbox, and the two changes the list makes to a message, by the entry id
// lybtool list prints. Each works through the message store, whatever kind of
// account holds the message.
//
// Exit status: 0 done; 1 no such account or message, or the store refused;
// 2 the command line is wrong.
#include <cctype>

#include "store/message_store.h"
#include "tools/command.h"

namespace {

using lyb::tool::err;
using lyb::tool::out;
using namespace lyb::store;

using lyb::tool::kFailed;
using lyb::tool::kUsage;

QString describe(const CCacheChange& c) {
    static const char* const kKinds[] = {"added", "changed", "removed"};
    QStringList f{QString::fromLatin1(kKinds[static_cast<int>(c.kind)]),
                  QString::fromLatin1(c.entry_id.toHex())};
    if (!c.what.isEmpty())
        f << c.what;
    if (c.unreadable) {
        f << QStringLiteral("cannot be read");
    } else if (c.voicemail) {
        f << QStringLiteral("voicemail") << c.caller_name << c.caller_number;
    } else {
        f << QStringLiteral("not a voicemail");
    }
    for (QString& s : f)
        s.replace(QLatin1Char('\t'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
    return f.join(QLatin1Char('\t'));
}

int runSync(const QStringList& args) {
    if (args.size() != 1) {
        err(QStringLiteral("usage: lybtool sync ACCOUNT"));
        return kUsage;
    }
    CMapiSession session;
    logon(session);
    auto store = open_store_by_name(session, args[0]);
    if (!store) {
        err(QStringLiteral("lybtool sync: no account named \"%1\"").arg(args[0]));
        return kFailed;
    }
    auto inbox = open_inbox(*store);
    std::vector<CEntryInfo> entries;
    if (!inbox || !list_messages(*inbox, entries)) {
        err(QStringLiteral("lybtool sync: the Inbox of \"%1\" cannot be read").arg(args[0]));
        return kFailed;
    }
    if (!inbox->cache) {
        err(QStringLiteral("lybtool sync: the cache of \"%1\" cannot be used").arg(args[0]));
        return kFailed;
    }
    CListingReport report;
    open_voicemails_cached(*inbox, entries, 0, &report);
    int counts[3] = {0, 0, 0};
    for (const CCacheChange& c : report.changes) {
        ++counts[static_cast<int>(c.kind)];
        out(describe(c));
    }
    out(QStringLiteral("%1 added, %2 removed, %3 changed, %4 unchanged")
            .arg(counts[0])
            .arg(counts[2])
            .arg(counts[1])
            .arg(entries.size() - size_t(counts[0] + counts[1])));
    return 0;
}

// Finds the message of args' last entry id; prints why not and gives false.
bool findMessage(const char* command, const QString& id, const CMapiSession& session,
                 std::unique_ptr<CMessageStore>& store, std::unique_ptr<CMessageFolder>& folder) {
    const QByteArray entryId = lyb::tool::entryIdFromText(id);
    if (entryId.isEmpty()) {
        err(QStringLiteral("lybtool %1: \"%2\" is not an entry id (hex, as lybtool list prints it)")
                .arg(QLatin1String(command), id));
        return false;
    }
    if (!find_message(session, entryId, store, folder)) {
        err(QStringLiteral("lybtool %1: no account's Inbox lists the message %2")
                .arg(QLatin1String(command), id));
        return false;
    }
    return true;
}

int runMark(const QStringList& args) {
    if (args.size() != 2 ||
        (args[0] != QLatin1String("read") && args[0] != QLatin1String("unread"))) {
        err(QStringLiteral("usage: lybtool mark read|unread ID"));
        return kUsage;
    }
    CMapiSession session;
    logon(session);
    std::unique_ptr<CMessageStore> store;
    std::unique_ptr<CMessageFolder> folder;
    if (!findMessage("mark", args[1], session, store, folder))
        return kFailed;
    if (!mark_message_read(*folder, lyb::tool::entryIdFromText(args[1]),
                           args[0] == QLatin1String("read"))) {
        err(QStringLiteral("lybtool mark: the store did not mark the message %1").arg(args[1]));
        return kFailed;
    }
    return 0;
}

int runDelete(const QStringList& args) {
    if (args.size() != 1) {
        err(QStringLiteral("usage: lybtool delete ID"));
        return kUsage;
    }
    CMapiSession session;
    logon(session);
    std::unique_ptr<CMessageStore> store;
    std::unique_ptr<CMessageFolder> folder;
    if (!findMessage("delete", args[0], session, store, folder))
        return kFailed;
    if (!delete_message(folder.get(), lyb::tool::entryIdFromText(args[0]))) {
        err(QStringLiteral("lybtool delete: the store did not move the message %1 to the Trash")
                .arg(args[0]));
        return kFailed;
    }
    return 0;
}

const lyb::tool::Registration sync{
    {"sync", "ACCOUNT",
     "bring the account's cache up to date with its Inbox and print what changed, one line per "
     "message (added, changed or removed; the entry id; for changed: read, unread or content; "
     "voicemail with caller name and number, not a voicemail, or cannot be read; "
     "tab-separated), then the counts",
     runSync}};
const lyb::tool::Registration mark{
    {"mark", "read|unread ID",
     "mark the message with this entry id (hex, as list prints it) read or unread", runMark}};
const lyb::tool::Registration remove{
    {"delete", "ID", "move the message with this entry id (hex, as list prints it) to the Trash",
     runDelete}};

}  // namespace
