// lybtool sync, mark and delete on one Maildir account, run as a user runs
// them, one after another: each row a command, its exit status and output,
// and what the Maildir holds afterwards.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <algorithm>
#include <functional>

#include "platform/mapi/maildir_provider.h"
#include "tests/platform/mapi/maildir_fixture.h"

namespace {

using lyb::testing::MaildirFixture;

struct Result {
    int status;
    QStringList out;
    QString err;
};

Result lybtool(const QStringList& args) {
    QProcess p;
    p.start(QStringLiteral(LYB_BINARY_DIR "/bin/lybtool"), args);
    p.waitForFinished(60000);
    return {p.exitCode(),
            QString::fromUtf8(p.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts),
            QString::fromUtf8(p.readAllStandardError())};
}

}  // namespace

TEST(LybtoolCache, SyncMarkAndDeleteKeepTheCacheAndTheMaildirInStep) {
    MaildirFixture md;
    const QString first = md.deliver(lyb::testing::voicemailMail());
    const QString second = md.deliver(lyb::testing::voicemailMail());
    const QString mail = md.deliver(lyb::testing::plainMail("Lunch?", "From: Bob"));
    auto id = [&](const QString& unique) {
        return QString::fromLatin1(lyb::mapi::messageEntryId(md.root, unique).toHex());
    };
    const QString accounts = lyb::mapi::accountsFilePath();
    QDir().mkpath(QFileInfo(accounts).absolutePath());
    QFile f(accounts);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("Voicemail = " + md.root.toUtf8() + "\n");
    f.close();

    struct Row {
        const char* name;
        std::function<void()> before;  // another program's change
        QStringList args;
        int status;
        QStringList out;  // every line, in order; the message lines sorted
        std::function<bool()> after;
    };
    auto none = [] {};
    auto anything = [] { return true; };
    auto flagsOf = [&](const QString& unique) {
        return QFileInfo(md.pathOf(unique)).fileName().section(QStringLiteral(":2,"), 1);
    };
    const std::vector<Row> rows{
        {"first sync learns everything",
         none,
         {"sync", "Voicemail"},
         0,
         {"added\t" + id(first) + "\tvoicemail\t\t5551234567",
          "added\t" + id(second) + "\tvoicemail\t\t5551234567",
          "added\t" + id(mail) + "\tnot a voicemail", "3 added, 0 removed, 0 changed, 0 unchanged"},
         anything},
        {"nothing changed",
         none,
         {"sync", "voicemail"},
         0,
         {"0 added, 0 removed, 0 changed, 3 unchanged"},
         anything},
        {"another program read one and deleted the e-mail",
         [&] {
             QFile::rename(md.pathOf(first), md.root + "/cur/" + first + ":2,S");
             QFile::remove(md.pathOf(mail));
         },
         {"sync", "Voicemail"},
         0,
         {"changed\t" + id(first) + "\tread\tvoicemail\t\t5551234567",
          "removed\t" + id(mail) + "\tnot a voicemail",
          "0 added, 1 removed, 1 changed, 1 unchanged"},
         anything},
        {"mark unread",
         none,
         {"mark", "unread", id(first)},
         0,
         {},
         [&] { return !flagsOf(first).contains('S'); }},
        {"mark read",
         none,
         {"mark", "read", id(second)},
         0,
         {},
         [&] { return flagsOf(second) == "S"; }},
        {"delete",
         none,
         {"delete", id(second)},
         0,
         {},
         [&] {
             return md.pathOf(second).isEmpty() &&
                    QDir(md.root + "/.Trash/cur").entryList(QDir::Files).size() == 1;
         }},
        {"the cache followed mark and delete",
         none,
         {"sync", "Voicemail"},
         0,
         {"0 added, 0 removed, 0 changed, 1 unchanged"},
         anything},
        {"delete what is gone", none, {"delete", id(second)}, 1, {}, anything},
        {"not an entry id", none, {"mark", "read", "zz"}, 1, {}, anything},
        {"neither read nor unread", none, {"mark", "seen", id(first)}, 2, {}, anything},
        {"no such account", none, {"sync", "Nobody"}, 1, {}, anything},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        row.before();
        Result r = lybtool(row.args);
        EXPECT_EQ(r.status, row.status) << r.err.toStdString();
        if (r.out.size() > 1)
            std::sort(r.out.begin(), r.out.end() - 1);
        QStringList expected = row.out;
        if (expected.size() > 1)
            std::sort(expected.begin(), expected.end() - 1);
        EXPECT_EQ(r.out, expected);
        EXPECT_TRUE(row.after());
        EXPECT_EQ(r.err.isEmpty(), row.status == 0) << r.err.toStdString();
    }
}
