// lyblauncher run as the shell runs it: a copy in a folder of its own, beside
// a stand-in "lyrabell" script that records how it was started.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>
#include <QThread>

#include <memory>

#include "platform/desktop/desktop.h"
#include "platform/desktop/file_names.h"
#include "platform/registry/registry.h"

namespace {

namespace desktop = lyb::desktop;
namespace reg = lyb::reg;

const QString kSettingsKey = QStringLiteral("Software\\Corvendale\\Lyrabell\\Lyrabell");

QCoreApplication* ensureApp() {
    static int argc = 1;
    static char name[] = "test_launcher";
    static char* argv[] = {name, nullptr};
    static QCoreApplication* app = new QCoreApplication(argc, argv);
    return app;
}

struct Outcome {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

// An install folder: the launcher and a fake Lyrabell, and a registry file of
// its own (that this process uses too).
class InstallFolder {
public:
    InstallFolder() {
        EXPECT_TRUE(dir_.isValid());
        launcher_ = dir_.filePath("lyblauncher");
        EXPECT_TRUE(QFile::copy(QStringLiteral(LYB_LAUNCHER), launcher_));
        QFile::setPermissions(launcher_, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QFile script(dir_.filePath("lyrabell"));
        EXPECT_TRUE(script.open(QIODevice::WriteOnly));
        // Records its argument count, then its first argument, written whole at once.
        script.write(
            "#!/bin/sh\n"
            "dir=$(dirname \"$0\")\n"
            "{ printf '%s\\n' \"$#\"; printf '%s' \"$1\"; } > \"$dir/started.tmp\"\n"
            "mv \"$dir/started.tmp\" \"$dir/started\"\n");
        script.close();
        script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        savedRegistry_ = qgetenv("LYRABELL_REGISTRY");
        qputenv("LYRABELL_REGISTRY", QFile::encodeName(registry()));
    }
    ~InstallFolder() { qputenv("LYRABELL_REGISTRY", savedRegistry_); }

    QString registry() const { return dir_.filePath("registry.sqlite3"); }
    QString record() const { return dir_.filePath("started"); }

    QString path() const { return dir_.path(); }

    // Starts the launcher in this folder; the arguments reach it byte for
    // byte (through a script: QProcess would turn bytes that are not UTF-8
    // into U+FFFD). Returns once it runs.
    std::unique_ptr<QProcess> start(const QStringList& args) const {
        static int scripts = 0;
        const QString script = dir_.filePath(QStringLiteral("go%1.sh").arg(++scripts));
        QByteArray text = "#!/bin/sh\nexec '" + QFile::encodeName(launcher_) + "'";
        for (const QString& arg : args)
            text += " '" + desktop::encodeFileName(arg).replace("'", "'\\''") + "'";
        QFile f(script);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(text + "\n");
        f.close();
        auto p = std::make_unique<QProcess>();
        p->setWorkingDirectory(dir_.path());
        p->start(QStringLiteral("/bin/sh"), {script});
        EXPECT_TRUE(p->waitForStarted());
        return p;
    }

    // Runs the launcher to its end with this process's event loop running,
    // so that windows of this process can answer it.
    Outcome run(const QStringList& args) const { return finish(*start(args)); }

    static Outcome finish(QProcess& p) {
        const QDeadlineTimer limit(60000);
        while (p.state() != QProcess::NotRunning && !limit.hasExpired()) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
            p.waitForFinished(10);
        }
        EXPECT_EQ(p.state(), QProcess::NotRunning) << "launcher hung";
        if (p.state() != QProcess::NotRunning)
            p.kill(), p.waitForFinished();
        return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
                p.readAllStandardOutput(), p.readAllStandardError()};
    }

    // Returns the fake Lyrabell's argument count and first argument once it
    // has run; nullopt when it never ran.
    std::optional<std::pair<int, QString>> started() const {
        const QDeadlineTimer limit(30000);
        while (!QFile::exists(record()) && !limit.hasExpired())
            QThread::msleep(10);
        QFile f(record());
        if (!f.open(QIODevice::ReadOnly))
            return std::nullopt;
        const QByteArray all = f.readAll();
        const qsizetype eol = all.indexOf('\n');
        return std::pair{all.left(eol).toInt(), desktop::decodeFileName(all.mid(eol + 1))};
    }

private:
    QTemporaryDir dir_;
    QString launcher_;
    QByteArray savedRegistry_;
};

}  // namespace

TEST(Launcher, EmptyRequestEndsAtOnceTouchingNothing) {
    ensureApp();
    for (const QStringList& args : {QStringList{}, QStringList{""}}) {
        InstallFolder folder;
        const Outcome o = folder.run(args);
        EXPECT_EQ(o.exitCode, 0);
        EXPECT_TRUE(o.out.isEmpty());
        EXPECT_TRUE(o.err.isEmpty()) << o.err.toStdString();
        EXPECT_FALSE(QFile::exists(folder.registry()));
        // A real request afterwards starts Lyrabell exactly once, with its own request.
        folder.run({"/next"});
        EXPECT_EQ(folder.started(), (std::pair{1, QString("/next")}));
    }
}

// A relative path is made absolute against the launcher's working folder
// ("@/" in the table); bytes that are not UTF-8 are kept (\xff).
TEST(Launcher, StartsLyrabellBesideItselfWithRequestAsOneArgument) {
    ensureApp();
    ASSERT_TRUE(desktop::busAvailable());
    const QString ff = desktop::decodeFileName("\xff");
    const struct {
        QStringList args;
        QString request;
    } cases[] = {
        {{"/home/u/Voice Mail/msg 1.wav"}, "/home/u/Voice Mail/msg 1.wav"},
        {{"/tmp/a", "b", "c.gsm"}, "/tmp/a b c.gsm"},
        {{"\"/tmp/quoted path.wav\""}, "@/\"/tmp/quoted path.wav\""},
        {{"<OID>"}, "<OID>"},
        {{"<oid>"}, "<oid>"},
        {{"x"}, "x"},
        {{"/tmp/<lyb:Ann Smith>/x.wav"}, "/tmp/<lyb:Ann Smith>/x.wav"},
        {{"calls/m.wav<lyb:Ann Smith>"}, "@/calls/m.wav<lyb:Ann Smith>"},
        {{"<lyb:Ann>"}, "<lyb:Ann>"},
        {{QString::fromUtf8("/tmp/grüße.wav")}, QString::fromUtf8("/tmp/grüße.wav")},
        {{"/tmp/a" + ff + ".wav"}, "/tmp/a" + ff + ".wav"},
        {{"a" + ff + ".wav"}, "@/a" + ff + ".wav"},
        {{"a", "", "b"}, "@/a  b"},
    };
    for (const auto& c : cases) {
        InstallFolder folder;
        const Outcome o = folder.run(c.args);
        EXPECT_EQ(o.exitCode, 0);
        EXPECT_TRUE(o.out.isEmpty());
        EXPECT_TRUE(o.err.isEmpty()) << o.err.toStdString();
        const QString request =
            QString(c.request).replace(QStringLiteral("@/"), folder.path() + "/");
        EXPECT_EQ(folder.started(), (std::pair{1, request})) << request.toStdString();
        EXPECT_FALSE(QFile::exists(folder.registry())) << "the registry is not needed to start";
    }
}

TEST(Launcher, MissingLyrabellIsNotReported) {
    ensureApp();
    InstallFolder folder;
    ASSERT_TRUE(QFile::remove(QFileInfo(folder.record()).dir().filePath("lyrabell")));
    const Outcome o = folder.run({"/tmp/x.wav"});
    EXPECT_EQ(o.exitCode, 0);
    EXPECT_TRUE(o.out.isEmpty());
    EXPECT_TRUE(o.err.isEmpty()) << o.err.toStdString();
}

TEST(Launcher, HandsRequestToRunningLyrabellWhateverItsCaption) {
    ensureApp();
    ASSERT_TRUE(desktop::busAvailable());
    InstallFolder folder;
    const uint32_t play = desktop::registerWindowMessage("TavolinPlay");

    struct Got {
        uint32_t message;
        quint64 wParam;
        qint64 lParam;
        std::optional<reg::Value> autoPlay;  // as the window saw it on the message
    };
    std::vector<Got> got;
    // The caption is one the main window shows while busy: only its role counts.
    desktop::TopLevelWindow window(
        "Refreshing...", "lyrabell.main",
        [&](uint32_t message, quint64 wParam, qint64 lParam) -> qint64 {
            const auto key = reg::Key::open(reg::Hive::CurrentUser, kSettingsKey);
            got.push_back({message, wParam, lParam,
                           key ? key->read("AutoPlay") : std::optional<reg::Value>()});
            return 0;
        },
        [] {});

    const QString request = "/home/u/Voice Mail/msg" + desktop::decodeFileName("\xff") + ".wav";
    const Outcome o = folder.run({request});
    EXPECT_EQ(o.exitCode, 0);
    EXPECT_TRUE(o.out.isEmpty());
    EXPECT_TRUE(o.err.isEmpty()) << o.err.toStdString();

    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].message, play);
    EXPECT_EQ(got[0].wParam, 0u);
    EXPECT_EQ(got[0].lParam, 0);
    ASSERT_TRUE(got[0].autoPlay.has_value());
    EXPECT_EQ(got[0].autoPlay->type, reg::Type::Sz);
    EXPECT_EQ(got[0].autoPlay->data, reg::encodeSz(request, true));  // terminator included
    EXPECT_FALSE(QFile::exists(folder.record())) << "a second Lyrabell was started";
}

// Two launchers at the same instant against a running Lyrabell: the second
// waits until the first request has been taken, so both are played.
TEST(Launcher, TwoLaunchersAtOnceBothReachTheRunningLyrabell) {
    ensureApp();
    ASSERT_TRUE(desktop::busAvailable());
    InstallFolder folder;
    QStringList taken;
    // Answers as Lyrabell's main window does: takes "AutoPlay" and empties it.
    desktop::TopLevelWindow window(
        "Lyrabell", "lyrabell.main",
        [&](uint32_t, quint64, qint64) -> qint64 {
            const auto key = reg::Key::create(reg::Hive::CurrentUser, kSettingsKey);
            const QString request = key->readString("AutoPlay").value_or(QString());
            key->writeString("AutoPlay", QString());
            if (!request.isEmpty())
                taken << request;
            return 0;
        },
        [] {});

    const auto first = folder.start({"/calls/first.wav"});
    const auto second = folder.start({"/calls/second.wav"});
    // Both have had the time to write before this window answers: without
    // the lock the later write would replace the earlier one here.
    QSet<QString> written;
    const QDeadlineTimer settle(2000);
    while (written.size() < 2 && !settle.hasExpired()) {
        const auto key = reg::Key::open(reg::Hive::CurrentUser, kSettingsKey);
        if (const auto value = key ? key->readString("AutoPlay") : std::nullopt;
            value && !value->isEmpty())
            written << *value;
        QThread::msleep(10);
    }
    for (QProcess* p : {first.get(), second.get()}) {
        const Outcome o = InstallFolder::finish(*p);
        EXPECT_EQ(o.exitCode, 0);
        EXPECT_TRUE(o.err.isEmpty()) << o.err.toStdString();
    }
    taken.sort();
    EXPECT_EQ(taken, (QStringList{"/calls/first.wav", "/calls/second.wav"}));
    EXPECT_FALSE(QFile::exists(folder.record())) << "a second Lyrabell was started";
}
