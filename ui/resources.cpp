#include "ui/resources.h"

#include <QFile>

// Q_INIT_RESOURCE declares a global function, so it must run outside any namespace.
static void initImages() {
    Q_INIT_RESOURCE(images);
}

namespace lyb::ui {

void ensure_resources() {
    static const bool done = (initImages(), true);
    (void)done;
}

QPixmap load_pixmap(const QString& name, qreal devicePixelRatio) {
    ensure_resources();
    if (devicePixelRatio > 1.0) {
        qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
        if (dot < name.lastIndexOf(QLatin1Char('/')))
            dot = -1;
        const QString hiDpi =
            dot < 0 ? name + QStringLiteral("@2x") : name.left(dot) + "@2x" + name.mid(dot);
        if (QFile::exists(hiDpi)) {
            QPixmap pixmap(hiDpi);
            if (!pixmap.isNull()) {
                pixmap.setDevicePixelRatio(2.0);
                return pixmap;
            }
        }
    }
    QPixmap pixmap(name);
    pixmap.setDevicePixelRatio(1.0);
    return pixmap;
}

}  // namespace lyb::ui
