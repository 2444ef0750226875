// The server's certificate, checked by us: the libetpan Debian ships
// checks none. After the TLS handshake and before the login, the chain the
// server sent must verify against the system's authorities or the account's
// ca= file, for the account's host name (or IP address).
#pragma once

#include <QByteArray>
#include <QString>

struct mailimap;
struct mailstream_ssl_context;

namespace lyb::mapi {

struct ImapAddress;

// Empty when the chain verifies; else why not, in a line, with fingerprint
// set to the server certificate's SHA-256 ("AB:CD:...").
QString verifyChain(mailimap* imap, const ImapAddress& address, QString& fingerprint);
// For libetpan's TLS set-up: names the server (data: the host as a
// QByteArray) for the server name indication, unless it is an address.
void setServerName(mailstream_ssl_context* context, void* data);

}  // namespace lyb::mapi
