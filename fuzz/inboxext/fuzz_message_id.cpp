// What a mail program pipes into lyminbox: arbitrary bytes, of which the
// Message-ID is read. An id found has no blank and no ">", and a header made
// of it gives the same id again.
#include <cstdint>
#include <cstdlib>

#include "inboxext/message_id.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray id =
        lyb::inboxext::messageId(QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)));
    if (id.isEmpty())
        return 0;
    for (const char c : id) {
        if (c == '>' || c == ' ' || c == '\t' || c == '\r' || c == '\n')
            std::abort();
    }
    if (lyb::inboxext::messageId("Message-ID: <" + id + ">\r\n\r\nbody") != id)
        std::abort();
    return 0;
}
