#include "app/play_request.h"

namespace lyb::app {

PlayRequest parsePlayRequest(const QString& request) {
    if (request.size() < 2)
        return {};
    if (request.compare(QLatin1String("<OID>"), Qt::CaseInsensitive) == 0)
        return {RequestKind::StoredMessage, {}, {}};

    static const QString marker = QStringLiteral("<lyb:");
    PlayRequest result{RequestKind::LocalFile, request, {}};
    const qsizetype i = request.indexOf(marker, 0, Qt::CaseSensitive);
    const qsizetype j = request.indexOf(QLatin1Char('>'));
    if (i >= 0 && j >= 0) {
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
