// lyminbox, run as a mail program runs it, with the extension registered
// beside it and a recording launcher in place of Lyrabell's.
#include "platform/mapi/maildir_provider.h"
#include "platform/registry/registry.h"
#include "tests/inboxext/test_host.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

using namespace lyb;

namespace {

const QString kSettingsKey = QStringLiteral("Software\\Corvendale\\Lyrabell\\Lyrabell");

struct Outcome {
    int status;
    QString out;
    QString err;
};

const QString kLyminbox = QStringLiteral(LYB_BINARY_DIR "/bin/lyminbox");

Outcome run(const QString& program, const QStringList& args, const QByteArray& input) {
    QProcess p;
    p.start(program, args);
    p.write(input);
    p.closeWriteChannel();
    EXPECT_TRUE(p.waitForFinished(120000));
    return {p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()),
            QString::fromUtf8(p.readAllStandardError())};
}

Outcome lyminbox(const QStringList& args, const QByteArray& input = {}) {
    return run(kLyminbox, args, input);
}

QByteArray mail(const char* id, const char* attachmentName) {
    QByteArray text =
        QByteArray("From: <vm@example.org>\nMessage-ID: <") + id +
        ">\nMIME-Version: 1.0\nContent-Type: multipart/mixed; boundary=b\n\n--b\n"
        "Content-Type: text/plain\n\nHello\n--b\nContent-Type: application/octet-stream\n"
        "Content-Disposition: attachment; filename=" +
        attachmentName + "\nContent-Transfer-Encoding: base64\n\nUklGRgAAAAA=\n--b--\n";
    return text;
}

TEST(Lyminbox, MenuInvokeAndRegistration) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString maildir = dir.path() + QStringLiteral("/Maildir");
    for (const char* sub : {"cur", "new", "tmp"})
        QDir().mkpath(maildir + u'/' + QLatin1String(sub));
    const QString voicemail = maildir + QStringLiteral("/cur/100.vm:2,S");
    const QString email = maildir + QStringLiteral("/new/200.mail");
    for (const auto& [path, bytes] : {std::pair{voicemail, mail("vm@x", "msg.wav")},
                                      std::pair{email, mail("mail@x", "photo.jpg")}}) {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    QFile accounts(qEnvironmentVariable("LYRABELL_ACCOUNTS"));
    ASSERT_TRUE(accounts.open(QIODevice::WriteOnly));
    accounts.write("Mail = " + QFile::encodeName(maildir) + "\n");
    accounts.close();
    lyb::testing::writeRecordingLauncher(dir.path());
    reg::Key::create(reg::Hive::CurrentUser, kSettingsKey)
        ->writeString(QStringLiteral("InstallDir"), dir.path());

    const Outcome unregistered = lyminbox({QStringLiteral("--menu"), voicemail});
    EXPECT_EQ(unregistered.status, 0);
    EXPECT_EQ(unregistered.out, QString());
    ASSERT_EQ(lyminbox({QStringLiteral("--register")}).status, 0);
    EXPECT_EQ(lyminbox({QStringLiteral("--menu"), voicemail}).out,
              QStringLiteral("Play voicemail\tenabled\n"));
    EXPECT_EQ(lyminbox({QStringLiteral("--menu"), email}).out,
              QStringLiteral("Play voicemail\tgreyed\n"));
    EXPECT_EQ(
        lyminbox({QStringLiteral("--menu"), dir.path() + QStringLiteral("/lyblauncher")}).status,
        2);

    const Outcome greyed = lyminbox({QStringLiteral("--invoke"), QStringLiteral("Play voicemail")},
                                    mail("mail@x", "photo.jpg"));
    EXPECT_EQ(greyed.status, 1);
    EXPECT_TRUE(greyed.err.contains(QStringLiteral("greyed"))) << greyed.err.toStdString();
    EXPECT_FALSE(
        reg::Key::open(reg::Hive::CurrentUser, kSettingsKey)->read(QStringLiteral("MsgEntryID")));
    EXPECT_EQ(lyminbox({QStringLiteral("--invoke"), QStringLiteral("Play voicemail")},
                       mail("other@x", "a.wav"))
                  .status,
              2);

    // Piped as a mail program pipes it: found by its Message-ID.
    const Outcome played = lyminbox({QStringLiteral("--invoke"), QStringLiteral("Play voicemail")},
                                    mail("vm@x", "msg.wav"));
    EXPECT_EQ(played.status, 0) << played.err.toStdString();
    EXPECT_EQ(lyb::testing::launcherArguments(dir.path()), QByteArray("1\n<OID>\n"));
    EXPECT_EQ(reg::Key::open(reg::Hive::CurrentUser, kSettingsKey)
                  ->readBinary(QStringLiteral("MsgEntryID")),
              mapi::messageEntryId(maildir, QStringLiteral("100.vm")));

    ASSERT_EQ(lyminbox({QStringLiteral("--unregister")}).status, 0);
    EXPECT_EQ(lyminbox({QStringLiteral("--menu"), voicemail}).out, QString());
}

// Two Maildirs: M\xffil, whose path is not UTF-8, and Mail, the account's;
// the extension is registered for the test's length.
class LyminboxMaildir : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        for (const char* maildir : {"/M\xffil", "/Mail"})
            for (const char* sub : {"", "/cur", "/new", "/tmp"})
                ASSERT_EQ(::mkdir((root + maildir + sub).constData(), 0700), 0);
        QFile accounts(qEnvironmentVariable("LYRABELL_ACCOUNTS"));
        ASSERT_TRUE(accounts.open(QIODevice::WriteOnly));
        accounts.write("Mail = " + root + "/Mail\n");
        accounts.close();
        ASSERT_EQ(lyminbox({QStringLiteral("--register")}).status, 0);
    }
    void TearDown() override { lyminbox({QStringLiteral("--unregister")}); }
    void put(const QByteArray& path, const QByteArray& bytes) {
        const int fd = ::open((root + path).constData(), O_WRONLY | O_CREAT, 0600);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::write(fd, bytes.constData(), size_t(bytes.size())), bytes.size());
        ::close(fd);
    }
    // lyminbox --menu with the file argument's bytes as they are.
    Outcome menuFor(const QByteArray& file) {
        qputenv("LYB_FILE", file);
        const Outcome o = run(
            QStringLiteral("/bin/sh"),
            {QStringLiteral("-c"), QStringLiteral("exec \"$0\" --menu \"$LYB_FILE\""), kLyminbox},
            {});
        qunsetenv("LYB_FILE");
        return o;
    }
    QTemporaryDir dir;
    const QByteArray root = QFile::encodeName(dir.path());
};

TEST_F(LyminboxMaildir, FileWhoseMaildirIsNotUtf8IsFound) {
    put("/M\xffil/cur/100.vm:2,S", mail("vm@x", "msg.wav"));
    const Outcome o = menuFor(root + "/M\xffil/cur/100.vm:2,S");
    EXPECT_EQ(o.status, 0) << o.err.toStdString();
    EXPECT_EQ(o.out, QStringLiteral("Play voicemail\tenabled\n"));
}

// A FIFO in new/, or a symlink to one, is passed over: the search neither
// waits for a writer nor misses the message.
TEST_F(LyminboxMaildir, PipedSearchPassesOverFifos) {
    ASSERT_EQ(::mkfifo((root + "/fifo").constData(), 0600), 0);
    ASSERT_EQ(::mkfifo((root + "/Mail/new/300.fifo").constData(), 0600), 0);
    ASSERT_EQ(::symlink((root + "/fifo").constData(), (root + "/Mail/new/301.link").constData()),
              0);
    put("/Mail/new/200.vm", mail("vm@x", "msg.wav"));
    const Outcome found = lyminbox({QStringLiteral("--menu")}, mail("vm@x", "msg.wav"));
    EXPECT_EQ(found.status, 0) << found.err.toStdString();
    EXPECT_EQ(found.out, QStringLiteral("Play voicemail\tenabled\n"));
    EXPECT_EQ(lyminbox({QStringLiteral("--menu")}, mail("other@x", "a.wav")).status, 2);
}

// A 2 MB message piped in, as a mail program pipes a long voicemail: the
// writer is done while the launcher started for it still runs, and the
// launcher's standard input is not the pipe.
TEST_F(LyminboxMaildir, PipedMessageIsTakenWholeWhileTheLauncherRuns) {
    put("/Mail/new/200.vm", mail("vm@x", "msg.wav"));
    QFile script(dir.path() + QStringLiteral("/lyblauncher"));
    ASSERT_TRUE(script.open(QIODevice::WriteOnly));
    script.write(
        "#!/bin/sh\nd=$(dirname \"$0\")\nreadlink /proc/self/fd/0 > \"$d/stdin\"\n"
        "for i in $(seq 600); do [ -e \"$d/release\" ] && break; sleep 0.1; done\n"
        "echo \"$@\" > \"$d/args\"\n");
    script.close();
    script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    reg::Key::create(reg::Hive::CurrentUser, kSettingsKey)
        ->writeString(QStringLiteral("InstallDir"), dir.path());

    QProcess p;
    p.start(kLyminbox, {QStringLiteral("--invoke"), QStringLiteral("Play voicemail")});
    p.write(mail("vm@x", "msg.wav") + QByteArray(2 * 1024 * 1024, 'a'));
    while (p.bytesToWrite() > 0 && p.waitForBytesWritten(60000)) {
    }
    EXPECT_EQ(p.bytesToWrite(), 0);
    p.closeWriteChannel();
    EXPECT_TRUE(p.waitForFinished(60000));
    EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
    EXPECT_FALSE(QFile::exists(dir.path() + QStringLiteral("/args")));

    QFile(dir.path() + QStringLiteral("/release")).open(QIODevice::WriteOnly);
    EXPECT_EQ(lyb::testing::launcherArguments(dir.path()), QByteArray("<OID>\n"));
    QFile in(dir.path() + QStringLiteral("/stdin"));
    EXPECT_TRUE(in.open(QIODevice::ReadOnly));
    EXPECT_EQ(in.readAll(), QByteArray("/dev/null\n"));
}

}  // namespace
