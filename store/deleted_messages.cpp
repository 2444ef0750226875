#include "store/deleted_messages.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>

#include <mutex>
#include <vector>

#include "platform/paths/private_files.h"

namespace lyb::store {

using namespace lyb::mapi;

namespace {

std::vector<CDeletedMessage> readState() {
    std::vector<CDeletedMessage> all;
    QFile file(deleted_state_path());
    if (!file.open(QIODevice::ReadOnly))
        return all;
    for (const QByteArray& line : file.readAll().split('\n')) {
        const QList<QByteArray> f = line.trimmed().split(' ');
        if (f.size() != 3 || f[0].isEmpty() || f[1].isEmpty() || f[2].isEmpty())
            continue;
        all.push_back(
            {QByteArray::fromHex(f[0]), QByteArray::fromHex(f[1]), QByteArray::fromHex(f[2])});
    }
    return all;
}

bool writeState(const std::vector<CDeletedMessage>& all) {
    const QString path = deleted_state_path();
    if (!paths::makePrivateFolder(QFileInfo(path).absolutePath()))
        return false;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) ||
        !file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner))
        return false;
    for (const CDeletedMessage& d : all)
        file.write(d.folder_id.toHex() + ' ' + d.original_id.toHex() + ' ' + d.trash_id.toHex() +
                   '\n');
    return file.commit();
}

// This process's own deletes, found even when the state file cannot be written.
std::mutex ownMutex;
std::vector<CDeletedMessage> ownDeletes;

// Replaces the folder's last delete with deleted, or forgets it (null).
void rememberFor(const QByteArray& folderId, const CDeletedMessage* deleted) {
    {
        std::lock_guard lock(ownMutex);
        std::erase_if(ownDeletes,
                      [&](const CDeletedMessage& d) { return d.folder_id == folderId; });
        if (deleted)
            ownDeletes.push_back(*deleted);
    }
    std::vector<CDeletedMessage> all = readState();
    std::erase_if(all, [&](const CDeletedMessage& d) { return d.folder_id == folderId; });
    if (deleted)
        all.push_back(*deleted);
    writeState(all);
}

template <typename T>
std::unique_ptr<T> openById(const CMapiSession& session, const QByteArray& id) {
    std::unique_ptr<IMAPIProp> object;
    uint32_t type = 0;
    if (!session.is_logged_on() || id.isEmpty() ||
        Failed(session.get()->OpenEntry(id, 0, &type, object)))
        return nullptr;
    return entry_cast<T>(std::move(object));
}

QByteArray binaryProp(IMAPIProp& object, uint32_t tag) {
    std::vector<SPropValue> values;
    object.GetProps({tag}, 0, values);
    return values.size() == 1 && values[0].ulPropTag == tag ? values[0].bin : QByteArray();
}

}  // namespace

QString deleted_state_path() {
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    if (!QDir::isAbsolutePath(state))
        state = QDir::homePath() + QStringLiteral("/.local/state");
    return state + QStringLiteral("/lyrabell/deleted");
}

QByteArray folder_entry_id(CMessageFolder& folder) {
    return folder.folder ? binaryProp(*folder.folder, PR_ENTRYID) : QByteArray();
}

bool delete_to_trash(CMessageFolder& folder, const QByteArray& entryId, CDeletedMessage* deleted) {
    if (!folder.folder)
        return false;
    std::vector<QByteArray> trashIds;
    if (folder.folder->MoveToWastebasket({entryId}, trashIds) != S_OK)
        return false;
    CDeletedMessage d{folder_entry_id(folder), entryId,
                      trashIds.size() == 1 ? trashIds[0] : QByteArray()};
    // A delete that cannot be taken back leaves no older one to take back
    // in its place.
    if (!d.folder_id.isEmpty())
        rememberFor(d.folder_id, d.trash_id.isEmpty() ? nullptr : &d);
    if (deleted)
        *deleted = std::move(d);
    return true;
}

QByteArray undelete(const CMapiSession& session, const CDeletedMessage& deleted) {
    auto message = openById<IMessage>(session, deleted.trash_id);
    if (!message)
        return {};
    auto trash = openById<IMAPIFolder>(session, binaryProp(*message, PR_PARENT_ENTRYID));
    auto home = openById<IMAPIFolder>(session, deleted.folder_id);
    message.reset();
    if (!trash || !home)
        return {};
    std::vector<QByteArray> newIds;
    if (trash->CopyMessages({deleted.trash_id}, home.get(), MESSAGE_MOVE, &newIds) != S_OK ||
        newIds.size() != 1)
        return {};
    if (const auto last = last_deleted(deleted.folder_id);
        last && last->trash_id == deleted.trash_id)
        rememberFor(deleted.folder_id, nullptr);
    return newIds[0];
}

std::optional<CDeletedMessage> last_deleted(const QByteArray& id) {
    std::vector<CDeletedMessage> all = readState();
    {
        // Another process's delete of the same folder since is in the file.
        std::lock_guard lock(ownMutex);
        all.insert(all.end(), ownDeletes.begin(), ownDeletes.end());
    }
    for (const CDeletedMessage& d : all) {
        if (d.folder_id == id || d.original_id == id)
            return d;
    }
    return std::nullopt;
}

}  // namespace lyb::store
