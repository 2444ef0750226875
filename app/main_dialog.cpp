#include "app/main_dialog.h"

#include "app/command_bar.h"
#include "app/play_request.h"
#include "app/settings.h"
#include "app/settings_dialog.h"
#include "app/update_page.h"
#include "ui/help_screens.h"
#include "ui/resources.h"
#include "ui/seek_slider.h"
#include "ui/transparent_static.h"

#include <QApplication>
#include <QDateTime>
#include <QEvent>
#include <QEventLoop>
#include <QFile>
#include <QGuiApplication>
#include <QHash>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QResizeEvent>
#include <QTimer>
#include <QTimerEvent>

#include <algorithm>
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

// The client area above the command bar: paints the player strip, the
// gradient stretched across its bottom 47 pixels, and lays out its children
// whenever its size changes.
class CClientArea final : public QWidget {
public:
    explicit CClientArea(CMainDialog* window) : QWidget(window), window_(window) {}

protected:
    void paintEvent(QPaintEvent*) override {
        const qreal ratio = devicePixelRatioF();
        if (strip_.isNull() || strip_.devicePixelRatio() != ratio)
            strip_ = ui::load_pixmap(QStringLiteral(":/images/player_strip.png"), ratio);
        QPainter painter(this);
        painter.drawPixmap(QRect(0, height() - CMainDialog::kPlayerStripHeight, width(),
                                 CMainDialog::kPlayerStripHeight),
                           strip_);
    }
    void resizeEvent(QResizeEvent* event) override {
        QWidget::resizeEvent(event);
        window_->layout_player_strip();
    }
    // The slider tells its parent, this area; the window acts on it.
    bool event(QEvent* event) override {
        const int type = static_cast<int>(event->type());
        if (type == ui::SLIDER_POSITION_CHANGING || type == ui::SLIDER_POSITION_CHANGED)
            return QCoreApplication::sendEvent(window_, event);
        return QWidget::event(event);
    }

private:
    CMainDialog* window_;
    QPixmap strip_;
};

CMainDialog::CMainDialog(IMessageStore* store, uint32_t playMessage, QWidget* parent)
    : QDialog(parent),
      requests_(new CRequestDispatcher(store, this)),
      playMessage_(playMessage),
      queryMessage_(desktop::registerWindowMessage(QStringLiteral("LyrabellQuery"))),
      playback_(std::make_unique<CNoPlayback>()),
      formatNumber_([](const QString& number) { return number; }),
      client_(new CClientArea(this)),
      hint_(new QLabel(hintText(), client_)),
      infoPanel_(new QLabel(client_)),
      slider_(new ui::CSeekSlider(kSliderId, client_)),
      elapsed_(new ui::CTransparentStatic2(client_)),
      remaining_(new ui::CTransparentStatic2(client_)),
      bar_(new CCommandBar(this)),
      mainMenu_(buildPopup(MenuId::MenuBar, this)),
      contextMenu_(buildPopup(MenuId::Context, this)) {
    ui::ensure_resources();
    setWindowTitle(latin(kCaption));
    setWindowIcon(QIcon(QStringLiteral(":/images/lyrabell.png")));
    // A dialog that fills a handheld's screen: resizable, with the title
    // bar's minimise button (minimising ends the program).
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setSizeGripEnabled(false);
    setMinimumSize(160, 200);

    createList();
    listWidget_->setParent(client_);
    hint_->setWordWrap(true);
    hint_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    hint_->setAccessibleName(hint_->text());
    hint_->hide();
    // The panel shows callers' names and file names: text, never markup.
    infoPanel_->setTextFormat(Qt::PlainText);
    infoPanel_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    infoPanel_->setWordWrap(true);
    infoPanel_->setTextInteractionFlags(Qt::TextSelectableByKeyboard);
    infoPanel_->hide();
    // The hint text and the info panel use the panel font: 12 pixels, normal weight.
    QFont panelFont = font();
    panelFont.setPixelSize(12);
    panelFont.setWeight(QFont::Normal);
    panelFont.setStyleStrategy(QFont::PreferAntialias);
    hint_->setFont(panelFont);
    infoPanel_->setFont(panelFont);

    // The strip's gradient is the labels' background; the slider is drawn from its images.
    const QPixmap strip = ui::load_pixmap(QStringLiteral(":/images/player_strip.png"), 1.0);
    elapsed_->set_background(strip);
    remaining_->set_background(strip);
    elapsed_->setAccessibleDescription(QStringLiteral("Elapsed time"));
    remaining_->setAccessibleDescription(QStringLiteral("Remaining time"));
    slider_->set_track_bitmaps(QStringLiteral(":/images/slider_track.png"));
    slider_->set_thumb_bitmaps(QStringLiteral(":/images/slider_thumb.png"));
    slider_->set_page_size(100);
    slider_->set_range(0, 200, false);
    slider_->set_position(0);
    slider_->set_margins(4, 4);
    elapsed_->setText(QStringLiteral(" "));
    remaining_->setText(QStringLiteral(" "));

    for (QMenu* menu : {mainMenu_, contextMenu_}) {
        connect(menu, &QMenu::triggered, this,
                [this](QAction* action) { runCommand(commandOf(action)); });
        connect(menu, &QMenu::aboutToShow, this,
                [this, menu] { applyMenuRules(menu, menuState()); });
    }
    connect(requests_, &CRequestDispatcher::localFileRequested, this,
            &CMainDialog::runLocalFileRequest);
    connect(requests_, &CRequestDispatcher::storedMessageRequested, this,
            &CMainDialog::runStoredMessageRequest);
    connect(bar_, &CCommandBar::command, this, [this](int id) { runCommand(id); });
    setCommandBar(MenuId::MenuBar);
    setTabOrder(listWidget_, slider_);
    setTabOrder(slider_, bar_->left_button());
    setTabOrder(bar_->left_button(), bar_->right_button());

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
    qApp->installEventFilter(this);
    resize(360, 640);

    window_ = std::make_unique<desktop::TopLevelWindow>(
        latin(kCaption), QString::fromLatin1(kRole),
        [this](uint32_t message, quint64 wParam, qint64 lParam) {
            return handleMessage(message, wParam, lParam);
        },
        [this] { bringToFront(); });
}

CMainDialog::~CMainDialog() {
    qApp->removeEventFilter(this);
    window_.reset();
    playbackTimer_.stop();
    playback_->discard();
    const QString folder = desktop::runtimeDir();
    QFile::remove(tempWavePath());
    QFile::remove(folder + QStringLiteral("/lyb.gsm"));
    QFile::remove(folder + QStringLiteral("/lyb.wav"));
}

QWidget* CMainDialog::clientArea() const {
    return client_;
}

QPushButton* CMainDialog::softkey(bool left) const {
    return left ? bar_->left_button() : bar_->right_button();
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

void CMainDialog::setSettingsRunner(SettingsRunner run) {
    runSettings_ = std::move(run);
}

void CMainDialog::setFileChooser(FileChooser choose) {
    chooseFile_ = std::move(choose);
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
    lastTapPoint_ = QPoint(0, 0);
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
    int result = IDCANCEL;
    if (runSettings_) {
        result = runSettings_(this, account);
    } else {
        CSettingsDialog dialog(session_, this);
        result = dialog.exec() == QDialog::Accepted ? IDOK : IDCANCEL;
        if (result == IDOK)
            *account = dialog.selectedAccount();
    }
    return result;
}

void CMainDialog::dispatch(const QString& request) {
    requests_->dispatch(request);
}

void CMainDialog::runLocalFileRequest(const QString& path, const QString& caller) {
    exitOnDone_ = false;
    close_playback();
    bringToFront();
    exitOnDone_ = true;
    show_file_panel(path, caller);
    showPlaybackScreen(decode_and_play(PlaySource{path, nullptr, false}));
}

void CMainDialog::showPlaybackScreen(bool playing) {
    listMode_ = false;
    // A player that could not start after the decoding is nothing to pause.
    playing = playing && playback_->hasPlayer();
    setCommandBar(playing ? MenuId::PlayingScreen : MenuId::PausedScreen);
    if (!playing)
        bar_->left_button()->setEnabled(false);
}

void CMainDialog::runStoredMessageRequest(IVoicemailRecord* record) {
    exitOnDone_ = false;
    close_playback();
    bringToFront();
    exitOnDone_ = true;
    show_details_panel(record);
    bool playing = false;
    if (mapi::IStream* stream = record->open_audio_stream()) {
        const bool gsm =
            record->audio_type().compare(QLatin1String(".gsm"), Qt::CaseInsensitive) == 0;
        playing = decode_and_play(PlaySource{QString(), stream, gsm});
        stream->Release();
    }
    showPlaybackScreen(playing);
}

qint64 CMainDialog::handleMessage(uint32_t message, quint64 wParam, qint64 lParam) {
    Q_UNUSED(lParam);
    if (message == playMessage_ && playMessage_ != 0) {
        // "AutoPlay" is taken at once, busy or not: the sender holds the
        // hand-over lock until we answer, and the next sender may then write
        // its own request. The work (decoding, a message box) is done from
        // the event loop after the answer has gone back, so the sender never
        // waits on it. Of requests taken before they could be handled, the
        // last one counts.
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

void CMainDialog::modalWait(int milliseconds) {
    // Messages from other processes are answered meanwhile; the user's input is not.
    QEventLoop loop;
    // A precise timer: a coarse one may end the head start up to 5 % early.
    QTimer::singleShot(milliseconds, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec(QEventLoop::ExcludeUserInputEvents);
}

int CMainDialog::showMessage(const QString& text, MessageIcon icon) {
    return requests_->messageBox(this, text, icon);
}

void CMainDialog::close_playback() {
    playbackTimer_.stop();
    setCaption(latin(kCaption));
    setCurrentRow(kNoRow);
    if (exitOnDone_)
        done(IDOK);
    else
        show_file_panel(std::nullopt, QString());
    listMode_ = true;
    setLabel(elapsed_, QStringLiteral(" "));
    setLabel(remaining_, QStringLiteral(" "));
    slider_->set_range(0, 200, true);
    slider_->set_position(0);
    setCommandBar(MenuId::MenuBar);
    if (playback_->hasPlayer()) {
        const int state = playback_->state();
        if (state == IPlayback::kPlaying || state == IPlayback::kPaused)
            playback_->stop();
    }
    playback_->discard();
    exitOnDone_ = false;
}

void CMainDialog::setPanelText(Panel panel, const QString& text, const QRect& where) {
    showList(false);
    hint_->hide();
    infoPanel_->setGeometry(where);
    infoPanel_->setText(text);
    infoPanel_->setAccessibleName(text.simplified());
    infoPanel_->show();
    panel_ = panel;
}

void CMainDialog::showUpperArea() {
    if (usingAccount_ != 0) {
        showList(true);
        hint_->hide();
        panel_ = Panel::List;
    } else {
        hint_->show();
        showList(false);
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
    {
        const Work work(*this, latin(kDecodingCaption));
        modalWait(headStartMs_);
    }
    start_player(tempWavePath());
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

void CMainDialog::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    const int barHeight = bar_->sizeHint().height();
    client_->setGeometry(0, 0, width(), height() - barHeight);
    bar_->setGeometry(0, height() - barHeight, width(), barHeight);
}

void CMainDialog::layout_player_strip() {
    const int w = client_->width();
    const int h = client_->height();
    const int sw = slider_->width();
    slider_->move((w - sw) / 2, h - 34);

    const QFontMetrics metrics(elapsed_->font());
    const int tw = metrics.horizontalAdvance(QStringLiteral("88:88"));
    const int th = metrics.height();
    const int sl = (w - sw) / 2;
    // With a large desktop font the labels would reach past the bottom edge;
    // they are lifted to end on it.
    if (sl >= tw) {
        const int y = std::min(h - 34 + 3, h - th);
        elapsed_->setGeometry(sl - tw - 2, y, tw, th);
        elapsed_->set_text_format(Qt::AlignRight | Qt::AlignTop);
        remaining_->setGeometry((w + sw) / 2 + 2, y, tw, th);
        remaining_->set_text_format(Qt::AlignLeft | Qt::AlignTop);
    } else {
        const int y = std::min(h - 14 + 3, h - th);
        elapsed_->setGeometry(sl, y, tw, th);
        elapsed_->set_text_format(Qt::AlignLeft | Qt::AlignTop);
        remaining_->setGeometry((w + sw) / 2 - tw, y, tw, th);
        remaining_->set_text_format(Qt::AlignRight | Qt::AlignTop);
    }

    listWidget_->setGeometry(0, 0, w, h - kPlayerStripHeight);
    hint_->setGeometry(10, 10, w - 20, h - 57);
    if (!infoPanel_->isHidden())
        infoPanel_->setGeometry(panel_ == Panel::Details ? QRect(10, 10, w - 20, h - 57)
                                                         : QRect(0, 0, w, h - kPlayerStripHeight));
    client_->update();
    updateColumnWidth();
}

void CMainDialog::changeEvent(QEvent* event) {
    // Minimising ends the program: there is no hidden background state.
    // Closed from the event loop, once the change of state has finished.
    if (event->type() == QEvent::WindowStateChange && (windowState() & Qt::WindowMinimized))
        QTimer::singleShot(0, this, [this] { done(0); });
    QDialog::changeEvent(event);
}

void CMainDialog::timerEvent(QTimerEvent* event) {
    if (event->timerId() == playbackTimer_.timerId()) {
        playback_tick();
        return;
    }
    if (event->timerId() == holdTimer_.timerId()) {
        holdTimer_.stop();
        open_context_menu(holdPoint_);
        return;
    }
    QDialog::timerEvent(event);
}

bool CMainDialog::event(QEvent* event) {
    const int type = static_cast<int>(event->type());
    if (type == ui::SLIDER_POSITION_CHANGING || type == ui::SLIDER_POSITION_CHANGED) {
        const auto* notice = static_cast<ui::CSliderEvent*>(event);
        if (type == ui::SLIDER_POSITION_CHANGING)
            update_time_labels(notice->position());
        else
            slider_changed(notice->position());
        return true;
    }
    return QDialog::event(event);
}

bool CMainDialog::eventFilter(QObject* watched, QEvent* event) {
    // Keys and pen-downs of every widget of this window are seen here before
    // the widget itself; other windows (menus, message boxes, dialogs) are
    // left alone.
    const QEvent::Type type = event->type();
    if (type != QEvent::KeyPress && type != QEvent::MouseButtonPress &&
        type != QEvent::MouseButtonRelease && type != QEvent::MouseMove)
        return false;
    auto* widget = qobject_cast<QWidget*>(watched);
    if (!widget || (widget != this && !isAncestorOf(widget)))
        return false;

    if (type == QEvent::KeyPress) {
        // Propagated copies (sent on to the parents) are not looked at again.
        QWidget* focus = QApplication::focusWidget();
        if (widget != (focus && isAncestorOf(focus) ? focus : this))
            return false;
        return handleKey(static_cast<QKeyEvent*>(event)->key());
    }

    auto* mouse = static_cast<QMouseEvent*>(event);
    const QPoint local = mouse->position().toPoint();
    // Only the widget under the pen, not the parents it propagates to.
    if (widget->childAt(local))
        return false;
    if (type == QEvent::MouseButtonPress && mouse->button() == Qt::LeftButton) {
        penDown(widget, local, mouse->globalPosition().toPoint());
    } else if (type == QEvent::MouseMove && holdTimer_.isActive()) {
        if ((mouse->globalPosition().toPoint() - holdPoint_).manhattanLength() >
            QApplication::startDragDistance())
            holdTimer_.stop();
    } else if (type == QEvent::MouseButtonRelease && mouse->button() == Qt::LeftButton) {
        const bool tap = holdTimer_.isActive();
        holdTimer_.stop();
        if (tap && listWidget_->isAncestorOf(widget))
            QTimer::singleShot(0, this, [this] { listTap(); });
    }
    return false;
}

void CMainDialog::penDown(QWidget* widget, const QPoint& local, const QPoint& global) {
    lastTapPoint_ = global;
    // The point at x 10 tells whether the pen went down on the player strip.
    const QPoint probe = widget->mapToGlobal(QPoint(10, local.y()));
    QRect strip(client_->mapToGlobal(QPoint(0, 0)), client_->size());
    strip.setTop(strip.bottom() + 1 - kPlayerStripHeight);
    if (strip.contains(probe))
        pause_player();
    if (listWidget_->isAncestorOf(widget))
        startHoldTimer(global);
}

void CMainDialog::startHoldTimer(const QPoint& global) {
    holdPoint_ = global;
    holdTimer_.start(500, this);
}

bool CMainDialog::handleKey(int key) {
    switch (key) {
        case Qt::Key_Up:
            if (listMode_ && list_ && selectionMark() > 0)
                selectRow(selectionMark() - 1);
            return true;
        case Qt::Key_Down:
            if (listMode_ && list_ && selectionMark() < rowCount() - 1)
                selectRow(selectionMark() + 1);
            return true;
        case Qt::Key_Return:
        case Qt::Key_Enter:
        case Qt::Key_Select:
            if (listMode_) {
                toggle_selected(true);
            } else if (!playback_->hasPlayer()) {
                // As the dialog's OK: the program ends.
                done(IDOK);
            } else if (playback_->state() == IPlayback::kPaused) {
                start_player(std::nullopt);
            } else {
                pause_player();
            }
            return true;
        case Qt::Key_Left:
            if (playback_->hasPlayer()) {
                skip_back();
                playback_tick();
            }
            return true;
        case Qt::Key_Right:
            if (playback_->hasPlayer()) {
                skip_forward();
                playback_tick();
            }
            return true;
        case Qt::Key_Space:
            toggle_speed();
            return true;
        case Qt::Key_I:
            // The details popup, as the message WM_USER + 1 opens it.
            if (listMode_ && list_ && !listWidget_->isHidden())
                show_details();
            return true;
        case Qt::Key_Menu:
            // The keyboard's context menu key opens the selected row's menu.
            if (listMode_ && list_ && !listWidget_->isHidden())
                open_context_menu(QPoint());
            return true;
        default:
            return false;
    }
}

}  // namespace lyb::app
