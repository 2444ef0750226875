// GLib's and GnuTLS's headers come before Qt's (the "signals" macro).
#include <gmime/gmime.h>
#include <libetpan/libetpan.h>

#include "platform/mapi/imap_connection.h"

#include <QStringDecoder>

#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>

#include "platform/mapi/imap_response.h"
#include "platform/mapi/imap_sync_state.h"
#include "platform/mapi/imap_tls.h"
#include "platform/mapi/maildir_provider.h"
#include "platform/mapi/mime_content.h"
#include "platform/secrets/secrets.h"

namespace lyb::mapi {

namespace {

int64_t steadySeconds() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

struct FetchList {
    clist* p = nullptr;
    ~FetchList() {
        if (p)
            mailimap_fetch_list_free(p);
    }
};

struct Set {
    mailimap_set* p;
    explicit Set(mailimap_set* s) : p(s) {}
    ~Set() { mailimap_set_free(p); }
};

QString responseText(mailimap* imap) {
    return imap && imap->imap_response ? QString::fromUtf8(imap->imap_response).trimmed()
                                       : QString();
}

std::mutex& registryMutex() {
    static std::mutex m;
    return m;
}

// When each account's password was last refused (steady seconds), shared by
// all of its connections: after a refusal no connection of the account's
// tries again within a minute.
int64_t& loginRefusedAt(const QString& account) {
    static auto* refused = new std::map<QString, int64_t>;
    return (*refused)[account];
}

// The server's hierarchy separator, as LIST "" "" tells it; '/' when it
// tells none (a flat namespace) or the command fails.
char hierarchySeparator(mailimap* imap) {
    clist* boxes = nullptr;
    char separator = '/';
    if (mailimap_list(imap, "", "", &boxes) == MAILIMAP_NO_ERROR && boxes) {
        if (clistiter* first = clist_begin(boxes)) {
            const auto* box = static_cast<mailimap_mailbox_list*>(clist_content(first));
            if (box->mb_delimiter)
                separator = box->mb_delimiter;
        }
    }
    if (boxes)
        mailimap_list_result_free(boxes);
    return separator;
}

}  // namespace

// ---------------------------------------------------------------- names

QByteArray imapFolderName(const QString& name, char separator) {
    QByteArray out;
    QByteArray pending;  // UTF-16BE of a run of non-ASCII characters
    auto flush = [&] {
        if (pending.isEmpty())
            return;
        QByteArray b64 = pending.toBase64(QByteArray::OmitTrailingEquals);
        b64.replace('/', ',');
        out += '&' + b64 + '-';
        pending.clear();
    };
    for (QChar c : name) {
        const char16_t u = c.unicode();
        if (u == u'/' && separator && separator != '/') {
            flush();
            out += separator;
        } else if (u >= 0x20 && u <= 0x7E) {
            flush();
            out += u == '&' ? QByteArray("&-") : QByteArray(1, static_cast<char>(u));
        } else {
            pending += static_cast<char>(u >> 8);
            pending += static_cast<char>(u & 0xFF);
        }
    }
    flush();
    return out;
}

// ---------------------------------------------------------------- connection

std::shared_ptr<ImapConnection> ImapConnection::forAccount(const QString& account,
                                                           const ImapAddress& address) {
    // Kept for the whole run, so that a program that logs on again for each
    // count or refresh keeps one logged-in connection and its last listing;
    // never destroyed, as the end of the process closes the socket anyway.
    static auto* connections = new std::map<QString, std::shared_ptr<ImapConnection>>;
    const QString key = account + QLatin1Char('\n') + address.user + QLatin1Char('@') +
                        address.host + QLatin1Char(':') + QString::number(address.port) +
                        QLatin1Char('/') + address.folder + QLatin1Char('?') + address.caFile +
                        (address.implicitTls ? QLatin1Char('s') : QLatin1Char('p'));
    std::lock_guard lock(registryMutex());
    std::shared_ptr<ImapConnection>& slot = (*connections)[key];
    if (!slot)
        slot = std::make_shared<ImapConnection>(account, address);
    return slot;
}

ImapConnection::ImapConnection(QString account, ImapAddress address)
    : account_(std::move(account)), address_(std::move(address)) {}

ImapConnection::~ImapConnection() {
    std::lock_guard lock(mutex_);
    bool interrupted;
    {
        std::lock_guard socket(socketMutex_);
        interrupted = interrupted_;
    }
    if (imap_ && !interrupted) {
        // A server that stopped answering does not hold the program up long.
        mailimap_set_timeout(imap_, 2);
        mailimap_logout(imap_);
    }
    drop();
}

QString ImapConnection::lastError() const {
    std::lock_guard lock(mutex_);
    return lastError_;
}

void ImapConnection::drop() {
    {
        std::lock_guard lock(socketMutex_);
        socket_ = -1;
    }
    if (imap_)
        mailimap_free(imap_);
    imap_ = nullptr;
    uidValidity_ = 0;
    contentRead_ = false;
}

HRESULT ImapConnection::failed(HRESULT hr, const QString& why) {
    lastError_ = why;
    bool interrupted;
    {
        std::lock_guard lock(socketMutex_);
        interrupted = interrupted_;
    }
    // A connection ended on purpose (interrupt()) is nothing to tell.
    if (!reported_ && !interrupted) {
        std::fprintf(stderr, "lyrabell: IMAP account \"%s\": %s\n", account_.toUtf8().constData(),
                     why.toUtf8().constData());
        reported_ = true;
    }
    return hr;
}

HRESULT ImapConnection::connect() {
    drop();
    failure_ = ImapFailure::LoginRefused;
    fingerprint_.clear();
    if (!givenPassword_) {
        std::lock_guard lock(registryMutex());
        const int64_t refused = loginRefusedAt(account_);
        if (refused && steadySeconds() - refused < 60)
            return failed(MAPI_E_LOGON_FAILED,
                          lastError_.isEmpty()
                              ? QStringLiteral("the server refused the login of %1 less than a "
                                               "minute ago")
                                    .arg(address_.user)
                              : lastError_);
    }
    QString secretError;
    const std::optional<QString> password =
        givenPassword_ ? givenPassword_ : secrets::lookupPassword(account_, &secretError);
    if (!password) {
        failure_ = ImapFailure::NoPassword;
        return failed(MAPI_E_LOGON_FAILED,
                      secretError.isEmpty()
                          ? QStringLiteral("no password is stored (lybtool account password %1)")
                                .arg(account_)
                          : QStringLiteral("the password cannot be read: %1").arg(secretError));
    }
    static std::once_flag once;
    std::call_once(once, [] { mailstream_network_delay.tv_sec = kImapTimeoutSeconds; });
    imap_ = mailimap_new(0, nullptr);
    mailimap_set_timeout(imap_, kImapTimeoutSeconds);
    const QByteArray host = address_.host.toUtf8();
    const QString where = QStringLiteral("%1:%2").arg(address_.host).arg(address_.port);
    int rc;
    if (address_.implicitTls) {
        rc = mailimap_ssl_connect_with_callback(imap_, host.constData(), address_.port,
                                                setServerName, const_cast<QByteArray*>(&host));
    } else {
        rc = mailimap_socket_connect(imap_, host.constData(), address_.port);
    }
    if (rc != MAILIMAP_NO_ERROR_AUTHENTICATED && rc != MAILIMAP_NO_ERROR_NON_AUTHENTICATED) {
        drop();
        failure_ = rc == MAILIMAP_ERROR_SSL ? ImapFailure::NoTls : ImapFailure::Unreachable;
        if (rc == MAILIMAP_ERROR_SSL)
            return failed(
                MAPI_E_LOGON_FAILED,
                QStringLiteral("no secure (TLS) connection to %1 could be made").arg(where));
        return failed(MAPI_E_LOGON_FAILED,
                      QStringLiteral("the server %1 cannot be reached (not found, refused or not "
                                     "answering)")
                          .arg(where));
    }
    if (!address_.implicitTls) {
        // The capabilities the greeting or a CAPABILITY command names.
        if (!imap_->imap_connection_info || !imap_->imap_connection_info->imap_capability) {
            mailimap_capability_data* caps = nullptr;
            if (mailimap_capability(imap_, &caps) == MAILIMAP_NO_ERROR && caps)
                mailimap_capability_data_free(caps);
        }
        if (!mailimap_has_extension(imap_, "STARTTLS")) {
            drop();
            failure_ = ImapFailure::NoStarttls;
            return failed(MAPI_E_LOGON_FAILED,
                          QStringLiteral("the server %1 does not offer STARTTLS; the password is "
                                         "never sent without encryption")
                              .arg(where));
        }
        rc = mailimap_socket_starttls_with_callback(imap_, setServerName,
                                                    const_cast<QByteArray*>(&host));
        if (rc != MAILIMAP_NO_ERROR) {
            drop();
            failure_ = ImapFailure::NoTls;
            return failed(MAPI_E_LOGON_FAILED,
                          QStringLiteral("STARTTLS with %1 failed").arg(where));
        }
    }
    if (const QString why = verifyChain(imap_, address_, fingerprint_); !why.isEmpty()) {
        drop();
        failure_ = ImapFailure::Untrusted;
        return failed(MAPI_E_LOGON_FAILED, why);
    }
    const QByteArray user = address_.user.toUtf8();
    const QByteArray pass = password->toUtf8();
    rc = mailimap_login(imap_, user.constData(), pass.constData());
    if (rc != MAILIMAP_NO_ERROR) {
        const QString said = responseText(imap_);
        drop();
        if (rc == MAILIMAP_ERROR_LOGIN) {
            failure_ = ImapFailure::LoginRefused;
            if (!givenPassword_) {
                std::lock_guard lock(registryMutex());
                loginRefusedAt(account_) = steadySeconds();
            }
            return failed(
                MAPI_E_LOGON_FAILED,
                QStringLiteral("the server refused the login of %1 (wrong password?)%2")
                    .arg(address_.user, said.isEmpty() ? QString() : QStringLiteral(": ") + said));
        }
        failure_ = ImapFailure::Lost;
        return failed(MAPI_E_LOGON_FAILED,
                      QStringLiteral("the connection to %1 broke during the login").arg(where));
    }
    {
        std::lock_guard lock(registryMutex());
        loginRefusedAt(account_) = 0;
    }
    // The capabilities after the login can differ from those before it.
    mailimap_capability_data* caps = nullptr;
    if (mailimap_capability(imap_, &caps) == MAILIMAP_NO_ERROR && caps)
        mailimap_capability_data_free(caps);
    // The address writes '/' between levels; the server names its own
    // separator. INBOX and other names of one level need not ask.
    folder_ = imapFolderName(address_.folder, address_.folder.contains(QLatin1Char('/'))
                                                  ? hierarchySeparator(imap_)
                                                  : '/');
    highestModseq_ = 0;
    if (mailimap_has_condstore(imap_)) {
        rc = mailimap_select_condstore(imap_, folder_.constData(), &highestModseq_);
    } else {
        rc = mailimap_select(imap_, folder_.constData());
    }
    if (rc != MAILIMAP_NO_ERROR || !imap_->imap_selection_info) {
        const QString said = responseText(imap_);
        drop();
        failure_ = ImapFailure::NoFolder;
        return failed(
            MAPI_E_NOT_FOUND,
            QStringLiteral("the folder \"%1\" cannot be opened%2")
                .arg(address_.folder, said.isEmpty() ? QString() : QStringLiteral(": ") + said));
    }
    uidValidity_ = imap_->imap_selection_info->sel_uidvalidity;
    failure_ = ImapFailure::None;
    if (mailstream_low* low = mailstream_get_low(imap_->imap_stream)) {
        std::lock_guard lock(socketMutex_);
        socket_ = mailstream_low_get_fd(low);
    }
    return S_OK;
}

namespace {

// Whether a TCP connection to host:port is refused (not merely unanswered
// within a few seconds).
bool connectionRefused(const QByteArray& host, uint16_t port) {
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host.constData(), QByteArray::number(port).constData(), &hints, &found) != 0)
        return false;
    bool refused = false;
    for (addrinfo* a = found; a && !refused; a = a->ai_next) {
        const int fd = ::socket(a->ai_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0)
            continue;
        if (::connect(fd, a->ai_addr, a->ai_addrlen) != 0 && errno == EINPROGRESS) {
            pollfd p{fd, POLLOUT, 0};
            if (::poll(&p, 1, 5000) == 1) {
                int error = 0;
                socklen_t size = sizeof error;
                ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size);
                refused = error == ECONNREFUSED;
            }
        } else {
            refused = errno == ECONNREFUSED;
        }
        ::close(fd);
    }
    ::freeaddrinfo(found);
    return refused;
}

}  // namespace

ImapTrial tryImapLogin(const QString& account, const ImapAddress& address,
                       const QString& password) {
    ImapTrial trial;
    const QByteArray host = address.host.toUtf8();
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host.constData(), nullptr, &hints, &found) != 0) {
        trial.failure = ImapFailure::HostNotFound;
        trial.message = QStringLiteral("the server %1 is not found").arg(address.host);
        return trial;
    }
    ::freeaddrinfo(found);
    ImapConnection c(account, address);
    std::lock_guard lock(c.mutex_);
    c.reported_ = true;  // said by the caller, not on standard error
    c.givenPassword_ = password;
    if (!Failed(c.connect())) {
        std::lock_guard registry(registryMutex());
        loginRefusedAt(account) = 0;
        return trial;
    }
    trial.failure = c.failure_;
    trial.message = c.lastError_;
    trial.fingerprint = c.fingerprint_;
    if (trial.failure == ImapFailure::Unreachable && connectionRefused(host, address.port))
        trial.failure = ImapFailure::Refused;
    return trial;
}

HRESULT ImapConnection::ready() {
    if (imap_)
        return S_OK;
    return connect();
}

template <typename Op>
HRESULT ImapConnection::run(uint32_t uidValidity, Op op) {
    std::lock_guard lock(mutex_);
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (const HRESULT hr = ready(); Failed(hr))
            return hr;
        if (uidValidity && uidValidity != uidValidity_)
            return failed(MAPI_E_NOT_FOUND,
                          QStringLiteral("the folder was renumbered (UIDVALIDITY changed)"));
        const int rc = op();
        if (rc == MAILIMAP_NO_ERROR) {
            reported_ = false;
            lastError_.clear();
            return S_OK;
        }
        if (rc != MAILIMAP_ERROR_STREAM || attempt == 1) {
            const QString said = responseText(imap_);
            if (rc == MAILIMAP_ERROR_STREAM)
                drop();
            return failed(rc == MAILIMAP_ERROR_STREAM ? MAPI_E_NOT_FOUND : E_FAIL,
                          rc == MAILIMAP_ERROR_STREAM
                              ? QStringLiteral("the connection to the server was lost")
                              : QStringLiteral("the server refused: %1").arg(said));
        }
        drop();  // the connection was gone: once more on a new one
    }
    return E_FAIL;
}

namespace {

mailimap_fetch_type* listingFetch() {
    mailimap_fetch_type* type = mailimap_fetch_type_new_fetch_att_list_empty();
    mailimap_fetch_type_new_fetch_att_list_add(type, mailimap_fetch_att_new_uid());
    mailimap_fetch_type_new_fetch_att_list_add(type, mailimap_fetch_att_new_flags());
    mailimap_fetch_type_new_fetch_att_list_add(type, mailimap_fetch_att_new_internaldate());
    mailimap_fetch_type_new_fetch_att_list_add(type, mailimap_fetch_att_new_rfc822_size());
    mailimap_fetch_type_new_fetch_att_list_add(type, mailimap_fetch_att_new_bodystructure());
    return type;
}

}  // namespace

namespace {

// Reads "UID FETCH ... (items)" into listed, one entry per UID.
int fetchListed(mailimap* imap, mailimap_set* set, mailimap_fetch_type* type,
                std::map<uint32_t, ImapListed>& listed) {
    FetchList result;
    const int rc = mailimap_uid_fetch(imap, set, type, &result.p);
    mailimap_fetch_type_free(type);
    if (rc != MAILIMAP_NO_ERROR)
        return rc;
    for (clistiter* it = clist_begin(result.p); it; it = clist_next(it)) {
        ImapListed m;
        readListed(static_cast<mailimap_msg_att*>(clist_content(it)), m);
        if (m.uid)
            listed[m.uid] = std::move(m);
    }
    return MAILIMAP_NO_ERROR;
}

}  // namespace

HRESULT ImapConnection::list(std::vector<ImapListed>& out, uint32_t* uidValidity) {
    std::shared_ptr<const std::vector<ImapListed>> shared;
    const HRESULT hr = listShared(shared, uidValidity);
    if (shared)
        out = *shared;
    else
        out.clear();
    return hr;
}

HRESULT ImapConnection::listShared(std::shared_ptr<const std::vector<ImapListed>>& out,
                                   uint32_t* uidValidity) {
    out.reset();
    const HRESULT hr = run(0, [&]() -> int {
        if (knownValidity_ != uidValidity_) {
            known_.clear();
            knownValidity_ = uidValidity_;
        }
        if (!state_) {
            state_ = std::make_unique<ImapSyncState>(account_, address_);
            state_->load(uidValidity_, highestModseq_, known_, knownModseq_);
        }
        // NOOP brings news of messages that came since the selection.
        int rc = mailimap_noop(imap_);
        if (rc != MAILIMAP_NO_ERROR)
            return rc;
        if (imap_->imap_selection_info && imap_->imap_selection_info->sel_exists == 0) {
            known_.clear();
            return MAILIMAP_NO_ERROR;
        }
        if (known_.empty()) {
            knownModseq_ = highestModseq_;
            Set all(mailimap_set_new_interval(1, 0));
            return fetchListed(imap_, all.p, listingFetch(), known_);
        }
        // With CONDSTORE, what changed since the last listing: flags set and
        // messages added. When the count then differs, messages went away,
        // and the UIDs and flags of all are asked for below.
        if (knownModseq_ && highestModseq_) {
            std::map<uint32_t, ImapListed> changed;
            Set all(mailimap_set_new_interval(1, 0));
            mailimap_fetch_type* flags = mailimap_fetch_type_new_fetch_att_list_empty();
            mailimap_fetch_type_new_fetch_att_list_add(flags, mailimap_fetch_att_new_uid());
            mailimap_fetch_type_new_fetch_att_list_add(flags, mailimap_fetch_att_new_flags());
            FetchList result;
            rc = mailimap_uid_fetch_changedsince(imap_, all.p, flags, knownModseq_, &result.p);
            mailimap_fetch_type_free(flags);
            if (rc != MAILIMAP_NO_ERROR)
                return rc;
            for (clistiter* it = clist_begin(result.p); it; it = clist_next(it)) {
                ImapListed m;
                readListed(static_cast<mailimap_msg_att*>(clist_content(it)), m);
                if (m.uid)
                    changed[m.uid] = std::move(m);
            }
            Set fresh(mailimap_set_new_empty());
            size_t added = 0;
            uint64_t highest = knownModseq_;
            for (const auto& [uid, m] : changed) {
                highest = std::max(highest, m.modseq);
                if (auto it = known_.find(uid); it != known_.end()) {
                    it->second.seen = m.seen;
                } else {
                    mailimap_set_add_single(fresh.p, uid);
                    ++added;
                }
            }
            if (added) {
                std::map<uint32_t, ImapListed> got;
                if ((rc = fetchListed(imap_, fresh.p, listingFetch(), got)) != MAILIMAP_NO_ERROR)
                    return rc;
                for (auto& [uid, m] : got) {
                    m.seen = changed[uid].seen;
                    known_[uid] = std::move(m);
                }
            }
            knownModseq_ = highest;
            if (imap_->imap_selection_info &&
                imap_->imap_selection_info->sel_exists == known_.size())
                return MAILIMAP_NO_ERROR;
        }
        // A message's content never changes under its UID: only the UIDs
        // and flags are asked for again, and everything of the new ones.
        std::map<uint32_t, ImapListed> now;
        Set all(mailimap_set_new_interval(1, 0));
        mailimap_fetch_type* flags = mailimap_fetch_type_new_fetch_att_list_empty();
        mailimap_fetch_type_new_fetch_att_list_add(flags, mailimap_fetch_att_new_uid());
        mailimap_fetch_type_new_fetch_att_list_add(flags, mailimap_fetch_att_new_flags());
        if ((rc = fetchListed(imap_, all.p, flags, now)) != MAILIMAP_NO_ERROR)
            return rc;
        Set fresh(mailimap_set_new_empty());
        bool anyFresh = false;
        for (auto& [uid, m] : now) {
            auto it = known_.find(uid);
            if (it == known_.end()) {
                mailimap_set_add_single(fresh.p, uid);
                anyFresh = true;
            } else {
                it->second.seen = m.seen;
                m = it->second;
            }
        }
        if (anyFresh) {
            std::map<uint32_t, ImapListed> added;
            if ((rc = fetchListed(imap_, fresh.p, listingFetch(), added)) != MAILIMAP_NO_ERROR)
                return rc;
            for (auto& [uid, m] : added) {
                if (now.count(uid))
                    now[uid] = std::move(m);
            }
        }
        known_ = std::move(now);
        return MAILIMAP_NO_ERROR;
    });
    std::lock_guard lock(mutex_);
    if (uidValidity)
        *uidValidity = uidValidity_;
    if (Failed(hr))
        return hr;
    // Most listings find nothing changed (a counter asks every few seconds):
    // they give out the last snapshot and write nothing.
    const bool same = snapshot_ && snapshotValidity_ == uidValidity_ &&
                      snapshot_->size() == known_.size() &&
                      std::equal(known_.begin(), known_.end(), snapshot_->begin(),
                                 [](const auto& k, const ImapListed& s) {
                                     return k.first == s.uid && k.second.seen == s.seen;
                                 });
    if (!same) {
        auto fresh = std::make_shared<std::vector<ImapListed>>();
        fresh->reserve(known_.size());
        for (const auto& [uid, m] : known_)
            fresh->push_back(m);  // in UID order
        snapshot_ = std::move(fresh);
        snapshotValidity_ = uidValidity_;
    }
    if (state_ && (!same || snapshotModseq_ != knownModseq_))
        state_->save(uidValidity_, knownModseq_, known_);
    snapshotModseq_ = knownModseq_;
    out = snapshot_;
    return hr;
}

HRESULT ImapConnection::listOne(uint32_t uidValidity, uint32_t uid, ImapListed& out) {
    bool found = false;
    const HRESULT hr = run(uidValidity, [&]() -> int {
        Set set(mailimap_set_new_single(uid));
        mailimap_fetch_type* type = listingFetch();
        FetchList result;
        const int rc = mailimap_uid_fetch(imap_, set.p, type, &result.p);
        mailimap_fetch_type_free(type);
        if (rc != MAILIMAP_NO_ERROR)
            return rc;
        for (clistiter* it = clist_begin(result.p); it; it = clist_next(it)) {
            ImapListed m;
            readListed(static_cast<mailimap_msg_att*>(clist_content(it)), m);
            if (m.uid == uid) {
                out = std::move(m);
                found = true;
            }
        }
        return MAILIMAP_NO_ERROR;
    });
    if (Failed(hr))
        return hr;
    return found ? S_OK : MAPI_E_NOT_FOUND;
}

HRESULT ImapConnection::fetch(uint32_t uidValidity, uint32_t uid,
                              const std::vector<ImapSection>& sections,
                              std::vector<QByteArray>& out) {
    out.assign(sections.size(), QByteArray());
    bool any = false;
    const HRESULT hr = run(uidValidity, [&]() -> int {
        Set set(mailimap_set_new_single(uid));
        mailimap_fetch_type* type = mailimap_fetch_type_new_fetch_att_list_empty();
        for (const ImapSection& s : sections) {
            mailimap_section* section = makeSection(s.section);
            mailimap_fetch_att* att = s.length || s.origin
                                          ? mailimap_fetch_att_new_body_peek_section_partial(
                                                section, s.origin, s.length ? s.length : UINT32_MAX)
                                          : mailimap_fetch_att_new_body_peek_section(section);
            mailimap_fetch_type_new_fetch_att_list_add(type, att);
        }
        FetchList result;
        const int rc = mailimap_uid_fetch(imap_, set.p, type, &result.p);
        mailimap_fetch_type_free(type);
        if (rc != MAILIMAP_NO_ERROR)
            return rc;
        // Header fields a server may give from its cache, without the message.
        contentRead_ =
            contentRead_ || std::any_of(sections.begin(), sections.end(),
                                        [](const ImapSection& s) { return s.section != "HF"; });
        for (clistiter* it = clist_begin(result.p); it; it = clist_next(it)) {
            auto* att = static_cast<mailimap_msg_att*>(clist_content(it));
            ImapListed which;
            readListed(att, which);
            if (which.uid && which.uid != uid)
                continue;
            for (clistiter* i = clist_begin(att->att_list); i; i = clist_next(i)) {
                auto* item = static_cast<mailimap_msg_att_item*>(clist_content(i));
                if (item->att_type != MAILIMAP_MSG_ATT_ITEM_STATIC || !item->att_data.att_static ||
                    item->att_data.att_static->att_type != MAILIMAP_MSG_ATT_BODY_SECTION)
                    continue;
                const mailimap_msg_att_body_section* body =
                    item->att_data.att_static->att_data.att_body_section;
                if (!body)
                    continue;
                const QByteArray key = sectionKey(body->sec_section);
                for (size_t k = 0; k < sections.size(); ++k) {
                    if (sections[k].section == key &&
                        sections[k].origin == body->sec_origin_octet) {
                        if (body->sec_body_part)
                            out[k] = QByteArray(body->sec_body_part,
                                                static_cast<qsizetype>(body->sec_length));
                        any = true;
                    }
                }
            }
        }
        return MAILIMAP_NO_ERROR;
    });
    if (Failed(hr))
        return hr;
    return any ? S_OK : MAPI_E_NOT_FOUND;
}

HRESULT ImapConnection::setSeen(uint32_t uidValidity, uint32_t uid, bool seen) {
    return run(uidValidity, [&]() -> int {
        Set set(mailimap_set_new_single(uid));
        mailimap_flag_list* flags = mailimap_flag_list_new_empty();
        mailimap_flag_list_add(flags, mailimap_flag_new_seen());
        mailimap_store_att_flags* store =
            seen ? mailimap_store_att_flags_new_add_flags_silent(flags)
                 : mailimap_store_att_flags_new_remove_flags_silent(flags);
        const int rc = mailimap_uid_store(imap_, set.p, store);
        mailimap_store_att_flags_free(store);
        return rc;
    });
}

namespace {

// The first UID of a COPYUID answer's set; 0 without one.
uint32_t firstUid(const mailimap_set* set) {
    if (!set || !set->set_list)
        return 0;
    clistiter* it = clist_begin(set->set_list);
    return it ? static_cast<mailimap_set_item*>(clist_content(it))->set_first : 0;
}

// Moves one message of the selected folder into the folder `to` (its name
// on the wire), flags kept: MOVE, else COPY, \Deleted and UID EXPUNGE of
// that message only. With UIDPLUS the server's COPYUID answer gives *validity
// and *newUid (the message's UIDVALIDITY and UID in `to`); they stay 0
// without UIDPLUS, and when the server moved nothing (the UID was gone).
int moveMessage(mailimap* imap, uint32_t uid, const QByteArray& to, uint32_t* validity,
                uint32_t* newUid) {
    *validity = 0;
    *newUid = 0;
    Set set(mailimap_set_new_single(uid));
    const bool uidplus = mailimap_has_uidplus(imap);
    mailimap_set* source = nullptr;
    mailimap_set* dest = nullptr;
    auto answered = [&](int rc) {
        if (rc == MAILIMAP_NO_ERROR && firstUid(source) == uid)
            *newUid = firstUid(dest);
        if (!*newUid)
            *validity = 0;
        if (source)
            mailimap_set_free(source);
        if (dest)
            mailimap_set_free(dest);
        source = dest = nullptr;
        return rc;
    };
    if (mailimap_has_extension(imap, "MOVE"))
        return uidplus ? answered(mailimap_uidplus_uid_move(imap, set.p, to.constData(), validity,
                                                            &source, &dest))
                       : mailimap_uid_move(imap, set.p, to.constData());
    int rc = uidplus ? answered(mailimap_uidplus_uid_copy(imap, set.p, to.constData(), validity,
                                                          &source, &dest))
                     : mailimap_uid_copy(imap, set.p, to.constData());
    if (rc != MAILIMAP_NO_ERROR)
        return rc;
    mailimap_flag_list* flags = mailimap_flag_list_new_empty();
    mailimap_flag_list_add(flags, mailimap_flag_new_deleted());
    mailimap_store_att_flags* store = mailimap_store_att_flags_new_add_flags_silent(flags);
    rc = mailimap_uid_store(imap, set.p, store);
    mailimap_store_att_flags_free(store);
    if (rc != MAILIMAP_NO_ERROR)
        return rc;
    // Without UIDPLUS an EXPUNGE would remove every message marked
    // deleted, also those another program marked: the mark stays.
    if (uidplus)
        return mailimap_uid_expunge(imap, set.p);
    return MAILIMAP_NO_ERROR;
}

}  // namespace

int ImapConnection::findTrash() {
    if (trash_)
        return MAILIMAP_NO_ERROR;
    clist* boxes = nullptr;
    int rc = mailimap_list(imap_, "", "*", &boxes);
    if (rc != MAILIMAP_NO_ERROR)
        return rc;
    QString special, named;
    for (clistiter* it = clist_begin(boxes); it; it = clist_next(it)) {
        auto* box = static_cast<mailimap_mailbox_list*>(clist_content(it));
        if (!box->mb_name)
            continue;
        if (box->mb_flag && box->mb_flag->mbf_oflags) {
            for (clistiter* f = clist_begin(box->mb_flag->mbf_oflags); f; f = clist_next(f)) {
                auto* flag = static_cast<mailimap_mbx_list_oflag*>(clist_content(f));
                if (flag->of_type == MAILIMAP_MBX_LIST_OFLAG_FLAG_EXT && flag->of_flag_ext &&
                    g_ascii_strcasecmp(flag->of_flag_ext, "Trash") == 0 && special.isEmpty())
                    special = QString::fromUtf8(box->mb_name);
            }
        }
        QString leaf = QString::fromUtf8(box->mb_name);
        if (box->mb_delimiter)
            leaf = leaf.section(QLatin1Char(box->mb_delimiter), -1);
        if (named.isEmpty() &&
            (leaf.compare(QLatin1String("Trash"), Qt::CaseInsensitive) == 0 ||
             leaf.compare(QLatin1String("Deleted Items"), Qt::CaseInsensitive) == 0 ||
             leaf.compare(QLatin1String("Deleted Messages"), Qt::CaseInsensitive) == 0))
            named = QString::fromUtf8(box->mb_name);
    }
    mailimap_list_result_free(boxes);
    // Names on the wire are kept as the server sent them.
    if (!special.isEmpty()) {
        trash_ = special;
    } else if (!named.isEmpty()) {
        trash_ = named;
    } else {
        rc = mailimap_create(imap_, "Trash");
        if (rc != MAILIMAP_NO_ERROR)
            return rc;
        trash_ = QStringLiteral("Trash");
    }
    return MAILIMAP_NO_ERROR;
}

HRESULT ImapConnection::moveToTrash(uint32_t uidValidity, uint32_t uid, ImapMoved* moved) {
    ImapMoved where;
    const HRESULT hr = run(uidValidity, [&]() -> int {
        if (const int rc = findTrash(); rc != MAILIMAP_NO_ERROR)
            return rc;
        where.folder = *trash_;
        return moveMessage(imap_, uid, trash_->toUtf8(), &where.uidValidity, &where.uid);
    });
    if (moved)
        *moved = Failed(hr) ? ImapMoved() : where;
    return hr;
}

HRESULT ImapConnection::moveBack(const QString& folder, uint32_t folderValidity, uint32_t uid,
                                 ImapMoved& moved) {
    moved = ImapMoved();
    const HRESULT hr = run(0, [&]() -> int {
        int rc = mailimap_select(imap_, folder.toUtf8().constData());
        // In a renumbered folder the UID names another message: nothing moves.
        if (rc == MAILIMAP_NO_ERROR && imap_->imap_selection_info &&
            imap_->imap_selection_info->sel_uidvalidity == folderValidity)
            rc = moveMessage(imap_, uid, folder_, &moved.uidValidity, &moved.uid);
        // Back to the account's folder as connect() left it; a connection
        // that cannot go back is dropped and made anew by the next call
        // (a move that was made stays reported as made).
        const int back =
            mailimap_has_condstore(imap_)
                ? mailimap_select_condstore(imap_, folder_.constData(), &highestModseq_)
                : mailimap_select(imap_, folder_.constData());
        if (back != MAILIMAP_NO_ERROR || !imap_->imap_selection_info) {
            drop();
            return rc;
        }
        uidValidity_ = imap_->imap_selection_info->sel_uidvalidity;
        contentRead_ = false;  // the folder opened anew
        return rc;
    });
    if (Failed(hr))
        return hr;
    moved.folder = address_.folder;
    return moved.uid ? S_OK : MAPI_E_NOT_FOUND;
}

HRESULT ImapConnection::warmUp(const std::atomic<bool>& stop) {
    std::unique_lock lock(mutex_, std::try_to_lock);
    if (!lock.owns_lock() || !imap_ || contentRead_ || known_.empty() ||
        knownValidity_ != uidValidity_)
        return S_FALSE;
    {
        // Either interruptWarmUp() sees warming_ or this sees stop.
        std::lock_guard socket(socketMutex_);
        if (stop)
            return S_FALSE;
        warming_ = true;
    }
    Set set(mailimap_set_new_single(known_.rbegin()->first));
    mailimap_fetch_type* type = mailimap_fetch_type_new_fetch_att_list_empty();
    mailimap_fetch_type_new_fetch_att_list_add(
        type, mailimap_fetch_att_new_body_peek_section_partial(makeSection({}), 0, 1));
    FetchList result;
    const int rc = mailimap_uid_fetch(imap_, set.p, type, &result.p);
    mailimap_fetch_type_free(type);
    {
        std::lock_guard socket(socketMutex_);
        warming_ = false;
    }
    if (rc == MAILIMAP_ERROR_STREAM) {
        drop();
        // Interrupted: the program ends, which is nothing to tell.
        return stop ? MAPI_E_NOT_FOUND
                    : failed(MAPI_E_NOT_FOUND,
                             QStringLiteral("the connection to the server was lost"));
    }
    // Refused (the message went meanwhile, say): the next reading does the work.
    if (rc != MAILIMAP_NO_ERROR)
        return S_FALSE;
    contentRead_ = true;
    return S_OK;
}

void ImapConnection::interruptWarmUp() {
    std::lock_guard lock(socketMutex_);
    if (warming_ && socket_ >= 0)
        ::shutdown(socket_, SHUT_RDWR);
}

void ImapConnection::interrupt() {
    std::lock_guard lock(socketMutex_);
    // Reading ends at once; a write that follows (IDLE's DONE) still goes
    // out rather than raise SIGPIPE.
    if (socket_ >= 0)
        ::shutdown(socket_, SHUT_RD);
    interrupted_ = true;
}

ImapWarmUp::ImapWarmUp(std::shared_ptr<ImapConnection> connection)
    : connection_(std::move(connection)), thread_([this] {
          connection_->warmUp(stop_);
          done_ = true;
      }) {}

ImapWarmUp::~ImapWarmUp() {
    stop_ = true;
    connection_->interruptWarmUp();
    if (thread_.joinable())
        thread_.join();
}

namespace {

// Whether the last command's untagged answers told of messages that went
// away or of changed flags (new messages show in the selection's count).
bool toldOfChanges(mailimap* imap) {
    const mailimap_response_info* info = imap->imap_response_info;
    return info && ((info->rsp_expunged && !clist_isempty(info->rsp_expunged)) ||
                    (info->rsp_fetch_list && !clist_isempty(info->rsp_fetch_list)));
}

// Waits for fds[0] or fds[1] to become readable, at most `seconds`; an
// interrupted wait goes on.
void waitReadable(pollfd* fds, nfds_t count, int seconds) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              until - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0 || ::poll(fds, count, int(left)) >= 0 || errno != EINTR)
            return;
    }
}

}  // namespace

HRESULT ImapConnection::waitForChange(int wakeFd, int idleSeconds, int pollSeconds) {
    std::lock_guard lock(mutex_);
    if (!imap_) {
        // What happened while there was no connection is not known.
        const HRESULT hr = connect();
        return Failed(hr) ? hr : S_OK;
    }
    const uint32_t exists = imap_->imap_selection_info->sel_exists;
    int rc;
    if (mailimap_has_idle(imap_)) {
        rc = mailimap_idle(imap_);
        if (rc == MAILIMAP_NO_ERROR) {
            // What came with the server's go-ahead is already read.
            if (imap_->imap_stream->read_buffer_len == 0) {
                pollfd fds[2] = {{mailimap_idle_get_fd(imap_), POLLIN, 0}, {wakeFd, POLLIN, 0}};
                waitReadable(fds, 2, idleSeconds);
            }
            rc = mailimap_idle_done(imap_);
        }
    } else {
        pollfd fds[1] = {{wakeFd, POLLIN, 0}};
        waitReadable(fds, 1, pollSeconds);
        if (fds[0].revents & POLLIN)
            return S_FALSE;
        rc = mailimap_noop(imap_);
    }
    if (rc != MAILIMAP_NO_ERROR) {
        drop();
        return failed(MAPI_E_NOT_FOUND, QStringLiteral("the connection to the server was lost"));
    }
    reported_ = false;
    const bool changed = !imap_->imap_selection_info ||
                         imap_->imap_selection_info->sel_exists != exists || toldOfChanges(imap_);
    return changed ? S_OK : S_FALSE;
}

}  // namespace lyb::mapi
