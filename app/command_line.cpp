#include "app/command_line.h"

namespace lyb::app {

CommandLineAction commandLineAction(const QStringList& arguments) {
    if (arguments.isEmpty())
        return CommandLineAction::Run;
    if (arguments.first() == QLatin1String("--help"))
        return CommandLineAction::Help;
    if (arguments.first() == QLatin1String("--version"))
        return CommandLineAction::Version;
    return CommandLineAction::Run;
}

QString requestOf(const QStringList& arguments) {
    return arguments.join(QLatin1Char(' '));
}

QString commandLineOutput(CommandLineAction action, const QString& version) {
    switch (action) {
        case CommandLineAction::Help:
            return QStringLiteral(
                "Usage: lyrabell [FILE | FILE<lyb:CALLER> | <OID>]\n"
                "Plays a voicemail file, or lists the voicemails of the chosen account.\n"
                "A file named like an option is reached as ./--help.\n");
        case CommandLineAction::Version:
            return QStringLiteral("lyrabell %1\n").arg(version);
        case CommandLineAction::Run:
            break;
    }
    return QString();
}

}  // namespace lyb::app
