#include "app/open_file.h"

#include "store/recording_rule.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QStringList>

namespace lyb::app {

QString openFileFilters() {
    const QStringList extensions = store::recording_extensions();
    QStringList all;
    QStringList each;
    for (const QString& extension : extensions) {
        const QString pattern = QLatin1Char('*') + extension;
        all.append(pattern);
        each.append(QStringLiteral("%1 recordings (%2)").arg(extension.mid(1).toUpper(), pattern));
    }
    return QStringLiteral("Voicemail recordings (%1);;").arg(all.join(QLatin1Char(' '))) +
           each.join(QStringLiteral(";;"));
}

QString openFileStartFolder(const QString& music) {
    if (!music.isEmpty() && QFileInfo(music).isDir())
        return music;
    return QDir::homePath();
}

QString openFileStartFolder() {
    return openFileStartFolder(QStandardPaths::writableLocation(QStandardPaths::MusicLocation));
}

}  // namespace lyb::app
