// bench_today_count [COUNT UNREAD]: the Today item's count of an Inbox of
// COUNT messages (default 10000) of which UNREAD (default 1000) are unread
// voicemails with 10 s GSM recordings; the others are read voicemails. The
// host repeats the count every 6 s, so it must stay well under a second.
// Prints the best and the median of five counts, with the files in the page
// cache, and the processor time of one count.
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

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
    QTemporaryDir dir;
    const QString root = dir.path() + QStringLiteral("/Maildir");
    for (const char* sub : {"cur", "new", "tmp"})
        QDir().mkpath(root + QLatin1Char('/') + QLatin1String(sub));
    const QByteArray longWave = lyb::bench::gsmWave(10);
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
    return counted == unread ? 0 : 1;
}
