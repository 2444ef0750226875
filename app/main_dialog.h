// CMainDialog: Lyrabell's one top-level window, run modally for the life of
// the process. Registered on the desktop with the caption "Lyrabell" and the
// role "lyrabell.main" so that the launcher and a second Lyrabell find it.
// Minimised it plays on; closing it (the title bar, Ctrl+Q) ends Lyrabell.
// Escape never closes it: on the playback screen it is Done, in the list
// it does nothing (menus, boxes and dialogs take their own Escape).
//
// The window is a composition, and what stays here is the wiring and the
// first start. Its client area holds the upper panel (the list, the hint or
// the info panel) above the player strip (slider and time labels); the
// command bar with its two softkeys runs along the bottom edge. The request
// dispatcher holds the pending and the handed-over request and the busy
// rule; the playback controller owns the player and tells its position,
// state and end; each command is a QAction (main_commands.cpp); keys are
// shortcuts and the list's taps come from the list itself (main_input.cpp).
// The desktop's media controls and the idle hold follow the player and ask
// the window for what they cannot do themselves (main_media.cpp).
//
// It dispatches the pending request (the command line) at the end of its
// initialisation, and a handed-over request when the play message arrives.
// While the window waits inside a piece of work (the caption reads
// "Refreshing..." or "Decoding...", or a message box is up), a play message
// is not acted on at once: it is remembered and handled as soon as the work
// ends, so a request handed over at that moment is not lost.
#pragma once

#include "app/keep_recording.h"
#include "app/main_menus.h"
#include "app/message_box.h"
#include "app/playback_controller.h"
#include "app/player_strip.h"
#include "app/request_dispatcher.h"
#include "app/stored_messages.h"
#include "app/upper_panel.h"
#include "platform/desktop/desktop.h"
#include "platform/names/names.h"

#include <QDialog>
#include <QHash>
#include <QPoint>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

class QAction;
class QLabel;
class QMenu;
class QPushButton;
class QTimer;

namespace lyb::store {
class CMapiSession;
class CVoiceMailMessage;
}  // namespace lyb::store
namespace lyb::ui {
class CSeekSlider;
class CTransparentStatic2;
class CVoiceMailList;
}  // namespace lyb::ui

namespace lyb::app {

class CCommandBar;
class CMediaControls;
class CUndoBar;

class CMainDialog : public QDialog {
    Q_OBJECT

public:
    static constexpr const char* kCaption = "Lyrabell";
    static constexpr const char* kRefreshingCaption = "Refreshing...";
    static constexpr const char* kDecodingCaption = "Decoding...";
    static constexpr const char* kRole = names::kMainWindowRole;
    static constexpr int kPlayerStripHeight = CPlayerStrip::kHeight;
    static constexpr int kHeadStartMs = 2000;
    static constexpr int kSliderId = CPlayerStrip::kSliderId;
    static constexpr int kNoRow = -2;
    // The message that opens the details popup for the selected voicemail
    // (WM_USER + 1); the key I does the same.
    static constexpr uint32_t kShowDetailsMessage = 0x0400 + 1;
    // Shows the settings dialog; returns IDOK or IDCANCEL and, on IDOK, the
    // account chosen (empty for none).
    using SettingsRunner = std::function<int(QWidget* parent, QString* account)>;
    // Asks for a wave or GSM file to open; empty when cancelled.
    using FileChooser = std::function<QString(QWidget* parent)>;

    // What the upper area shows.
    using Panel = CUpperPanel::Page;

    // The query message (registered as "LyrabellQuery") answers, by wParam:
    // 0 the Panel shown, 1 how often the window was brought to the front,
    // 2 qHash (seed 0) of the info panel's text. For diagnostics and tests.
    enum QueryWhat : quint64 { QueryPanel = 0, QueryRaiseCount = 1, QueryPanelTextHash = 2 };

    // store: where stored-message requests are opened (borrowed, may be null).
    // playMessage: the id of the registered message "TavolinPlay".
    CMainDialog(IMessageStore* store, uint32_t playMessage, QWidget* parent = nullptr);
    // Destroys player and decoder, then deletes the temporary wave file and
    // the root files lyb.gsm and lyb.wav of the runtime folder.
    ~CMainDialog() override;

    void setPendingRequest(const QString& request) { pendingRequest_ = request; }
    QString pendingRequest() const { return pendingRequest_; }
    bool exitOnDone() const { return exitOnDone_; }
    bool listMode() const { return listMode_; }
    int usingAccount() const { return usingAccount_; }

    // Installs the decoding and playing engine (never null; CNoPlayback by default).
    void setPlayback(std::unique_ptr<IPlayback> playback) {
        player_->setPlayback(std::move(playback));
    }
    IPlayback* playback() const { return player_->playback(); }
    // Sets how long decode_and_play waits before it starts the player, for an
    // engine that does not tell when its decoder has written a first block.
    void setHeadStart(int milliseconds) { headStartMs_ = milliseconds; }
    // Sets the display form of phone numbers used by the details panel
    // (identity until the number forms are installed).
    void setNumberFormatter(std::function<QString(const QString&)> format);
    // The process-wide store session that the list is populated from
    // (borrowed, may be null: the list then shows its placeholder).
    void setSession(const store::CMapiSession* session) { session_ = session; }
    void setSettingsRunner(SettingsRunner run) { runSettings_ = std::move(run); }
    void setFileChooser(FileChooser choose) { chooseFile_ = std::move(choose); }
    // Asks where to keep a recording (the file dialog by default).
    void setSaveChooser(SaveChooser choose) { chooseSave_ = std::move(choose); }

    // Runs initialise inside the modal loop, then the loop itself.
    int exec() override;
    // The window's initialisation: dispatches a pending request of 2 or more
    // characters (and empties it), otherwise the normal start. Runs once.
    void initialise();

    // Dispatches a request: stored-message, local-file, or nothing.
    void dispatch(const QString& request) { requests_->dispatch(request); }
    // Answers a desktop message. The play message takes "AutoPlay" and
    // dispatches it from the event loop once the window is not busy.
    qint64 handleMessage(uint32_t message, quint64 wParam, qint64 lParam);
    // True while a handed-over request has to wait for the current work.
    bool busy() const { return requests_->busy(); }
    // Every piece of work the window waits inside (a box, a dialog, the
    // decoding wait) holds the dispatcher's modal scope.
    CRequestDispatcher* requests() const { return requests_; }
    CPlaybackController* player() const { return player_; }
    // A message box of the window, inside its modal scope.
    int showMessage(const QString& text, MessageIcon icon);

    // Opens the details popup for the selected voicemail, with the list
    // disabled while it is open; nothing without a selected voicemail.
    void show_details();

    // Call Back: stops playback and, with the list disabled, offers the
    // caller's dialable number in the dial dialog and calls it on "Dial"; a
    // caller with a name but no number gets Reply With, one with neither
    // "Cannot call unknown caller.". Nothing without a selected voicemail.
    void call_back();
    // Reply With: stops playback and opens the card of the contact whose
    // file-as name is the caller's name, or says why it cannot.
    void reply_with();
    // Add to Contacts: a new contact for the caller in the editor; when the
    // user keeps it, the rows of that number are named again.
    void add_to_contacts();

    // Done: discards player and decoder; returns to the list, or, on the
    // playback screen of a window that never showed its list (started for
    // one recording), closes the window with IDOK.
    void close_playback();
    // With a path: the info panel with the local file's name, or with the
    // caller when one is given. Without: the list (or the hint text) again.
    void show_file_panel(const std::optional<QString>& path, const QString& caller);
    // With a record: the "Message From:" panel. Without: as show_file_panel without a path.
    void show_details_panel(const IVoicemailRecord* record);
    // Decodes the source into the temporary wave file, waits the head start
    // with the caption "Decoding...", and starts the player. False when no
    // decoder could be made (its message, if any, is shown).
    bool decode_and_play(const PlaySource& source);
    // Resumes a paused player (no path), or plays the wave file at path with
    // a new player. A player that cannot start leaves none, silently.
    void start_player(const std::optional<QString>& path);
    // Pauses a playing player.
    void pause_player();
    // Looks at the player now, as its poll does: the slider and the labels
    // follow it, Done at its end.
    void playback_tick() { player_->poll(); }
    // Pauses, then writes both labels for a position in hundredths of a second.
    void update_time_labels(int hundredths);
    void skip_back();
    void skip_forward();
    void toggle_speed() { player_->toggleSpeed(); }
    // The voicemail of the selected row, from its start; marked read once
    // its recording has opened and its player has started.
    void play_selected();
    // Plays, resumes or (when allowed) pauses after the selected row.
    void toggle_selected(bool allowPause);
    // The Play command (32772) of the menus.
    void play_command();
    // Runs a command of the menus or softkeys through its action.
    void runCommand(int command);
    // Places the player strip's slider and labels again (after a font change).
    void layout_player_strip();
    // Reloads the list from the account (close_playback first).
    void refresh_list(const QString& account);
    // Lyrabell came to the front from another application.
    void foreground_refresh();
    // The list's context menu for a point in screen coordinates; true when it opened.
    bool open_context_menu(const QPoint& globalPoint);
    // The rules' view of the window now.
    MenuState menuState() const;

    // Save Recording As…: the selected voicemail in the list, the recording
    // on the playback screen; asks where and as what, then writes it
    // (main_keep.cpp). A wave export stops the player's decoding first.
    void save_recording_as();
    // The playback screen's menu at a screen point (null: the window's
    // middle); false in the list.
    bool open_playback_menu(const QPoint& globalPoint);
    // Takes back the delete the undo bar offers: the message returns from
    // the Trash and the list is read again, its row selected where it was.
    void undo_delete();
    CUndoBar* undoBar() const { return undo_; }

    QString caption() const;
    QString infoPanelText() const { return upper_->infoText(); }
    Panel panel() const { return upper_->page(); }
    int raiseCount() const { return raiseCount_; }
    // The menu shown in the command bar: the menu bar, or a playback
    // screen's softkeys.
    MenuId commandBar() const { return commandBar_; }
    // Returns the softkey button on the left (true) or right; for tests and screenshots.
    QPushButton* softkey(bool left) const;

    ui::CVoiceMailList* list() const { return list_; }
    ui::CSeekSlider* slider() const { return strip_->slider(); }
    ui::CTransparentStatic2* elapsedLabel() const { return strip_->elapsed(); }
    ui::CTransparentStatic2* remainingLabel() const { return strip_->remaining(); }
    CCommandBar* commandBarWidget() const { return bar_; }
    QWidget* clientArea() const { return client_; }
    QLabel* hintLabel() const { return upper_->hint(); }
    QLabel* infoPanelLabel() const { return upper_->info(); }
    QMenu* mainMenu() const { return mainMenu_; }
    QMenu* contextMenu() const { return contextMenu_; }
    bool playbackTimerActive() const { return player_->polling(); }
    desktop::WindowHandle desktopHandle() const;

    // Returns <runtime folder>/lybtemp.wav.
    static QString tempWavePath();

private:
    // The caption and the wait cursor of a piece of work that the window
    // waits inside; a handed-over request waits until it ends.
    class Work {
    public:
        Work(CMainDialog& window, const QString& caption);
        ~Work();
        Work(const Work&) = delete;
        Work& operator=(const Work&) = delete;

    private:
        CMainDialog& window_;
        const CRequestDispatcher::ModalScope scope_;
    };

    void contextMenuEvent(QContextMenuEvent* event) override;
    // The recording the playback screen shows, for Save Recording As….
    void keepShown(ShownRecording shown);
    void keepShown(IVoicemailRecord& record);
    // Offers Undo for the delete just made in the list.
    void offer_undo();
    void setCaption(const QString& caption);
    void bringToFront();
    // Runs a dialog of the window's own (tips, about, details): a handed-over
    // request waits until it closes, as for a message box.
    void runModal(const std::function<void()>& show);
    void normalStart();
    void runLocalFileRequest(const QString& path, const QString& caller);
    void runStoredMessageRequest(IVoicemailRecord* record);
    void createCommands();
    void createInput();
    void populateList(const QString& account);
    int selectionMark() const;
    int rowCount() const;
    int currentRow() const;
    store::CVoiceMailMessage* recordAt(int row) const;
    void setCommandBar(MenuId menu);
    // Discards player and decoder and shows the list (or the hint) with the
    // menu bar; never ends the program.
    void stopPlayback();
    // Leaves list mode for the playback screen: "Pause" and "Done" while a
    // recording plays, else "Play" (greyed: nothing to resume) and "Done",
    // so a request that could not be played can always be closed.
    void showPlaybackScreen(bool playing);
    void showPosition(qint64 ms);
    void showState(int state);
    void slider_changed(int position);
    void listTap(int row);
    void selectRow(int row);
    void redrawRow(int row);
    int runSettings(QString* account);
    void commandDelete();
    void commandMarkRead();
    void commandShowDetails();
    void commandFontSize(int size);
    void commandRefresh();
    void commandSettings();
    void commandOpenFile();
    void enterKey();
    void stepRow(int by);
    // The media controls and the idle hold (main_media.cpp).
    void createDesktopControls();
    bool canPlayStep(int by) const;
    void playStep(int by);
    void announce(const QString& caller, const QString& number, qint64 received,
                  const QString& file = QString());

    CRequestDispatcher* requests_;
    CPlaybackController* player_;
    CMediaControls* media_ = nullptr;
    uint32_t playMessage_;
    uint32_t queryMessage_;
    std::function<QString(const QString&)> formatNumber_;

    QString pendingRequest_;
    bool exitOnDone_ = false;
    bool listMode_ = true;
    int usingAccount_ = 1;
    int headStartMs_ = kHeadStartMs;

    bool initialised_ = false;
    bool listShown_ = false;  // the normal start ran: requests return to the list
    int raiseCount_ = 0;

    const store::CMapiSession* session_ = nullptr;
    SettingsRunner runSettings_;
    FileChooser chooseFile_;
    SaveChooser chooseSave_;
    std::optional<ShownRecording> shown_;
    bool leftForeground_ = false;  // another application was in front since the start
    MenuId commandBar_ = MenuId::MenuBar;
    QHash<int, QAction*> commands_;  // by command id

    QWidget* client_;
    ui::CVoiceMailList* list_;
    CUpperPanel* upper_;
    CPlayerStrip* strip_;
    CCommandBar* bar_;
    CUndoBar* undo_;
    QMenu* mainMenu_;  // the menu bar's "Menu" popup, owned by the window
    QMenu* contextMenu_;
    std::unique_ptr<desktop::TopLevelWindow> window_;
};

}  // namespace lyb::app
