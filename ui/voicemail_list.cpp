#include "ui/voicemail_list.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QDir>
#include <QDrag>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QTimer>
#include <QUrl>

#include <cstdlib>

#include "contacts/voicemail_listing.h"
#include "platform/desktop/desktop.h"
#include "platform/desktop/file_names.h"
#include "platform/names/names.h"
#include "store/recording_export.h"
#include "ui/settings_values.h"
#include "ui/voicemail_row_delegate.h"

namespace lyb::ui {

namespace {

const QString kDetails = QString::fromLatin1(names::kDetails);
const QString kFont = QString::fromLatin1(names::kFont);

}  // namespace

CVoiceMailList::CVoiceMailList(QWidget* parent)
    : QListView(parent),
      model_(new CVoiceMailListModel(this)),
      delegate_(new CVoiceMailRowDelegate(this)),
      hold_timer_(new QTimer(this)) {
    hold_timer_->setSingleShot(true);
    hold_timer_->setInterval(kHoldMs);
    connect(hold_timer_, &QTimer::timeout, this, [this] {
        emit rowHeld(indexAt(hold_point_).row(), viewport()->mapToGlobal(hold_point_));
    });
    model_->set_details_mode(read_setting(kDetails, 0, 1));
    font_size_ = read_setting(kFont, 1, 2);
    delegate_->set_layout(model_->details_mode(), font_size_);
    setModel(model_);
    setItemDelegate(delegate_);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setUniformItemSizes(true);
    setResizeMode(QListView::Adjust);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
    setAccessibleName(QStringLiteral("Voicemails"));
    setAccessibleDescription(QStringLiteral("Voicemails of the chosen account, newest first"));
}

CVoiceMailList::~CVoiceMailList() = default;

void CVoiceMailList::mousePressEvent(QMouseEvent* event) {
    QListView::mousePressEvent(event);
    if (event->button() == Qt::LeftButton) {
        hold_point_ = event->position().toPoint();
        hold_timer_->start();
        drag_row_ = indexAt(hold_point_).row();
    }
}

void CVoiceMailList::mouseMoveEvent(QMouseEvent* event) {
    // Sliding within the list chooses a row; leaving it with the pen down
    // drags the row's recording out as a file.
    if ((event->buttons() & Qt::LeftButton) && drag_row_ >= 0 &&
        !viewport()->rect().contains(event->position().toPoint())) {
        const int row = std::exchange(drag_row_, -1);
        hold_timer_->stop();
        if (QMimeData* data = drag_mime_data(row)) {
            auto* drag = new QDrag(this);
            drag->setMimeData(data);
            drag->exec(Qt::CopyAction);
            return;
        }
    }
    QListView::mouseMoveEvent(event);
    // A pen that slides is scrolling or choosing, not holding.
    if (hold_timer_->isActive() && (event->position().toPoint() - hold_point_).manhattanLength() >
                                       QApplication::startDragDistance())
        hold_timer_->stop();
}

void CVoiceMailList::mouseReleaseEvent(QMouseEvent* event) {
    QListView::mouseReleaseEvent(event);
    if (event->button() != Qt::LeftButton)
        return;
    const bool tap = hold_timer_->isActive();
    hold_timer_->stop();
    if (tap)
        emit rowTapped(indexAt(event->position().toPoint()).row());
}

QMimeData* CVoiceMailList::drag_mime_data(int row) const {
    store::CVoiceMailMessage* record = record_at(row);
    if (!record)
        return nullptr;
    QByteArray folder =
        desktop::encodeFileName(desktop::runtimeDir() + QStringLiteral("/drag-XXXXXX"));
    if (!::mkdtemp(folder.data()))
        return nullptr;
    const QString target =
        desktop::decodeFileName(folder) + QLatin1Char('/') +
        store::exportFileName(
            record->caller_name(), record->caller_number(), record->received_time(),
            store::exportExtension(store::ExportKind::AsReceived, record->audio_type()));
    if (!store::exportRecording(*record, store::ExportKind::AsReceived, target, false)) {
        QDir(desktop::decodeFileName(folder)).removeRecursively();
        return nullptr;
    }
    auto* data = new QMimeData;
    data->setUrls({QUrl::fromLocalFile(target)});
    return data;
}

void CVoiceMailList::contextMenuEvent(QContextMenuEvent* event) {
    hold_timer_->stop();
    emit rowHeld(indexAt(event->pos()).row(), event->globalPos());
    event->accept();
}

void CVoiceMailList::populate(const store::CMapiSession& session, const QString& accountName) {
    clear();
    model_->set_listing(contacts::list_voicemails(session, accountName));
    add_placeholder_if_empty();
    update_column_width();
    select_first();
}

void CVoiceMailList::clear() {
    model_->clear();
}

bool CVoiceMailList::delete_row(int index) {
    store::CVoiceMailMessage* record = record_at(index);
    if (!record)
        return false;
    if (!store::delete_message(model_->folder(), record->entry_id()))
        return false;
    model_->remove_row(index);
    update_column_width();
    if (row_count() > 0)
        select_row(std::min(index, row_count() - 1));
    return true;
}

void CVoiceMailList::add_placeholder_if_empty() {
    model_->add_placeholder_if_empty();
}

void CVoiceMailList::select_first() {
    clearSelection();
    if (row_count() == 0)
        return;
    select_row(0);
    scrollTo(model_->index(0), QAbstractItemView::EnsureVisible);
}

void CVoiceMailList::select_row(int row) {
    setCurrentIndex(model_->index(row));
    selection_mark_ = row;
}

void CVoiceMailList::currentChanged(const QModelIndex& current, const QModelIndex& previous) {
    QListView::currentChanged(current, previous);
    if (current.isValid())
        selection_mark_ = current.row();
}

void CVoiceMailList::update_column_width() {
    delegate_->set_column_width(viewport()->width());
    doItemsLayout();
    viewport()->update();
}

int CVoiceMailList::details_mode() const {
    return model_->details_mode();
}

void CVoiceMailList::set_details_mode(int mode) {
    mode = mode ? 1 : 0;
    if (mode == details_mode())
        return;
    model_->set_details_mode(mode);
    delegate_->set_layout(mode, font_size_);
    write_setting(kDetails, mode);
    update_column_width();
}

void CVoiceMailList::set_font_size(int size) {
    size = std::clamp(size, 0, 2);
    if (size == font_size_)
        return;
    font_size_ = size;
    delegate_->set_layout(details_mode(), size);
    write_setting(kFont, size);
    update_column_width();
}

int CVoiceMailList::row_height() const {
    return CVoiceMailRowDelegate::row_height(details_mode(), font_size_);
}

store::CVoiceMailMessage* CVoiceMailList::record_at(int index) const {
    return model_->record_at(index);
}

QString CVoiceMailList::open_account_name() const {
    return model_->open_account_name();
}

int CVoiceMailList::row_count() const {
    return model_->rowCount();
}

int CVoiceMailList::current_row() const {
    return model_->current_row();
}

void CVoiceMailList::set_current_row(int row) {
    model_->set_current_row(row);
}

bool CVoiceMailList::paused() const {
    return model_->paused();
}

void CVoiceMailList::set_paused(bool paused) {
    model_->set_paused(paused);
}

void CVoiceMailList::paintEvent(QPaintEvent* event) {
    QListView::paintEvent(event);
    const QModelIndex current = currentIndex();
    if (!hasFocus() || !current.isValid())
        return;
    // Inside the row and above its bottom line, in the colour of the row's text.
    const QRect frame = visualRect(current).adjusted(1, 1, -2, -3);
    if (!frame.isValid())
        return;
    const bool selected = selectionModel() && selectionModel()->isSelected(current);
    QPainter painter(viewport());
    painter.setPen(QPen(
        palette().color(QPalette::Active, selected ? QPalette::HighlightedText : QPalette::Text), 1,
        Qt::DotLine));
    painter.drawRect(frame);
}

void CVoiceMailList::resizeEvent(QResizeEvent* event) {
    QListView::resizeEvent(event);
    delegate_->set_column_width(viewport()->width());
}

}  // namespace lyb::ui
