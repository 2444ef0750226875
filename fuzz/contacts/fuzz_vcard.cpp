// Reads arbitrary bytes as vCards. Besides not crashing, every card that is
// read must write as vCard 4.0 that reads back cleanly and writes the same;
// written back unedited it must give its own bytes; and edited (FN set to
// text from the input, a TEL added) it must read back cleanly with those
// values and every other property as it was.
#include <cstdint>
#include <cstdlib>

#include "platform/pim/vcard.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace lyb::pim::vcard;
    const QByteArray input(reinterpret_cast<const char*>(data), qsizetype(size));
    const ReadResult first = read(input);
    for (const Card& card : first.cards) {
        const QByteArray written = write(card);
        const ReadResult again = read(written);
        if (!again.problems.isEmpty() || again.cards.size() != 1)
            std::abort();
        if (write(again.cards[0]) != written)
            std::abort();

        if (writeEdited(card, card, card) != card.raw)
            std::abort();

        Card edited = card;
        Property* fn = edited.find(QStringLiteral("FN"));
        if (!fn) {
            Property added;
            added.name = QStringLiteral("FN");
            edited.properties += added;
            fn = &edited.properties.last();
        }
        const QString text = QString::fromUtf8(input.left(48)) + QString::fromUtf8("é\n;\\");
        fn->value = escape(text);
        const QString expected = unescape(fn->value);  // escape makes CRLF one line end
        const qsizetype fnIndex = fn - edited.properties.data();
        Property tel;
        tel.name = QStringLiteral("TEL");
        tel.params = {{QStringLiteral("TYPE"), {QStringLiteral("cell")}}};
        tel.value = escape(QString::fromUtf8("+1 415 555 ü,"));
        edited.properties += tel;
        const ReadResult back = read(writeEdited(card, card, edited));
        if (!back.problems.isEmpty() || back.cards.size() != 1)
            std::abort();
        const QList<Property>& now = back.cards[0].properties;
        if (now.size() != edited.properties.size() || now.last().name != tel.name ||
            unescape(now.last().value) != unescape(tel.value))
            std::abort();
        for (qsizetype i = 0; i + 1 < now.size(); ++i) {
            const Property& e = edited.properties[i];
            if (i == fnIndex ? unescape(now[i].value) != expected : !now[i].sameContent(e))
                std::abort();
        }
    }
    return 0;
}
