// "Check For Update": the update page, opened in the desktop's web browser.
#pragma once

#include <QString>

namespace lyb::app {

// Returns the address of the update page for this release.
QString updatePageUrl();
// Opens the update page through the desktop's URL handler without waiting
// for it. False when no handler could be started.
bool openUpdatePage();

}  // namespace lyb::app
