// IMAP account addresses, as an account line of the accounts file gives them:
//
//     imaps://USER@HOST[:PORT]/FOLDER[?ca=/path/to/ca.pem]
//     imap://USER@HOST[:PORT]/FOLDER[?ca=/path/to/ca.pem]
//
// "imaps" speaks TLS from the first byte (port 993 by default); "imap" is
// port 143 and must switch to TLS with STARTTLS before anything else is sent.
// USER, FOLDER and the CA path are percent-decoded as UTF-8 ("me%40example.com").
// HOST is a name, an IPv4 address or an IPv6 address in brackets. An empty
// FOLDER is INBOX. FOLDER writes '/' (or %2F) between the levels of folders
// whatever the server's own separator: Archive/Voicemail is opened as
// Archive.Voicemail on a server that separates with '.'. The only option is
// ca=, an absolute path of a PEM file of certificate authorities trusted
// besides the system's.
#pragma once

#include <QString>

#include <cstdint>

namespace lyb::mapi {

struct ImapAddress {
    bool implicitTls = true;  // imaps: TLS at once; imap: STARTTLS
    QString user;
    QString host;  // without brackets
    uint16_t port = 993;
    QString folder = QStringLiteral("INBOX");
    QString caFile;  // empty: the system's authorities only
};

// Whether an account line's value is meant as an IMAP address (its scheme).
bool isImapAddress(const QString& text);

// Parses an address; on failure returns false and *error (when not null)
// says what is wrong, in words for the person who wrote the line.
bool parseImapAddress(const QString& text, ImapAddress& out, QString* error = nullptr);

}  // namespace lyb::mapi
