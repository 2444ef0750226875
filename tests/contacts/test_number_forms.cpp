#include <gtest/gtest.h>

#include <string>

#include "contacts/number_forms.h"
#include "platform/registry/registry.h"

using lyb::contacts::format_for_display;
using lyb::contacts::make_dialable;
using lyb::contacts::make_e164;

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
        {"+44 20 7946 0123", "+442079460123", "+442079460123"},
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

// North American numbers keep the dotted form, other numbers are shown as the
// region writes them, and what is no number keeps its grouping by length.
TEST(NumberForms, DisplayAndE164ReadTheNumber) {
    struct Case {
        const char* stored;
        const char* region;
        const char* shown;
        const char* e164;
    };
    const std::string longDigits(40, '4');
    const Case cases[] = {
        {"", "US", "", ""},
        {"12345", "US", "12345", ""},
        {"123456", "US", "12.3456", ""},
        {"5551234", "US", "555.1234", ""},
        {"5551234", "DE", "555.1234", ""},
        {"555-1234", "US", "5.55-.1234", ""},
        {"123456789", "US", "12.345.6789", ""},
        {"4155551234", "US", "415.555.1234", "+14155551234"},
        {"4155551234", "DE", "415.555.1234", "+14155551234"},
        {"(415) 555-1234", "GB", "415.555.1234", "+14155551234"},
        {"14155551234", "US", "+1.415.555.1234", "+14155551234"},
        {"+14155551234", "US", "+1.415.555.1234", "+14155551234"},
        {"+1 415 555 1234", "GB", "+1.415.555.1234", "+14155551234"},
        {"442079460123", "US", "+44 20 7946 0123", "+442079460123"},
        {"442079460123", "GB", "020 7946 0123", "+442079460123"},
        {"+44 20 7946 0123", "US", "+44 20 7946 0123", "+442079460123"},
        {"+44 20 7946 0123", "GB", "020 7946 0123", "+442079460123"},
        {"02079460123", "GB", "020 7946 0123", "+442079460123"},
        {"02079460123", "US", "+0.207.946.0123", ""},
        {"011442079460123", "US", "+44 20 7946 0123", "+442079460123"},
        {"00442079460123", "DE", "+44 20 7946 0123", "+442079460123"},
        {"491701234567", "US", "+49 170 1234567", "+491701234567"},
        {"+49 30 901820", "DE", "030 901820", "+4930901820"},
        {"030901820", "DE", "030 901820", "+4930901820"},
        {"4930901820", "DE", "493.090.1820", ""},  // 10 digits: dialled as NANP
        {"+33 6 12 34 56 78", "US", "+33 6 12 34 56 78", "+33612345678"},
        {"33612345678", "FR", "06 12 34 56 78", "+33612345678"},
        {"+44 20 79 46 .0123", "US", "+44 20 7946 0123", "+442079460123"},
        {"0114420712345678", "US", "011442071 234.5678", ""},
        {"1+4155551234", "US", "1+415 555.1234", ""},
        {"+", "GB", "+", ""},
        {"call me", "GB", "cal.l me", ""},
        {longDigits.c_str(), "GB", "444444444444444444444444444444444 444.4444", ""},
    };
    for (const Case& c : cases) {
        const QString stored = QString::fromUtf8(c.stored);
        const QString region = QString::fromUtf8(c.region);
        EXPECT_EQ(format_for_display(stored, region), QString::fromUtf8(c.shown))
            << c.stored << " in " << c.region;
        EXPECT_EQ(make_e164(stored, region), QString::fromUtf8(c.e164))
            << c.stored << " in " << c.region;
    }
}
