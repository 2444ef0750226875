#include "ui/voicemail_list_model.h"

#include <algorithm>

#include "contacts/contacts.h"
#include "contacts/number_forms.h"
#include "ui/row_texts.h"

namespace lyb::ui {

CVoiceMailListModel::CVoiceMailListModel(QObject* parent)
    : QAbstractListModel(parent), clock_([] { return QDateTime::currentDateTime(); }) {}

CVoiceMailListModel::~CVoiceMailListModel() = default;

int CVoiceMailListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

QVariant CVoiceMailListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    if (role != Qt::DisplayRole && role != Qt::AccessibleTextRole)
        return {};
    const CRowTexts texts = row_texts(index.row());
    if (texts.placeholder)
        return role == Qt::DisplayRole ? QString() : kPlaceholderText;
    if (role == Qt::DisplayRole)
        return texts.name;
    QStringList words{texts.name, texts.first_right};
    if (details_ == 1)
        words << texts.second_left << texts.second_right;
    else
        words << texts.length;
    if (texts.unread)
        words << QStringLiteral("new");
    if (texts.symbol == CRowTexts::Symbol::Play)
        words << QStringLiteral("playing");
    if (texts.symbol == CRowTexts::Symbol::Pause)
        words << QStringLiteral("paused");
    if (!texts.transcript.isEmpty())
        words << QStringLiteral("transcript: %1").arg(texts.transcript);
    return words.join(QStringLiteral(", "));
}

void CVoiceMailListModel::set_listing(contacts::VoicemailListing listing) {
    beginResetModel();
    rows_ = std::move(listing.records);
    listed_ = std::move(listing.entries);
    folder_ = std::move(listing.folder);
    store_ = std::move(listing.store);
    endResetModel();
}

void CVoiceMailListModel::clear() {
    beginResetModel();
    rows_.clear();  // the records release their messages before the Inbox closes
    listed_.clear();
    store::close_folder(folder_);
    store::close_store(store_);
    endResetModel();
}

void CVoiceMailListModel::add_placeholder_if_empty() {
    if (!rows_.empty())
        return;
    beginInsertRows(QModelIndex(), 0, 0);
    rows_.emplace_back();
    endInsertRows();
}

bool CVoiceMailListModel::remove_row(int row) {
    if (row < 0 || row >= rowCount())
        return false;
    beginRemoveRows(QModelIndex(), row, row);
    rows_.erase(rows_.begin() + row);
    // The current row follows its voicemail, so the play symbol stays on it.
    if (row == current_)
        current_ = -2;
    else if (row < current_)
        --current_;
    endRemoveRows();
    return true;
}

void CVoiceMailListModel::insert_record(std::unique_ptr<store::CVoiceMailMessage> record) {
    if (!record)
        return;
    if (rows_.size() == 1 && !rows_[0])
        remove_row(0);  // the placeholder
    const int64_t received = record->received_time();
    const auto place = std::find_if(rows_.begin(), rows_.end(), [received](const auto& row) {
        return row && row->received_time() < received;
    });
    const int row = int(place - rows_.begin());
    beginInsertRows(QModelIndex(), row, row);
    rows_.insert(place, std::move(record));
    if (current_ >= row)
        ++current_;
    endInsertRows();
}

void CVoiceMailListModel::replace_record(int row,
                                         std::unique_ptr<store::CVoiceMailMessage> record) {
    if (!record || !record_at(row))
        return;
    rows_[size_t(row)] = std::move(record);
    row_changed(row);
}

store::CVoiceMailMessage* CVoiceMailListModel::record_at(int row) const {
    if (row < 0 || row >= rowCount())
        return nullptr;
    return rows_[static_cast<size_t>(row)].get();
}

QString CVoiceMailListModel::open_account_name() const {
    return store_ ? store_->info.display_name : QString();
}

CRowTexts CVoiceMailListModel::row_texts(int row) const {
    CRowTexts texts;
    const store::CVoiceMailMessage* record = record_at(row);
    if (!record) {
        texts.placeholder = true;
        return texts;
    }
    texts.unread = !record->is_read();
    if (row == current_) {
        texts.symbol = paused_ ? CRowTexts::Symbol::Pause : CRowTexts::Symbol::Play;
    } else if (texts.unread) {
        texts.symbol = CRowTexts::Symbol::Unread;
    }
    texts.name = record->caller_name();
    if (texts.name.isEmpty())
        texts.name = QStringLiteral("Unknown caller");
    const CDateTexts when = date_texts(record->received_time(), clock_());
    texts.first_right = when.today ? when.time : when.day;
    texts.second_right = when.today ? when.day : when.time;
    texts.length = duration_text(record->length_seconds());
    texts.transcript = record->transcript().section(QLatin1Char('\n'), 0, 0);
    const QString number = record->caller_number();
    texts.second_left = number.isEmpty() ? QStringLiteral("(%1)").arg(texts.length)
                                         : QStringLiteral("%1 (%2)").arg(
                                               contacts::format_for_display(number), texts.length);
    return texts;
}

void CVoiceMailListModel::set_details_mode(int mode) {
    if (mode == details_)
        return;
    details_ = mode;
    all_rows_changed();
}

void CVoiceMailListModel::set_current_row(int row) {
    if (row == current_)
        return;
    const int before = current_;
    current_ = row;
    row_changed(before);
    row_changed(row);
}

void CVoiceMailListModel::set_paused(bool paused) {
    if (paused == paused_)
        return;
    paused_ = paused;
    row_changed(current_);
}

void CVoiceMailListModel::set_clock(Clock clock) {
    clock_ = clock ? std::move(clock) : Clock([] { return QDateTime::currentDateTime(); });
    all_rows_changed();
}

void CVoiceMailListModel::rename_callers(const QString& number) {
    if (number.isEmpty())
        return;
    auto app = pim::Application::create(contacts::listing_contacts_folder(), pim::contactUi());
    if (!app || app->logon(nullptr) != pim::kOk)
        return;
    for (size_t row = 0; row < rows_.size(); ++row) {
        if (rows_[row] && rows_[row]->caller_number() == number) {
            contacts::resolve_caller_name(*app, *rows_[row]);
            row_changed(int(row));
        }
    }
    app->logoff();
}

void CVoiceMailListModel::row_changed(int row) {
    if (row >= 0 && row < rowCount())
        emit dataChanged(index(row), index(row));
}

void CVoiceMailListModel::all_rows_changed() {
    if (rowCount() > 0)
        emit dataChanged(index(0), index(rowCount() - 1));
}

}  // namespace lyb::ui
