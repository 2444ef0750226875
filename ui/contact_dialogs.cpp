#include "ui/contact_dialogs.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QVBoxLayout>

#include "platform/desktop/desktop.h"
#include "platform/telephony/telephony.h"

namespace lyb::ui {

namespace {

constexpr int kPhotoSize = 64;

const char* kindName(uint32_t kind) {
    switch (kind) {
        case pim::kPropMobileTelephoneNumber:
            return "Mobile";
        case pim::kPropHomeTelephoneNumber:
            return "Home";
        case pim::kPropBusinessTelephoneNumber:
            return "Work";
        default:
            return "Phone";
    }
}

// A vCard 4.0 number may be written as a tel: URI.
QString plainNumber(const QString& value) {
    return value.startsWith(QLatin1String("tel:"), Qt::CaseInsensitive) ? value.mid(4) : value;
}

QLabel* plainLabel(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    // Names, numbers and addresses are shown as they are, never read as markup.
    label->setTextFormat(Qt::PlainText);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

QWidget* parentWidget(QObject* owner) {
    return qobject_cast<QWidget*>(owner);
}

}  // namespace

QString contact_display_name(const pim::Contact& contact) {
    const QString fileAs = contact.fileAs().trimmed();
    if (!fileAs.isEmpty())
        return fileAs;
    return QStringList{contact.firstName(), contact.lastName()}.join(QLatin1Char(' ')).trimmed();
}

CContactCard::CContactCard(const pim::Contact& contact, QWidget* parent) : QDialog(parent) {
    const QString name = contact_display_name(contact);
    setWindowTitle(name.isEmpty() ? QStringLiteral("Contact") : name);
    setAccessibleName(QStringLiteral("Contact card"));

    auto* header = new QHBoxLayout;
    QPixmap photo;
    if (photo.loadFromData(contact.photo())) {
        auto* picture = new QLabel(this);
        const qreal ratio = devicePixelRatioF();
        photo = photo.scaled(QSize(kPhotoSize, kPhotoSize) * ratio, Qt::KeepAspectRatio,
                             Qt::SmoothTransformation);
        photo.setDevicePixelRatio(ratio);
        picture->setPixmap(photo);
        picture->setAccessibleName(QStringLiteral("Photo of %1").arg(name));
        header->addWidget(picture, 0, Qt::AlignTop);
    }
    auto* title = plainLabel(name.isEmpty() ? QStringLiteral("<No name>") : name, this);
    QFont bold = title->font();
    bold.setBold(true);
    bold.setPointSizeF(bold.pointSizeF() * 1.2);
    title->setFont(bold);
    title->setAccessibleName(QStringLiteral("Name: %1").arg(title->text()));
    header->addWidget(title, 1, Qt::AlignVCenter);

    auto* grid = new QGridLayout;
    int row = 0;
    auto addRow = [&](const QString& kind, const QString& value) {
        auto* kindLabel = new QLabel(kind, this);
        auto* valueLabel = plainLabel(value, this);
        valueLabel->setAccessibleName(QStringLiteral("%1: %2").arg(kind, value));
        grid->addWidget(kindLabel, row, 0);
        grid->addWidget(valueLabel, row, 1);
    };
    auto addButton = [&](const QString& text, const QString& what, int column,
                         std::function<void()> run) {
        auto* button = new QPushButton(text, this);
        button->setAccessibleName(QStringLiteral("%1 %2").arg(text, what));
        button->setAutoDefault(false);
        connect(button, &QPushButton::clicked, this, std::move(run));
        grid->addWidget(button, row, column);
    };
    for (const auto& tel : contact.telephones()) {
        const QString number = plainNumber(tel.number);
        if (number.trimmed().isEmpty())
            continue;
        const QString kind = QString::fromLatin1(kindName(tel.kind));
        addRow(kind, number);
        const QString what = kind + QLatin1Char(' ') + number;
        addButton(QStringLiteral("Call"), what, 2,
                  [number, name] { telephony::tapi_request_make_call(number, name); });
        if (tel.kind == pim::kPropMobileTelephoneNumber)
            addButton(QStringLiteral("Text"), what, 3, [number] {
                desktop::shellExecuteOpen(QStringLiteral("sms:") + number, QString());
            });
        ++row;
    }
    for (const QString& address : contact.emailAddresses()) {
        if (address.trimmed().isEmpty())
            continue;
        addRow(QStringLiteral("E-mail"), address);
        addButton(QStringLiteral("Write"), address, 2, [address] {
            desktop::shellExecuteOpen(QStringLiteral("mailto:") + address, QString());
        });
        ++row;
    }
    if (row == 0) {
        auto* none = new QLabel(QStringLiteral("No numbers or e-mail addresses."), this);
        grid->addWidget(none, 0, 0, 1, 4);
    }
    grid->setColumnStretch(1, 1);

    auto* close = new QPushButton(QStringLiteral("Close"), this);
    close->setAccessibleName(close->text());
    close->setDefault(true);
    connect(close, &QPushButton::clicked, this, &QDialog::accept);

    auto* layout = new QVBoxLayout(this);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    layout->addLayout(header);
    layout->addLayout(grid);
    layout->addWidget(close, 0, Qt::AlignRight);
}

QPushButton* CContactCard::action(const QString& accessibleName) const {
    for (QPushButton* button : findChildren<QPushButton*>()) {
        if (button->accessibleName() == accessibleName)
            return button;
    }
    return nullptr;
}

namespace {

struct FieldInfo {
    const char* label;  // with its mnemonic
    const char* name;   // for screen readers
};
constexpr FieldInfo kFields[CContactEditor::FieldCount] = {
    {"&First name:", "First name"},   {"&Last name:", "Last name"},
    {"File &as:", "File as"},         {"&Mobile tel:", "Mobile telephone"},
    {"&Work tel:", "Work telephone"}, {"&Home tel:", "Home telephone"},
    {"&E-mail:", "E-mail"},
};

constexpr uint32_t kFieldKinds[] = {pim::kPropMobileTelephoneNumber,
                                    pim::kPropBusinessTelephoneNumber,
                                    pim::kPropHomeTelephoneNumber};

}  // namespace

CContactEditor::CContactEditor(const pim::Contact& contact, QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Edit Contact"));
    setAccessibleName(QStringLiteral("Contact editor"));
    initial_[FirstName] = contact.firstName();
    initial_[LastName] = contact.lastName();
    initial_[FileAs] = contact.fileAs();
    for (int i = 0; i < 3; ++i)
        initial_[Mobile + i] = plainNumber(contact.telephoneNumber(kFieldKinds[i]));
    initial_[Email] = contact.emailAddresses().value(0);

    auto* form = new QFormLayout;
    for (int f = 0; f < FieldCount; ++f) {
        fields_[f] = new QLineEdit(initial_[f], this);
        fields_[f]->setAccessibleName(QString::fromLatin1(kFields[f].name));
        fields_[f]->setMinimumWidth(fontMetrics().horizontalAdvance(QLatin1Char('x')) * 28);
        auto* label = new QLabel(QString::fromLatin1(kFields[f].label), this);
        label->setBuddy(fields_[f]);
        form->addRow(label, fields_[f]);
    }
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    for (QAbstractButton* b : buttons->buttons())
        b->setAccessibleName(b->text().remove(QLatin1Char('&')));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);
    fields_[FirstName]->setFocus();
}

void CContactEditor::apply(pim::Contact& contact) const {
    auto changed = [this](Field f) { return fields_[f]->text() != initial_[f]; };
    if (changed(FirstName))
        contact.setFirstName(fields_[FirstName]->text());
    if (changed(LastName))
        contact.setLastName(fields_[LastName]->text());
    if (changed(FileAs))
        contact.setFileAs(fields_[FileAs]->text());
    for (int i = 0; i < 3; ++i) {
        if (changed(Field(Mobile + i)))
            contact.setTelephoneNumber(kFieldKinds[i], fields_[Mobile + i]->text());
    }
    if (changed(Email))
        contact.setEmailAddress(fields_[Email]->text());
}

void CContactUi::display(pim::Contact& contact, QObject* owner) {
    CContactCard card(contact, parentWidget(owner));
    card.exec();
}

bool CContactUi::edit(pim::Contact& contact, QObject* owner) {
    CContactEditor editor(contact, parentWidget(owner));
    if (editor.exec() != QDialog::Accepted)
        return false;
    editor.apply(contact);
    return true;
}

}  // namespace lyb::ui
