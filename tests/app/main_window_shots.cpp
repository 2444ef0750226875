// Writes pictures of the main window into the folder given as the argument:
// the list, the "Menu" popup, the context menu and the playback screen, and
// the window 360, 800 and 1,600 pixels wide with a voicemail playing fast, at
// the screen's pixel ratio (run with QT_SCALE_FACTOR=2 for 2x): for people to
// look at, never run by the tests. Run it through tests/run-isolated; on an
// X server (QT_QPA_PLATFORM=xcb, under a window manager) the wide pictures
// are taken from the screen, title bar and frame included.
// Usage: main_window_shots FOLDER [ACCOUNT]
#include "app/command_bar.h"
#include "app/main_dialog.h"
#include "app/settings.h"
#include "app/store_adapter.h"
#include "recording_playback.h"
#include "ui/seek_slider.h"
#include "ui/transparent_static.h"
#include "ui/voicemail_list.h"

#include <QApplication>
#include <QEventLoop>
#include <QMenu>
#include <QScreen>
#include <QTimer>

using namespace lyb::app;

namespace {

QString folder;
QString scale;

void save(QWidget* widget, const QString& name) {
    QApplication::processEvents();
    const QString path = QStringLiteral("%1/main-%2%3.png").arg(folder, name, scale);
    widget->grab().save(path);
    std::printf("%s\n", qPrintable(path));
}

// The window as the screen shows it, frame included; the widget's own
// picture where there is no real screen.
void saveScreen(QWidget* window, const QString& name) {
    QApplication::processEvents();
    QEventLoop settle;  // the window manager frames and places it meanwhile
    QTimer::singleShot(300, &settle, &QEventLoop::quit);
    settle.exec();
    const QString path = QStringLiteral("%1/main-%2%3.png").arg(folder, name, scale);
    const QRect frame = window->frameGeometry();
    if (QGuiApplication::platformName() == QLatin1String("xcb"))
        window->screen()
            ->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height())
            .save(path);
    else
        window->grab().save(path);
    std::printf("%s\n", qPrintable(path));
}

void saveMenu(QMenu* menu, QWidget* owner, const QString& name) {
    menu->popup(owner->mapToGlobal(QPoint(owner->width() / 3, owner->height() / 3)));
    save(menu, name);
    menu->hide();
}

}  // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: main_window_shots FOLDER [ACCOUNT]\n");
        return 2;
    }
    folder = QString::fromLocal8Bit(argv[1]);
    scale = qApp->devicePixelRatio() > 1 ? QStringLiteral("@2x") : QString();
    const QString account =
        argc > 2 ? QString::fromLocal8Bit(argv[2]) : QStringLiteral("Demo Voicemail");
    lyb::settings::setMessageStore(account);
    lyb::settings::setTips(1);
    lyb::settings::setUsingOutlook(1);

    CMaildirMessageStore store;
    const auto session = store.logon();
    auto log = std::make_shared<PlaybackLog>();
    CMainDialog dialog(&store, 0);
    dialog.setSession(session ? session->mapi_session() : nullptr);
    dialog.setPlayback(std::make_unique<CRecordingPlayback>(log));
    dialog.setHeadStart(0);
    dialog.show();
    dialog.initialise();
    save(&dialog, QStringLiteral("list"));
    applyMenuRules(dialog.mainMenu(), dialog.menuState());
    saveMenu(dialog.mainMenu(), &dialog, QStringLiteral("menu"));
    if (QAction* tools = dialog.mainMenu()->actions().last(); tools && tools->menu()) {
        applyMenuRules(tools->menu(), dialog.menuState());
        saveMenu(tools->menu(), &dialog, QStringLiteral("menu-tools"));
    }
    applyMenuRules(dialog.contextMenu(), dialog.menuState());
    saveMenu(dialog.contextMenu(), &dialog, QStringLiteral("context-menu"));

    // A voicemail playing from the list, then paused.
    dialog.list()->select_row(1);
    dialog.runCommand(ID_PLAY);
    log->position = 7000;
    dialog.playback_tick();
    save(&dialog, QStringLiteral("list-playing"));
    dialog.pause_player();
    save(&dialog, QStringLiteral("list-paused"));
    dialog.close_playback();

    // A voicemail from the list playing fast, the window ever wider.
    for (int width : {360, 800, 1600}) {
        dialog.resize(width, 560);
        dialog.list()->select_row(1);
        dialog.runCommand(ID_PLAY);
        log->position = 41000;
        dialog.toggle_speed();
        dialog.playback_tick();
        saveScreen(&dialog, QStringLiteral("width-%1-playing-fast").arg(width));
        dialog.close_playback();
    }
    dialog.resize(360, 640);

    // The playback screen: a local file at 0:23 of 1:00.
    dialog.dispatch(QStringLiteral("/home/ann/Voicemail/2026-12-08 Ann Lee.wav"));
    log->position = 23000;
    dialog.playback_tick();
    save(&dialog, QStringLiteral("playback"));
    dialog.pause_player();
    save(&dialog, QStringLiteral("playback-paused"));

    // Too narrow for the times beside the slider.
    dialog.resize(220, 400);
    save(&dialog, QStringLiteral("narrow"));
    QFont large = dialog.font();
    large.setPointSize(20);
    dialog.elapsedLabel()->setFont(large);
    dialog.remainingLabel()->setFont(large);
    dialog.layout_player_strip();
    save(&dialog, QStringLiteral("narrow-large-font"));
    return 0;
}
