// The content of one attachment part, read straight from the message's bytes
// and decoded as it is read, so that listing an Inbox never decodes the
// recordings it does not play.
#pragma once

#include <QByteArray>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/mapi/mapi_stream.h"

namespace lyb::mapi {

// Base64 as mail carries it: characters outside the alphabet (line breaks,
// blanks, junk) are skipped; '=' ends a group early, and whatever follows is
// decoded as new groups (concatenated parts); an unpadded last group gives the
// bytes it holds. One call continues where the last one stopped.
class CBase64Decoder {
public:
    // Decodes in[0..n) into out, which has room for n * 3 / 4 + 3 bytes;
    // with out null it only counts. Returns the number of bytes produced.
    size_t step(const char* in, size_t n, uint8_t* out);
    // The bytes an unfinished last group still holds (at the end of input).
    size_t finish(uint8_t* out);

private:
    uint32_t bits_ = 0;
    int symbols_ = 0;  // in the current group, 0..3
};

// Where a part's content is: `length` bytes of `source` from `offset`, either
// as they are or base64 encoded. `source` is usually the message file's bytes
// (shared, not copied).
struct PartContent {
    QByteArray source;
    qsizetype offset = 0;
    qsizetype length = 0;
    bool base64 = false;

    // The decoded size (counts without decoding).
    uint64_t decodedSize() const;
    // Everything, decoded.
    QByteArray decoded() const;
    // A stream over the decoded content with one reference; null when the
    // content decodes to nothing.
    IStream* open() const;
};

}  // namespace lyb::mapi
