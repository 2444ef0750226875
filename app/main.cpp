// lyrabell: the voicemail player. Its request is its arguments joined by
// single blanks, taken before Qt removes the options it knows.
#include "app/voicemail_app.h"

#include <QApplication>
#include <QStringList>

#include <csignal>

int main(int argc, char** argv) {
    // Started by the launcher, Lyrabell may outlive the pipes its output went
    // to; a warning written then must not end the program.
    std::signal(SIGPIPE, SIG_IGN);
    QStringList words;
    for (int i = 1; i < argc; ++i)
        words << QString::fromLocal8Bit(argv[i]);
    const QString request = words.join(QLatin1Char(' '));

    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Lyrabell"));
    lyb::app::CVoiceMailApp app(std::make_unique<lyb::app::CNoMessageStore>());
    return app.run(request);
}
