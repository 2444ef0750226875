#include <gtest/gtest.h>

#include "tools/reg_data.h"

using lyb::reg::Type;

// The DATA of "lybtool reg set": what each type takes, and that text around
// a valid value, a line break included, is refused rather than dropped.
TEST(RegData, TakesWholeValuesOnly) {
    const struct {
        Type type;
        QString text;
        std::optional<QByteArray> bytes;
    } cases[] = {
        {Type::Dword, "4294967295", QByteArray("\xff\xff\xff\xff", 4)},
        {Type::Dword, "0x0A", QByteArray("\x0a\0\0\0", 4)},
        {Type::Dword, "4294967296", std::nullopt},
        {Type::Dword, " 5", std::nullopt},
        {Type::Dword, "5\n", std::nullopt},
        {Type::Binary, "0aFF", QByteArray("\x0a\xff", 2)},
        {Type::Binary, "", QByteArray()},
        {Type::Binary, "0a1", std::nullopt},
        {Type::Binary, "0a\n", std::nullopt},
        {Type::Binary, "\n", std::nullopt},
    };
    for (const auto& c : cases) {
        QString why;
        const auto bytes = lyb::tool::encodeRegData(c.type, c.text, &why);
        EXPECT_EQ(bytes, c.bytes) << c.text.toStdString();
        EXPECT_EQ(why.isEmpty(), bytes.has_value()) << c.text.toStdString();
    }
}
