#include "ui/details_popup.h"

#include <QDateTime>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

#include "store/voicemail_message.h"
#include "ui/resources.h"
#include "ui/row_texts.h"

namespace lyb::ui {

namespace {

// What each field is, for screen readers, in the order of the fields.
const char* const kFieldRoles[] = {"Caller", "Number", "Received", "Time zone and length"};

}  // namespace

QString details_date_line(int64_t t, const QLocale& locale) {
    if (t <= 0)
        return QStringLiteral("n/a");
    const QDateTime local = QDateTime::fromSecsSinceEpoch(t).toLocalTime();
    // The time as the list shows it: the locale's own form, 12 or 24 hours.
    return locale.toString(local.date(), QStringLiteral("dddd, MMMM dd, yyyy, ")) +
           time_text(local.time(), locale);
}

QString details_zone_line(int64_t t, int32_t lengthSeconds) {
    const QDateTime local =
        t > 0 ? QDateTime::fromSecsSinceEpoch(t).toLocalTime() : QDateTime::currentDateTime();
    QString line = local.timeZoneAbbreviation();
    if (lengthSeconds >= 0)
        line += QStringLiteral(", length %1:%2")
                    .arg(lengthSeconds / 60)
                    .arg(lengthSeconds % 60, 2, 10, QLatin1Char('0'));
    return line;
}

CDetailsTexts details_texts(const QString& callerName, const QString& callerNumber, int64_t t,
                            int32_t lengthSeconds, const QLocale& locale) {
    return {callerName.isEmpty() ? QStringLiteral("<Unknown caller>") : callerName, callerNumber,
            details_date_line(t, locale), details_zone_line(t, lengthSeconds)};
}

CDetailsTexts details_texts(const store::CVoiceMailMessage& record) {
    CDetailsTexts texts = details_texts(record.caller_name(), record.caller_number(),
                                        record.received_time(), record.length_seconds());
    texts.transcript = record.transcript();
    return texts;
}

CTestDialog::CTestDialog(const CDetailsTexts& texts, QWidget* parent)
    : QDialog(parent), ok_(new QPushButton(QStringLiteral("OK"), this)) {
    setWindowTitle(QStringLiteral("Lyrabell"));
    setAccessibleName(QStringLiteral("Voicemail details"));

    auto* picture = new QLabel(this);
    picture->setPixmap(
        load_pixmap(QStringLiteral(":/images/details_envelope.png"), devicePixelRatioF()));
    picture->setFixedSize(29, 29);
    picture->setAccessibleName(QStringLiteral("Voicemail"));

    const QString values[] = {texts.name, texts.number, texts.date, texts.zone};
    for (int i = 0; i < 4; ++i) {
        fields_[i] = new QLabel(values[i], this);
        // Names and numbers are shown as they are, never read as markup.
        fields_[i]->setTextFormat(Qt::PlainText);
        fields_[i]->setTextInteractionFlags(Qt::TextSelectableByMouse);
        fields_[i]->setAccessibleName(
            QStringLiteral("%1: %2").arg(QLatin1String(kFieldRoles[i]), values[i]));
    }
    QFont bold = fields_[0]->font();
    bold.setBold(true);
    fields_[0]->setFont(bold);

    ok_->setAccessibleName(ok_->text());
    ok_->setDefault(true);
    connect(ok_, &QPushButton::clicked, this, &QDialog::accept);

    auto* who = new QVBoxLayout;
    who->setSpacing(0);
    who->addWidget(fields_[0]);
    who->addWidget(fields_[1]);
    auto* top = new QHBoxLayout;
    top->addWidget(picture, 0, Qt::AlignTop);
    top->addLayout(who, 1);
    auto* layout = new QVBoxLayout(this);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    layout->addLayout(top);
    layout->addWidget(fields_[2]);
    layout->addWidget(fields_[3]);
    if (!texts.transcript.isEmpty()) {
        // A long transcript scrolls in a box of a few lines, so the popup
        // keeps its size; the box is read-only but takes the focus, so a
        // screen reader reads it and the keys scroll it.
        transcript_ = new QPlainTextEdit(texts.transcript, this);
        transcript_->setObjectName(QStringLiteral("transcript"));
        transcript_->setReadOnly(true);
        transcript_->setTextInteractionFlags(Qt::TextSelectableByMouse |
                                             Qt::TextSelectableByKeyboard);
        transcript_->setTabChangesFocus(true);
        transcript_->setAccessibleName(QStringLiteral("Transcript"));
        transcript_->setAccessibleDescription(texts.transcript);
        transcript_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
        const int line = transcript_->fontMetrics().lineSpacing();
        transcript_->setFixedSize(std::max(fields_[2]->sizeHint().width(),
                                           22 * transcript_->fontMetrics().averageCharWidth()),
                                  5 * line + 2 * transcript_->frameWidth() + 8);
        layout->addWidget(transcript_);
    }
    layout->addWidget(ok_, 0, Qt::AlignHCenter);
}

QLabel* CTestDialog::field(int id) const {
    return id >= kNameId && id <= kZoneId ? fields_[id - kNameId] : nullptr;
}

int show_details(QWidget* owner, QWidget* list, const CDetailsTexts& texts) {
    CTestDialog popup(texts, owner);
    const QPointer<QWidget> disabled = list;
    if (disabled)
        disabled->setEnabled(false);
    const int result = popup.exec();
    if (disabled)
        disabled->setEnabled(true);
    return result;
}

int show_details(QWidget* owner, QWidget* list, const store::CVoiceMailMessage& record) {
    return show_details(owner, list, details_texts(record));
}

}  // namespace lyb::ui
