#include "app/update_page.h"

#include "platform/desktop/desktop.h"

namespace lyb::app {

QString updatePageUrl() {
    // Until the project has an update service of its own, its page (where
    // releases are published) is where to look for a newer one.
    return QStringLiteral(LYB_HOMEPAGE);
}

bool openUpdatePage() {
    return desktop::shellExecuteOpen(updatePageUrl(), QString());
}

}  // namespace lyb::app
