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

#include <gtest/gtest.h>

using namespace lyb;

namespace {

const QString kSettingsKey = QStringLiteral("Software\\Corvendale\\Lyrabell\\Lyrabell");

struct Outcome {
    int status;
    QString out;
    QString err;
};

Outcome lyminbox(const QStringList& args, const QByteArray& input = {}) {
    QProcess p;
    p.start(QStringLiteral(LYB_BINARY_DIR "/bin/lyminbox"), args);
    p.write(input);
    p.closeWriteChannel();
    EXPECT_TRUE(p.waitForFinished(120000));
    return {p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()),
            QString::fromUtf8(p.readAllStandardError())};
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

}  // namespace
