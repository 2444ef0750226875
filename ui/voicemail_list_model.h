// The voicemail list's model: it owns the records of one population, the
// open store and Inbox they came from, and the list's display state (mode,
// current row, paused flag, clock). Everything the rows show and say is
// answered from memory; nothing here opens a message or a contact after
// the population.
#pragma once

#include <QAbstractListModel>
#include <QDateTime>

#include <functional>
#include <memory>
#include <vector>

#include "contacts/voicemail_listing.h"
#include "store/message_store.h"

namespace lyb::ui {

// What a row shows, worked out from the record and the list's state.
struct CRowTexts {
    enum class Symbol { None, Unread, Play, Pause };

    bool placeholder = false;  // the "<no voicemails in your inbox>" row
    bool unread = false;       // the first line is bold
    Symbol symbol = Symbol::None;
    QString name;          // the caller, or "Unknown caller"
    QString first_right;   // time (today) or day text
    QString second_left;   // number in display form and "(mm:ss)"
    QString second_right;  // "Today" or the time text
    QString length;        // "mm:ss" or "n/a"
    QString transcript;    // the first line of the transcript; empty: none
};

class CVoiceMailListModel : public QAbstractListModel {
    Q_OBJECT
public:
    static constexpr int kNoRow = -2;
    static inline const QString kPlaceholderText = QStringLiteral("<no voicemails in your inbox>");
    using Clock = std::function<QDateTime()>;

    explicit CVoiceMailListModel(QObject* parent = nullptr);
    ~CVoiceMailListModel() override;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    // Qt::DisplayRole: the shown caller name (empty for the placeholder);
    // Qt::AccessibleTextRole: what the row shows, in words, and the first
    // line of its transcript.
    QVariant data(const QModelIndex& index, int role) const override;

    // Takes the listing's store, Inbox and records (rows in its order),
    // replacing everything held before.
    void set_listing(contacts::VoicemailListing listing);
    // Frees every record and closes the Inbox and the store.
    void clear();
    // Adds the placeholder row (no record) when there are no rows.
    void add_placeholder_if_empty();
    // Removes a row and frees its record; false for an invalid row.
    bool remove_row(int row);
    // Inserts a record at its place among the rows, newest first and after
    // the rows of the same received time, in the placeholder's place when
    // that is the only row. The current row follows its voicemail.
    void insert_record(std::unique_ptr<store::CVoiceMailMessage> record);
    // Puts record (the row's message read again) in the row's place; nothing
    // for the placeholder or an invalid row.
    void replace_record(int row, std::unique_ptr<store::CVoiceMailMessage> record);
    // Every message the Inbox listed when the rows were made, voicemail or
    // not; empty when it could not be listed.
    const std::vector<store::CEntryInfo>& listed() const { return listed_; }
    // Names again, from the contacts that list population uses, the caller
    // of every row whose number as stored is number (after the contacts
    // changed). Contacts that cannot be opened leave every name as it was.
    void rename_callers(const QString& number);

    // The row's record; null for the placeholder or an invalid row.
    store::CVoiceMailMessage* record_at(int row) const;
    // The open Inbox, null when none is open.
    store::CMessageFolder* folder() const { return folder_.get(); }
    // The display name of the open account, empty when none is open.
    QString open_account_name() const;

    CRowTexts row_texts(int row) const;

    int details_mode() const { return details_; }
    void set_details_mode(int mode);
    int current_row() const { return current_; }
    void set_current_row(int row);
    bool paused() const { return paused_; }
    void set_paused(bool paused);
    // The clock that decides "Today" and "Yesterday"; the system's by default.
    void set_clock(Clock clock);

private:
    void row_changed(int row);
    void all_rows_changed();

    std::unique_ptr<store::CMessageStore> store_;
    std::unique_ptr<store::CMessageFolder> folder_;
    std::vector<std::unique_ptr<store::CVoiceMailMessage>> rows_;  // null: placeholder
    std::vector<store::CEntryInfo> listed_;
    int details_ = 0;
    int current_ = kNoRow;
    bool paused_ = false;
    Clock clock_;
};

}  // namespace lyb::ui
