// The registry as several processes see it: lybtool reg, and writers racing.
#include <gtest/gtest.h>

#include <QProcess>
#include <QSet>

#include "platform/registry/registry.h"

using namespace lyb::reg;

namespace {

struct ToolRun {
    int exitCode = -1;
    QString out;
    QString err;
};

ToolRun lybtool(const QStringList& args) {
    QProcess p;
    p.start(QStringLiteral(LYB_TOOL), QStringList{"reg"} + args);
    EXPECT_TRUE(p.waitForFinished(60000)) << args.join(' ').toStdString();
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
            QString::fromUtf8(p.readAllStandardOutput()),
            QString::fromUtf8(p.readAllStandardError())};
}

const QString kSettings = QStringLiteral("Software\\Corvendale\\Lyrabell\\Lyrabell");

// Each test starts from an empty registry.
class RegistryToolTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (Hive h : {Hive::CurrentUser, Hive::ClassesRoot, Hive::LocalMachine})
            clear(h, "");
    }
    static void clear(Hive hive, const QString& path) {
        const auto k = Key::open(hive, path);
        if (!k)
            return;
        for (const QString& sub : k->subkeys())
            clear(hive, path.isEmpty() ? sub : path + '\\' + sub);
        for (const Value& v : k->values())
            k->deleteValue(v.name);
        if (!path.isEmpty())
            Key::remove(hive, path);
    }
};

}  // namespace

TEST_F(RegistryToolTest, GetPrintsEachTypeAndFailsWhenMissing) {
    const auto k = Key::create(Hive::CurrentUser, kSettings);
    ASSERT_TRUE(k);
    ASSERT_TRUE(k->writeString("AutoPlay", "/tmp/a b.wav"));
    ASSERT_TRUE(k->writeDword("Font", 4000000000u));
    ASSERT_TRUE(k->writeBinary("MsgEntryID", QByteArray("\xAB\x01", 2)));
    ASSERT_TRUE(k->writeString("", "default"));

    const struct {
        const char* value;
        const char* printed;
    } cases[] = {{"autoplay", "/tmp/a b.wav\n"},
                 {"Font", "4000000000\n"},
                 {"MsgEntryID", "ab01\n"},
                 {"", "default\n"}};
    for (const auto& c : cases) {
        const ToolRun r = lybtool({"get", "HKCU", kSettings, c.value});
        EXPECT_EQ(r.exitCode, 0) << c.value;
        EXPECT_EQ(r.out, c.printed) << c.value;
    }
    for (const QStringList& missing : {QStringList{"get", "HKCU", kSettings, "Nope"},
                                       QStringList{"get", "HKCU", "Software\\Nope", "x"},
                                       QStringList{"get", "HKLM", kSettings, "Font"}}) {
        const ToolRun r = lybtool(missing);
        EXPECT_EQ(r.exitCode, 1) << missing.join(' ').toStdString();
        EXPECT_TRUE(r.out.isEmpty());
        EXPECT_FALSE(r.err.isEmpty());
    }
}

TEST_F(RegistryToolTest, SetWritesWhatTheLibraryReads) {
    const struct {
        const char* type;
        const char* data;
        Value expected;
    } cases[] = {
        {"REG_SZ", "<OID>", {"V", Type::Sz, encodeSz("<OID>", true)}},
        {"REG_SZ", "", {"V", Type::Sz, encodeSz("", true)}},
        {"REG_DWORD", "4294967295", {"V", Type::Dword, QByteArray("\xFF\xFF\xFF\xFF", 4)}},
        {"REG_DWORD", "0x10", {"V", Type::Dword, QByteArray("\x10\0\0\0", 4)}},
        {"reg_dword", "0XaB", {"V", Type::Dword, QByteArray("\xAB\0\0\0", 4)}},
        {"REG_BINARY", "00fF10", {"V", Type::Binary, QByteArray("\0\xFF\x10", 3)}},
        {"REG_BINARY", "", {"V", Type::Binary, QByteArray()}},
    };
    for (const auto& c : cases) {
        const ToolRun r = lybtool({"set", "HKCU", "Tool\\Set", "V", c.type, c.data});
        ASSERT_EQ(r.exitCode, 0) << c.type << " " << c.data << r.err.toStdString();
        const auto v = Key::open(Hive::CurrentUser, "tool\\set")->read("v");
        ASSERT_TRUE(v) << c.type << " " << c.data;
        EXPECT_EQ(v->type, c.expected.type) << c.type << " " << c.data;
        EXPECT_EQ(v->data, c.expected.data) << c.type << " " << c.data;
    }
}

TEST_F(RegistryToolTest, BadArgumentsAreRefusedWithoutWriting) {
    const QStringList bad[] = {
        {"set", "HKCU", "K", "V", "REG_DWORD", "-1"},
        {"set", "HKCU", "K", "V", "REG_DWORD", "4294967296"},
        {"set", "HKCU", "K", "V", "REG_DWORD", "12x"},
        {"set", "HKCU", "K", "V", "REG_DWORD", "0x"},
        {"set", "HKCU", "K", "V", "REG_DWORD", " 5"},
        {"set", "HKCU", "K", "V", "REG_DWORD", ""},
        {"set", "HKCU", "K", "V", "REG_BINARY", "abc"},
        {"set", "HKCU", "K", "V", "REG_BINARY", "zz"},
        {"set", "HKCU", "K", "V", "REG_MULTI_SZ", "x"},
        {"set", "HKXX", "K", "V", "REG_SZ", "x"},
        {"set", "HKCU", "K", "V", "REG_SZ"},
        {"get", "HKCU"},
        {"frob"},
        {},
    };
    for (const QStringList& args : bad) {
        const ToolRun r = lybtool(args);
        EXPECT_EQ(r.exitCode, 2) << args.join(' ').toStdString();
        EXPECT_FALSE(r.err.isEmpty()) << args.join(' ').toStdString();
    }
    EXPECT_FALSE(Key::open(Hive::CurrentUser, "K").has_value());
}

TEST_F(RegistryToolTest, DeleteRemovesValuesAndLeafKeysOnly) {
    ASSERT_TRUE(Key::create(Hive::ClassesRoot, "wavFile\\Shell\\Open\\Command")
                    ->writeString("", "\"/opt/lyblauncher\" \"%1\""));
    EXPECT_EQ(lybtool({"delete", "HKCR", "wavFile\\Shell"}).exitCode, 1);
    EXPECT_TRUE(Key::open(Hive::ClassesRoot, "wavFile\\Shell\\Open\\Command").has_value());

    EXPECT_EQ(lybtool({"delete", "HKCR", "wavFile\\Shell\\Open\\Command", ""}).exitCode, 0);
    EXPECT_FALSE(
        Key::open(Hive::ClassesRoot, "wavFile\\Shell\\Open\\Command")->read("").has_value());
    EXPECT_EQ(lybtool({"delete", "HKCR", "wavFile\\Shell\\Open\\Command", ""}).exitCode, 1);

    EXPECT_EQ(lybtool({"delete", "HKCR", "wavfile\\shell\\open\\command"}).exitCode, 0);
    EXPECT_FALSE(Key::open(Hive::ClassesRoot, "wavFile\\Shell\\Open\\Command").has_value());
    EXPECT_EQ(lybtool({"delete", "HKCR", "wavfile\\shell\\open\\command"}).exitCode, 1);
}

TEST_F(RegistryToolTest, ExportPrintsTheWholeRegistry) {
    ASSERT_TRUE(Key::create(Hive::CurrentUser, kSettings)->writeDword("NANP", 1));
    ASSERT_TRUE(Key::create(Hive::ClassesRoot, ".gsm")->writeString("", "wavFile"));
    const ToolRun r = lybtool({"export"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, exportText());
    EXPECT_TRUE(r.out.contains("[HKCU\\" + kSettings + "]\n\"NANP\"=REG_DWORD:1\n"));
    EXPECT_TRUE(r.out.contains("[HKCR\\.gsm]\n@=REG_SZ:\"wavFile\"\n"));
}

TEST_F(RegistryToolTest, TwoProcessesWritingAtOnceLoseNothing) {
    constexpr int kEach = 1000;
    QProcess a, b;
    a.start(QStringLiteral(LYB_REGISTRY_WRITER), {"a", QString::number(kEach)});
    b.start(QStringLiteral(LYB_REGISTRY_WRITER), {"b", QString::number(kEach)});
    for (QProcess* p : {&a, &b}) {
        ASSERT_TRUE(p->waitForFinished(600000));
        EXPECT_EQ(p->exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(p->exitCode(), 0) << p->readAllStandardError().toStdString();
    }
    const auto k = Key::open(Hive::CurrentUser, "Concurrency");
    ASSERT_TRUE(k);
    QSet<QString> names;
    for (const Value& v : k->values()) {
        names.insert(v.name);
        EXPECT_EQ(v.type, Type::Dword);
    }
    EXPECT_EQ(names.size(), 2 * kEach);
    for (int i = 0; i < kEach; ++i) {
        for (const char* prefix : {"a", "b"}) {
            const QString name = QStringLiteral("%1-%2").arg(prefix).arg(i);
            ASSERT_EQ(k->readDword(name), uint32_t(i)) << name.toStdString();
        }
    }
}
