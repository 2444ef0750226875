#include "today/named_event.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace lyb::today {
namespace {

// The event's file; empty when there is no runtime folder. The name's
// slashes become underscores, so every name is one file in the folder.
QString eventFile(const QString& name) {
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    if (runtime.isEmpty() || name.isEmpty())
        return {};
    QString file = name;
    file.replace(QLatin1Char('/'), QLatin1Char('_'));
    return QFile::decodeName(runtime) + QStringLiteral("/lyrabell/events/") + file;
}

bool writeEvent(const QString& name, bool signalled) {
    const QString path = eventFile(name);
    if (path.isEmpty())
        return false;
    const QString dir = QFileInfo(path).path();
    if (!QDir().mkpath(dir))
        return false;
    QFile::setPermissions(dir,
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    // Written whole and renamed into place, so a waiter never sees half a state.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    if (signalled)
        file.write("1");
    return file.commit();
}

}  // namespace

bool createEvent(const QString& name, bool signalled) {
    return writeEvent(name, signalled);
}

bool setEvent(const QString& name) {
    return writeEvent(name, true);
}

void removeEvent(const QString& name) {
    const QString path = eventFile(name);
    if (!path.isEmpty())
        QFile::remove(path);
}

WaitResult waitEventNow(const QString& name) {
    const QString path = eventFile(name);
    QFile file(path);
    if (path.isEmpty() || !file.open(QIODevice::ReadOnly))
        return WaitResult::Failed;
    return file.read(1) == "1" ? WaitResult::Signalled : WaitResult::TimedOut;
}

}  // namespace lyb::today
