// lybtool's subcommands. Each tools/cmd_*.cpp defines one or more with
//   static const lyb::tool::Registration reg{{"name", "ARGS", "what it does", run}};
// and is compiled straight into lybtool, so the registration always links.
#pragma once

#include <QByteArray>
#include <QStringList>

#include <functional>
#include <vector>

namespace lyb::tool {

struct Command {
    const char* name;
    const char* usage;    // the arguments, for --help
    const char* summary;  // one line, for --help
    // Runs the command on its arguments (the name left out); returns the exit status.
    std::function<int(const QStringList& args)> run;
};

std::vector<Command>& commands();

struct Registration {
    explicit Registration(Command command) { commands().push_back(std::move(command)); }
};

// Prints to standard output / standard error as UTF-8, with a newline.
void out(const QString& line);
void err(const QString& line);

// Exit statuses: the command failed, or it was called wrongly.
constexpr int kFailed = 1;
constexpr int kUsage = 2;

// The bytes of an entry id written as list prints it (hex); empty when text
// is not one.
QByteArray entryIdFromText(const QString& text);

}  // namespace lyb::tool
