// A vCard folder for dialog tests (LYRABELL_CONTACTS points at it), a way to
// act on the next modal dialog once it is up, and a card with a photo, an
// address and a vendor property to check that edits keep them.
#pragma once

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <functional>

#include "tests/platform/mapi/maildir_fixture.h"

namespace lyb::testing {

// The lines of a card that the editor does not show, as a vCard 4.0 writer
// writes them (one line folded at 75 octets).
inline const QByteArray kKeptLines =
    "PHOTO:data:image/png;base64,iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAYAAAAfFcSJAAA\r\n"
    " ADUlEQVR42mP8z8DwHwAFBQIAX8jx0gAAAABJRU5ErkJggg==\r\n"
    "ADR;TYPE=home:;;Storgatan 5\\, 2 tr;Uppsala;;752 20;Sweden\r\n"
    "X-ACME-RING;X-VOLUME=7:chime\\,soft\r\n";

class ContactFolder {
public:
    ContactFolder() : path(freshDir(QStringLiteral("contacts"))) {
        qputenv("LYRABELL_CONTACTS", path.toUtf8());
    }
    // Writes a vCard 4.0 file of one card: FN, then the given lines.
    QString put(const QString& name, const QByteArray& fn, const QByteArray& lines) const {
        QFile f(path + QLatin1Char('/') + name);
        f.open(QIODevice::WriteOnly);
        f.write("BEGIN:VCARD\r\nVERSION:4.0\r\nFN:" + fn + "\r\n" + lines + "END:VCARD\r\n");
        return f.fileName();
    }
    QByteArray get(const QString& name) const {
        QFile f(path + QLatin1Char('/') + name);
        f.open(QIODevice::ReadOnly);
        return f.readAll();
    }
    QStringList files() const {
        return QDir(path).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    }
    QString path;
};

// Runs act on the next modal dialog as soon as it is shown; act closes it.
// Returns the watch, which ends itself once it has acted; delete it to give up.
template <class Dialog>
QTimer* whenModal(std::function<void(Dialog&)> act) {
    auto* timer = new QTimer;
    QObject::connect(timer, &QTimer::timeout, [timer, act] {
        if (auto* dialog = qobject_cast<Dialog*>(QApplication::activeModalWidget())) {
            timer->stop();
            timer->deleteLater();
            act(*dialog);
        }
    });
    timer->start(1);
    return timer;
}

}  // namespace lyb::testing
