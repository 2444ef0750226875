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

#include "store/message_store.h"

namespace {

QByteArray gsmWave(int seconds) {
    const uint32_t blocks = static_cast<uint32_t>(seconds) * 8000 / 320;  // 65 bytes, 320 samples
    const uint32_t dataSize = blocks * 65;
    QByteArray w("RIFF");
    auto u32 = [&](uint32_t v) {
        for (int i = 0; i < 4; ++i)
            w.append(static_cast<char>((v >> (8 * i)) & 0xFF));
    };
    auto u16 = [&](uint16_t v) {
        w.append(static_cast<char>(v & 0xFF));
        w.append(static_cast<char>(v >> 8));
    };
    u32(52 + dataSize);
    w.append("WAVEfmt ");
    u32(20);
    u16(49);
    u16(1);
    u32(8000);
    u32(1625);
    u16(65);
    u16(0);
    u16(2);
    u16(320);
    w.append("data");
    u32(dataSize);
    w.append(QByteArray(static_cast<qsizetype>(dataSize), '\x55'));
    return w;
}

QByteArray mail(int i, const QByteArray& name, const QByteArray& type, const QByteArray& data) {
    QByteArray m =
        "Received: from pbx by mail; Tue, 01 Dec 2026 09:30:00 +0000\r\n"
        "From: Voicemail <vm@example.net>\r\nTo: a@example.org\r\n"
        "Subject: Voice Mail Message (555" +
        QByteArray::number(1000000 + i) +
        ")\r\nDate: Tue, 01 Dec 2026 09:30:00 +0000\r\nMIME-Version: 1.0\r\n"
        "Content-Type: multipart/mixed; boundary=\"b\"\r\n\r\n--b\r\n"
        "Content-Type: text/plain\r\n\r\nCaller ID: 555-" +
        QByteArray::number(1000000 + i) + "\r\n--b\r\nContent-Type: " + type + "; name=\"" + name +
        "\"\r\nContent-Transfer-Encoding: base64\r\n\r\n";
    const QByteArray b64 = data.toBase64();
    for (qsizetype k = 0; k < b64.size(); k += 76)
        m += b64.mid(k, 76) + "\r\n";
    return m + "--b--\r\n";
}

double cpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + t.tv_nsec / 1e9;
}

long peakKiB() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    }
    return -1;
}

void resetPeak() {
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
}

void makeInbox(const QString& root, int count) {
    for (const char* sub : {"cur", "new", "tmp"})
        QDir().mkpath(root + "/" + sub);
    const QByteArray wave = gsmWave(10);
    const QByteArray raw(33 * 500, '\x55');  // 10 s of GSM 06.10 frames
    for (int i = 0; i < count; ++i) {
        QFile f(QStringLiteral("%1/%2/%3.M%4P1.bench%5")
                    .arg(root, i % 3 ? QStringLiteral("cur") : QStringLiteral("new"))
                    .arg(1790000000 + i)
                    .arg(i)
                    .arg(i % 3 ? QStringLiteral(":2,S") : QString()));
        f.open(QIODevice::WriteOnly);
        f.write(i % 2 ? mail(i, "message.wav", "audio/wav", wave)
                      : mail(i, "message.gsm", "audio/x-gsm", raw));
    }
}

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
