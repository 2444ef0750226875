#include "app/offline_notice.h"

#include "app/request_dispatcher.h"
#include "store/message_store.h"
#include "ui/voicemail_list.h"

#include <QAbstractItemModel>
#include <QDateTime>

namespace lyb::app {

namespace {

int64_t offlineSince(const ui::CVoiceMailList* list) {
    const store::CMessageFolder* folder = list ? list->list_model()->folder() : nullptr;
    return folder ? folder->offline_since : 0;
}

}  // namespace

QString COfflineNotice::lineFor(int64_t since) {
    return QStringLiteral("Offline \u2014 showing the list from %1")
        .arg(QDateTime::fromSecsSinceEpoch(since).toLocalTime().toString(QStringLiteral("HH:mm")));
}

COfflineNotice::COfflineNotice(ui::CVoiceMailList* list, QWidget* parent)
    : QLabel(parent), list_(list) {
    setAccessibleName(QStringLiteral("Offline"));
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::ToolTipBase);
    setForegroundRole(QPalette::ToolTipText);
    setMargin(4);
    setWordWrap(true);
    connect(list_->model(), &QAbstractItemModel::modelReset, this, &COfflineNotice::refresh);
    hide();
}

void COfflineNotice::refresh() {
    const int64_t since = offlineSince(list_);
    if (since) {
        setText(lineFor(since));
        setAccessibleDescription(lineFor(since));
    }
    setVisible(since != 0);
}

bool refuseWhileOffline(QWidget* parent, CRequestDispatcher& requests,
                        const ui::CVoiceMailList* list, const QString& change) {
    if (!offlineSince(list))
        return false;
    requests.messageBox(parent,
                        QStringLiteral("The mail server cannot be reached, so this voicemail "
                                       "cannot be %1 now. Try again when the server can be "
                                       "reached.")
                            .arg(change),
                        MessageIcon::Exclamation);
    return true;
}

}  // namespace lyb::app
