#include "platform/telephony/telephony.h"

#include <QByteArray>
#include <QSet>
#include <QStringList>
#include <QUrl>

#include <cstdio>

#include "platform/desktop/desktop.h"

namespace lyb::telephony {

namespace {

// Names a dialler that could not be started, the first time only.
void reportOnce(const QString& what) {
    static QSet<QString> reported;  // the user-interface thread only
    if (reported.contains(what))
        return;
    reported.insert(what);
    const QByteArray line =
        QStringLiteral("lyrabell: cannot start %1 to place a call\n").arg(what).toLocal8Bit();
    std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
}

}  // namespace

QString telUri(const QString& number) {
    return QStringLiteral("tel:") +
           QString::fromLatin1(QUrl::toPercentEncoding(number, QByteArrayLiteral("+-.()*")));
}

bool tapi_request_make_call(const QString& number, const QString& calledParty) {
    if (number.isEmpty())
        return false;
    const QString dialler = qEnvironmentVariable("LYRABELL_DIALLER");
    if (!dialler.isEmpty()) {
        if (desktop::startProgram(dialler, {number, calledParty}))
            return true;
        desktop::reportOpenFailure(dialler);
        reportOnce(QStringLiteral("the dialler %1 (LYRABELL_DIALLER)").arg(dialler));
        return false;
    }
    if (desktop::shellExecuteOpen(telUri(number), QString()))
        return true;
    reportOnce(QStringLiteral("the desktop's handler for tel: URIs"));
    return false;
}

}  // namespace lyb::telephony
