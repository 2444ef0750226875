#include "platform/paths/paths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <unistd.h>
#include <climits>

namespace lyb::paths {

QByteArray program_file_name() {
    char buf[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf);
    if (n <= 0 || size_t(n) >= sizeof buf)
        return {};
    return QByteArray(buf, static_cast<int>(n));
}

QString program_folder() {
    const QByteArray name = program_file_name();
    if (!name.isEmpty())
        return QFileInfo(QFile::decodeName(name)).absolutePath();
    return QCoreApplication::instance() ? QCoreApplication::applicationDirPath() : QString();
}

QString data_folder() {
    const QString programs = program_folder();
    if (programs.isEmpty())
        return {};
    // An installed program's folder is <prefix>/lib/lyrabell; a build's has
    // no such neighbour, and there the data is made beside the programs.
    const QString installed =
        QDir::cleanPath(programs + QStringLiteral("/" LYB_DATA_FROM_PROGRAMS));
    return QFileInfo(installed).isDir() ? installed : programs;
}

namespace {

QString inDataFolder(const QString& name) {
    const QString data = data_folder();
    return data.isEmpty() ? QString() : data + QLatin1Char('/') + name;
}

}  // namespace

QString help_folder() {
    return inDataFolder(QStringLiteral("help"));
}

QString demo_folder() {
    return inDataFolder(QStringLiteral("demo"));
}

}  // namespace lyb::paths
