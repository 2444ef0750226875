// Reads arbitrary bytes as vCards. Besides not crashing, every card that is
// read must write as vCard 4.0 that reads back cleanly and writes the same.
#include <cstdint>
#include <cstdlib>

#include "platform/pim/vcard.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace lyb::pim::vcard;
    const ReadResult first = read(QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)));
    for (const Card& card : first.cards) {
        const QByteArray written = write(card);
        const ReadResult again = read(written);
        if (!again.problems.isEmpty() || again.cards.size() != 1)
            std::abort();
        if (write(again.cards[0]) != written)
            std::abort();
    }
    return 0;
}
