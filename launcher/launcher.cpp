// lyblauncher: hands a play request to Lyrabell.
//
// The request is the command line after the program name, its arguments
// joined by single blanks. When Lyrabell's main window is on the session, the
// request goes to "AutoPlay" in the settings key and the play message is
// broadcast; otherwise Lyrabell, the program "lyrabell" beside this one, is
// started with the request as its one argument. Nothing is reported and the
// exit status is always 0: the shell that starts us has nobody to tell.
#include <QCoreApplication>
#include <QStringList>

#include "platform/desktop/desktop.h"
#include "platform/registry/registry.h"

namespace {

const QString kSettingsKey = QStringLiteral("Software\\Corvendale\\Lyrabell\\Lyrabell");
// Lyrabell's main window is recognised by what it is: its caption changes
// while it refreshes or decodes.
const QString kMainWindowRole = QStringLiteral("lyrabell.main");

void handOver(const QString& request) {
    const auto key = lyb::reg::Key::create(lyb::reg::Hive::CurrentUser, kSettingsKey);
    if (!key)
        return;  // dropped: there is nowhere to put it
    if (!key->writeString(QStringLiteral("AutoPlay"), request, true))
        return;
    lyb::desktop::broadcastMessage(
        lyb::desktop::registerWindowMessage(QStringLiteral("TavolinPlay")), 0, 0);
}

QString lyrabellPath() {
    const QString self = lyb::desktop::currentProgramPath();
    const qsizetype cut = self.lastIndexOf(QLatin1Char('/'));
    return (cut < 0 ? self : self.left(cut)) + QStringLiteral("/lyrabell");
}

}  // namespace

int main(int argc, char** argv) {
    // The arguments are taken from argv as they came, before Qt sees them.
    QStringList parts;
    for (int i = 1; i < argc; ++i)
        parts << QString::fromLocal8Bit(argv[i]);
    const QString request = parts.join(QLatin1Char(' '));
    if (request.isEmpty())
        return 0;

    QCoreApplication app(argc, argv);  // the session bus needs one
    if (lyb::desktop::findWindowByRole(kMainWindowRole)) {
        handOver(request);
    } else {
        lyb::desktop::shellExecuteOpen(lyrabellPath(), request);
    }
    return 0;
}
