// bench_imap_list [COUNT [VOICEMAILS]]: listing an IMAP Inbox of COUNT
// messages (default 10000) of which VOICEMAILS (default 1000) are voicemails
// with 10 s GSM wave recordings, the rest ordinary mail (a text and an HTML
// alternative, about 6 KB), on a Dovecot started here on loopback. Listing is
// what a refresh does: every message opened and, for a voicemail, its record
// built, length included. Each run is a new process with a new session and
// connection. Prints the medians and best of several runs of:
// - the first listing, with an empty cache folder, and listing again in the
//   same process (only what changed is fetched); the bytes the server sent
//   for a first listing against the size of the mailbox;
// - listing the unchanged Inbox in a new process with the cache warm (the
//   account's message cache and the folder's listing kept by the provider);
// - a tap to the decoder's first block (the recording opened and its first
//   4 KiB read): on a recording the cache does not keep, after a first
//   listing (which learnt its shape) and in a process that listed from the
//   warm cache; and on one kept in the cache (each run plays the newest
//   voicemail to the end, which keeps it for the next). After its last
//   listing each process readies the connection for reading as the window
//   does after each listing (mapi::ImapWarmUp). Listed from the warm cache,
//   nothing of a message was read before in the session, and at a session's
//   first reading of a message Dovecot's Maildir storage reads the whole
//   folder to find the files (about 0.6 s at 10,000 messages): a tap at once
//   waits for that (on the warm-up, or doing it itself); a tap 1 s after
//   the listing, the least a person takes to read the list and tap, finds
//   it done;
// - `lybtool list` of the account, cold and warm;
// - the Today item's count of new voicemails on the account (in this
//   process): the processor time of a recount of the unchanged Inbox, the
//   share of a core one recount every 6 s takes, and the logins the server
//   saw during the recounts (one connection for the whole run: none);
// - lybtoday itself on the account, idle after its first count: its share
//   of a core over a minute, and the logins the server saw meanwhile.
// The elapsed time of the server's first look at the folder (it indexes
// the Maildir) comes first and is in none of these.
//
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "bench/store/bench_inbox.h"
#include "platform/mapi/imap_connection.h"
#include "platform/mapi/maildir_provider.h"
#include "platform/mapi/mapi_stream.h"
#include "platform/registry/registry.h"
#include "platform/secrets/secrets.h"
#include "store/message_store.h"
#include "tests/platform/imap/dovecot_fixture.h"
#include "today/voicemail_count.h"

namespace {

using namespace lyb::bench;

constexpr int kRuns = 5;

QByteArray ordinaryMail(int i) {
    const QByteArray text = QByteArray("Minutes of the meeting, line of text. ").repeated(60);
    return "From: Bob <bob@example.org>\r\nTo: a@example.org\r\nSubject: Minutes " +
           QByteArray::number(i) +
           "\r\nDate: Mon, 30 Nov 2026 08:00:00 +0000\r\nMIME-Version: 1.0\r\n"
           "Content-Type: multipart/alternative; boundary=\"a\"\r\n\r\n--a\r\n"
           "Content-Type: text/plain; charset=utf-8\r\n\r\n" +
           text + "\r\n--a\r\nContent-Type: text/html; charset=utf-8\r\n\r\n<html><body><p>" +
           text + "</p></body></html>\r\n--a--\r\n";
}

qint64 makeInbox(const QString& root, int count, int voicemails) {
    for (const char* sub : {"cur", "new", "tmp"})
        QDir(root).mkpath(QString::fromLatin1(sub));
    const int every = voicemails > 0 ? std::max(1, count / voicemails) : count + 1;
    const QByteArray wave = gsmWave(10);
    qint64 total = 0;
    for (int i = 0; i < count; ++i) {
        // The voicemails unread, the rest read.
        const bool voicemail = i % every == 0 && i / every < voicemails;
        QFile f(QStringLiteral("%1/cur/%2.M%3P1.bench:2,%4")
                    .arg(root)
                    .arg(1790000000 + i)
                    .arg(i)
                    .arg(voicemail ? QString() : QStringLiteral("S")));
        f.open(QIODevice::WriteOnly);
        const QByteArray m =
            voicemail ? mail(i, "message.wav", "audio/wav", wave) : ordinaryMail(i);
        f.write(m);
        total += m.size();
    }
    return total;
}

// One listing on a session; the records stay in kept (and with them the
// connection).
double listOnce(lyb::store::CMapiSession& session, long& found,
                std::vector<std::unique_ptr<lyb::store::CVoiceMailMessage>>& kept) {
    QElapsedTimer timer;
    timer.start();
    if (!session.is_logged_on())
        lyb::store::logon(session);
    auto store = lyb::store::open_store_by_name(session, QStringLiteral("Remote"));
    auto inbox = store ? lyb::store::open_inbox(*store) : nullptr;
    std::vector<lyb::store::CEntryInfo> entries;
    if (!inbox || !lyb::store::list_messages(*inbox, entries))
        return -1;
    auto records = lyb::store::open_voicemails(*inbox, entries);
    const double seconds = timer.nsecsElapsed() / 1e9;
    found = 0;
    for (auto& r : records) {
        found += r && r->length_seconds() >= 0;
        kept.push_back(std::move(r));
    }
    return seconds;
}

// A listing in a process of its own (this program with --list): its first
// listing and a second one in the same process; -1 on failure.
// paused: the taps 1 s after the listing (a person reading the list).
bool listInNewProcess(double& first, double& again, long& found, double& tap, double& tapNotKept,
                      bool twice = true, bool paused = false) {
    QStringList args{twice ? QStringLiteral("--list") : QStringLiteral("--list-once")};
    if (paused)
        args << QStringLiteral("--paused");
    QProcess p;
    p.start(QCoreApplication::applicationFilePath(), args);
    if (!p.waitForFinished(120000))
        return false;
    const QList<QByteArray> f = p.readAllStandardOutput().trimmed().split(' ');
    if (f.size() != 5)
        return false;
    first = f[0].toDouble();
    again = f[1].toDouble();
    found = f[2].toLong();
    tap = f[3].toDouble();
    tapNotKept = f[4].toDouble();
    return first >= 0;
}

double processorSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// A process's processor time so far from /proc (in clock ticks); -1 when gone.
double processorSecondsOf(qint64 pid) {
    QFile f(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray stat = f.readAll();
    // The fields after the command name, which is in parentheses.
    const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return -1;
    return (fields[11].toDouble() + fields[12].toDouble()) / double(sysconf(_SC_CLK_TCK));
}

// The bytes the server sent in each session so far, from its log.
std::vector<qint64> sentBytes(const QByteArray& log) {
    std::vector<qint64> sent;
    static const QRegularExpression out(QStringLiteral("Disconnected: .* in=\\d+ out=(\\d+)"));
    auto it = out.globalMatch(QString::fromLatin1(log));
    while (it.hasNext())
        sent.push_back(it.next().captured(1).toLongLong());
    return sent;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc > 1 && (qstrcmp(argv[1], "--list") == 0 || qstrcmp(argv[1], "--list-once") == 0)) {
        lyb::store::CMapiSession session;
        std::vector<std::unique_ptr<lyb::store::CVoiceMailMessage>> kept;
        long found = 0;
        const double first = listOnce(session, found, kept);
        const double again = qstrcmp(argv[1], "--list") == 0 ? listOnce(session, found, kept) : 0;
        // As the window does after a listing.
        std::unique_ptr<lyb::mapi::ImapWarmUp> warmUp;
        for (const lyb::mapi::Account& a : lyb::mapi::loadAccounts()) {
            lyb::mapi::ImapAddress address;
            if (a.displayName == QLatin1String("Remote") &&
                lyb::mapi::parseImapAddress(a.imapAddress, address))
                warmUp = std::make_unique<lyb::mapi::ImapWarmUp>(
                    lyb::mapi::ImapConnection::forAccount(a.displayName, address));
        }
        if (argc > 2 && qstrcmp(argv[2], "--paused") == 0)
            QThread::msleep(1000);
        // A tap: the recording opened and the decoder's first block read.
        // The newest voicemail is played to the end, so that the cache keeps
        // it for the next run; the one before it is never kept.
        auto tapOn = [](lyb::store::CVoiceMailMessage& record, bool toEnd) -> double {
            QElapsedTimer timer;
            timer.start();
            lyb::mapi::IStream* stream = record.open_audio_stream();
            if (!stream)
                return -1;
            char block[4096];
            uint32_t got = 0;
            stream->Read(block, sizeof block, &got);
            const double tap = got > 0 ? timer.nsecsElapsed() / 1e9 : -1;
            while (toEnd && got > 0 && !lyb::com::Failed(stream->Read(block, sizeof block, &got)) &&
                   got > 0) {
            }
            stream->Release();
            return tap;
        };
        double tap = -1, tapNotKept = -1;
        int tapped = 0;
        for (auto it = kept.rbegin(); it != kept.rend() && tapped < 2; ++it) {
            if (!*it)
                continue;
            if (tapped++ == 0)
                tap = tapOn(**it, true);
            else
                tapNotKept = tapOn(**it, false);
        }
        std::printf("%.4f %.4f %ld %.4f %.4f\n", first, again, found, tap, tapNotKept);
        return 0;
    }
    const int count = argc > 1 ? std::atoi(argv[1]) : 10000;
    const int voicemails = argc > 2 ? std::atoi(argv[2]) : 1000;
    if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")) {
        std::fprintf(stderr, "bench_imap_list: run it as dbus-run-session -- bench_imap_list\n");
        return 2;
    }
    QTemporaryDir dir;
    for (const char* sub : {"data", "runtime", "tmp"})
        QDir(dir.path()).mkpath(QString::fromLatin1(sub));
    QFile::setPermissions(dir.path() + "/runtime",
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("XDG_DATA_HOME", QFile::encodeName(dir.path() + "/data"));
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(dir.path() + "/runtime"));
    qputenv("TMPDIR", QFile::encodeName(dir.path() + "/tmp"));
    qputenv("XDG_CACHE_HOME", QFile::encodeName(dir.path() + "/cache"));
    lyb::testing::Keyring keyring;
    lyb::testing::DovecotServer server;
    const qint64 mailbox = makeInbox(server.mailRoot, count, voicemails);
    server.start();
    QFile accounts(dir.path() + QStringLiteral("/accounts.conf"));
    accounts.open(QIODevice::WriteOnly);
    accounts.write("Remote = " + server.address().toUtf8() + "\n");
    accounts.close();
    qputenv("LYRABELL_ACCOUNTS", QFile::encodeName(accounts.fileName()));
    if (!lyb::secrets::storePassword(QStringLiteral("Remote"),
                                     QString::fromLatin1(lyb::testing::DovecotServer::kPassword))) {
        std::fprintf(stderr, "bench_imap_list: the password could not be stored\n");
        return 1;
    }

    long found = 0;
    double cold = 0, again = 0, tap = 0, tapNotKept = 0;
    listInNewProcess(cold, again, found, tap, tapNotKept);
    const QString cacheFolder = dir.path() + QStringLiteral("/cache");
    auto wipeCache = [&] { QDir(cacheFolder).removeRecursively(); };
    std::vector<double> times, agains, taps, warms, keptTaps, notKeptTaps, pausedTaps, toolCold,
        toolWarm;
    for (int run = 0; run < kRuns; ++run) {
        wipeCache();
        double first = -1;
        if (!listInNewProcess(first, again, found, tap, tapNotKept)) {
            std::fprintf(stderr, "bench_imap_list: a listing failed\n%s", server.log().constData());
            return 1;
        }
        times.push_back(first);
        agains.push_back(again);
        taps.push_back(tapNotKept);
    }
    for (int run = 0; run < kRuns; ++run) {
        double first = -1;
        if (!listInNewProcess(first, again, found, tap, tapNotKept)) {
            std::fprintf(stderr, "bench_imap_list: a listing failed\n%s", server.log().constData());
            return 1;
        }
        warms.push_back(first);
        keptTaps.push_back(tap);
        notKeptTaps.push_back(tapNotKept);
        if (!listInNewProcess(first, again, found, tap, tapNotKept, true, true)) {
            std::fprintf(stderr, "bench_imap_list: a listing failed\n%s", server.log().constData());
            return 1;
        }
        pausedTaps.push_back(tapNotKept);
    }
    const QString lybtool = QCoreApplication::applicationDirPath() + QStringLiteral("/lybtool");
    for (bool warm : {false, true}) {
        for (int run = 0; run < kRuns; ++run) {
            if (!warm)
                wipeCache();
            QElapsedTimer timer;
            timer.start();
            QProcess p;
            p.start(lybtool, {QStringLiteral("list"), QStringLiteral("Remote")});
            if (!p.waitForFinished(120000) || p.exitCode() != 0) {
                std::fprintf(stderr, "bench_imap_list: lybtool list failed\n");
                return 1;
            }
            (warm ? toolWarm : toolCold).push_back(timer.nsecsElapsed() / 1e9);
        }
    }
    // The Today item's counter on the account, as lybtoday runs it.
    qputenv("LYRABELL_REGISTRY", QFile::encodeName(dir.path() + QStringLiteral("/reg.sqlite3")));
    lyb::reg::Key::create(lyb::reg::Hive::CurrentUser,
                          QStringLiteral("Software\\Corvendale\\Lyrabell\\Lyrabell"))
        ->writeString(QStringLiteral("Message Store"), QStringLiteral("Remote"));
    lyb::today::CVoicemailCounter counter;
    const long newVoicemails = counter.count();
    const qsizetype loginsBefore = server.log().count("Login:");
    constexpr int kRecounts = 10;
    std::vector<double> recounts;
    for (int i = 0; i < kRecounts; ++i) {
        const double before = processorSeconds();
        counter.count();
        recounts.push_back(processorSeconds() - before);
    }
    const qsizetype recountLogins = server.log().count("Login:") - loginsBefore;

    double todayShare = -1;
    qsizetype todayLogins = -1;
    {
        QProcess today;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        today.setProcessEnvironment(env);
        today.start(QCoreApplication::applicationDirPath() + QStringLiteral("/lybtoday"), {});
        if (today.waitForStarted()) {
            QThread::sleep(15);  // its first count
            const double before = processorSecondsOf(today.processId());
            const qsizetype logins = server.log().count("Login:");
            QElapsedTimer timer;
            timer.start();
            QThread::sleep(60);
            const double after = processorSecondsOf(today.processId());
            if (before >= 0 && after >= 0 && today.state() == QProcess::Running) {
                todayShare = (after - before) / (timer.nsecsElapsed() / 1e9);
                todayLogins = server.log().count("Login:") - logins;
            }
            today.terminate();
            today.waitForFinished(5000);
        }
    }

    wipeCache();
    listInNewProcess(cold, again, found, tap, tapNotKept, false);  // the bytes of one listing
    QThread::msleep(500);                                          // the last session's log line
    const std::vector<qint64> sent = sentBytes(server.log());
    std::printf("IMAP Inbox: %d messages, %ld voicemails with a length, %.1f MB\n", count, found,
                mailbox / 1e6);
    std::printf("first look of the server (it indexes the folder): %.3f s\n", cold);
    auto line = [](const char* what, std::vector<double> v, double scale, const char* unit) {
        std::sort(v.begin(), v.end());
        std::printf("%s: best %.3f %s, median %.3f %s\n", what, v.front() * scale, unit,
                    v[v.size() / 2] * scale, unit);
    };
    line("first listing of a new process, cache empty", times, 1, "s");
    line("listing again in the same process (only what changed)", agains, 1, "s");
    line("listing unchanged in a new process, cache warm", warms, 1, "s");
    line("tap to the first 4 KiB of a recording not kept, after a first listing", taps, 1e3, "ms");
    line("tap to the first 4 KiB of a recording not kept, listed from the warm cache, at once",
         notKeptTaps, 1e3, "ms");
    line("tap to the first 4 KiB of a recording not kept, listed from the warm cache, 1 s after",
         pausedTaps, 1e3, "ms");
    line("tap to the first 4 KiB of a kept recording", keptTaps, 1e3, "ms");
    line("lybtool list, cache empty", toolCold, 1, "s");
    line("lybtool list, cache warm", toolWarm, 1, "s");
    std::printf("new voicemails counted: %ld\n", newVoicemails);
    line("processor time of a recount of the unchanged Inbox", recounts, 1e3, "ms");
    std::sort(recounts.begin(), recounts.end());
    std::printf(
        "one recount every 6 s: %.3f %% of a core (median); logins during %d recounts: %lld "
        "(%lld in the whole run)\n",
        100.0 * recounts[recounts.size() / 2] / 6.0, kRecounts,
        static_cast<long long>(recountLogins),
        static_cast<long long>(server.log().count("Login:")));
    if (todayShare >= 0)
        std::printf("lybtoday idle on the account: %.3f %% of a core over a minute, %lld logins\n",
                    100.0 * todayShare, static_cast<long long>(todayLogins));
    else
        std::printf("lybtoday idle on the account: not measured (it did not run)\n");
    if (!sent.empty())
        std::printf(
            "bytes sent by the server for a first listing: %.2f MB (%.1f %% of the "
            "mailbox)\n",
            sent.back() / 1e6, 100.0 * sent.back() / mailbox);
    return 0;
}
