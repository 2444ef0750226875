// Starts desktop_peer processes for the desktop tests and ends them again.
#pragma once

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStringList>

#include <memory>
#include <ostream>

// Lets test failures show texts as texts.
inline void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}

namespace lyb::desktop::test {

// Makes the application object the bus and QProcess need, once per program.
inline void ensureApp() {
    static int argc = 1;
    static char name[] = "desktop_test";
    static char* argv[] = {name, nullptr};
    static QCoreApplication* app =
        QCoreApplication::instance() ? nullptr : new QCoreApplication(argc, argv);
    (void)app;
}

inline QString peerProgram() {
    return QStringLiteral(LYB_DESKTOP_PEER);
}

// A running desktop_peer; killed (SIGKILL) when destroyed.
class Peer {
public:
    explicit Peer(const QStringList& args) {
        ensureApp();
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process_.start(peerProgram(), args);
        process_.waitForStarted(30000);
    }
    ~Peer() { kill(); }

    // Returns the next line the peer prints, without its line end; empty when
    // the peer ended first.
    QString readLine() {
        while (!process_.canReadLine()) {
            if (!process_.waitForReadyRead(30000)) {
                return {};
            }
        }
        return QString::fromUtf8(process_.readLine()).trimmed();
    }

    qint64 pid() const { return process_.processId(); }

    // Waits for the peer to end by itself; false when it did not within 30 s.
    bool waitForExit() { return process_.waitForFinished(30000); }
    // True once the peer has returned 0 from main (not ended by a signal).
    bool endedNormally() const {
        return process_.state() == QProcess::NotRunning &&
               process_.exitStatus() == QProcess::NormalExit && process_.exitCode() == 0;
    }

    void kill() {
        if (process_.state() != QProcess::NotRunning) {
            process_.kill();
            process_.waitForFinished(30000);
        }
    }

private:
    QProcess process_;
};

// Returns the lines of a text file; empty when it does not exist.
inline QStringList readLines(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        return {};
    }
    return QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts);
}

// Returns a fresh file name in the test's private temporary folder.
inline QString tempPath(const QString& name) {
    return QDir::tempPath() + '/' + name;
}

}  // namespace lyb::desktop::test
