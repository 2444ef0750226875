// Writes pictures of the main window into the folder given as the argument:
// the list, the "Menu" popup, the context menu and the playback screen, at the
// screen's pixel ratio (run with QT_SCALE_FACTOR=2 for 2x): for people to
// look at, never run by the tests. Run it through tests/run-isolated.
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
#include <QMenu>
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
