// lybtool export and undelete: keep a voicemail's recording as a file, and
// take back the last delete of an account.
//
// Exit status: 0 done; 1 no such voicemail or account, nothing to take back,
// or the file could not be written; 2 the command line is wrong.
#include <QFileInfo>

#include <algorithm>
#include <cctype>
#include <optional>

#include "store/deleted_messages.h"
#include "store/message_store.h"
#include "store/recording_export.h"
#include "tools/command.h"

namespace {

using lyb::tool::err;
using lyb::tool::out;
using namespace lyb::store;

using lyb::tool::kFailed;
using lyb::tool::kUsage;

int runExport(const QStringList& args) {
    QStringList rest = args;
    const bool wav = rest.removeAll(QStringLiteral("--wav")) > 0;
    const QByteArray id = rest.size() == 2 ? lyb::tool::entryIdFromText(rest[0]) : QByteArray();
    if (id.isEmpty()) {
        err(QStringLiteral("usage: lybtool export ID FILE [--wav]"));
        return kUsage;
    }
    CMapiSession session;
    logon(session);
    auto record = open_voicemail_by_entry_id(session, id);
    if (!record) {
        err(QStringLiteral("lybtool export: no voicemail with the id %1").arg(rest[0]));
        return kFailed;
    }
    const ExportKind kind = wav ? ExportKind::Wav : ExportKind::AsReceived;
    QString target = rest[1];
    // A folder gets the name the window's dialog offers.
    if (QFileInfo(target).isDir())
        target += QLatin1Char('/') + exportFileName(record->caller_name(), record->caller_number(),
                                                    record->received_time(),
                                                    exportExtension(kind, record->audio_type()));
    QString error;
    if (!exportRecording(*record, kind, target, false, &error)) {
        err(QStringLiteral("lybtool export: %1").arg(error));
        return kFailed;
    }
    out(target);
    return 0;
}

int runUndelete(const QStringList& args) {
    if (args.size() != 1) {
        err(QStringLiteral("usage: lybtool undelete ID|ACCOUNT"));
        return kUsage;
    }
    CMapiSession session;
    logon(session);
    std::optional<CDeletedMessage> last;
    if (const QByteArray id = lyb::tool::entryIdFromText(args[0]); !id.isEmpty())
        last = last_deleted(id);
    if (!last) {
        if (auto store = open_store_by_name(session, args[0])) {
            if (auto inbox = open_inbox(*store))
                last = last_deleted(folder_entry_id(*inbox));
        }
    }
    if (!last) {
        err(QStringLiteral("lybtool undelete: no delete of %1 to take back").arg(args[0]));
        return kFailed;
    }
    const QByteArray back = undelete(session, *last);
    if (back.isEmpty()) {
        err(QStringLiteral("lybtool undelete: the message is no longer in the Trash"));
        return kFailed;
    }
    out(QString::fromLatin1(back.toHex()));
    return 0;
}

const lyb::tool::Registration exportCommand{
    {"export", "ID FILE [--wav]",
     "write the recording of the voicemail with this entry id (as list prints it) to FILE, as "
     "received or, with --wav, decoded to 16-bit PCM; a folder gets the name the window offers; "
     "an existing file is never replaced",
     runExport}};
const lyb::tool::Registration undeleteCommand{
    {"undelete", "ID|ACCOUNT",
     "move the last deleted voicemail of an account (or the one with this entry id, when it was "
     "its account's last delete) back from the Trash to the Inbox; prints its new entry id",
     runUndelete}};

}  // namespace
