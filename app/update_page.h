// "Check For Update": the project's page, given at build time (the CMake
// cache variable LYB_HOMEPAGE), opened in the desktop's web browser. When no
// browser opens it, the window's open-failure box says so.
#pragma once

#include <QString>

namespace lyb::app {

// Returns the address of the project's page.
QString updatePageUrl();
// Opens the update page through the desktop's URL handler without waiting
// for it. False when no handler could be started.
bool openUpdatePage();

}  // namespace lyb::app
