// Reading the server's answers: a message's BODYSTRUCTURE as the parts
// the provider works with, a FETCH response as one listed message, and the
// body sections asked for and answered, named by one key each.
#pragma once

#include <QByteArray>

struct mailimap_msg_att;
struct mailimap_section;

namespace lyb::mapi {

struct ImapListed;

// The UID, flags, internal date, size and structure a FETCH response gives.
void readListed(mailimap_msg_att* att, ImapListed& m);
// A section's key: "" the whole body, "HF" the header fields the provider
// asks for, else the part number ("1.2").
QByteArray sectionKey(const mailimap_section* section);
// The section a key names; the caller owns it.
mailimap_section* makeSection(const QByteArray& key);

}  // namespace lyb::mapi
