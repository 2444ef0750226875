// lyblauncher: hands a play request to Lyrabell.
//
// The request is the command line after the program name, its arguments
// joined by single blanks, with every byte of a file name kept. A relative
// file path is made absolute against our working folder, since Lyrabell's is
// another. When Lyrabell's main window is on the session, the request goes to
// "AutoPlay" in the settings key and the play message is broadcast; otherwise
// Lyrabell, the program "lyrabell" beside this one, is started with the
// request as its one argument. Nothing is reported and the exit status is
// always 0: the shell that starts us has nobody to tell.
#include <QCoreApplication>
#include <QStringList>

#include <unistd.h>

#include <cstdlib>
#include <memory>

#include "app/play_request.h"
#include "platform/desktop/desktop.h"
#include "platform/desktop/file_names.h"
#include "platform/desktop/hand_over.h"
#include "platform/names/names.h"

namespace {

// Returns the request with a relative file path made absolute against our
// working folder. The path always begins the request, so a caller text
// after it is kept as it is; "<OID>" and requests too short to name a file
// stay whole, and so does everything when the working folder is unknown.
QString withAbsolutePath(const QString& request) {
    const lyb::app::PlayRequest parsed = lyb::app::parsePlayRequest(request);
    if (parsed.kind != lyb::app::RequestKind::LocalFile || parsed.path.isEmpty() ||
        parsed.path.startsWith(QLatin1Char('/'))) {
        return request;
    }
    const std::unique_ptr<char, decltype(&std::free)> cwd(::getcwd(nullptr, 0), &std::free);
    if (!cwd)
        return request;
    QString folder = lyb::desktop::decodeFileName(cwd.get());
    if (!folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    return folder + request;
}

QString lyrabellPath() {
    const QString self = lyb::desktop::currentProgramPath();
    const qsizetype cut = self.lastIndexOf(QLatin1Char('/'));
    return (cut < 0 ? self : self.left(cut)) + QLatin1Char('/') +
           QLatin1String(lyb::names::kLyrabellProgram);
}

}  // namespace

int main(int argc, char** argv) {
    // The arguments are taken from argv as they came, before Qt sees them.
    QStringList parts;
    for (int i = 1; i < argc; ++i)
        parts << lyb::desktop::decodeFileName(argv[i]);
    const QString request = withAbsolutePath(parts.join(QLatin1Char(' ')));
    if (request.isEmpty())
        return 0;

    QCoreApplication app(argc, argv);  // the session bus needs one
    // Lyrabell's main window is recognised by its role, whatever its caption
    // says while it refreshes or decodes; without one, Lyrabell is started.
    lyb::desktop::handOverRequest({request, std::nullopt, {}, [](const QString& text) {
                                       return lyb::desktop::shellExecuteOpen(lyrabellPath(), text);
                                   }});
    return 0;
}
