// bench_relist [--dir DIR] [COUNT]: lists a synthetic Inbox of COUNT
// voicemails (default 10000; bench_inbox.h) as the window's list does, each
// time in a new process: once with no cache (every message parsed, the cache
// written) and three times with the cache warm and the Inbox unchanged.
// Prints, per run, the listing's time inside the process (logon to records
// built) and the part of it that listing the Inbox's table took, the whole
// process's time and processor time, and how many messages were parsed. With
// --dir the Inbox is made in DIR/COUNT and kept.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "bench/store/bench_inbox.h"
#include "store/message_cache.h"
#include "store/message_store.h"

namespace {

// The child: one listing, printed as "SECONDS RECORDS PARSED TABLE-SECONDS CPU-SECONDS".
int listOnce() {
    QElapsedTimer timer;
    timer.start();
    lyb::store::CMapiSession session;
    lyb::store::logon(session);
    auto store = lyb::store::open_store_by_name(session, QStringLiteral("bench"));
    auto inbox = store ? lyb::store::open_inbox(*store) : nullptr;
    std::vector<lyb::store::CEntryInfo> rows;
    if (!inbox || !lyb::store::list_messages(*inbox, rows))
        return 1;
    const double table = timer.nsecsElapsed() / 1e9;
    lyb::store::CListingReport report;
    auto records = lyb::store::open_voicemails_cached(*inbox, rows, 0, &report);
    const double seconds = timer.nsecsElapsed() / 1e9;
    const auto built =
        std::count_if(records.begin(), records.end(), [](const auto& r) { return r != nullptr; });
    std::printf("%.4f %td %zu %.4f %.4f\n", seconds, built, report.parsed, table,
                lyb::bench::cpuSeconds());
    return 0;
}

struct Run {
    double inside = 0, whole = 0, table = 0, cpu = 0;
    QByteArray records, parsed;
};

Run spawn(const QString& program) {
    QElapsedTimer timer;
    timer.start();
    QProcess child;
    child.start(program, {QStringLiteral("--child")});
    child.waitForFinished(-1);
    Run run;
    run.whole = timer.nsecsElapsed() / 1e9;
    const QList<QByteArray> fields = child.readAllStandardOutput().trimmed().split(' ');
    if (fields.size() == 5) {
        run.inside = fields[0].toDouble();
        run.records = fields[1];
        run.parsed = fields[2];
        run.table = fields[3].toDouble();
        run.cpu = fields[4].toDouble();
    }
    return run;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc > 1 && std::strcmp(argv[1], "--child") == 0)
        return listOnce();
    int count = 10000;
    QString keep;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--dir") == 0 && i + 1 < argc)
            keep = QFile::decodeName(argv[++i]);
        else
            count = std::atoi(argv[i]);
    }
    QTemporaryDir temporary;
    const QString dir = keep.isEmpty() ? temporary.path() : keep + "/" + QString::number(count);
    const QString root = dir + QStringLiteral("/Maildir");
    if (!QFile::exists(root + "/tmp"))
        lyb::bench::makeInbox(root, count);
    QFile accounts(dir + QStringLiteral("/accounts.conf"));
    accounts.open(QIODevice::WriteOnly);
    accounts.write("Bench = " + root.toUtf8() + "\n");
    accounts.close();
    qputenv("LYRABELL_ACCOUNTS", QFile::encodeName(accounts.fileName()));
    qputenv("XDG_CACHE_HOME", QFile::encodeName(temporary.path() + "/cache"));

    const QString cache = lyb::store::CMessageCache::folder() + "/" +
                          lyb::store::CMessageCache::fileName(QStringLiteral("Bench"));
    for (const char* suffix : {"", "-wal", "-shm"})
        QFile::remove(cache + suffix);
    const QString self = QCoreApplication::applicationFilePath();
    spawn(self);  // the files into the page cache
    for (const char* suffix : {"", "-wal", "-shm"})
        QFile::remove(cache + suffix);
    const Run cold = spawn(self);
    std::vector<Run> warm;
    for (int i = 0; i < 3; ++i)
        warm.push_back(spawn(self));
    std::printf(
        "%d voicemails, no cache: listing %.3f s (the table %.3f s), process %.3f s (CPU %.3f s), "
        "%s records, %s parsed\n",
        count, cold.inside, cold.table, cold.whole, cold.cpu, cold.records.constData(),
        cold.parsed.constData());
    std::sort(warm.begin(), warm.end(),
              [](const Run& a, const Run& b) { return a.inside < b.inside; });
    std::printf(
        "%d voicemails, cache warm: listing %.3f s (median %.3f s; the table %.3f s), process "
        "%.3f s (CPU %.3f s), %s records, %s parsed\n",
        count, warm[0].inside, warm[1].inside, warm[0].table, warm[0].whole, warm[0].cpu,
        warm[0].records.constData(), warm[0].parsed.constData());
    return 0;
}
