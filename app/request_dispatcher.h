// The main window's requests: the request handed over by the play message,
// the busy policy and the modal scope.
//
// While the window waits inside a piece of work (a refresh, the decoding
// wait, a message box or a dialog) it is busy, and so it is before its
// initialisation: a handed-over request is then remembered, the last one
// counting, and handled from the event loop once the work has ended. Every
// such piece of work is a ModalScope, so no box escapes the rule.
#pragma once

#include "app/message_box.h"
#include "app/stored_messages.h"

#include <QObject>
#include <QString>

namespace lyb::app {

class CRequestDispatcher final : public QObject {
    Q_OBJECT

public:
    // store: where stored-message requests are opened (borrowed, may be null).
    explicit CRequestDispatcher(IMessageStore* store, QObject* parent = nullptr);

    // Held for as long as the window waits inside a piece of work.
    class ModalScope {
    public:
        explicit ModalScope(CRequestDispatcher& dispatcher);
        ~ModalScope();
        ModalScope(const ModalScope&) = delete;
        ModalScope& operator=(const ModalScope&) = delete;

    private:
        CRequestDispatcher& dispatcher_;
    };

    // A message box inside a modal scope.
    int messageBox(QWidget* parent, const QString& text, MessageIcon icon,
                   MessageButtons buttons = MessageButtons::Ok);

    // The window has initialised: from now on it is busy only inside a scope.
    void setReady();
    bool busy() const { return !ready_ || depth_ > 0; }

    // Takes "AutoPlay" and empties it at once, so that the next sender may
    // write its own; the request is handled from the event loop, after the
    // sender has had its answer, once the window is not busy.
    void takeHandedOver();

    // Handles a request now: stored-message, local-file, or nothing.
    void dispatch(const QString& request);

signals:
    void localFileRequested(const QString& path, const QString& caller);
    // The record lives until the receivers return.
    void storedMessageRequested(lyb::app::IVoicemailRecord* record);

private:
    void workEnded();
    void runStoredMessageRequest();

    IMessageStore* store_;
    bool ready_ = false;
    int depth_ = 0;
    QString deferred_;  // taken from "AutoPlay"; empty: none
};

}  // namespace lyb::app
