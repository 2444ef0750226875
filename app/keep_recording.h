// What the window needs to keep a recording as a file: the recording shown
// on its playback screen, and the question where and how to keep it.
#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <functional>

#include "store/recording_export.h"

class QWidget;

namespace lyb::app {

// The recording on the playback screen, as Save Recording As… writes it.
struct ShownRecording {
    QString caller;
    QString number;
    int64_t received = 0;  // seconds since 1970 UTC; 0 when unknown
    QString audioType;     // ".wav", ".gsm", ".mp3", ...
    bool isGsm = false;
    QString path;      // a local file's path; empty for a stored message
    QByteArray bytes;  // a stored message's recording, read when it was shown
};

// A local file on the playback screen, named after caller (may be empty).
ShownRecording shownFile(const QString& path, const QString& caller);

// Asks where to keep a recording and as what: returns the file chosen (empty
// when cancelled) and sets *kind. suggested is the file name offered for the
// recording as received, whose extension is extension. The chooser asks
// before an existing file is replaced; a file it returns may be replaced.
using SaveChooser = std::function<QString(QWidget* parent, const QString& suggested,
                                          const QString& extension, store::ExportKind* kind)>;

// The desktop's file dialog with the choices "as received" and "as WAV
// (16-bit PCM)"; switching between them changes the name's extension.
QString chooseSaveTarget(QWidget* parent, const QString& suggested, const QString& extension,
                         store::ExportKind* kind);

}  // namespace lyb::app
