// What the Open File dialog offers: every kind of recording Lyrabell plays,
// and where it starts looking.
#pragma once

#include <QString>

namespace lyb::app {

// The dialog's filters: first one with every recording kind, then each kind
// alone ("MP3 recordings (*.mp3)"), separated by ";;".
QString openFileFilters();

// The folder the dialog starts in: music when it names an existing folder
// (the user's Music folder), else the home folder. Never the working folder,
// which for a program started from the desktop means nothing to the user.
QString openFileStartFolder(const QString& music);

// openFileStartFolder of the user's own Music folder.
QString openFileStartFolder();

}  // namespace lyb::app
