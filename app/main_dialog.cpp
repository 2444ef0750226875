#include "app/main_dialog.h"

#include "app/command_bar.h"
#include "app/folder_watch.h"
#include "app/offline_notice.h"
#include "app/settings.h"
#include "app/settings_dialog.h"
#include "app/undo_bar.h"
#include "ui/help_screens.h"
#include "ui/resources.h"
#include "ui/seek_slider.h"
#include "ui/voicemail_list.h"

#include <QApplication>
#include <QFile>
#include <QGuiApplication>
#include <QIcon>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <utility>

namespace lyb::app {

namespace {

constexpr uint32_t WM_CLOSE = 0x0010;

QString latin(const char* text) {
    return QString::fromLatin1(text);
}

// A column of widgets edge to edge, without gaps.
QVBoxLayout* column(QWidget* owner) {
    auto* layout = new QVBoxLayout(owner);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    return layout;
}

}  // namespace

CMainDialog::CMainDialog(IMessageStore* store, uint32_t playMessage, QWidget* parent)
    : QDialog(parent),
      requests_(new CRequestDispatcher(store, this)),
      player_(new CPlaybackController(this)),
      playMessage_(playMessage),
      queryMessage_(desktop::registerWindowMessage(QStringLiteral("LyrabellQuery"))),
      formatNumber_([](const QString& number) { return number; }),
      client_(new QWidget(this)),
      list_(new ui::CVoiceMailList),
      upper_(new CUpperPanel(list_, client_)),
      strip_(new CPlayerStrip(client_)),
      bar_(new CCommandBar(this)),
      undo_(new CUndoBar(this)),
      mainMenu_(buildPopup(MenuId::MenuBar, this)),
      contextMenu_(buildPopup(MenuId::Context, this)) {
    ui::ensure_resources();
    setWindowTitle(latin(kCaption));
    setWindowIcon(QIcon(QStringLiteral(":/images/lyrabell.png")));
    // Resizable, with the title bar's minimise button: minimised, Lyrabell
    // keeps running and playing.
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setSizeGripEnabled(false);
    setMinimumSize(160, 200);

    QVBoxLayout* area = column(client_);
    area->addWidget(upper_, 1);
    area->addWidget(upper_->soundNotice());
    area->addWidget(strip_);
    QVBoxLayout* window = column(this);
    window->addWidget(client_, 1);
    window->addWidget(undo_);
    window->addWidget(bar_);
    bar_->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);

    // The requests, the player and the strip meet here.
    connect(requests_, &CRequestDispatcher::localFileRequested, this,
            &CMainDialog::runLocalFileRequest);
    connect(requests_, &CRequestDispatcher::storedMessageRequested, this,
            &CMainDialog::runStoredMessageRequest);
    player_->setPixelOf([this](qint64 ms) { return slider()->thumbCentre(int(ms / 10)); });
    connect(player_, &CPlaybackController::positionChanged, this, &CMainDialog::showPosition);
    connect(player_, &CPlaybackController::stateChanged, this, &CMainDialog::showState);
    connect(player_, &CPlaybackController::rateChanged, strip_, &CPlayerStrip::showRateMode);
    connect(player_, &CPlaybackController::ended, this, &CMainDialog::close_playback);
    // The pen going down on the strip (the slider too) pauses the player.
    connect(strip_, &CPlayerStrip::pressed, this, &CMainDialog::pause_player);
    connect(slider(), &ui::CSeekSlider::positionChanging, this, &CMainDialog::update_time_labels);
    connect(slider(), &ui::CSeekSlider::positionChanged, this, &CMainDialog::slider_changed);
    connect(player_, &CPlaybackController::stateChanged, this,
            [this] { upper_->showSoundNotice(playback()->silent()); });
    connect(upper_->settingsButton(), &QPushButton::clicked, this, &CMainDialog::commandSettings);
    // The list follows its account's folder; not while the window waits
    // inside a piece of work.
    auto* watch = new CFolderWatch(
        list_, [this] { return !busy() && list_->isEnabled(); }, this);
    auto* offline = new COfflineNotice(list_, client_);
    area->insertWidget(0, offline);
    connect(watch, &CFolderWatch::updated, offline, &COfflineNotice::refresh);
    // What the desktop could not open (a page, a call, a text, an e-mail)
    // is said in a box of the window's.
    desktop::setOpenFailureReporter([this](const QString& target) {
        showMessage(openFailureText(target), MessageIcon::Exclamation);
    });

    createCommands();
    for (QMenu* menu : {mainMenu_, contextMenu_}) {
        connect(menu, &QMenu::triggered, this,
                [this](QAction* action) { runCommand(commandOf(action)); });
        connect(menu, &QMenu::aboutToShow, this,
                [this, menu] { applyMenuRules(menu, menuState()); });
    }
    connect(bar_, &CCommandBar::command, this, &CMainDialog::runCommand);
    connect(undo_, &CUndoBar::undoRequested, this, &CMainDialog::undo_delete);
    setCommandBar(MenuId::MenuBar);
    createInput();
    setTabOrder(list_, slider());
    setTabOrder(slider(), bar_->left_button());
    setTabOrder(bar_->left_button(), bar_->right_button());
    createDesktopControls();

    // Only coming to the front from another application reloads the list;
    // closing one of Lyrabell's own dialogs or message boxes does not.
    connect(qApp, &QGuiApplication::applicationStateChanged, this,
            [this](Qt::ApplicationState state) {
                // The first activation after the start is no return to the front.
                if (state != Qt::ApplicationActive)
                    leftForeground_ = initialised_;
                else if (std::exchange(leftForeground_, false))
                    foreground_refresh();
            });
    resize(360, 640);

    window_ = std::make_unique<desktop::TopLevelWindow>(
        latin(kCaption), QString::fromLatin1(kRole),
        [this](uint32_t message, quint64 wParam, qint64 lParam) {
            return handleMessage(message, wParam, lParam);
        },
        [this] { bringToFront(); });
}

CMainDialog::~CMainDialog() {
    desktop::setOpenFailureReporter({});
    window_.reset();
    player_->close();
    const QString folder = desktop::runtimeDir();
    QFile::remove(tempWavePath());
    QFile::remove(folder + QStringLiteral("/lyb.gsm"));
    QFile::remove(folder + QStringLiteral("/lyb.wav"));
}

QPushButton* CMainDialog::softkey(bool left) const {
    return left ? bar_->left_button() : bar_->right_button();
}

QString CMainDialog::tempWavePath() {
    return desktop::runtimeDir() + QStringLiteral("/lybtemp.wav");
}

void CMainDialog::setNumberFormatter(std::function<QString(const QString&)> format) {
    if (format)
        formatNumber_ = std::move(format);
}

int CMainDialog::exec() {
    QTimer::singleShot(0, this, [this] { initialise(); });
    return QDialog::exec();
}

void CMainDialog::initialise() {
    if (initialised_)
        return;
    initialised_ = true;
    requests_->setReady();
    listMode_ = true;
    exitOnDone_ = false;
    if (pendingRequest_.size() >= 2) {
        const QString request = pendingRequest_;
        dispatch(request);
        pendingRequest_.clear();
    } else {
        normalStart();
    }
}

void CMainDialog::normalStart() {
    listShown_ = true;
    runModal([this] { ui::show_tips_at_first_start(this); });
    usingAccount_ = settings::usingOutlook();
    if (usingAccount_ == 0) {
        show_file_panel(std::nullopt, QString());
        return;
    }
    QString account = settings::messageStore();
    if (account.isEmpty()) {
        QString chosen;
        if (runSettings(&chosen) != IDOK) {
            done(IDCANCEL);
            return;
        }
        usingAccount_ = settings::usingOutlook();
        if (usingAccount_ == 0) {
            show_file_panel(std::nullopt, QString());
            return;
        }
        account = chosen;
        settings::chooseAccount(account, true);
    }
    show_file_panel(std::nullopt, QString());
    const Work work(*this, latin(kRefreshingCaption));
    populateList(account);
}

int CMainDialog::runSettings(QString* account) {
    const CRequestDispatcher::ModalScope scope(*requests_);
    if (runSettings_)
        return runSettings_(this, account);
    CSettingsDialog dialog(session_, this);
    if (dialog.exec() != QDialog::Accepted)
        return IDCANCEL;
    *account = dialog.selectedAccount();
    return IDOK;
}

void CMainDialog::runLocalFileRequest(const QString& path, const QString& caller) {
    stopPlayback();
    bringToFront();
    // A window that showed its list returns to it; one started for a
    // recording ends with it.
    exitOnDone_ = !listShown_;
    show_file_panel(path, caller);
    keepShown(shownFile(path, caller));
    showPlaybackScreen(decode_and_play(PlaySource{path, nullptr, false}));
    announce(caller, QString(), 0, path);
}

void CMainDialog::runStoredMessageRequest(IVoicemailRecord* record) {
    stopPlayback();
    bringToFront();
    exitOnDone_ = !listShown_;
    show_details_panel(record);
    keepShown(*record);
    bool playing = false;
    if (mapi::IStream* stream = record->open_audio_stream()) {
        const bool gsm =
            record->audio_type().compare(QLatin1String(".gsm"), Qt::CaseInsensitive) == 0;
        playing = decode_and_play(PlaySource{QString(), stream, gsm});
        stream->Release();
    }
    showPlaybackScreen(playing);
    announce(record->caller_name(), record->caller_number(), record->received_time());
}

void CMainDialog::showPlaybackScreen(bool playing) {
    listMode_ = false;
    // A player that could not start after the decoding is nothing to pause.
    playing = playing && player_->hasPlayer();
    setCommandBar(playing ? MenuId::PlayingScreen : MenuId::PausedScreen);
    if (!playing)
        bar_->left_button()->setEnabled(false);
}

qint64 CMainDialog::handleMessage(uint32_t message, quint64 wParam, qint64 lParam) {
    Q_UNUSED(lParam);
    if (message == playMessage_ && playMessage_ != 0) {
        // "AutoPlay" is taken at once, busy or not: the sender holds the
        // hand-over lock until we answer, and the next sender may then write
        // its own request. The work (decoding, a message box) is done from
        // the event loop after the answer has gone back, so the sender never
        // waits on it.
        requests_->takeHandedOver();
        return 0;
    }
    if (message == kShowDetailsMessage) {
        show_details();
        return 0;
    }
    if (message == queryMessage_ && queryMessage_ != 0) {
        switch (wParam) {
            case QueryPanel:
                return static_cast<qint64>(panel());
            case QueryRaiseCount:
                return raiseCount_;
            case QueryPanelTextHash:
                return static_cast<qint64>(qHash(infoPanelText(), 0));
            default:
                return -1;
        }
    }
    if (message == WM_CLOSE) {
        // Closed after the answer has gone back. A dialog or message box of
        // this window goes first (cancelled), so the request to close is
        // never left waiting behind it.
        QTimer::singleShot(0, this, [this] {
            for (int guard = 0; guard < 8; ++guard) {
                auto* modal = qobject_cast<QDialog*>(QApplication::activeModalWidget());
                QWidget* owner = modal ? modal->parentWidget() : nullptr;
                if (!modal || modal == this || !owner || (owner != this && !isAncestorOf(owner)))
                    break;
                modal->reject();
            }
            done(IDCANCEL);
        });
        return 0;
    }
    return 0;
}

CMainDialog::Work::Work(CMainDialog& window, const QString& caption)
    : window_(window), scope_(*window.requests_) {
    window_.setCaption(caption);
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
}

CMainDialog::Work::~Work() {
    QGuiApplication::restoreOverrideCursor();
    window_.setCaption(latin(kCaption));
}

int CMainDialog::showMessage(const QString& text, MessageIcon icon) {
    return requests_->messageBox(this, text, icon);
}

void CMainDialog::show_file_panel(const std::optional<QString>& path, const QString& caller) {
    if (path)
        upper_->showFile(*path, caller);
    else
        upper_->showListOrHint(usingAccount_ != 0);
}

void CMainDialog::show_details_panel(const IVoicemailRecord* record) {
    if (record)
        upper_->showDetails(*record, formatNumber_);
    else
        upper_->showListOrHint(usingAccount_ != 0);
}

QString CMainDialog::caption() const {
    return window_->caption();
}

desktop::WindowHandle CMainDialog::desktopHandle() const {
    return window_->handle();
}

void CMainDialog::setCaption(const QString& text) {
    setWindowTitle(text);
    window_->setCaption(text);
}

void CMainDialog::bringToFront() {
    ++raiseCount_;
    if (isMinimized())
        setWindowState(windowState() & ~Qt::WindowMinimized);
    raise();
    activateWindow();
}

}  // namespace lyb::app
