// Maildir fixtures written the way mail tools write them: each message first
// into tmp/, then renamed into new/ (delivery) or cur/ with ":2,FLAGS" (a
// reader that has seen it), under unique names "SECONDS.MnnnPnnnQn.host".
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <QByteArray>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QString>
#include <QStringList>

#include <atomic>
#include <cstdint>
#include <cstdlib>

namespace lyb::testing {

// A folder of its own below the test's TMPDIR.
inline QString freshDir(const QString& name) {
    static std::atomic<int> counter{0};
    const QString base =
        QString::fromLocal8Bit(qgetenv("TMPDIR").isEmpty() ? "/tmp" : qgetenv("TMPDIR"));
    const QString dir =
        QStringLiteral("%1/%2-%3-%4").arg(base, name).arg(::getpid()).arg(counter++);
    QDir().mkpath(dir);
    return dir;
}

class MaildirFixture {
public:
    explicit MaildirFixture(const QString& name = QStringLiteral("Maildir"))
        : root(freshDir(name)) {
        for (const char* sub : {"cur", "new", "tmp"})
            QDir(root).mkdir(QString::fromLatin1(sub));
    }

    // Delivers a message; flags null leaves it in new/, otherwise it goes to
    // cur/ as UNIQUE:2,FLAGS. Returns the unique name.
    QString deliver(const QByteArray& bytes, const QString& flags = QString(), qint64 seconds = 0) {
        static std::atomic<int> sequence{0};
        const qint64 when = seconds ? seconds : QDateTime::currentSecsSinceEpoch();
        const QString unique = QStringLiteral("%1.M%2P%3Q%4.testhost")
                                   .arg(when)
                                   .arg(100000 + sequence.load())
                                   .arg(::getpid())
                                   .arg(sequence++);
        const QString tmp = root + QStringLiteral("/tmp/") + unique;
        QFile f(tmp);
        if (!f.open(QIODevice::WriteOnly))
            return {};
        f.write(bytes);
        f.close();
        const QString target = flags.isNull() ? root + QStringLiteral("/new/") + unique
                                              : root + QStringLiteral("/cur/") + unique +
                                                    QStringLiteral(":2,") + flags;
        ::rename(QFile::encodeName(tmp).constData(), QFile::encodeName(target).constData());
        return unique;
    }

    // The file names of a subfolder, sorted.
    QStringList files(const QString& sub) const {
        return QDir(root + QLatin1Char('/') + sub).entryList(QDir::Files, QDir::Name);
    }
    QString pathOf(const QString& unique) const {
        for (const QString& sub : {QStringLiteral("cur"), QStringLiteral("new")}) {
            for (const QString& name : files(sub)) {
                if (name == unique || name.startsWith(unique + QLatin1Char(':'))) {
                    return root + QLatin1Char('/') + sub + QLatin1Char('/') + name;
                }
            }
        }
        return {};
    }

    QString root;
};

// A RIFF/WAVE file of 16-bit mono PCM at 8000 Hz lasting the given seconds.
inline QByteArray pcmWave(int seconds, uint32_t rate = 8000) {
    const uint32_t dataSize = static_cast<uint32_t>(seconds) * rate * 2;
    QByteArray w;
    auto u32 = [&](uint32_t v) {
        for (int i = 0; i < 4; ++i)
            w.append(static_cast<char>((v >> (8 * i)) & 0xFF));
    };
    auto u16 = [&](uint16_t v) {
        w.append(static_cast<char>(v & 0xFF));
        w.append(static_cast<char>(v >> 8));
    };
    w.append("RIFF");
    u32(36 + dataSize);
    w.append("WAVEfmt ");
    u32(16);
    u16(1);
    u16(1);
    u32(rate);
    u32(rate * 2);
    u16(2);
    u16(16);
    w.append("data");
    u32(dataSize);
    w.append(QByteArray(static_cast<qsizetype>(dataSize), '\0'));
    return w;
}

struct MailParts {
    QByteArray subject = "Voice Mail Message (5551234567)";
    QByteArray date = "Tue, 01 Dec 2026 09:30:00 +0000";
    QByteArray received;  // a whole Received header value, or empty
    QByteArray textBody = "You have a new voice message.\r\nCaller ID: 555-123-4567\r\n";
    QByteArray textHeaders = "Content-Type: text/plain; charset=us-ascii\r\n";
    QByteArray htmlBody;  // empty: no HTML part
    QByteArray attachName = "message.wav";
    QByteArray attachType = "audio/wav";
    QByteArray attachData = pcmWave(3);
    bool attachment = true;
};

// A multipart/mixed message as voicemail services send it, CRLF line ends.
inline QByteArray voicemailMail(const MailParts& p = MailParts()) {
    QByteArray m;
    if (!p.received.isEmpty())
        m += "Received: " + p.received + "\r\n";
    m += "From: Voicemail <voicemail@pbx.example.net>\r\n";
    m += "To: alice@example.org\r\n";
    m += "Subject: " + p.subject + "\r\n";
    m += "Date: " + p.date + "\r\n";
    m += "Message-ID: <" + QByteArray::number(std::rand()) + "@pbx.example.net>\r\n";
    m += "MIME-Version: 1.0\r\n";
    m += "Content-Type: multipart/mixed; boundary=\"=_b1\"\r\n\r\n";
    m += "This is a multi-part message in MIME format.\r\n\r\n";
    m += "--=_b1\r\n" + p.textHeaders + "\r\n" + p.textBody + "\r\n";
    if (!p.htmlBody.isEmpty()) {
        m += "--=_b1\r\nContent-Type: text/html; charset=utf-8\r\n\r\n" + p.htmlBody + "\r\n";
    }
    if (p.attachment) {
        m += "--=_b1\r\nContent-Type: " + p.attachType + "; name=\"" + p.attachName + "\"\r\n";
        m += "Content-Transfer-Encoding: base64\r\n";
        m += "Content-Disposition: attachment; filename=\"" + p.attachName + "\"\r\n\r\n";
        const QByteArray b64 = p.attachData.toBase64();
        for (qsizetype i = 0; i < b64.size(); i += 76)
            m += b64.mid(i, 76) + "\r\n";
    }
    m += "--=_b1--\r\n";
    return m;
}

// An ordinary one-part e-mail.
inline QByteArray plainMail(const QByteArray& subject, const QByteArray& body) {
    return "From: Bob <bob@example.org>\nTo: alice@example.org\nSubject: " + subject +
           "\nDate: Mon, 30 Nov 2026 08:00:00 +0000\nContent-Type: text/plain\n\n" + body + "\n";
}

}  // namespace lyb::testing
