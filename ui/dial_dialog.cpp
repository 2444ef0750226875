#include "ui/dial_dialog.h"

#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QValidator>

#include "ui/resources.h"

namespace lyb::ui {

namespace {

// Refuses a change that makes the text longer than the typing limit, unless
// it does not make it longer than it was: a longer prefilled text can be
// shortened or corrected in place but not extended.
class TypingLimit : public QValidator {
public:
    // length: the text the edit is about to be given, which must validate.
    TypingLimit(int limit, qsizetype length, QLineEdit* edit)
        : QValidator(edit), limit_(limit), length_(length) {
        connect(edit, &QLineEdit::textChanged, this,
                [this](const QString& text) { length_ = text.size(); });
    }
    State validate(QString& input, int&) const override {
        return input.size() <= limit_ || input.size() <= length_ ? Acceptable : Invalid;
    }

private:
    int limit_;
    qsizetype length_;
};

}  // namespace

CDialDialog::CDialDialog(const QString& name, const QString& number, QWidget* parent)
    : QDialog(parent),
      name_(new QLineEdit(name, this)),
      number_(new QLineEdit(this)),
      dial_(new QPushButton(QStringLiteral("Dial"), this)),
      cancel_(new QPushButton(QStringLiteral("Cancel"), this)) {
    ensure_resources();
    setWindowTitle(QStringLiteral("Lyrabell"));
    setAccessibleName(QStringLiteral("Call back"));

    auto* picture = new QLabel(this);
    picture->setPixmap(load_pixmap(QStringLiteral(":/images/dial_phone.png"), devicePixelRatioF()));
    picture->setFixedSize(37, 51);
    picture->setAccessibleName(QStringLiteral("Mobile phone"));

    auto* label = new QLabel(QStringLiteral("&Dial:"), this);
    label->setBuddy(number_);

    name_->setReadOnly(true);
    name_->setAccessibleName(QStringLiteral("Caller"));
    name_->setFocusPolicy(Qt::TabFocus);
    number_->setAccessibleName(QStringLiteral("Number to dial"));
    number_->setValidator(new TypingLimit(kTypedLimit, number.size(), number_));
    number_->setText(number);

    dial_->setAccessibleName(dial_->text());
    dial_->setDefault(true);
    cancel_->setAccessibleName(cancel_->text());
    connect(dial_, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);

    auto* fields = new QVBoxLayout;
    fields->addWidget(label);
    fields->addWidget(name_);
    fields->addWidget(number_);
    auto* top = new QHBoxLayout;
    top->addWidget(picture, 0, Qt::AlignTop);
    top->addLayout(fields, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(dial_);
    buttons->addWidget(cancel_);
    auto* layout = new QVBoxLayout(this);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    layout->addLayout(top);
    layout->addLayout(buttons);
    number_->setMinimumWidth(fontMetrics().horizontalAdvance(QLatin1Char('0')) * 20);
    number_->setFocus();

    // Centred on the screen, not on the window.
    adjustSize();
    if (const QScreen* screen = parent ? parent->screen() : QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

QString CDialDialog::name() const {
    return name_->text();
}

QString CDialDialog::number() const {
    return number_->text();
}

}  // namespace lyb::ui
