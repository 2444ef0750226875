#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/registry/registry.h"

using namespace lyb::reg;

namespace {

constexpr auto kHkcu = Hive::CurrentUser;

// Each test gets a registry file of its own in a fresh folder.
class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        saved_ = qgetenv("LYRABELL_REGISTRY");
        usePath(dir_.filePath("registry.sqlite3"));
    }
    void TearDown() override { qputenv("LYRABELL_REGISTRY", saved_); }

    void usePath(const QString& path) { qputenv("LYRABELL_REGISTRY", QFile::encodeName(path)); }

    Key key(const QString& path) {
        auto k = Key::create(kHkcu, path);
        EXPECT_TRUE(k.has_value()) << path.toStdString();
        return *k;
    }

    QTemporaryDir dir_;
    QByteArray saved_;
};

QByteArray utf16(std::initializer_list<int> bytes) {
    QByteArray out;
    for (int b : bytes)
        out.append(char(b));
    return out;
}

}  // namespace

TEST(RegistryNames, ParsesHivesAndTypesWithoutRegardToCase) {
    EXPECT_EQ(parseHive("HKCU"), Hive::CurrentUser);
    EXPECT_EQ(parseHive("hkey_classes_root"), Hive::ClassesRoot);
    EXPECT_EQ(parseHive("HKLM"), Hive::LocalMachine);
    EXPECT_EQ(parseHive("HKU"), std::nullopt);
    EXPECT_EQ(parseHive(""), std::nullopt);
    EXPECT_EQ(parseType("reg_dword"), Type::Dword);
    EXPECT_EQ(parseType("REG_MULTI_SZ"), std::nullopt);
    for (Type t : {Type::Sz, Type::Dword, Type::Binary})
        EXPECT_EQ(parseType(typeName(t)), t);
    for (Hive h : {Hive::CurrentUser, Hive::ClassesRoot, Hive::LocalMachine}) {
        EXPECT_EQ(parseHive(hiveName(h)), h);
    }
}

TEST(RegistrySz, EncodesLittleEndianWithOptionalTerminator) {
    EXPECT_EQ(encodeSz("Ab", true), utf16({'A', 0, 'b', 0, 0, 0}));
    EXPECT_EQ(encodeSz("Ab", false), utf16({'A', 0, 'b', 0}));
    EXPECT_EQ(encodeSz("", true), utf16({0, 0}));
    EXPECT_EQ(encodeSz(QString(QChar(0x20AC)), false), utf16({0xAC, 0x20}));
}

TEST(RegistrySz, DecodeStopsAtFirstZeroAndIgnoresOddByte) {
    EXPECT_EQ(decodeSz(utf16({'A', 0, 'b', 0, 0, 0, 'c', 0})), "Ab");
    EXPECT_EQ(decodeSz(utf16({'A', 0, 'b'})), "A");
    EXPECT_EQ(decodeSz(QByteArray()), "");
    const QString text = QString::fromUtf8("Grüße \xF0\x9F\x98\x80");  // a surrogate pair
    EXPECT_EQ(decodeSz(encodeSz(text)), text);
}

TEST_F(RegistryTest, DatabasePathFollowsEnvironment) {
    EXPECT_EQ(databasePath(), dir_.filePath("registry.sqlite3"));
    qunsetenv("LYRABELL_REGISTRY");
    const QByteArray config = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir_.filePath("cfg")));
    EXPECT_EQ(databasePath(), dir_.filePath("cfg/lyrabell/registry.sqlite3"));
    qunsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(databasePath(), QDir::homePath() + "/.config/lyrabell/registry.sqlite3");
    qputenv("XDG_CONFIG_HOME", config);
}

TEST_F(RegistryTest, MissingDatabaseAndFoldersAreCreated) {
    const QString path = dir_.filePath("deep/er/registry.sqlite3");
    usePath(path);
    EXPECT_FALSE(Key::open(kHkcu, "Software").has_value());
    EXPECT_TRUE(key("Software").writeDword("x", 1));
    EXPECT_TRUE(QFile::exists(path));
}

// The modes hold whatever the umask, even one that takes nothing away.
TEST_F(RegistryTest, NewDatabaseAndFoldersArePrivate) {
    const QString path = dir_.filePath("deep/er/registry.sqlite3");
    usePath(path);
    const mode_t saved = ::umask(0);
    const bool written = key("Software").writeDword("x", 1);
    ::umask(saved);
    EXPECT_TRUE(written);
    const auto mode = [](const QString& p) {
        struct stat st {};
        EXPECT_EQ(::stat(QFile::encodeName(p).constData(), &st), 0) << p.toStdString();
        return st.st_mode & 07777;
    };
    EXPECT_EQ(mode(dir_.filePath("deep")), 0700u);
    EXPECT_EQ(mode(dir_.filePath("deep/er")), 0700u);
    EXPECT_EQ(mode(path), 0600u);
    EXPECT_EQ(mode(path + "-wal"), 0600u);
}

TEST_F(RegistryTest, KeyPathsAreNormalisedAndCaseInsensitive) {
    key("\\Software\\\\Corvendale\\Lyrabell\\");
    for (const char* path : {"Software\\Corvendale\\Lyrabell", "SOFTWARE\\corvendale\\LYRABELL",
                             "\\\\software\\corvendale\\\\lyrabell\\\\", "Software", ""}) {
        EXPECT_TRUE(Key::open(kHkcu, path).has_value()) << path;
    }
    EXPECT_FALSE(Key::open(kHkcu, "Software\\Lyrabell").has_value());
    EXPECT_FALSE(Key::open(Hive::LocalMachine, "Software").has_value());
}

TEST_F(RegistryTest, NamesAreKeptAsFirstWritten) {
    key("Software\\Corvendale");
    key("SOFTWARE\\CORVENDALE\\Sub");
    EXPECT_EQ(key("").subkeys(), QStringList{"Software"});
    EXPECT_EQ(key("software").subkeys(), QStringList{"Corvendale"});

    const Key k = key("software\\corvendale");
    ASSERT_TRUE(k.writeString("AutoPlay", "first"));
    ASSERT_TRUE(k.writeString("AUTOPLAY", "second"));
    const auto values = k.values();
    ASSERT_EQ(values.size(), 1);
    EXPECT_EQ(values[0].name, "AutoPlay");
    EXPECT_EQ(k.readString("autoplay"), "second");
    EXPECT_EQ(k.read("aUtOpLaY")->name, "AutoPlay");
}

TEST_F(RegistryTest, DefaultValueIsTheEmptyName) {
    const Key k = key(".gsm");
    EXPECT_FALSE(k.read("").has_value());
    ASSERT_TRUE(k.writeString("Zeta", "z"));
    ASSERT_TRUE(k.writeString("", "wavFile"));
    EXPECT_EQ(k.readString(""), "wavFile");
    const auto values = k.values();
    ASSERT_EQ(values.size(), 2);
    EXPECT_EQ(values[0].name, "");
    EXPECT_EQ(values[1].name, "Zeta");
}

TEST_F(RegistryTest, TypesRoundTripTheirBytes) {
    const Key k = key("Types");
    ASSERT_TRUE(k.writeString("term", "play me", true));
    ASSERT_TRUE(k.writeString("bare", "play me", false));
    ASSERT_TRUE(k.writeString("empty", "", true));
    EXPECT_EQ(k.read("term")->data, encodeSz("play me", true));
    EXPECT_EQ(k.read("bare")->data, encodeSz("play me", false));
    EXPECT_EQ(k.readString("term"), "play me");
    EXPECT_EQ(k.readString("bare"), "play me");
    EXPECT_EQ(k.readString("empty"), "");

    for (uint32_t n : {0u, 1u, 0x12345678u, 0xFFFFFFFFu}) {
        ASSERT_TRUE(k.writeDword("n", n));
        EXPECT_EQ(k.readDword("n"), n);
        EXPECT_EQ(k.read("n")->type, Type::Dword);
    }
    EXPECT_EQ(k.read("n")->data, QByteArray("\xFF\xFF\xFF\xFF", 4));
    ASSERT_TRUE(k.writeDword("n", 0x12345678u));
    EXPECT_EQ(k.read("n")->data, QByteArray("\x78\x56\x34\x12", 4));

    for (const QByteArray& bytes : {QByteArray(), QByteArray("\0\x01\xFF\0", 4)}) {
        ASSERT_TRUE(k.writeBinary("bin", bytes));
        EXPECT_EQ(k.readBinary("bin"), bytes);
    }
    // A value can change its type.
    ASSERT_TRUE(k.writeBinary("term", QByteArray("\x01\x02\x03\x04\x05", 5)));
    EXPECT_EQ(k.readString("term"), std::nullopt);
    EXPECT_EQ(k.read("term")->type, Type::Binary);
}

TEST_F(RegistryTest, TypedReadsCheckTypeExceptDword) {
    const Key k = key("Types");
    ASSERT_TRUE(k.writeDword("n", 7));
    ASSERT_TRUE(k.writeBinary("b4", QByteArray("\x02\0\0\0\x09", 5)));
    ASSERT_TRUE(k.writeBinary("b3", QByteArray("\x02\0\0", 3)));
    ASSERT_TRUE(k.writeString("s", "x"));  // 4 bytes with its terminator
    EXPECT_EQ(k.readString("n"), std::nullopt);
    EXPECT_EQ(k.readBinary("n"), std::nullopt);
    EXPECT_EQ(k.readDword("b4"), 2u);
    EXPECT_EQ(k.readDword("b3"), std::nullopt);
    EXPECT_EQ(k.readDword("s"), uint32_t('x'));
    EXPECT_EQ(k.readDword("missing"), std::nullopt);
    // A DWORD is four bytes, no more, no less.
    EXPECT_FALSE(k.write(Value{"bad", Type::Dword, QByteArray(3, '\0')}));
    EXPECT_FALSE(k.read("bad").has_value());
}

TEST_F(RegistryTest, EnumerationIsSortedWithoutRegardToCase) {
    for (const char* name : {"b", "A", "c", "B2"})
        key(QString("List\\") + name + "\\leaf");
    EXPECT_EQ(key("List").subkeys(), (QStringList{"A", "b", "B2", "c"}));
    const Key k = key("List");
    for (const char* name : {"beta", "Alpha", "", "Gamma"})
        ASSERT_TRUE(k.writeDword(name, 1));
    QStringList names;
    for (const Value& v : k.values())
        names << v.name;
    EXPECT_EQ(names, (QStringList{"", "Alpha", "beta", "Gamma"}));
    EXPECT_TRUE(key("List\\A\\leaf").subkeys().isEmpty());
}

TEST_F(RegistryTest, DeletingKeyWithSubkeysIsRefused) {
    key("Outer\\Inner");
    ASSERT_TRUE(key("Outer").writeDword("keep", 5));
    EXPECT_FALSE(Key::remove(kHkcu, "Outer"));
    EXPECT_EQ(key("Outer").readDword("keep"), 5u);

    EXPECT_TRUE(Key::remove(kHkcu, "OUTER\\inner"));
    EXPECT_FALSE(Key::open(kHkcu, "Outer\\Inner").has_value());
    EXPECT_FALSE(Key::remove(kHkcu, "Outer\\Inner"));
    EXPECT_TRUE(Key::remove(kHkcu, "Outer"));
    EXPECT_FALSE(Key::open(kHkcu, "Outer").has_value());
    EXPECT_FALSE(Key::remove(kHkcu, ""));
    EXPECT_FALSE(Key::remove(kHkcu, "\\"));

    // Its values went with it; a new key of that name starts empty.
    EXPECT_TRUE(key("Outer").values().isEmpty());
}

TEST_F(RegistryTest, DeleteValueReportsMissingValue) {
    const Key k = key("Del");
    ASSERT_TRUE(k.writeDword("Font", 2));
    EXPECT_TRUE(k.deleteValue("FONT"));
    EXPECT_FALSE(k.read("Font").has_value());
    EXPECT_FALSE(k.deleteValue("Font"));
}

TEST_F(RegistryTest, WritingToRemovedKeyCreatesItAgain) {
    const Key k = key("Gone\\Soon");
    ASSERT_TRUE(Key::remove(kHkcu, "Gone\\Soon"));
    ASSERT_TRUE(Key::remove(kHkcu, "Gone"));
    EXPECT_TRUE(k.writeDword("x", 3));
    EXPECT_EQ(Key::open(kHkcu, "Gone\\Soon")->readDword("x"), 3u);
}

TEST_F(RegistryTest, ReplacedDatabaseFileIsNotWrittenThroughOldConnection) {
    ASSERT_TRUE(key("A").writeDword("old", 1));
    const QString path = databasePath();
    for (const char* suffix : {"", "-wal", "-shm"})
        QFile::remove(path + suffix);
    ASSERT_TRUE(key("A").writeDword("new", 2));
    EXPECT_TRUE(QFile::exists(path));
    EXPECT_FALSE(key("A").read("old").has_value());
    EXPECT_EQ(key("A").readDword("new"), 2u);
}

TEST_F(RegistryTest, ExportListsHivesKeysAndValues) {
    ASSERT_TRUE(key("Software\\Corvendale").writeString("Message Store", "Work \"mail\""));
    ASSERT_TRUE(key("Software\\Corvendale").writeDword("Font", 2));
    ASSERT_TRUE(key("Software\\Corvendale").writeBinary("MsgEntryID", QByteArray("\x0a\xff", 2)));
    ASSERT_TRUE(Key::create(Hive::ClassesRoot, ".gsm")->writeString("", "wavFile"));
    EXPECT_EQ(exportText(),
              "[HKCU\\Software]\n\n"
              "[HKCU\\Software\\Corvendale]\n"
              "\"Font\"=REG_DWORD:2\n"
              "\"Message Store\"=REG_SZ:\"Work \\\"mail\\\"\"\n"
              "\"MsgEntryID\"=REG_BINARY:0aff\n\n"
              "[HKCR\\.gsm]\n"
              "@=REG_SZ:\"wavFile\"\n\n");
}

TEST_F(RegistryTest, ForeignTypeIsReadRawAndNotWritable) {
    ASSERT_TRUE(key("Foreign").writeDword("seed", 1));
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(QFile::encodeName(databasePath()).constData(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db,
                           "INSERT INTO reg_values(hive, lkey, lname, name, type, data) "
                           "VALUES(0, 'foreign', 'multi', 'Multi', 7, x'610000')",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);

    const Key k = key("Foreign");
    const auto v = k.read("multi");
    ASSERT_TRUE(v.has_value());
    EXPECT_EQ(uint32_t(v->type), 7u);
    EXPECT_EQ(v->data, QByteArray("a\0\0", 3));
    EXPECT_EQ(k.readString("multi"), std::nullopt);
    EXPECT_EQ(k.values().size(), 2);
    EXPECT_TRUE(exportText().contains("\"Multi\"=REG_TYPE_7:610000\n"));
    EXPECT_FALSE(k.write(Value{"Multi", static_cast<Type>(7), QByteArray("b")}));
    EXPECT_EQ(k.read("multi")->data, QByteArray("a\0\0", 3));
}

// A registry that cannot be used: everything fails softly, and the fault is
// named once on standard error whatever is tried.
// What renewing a value does, with and without another program holding the
// write lock. Nothing that is stored changes while the lock is held.
TEST_F(RegistryTest, RefreshWritesOnlyChangesAndSkipsWhileBusy) {
    using R = Key::Refresh;
    const Value wav{QString(), Type::Sz, encodeSz("wavFile")};
    const Value other{QString(), Type::Sz, encodeSz("other")};
    const struct {
        bool locked;
        Value value;
        R result;
        QString stored;
    } steps[] = {
        {false, wav, R::Written, "wavFile"},  {false, wav, R::Unchanged, "wavFile"},
        {true, wav, R::Unchanged, "wavFile"}, {true, other, R::Busy, "wavFile"},
        {false, other, R::Written, "other"},  {false, {"", Type::Dword, "12"}, R::Failed, "other"},
    };
    sqlite3* holder = nullptr;
    key("Software");  // the database exists before the other connection opens it
    ASSERT_EQ(sqlite3_open(QFile::encodeName(databasePath()).constData(), &holder), SQLITE_OK);
    ::testing::internal::CaptureStderr();
    int step = 0;
    for (const auto& s : steps) {
        if (s.locked) {
            ASSERT_EQ(sqlite3_exec(holder, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr),
                      SQLITE_OK);
        }
        EXPECT_EQ(Key::refresh(Hive::ClassesRoot, ".gsm", s.value), s.result) << step;
        if (s.locked)
            sqlite3_exec(holder, "ROLLBACK", nullptr, nullptr, nullptr);
        EXPECT_EQ(Key::open(Hive::ClassesRoot, ".gsm")->readString(""), s.stored) << step;
        ++step;
    }
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(err, "lyrabell: registry " + databasePath().toStdString() +
                       " is busy in another program; [HKCR\\.gsm] was not renewed\n");
    sqlite3_close(holder);
}

class UnusableRegistryTest : public RegistryTest {
protected:
    void expectUnusable(const Key& k) {
        ::testing::internal::CaptureStderr();
        EXPECT_FALSE(Key::open(kHkcu, "Software").has_value());
        EXPECT_FALSE(Key::create(kHkcu, "Software").has_value());
        EXPECT_FALSE(Key::remove(kHkcu, "Software"));
        EXPECT_FALSE(k.read("x").has_value());
        EXPECT_FALSE(k.readString("x").has_value());
        EXPECT_FALSE(k.readDword("x").has_value());
        EXPECT_FALSE(k.writeDword("x", 1));
        EXPECT_FALSE(k.writeString("x", "y"));
        EXPECT_FALSE(k.deleteValue("x"));
        EXPECT_TRUE(k.subkeys().isEmpty());
        EXPECT_TRUE(k.values().isEmpty());
        EXPECT_TRUE(exportText().isEmpty());
        const std::string err = ::testing::internal::GetCapturedStderr();
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
        EXPECT_NE(err.find(databasePath().toStdString()), std::string::npos) << err;
    }
};

TEST_F(UnusableRegistryTest, CorruptFileGivesNothingAndIsLeftAlone) {
    const Key k = key("Software");
    const QString path = dir_.filePath("corrupt.sqlite3");
    QByteArray garbage;
    for (int i = 0; i < 4096; ++i)
        garbage.append(char((i * 131 + 7) & 0xff));
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(garbage);
    }
    usePath(path);
    expectUnusable(k);
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), garbage);
}

TEST_F(UnusableRegistryTest, UnwritableLocationGivesNothing) {
    const Key k = key("Software");
    // A folder that cannot exist: its parent is a plain file (holds for root too).
    const QString blocker = dir_.filePath("blocker");
    {
        QFile f(blocker);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    usePath(blocker + "/lyrabell/registry.sqlite3");
    expectUnusable(k);
}

// A database another user could have written or replaced is not read: it
// could name their library as an in-process server. Each case has a database
// of its own, since a fault is named once per database.
TEST_F(UnusableRegistryTest, DatabaseOthersCouldWriteIsRefused) {
    struct Case {
        const char* name;
        const char* loosened;  // "" the file itself, "/" its folder, else a suffix
        mode_t mode;           // 0: given to another user instead
    };
    const Case cases[] = {
        {"group-writable file", "", 0660},    {"world-writable file", "", 0606},
        {"world-writable folder", "/", 0777}, {"another user's file", "", 0},
        {"another user's log", "-wal", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.mode == 0 && ::geteuid() != 0)
            continue;  // only root can give a file away
        const QString folder = dir_.filePath(QString::fromLatin1(c.name));
        const QString path = folder + "/registry.sqlite3";
        usePath(path);
        const Key k = key("Software");
        ASSERT_TRUE(k.writeDword("x", 1));
        usePath(dir_.filePath("other.sqlite3"));  // closes the first database
        ASSERT_TRUE(key("Software").writeDword("x", 2));

        const QByteArray target =
            QFile::encodeName(*c.loosened == '/' ? folder : path + QString::fromLatin1(c.loosened));
        QFile(QFile::decodeName(target)).open(QIODevice::Append);  // a planted log
        ASSERT_EQ(c.mode != 0 ? ::chmod(target, c.mode) : ::chown(target, 65534, gid_t(-1)), 0);
        usePath(path);
        expectUnusable(k);
    }
}
