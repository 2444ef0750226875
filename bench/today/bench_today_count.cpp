// bench_today_count [COUNT UNREAD [SECONDS]]: the Today item's count of an
// Inbox of COUNT messages (default 10000) of which UNREAD (default 1000) are
// unread voicemails with SECONDS (default 10) s GSM recordings; the others
// are read voicemails. The host repeats the count every 6 s, so it must stay
// well under a second. Prints the best and the median of five counts, with
// the files in the page cache, and the processor time of one count; then the
// item's own counter: its first count, a recount after one more message came
// (the others' verdicts kept), and a recount of the unchanged Inbox, with the
// share of a core that one such recount every 6 s takes.
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "bench/store/bench_inbox.h"
#include "platform/registry/registry.h"
#include "today/voicemail_count.h"

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int count = argc > 2 ? std::atoi(argv[1]) : 10000;
    const int unread = argc > 2 ? std::atoi(argv[2]) : 1000;
    const int seconds = argc > 3 ? std::atoi(argv[3]) : 10;
    QTemporaryDir dir;
    const QString root = dir.path() + QStringLiteral("/Maildir");
    for (const char* sub : {"cur", "new", "tmp"})
        QDir().mkpath(root + QLatin1Char('/') + QLatin1String(sub));
    const QByteArray longWave = lyb::bench::gsmWave(seconds);
    const QByteArray shortWave = lyb::bench::gsmWave(1);
    // Every step-th message is new, until there are unread of them.
    const int step = std::max(1, count / std::max(unread, 1));
    for (int i = 0; i < count; ++i) {
        const bool isNew = i % step == 0 && i / step < unread;
        const QString name = QStringLiteral("%1.M%2P1.bench").arg(1796117400 - i).arg(i);
        QFile f(isNew ? root + QStringLiteral("/new/") + name
                      : root + QStringLiteral("/cur/") + name + QStringLiteral(":2,S"));
        if (!f.open(QIODevice::WriteOnly))
            return 1;
        f.write(lyb::bench::mail(i, "message.wav", "audio/x-wav", isNew ? longWave : shortWave));
    }
    QFile accounts(dir.path() + QStringLiteral("/accounts.conf"));
    accounts.open(QIODevice::WriteOnly);
    accounts.write("Bench = " + root.toUtf8() + "\n");
    accounts.close();
    qputenv("LYRABELL_ACCOUNTS", QFile::encodeName(accounts.fileName()));
    qputenv("LYRABELL_REGISTRY", QFile::encodeName(dir.path() + QStringLiteral("/reg.sqlite3")));
    lyb::reg::Key::create(lyb::reg::Hive::CurrentUser,
                          QStringLiteral("Software\\Corvendale\\Lyrabell\\Lyrabell"))
        ->writeString(QStringLiteral("Message Store"), QStringLiteral("Bench"));

    long counted = lyb::today::countNewVoicemails();  // warms the page cache
    std::vector<double> times;
    double cpu = 0;
    for (int run = 0; run < 5; ++run) {
        const double cpuStart = lyb::bench::cpuSeconds();
        QElapsedTimer timer;
        timer.start();
        counted = lyb::today::countNewVoicemails();
        times.push_back(timer.nsecsElapsed() / 1e9);
        cpu = lyb::bench::cpuSeconds() - cpuStart;
    }
    std::sort(times.begin(), times.end());
    std::printf("%d messages, %ld new voicemails counted: best %.3f s, median %.3f s, cpu %.3f s\n",
                count, counted, times.front(), times[times.size() / 2], cpu);

    // The item's counter. A recount after a change lists the Inbox again.
    lyb::today::CVoicemailCounter counter;
    auto timed = [&](const char* what, long expected) {
        const double cpuStart = lyb::bench::cpuSeconds();
        QElapsedTimer timer;
        timer.start();
        const long n = counter.count();
        const double wall = timer.nsecsElapsed() / 1e9, used = lyb::bench::cpuSeconds() - cpuStart;
        std::printf(
            "counter, %s: %.3f s, cpu %.4f s (%.3f %% of a core every 6 s), %ld opened, %ld "
            "counted\n",
            what, wall, used, used / 6 * 100, counter.opened(), n);
        return n == expected;
    };
    bool right = counted == unread;
    right = timed("first count", unread) && right;
    QFile more(root + QStringLiteral("/new/1796117401.M0P2.bench"));
    if (!more.open(QIODevice::WriteOnly))
        return 1;
    more.write(lyb::bench::mail(0, "message.wav", "audio/x-wav", longWave));
    more.close();
    right = timed("recount after one more message", unread + 1) && right;
    // The folders' times as a minute ago, so that the last listing stands
    // for them (one made within a clock tick of a change does not).
    for (const char* sub : {"new", "cur"}) {
        const timespec ago[2] = {{time(nullptr) - 60, 0}, {time(nullptr) - 60, 0}};
        utimensat(AT_FDCWD,
                  QFile::encodeName(root + QLatin1Char('/') + QLatin1String(sub)).constData(), ago,
                  0);
    }
    right = timed("recount after the folders settled", unread + 1) && right;
    right = timed("recount of the unchanged Inbox", unread + 1) && right;
    return right ? 0 : 1;
}
