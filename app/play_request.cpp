#include "app/play_request.h"

#include "platform/files/file_names.h"

#include <sys/stat.h>

namespace lyb::app {

namespace {

// Whether text names an existing file that is not a folder (symlinks followed).
bool namesFile(const QString& text) {
    struct stat st {};
    return ::stat(files::encodeFileName(text).constData(), &st) == 0 && !S_ISDIR(st.st_mode);
}

}  // namespace

PlayRequest parsePlayRequest(const QString& request) {
    if (request.size() < 2)
        return {};
    if (request.compare(QLatin1String("<OID>"), Qt::CaseInsensitive) == 0)
        return {RequestKind::StoredMessage, {}, {}};

    static const QString marker = QStringLiteral("<lyb:");
    PlayRequest result{RequestKind::LocalFile, request, {}};
    const qsizetype i = request.indexOf(marker, 0, Qt::CaseSensitive);
    const qsizetype j = request.indexOf(QLatin1Char('>'));
    // A file may have "<lyb:" in its name; the file that is there is what
    // the request names, not a caller text after the part before it.
    if (i >= 0 && j >= 0 && !namesFile(request)) {
        const qsizetype callerStart = i + marker.size();
        if (j > callerStart)
            result.caller = request.mid(callerStart, j - callerStart);
        result.path = request.left(i);
    }
    return result;
}

QString fileNameOf(const QString& path) {
    const qsizetype slash =
        std::max(path.lastIndexOf(QLatin1Char('\\')), path.lastIndexOf(QLatin1Char('/')));
    return slash < 0 ? path : path.mid(slash + 1);
}

}  // namespace lyb::app
