#include <gtest/gtest.h>

#include "contacts/number_forms.h"
#include "platform/registry/registry.h"

using lyb::contacts::format_for_display;
using lyb::contacts::make_dialable;

namespace {

const QString settingsKey = QStringLiteral("Software\\Corvendale\\Lyrabell\\Lyrabell");

}  // namespace

TEST(NumberForms, DialableFollowsNorthAmericanRulesOnlyWhenAsked) {
    struct Case {
        const char* stored;
        const char* on;
        const char* off;
    };
    const Case cases[] = {
        {"5551234", "5551234", "5551234"},
        {"4155551234", "14155551234", "4155551234"},
        {"(415) 555-1234", "14155551234", "4155551234"},
        {"14155551234", "14155551234", "14155551234"},
        {"442071234567", "011442071234567", "442071234567"},
        {"+442071234567", "+442071234567", "+442071234567"},
        {"44207123456", "01144207123456", "44207123456"},  // 11 digits: 14 characters
        {"02071234567", "02071234567", "02071234567"},
        {"55512345", "155512345", "55512345"},  // 8 kept characters is enough
        {"555-123", "555123", "555123"},
        {"call 555 1234 x+9", "15551234+9", "5551234+9"},
        {"", "", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(make_dialable(QString::fromUtf8(c.stored), true), QString::fromUtf8(c.on))
            << c.stored;
        EXPECT_EQ(make_dialable(QString::fromUtf8(c.stored), false), QString::fromUtf8(c.off))
            << c.stored;
    }
}

TEST(NumberForms, DialableReadsTheSettingAtEveryCall) {
    lyb::reg::Key::remove(lyb::reg::Hive::CurrentUser, settingsKey);
    EXPECT_EQ(make_dialable("4155551234"), "14155551234");  // no key: on
    auto key = lyb::reg::Key::create(lyb::reg::Hive::CurrentUser, settingsKey);
    ASSERT_TRUE(key);
    EXPECT_EQ(make_dialable("4155551234"), "14155551234");  // no value: on
    ASSERT_TRUE(key->writeDword("NANP", 0));
    EXPECT_EQ(make_dialable("4155551234"), "4155551234");
    ASSERT_TRUE(key->writeDword("NANP", 2));
    EXPECT_EQ(make_dialable("4155551234"), "14155551234");
    ASSERT_TRUE(key->writeString("NANP", QString()));  // too short for an integer: default
    EXPECT_EQ(make_dialable("4155551234"), "14155551234");
}

TEST(NumberForms, DisplayGroupsByRawLength) {
    struct Case {
        const char* stored;
        const char* shown;
    };
    const Case cases[] = {
        {"", ""},
        {"12345", "12345"},
        {"123456", "12.3456"},
        {"5551234", "555.1234"},
        {"555-1234", "5.55-.1234"},
        {"123456789", "12.345.6789"},
        {"4155551234", "415.555.1234"},
        {"14155551234", "+1.415.555.1234"},
        {"+14155551234", "+1415 555.1234"},
        {"442071234567", "44207 123.4567"},
        {"0114420712345678", "011442071 234.5678"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(format_for_display(QString::fromUtf8(c.stored)), QString::fromUtf8(c.shown))
            << c.stored;
}
