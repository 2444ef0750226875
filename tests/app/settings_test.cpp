#include "app/settings.h"

#include "platform/registry/registry.h"

#include "qstring_print.h"

#include <gtest/gtest.h>

namespace s = lyb::settings;
using lyb::reg::Hive;
using lyb::reg::Key;

namespace {

Key settingsKey() {
    return *Key::create(Hive::CurrentUser,
                        QStringLiteral("Software\\Corvendale\\Lyrabell\\Lyrabell"));
}

}  // namespace

TEST(Settings, FreshRegistryGivesEveryDefault) {
    EXPECT_EQ(s::messageStore(), QString());
    EXPECT_EQ(s::usingOutlook(), 1);
    EXPECT_EQ(s::nanp(), 1);
    EXPECT_EQ(s::details(), 0);
    EXPECT_EQ(s::fontSize(), 1);
    EXPECT_EQ(s::tips(), 0);
    EXPECT_EQ(s::autoPlay(), QString());
    EXPECT_FALSE(s::msgEntryId().has_value());
    EXPECT_FALSE(s::installDir().has_value());
}

TEST(Settings, WritesLandInTheSettingsKeyAndReadBack) {
    EXPECT_EQ(s::sectionKeyPath(), QStringLiteral("Software\\Corvendale\\Lyrabell\\Lyrabell"));
    ASSERT_TRUE(s::setMessageStore(QStringLiteral("Work mail")));
    ASSERT_TRUE(s::setUsingOutlook(0));
    ASSERT_TRUE(s::setNanp(0));
    ASSERT_TRUE(s::setDetails(1));
    ASSERT_TRUE(s::setFontSize(2));
    ASSERT_TRUE(s::setTips(1));
    ASSERT_TRUE(s::setAutoPlay(QStringLiteral("/m/a.wav<lyb:Ann>")));
    ASSERT_TRUE(s::setMsgEntryId(QByteArray("\x00\x01\xff", 3)));

    const Key key = settingsKey();
    EXPECT_EQ(key.readString(QStringLiteral("message store")), QStringLiteral("Work mail"));
    EXPECT_EQ(key.readDword(QStringLiteral("Using Outlook")), 0u);
    EXPECT_EQ(key.readDword(QStringLiteral("DETAILS")), 1u);
    EXPECT_EQ(key.readDword(QStringLiteral("Font")), 2u);
    EXPECT_EQ(s::nanp(), 0);
    EXPECT_EQ(s::tips(), 1);
    EXPECT_EQ(s::autoPlay(), QStringLiteral("/m/a.wav<lyb:Ann>"));
    EXPECT_EQ(s::msgEntryId(), QByteArray("\x00\x01\xff", 3));

    // Text values carry their terminating zero, as the launcher writes them.
    const auto raw = key.read(QStringLiteral("AutoPlay"));
    ASSERT_TRUE(raw);
    EXPECT_EQ(raw->type, lyb::reg::Type::Sz);
    EXPECT_EQ(raw->data.size(), (QStringLiteral("/m/a.wav<lyb:Ann>").size() + 1) * 2);
}

TEST(Settings, EmptyValuesReadAsEmptyNotMissing) {
    ASSERT_TRUE(s::setMsgEntryId(QByteArray()));
    ASSERT_TRUE(s::msgEntryId().has_value());
    EXPECT_TRUE(s::msgEntryId()->isEmpty());
    ASSERT_TRUE(s::setAutoPlay(QString()));
    EXPECT_EQ(s::autoPlay(), QString());
}

TEST(Settings, UnreadableValuesGiveTheirDefaults) {
    const Key key = settingsKey();
    // Integers: any type with four bytes counts; fewer bytes give the default.
    ASSERT_TRUE(key.writeBinary(QStringLiteral("Font"), QByteArray("\x02\x00\x00\x00\x09", 5)));
    EXPECT_EQ(s::fontSize(), 2);
    ASSERT_TRUE(key.writeBinary(QStringLiteral("NANP"), QByteArray("\x00\x00", 2)));
    EXPECT_EQ(s::nanp(), 1);
    ASSERT_TRUE(key.writeString(QStringLiteral("Tips"), QStringLiteral("1")));  // 4 bytes
    EXPECT_EQ(s::tips(), 0x31);
    // Texts and binary of another type read as missing.
    ASSERT_TRUE(key.writeDword(QStringLiteral("Message Store"), 7));
    EXPECT_EQ(s::messageStore(), QString());
    ASSERT_TRUE(key.writeString(QStringLiteral("MsgEntryID"), QStringLiteral("abc")));
    EXPECT_FALSE(s::msgEntryId().has_value());
}

TEST(Settings, ProfileOperationsUseTheirSectionAsSubkey) {
    ASSERT_TRUE(s::WriteProfileInt(QStringLiteral("Other"), QStringLiteral("N"), -5));
    EXPECT_EQ(s::GetProfileInt(QStringLiteral("Other"), QStringLiteral("N"), 0), -5);
    EXPECT_EQ(s::GetProfileInt(QStringLiteral("Lyrabell"), QStringLiteral("N"), 42), 42);
    EXPECT_TRUE(
        Key::open(Hive::CurrentUser, QStringLiteral("Software\\Corvendale\\Lyrabell\\Other")));
    EXPECT_EQ(
        s::GetProfileString(QStringLiteral("Other"), QStringLiteral("T"), QStringLiteral("d")),
        QStringLiteral("d"));
}
