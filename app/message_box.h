// Every message box of Lyrabell goes through messageBox, captioned "Lyrabell".
// Tests replace the handler so that nothing waits for a person.
#pragma once

#include <QString>

#include <functional>

class QWidget;

namespace lyb::app {

enum class MessageIcon { None, Information, Exclamation, Error, Question };
enum class MessageButtons { Ok, YesNo };

// Results, with the platform's numbers.
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDYES = 6;
constexpr int IDNO = 7;

using MessageBoxHandler =
    std::function<int(QWidget* parent, const QString& text, MessageIcon, MessageButtons)>;

// Shows a modal message box and returns IDOK, IDYES or IDNO. The text is
// shown as it is, never read as markup.
int messageBox(QWidget* parent, const QString& text, MessageIcon icon, MessageButtons buttons);
// Replaces the handler; an empty handler restores the real message box.
void setMessageBoxHandler(MessageBoxHandler handler);

// Returns the text of the box that says target could not be opened (see
// desktop::reportOpenFailure): a tel:, sms:, mailto: or web address that no
// program on the desktop took, or a program that could not be started; each
// says what the user can do about it.
QString openFailureText(const QString& target);

}  // namespace lyb::app
