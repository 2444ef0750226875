#include "app/folder_watch.h"

#include "contacts/voicemail_listing.h"
#include "platform/mapi/imap_connection.h"
#include "platform/mapi/imap_watch.h"
#include "platform/mapi/maildir_provider.h"
#include "platform/mapi/mapi.h"
#include "store/account_problem.h"
#include "store/message_store.h"
#include "ui/voicemail_list.h"

#include <QFileSystemWatcher>
#include <QSocketNotifier>
#include <QTimer>

#include <sys/eventfd.h>
#include <unistd.h>

#include <map>
#include <memory>
#include <vector>

namespace lyb::app {

namespace {

// Lists the Inbox: entry id to read flag. False when it cannot be listed
// (the rows are then left as they are). An IMAP folder whose server cannot
// be reached gives its cached list (and says so in offline_since).
bool readFlags(store::CMessageFolder& folder, std::map<QByteArray, bool>& flags) {
    std::vector<store::CEntryInfo> entries;
    if (!store::list_messages(folder, entries))
        return false;
    for (const store::CEntryInfo& entry : entries)
        flags[entry.entry_id] = entry.read > 0;
    return true;
}

// The address of an IMAP account (by name, any case, the first listed) and
// its name as the accounts file spells it; false when the account is not an
// IMAP one.
bool imapAddressOf(const QString& account, mapi::ImapAddress& address, QString& name) {
    for (const mapi::Account& a : mapi::loadAccounts()) {
        if (a.displayName.compare(account, Qt::CaseInsensitive) != 0)
            continue;
        name = a.displayName;
        return !a.imapAddress.isEmpty() && mapi::parseImapAddress(a.imapAddress, address);
    }
    return false;
}

}  // namespace

CFolderWatch::CFolderWatch(ui::CVoiceMailList* list, std::function<bool()> canUpdate,
                           QObject* parent)
    : QObject(parent),
      list_(list),
      canUpdate_(std::move(canUpdate)),
      watcher_(new QFileSystemWatcher(this)),
      settle_(new QTimer(this)),
      serverNews_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    settle_->setSingleShot(true);
    settle_->setInterval(kSettleMs);
    connect(settle_, &QTimer::timeout, this, &CFolderWatch::update);
    // Not restarted by later changes: a folder that keeps changing is still
    // followed every kSettleMs.
    connect(watcher_, &QFileSystemWatcher::directoryChanged, this, &CFolderWatch::changed);
    connect(list_->model(), &QAbstractItemModel::modelReset, this, &CFolderWatch::follow);
    if (serverNews_ >= 0) {
        auto* notifier = new QSocketNotifier(serverNews_, QSocketNotifier::Read, this);
        connect(notifier, &QSocketNotifier::activated, this, [this] {
            uint64_t count = 0;
            if (::read(serverNews_, &count, sizeof count) > 0)
                changed();
        });
    }
}

CFolderWatch::~CFolderWatch() {
    imap_.reset();  // no news comes after this
    if (serverNews_ >= 0)
        ::close(serverNews_);
}

void CFolderWatch::changed() {
    if (!settle_->isActive())
        settle_->start();
}

void CFolderWatch::follow() {
    settle_->stop();
    if (const QStringList watched = watcher_->directories(); !watched.isEmpty())
        watcher_->removePaths(watched);
    known_.clear();
    const ui::CVoiceMailListModel* model = list_->list_model();
    const QString account = model->folder() ? model->open_account_name() : QString();
    folder_ = account.isEmpty() ? QString() : store::account_folder(account);
    mapi::ImapAddress address;
    QString name;
    if (folder_.isEmpty() && !account.isEmpty() && imapAddressOf(account, address, name)) {
        const bool other = !imap_ || imapAccount_ != account;
        // The watch's thread only counts up serverNews_: it touches no Qt
        // object, and the count wakes this thread's event loop.
        if (serverNews_ >= 0 && other)
            imap_ = std::make_unique<mapi::ImapWatch>(account, address, [fd = serverNews_] {
                const uint64_t one = 1;
                [[maybe_unused]] const ssize_t n = ::write(fd, &one, sizeof one);
            });
        imapAccount_ = account;
        // While the list is read, the server readies the session the list was
        // made on for the tap that follows (a no-op once it is ready).
        if (other || !warmUp_ || warmUp_->done())
            warmUp_ =
                std::make_unique<mapi::ImapWarmUp>(mapi::ImapConnection::forAccount(name, address));
    } else {
        imap_.reset();
        warmUp_.reset();
    }
    if (folder_.isEmpty() && !imap_)
        return;
    for (const store::CEntryInfo& entry : model->listed())
        known_.insert(entry.entry_id);
    if (!folder_.isEmpty())
        watcher_->addPaths({folder_ + QStringLiteral("/new"), folder_ + QStringLiteral("/cur")});
    // What arrived while the list was being made, before the folders were
    // watched, is looked for once.
    settle_->start();
}

void CFolderWatch::update() {
    ui::CVoiceMailListModel* model = list_->list_model();
    store::CMessageFolder* folder = model->folder();
    if (!folder || (folder_.isEmpty() && !imap_))
        return;
    // A warm-up holds the account's connection: the listing below would
    // wait for it here, on the window's thread.
    if ((canUpdate_ && !canUpdate_()) || (warmUp_ && !warmUp_->done())) {
        settle_->start();
        return;
    }
    std::map<QByteArray, bool> now;
    if (!readFlags(*folder, now))
        return;
    if (folder->offline_since) {
        // The cached list says nothing new; the rows wait for the server.
        emit updated();
        return;
    }

    // Rows from the bottom up, so removing one leaves those still to come
    // where they were.
    QSet<QByteArray> shown;
    for (int row = model->rowCount() - 1; row >= 0; --row) {
        store::CVoiceMailMessage* record = model->record_at(row);
        if (!record)
            continue;
        const QByteArray id = record->entry_id();
        const auto found = now.find(id);
        if (found == now.end()) {
            model->remove_row(row);
            continue;
        }
        shown.insert(id);
        if (found->second == (record->is_read() != 0))
            continue;
        // Another program marked it read or unread.
        std::unique_ptr<store::CVoiceMailMessage> again =
            store::open_voicemail(*folder, store::CEntryInfo{QString(), id});
        if (!again) {
            model->remove_row(row);
            continue;
        }
        again->set_caller_name(record->caller_name());
        model->replace_record(row, std::move(again));
    }

    std::vector<std::unique_ptr<store::CVoiceMailMessage>> fresh;
    QSet<QByteArray> known;
    for (const auto& [id, read] : now) {
        known.insert(id);
        if (known_.contains(id) || shown.contains(id))
            continue;
        if (auto record = store::open_voicemail(*folder, store::CEntryInfo{QString(), id}))
            fresh.push_back(std::move(record));
    }
    known_ = std::move(known);
    if (!fresh.empty()) {
        auto contacts =
            pim::Application::create(contacts::listing_contacts_folder(), pim::contactUi());
        contacts::name_callers(fresh, contacts.get());
        for (auto& record : fresh)
            model->insert_record(std::move(record));
    }
    model->add_placeholder_if_empty();

    // The selection stayed on its row through the changes; the list's mark
    // follows it there.
    if (list_->row_count() > 0) {
        const QModelIndex current = list_->currentIndex();
        list_->select_row(current.isValid() ? current.row() : 0);
    }
    list_->update_column_width();
    emit updated();
}

}  // namespace lyb::app
