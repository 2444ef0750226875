// The caller reading, markup removal and the body as text on any text: the first line is the
// subject, the rest the body.
#include <cstddef>
#include <cstdint>

#include "store/body_text.h"
#include "store/voicemail_message.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString text =
        QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const qsizetype newline = text.indexOf(QLatin1Char('\n'));
    const QString subject = newline < 0 ? text : text.left(newline);
    const QString body = newline < 0 ? QString() : text.mid(newline + 1);
    lyb::store::CDefaultVoiceMailParser parser;
    parser.parse(subject, body);
    QString stripped = body;
    lyb::store::strip_markup(stripped);
    if (stripped.size() > body.size() + body.size() / 2 + 1)
        __builtin_trap();
    // Decoding and tag removal only ever shorten the text.
    if (lyb::store::body_as_text(body).size() > body.size())
        __builtin_trap();
    return 0;
}
