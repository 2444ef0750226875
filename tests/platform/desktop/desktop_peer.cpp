// A second process for the desktop tests.
//
//   desktop_peer window CAPTION ROLE RECORD ANSWER SLEEP_MS [NAME [COUNT]]
//     Registers the message NAME (when given, may be empty) and COUNT windows
//     (default 1; the second is captioned "CAPTION 2" and so on). Every message
//     is appended to RECORD as "<what> <wParam> <lParam>", where <what> is
//     NAME for the registered message and the number otherwise; the handler
//     then sleeps SLEEP_MS and answers ANSWER. WM_USER + 1 also appends
//     " (changed)" to the caption. Raising appends "raise". Prints "ready"
//     once the window can be found.
//   desktop_peer id NAME
//     Prints the id of the registered message NAME.
//   desktop_peer lock PATH
//     Takes the instance lock of PATH, prints "existed" or "held", and waits.
//   desktop_peer runtime TARGET [wait]
//     Prints the runtime folder, leaves in it a file and a link to TARGET,
//     and ends normally; with "wait", prints "waiting" and runs until SIGTERM
//     or SIGHUP ends it (quitOnEndSignals).
#include "platform/desktop/desktop.h"

#include <QCoreApplication>
#include <QFile>
#include <QThread>

#include <cstdio>
#include <memory>
#include <vector>

using namespace lyb::desktop;

namespace {

void record(const QString& file, const QString& line) {
    QFile f(file);
    if (f.open(QIODevice::Append)) {
        f.write(line.toUtf8() + '\n');
    }
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 3 && args[1] == "id") {
        std::printf("%u\n", registerWindowMessage(args[2]));
        return 0;
    }
    if (args.size() == 3 && args[1] == "lock") {
        InstanceLock lock(args[2]);
        std::printf("%s\n", lock.alreadyExisted() ? "existed" : "held");
        std::fflush(stdout);
        return app.exec();
    }
    if ((args.size() == 3 || args.size() == 4) && args[1] == "runtime") {
        const QString dir = runtimeDir();
        std::printf("%s\n", qPrintable(dir));
        std::fflush(stdout);
        QFile file(dir + "/lybtemp.wav");
        file.open(QIODevice::WriteOnly);
        file.write("left behind");
        file.close();
        QFile::link(args[2], dir + "/lyb.wav");
        if (args.size() == 3) {
            return 0;
        }
        quitOnEndSignals();
        std::printf("waiting\n");
        std::fflush(stdout);
        return app.exec();
    }
    if (args.size() >= 7 && args.size() <= 9 && args[1] == "window") {
        const QString caption = args[2];
        const QString recordFile = args[4];
        const qint64 answer = args[5].toLongLong();
        const unsigned long sleepMs = args[6].toULong();
        const QString name = args.size() >= 8 ? args[7] : QString();
        const uint32_t id = registerWindowMessage(name);
        const int count = args.size() == 9 ? args[8].toInt() : 1;
        std::vector<std::unique_ptr<TopLevelWindow>> windows;
        for (int i = 0; i < count; ++i) {
            const QString title = i == 0 ? caption : caption + ' ' + QString::number(i + 1);
            auto self = std::make_shared<TopLevelWindow*>(nullptr);
            windows.push_back(std::make_unique<TopLevelWindow>(
                title, args[3],
                [=](uint32_t message, quint64 wParam, qint64 lParam) -> qint64 {
                    const QString what = id != 0 && message == id ? name : QString::number(message);
                    record(recordFile,
                           QStringLiteral("%1 %2 %3").arg(what).arg(wParam).arg(lParam));
                    if (message == WM_USER + 1) {
                        (*self)->setCaption(title + " (changed)");
                    }
                    QThread::msleep(sleepMs);
                    return answer;
                },
                [=] { record(recordFile, QStringLiteral("raise")); }));
            *self = windows.back().get();
        }
        std::printf("ready\n");
        std::fflush(stdout);
        return app.exec();
    }
    std::fprintf(stderr, "usage: desktop_peer window|id|lock ...\n");
    return 2;
}
