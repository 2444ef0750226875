#include "app/main_dialog.h"

#include "app/play_request.h"
#include "app/settings.h"
#include "app/update_page.h"

#include <QDateTime>
#include <QEvent>
#include <QEventLoop>
#include <QFile>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHash>
#include <QLabel>
#include <QLocale>
#include <QMenu>
#include <QPushButton>
#include <QResizeEvent>
#include <QTimer>
#include <QVBoxLayout>

#include <utility>

namespace lyb::app {

namespace {

constexpr uint32_t WM_CLOSE = 0x0010;

QString latin(const char* text) {
    return QString::fromLatin1(text);
}

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

}  // namespace

CMainDialog::CMainDialog(IMessageStore* store, uint32_t playMessage, QWidget* parent)
    : QDialog(parent),
      store_(store),
      playMessage_(playMessage),
      queryMessage_(desktop::registerWindowMessage(QStringLiteral("LyrabellQuery"))),
      playback_(std::make_unique<CNoPlayback>()),
      formatNumber_([](const QString& number) { return number; }),
      client_(new QWidget(this)),
      list_(new QLabel(client_)),
      hint_(new QLabel(hintText(), client_)),
      infoPanel_(new QLabel(client_)),
      leftKey_(new QPushButton(this)),
      rightKey_(new QPushButton(this)),
      menuPopup_(buildPopup(MenuId::MenuBar, this)) {
    setWindowTitle(latin(kCaption));
    client_->installEventFilter(this);
    auto* bar = new QHBoxLayout;
    bar->setContentsMargins(0, 0, 0, 0);
    for (QPushButton* key : {leftKey_, rightKey_}) {
        // Enter belongs to the window's own key handling, not to a softkey.
        key->setAutoDefault(false);
        bar->addWidget(key);
    }
    connect(leftKey_, &QPushButton::clicked, this, [this] { softkeyPressed(true); });
    connect(rightKey_, &QPushButton::clicked, this, [this] { softkeyPressed(false); });
    connect(menuPopup_, &QMenu::aboutToShow, this,
            [this] { applyMenuRules(menuPopup_, menuState()); });
    connect(menuPopup_, &QMenu::triggered, this,
            [this](QAction* action) { runCommand(commandOf(action)); });
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(client_, 1);
    layout->addLayout(bar);
    setCommandBar(MenuId::MenuBar);
    list_->setAlignment(Qt::AlignCenter);
    hint_->setWordWrap(true);
    hint_->hide();
    infoPanel_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    infoPanel_->setWordWrap(true);
    infoPanel_->hide();
    resize(480, 640);

    window_ = std::make_unique<desktop::TopLevelWindow>(
        latin(kCaption), QString::fromLatin1(kRole),
        [this](uint32_t message, quint64 wParam, qint64 lParam) {
            return handleMessage(message, wParam, lParam);
        },
        [this] { bringToFront(); });
}

CMainDialog::~CMainDialog() {
    window_.reset();
    playback_->discard();
    const QString folder = desktop::runtimeDir();
    QFile::remove(tempWavePath());
    QFile::remove(folder + QStringLiteral("/lyb.gsm"));
    QFile::remove(folder + QStringLiteral("/lyb.wav"));
}

QString CMainDialog::tempWavePath() {
    return desktop::runtimeDir() + QStringLiteral("/lybtemp.wav");
}

void CMainDialog::setPlayback(std::unique_ptr<IPlayback> playback) {
    playback_ = playback ? std::move(playback) : std::make_unique<CNoPlayback>();
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
    listMode_ = true;
    exitOnDone_ = false;
    if (pendingRequest_.size() >= 2) {
        const QString request = pendingRequest_;
        dispatch(request);
        pendingRequest_.clear();
    } else {
        normalStart();
    }
    workEnded();
}

void CMainDialog::normalStart() {
    usingAccount_ = settings::usingOutlook();
    list_->setText(QStringLiteral("No voicemail"));
    show_file_panel(std::nullopt, QString());
}

void CMainDialog::dispatch(const QString& request) {
    const PlayRequest parsed = parsePlayRequest(request);
    switch (parsed.kind) {
        case RequestKind::None:
            break;
        case RequestKind::StoredMessage:
            runStoredMessageRequest();
            break;
        case RequestKind::LocalFile:
            runLocalFileRequest(parsed.path, parsed.caller);
            break;
    }
}

void CMainDialog::runLocalFileRequest(const QString& path, const QString& caller) {
    exitOnDone_ = false;
    close_playback();
    bringToFront();
    exitOnDone_ = true;
    show_file_panel(path, caller);
    showPlaybackScreen(decode_and_play(PlaySource{path, nullptr, false}));
}

void CMainDialog::runStoredMessageRequest() {
    const std::optional<QByteArray> id = settings::msgEntryId();
    if (!id)
        return;
    settings::setMsgEntryId(QByteArray());
    // An empty identifier names no message; the store is not asked.
    if (id->isEmpty() || !store_)
        return;
    const std::unique_ptr<IStoreSession> session = store_->logon();
    if (!session)
        return;
    const std::unique_ptr<IVoicemailRecord> record = session->open_voicemail(*id);
    if (!record)
        return;

    exitOnDone_ = false;
    close_playback();
    bringToFront();
    exitOnDone_ = true;
    show_details_panel(record.get());
    bool playing = false;
    if (mapi::IStream* stream = record->open_audio_stream()) {
        const bool gsm =
            record->audio_type().compare(QLatin1String(".gsm"), Qt::CaseInsensitive) == 0;
        playing = decode_and_play(PlaySource{QString(), stream, gsm});
        stream->Release();
    }
    showPlaybackScreen(playing);
}

void CMainDialog::showPlaybackScreen(bool playing) {
    listMode_ = false;
    setCommandBar(playing ? MenuId::PlayingScreen : MenuId::PausedScreen);
    if (!playing)
        leftKey_->setEnabled(false);
}

void CMainDialog::setCommandBar(MenuId menu) {
    commandBar_ = menu;
    const Softkeys keys = softkeysOf(menu);
    leftKey_->setText(keys.left.text);
    rightKey_->setText(keys.right.text);
    for (QPushButton* key : {leftKey_, rightKey_}) {
        key->setAccessibleName(key->text());
        key->setEnabled(true);
    }
    rightKey_->setMenu(keys.right.command == 0 ? menuPopup_ : nullptr);
}

void CMainDialog::softkeyPressed(bool left) {
    const Softkeys keys = softkeysOf(commandBar_);
    const int command = left ? keys.left.command : keys.right.command;
    if (command != 0)
        runCommand(command);
}

MenuState CMainDialog::menuState() const {
    MenuState state;
    state.detailsMode = settings::details();
    state.fontSize = settings::fontSize();
    state.usingAccount = usingAccount_ != 0;
    return state;
}

void CMainDialog::runCommand(int command) {
    switch (command) {
        case ID_DONE:
            close_playback();
            break;
        case ID_CHECK_FOR_UPDATE:
            openUpdatePage();
            break;
        default:
            break;
    }
}

qint64 CMainDialog::handleMessage(uint32_t message, quint64 wParam, qint64 lParam) {
    Q_UNUSED(lParam);
    if (message == playMessage_ && playMessage_ != 0) {
        // "AutoPlay" is taken at once, busy or not: the sender holds the
        // hand-over lock until we answer, and the next sender may then write
        // its own request. Of requests taken while busy, the last one waits.
        const QString request = settings::autoPlay();
        settings::setAutoPlay(QString());
        if (!busy())
            dispatch(request);
        else if (!request.isEmpty())
            deferredRequest_ = request;
        return 0;
    }
    if (message == queryMessage_ && queryMessage_ != 0) {
        switch (wParam) {
            case QueryPanel:
                return static_cast<qint64>(panel_);
            case QueryRaiseCount:
                return raiseCount_;
            case QueryPanelTextHash:
                return static_cast<qint64>(qHash(infoPanelText(), 0));
            default:
                return -1;
        }
    }
    if (message == WM_CLOSE) {
        // Closed after the answer has gone back.
        QTimer::singleShot(0, this, [this] { done(IDCANCEL); });
        return 0;
    }
    return 0;
}

bool CMainDialog::busy() const {
    return !initialised_ || modalDepth_ > 0;
}

void CMainDialog::workEnded() {
    if (busy() || deferredRequest_.isEmpty())
        return;
    // Handled from the event loop, once the work that was waiting has returned.
    QTimer::singleShot(0, this, [this] {
        if (!busy() && !deferredRequest_.isEmpty())
            dispatch(std::exchange(deferredRequest_, QString()));
    });
}

void CMainDialog::beginWork(const QString& text) {
    ++modalDepth_;
    setCaption(text);
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
}

void CMainDialog::endWork() {
    QGuiApplication::restoreOverrideCursor();
    setCaption(latin(kCaption));
    --modalDepth_;
    workEnded();
}

void CMainDialog::modalWait(int milliseconds) {
    // Messages from other processes are answered meanwhile; the user's input is not.
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec(QEventLoop::ExcludeUserInputEvents);
}

int CMainDialog::showMessage(const QString& text, MessageIcon icon) {
    ++modalDepth_;
    const int result = messageBox(this, text, icon, MessageButtons::Ok);
    --modalDepth_;
    workEnded();
    return result;
}

void CMainDialog::close_playback() {
    setCaption(latin(kCaption));
    if (exitOnDone_)
        done(IDOK);
    else
        show_file_panel(std::nullopt, QString());
    listMode_ = true;
    setCommandBar(MenuId::MenuBar);
    playback_->discard();
    exitOnDone_ = false;
}

void CMainDialog::setPanelText(Panel panel, const QString& text, const QRect& where) {
    list_->hide();
    hint_->hide();
    infoPanel_->setGeometry(where);
    infoPanel_->setText(text);
    infoPanel_->show();
    panel_ = panel;
}

void CMainDialog::showUpperArea() {
    if (usingAccount_ != 0) {
        list_->show();
        hint_->hide();
        panel_ = Panel::List;
    } else {
        hint_->show();
        list_->hide();
        panel_ = Panel::Hint;
    }
    infoPanel_->hide();
}

void CMainDialog::show_file_panel(const std::optional<QString>& path, const QString& caller) {
    if (path) {
        const QRect where(0, 0, client_->width(), client_->height() - kPlayerStripHeight);
        if (caller.isEmpty())
            setPanelText(Panel::LocalFile,
                         QStringLiteral("\n Playing local file:\n \n %1").arg(fileNameOf(*path)),
                         where);
        else
            setPanelText(Panel::Caller,
                         QStringLiteral("\n Playing voicemail from:\n \n %1").arg(caller), where);
    } else {
        showUpperArea();
    }
    update();
}

void CMainDialog::show_details_panel(const IVoicemailRecord* record) {
    if (record)
        setPanelText(Panel::Details, detailsText(*record, formatNumber_),
                     QRect(10, 10, client_->width() - 20, client_->height() - 57));
    else
        showUpperArea();
    update();
}

bool CMainDialog::decode_and_play(const PlaySource& source) {
    playback_->discard();
    QString error;
    if (!playback_->startDecoding(source, tempWavePath(), &error)) {
        if (!error.isEmpty())
            showMessage(error, MessageIcon::None);
        return false;
    }
    beginWork(latin(kDecodingCaption));
    modalWait(headStartMs_);
    endWork();
    playback_->startPlayer(tempWavePath());
    return true;
}

QString CMainDialog::caption() const {
    return window_->caption();
}

QString CMainDialog::infoPanelText() const {
    return infoPanel_->isHidden() ? QString() : infoPanel_->text();
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
    raise();
    activateWindow();
}

bool CMainDialog::eventFilter(QObject* watched, QEvent* event) {
    if (watched == client_ && event->type() == QEvent::Resize) {
        const QSize size = static_cast<QResizeEvent*>(event)->size();
        list_->setGeometry(0, 0, size.width(), size.height() - kPlayerStripHeight);
        hint_->setGeometry(10, 10, size.width() - 20, size.height() - 57);
    }
    return QDialog::eventFilter(watched, event);
}

void CMainDialog::changeEvent(QEvent* event) {
    // Minimising ends the program: there is no hidden background state.
    if (event->type() == QEvent::WindowStateChange && (windowState() & Qt::WindowMinimized))
        done(0);
    QDialog::changeEvent(event);
}

}  // namespace lyb::app
