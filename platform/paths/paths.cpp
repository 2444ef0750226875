#include "platform/paths/paths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <sys/stat.h>
#include <unistd.h>
#include <climits>

#include "platform/files/file_names.h"

namespace lyb::paths {

QString currentProgramPath() {
    char buf[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf);
    if (n > 0 && size_t(n) < sizeof buf)
        return files::decodeFileName(QByteArrayView(buf, n));
    return QCoreApplication::instance() ? QCoreApplication::applicationFilePath() : QString();
}

QString program_folder() {
    const QString program = currentProgramPath();
    return program.isEmpty() ? QString() : QFileInfo(program).absolutePath();
}

QString data_folder() {
    const QString programs = program_folder();
    if (programs.isEmpty())
        return {};
    // An installed program's folder is <prefix>/lib/lyrabell; a build's has
    // no such neighbour, and there the data is made beside the programs.
    const QString installed =
        QDir::cleanPath(programs + QStringLiteral("/" LYB_DATA_FROM_PROGRAMS));
    struct stat st;
    const bool isDir =
        ::stat(files::encodeFileName(installed).constData(), &st) == 0 && S_ISDIR(st.st_mode);
    return isDir ? installed : programs;
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
