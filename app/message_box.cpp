#include "app/message_box.h"

#include <QMessageBox>

namespace lyb::app {

namespace {

MessageBoxHandler& handler() {
    static MessageBoxHandler current;
    return current;
}

int showReal(QWidget* parent, const QString& text, MessageIcon icon, MessageButtons buttons) {
    QMessageBox box(parent);
    box.setWindowTitle(QStringLiteral("Lyrabell"));
    // The text carries callers' names, contacts and file names, which are
    // never markup: read as rich text, an <img> in one would be loaded, and
    // /dev/zero or a FIFO there would never finish loading.
    box.setTextFormat(Qt::PlainText);
    box.setText(text);
    switch (icon) {
        case MessageIcon::None:
            box.setIcon(QMessageBox::NoIcon);
            break;
        case MessageIcon::Information:
            box.setIcon(QMessageBox::Information);
            break;
        case MessageIcon::Exclamation:
            box.setIcon(QMessageBox::Warning);
            break;
        case MessageIcon::Error:
            box.setIcon(QMessageBox::Critical);
            break;
        case MessageIcon::Question:
            box.setIcon(QMessageBox::Question);
            break;
    }
    if (buttons == MessageButtons::YesNo) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        return box.exec() == QMessageBox::Yes ? IDYES : IDNO;
    }
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
    return IDOK;
}

}  // namespace

int messageBox(QWidget* parent, const QString& text, MessageIcon icon, MessageButtons buttons) {
    if (handler())
        return handler()(parent, text, icon, buttons);
    return showReal(parent, text, icon, buttons);
}

void setMessageBoxHandler(MessageBoxHandler replacement) {
    handler() = std::move(replacement);
}

}  // namespace lyb::app
