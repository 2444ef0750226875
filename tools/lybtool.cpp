// lybtool: Lyrabell's command-line tool for people who script or diagnose.
#include <QCoreApplication>
#include <QTextStream>

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "platform/desktop/file_names.h"
#include "tools/command.h"

namespace lyb::tool {

std::vector<Command>& commands() {
    static std::vector<Command> all;
    return all;
}

void out(const QString& line) {
    const QByteArray bytes = line.toUtf8();
    std::fwrite(bytes.constData(), 1, bytes.size(), stdout);
    std::fputc('\n', stdout);
}

void err(const QString& line) {
    const QByteArray bytes = line.toUtf8();
    std::fwrite(bytes.constData(), 1, bytes.size(), stderr);
    std::fputc('\n', stderr);
}

QByteArray entryIdFromText(const QString& text) {
    const QByteArray latin = text.toLatin1();
    if (text.isEmpty() || latin.size() % 2 != 0 ||
        !std::all_of(latin.begin(), latin.end(), [](char c) { return std::isxdigit(uchar(c)); }))
        return {};
    return QByteArray::fromHex(latin);
}

}  // namespace lyb::tool

namespace {

void printHelp() {
    using lyb::tool::out;
    out(QStringLiteral("usage: lybtool COMMAND [ARGS...]"));
    out(QString());
    auto sorted = lyb::tool::commands();
    std::sort(sorted.begin(), sorted.end(),
              [](const auto& a, const auto& b) { return qstrcmp(a.name, b.name) < 0; });
    for (const auto& c : sorted) {
        out(QStringLiteral("  %1 %2").arg(QString::fromUtf8(c.name), QString::fromUtf8(c.usage)));
        out(QStringLiteral("      %1").arg(QString::fromUtf8(c.summary)));
    }
    out(QString());
    out(QStringLiteral("Errors print the texts Lyrabell shows and exit non-zero."));
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    // From argv itself: file names keep every byte, UTF-8 or not.
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << lyb::desktop::decodeFileName(argv[i]);
    if (args.isEmpty() || args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
        printHelp();
        return args.isEmpty() ? 2 : 0;
    }
    const QString name = args.takeFirst();
    for (const auto& c : lyb::tool::commands()) {
        if (name == QString::fromUtf8(c.name))
            return c.run(args);
    }
    lyb::tool::err(
        QStringLiteral("lybtool: unknown command \"%1\" (see lybtool --help)").arg(name));
    return 2;
}
