// The DATA of "lybtool reg set": the first byte picks the type, the rest is
// the argument's bytes as lybtool reads them (file_names.h). Data taken as a
// REG_DWORD is four bytes; data taken as REG_BINARY is the hex it was given.
#include <cstdint>
#include <cstdlib>

#include "platform/files/file_names.h"
#include "tools/reg_data.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    using lyb::reg::Type;
    const Type types[] = {Type::Sz, Type::Dword, Type::Binary};
    const Type type = types[data[0] % 3];
    const QString text = lyb::files::decodeFileName(
        QByteArrayView(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1)));
    QString why;
    const auto value = lyb::tool::encodeRegData(type, text, &why);
    if (!value) {
        if (why.isEmpty())
            std::abort();
        return 0;
    }
    if (type == Type::Dword && value->size() != 4)
        std::abort();
    if (type == Type::Binary && QString::fromLatin1(value->toHex()) != text.toLower())
        std::abort();
    return 0;
}
