// bench_store_population [--dir DIR] [COUNT...]: builds the voicemail records
// of a synthetic Inbox of COUNT voicemails (default 1000 and 10000) with 10 s
// GSM recordings (half in wave files, half raw), as the list does on a
// refresh (on one thread, then on all cores), and compares the time with
// reading every message file once. Prints the times (best and median of three
// runs), their ratio and the peak memory of the population. With --dir the
// Inboxes are made in DIR/COUNT and kept, so later runs (and profilers) see
// only the measurement.
#include <sys/resource.h>
#include <unistd.h>

#include <QByteArray>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

#include "bench/store/bench_inbox.h"
#include "store/message_store.h"

namespace {

using namespace lyb::bench;

void runOne(const QString& keep, int count) {
    QTemporaryDir temporary;
    const QString dir = keep.isEmpty() ? temporary.path() : keep + "/" + QString::number(count);
    const QString root = dir + QStringLiteral("/Maildir");
    if (!QFile::exists(root + "/tmp"))
        makeInbox(root, count);
    QFile accounts(dir + QStringLiteral("/accounts.conf"));
    accounts.open(QIODevice::WriteOnly);
    accounts.write("Bench = " + root.toUtf8() + "\n");
    accounts.close();
    qputenv("LYRABELL_ACCOUNTS", QFile::encodeName(accounts.fileName()));
    qputenv("XDG_CACHE_HOME", QFile::encodeName(temporary.path() + "/cache"));

    auto readAll = [&] {
        qint64 bytes = 0;
        for (const char* sub : {"new", "cur"}) {
            const QString d = root + "/" + sub;
            for (const QString& name : QDir(d).entryList(QDir::Files)) {
                QFile f(d + "/" + name);
                if (f.open(QIODevice::ReadOnly))
                    bytes += f.readAll().size();
            }
        }
        return bytes;
    };
    // Every figure is measured kRuns times with the files in the page cache,
    // the three measurements taking turns so that a shared machine's slow
    // spells fall on all of them; the best and the median are printed.
    constexpr int kRuns = 3;
    struct Figures {
        std::vector<double> seconds, cpu;
        long peak = 0, before = 0;
        std::ptrdiff_t built = 0;
    };
    Figures reading, perThreads[2];
    const unsigned threadCounts[2] = {1u, 0u};  // one thread, all cores
    qint64 bytes = readAll();
    for (int run = 0; run < kRuns; ++run) {
        QElapsedTimer timer;
        timer.start();
        bytes = readAll();
        reading.seconds.push_back(timer.nsecsElapsed() / 1e9);
        // The records as a refresh builds them.
        for (int k = 0; k < 2; ++k) {
            Figures& f = perThreads[k];
            resetPeak();
            f.before = peakKiB();
            timer.restart();
            const double cpu = cpuSeconds();
            lyb::store::CMapiSession session;
            lyb::store::logon(session);
            auto store = lyb::store::open_store_by_name(session, QStringLiteral("bench"));
            auto inbox = store ? lyb::store::open_inbox(*store) : nullptr;
            if (inbox)
                inbox->cache.reset();  // every message parsed: bench_relist measures the cache
            std::vector<lyb::store::CEntryInfo> rows;
            std::vector<std::unique_ptr<lyb::store::CVoiceMailMessage>> records;
            if (inbox && lyb::store::list_messages(*inbox, rows))
                records = lyb::store::open_voicemails(*inbox, rows, threadCounts[k]);
            f.seconds.push_back(timer.nsecsElapsed() / 1e9);
            f.cpu.push_back(cpuSeconds() - cpu);
            f.peak = std::max(f.peak, peakKiB());
            f.built = std::count_if(records.begin(), records.end(),
                                    [](const auto& r) { return r != nullptr; });
        }
    }
    auto best = [](std::vector<double> v) { return *std::min_element(v.begin(), v.end()); };
    auto median = [](std::vector<double> v) {
        std::nth_element(v.begin(), v.begin() + v.size() / 2, v.end());
        return v[v.size() / 2];
    };
    for (int k = 0; k < 2; ++k) {
        const Figures& f = perThreads[k];
        std::printf(
            "%6d voicemails (%.1f MiB of files), %s: records %.3f s (median %.3f s, CPU %.3f s), "
            "reading the files %.3f s (median %.3f s), ratio %.2f (medians %.2f); peak memory "
            "%.1f MiB (%.1f MiB at the start); %td records\n",
            count, bytes / 1048576.0, k == 0 ? "one thread" : "all cores", best(f.seconds),
            median(f.seconds), best(f.cpu), best(reading.seconds), median(reading.seconds),
            best(f.seconds) / best(reading.seconds), median(f.seconds) / median(reading.seconds),
            f.peak / 1024.0, f.before / 1024.0, f.built);
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<int> counts;
    QString keep;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--dir") == 0 && i + 1 < argc) {
            keep = QFile::decodeName(argv[++i]);
            continue;
        }
        counts.push_back(std::atoi(argv[i]));
    }
    if (counts.empty())
        counts = {1000, 10000};
    for (int n : counts)
        runOne(keep, n);
    return 0;
}
