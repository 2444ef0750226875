// lybtool accounts, list and show: the message store's accounts, the
// voicemails of an account's Inbox, and how one message file is recognised.
//
// Exit status: 0 done; 1 no such account, no Inbox, an unreadable file or a
// file that is not a voicemail; 2 the command line is wrong.
#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "contacts/number_forms.h"
#include "contacts/voicemail_listing.h"
#include "platform/files/regular_file.h"
#include "platform/mapi/maildir_provider.h"
#include "platform/names/names.h"
#include "platform/registry/registry.h"
#include "store/message_store.h"
#include "tools/command.h"

namespace {

using lyb::tool::err;
using lyb::tool::out;
using namespace lyb::store;

using lyb::tool::kFailed;
using lyb::tool::kUsage;

const QString kSettingsKey = QString::fromLatin1(lyb::names::kSettingsKey);

QString receivedText(int64_t t) {
    if (t == 0)
        return QStringLiteral("n/a");
    return QDateTime::fromSecsSinceEpoch(t).toString(Qt::ISODate);
}

QStringList fields(CVoiceMailMessage& record) {
    return {record.caller_name(),
            record.caller_number(),
            receivedText(record.received_time()),
            QString::number(record.length_seconds()),
            QString::number(record.is_read()),
            record.audio_type(),
            QString::fromLatin1(record.entry_id().toHex()),
            record.transcript()};
}

// ISO 8601 with the local offset ("2026-03-01T09:15:00+01:00"); empty for none.
QString receivedIso(int64_t t) {
    if (t == 0)
        return {};
    const QDateTime local = QDateTime::fromSecsSinceEpoch(t);
    return local.toOffsetFromUtc(local.offsetFromUtc()).toString(Qt::ISODate);
}

QJsonObject json(CVoiceMailMessage& record) {
    return QJsonObject{
        {"caller_name", record.caller_name()},
        {"caller_number", record.caller_number()},
        {"caller_number_display", lyb::contacts::format_for_display(record.caller_number())},
        {"received", receivedIso(record.received_time())},
        {"received_time", static_cast<qint64>(record.received_time())},
        {"length_seconds", record.length_seconds()},
        {"read", record.is_read()},
        {"audio_type", record.audio_type()},
        {"entry_id", QString::fromLatin1(record.entry_id().toHex())},
        {"transcript", record.transcript()}};
}

// Prints a voicemail as one tab-separated line of text.
void printRecord(CVoiceMailMessage& record) {
    QStringList f = fields(record);
    for (QString& s : f)
        s.replace(QLatin1Char('\t'), QLatin1Char(' '))
            .replace(QLatin1Char('\n'), QLatin1Char(' '))
            .replace(QLatin1Char('\r'), QLatin1Char(' '));
    out(f.join(QLatin1Char('\t')));
}

int runAccounts(const QStringList& args) {
    if (!args.isEmpty()) {
        err(QStringLiteral("usage: lybtool accounts"));
        return kUsage;
    }
    CMapiSession session;
    std::vector<CEntryInfo> stores;
    if (!logon(session) || !list_stores(session, stores)) {
        err(QStringLiteral("lybtool accounts: the message store is not available"));
        return kFailed;
    }
    for (const CEntryInfo& s : stores)
        out(s.display_name);
    return 0;
}

int runList(const QStringList& args) {
    bool asJson = false;
    QString account;
    bool haveAccount = false;
    for (const QString& a : args) {
        if (a == QLatin1String("--json")) {
            asJson = true;
        } else if (!haveAccount && !a.startsWith(QLatin1String("--"))) {
            account = a;
            haveAccount = true;
        } else {
            err(QStringLiteral("usage: lybtool list [ACCOUNT] [--json]"));
            return kUsage;
        }
    }
    if (!haveAccount) {
        const auto key = lyb::reg::Key::open(lyb::reg::Hive::CurrentUser, kSettingsKey);
        const auto stored =
            key ? key->readString(QString::fromLatin1(lyb::names::kMessageStore)) : std::nullopt;
        if (!stored || stored->isEmpty()) {
            err(QStringLiteral("lybtool list: no account given and no \"Message Store\" setting"));
            return kFailed;
        }
        account = *stored;
    }
    CMapiSession session;
    logon(session);
    // The same records, caller names and order as the voicemail list shows.
    auto listing = lyb::contacts::list_voicemails(session, account);
    if (!listing.store) {
        err(QStringLiteral("lybtool list: no account named \"%1\"").arg(account));
        return kFailed;
    }
    if (!listing.listed) {
        err(QStringLiteral("lybtool list: the Inbox of \"%1\" cannot be read").arg(account));
        return kFailed;
    }
    QJsonArray all;
    for (const auto& record : listing.records) {
        if (asJson) {
            all.append(json(*record));
        } else {
            printRecord(*record);
        }
    }
    if (asJson)
        out(QString::fromUtf8(QJsonDocument(all).toJson(QJsonDocument::Indented)).trimmed());
    return 0;
}

int runShow(const QStringList& args) {
    if (args.size() != 1) {
        err(QStringLiteral("usage: lybtool show FILE"));
        return kUsage;
    }
    std::unique_ptr<lyb::mapi::IMessage> message;
    int error = 0;
    if (lyb::mapi::OpenMessageFile(args[0], message, &error) != lyb::mapi::S_OK) {
        err(QStringLiteral("lybtool show: cannot read %1: %2")
                .arg(args[0], QString::fromStdString(lyb::files::errorText(error))));
        return kFailed;
    }
    try {
        CVoiceMailMessage record(message);
        printRecord(record);
        return 0;
    } catch (...) {
        out(QStringLiteral("Not a voice mail"));
        return kFailed;
    }
}

const lyb::tool::Registration accounts{
    {"accounts", "", "list the message store's accounts (display names)", runAccounts}};
const lyb::tool::Registration list{
    {"list", "[ACCOUNT] [--json]",
     "list the voicemails of an account's Inbox (default: the \"Message Store\" setting), newest "
     "first, callers named from the contacts as the list names them: caller name, number, "
     "received, length s, read, audio type, entry id (hex), transcript (lines joined by blanks), "
     "tab-separated; with --json an array of objects with the same fields, the number's display "
     "form besides, the received time with its offset from UTC (empty when unknown), the "
     "transcript's lines kept",
     runList}};
const lyb::tool::Registration show{
    {"show", "FILE",
     "show how one message file is recognised, with the fields of list, or \"Not a voice mail\"",
     runShow}};

}  // namespace
