#include "app/update_page.h"

#include "platform/desktop/desktop.h"

namespace lyb::app {

QString updatePageUrl() {
    // The host is a placeholder under a reserved name until the project has
    // a server of its own; path and query are what the page expects.
    return QStringLiteral("https://lyrabell.example/update.jsp?prod=Lyrabell_PPC&ver=") +
           QStringLiteral(LYB_VERSION);
}

bool openUpdatePage() {
    return desktop::shellExecuteOpen(updatePageUrl(), QString());
}

}  // namespace lyb::app
