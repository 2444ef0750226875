#include "app/upper_panel.h"

#include "app/play_request.h"
#include "app/stored_messages.h"

#include <QDateTime>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QVBoxLayout>

namespace lyb::app {

namespace {

// The hint text and the details stand 10 pixels in from the area's edges.
constexpr int kTextMargin = 10;

QString hintText() {
    return QStringLiteral(
        "To listen to your voicemail messages, please go to your E-mail application and open the "
        "voicemail attachment.");
}

// "Message From: %s\n\nLength: %s\n\nReceived: %s" for one record.
QString detailsText(const IVoicemailRecord& record,
                    const std::function<QString(const QString&)>& formatNumber) {
    const QString name = record.caller_name();
    const QString number = formatNumber(record.caller_number());
    QString sender;
    if (name.isEmpty())
        sender = number;
    else if (number.isEmpty())
        sender = name;
    else
        sender = QStringLiteral("%1 (%2)").arg(name, number);
    if (sender.isEmpty())
        sender = QStringLiteral("Unknown caller");

    const int32_t seconds = record.length_seconds();
    const QString length = seconds < 0 ? QStringLiteral("n/a")
                                       : QStringLiteral("%1:%2")
                                             .arg(seconds / 60, 2, 10, QLatin1Char('0'))
                                             .arg(seconds % 60, 2, 10, QLatin1Char('0'));

    const QDateTime received = QDateTime::fromSecsSinceEpoch(record.received_time()).toLocalTime();
    const QLocale locale = QLocale::system();
    const QString when =
        QStringLiteral("%1, %2").arg(locale.toString(received.date(), QLocale::LongFormat),
                                     locale.toString(received.time(), QLocale::ShortFormat));

    return QStringLiteral("Message From: %1\n\nLength: %2\n\nReceived: %3")
        .arg(sender, length, when);
}

QLabel* textLabel(QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setWordWrap(true);
    // The panel font: 12 pixels, normal weight.
    QFont font = label->font();
    font.setPixelSize(12);
    font.setWeight(QFont::Normal);
    font.setStyleStrategy(QFont::PreferAntialias);
    label->setFont(font);
    return label;
}

}  // namespace

CUpperPanel::CUpperPanel(QWidget* list, QWidget* parent)
    : QStackedWidget(parent), infoPage_(new QWidget(this)) {
    addWidget(list);

    auto* hintPage = new QWidget(this);
    hint_ = textLabel(hintPage);
    hint_->setText(hintText());
    hint_->setAccessibleName(hint_->text());
    auto* hintLayout = new QVBoxLayout(hintPage);
    hintLayout->setContentsMargins(kTextMargin, kTextMargin, kTextMargin, 0);
    hintLayout->addWidget(hint_);
    addWidget(hintPage);

    info_ = textLabel(infoPage_);
    // The panel shows callers' names and file names: text, never markup.
    info_->setTextFormat(Qt::PlainText);
    info_->setTextInteractionFlags(Qt::TextSelectableByKeyboard);
    infoLayout_ = new QVBoxLayout(infoPage_);
    infoLayout_->setContentsMargins(0, 0, 0, 0);
    infoLayout_->addWidget(info_);
    addWidget(infoPage_);

    // The account that cannot be read: what is wrong and where, and the
    // way to the settings, which takes the focus.
    problemPage_ = new QWidget(this);
    problem_ = textLabel(problemPage_);
    problem_->setTextFormat(Qt::PlainText);
    problem_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    settings_ = new QPushButton(QStringLiteral("&Settings..."), problemPage_);
    settings_->setAccessibleName(QStringLiteral("Settings"));
    settings_->setAccessibleDescription(QStringLiteral("Choose the account or correct its folder"));
    settings_->installEventFilter(this);
    auto* problemLayout = new QVBoxLayout(problemPage_);
    problemLayout->setContentsMargins(kTextMargin, kTextMargin, kTextMargin, kTextMargin);
    problemLayout->addWidget(problem_);
    problemLayout->addWidget(settings_, 0, Qt::AlignLeft);
    problemLayout->addStretch(1);
    addWidget(problemPage_);

    noSound_ = new QLabel(QString::fromUtf8(kNoSoundText), parent);
    noSound_->setAlignment(Qt::AlignCenter);
    noSound_->setForegroundRole(QPalette::PlaceholderText);
    noSound_->setAccessibleName(noSound_->text());
    noSound_->hide();
}

void CUpperPanel::showListOrHint(bool usingAccount) {
    if (usingAccount && !problem_->text().isEmpty()) {
        page_ = Page::Problem;
        setCurrentWidget(problemPage_);
        settings_->setFocus();
        return;
    }
    page_ = usingAccount ? Page::List : Page::Hint;
    setCurrentIndex(usingAccount ? 0 : 1);
}

void CUpperPanel::setAccountProblem(const QString& text) {
    problem_->setText(text);
    problem_->setAccessibleName(text);
    if (page_ == Page::List || page_ == Page::Problem)
        showListOrHint(true);
}

QString CUpperPanel::accountProblem() const {
    return problem_->text();
}

bool CUpperPanel::eventFilter(QObject* watched, QEvent* event) {
    if (watched == settings_ && event->type() == QEvent::ShortcutOverride) {
        switch (static_cast<QKeyEvent*>(event)->key()) {
            case Qt::Key_Return:
            case Qt::Key_Enter:
            case Qt::Key_Space:
                event->accept();  // the key goes to the button, not to a shortcut
                return true;
            default:
                break;
        }
    }
    return QStackedWidget::eventFilter(watched, event);
}

void CUpperPanel::showSoundNotice(bool shown) {
    noSound_->setVisible(shown);
}

void CUpperPanel::showFile(const QString& path, const QString& caller) {
    if (caller.isEmpty())
        showInfo(Page::LocalFile,
                 QStringLiteral("\n Playing local file:\n \n %1").arg(fileNameOf(path)));
    else
        showInfo(Page::Caller, QStringLiteral("\n Playing voicemail from:\n \n %1").arg(caller));
}

void CUpperPanel::showDetails(const IVoicemailRecord& record,
                              const std::function<QString(const QString&)>& formatNumber) {
    showInfo(Page::Details, detailsText(record, formatNumber));
}

void CUpperPanel::showInfo(Page page, const QString& text) {
    const int margin = page == Page::Details ? kTextMargin : 0;
    infoLayout_->setContentsMargins(margin, margin, margin, 0);
    info_->setText(text);
    info_->setAccessibleName(text.simplified());
    setCurrentWidget(infoPage_);
    page_ = page;
}

QString CUpperPanel::infoText() const {
    return currentWidget() == infoPage_ ? info_->text() : QString();
}

}  // namespace lyb::app
