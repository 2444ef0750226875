// The main window's side of keeping a voicemail and taking back a delete:
// Save Recording As… for the list's selected row or the recording on the
// playback screen, the playback screen's menu, and Undo after Delete.
#include "app/main_dialog.h"
#include "app/player_strip.h"
#include "app/undo_bar.h"
#include "platform/desktop/file_names.h"
#include "platform/files/regular_file.h"
#include "store/deleted_messages.h"
#include "store/voicemail_message.h"
#include "ui/voicemail_list.h"

#include <QContextMenuEvent>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMenu>
#include <QPushButton>

#include <vector>

namespace lyb::app {

namespace {

const char* const kNoAttachment = "Unable to open voicemail attachment.";
constexpr uint64_t kMaxFileBytes = uint64_t{1} << 30;

QString withExtension(const QString& name, const QString& extension) {
    const QFileInfo info(name);
    const QString dir = info.path() == QLatin1String(".") && !name.startsWith(QLatin1String("./"))
                            ? QString()
                            : info.path() + QLatin1Char('/');
    return dir + info.completeBaseName() + extension;
}

}  // namespace

ShownRecording shownFile(const QString& path, const QString& caller) {
    const QString suffix = QFileInfo(path).suffix().toLower();
    ShownRecording shown;
    shown.caller = caller;
    shown.audioType = suffix.isEmpty() ? QString() : QLatin1Char('.') + suffix;
    shown.isGsm = suffix == QLatin1String("gsm");
    shown.path = path;
    return shown;
}

QString chooseSaveTarget(QWidget* parent, const QString& suggested, const QString& extension,
                         store::ExportKind* kind) {
    QFileDialog dialog(parent, QStringLiteral("Save Recording As"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    const QStringList filters{QStringLiteral("as received (*%1)").arg(extension),
                              QStringLiteral("as WAV (16-bit PCM) (*.wav)")};
    const QString extensions[] = {extension, QStringLiteral(".wav")};
    dialog.setNameFilters(filters);
    dialog.setDirectory(QDir::homePath());
    dialog.selectFile(suggested);
    QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog, [&](const QString& filter) {
        const QStringList chosen = dialog.selectedFiles();
        const QString name = QFileInfo(chosen.value(0, suggested)).fileName();
        dialog.selectFile(withExtension(name, extensions[filter == filters[1] ? 1 : 0]));
    });
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    *kind = dialog.selectedNameFilter() == filters[1] ? store::ExportKind::Wav
                                                      : store::ExportKind::AsReceived;
    return dialog.selectedFiles().first();
}

void CMainDialog::keepShown(ShownRecording shown) {
    shown_ = std::move(shown);
}

void CMainDialog::keepShown(IVoicemailRecord& record) {
    ShownRecording shown;
    shown.caller = record.caller_name();
    shown.number = record.caller_number();
    shown.received = record.received_time();
    shown.audioType = record.audio_type();
    shown.isGsm = record.audio_type().compare(QLatin1String(".gsm"), Qt::CaseInsensitive) == 0;
    if (mapi::IStream* stream = record.open_audio_stream()) {
        char buffer[64 * 1024];
        uint32_t got = 0;
        while (!mapi::Failed(stream->Read(buffer, sizeof buffer, &got)) && got > 0)
            shown.bytes.append(buffer, got);
        stream->Release();
    }
    shown_ = std::move(shown);
}

void CMainDialog::save_recording_as() {
    // What to keep: the selected voicemail in the list, the recording shown
    // on the playback screen.
    ShownRecording what;
    store::CVoiceMailMessage* record = listMode_ ? recordAt(selectionMark()) : nullptr;
    if (record) {
        what.caller = record->caller_name();
        what.number = record->caller_number();
        what.received = record->received_time();
        what.audioType = record->audio_type();
    } else if (!listMode_ && shown_) {
        what = *shown_;
    } else {
        return;
    }
    store::ExportKind kind = store::ExportKind::AsReceived;
    const QString extension = store::exportExtension(kind, what.audioType);
    const QString suggested =
        store::exportFileName(what.caller, what.number, what.received, extension);
    QString target;
    {
        const CRequestDispatcher::ModalScope scope(*requests_);
        target = chooseSave_ ? chooseSave_(this, suggested, extension, &kind)
                             : chooseSaveTarget(this, suggested, extension, &kind);
    }
    if (target.isEmpty())
        return;
    if (kind == store::ExportKind::Wav && player_->hasPlayer()) {
        // One decoding job at a time (the GSM and G.729 decoders keep one
        // state per process): the player's goes first.
        if (listMode_) {
            close_playback();
        } else {
            player_->close();
            strip_->clear();
            showPlaybackScreen(false);
        }
    }
    // The dialog asked before an existing file is replaced.
    const bool replace = QFileInfo::exists(target);
    QString error;
    bool saved = false;
    const Work work(*this, caption());
    if (record) {
        saved = store::exportRecording(*record, kind, target, replace, &error);
    } else {
        std::vector<uint8_t> bytes(what.bytes.begin(), what.bytes.end());
        // A local file is read as any file handed to us: a regular file only.
        if (!what.path.isEmpty() &&
            files::readRegularFile(desktop::encodeFileName(what.path).constData(), kMaxFileBytes,
                                   bytes) != 0)
            bytes.clear();
        if (bytes.empty()) {
            error = QString::fromLatin1(kNoAttachment);
        } else {
            auto* stream = new mapi::CMemoryStream(std::move(bytes));
            saved = store::exportRecording(stream, what.isGsm, kind, target, replace, &error);
        }
    }
    if (!saved)
        showMessage(QStringLiteral("The recording could not be saved.\n\n%1").arg(error),
                    MessageIcon::Error);
}

bool CMainDialog::open_playback_menu(const QPoint& global) {
    if (listMode_)
        return false;
    QMenu* menu = buildPopup(commandBar_, this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    const auto keys = softkeysOf(commandBar_);
    if (QAction* left = findCommand(menu, keys.left.command))
        left->setEnabled(softkey(true)->isEnabled());
    if (QAction* save = findCommand(menu, ID_SAVE_RECORDING_AS))
        save->setEnabled(shown_.has_value());
    connect(menu, &QMenu::triggered, this,
            [this](QAction* action) { runCommand(commandOf(action)); });
    menu->popup(global.isNull() ? mapToGlobal(clientArea()->geometry().center()) : global);
    return true;
}

void CMainDialog::contextMenuEvent(QContextMenuEvent* event) {
    if (open_playback_menu(event->globalPos()))
        event->accept();
    else
        QDialog::contextMenuEvent(event);
}

void CMainDialog::offer_undo() {
    store::CMessageFolder* folder = list_->list_model()->folder();
    const auto deleted =
        folder ? store::last_deleted(store::folder_entry_id(*folder)) : std::nullopt;
    if (deleted)
        undo_->offer(*deleted);
}

void CMainDialog::undo_delete() {
    const auto deleted = undo_->take();
    if (!deleted || !session_ || !listMode_)
        return;
    const QByteArray back = store::undelete(*session_, *deleted);
    if (back.isEmpty()) {
        showMessage(QStringLiteral("The voicemail is no longer in the Trash."), MessageIcon::Error);
        return;
    }
    // Listed again, newest first, the row is back where it was; the voicemail
    // in the player keeps its mark.
    const int current = currentRow();
    const QByteArray playing =
        current >= 0 && recordAt(current) ? recordAt(current)->entry_id() : QByteArray();
    {
        const Work work(*this, QString::fromLatin1(kRefreshingCaption));
        populateList(list_->open_account_name());
    }
    for (int row = 0; row < rowCount(); ++row) {
        store::CVoiceMailMessage* record = recordAt(row);
        if (!record)
            continue;
        const QByteArray id = record->entry_id();
        if (!playing.isEmpty() && id == playing) {
            list_->set_current_row(row);
            list_->set_paused(player_->state() != IPlayback::kPlaying);
        }
        if (id == back)
            selectRow(row);
    }
}

}  // namespace lyb::app
