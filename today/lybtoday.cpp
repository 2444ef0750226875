// lybtoday: shows the number of new voicemails in the desktop panel (see
// today_host.h). One runs per user; a second start ends at once.
//
//   lybtoday                  run
//   lybtoday --autostart on   start at every login (a user autostart entry)
//   lybtoday --autostart off  no longer (the user entry removed)
#include <QApplication>
#include <QFile>
#include <QMenu>
#include <QSaveFile>
#include <QStandardPaths>

#include <cstdio>

#include "platform/desktop/desktop.h"
#include "platform/names/names.h"
#include "platform/paths/paths.h"
#include "platform/paths/private_files.h"
#include "today/today_host.h"

namespace {

const QString kEntryName = QStringLiteral("org.lyrabell.LybToday.desktop");

// The user's autostart entry overrides the installed one, which is off.
int setAutostart(const QString& how) {
    const QString dir = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
                        QStringLiteral("/autostart");
    const QString path = dir + QLatin1Char('/') + kEntryName;
    if (how == QLatin1String("off")) {
        if (QFile::exists(path) && !QFile::remove(path)) {
            std::fprintf(stderr, "lybtoday: cannot remove %s\n", qPrintable(path));
            return 1;
        }
        return 0;
    }
    if (how != QLatin1String("on")) {
        std::fprintf(stderr, "lybtoday: --autostart takes on or off\n");
        return 2;
    }
    QString program = lyb::desktop::currentProgramPath();
    program.replace(QLatin1Char('\\'), QLatin1String("\\\\"))
        .replace(QLatin1Char('"'), QLatin1String("\\\""));
    QSaveFile file(path);
    // ~/.config made here must be as private as Lyrabell's own folders in it.
    if (!lyb::paths::makePrivateFolder(dir) || !file.open(QIODevice::WriteOnly)) {
        std::fprintf(stderr, "lybtoday: cannot write %s\n", qPrintable(path));
        return 1;
    }
    file.write(
        "[Desktop Entry]\nType=Application\nName=Lyrabell Today\n"
        "Comment=Show the number of new voicemails in the panel\nIcon=lyrabell\n"
        "Exec=\"" +
        program.toUtf8() +
        "\"\nTerminal=false\nNoDisplay=true\n"
        "X-GNOME-Autostart-enabled=true\nHidden=false\n");
    if (!file.commit()) {
        std::fprintf(stderr, "lybtoday: cannot write %s\n", qPrintable(path));
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    app.setApplicationName(QStringLiteral("lybtoday"));
    app.setQuitOnLastWindowClosed(false);
    // Ended at logout, the host still removes its shell-ready event.
    lyb::desktop::quitOnEndSignals();
    const QStringList args = app.arguments().mid(1);
    if (args.size() == 2 && args[0] == QLatin1String("--autostart"))
        return setAutostart(args[1]);
    if (!args.isEmpty()) {
        std::fprintf(stderr, "usage: lybtoday [--autostart on|off]\n");
        return args[0] == QLatin1String("--help") ? 0 : 2;
    }

    lyb::desktop::InstanceLock lock(lyb::desktop::currentProgramPath());
    if (lock.alreadyExisted())
        return 0;

    lyb::today::CTodayHost host;
    const QString folder = lyb::paths::program_folder();
    const QString error = host.start(folder + QStringLiteral("/liblybtoday.so"));
    if (!error.isEmpty()) {
        std::fprintf(stderr, "lybtoday: %s\n", qPrintable(error));
        return 1;
    }
    QMenu menu;
    menu.addAction(QStringLiteral("Open Lyrabell"), [folder] {
        lyb::desktop::shellExecuteOpen(
            folder + QLatin1Char('/') + QLatin1String(lyb::names::kLyrabellProgram), QString());
    });
    menu.addAction(QStringLiteral("Quit"), &app, &QCoreApplication::quit);
    host.tray().setContextMenu(&menu);
    return app.exec();
}
