// lyrabell: the voicemail player. Its request is its arguments joined by
// single blanks, taken before Qt removes the options it knows, with every
// byte of a file name kept; "--help" and "--version" print and end before any
// window is made.
#include "app/command_line.h"
#include "app/store_adapter.h"
#include "app/voicemail_app.h"
#include "platform/desktop/desktop.h"
#include "platform/desktop/file_names.h"
#include "platform/pim/pim.h"
#include "ui/contact_dialogs.h"

#include <QApplication>
#include <QStringList>

#include <csignal>
#include <cstdio>

int main(int argc, char** argv) {
    // Started by the launcher, Lyrabell may outlive the pipes its output went
    // to; a warning written then must not end the program.
    std::signal(SIGPIPE, SIG_IGN);
    using namespace lyb::app;
    QStringList words;
    for (int i = 1; i < argc; ++i)
        words << lyb::desktop::decodeFileName(argv[i]);
    if (const CommandLineAction action = commandLineAction(words);
        action != CommandLineAction::Run) {
        std::fputs(commandLineOutput(action, QStringLiteral(LYB_VERSION)).toLocal8Bit().constData(),
                   stdout);
        return 0;
    }
    const QString request = requestOf(words);

    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Lyrabell"));
    // Ended at logout or by its terminal, Lyrabell closes as its window does:
    // playback stops and the files and folder it made go.
    lyb::desktop::quitOnEndSignals();
    // The contacts store shows its card and editor through these dialogs.
    lyb::ui::CContactUi contactUi;
    lyb::pim::setContactUi(&contactUi);
    CVoiceMailApp app(std::make_unique<CMaildirMessageStore>(), setUpMainWindow);
    return app.run(request);
}
