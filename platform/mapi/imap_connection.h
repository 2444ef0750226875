// One IMAP connection per account and process, shared by every object of the
// IMAP provider (imap_provider.h) and serialised by a lock: each call is one
// exchange with the server and may be made from any thread.
//
// Security. TLS always: from the first byte (imaps) or after STARTTLS (imap),
// and a server that does not offer STARTTLS is refused before anything else
// is sent. The server's certificate chain must verify against the system's
// authorities or the account's ca= file, for the account's host name (or IP
// address); otherwise the connection is closed before the login, and the
// error names the certificate's SHA-256 fingerprint. The password comes from
// the Secret Service (platform/secrets). After a refused login the next
// attempt waits a minute; every call in between fails at once.
//
// Failures. Every network wait ends after kTimeoutSeconds. A call that finds
// the connection gone reconnects once. Failed calls leave lastError() set, and
// the first failure after a success is printed as one line on standard error.
//
// Reading never changes the mailbox: every fetch is BODY.PEEK.
#pragma once

#include <QByteArray>
#include <QString>

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "platform/mapi/imap_url.h"
#include "platform/mapi/mapi.h"

struct mailimap;

namespace lyb::mapi {

class ImapSyncState;

constexpr int kImapTimeoutSeconds = 8;

// One leaf of a message's MIME structure, as BODYSTRUCTURE describes it.
struct ImapPart {
    QByteArray section;  // "1", "2.1": the part's number for BODY[...]
    QString mimeType;    // lower case, "type/subtype"
    QString fileName;    // from Content-Disposition filename, else Content-Type name
    QByteArray charset;
    QByteArray encoding;  // lower case transfer encoding; empty for 7bit
    uint32_t octets = 0;  // encoded size
    bool attachment = false;
    bool message = false;  // an embedded message/rfc822
};

struct ImapStructure {
    std::vector<ImapPart> attachments;  // in message order
    std::optional<ImapPart> text;       // the first text/plain body part
    std::optional<ImapPart> html;       // the first text/html body part
};

struct ImapListed {
    uint32_t uid = 0;
    bool seen = false;
    uint64_t internalDate = 0;  // file time
    uint32_t size = 0;          // RFC822.SIZE
    uint64_t modseq = 0;        // with CONDSTORE, in a listing of changes
    ImapStructure structure;
};

// What to fetch of one message: a section ("" the whole message, "HF" the
// Subject, Received and Date header fields, else a part number), from
// `origin`, at most `length` bytes (0: all).
struct ImapSection {
    QByteArray section;
    uint32_t origin = 0;
    uint32_t length = 0;
};

// What kept a connection from being made, for words of the caller's.
enum class ImapFailure {
    None,
    HostNotFound,  // the name does not resolve
    Unreachable,   // no connection: refused or not answering
    Refused,       // the connection was refused (tryImapLogin only)
    NoTls,         // the TLS handshake failed
    NoStarttls,    // a plain port without STARTTLS
    Untrusted,     // the certificate does not verify (fingerprint given)
    NoPassword,    // none stored
    LoginRefused,  // user name or password refused
    NoFolder,      // the folder cannot be selected
    Lost,          // the connection broke
};

struct ImapTrial {
    ImapFailure failure = ImapFailure::None;
    QString message;      // what failed, in a line (as on standard error)
    QString fingerprint;  // of an untrusted certificate: SHA-256, "AB:CD:..."
};

// Where a message went: a folder of the account (another folder by its name
// on the wire, the account's own as its address writes it), that folder's
// UIDVALIDITY and the message's UID there (0 when not known).
struct ImapMoved {
    QString folder;
    uint32_t uidValidity = 0;
    uint32_t uid = 0;
};

class ImapConnection;
// Connects, logs in with password and opens the folder as an account's
// connection would, then closes; for a dialog that sets an account up or
// asks for its password. Never waits for an earlier refusal; a success
// lets the account's connections try again at once.
ImapTrial tryImapLogin(const QString& account, const ImapAddress& address, const QString& password);

class ImapConnection {
public:
    // The process's connection for an account: made on first use (no
    // network until a call needs it) and kept until the process ends.
    static std::shared_ptr<ImapConnection> forAccount(const QString& account,
                                                      const ImapAddress& address);

    ImapConnection(QString account, ImapAddress address);
    ~ImapConnection();
    ImapConnection(const ImapConnection&) = delete;
    ImapConnection& operator=(const ImapConnection&) = delete;

    const QString& account() const { return account_; }
    const ImapAddress& address() const { return address_; }

    // Lists the folder: UID, flags, internal date, size and structure of
    // every message, in UID order; *uidValidity gets the folder's
    // UIDVALIDITY. After the first listing only what changed is fetched:
    // with CONDSTORE the messages changed since (and all UIDs only when some
    // went away), else all UIDs and flags; everything of new messages.
    HRESULT list(std::vector<ImapListed>& out, uint32_t* uidValidity);
    // The same listing, shared: while nothing changed, every call gives the
    // same object (a caller may keep what it built from it by its address).
    HRESULT listShared(std::shared_ptr<const std::vector<ImapListed>>& out, uint32_t* uidValidity);
    // The listing of one message (opening an entry id that no listing gave).
    HRESULT listOne(uint32_t uidValidity, uint32_t uid, ImapListed& out);
    // Fetches sections of one message, in the order asked; a section the
    // server does not give comes back empty.
    HRESULT fetch(uint32_t uidValidity, uint32_t uid, const std::vector<ImapSection>& sections,
                  std::vector<QByteArray>& out);
    // Sets or clears \Seen.
    HRESULT setSeen(uint32_t uidValidity, uint32_t uid, bool seen);
    // Moves the message to the Trash (the \Trash folder, else one named
    // Trash or Deleted Items/Messages, else a new "Trash"), by MOVE or by
    // COPY, \Deleted and UID EXPUNGE of that message only. *moved (when not
    // null) gets where it went; its uid stays 0 when the server does not
    // tell (no UIDPLUS).
    HRESULT moveToTrash(uint32_t uidValidity, uint32_t uid, ImapMoved* moved = nullptr);
    // Moves a message of another folder of the account (a Trash message, by
    // that folder's name on the wire as moveToTrash gave it) back into the
    // account's folder, flags kept. The other folder is selected for this
    // one exchange only. MAPI_E_NOT_FOUND when the message is no longer
    // there, the folder was renumbered, or the server does not tell where it
    // went (no UIDPLUS); moved gets where it went.
    HRESULT moveBack(const QString& folder, uint32_t folderValidity, uint32_t uid,
                     ImapMoved& moved);

    // For a connection of the caller's own, never one given to others
    // (ImapWatch). Without a connection, makes one and returns S_OK at once
    // (what happened while there was none is not known). Otherwise waits
    // with IDLE until the server tells of a change to the folder,
    // idleSeconds pass or wakeFd becomes readable; a server without IDLE is
    // asked with NOOP after pollSeconds (unless wakeFd became readable). S_OK
    // when messages came or went or flags changed; S_FALSE when nothing did;
    // a failure when the connection could not be made or broke (it is then
    // dropped).
    HRESULT waitForChange(int wakeFd, int idleSeconds, int pollSeconds);

    // Readies the session for reading messages. Some servers do costly work
    // at a session's first reading of any message's content: Dovecot's
    // Maildir storage, for one, then reads the whole folder to find the
    // files (about half a second at 10,000 messages), in every session anew.
    // A listing from the kept state reads no content, so a tap after it
    // would wait for that work; this reads the first byte of the newest
    // listed message (BODY.PEEK[]<0.1>: a byte of its header, never of a
    // recording; \Seen stays as it was) so that the server does it now.
    // Once per session: S_FALSE, nothing sent, when the session already read
    // a message's content, has nothing listed, has no connection (this never
    // connects), when another call holds the connection, or when stop is
    // set. A broken connection is dropped, not made anew.
    HRESULT warmUp(const std::atomic<bool>& stop);
    // Makes a warm-up's wait for the server end at once (the connection is
    // dropped, the next call makes a new one); any other call is left alone.
    void interruptWarmUp();
    // Ends whatever waits for the server on this connection at once, by
    // shutting its socket down (the connection is dropped, and no LOGOUT
    // is sent). For a connection of the caller's own (ImapWatch).
    void interrupt();

    QString lastError() const;

private:
    friend ImapTrial tryImapLogin(const QString&, const ImapAddress&, const QString&);
    HRESULT ready();  // connected, logged in, folder selected; lock held
    HRESULT connect();
    void drop();
    HRESULT failed(HRESULT hr, const QString& why);
    template <typename Op>
    HRESULT run(uint32_t uidValidity, Op op);
    int findTrash();  // trash_ learnt (or made); lock held

    QString account_;
    ImapAddress address_;
    mutable std::mutex mutex_;
    mailimap* imap_ = nullptr;
    uint32_t uidValidity_ = 0;
    QByteArray folder_;         // the account's folder on the wire (connect())
    bool contentRead_ = false;  // some message's content, in this session
    // The connected socket and whether a warm-up waits on it, for
    // interruptWarmUp() (which does not take mutex_).
    std::mutex socketMutex_;
    int socket_ = -1;
    bool warming_ = false;
    bool interrupted_ = false;  // no LOGOUT at the end (interrupt())
    QString lastError_;
    bool reported_ = false;
    std::optional<QString> trash_;
    ImapFailure failure_ = ImapFailure::None;  // of the last connect()
    QString fingerprint_;                      // of an untrusted certificate
    std::optional<QString> givenPassword_;     // instead of the stored one
    // The last listing, kept while UIDVALIDITY stays: later listings ask
    // only for UIDs and flags, and for everything of new messages.
    std::map<uint32_t, ImapListed> known_;
    uint32_t knownValidity_ = 0;
    uint64_t highestModseq_ = 0;  // of the selection (CONDSTORE); 0 without
    uint64_t knownModseq_ = 0;    // what known_ is up to date with
    // known_ kept between runs (imap_sync_state.h): read at the first
    // listing, written after each one that changed it.
    std::unique_ptr<ImapSyncState> state_;
    // known_ as the last listing gave it out, with what it was up to date with.
    std::shared_ptr<const std::vector<ImapListed>> snapshot_;
    uint32_t snapshotValidity_ = 0;
    uint64_t snapshotModseq_ = 0;
};

// A warm-up (ImapConnection::warmUp) of a connection on a thread of its
// own, for a program that shows a list and plays what is tapped: started
// right after a listing, it is done by the time a person has read the list
// and tapped (a tap meanwhile waits for it on the connection's lock). The
// destructor ends a warm-up still waiting for the server at once and joins
// the thread: no thread is left inside the network libraries when the
// program ends, and the end never waits for the server.
class ImapWarmUp {
public:
    explicit ImapWarmUp(std::shared_ptr<ImapConnection> connection);
    ~ImapWarmUp();
    ImapWarmUp(const ImapWarmUp&) = delete;
    ImapWarmUp& operator=(const ImapWarmUp&) = delete;

    bool done() const { return done_; }

private:
    std::shared_ptr<ImapConnection> connection_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> done_{false};
    std::thread thread_;  // last: starts when the rest is made
};

// A folder's name on the wire: modified UTF-7, each '/' (what the address
// writes between levels) replaced by the server's separator when that is
// another character. The server's separator written in a name goes as it is
// (on a server that uses '.', "Old/v1.2" is three levels).
QByteArray imapFolderName(const QString& name, char separator = '/');

}  // namespace lyb::mapi
