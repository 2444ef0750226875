// CDialDialog: the confirmation of Call Back, a small bordered popup centred
// on the screen with the mobile phone picture, "Dial:", the caller's name
// (read-only) and the number to dial, which the user may edit.
//
// Typing in the number box stops at 17 characters. A prefilled number that is
// longer (a long international number with "011" in front) is shown and
// dialled whole; it can be shortened, but nothing more can be typed into it
// until it is within the limit.
#pragma once

#include <QDialog>
#include <QString>

class QLineEdit;
class QPushButton;

namespace lyb::ui {

class CDialDialog : public QDialog {
    Q_OBJECT
public:
    // Control ids of the dialog's fields and buttons.
    static constexpr int kNameId = 1034;
    static constexpr int kNumberId = 1035;
    static constexpr int kDialId = 1033;
    static constexpr int kCancelId = 1032;
    static constexpr int kTypedLimit = 17;

    // name: the caller as stored; number: the dialable number. parent: the
    // window the dialog is modal to; may be null.
    CDialDialog(const QString& name, const QString& number, QWidget* parent = nullptr);

    // The fields as they stand (after Dial: as the user left them).
    QString name() const;
    QString number() const;

    QLineEdit* name_box() const { return name_; }
    QLineEdit* number_box() const { return number_; }
    QPushButton* dial_button() const { return dial_; }
    QPushButton* cancel_button() const { return cancel_; }

private:
    QLineEdit* name_;
    QLineEdit* number_;
    QPushButton* dial_;
    QPushButton* cancel_;
};

}  // namespace lyb::ui
