// bench_list_formats [COUNT [VOICEMAILS]]: lists two Inboxes of COUNT
// messages (default 10000) of which VOICEMAILS (default 2000) are voicemails,
// the rest ordinary mail: one Inbox with 10 s MP3 recordings (made with the
// ffmpeg program), the other the same with 10 s wave recordings. Listing is
// what a refresh does: every message opened and, for a voicemail, its record
// built, length included (the MP3's from its container, nothing decoded).
// Prints the best and median of five runs of each, taking turns, in elapsed
// and in processor time (the steadier figure on a shared machine), and the
// ratios of the MP3 Inbox's figures to the wave Inbox's.
#include <QByteArray>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "bench/store/bench_inbox.h"
#include "store/message_store.h"

namespace {

using namespace lyb::bench;

QByteArray ordinaryMail(int i) {
    return "From: Bob <bob@example.org>\r\nTo: a@example.org\r\nSubject: Minutes " +
           QByteArray::number(i) +
           "\r\nDate: Mon, 30 Nov 2026 08:00:00 +0000\r\nContent-Type: text/plain\r\n\r\n" +
           QByteArray(2000, 'x') + "\r\n";
}

void makeMixedInbox(const QString& root, int count, int voicemails, const QByteArray& name,
                    const QByteArray& type, const QByteArray& recording) {
    for (const char* sub : {"cur", "new", "tmp"})
        QDir().mkpath(root + "/" + sub);
    const int every = std::max(1, count / std::max(1, voicemails));
    for (int i = 0; i < count; ++i) {
        QFile f(QStringLiteral("%1/cur/%2.M%3P1.bench:2,S").arg(root).arg(1790000000 + i).arg(i));
        f.open(QIODevice::WriteOnly);
        f.write(i % every == 0 && i / every < voicemails ? mail(i, name, type, recording)
                                                         : ordinaryMail(i));
    }
}

QByteArray mp3Recording(const QString& dir) {
    const QString path = dir + QStringLiteral("/tone.mp3");
    const QByteArray command =
        "ffmpeg -loglevel error -y -f lavfi -i sine=duration=10 -ar 8000 -ac 1 -b:a 16k '" +
        QFile::encodeName(path) + "'";
    if (std::system(command.constData()) != 0)
        return {};
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Seconds to list the account's Inbox, elapsed and of processor time; the
// voicemails found in found.
double list(const QString& account, double& cpu, long& found, long& lengthsKnown) {
    QElapsedTimer timer;
    timer.start();
    cpu = cpuSeconds();
    lyb::store::CMapiSession session;
    lyb::store::logon(session);
    auto store = lyb::store::open_store_by_name(session, account);
    auto inbox = store ? lyb::store::open_inbox(*store) : nullptr;
    if (inbox)
        inbox->cache.reset();  // every message parsed: bench_relist measures the cache
    std::vector<lyb::store::CEntryInfo> entries;
    if (!inbox || !lyb::store::list_messages(*inbox, entries))
        return -1;
    const auto records = lyb::store::open_voicemails(*inbox, entries);
    const double seconds = timer.nsecsElapsed() / 1e9;
    cpu = cpuSeconds() - cpu;
    found = lengthsKnown = 0;
    for (const auto& r : records) {
        found += r != nullptr;
        lengthsKnown += r && r->length_seconds() >= 0;
    }
    return seconds;
}

}  // namespace

int main(int argc, char** argv) {
    const int count = argc > 1 ? std::atoi(argv[1]) : 10000;
    const int voicemails = argc > 2 ? std::atoi(argv[2]) : 2000;
    QTemporaryDir dir;
    const QByteArray mp3 = mp3Recording(dir.path());
    if (mp3.isEmpty()) {
        std::fprintf(stderr, "bench_list_formats: the ffmpeg program could not make an MP3\n");
        return 1;
    }
    makeMixedInbox(dir.path() + "/mp3", count, voicemails, "message.mp3", "audio/mpeg", mp3);
    makeMixedInbox(dir.path() + "/wave", count, voicemails, "message.wav", "audio/wav",
                   gsmWave(10));
    QFile accounts(dir.path() + QStringLiteral("/accounts.conf"));
    accounts.open(QIODevice::WriteOnly);
    accounts.write("Mp3 = " + dir.path().toUtf8() + "/mp3\nWave = " + dir.path().toUtf8() +
                   "/wave\n");
    accounts.close();
    qputenv("LYRABELL_ACCOUNTS", QFile::encodeName(accounts.fileName()));
    qputenv("XDG_CACHE_HOME", QFile::encodeName(dir.path() + "/cache"));

    constexpr int kRuns = 5;
    std::vector<double> times[2], cpus[2];
    double cpu = 0;
    long found[2] = {}, known[2] = {};
    const QString names[2] = {QStringLiteral("Mp3"), QStringLiteral("Wave")};
    for (int k = 0; k < 2; ++k)
        list(names[k], cpu, found[k], known[k]);  // the files into the page cache
    for (int run = 0; run < kRuns; ++run) {
        for (int k = 0; k < 2; ++k) {
            times[k].push_back(list(names[k], cpu, found[k], known[k]));
            cpus[k].push_back(cpu);
        }
    }
    for (int k = 0; k < 2; ++k) {
        std::sort(times[k].begin(), times[k].end());
        std::sort(cpus[k].begin(), cpus[k].end());
        std::printf(
            "%-4s Inbox: %d messages, %ld voicemails (%ld with a length): elapsed best "
            "%.3f s, median %.3f s; processor best %.3f s, median %.3f s\n",
            qPrintable(names[k]), count, found[k], known[k], times[k].front(), times[k][kRuns / 2],
            cpus[k].front(), cpus[k][kRuns / 2]);
    }
    std::printf(
        "MP3 / wave: elapsed %.2fx (best), %.2fx (median); processor %.2fx (best), "
        "%.2fx (median)\n",
        times[0].front() / times[1].front(), times[0][kRuns / 2] / times[1][kRuns / 2],
        cpus[0].front() / cpus[1].front(), cpus[0][kRuns / 2] / cpus[1][kRuns / 2]);
    return 0;
}
