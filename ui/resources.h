// The program's compiled-in images (":/images/..."), and loading them at the
// pixel density of the screen they are drawn on.
#pragma once

#include <QPixmap>
#include <QString>

namespace lyb::ui {

// Registers the images with Qt's resource system. lyb_ui is a static library,
// so nothing registers them unless this runs; every class that loads an image
// calls it first. Safe to call any number of times, from the GUI thread.
void ensure_resources();

// Loads the image resource `name` (for example ":/images/slider_thumb.png")
// for a device pixel ratio: above 1 its "@2x" variant is used when there is
// one, with the pixmap's ratio set so that it paints at the 1x size. Returns
// a null pixmap when neither exists or the file is not an image.
QPixmap load_pixmap(const QString& name, qreal devicePixelRatio);

}  // namespace lyb::ui
