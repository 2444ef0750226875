#include "app/request_dispatcher.h"

#include "app/play_request.h"
#include "app/settings.h"
#include "app/stored_messages.h"

#include <QTimer>

#include <memory>
#include <optional>
#include <utility>

namespace lyb::app {

CRequestDispatcher::CRequestDispatcher(IMessageStore* store, QObject* parent)
    : QObject(parent), store_(store) {}

CRequestDispatcher::ModalScope::ModalScope(CRequestDispatcher& dispatcher)
    : dispatcher_(dispatcher) {
    ++dispatcher_.depth_;
}

CRequestDispatcher::ModalScope::~ModalScope() {
    --dispatcher_.depth_;
    dispatcher_.workEnded();
}

int CRequestDispatcher::messageBox(QWidget* parent, const QString& text, MessageIcon icon,
                                   MessageButtons buttons) {
    const ModalScope scope(*this);
    return app::messageBox(parent, text, icon, buttons);
}

void CRequestDispatcher::setReady() {
    ready_ = true;
    workEnded();
}

void CRequestDispatcher::takeHandedOver() {
    const QString request = settings::autoPlay();
    settings::setAutoPlay(QString());
    if (!request.isEmpty())
        deferred_ = request;
    workEnded();
}

void CRequestDispatcher::workEnded() {
    if (busy() || deferred_.isEmpty())
        return;
    // Handled from the event loop, once the work that was waiting (or the
    // sender's call) has returned.
    QTimer::singleShot(0, this, [this] {
        if (!busy() && !deferred_.isEmpty())
            dispatch(std::exchange(deferred_, QString()));
    });
}

void CRequestDispatcher::dispatch(const QString& request) {
    const PlayRequest parsed = parsePlayRequest(request);
    switch (parsed.kind) {
        case RequestKind::None:
            break;
        case RequestKind::StoredMessage:
            runStoredMessageRequest();
            break;
        case RequestKind::LocalFile:
            emit localFileRequested(parsed.path, parsed.caller);
            break;
    }
}

void CRequestDispatcher::runStoredMessageRequest() {
    const std::optional<QByteArray> id = settings::msgEntryId();
    if (!id)
        return;
    settings::setMsgEntryId(QByteArray());
    // An empty identifier names no message; the store is not asked.
    if (id->isEmpty() || !store_)
        return;
    const std::unique_ptr<IStoreSession> session = store_->logon();
    if (!session)
        return;
    if (const std::unique_ptr<IVoicemailRecord> record = session->open_voicemail(*id))
        emit storedMessageRequested(record.get());
}

}  // namespace lyb::app
