// The synthetic Inbox of the store and list benchmarks: COUNT voicemails with
// 10 s GSM recordings (half in wave files, half raw), one in three unread,
// caller numbers 555 1000000 + i, received a minute apart; and the
// process's processor time and peak memory.
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QDir>
#include <QFile>

#include <ctime>

namespace lyb::bench {

inline QByteArray gsmWave(int seconds) {
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

inline QByteArray mail(int i, const QByteArray& name, const QByteArray& type,
                       const QByteArray& data) {
    // A minute apart, from 1 Dec 2026 09:30 UTC back.
    const QByteArray when = QDateTime::fromSecsSinceEpoch(1796117400 - 60 * i, Qt::UTC)
                                .toString(Qt::RFC2822Date)
                                .toLatin1();
    QByteArray m = "Received: from pbx by mail; " + when +
                   "\r\n"
                   "From: Voicemail <vm@example.net>\r\nTo: a@example.org\r\n"
                   "Subject: Voice Mail Message (555" +
                   QByteArray::number(1000000 + i) + ")\r\nDate: " + when +
                   "\r\nMIME-Version: 1.0\r\n"
                   "Content-Type: multipart/mixed; boundary=\"b\"\r\n\r\n--b\r\n"
                   "Content-Type: text/plain\r\n\r\nCaller ID: 555-" +
                   QByteArray::number(1000000 + i) + "\r\n--b\r\nContent-Type: " + type +
                   "; name=\"" + name + "\"\r\nContent-Transfer-Encoding: base64\r\n\r\n";
    const QByteArray b64 = data.toBase64();
    for (qsizetype k = 0; k < b64.size(); k += 76)
        m += b64.mid(k, 76) + "\r\n";
    return m + "--b--\r\n";
}

inline double cpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + t.tv_nsec / 1e9;
}

// The number after "key:" in one of the process's /proc files; -1 when absent.
inline long long procValue(const char* file, const QByteArray& key) {
    QFile status(QStringLiteral("/proc/self/") + QLatin1String(file));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(key + ':'))
            return line.mid(key.size() + 1).trimmed().split(' ').first().toLongLong();
    }
    return -1;
}

inline long peakKiB() {
    return static_cast<long>(procValue("status", "VmHWM"));
}

inline void resetPeak() {
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
}

inline void makeInbox(const QString& root, int count) {
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

}  // namespace lyb::bench
