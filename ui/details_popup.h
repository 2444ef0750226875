// CTestDialog: the details popup of one voicemail, a small bordered window
// centred on its owner with the envelope picture, the caller's name (or
// "<Unknown caller>"), the number as stored, the date and time it was
// received, and its time zone and length, and under the date the transcript
// the notification carried, when it carried one, in a box of its own that
// scrolls and that screen readers read. "OK", Enter and Escape close it; it
// changes nothing.
#pragma once

#include <QDialog>
#include <QLocale>
#include <QString>

#include <cstdint>

class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace lyb::store {
class CVoiceMailMessage;
}

namespace lyb::ui {

// The four lines of the popup, copied from a record when it opens.
struct CDetailsTexts {
    QString name;             // the caller's name, or "<Unknown caller>"
    QString number;           // the caller's number exactly as stored
    QString date;             // see details_date_line
    QString zone;             // see details_zone_line
    QString transcript = {};  // the record's transcript; empty: none shown
};

// Returns the received time t (seconds since 1970) in local time as
// "Tuesday, April 05, 2005, 9:05 AM": full weekday and month names of the
// locale, two-digit day, year, and the time of day as the list shows it (the
// locale's short time, 12 or 24 hours, without seconds: "21:30" in a
// French locale). "n/a" when t is 0 or less (no received time).
QString details_date_line(int64_t t, const QLocale& locale = QLocale::system());

// Returns the local time zone's abbreviation at t (now when t is 0 or less)
// and, when the length is known (0 or more), ", length m:ss" after it:
// "CEST, length 5:46".
QString details_zone_line(int64_t t, int32_t lengthSeconds);

CDetailsTexts details_texts(const QString& callerName, const QString& callerNumber, int64_t t,
                            int32_t lengthSeconds, const QLocale& locale = QLocale::system());
CDetailsTexts details_texts(const store::CVoiceMailMessage& record);

class CTestDialog : public QDialog {
    Q_OBJECT
public:
    // Control ids of the popup's fields.
    static constexpr int kNameId = 1028;
    static constexpr int kNumberId = 1029;
    static constexpr int kDateId = 1030;
    static constexpr int kZoneId = 1031;
    static constexpr int kOkId = 1037;
    static constexpr int kTranscriptId = 1038;

    // parent: the window the popup is centred on and modal to; may be null.
    CTestDialog(const CDetailsTexts& texts, QWidget* parent = nullptr);

    // The label of a field by its id; null for any other id.
    QLabel* field(int id) const;
    QPushButton* ok_button() const { return ok_; }
    // The transcript's box; null when the texts have no transcript.
    QPlainTextEdit* transcript_box() const { return transcript_; }

private:
    QLabel* fields_[4];
    QPlainTextEdit* transcript_ = nullptr;
    QPushButton* ok_;
};

// Shows the popup for the texts modally over owner, with list (may be null)
// disabled while it is open and enabled again afterwards, whatever ends it.
// Returns the popup's result.
int show_details(QWidget* owner, QWidget* list, const CDetailsTexts& texts);
int show_details(QWidget* owner, QWidget* list, const store::CVoiceMailMessage& record);

}  // namespace lyb::ui
