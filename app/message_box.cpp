#include "app/message_box.h"

#include <QMessageBox>
#include <QUrl>

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

QString openFailureText(const QString& target) {
    const QUrl url(target);
    const QString scheme = url.scheme().toLower();
    // What follows the scheme, as the user wrote it (a number, an address).
    const QString what =
        QUrl::fromPercentEncoding(target.mid(target.indexOf(QLatin1Char(':')) + 1).toUtf8());
    if (scheme == QLatin1String("tel"))
        return QStringLiteral(
                   "Lyrabell cannot call %1: no program on this computer places calls.\n\n"
                   "Install a softphone or a phone-link program that opens tel: links, then "
                   "try again.")
            .arg(what);
    if (scheme == QLatin1String("sms"))
        return QStringLiteral(
                   "Lyrabell cannot send a text message to %1: no program on this computer "
                   "sends them.\n\nInstall a phone-link program that opens sms: links, then "
                   "try again.")
            .arg(what);
    if (scheme == QLatin1String("mailto"))
        return QStringLiteral(
                   "Lyrabell cannot write to %1: no e-mail program is set up on this "
                   "computer.\n\nChoose one among your desktop's default applications, then "
                   "try again.")
            .arg(what);
    if (scheme == QLatin1String("http") || scheme == QLatin1String("https"))
        return QStringLiteral(
                   "Lyrabell cannot open %1: no web browser is set up on this computer.\n\n"
                   "Choose one among your desktop's default applications, or open the address "
                   "in a browser yourself.")
            .arg(target);
    return QStringLiteral(
               "Lyrabell cannot start %1.\n\nCheck that the program is installed and may be "
               "run, then try again.")
        .arg(target);
}

}  // namespace lyb::app
