// A dialler for tests: an executable script that appends each call's
// argument count, arguments and "end" to a record file, one per line.
#pragma once

#include <QDir>
#include <QFile>
#include <QString>
#include <QStringList>
#include <QThread>

#include <atomic>

namespace lyb::testing {

class RecordingDialler {
public:
    // Writes the script and its record path in a fresh folder under TMPDIR.
    RecordingDialler() {
        static std::atomic<int> counter{0};
        const QString dir = QDir::tempPath() + QStringLiteral("/dialler %1").arg(counter++);
        QDir().mkpath(dir);
        script = dir + QStringLiteral("/dial er.sh");
        record = dir + QStringLiteral("/calls.txt");
        QFile f(script);
        if (f.open(QIODevice::WriteOnly)) {
            f.write(QStringLiteral("#!/bin/sh\nprintf '%s\\n' \"$#\" \"$@\" end >> '%1'\n")
                        .arg(record)
                        .toUtf8());
            f.close();
        }
        f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    // The calls recorded so far, each as its arguments.
    QList<QStringList> calls() const {
        QFile f(record);
        QList<QStringList> out;
        if (!f.open(QIODevice::ReadOnly))
            return out;
        const QStringList lines = QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'));
        for (qsizetype i = 0; i + 1 < lines.size();) {
            const int count = lines[i].toInt();
            if (i + 1 + count >= lines.size() || lines[i + 1 + count] != QLatin1String("end"))
                break;  // still being written
            out << lines.mid(i + 1, count);
            i += count + 2;
        }
        return out;
    }

    // Waits until at least n calls are recorded; gives up after 30 s so that a
    // fault fails instead of hanging. Returns the calls.
    QList<QStringList> waitForCalls(int n) const {
        for (int i = 0; i < 3000; ++i) {
            const auto now = calls();
            if (now.size() >= n)
                return now;
            QThread::msleep(10);
        }
        return calls();
    }

    QString script;
    QString record;
};

}  // namespace lyb::testing
