// CFolderWatch: keeps the voicemail list true to its account's Maildir while
// the window is shown, in front or not.
//
// Whenever the list is filled anew it watches that account's Inbox folders
// new and cur (inotify, through QFileSystemWatcher) and, once a change has
// had kSettleMs to settle (a mail tool often renames several files at once),
// brings the rows in line with the Inbox: a row whose message is gone is
// removed, a message the Inbox did not hold before is read and, when it is a
// voicemail, named from the contacts and inserted at its date, and a message
// whose read flag changed is read again in its row. No other message is read
// again: those the listing found that are not voicemails are remembered as
// such. The selection and the playing row stay on their voicemails, and
// playback goes on (a playing voicemail that is removed plays to its end).
//
// An IMAP account is followed the same way, its news coming from the
// server (mapi::ImapWatch: IDLE on a connection of its own) instead of the
// file system, and the rows brought in line with a listing of the folder.
// After each listing the account's connection is readied for reading on a
// thread of its own (mapi::ImapWarmUp), so that the first tap does not wait
// for work the server does at a session's first reading of a message; an
// update waits for the warm-up's end rather than for the connection.
//
// While the window waits inside a piece of work (a box, a dialog, a refresh)
// the update waits too: a row index held by that work stays true.
#pragma once

#include <QByteArray>
#include <QObject>
#include <QSet>
#include <QString>

#include <functional>
#include <memory>

class QFileSystemWatcher;
class QTimer;

namespace lyb::mapi {
class ImapWarmUp;
class ImapWatch;
}  // namespace lyb::mapi
namespace lyb::ui {
class CVoiceMailList;
}

namespace lyb::app {

class CFolderWatch final : public QObject {
    Q_OBJECT

public:
    static constexpr int kSettleMs = 250;

    // list: the list followed (borrowed; it outlives the watch). canUpdate
    // says whether the rows may change now; when it says no, the update is
    // tried again after kSettleMs.
    CFolderWatch(ui::CVoiceMailList* list, std::function<bool()> canUpdate,
                 QObject* parent = nullptr);
    ~CFolderWatch() override;

    // The Maildir watched; empty when none is (no account open, or one
    // without a folder).
    QString folder() const { return folder_; }
    // Whether an IMAP account's folder is followed.
    bool followsServer() const { return imap_ != nullptr; }
    // Brings the rows in line with the Inbox now, as a change does.
    void update();

signals:
    // The rows were brought in line with the Inbox.
    void updated();

private:
    void follow();
    void changed();

    ui::CVoiceMailList* list_;
    std::function<bool()> canUpdate_;
    QFileSystemWatcher* watcher_;
    QTimer* settle_;
    QString folder_;
    int serverNews_;  // eventfd the IMAP watch counts its news into
    std::unique_ptr<mapi::ImapWatch> imap_;
    QString imapAccount_;
    // Readies the account's connection for reading after each listing; its
    // end (the window's) interrupts it, never waiting for the server.
    std::unique_ptr<mapi::ImapWarmUp> warmUp_;
    QSet<QByteArray> known_;  // entry ids of every message already looked at
};

}  // namespace lyb::app
