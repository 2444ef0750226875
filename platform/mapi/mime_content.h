// The parts of one message file that the Maildir provider answers with,
// read once with GMime and then held as plain values.
#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

#include "platform/mapi/part_stream.h"

namespace lyb::mapi {

struct MimeAttachment {
    QString fileName;
    QString mimeType;     // lower case, "type/subtype"
    PartContent content;  // decoded when read; empty for a part without content
};

struct MimeContent {
    std::optional<QString> subject;
    std::optional<QString> bodyText;
    std::optional<QString> bodyHtml;
    std::optional<uint64_t> deliveryTime;  // file time, from Received or Date
    std::vector<MimeAttachment> attachments;
    QByteArray raw;
};

// Parses a message file's bytes; never fails (malformed input gives what can
// be read, see maildir_provider.h).
MimeContent parseMimeContent(const QByteArray& raw);

// Converts seconds since 1970 to a file time; 0 before 1601.
uint64_t unixToFileTime(int64_t seconds);

}  // namespace lyb::mapi
