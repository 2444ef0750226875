// Lyrabell's command line: its arguments joined by single blanks form one
// play request, except for the two options that only print something.
// "--help" or "--version" as the first argument asks for the usage or the
// version; a file of either name is still reachable as "./--help".
#pragma once

#include <QString>
#include <QStringList>

namespace lyb::app {

enum class CommandLineAction { Run, Help, Version };

// Classifies the arguments (without the program name).
CommandLineAction commandLineAction(const QStringList& arguments);
// Returns the request the arguments make: joined by single blanks, unchanged.
QString requestOf(const QStringList& arguments);
// Returns the text to print for Help or Version, ending in a newline; empty for Run.
QString commandLineOutput(CommandLineAction action, const QString& version);

}  // namespace lyb::app
