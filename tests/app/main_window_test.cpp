// The main window on a Maildir account with a recording engine: the inputs
// of each playback state, the row commands, the first start, the layout of
// the player strip, and the window as a desktop program.
#include "app/command_bar.h"
#include "app/main_dialog.h"
#include "app/message_box.h"
#include "app/settings.h"
#include "app/undo_bar.h"
#include "platform/waveout/waveout.h"
#include "recording_playback.h"
#include "store/message_store.h"
#include "tests/app/voicemail_account.h"
#include "ui/seek_slider.h"
#include "ui/transparent_static.h"
#include "ui/voicemail_list.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QDir>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "qstring_print.h"

#include <gtest/gtest.h>

using namespace lyb::app;
namespace s = lyb::settings;
using lyb::store::ExportKind;
using lyb::testing::MaildirFixture;
using lyb::testing::MailParts;
using lyb::testing::useVoicemailAccount;

namespace {

enum class State { Idle, PlayingList, PausedList, PlayingScreen, PausedScreen };

const char* name(State state) {
    static const char* const names[] = {"idle", "playing from the list", "paused from the list",
                                        "playing on the screen", "paused on the screen"};
    return names[static_cast<int>(state)];
}

// An account "Voicemail" of three voicemails (newest first: days 3, 2, 1;
// day 2 already heard), the store session, and the window on it.
class MainWindowTest : public ::testing::Test {
protected:
    MainWindowTest() {
        useVoicemailAccount(md);
        for (int day : {1, 2, 3})
            deliver(day, day == 2);
        s::setUsingOutlook(1);
        lyb::store::logon(session);
        setMessageBoxHandler([this](QWidget*, const QString& text, MessageIcon, MessageButtons) {
            boxes << text;
            return answer;
        });
    }
    ~MainWindowTest() override { setMessageBoxHandler({}); }

    void deliver(int day, bool read = false) {
        MailParts p;
        p.date = "Tue, 0" + QByteArray::number(day) + " Dec 2026 09:30:00 +0000";
        md.deliver(lyb::testing::voicemailMail(p), read ? QStringLiteral("S") : QString());
    }

    // Makes and starts the window; settings answers the settings dialog.
    // request, when given, is the command line's: the window starts for it.
    CMainDialog& open(std::function<int(QWidget*, QString*)> settings = {},
                      const QString& request = {}) {
        window = std::make_unique<CMainDialog>(nullptr, 0);
        window->setPendingRequest(request);
        window->setSession(&session);
        window->setPlayback(std::make_unique<CRecordingPlayback>(log));
        window->setHeadStart(0);
        window->setSettingsRunner(settings ? settings
                                           : [](QWidget*, QString*) { return IDCANCEL; });
        window->setFileChooser([](QWidget*) { return QStringLiteral("/calls/local.wav"); });
        window->show();
        window->initialise();
        return *window;
    }

    lyb::ui::CVoiceMailList& list() { return *window->list(); }
    QWidget* focusTarget() {
        QWidget* focus = QApplication::focusWidget();
        return focus && window->isAncestorOf(focus) ? focus : window.get();
    }
    // Keys are the window's shortcuts: they reach it while it is active.
    void activate() {
        window->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(window.get()));
    }
    void key(Qt::Key k, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        activate();
        QTest::keyClick(focusTarget(), k, modifiers);
    }
    void tapRow(int row) {
        const QRect r = list().visualRect(list().model()->index(row, 0));
        QTest::mouseClick(list().viewport(), Qt::LeftButton, {}, r.center());
        QApplication::processEvents();
    }
    void command(int id) { window->runCommand(id); }
    void select(int row) { list().select_row(row); }
    // The strip's label of the fast factor.
    lyb::ui::CTransparentStatic2* fastFactor() const {
        for (auto* label : window->findChildren<lyb::ui::CTransparentStatic2*>())
            if (label->accessibleDescription() == QLatin1String("Fast playback"))
                return label;
        return nullptr;
    }

    void enter(State state) {
        switch (state) {
            case State::Idle:
                break;
            case State::PlayingList:
            case State::PausedList:
                select(0);
                command(ID_PLAY);
                if (state == State::PausedList)
                    command(ID_PLAY);
                break;
            case State::PlayingScreen:
            case State::PausedScreen:
                command(ID_OPEN_FILE);
                if (state == State::PausedScreen)
                    window->softkey(true)->click();
                break;
        }
        log->position = 20000;
        ASSERT_EQ(observed(), state) << name(state);
    }

    State observed() const {
        if (!log->hasPlayer)
            return State::Idle;
        const bool paused = log->state == IPlayback::kPaused;
        if (window->listMode())
            return paused ? State::PausedList : State::PlayingList;
        return paused ? State::PausedScreen : State::PlayingScreen;
    }

    MaildirFixture md;
    lyb::store::CMapiSession session;
    std::shared_ptr<PlaybackLog> log = std::make_shared<PlaybackLog>();
    std::unique_ptr<CMainDialog> window;
    QStringList boxes;
    int answer = IDYES;
};

}  // namespace

// Every input in every state: the state it leads to, whether a recording
// was decoded anew, and whether the speed changed.
TEST_F(MainWindowTest, StateTable) {
    enum Input {
        PlayCommand,
        Enter,
        Tap,
        SoftPlay,
        SoftPause,
        Done,
        Left,
        Right,
        Space,
        PenDown,
        SliderReleased
    };
    const char* const inputs[] = {
        "Play command", "Enter", "tap",   "softkey Play",          "softkey Pause",  "Done",
        "Left",         "Right", "Space", "pen down on the strip", "slider released"};
    using S = State;
    constexpr S X = static_cast<S>(-1);  // not offered in this state
    struct Row {
        Input input;
        S after[5];  // from idle, playing list, paused list, playing screen, paused screen
    };
    const Row table[] = {
        {PlayCommand, {S::PlayingList, S::PausedList, S::PlayingList, X, X}},
        {Enter, {S::PlayingList, S::PausedList, S::PlayingList, S::PausedScreen, S::PlayingScreen}},
        {Tap, {S::PlayingList, S::PausedList, S::PlayingList, X, X}},
        {SoftPlay, {X, X, X, X, S::PlayingScreen}},
        {SoftPause, {X, X, X, S::PausedScreen, X}},
        {Done, {X, X, X, S::Idle, S::Idle}},
        {Left, {S::Idle, S::PausedList, S::PausedList, S::PausedScreen, S::PausedScreen}},
        {Right, {S::Idle, S::PausedList, S::PausedList, S::PausedScreen, S::PausedScreen}},
        {Space, {S::Idle, S::PlayingList, S::PausedList, S::PlayingScreen, S::PausedScreen}},
        {PenDown, {S::Idle, S::PausedList, S::PausedList, S::PausedScreen, S::PausedScreen}},
        {SliderReleased,
         {S::PlayingList, S::PausedList, S::PausedList, S::PausedScreen, S::PausedScreen}},
    };
    for (const Row& row : table) {
        for (int from = 0; from < 5; ++from) {
            if (row.after[from] == X)
                continue;
            SCOPED_TRACE(std::string(inputs[row.input]) + " when " + name(static_cast<S>(from)));
            log = std::make_shared<PlaybackLog>();
            open();
            enter(static_cast<S>(from));
            const size_t decodedBefore = log->decoded.size();
            const int rateBefore = log->rate;
            switch (row.input) {
                case PlayCommand:
                    command(ID_PLAY);
                    break;
                case Enter:
                    key(Qt::Key_Return);
                    break;
                case Tap:
                    tapRow(0);
                    break;
                case SoftPlay:
                case SoftPause:
                    EXPECT_EQ(window->softkey(true)->text(),
                              row.input == SoftPlay ? QStringLiteral("Play") : "Pause");
                    window->softkey(true)->click();
                    break;
                case Done:
                    EXPECT_EQ(window->softkey(false)->text(), QStringLiteral("Done"));
                    window->softkey(false)->click();
                    break;
                case Left:
                    key(Qt::Key_Left);
                    break;
                case Right:
                    key(Qt::Key_Right);
                    break;
                case Space:
                    key(Qt::Key_Space);
                    break;
                case PenDown: {
                    QWidget* client = window->clientArea();
                    const QPoint at(3, client->height() - 5);
                    QWidget* under = client->childAt(at);
                    QTest::mouseClick(under, Qt::LeftButton, {}, under->mapFrom(client, at));
                    break;
                }
                case SliderReleased:
                    QTest::mouseClick(window->slider(), Qt::LeftButton, {},
                                      QPoint(window->slider()->width() / 2, 5));
                    QApplication::processEvents();
                    break;
            }
            const S after = observed();
            EXPECT_EQ(after, row.after[from]) << name(after);
            const bool fresh = from == static_cast<int>(S::Idle) && after == S::PlayingList;
            EXPECT_EQ(log->decoded.size(), decodedBefore + (fresh ? 1 : 0));
            const bool toggled = row.input == Space && from != static_cast<int>(S::Idle);
            EXPECT_EQ(log->rate != rateBefore, toggled);
            // The factor stands beside the time while fast playback is on.
            EXPECT_EQ(!fastFactor()->isHidden(),
                      log->hasPlayer && log->rate == IPlayback::kRateFast);
            EXPECT_EQ(
                fastFactor()->text(),
                QString::fromStdString(lyb::waveout::RateFactorText(lyb::waveout::kRateFast)) +
                    QChar(0x00D7));
            if (after == S::PlayingList || after == S::PausedList) {
                EXPECT_EQ(list().current_row(), 0);
                EXPECT_EQ(list().paused(), after == S::PausedList);
            }
            if (after == S::PlayingScreen || after == S::PausedScreen) {
                EXPECT_EQ(window->softkey(true)->text(),
                          after == S::PlayingScreen ? QStringLiteral("Pause") : "Play");
            }
            if (after == S::Idle) {
                EXPECT_EQ(window->commandBar(), MenuId::MenuBar);
                EXPECT_EQ(list().current_row(), CMainDialog::kNoRow);
                EXPECT_EQ(window->elapsedLabel()->text(), QStringLiteral(" "));
                EXPECT_EQ(window->slider()->range(), std::make_pair(0, 200));
            }
            window.reset();
        }
    }
}

// Play, Enter and the tap on another row than the loaded one play that row.
TEST_F(MainWindowTest, AnotherRowIsPlayedFromTheStart) {
    for (State from : {State::PlayingList, State::PausedList}) {
        for (int input = 0; input < 3; ++input) {
            log = std::make_shared<PlaybackLog>();
            open();
            enter(from);
            select(2);
            if (input == 0)
                command(ID_PLAY);
            else if (input == 1)
                key(Qt::Key_Return);
            else
                tapRow(2);
            EXPECT_EQ(observed(), State::PlayingList) << name(from) << " input " << input;
            EXPECT_EQ(list().current_row(), 2);
            EXPECT_EQ(log->decoded.size(), 2u);
            EXPECT_TRUE(list().record_at(2)->is_read());
            window.reset();
        }
    }
}

TEST_F(MainWindowTest, SkipStepsAndTheLastStepBeforeTheEnd) {
    struct Case {
        uint32_t duration, position;
        Qt::Key key;
        uint32_t target;
        const char* elapsed;
    };
    const Case cases[] = {
        {9000, 5000, Qt::Key_Left, 4000, "0:04"},     {60000, 30000, Qt::Key_Left, 24000, "0:24"},
        {60000, 4000, Qt::Key_Left, 0, "0:00"},       {60000, 58000, Qt::Key_Right, 59800, "0:59"},
        {60000, 10000, Qt::Key_Right, 16000, "0:16"},
    };
    for (const Case& c : cases) {
        log->nextDuration = c.duration;
        open();
        command(ID_OPEN_FILE);
        log->position = c.position;
        key(c.key);
        ASSERT_FALSE(log->seeks.empty());
        EXPECT_EQ(log->seeks.back(), c.target) << c.duration << " " << c.position;
        EXPECT_EQ(window->elapsedLabel()->text(), QString::fromLatin1(c.elapsed));
        EXPECT_EQ(observed(), State::PausedScreen);
        EXPECT_EQ(window->softkey(true)->text(), QStringLiteral("Play"));
        window.reset();
    }
}

TEST_F(MainWindowTest, SliderDraggedToTheRightEndReturnsToTheRecordingsPlace) {
    open();
    command(ID_OPEN_FILE);
    log->position = 12340;
    window->playback_tick();
    lyb::ui::CSeekSlider* slider = window->slider();
    const QPoint thumb(slider->thumbCentre(slider->position()), slider->height() / 2);
    QTest::mousePress(slider, Qt::LeftButton, {}, thumb);
    QTest::mouseMove(slider, QPoint(slider->width() - 1, thumb.y()));
    QTest::mouseRelease(slider, Qt::LeftButton, {}, QPoint(slider->width() - 1, thumb.y()));
    QApplication::processEvents();
    EXPECT_TRUE(log->seeks.empty()) << "the end itself is beyond the recording";
    EXPECT_EQ(slider->position(), 1234);
    EXPECT_EQ(observed(), State::PausedScreen);
}

TEST_F(MainWindowTest, EndOfARecordingInBothPresentations) {
    open();
    select(1);
    command(ID_PLAY);
    log->ended = true;
    window->playback_tick();
    EXPECT_EQ(observed(), State::Idle);
    EXPECT_EQ(list().current_row(), CMainDialog::kNoRow);
    EXPECT_EQ(window->slider()->position(), 0);
    EXPECT_EQ(window->remainingLabel()->text(), QStringLiteral(" "));

    // A request handed to the window with its list returns to the list.
    window->dispatch(QStringLiteral("/calls/handed.wav"));
    EXPECT_EQ(observed(), State::PlayingScreen);
    log->ended = true;
    window->playback_tick();
    EXPECT_EQ(observed(), State::Idle);
    EXPECT_EQ(window->panel(), CMainDialog::Panel::List);
    EXPECT_TRUE(window->isVisible());
}

TEST_F(MainWindowTest, DeleteAsksAndMovesOnlyTheAnsweredMessageToTheTrash) {
    open();
    const QStringList before = QDir(md.root + "/cur").entryList(QDir::Files) +
                               QDir(md.root + "/new").entryList(QDir::Files);
    select(1);
    command(ID_PLAY);  // the loaded row goes with it
    answer = IDNO;
    command(ID_DELETE);
    EXPECT_EQ(boxes,
              QStringList{QStringLiteral("Are you sure you want to delete this voicemail?")});
    EXPECT_EQ(list().row_count(), 3);
    EXPECT_EQ(observed(), State::PlayingList);

    answer = IDYES;
    command(ID_DELETE);
    EXPECT_EQ(list().row_count(), 2);
    EXPECT_EQ(observed(), State::Idle);
    const QStringList trash = QDir(md.root + "/.Trash/cur").entryList(QDir::Files) +
                              QDir(md.root + "/.Trash/new").entryList(QDir::Files);
    EXPECT_EQ(trash.size(), 1);
    const QStringList after = QDir(md.root + "/cur").entryList(QDir::Files) +
                              QDir(md.root + "/new").entryList(QDir::Files);
    EXPECT_EQ(after.size(), before.size() - 1);

    // A row above the loaded one: the loaded voicemail keeps its symbol.
    select(1);
    command(ID_PLAY);
    select(0);
    command(ID_DELETE);
    EXPECT_EQ(list().current_row(), 0);
    EXPECT_EQ(observed(), State::PlayingList);

    // A Delete the store refuses (a file where the Trash folder should be)
    // leaves the loaded row and its recording playing.
    ASSERT_TRUE(QDir(md.root).rename(".Trash", ".Trash-moved"));
    QFile blocker(md.root + "/.Trash");
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    select(0);
    command(ID_DELETE);
    EXPECT_EQ(list().row_count(), 1);
    EXPECT_EQ(list().current_row(), 0);
    EXPECT_EQ(observed(), State::PlayingList);
}

// After Delete the bar offers Undo; its button or Ctrl+Z brings the message
// back from the Trash, read as it was, into the row it left.
TEST_F(MainWindowTest, UndoTakesTheDeleteBackIntoItsRow) {
    open();
    for (const bool byKey : {true, false}) {
        SCOPED_TRACE(byKey ? "Ctrl+Z" : "Undo button");
        select(1);  // day 2, heard
        command(ID_DELETE);
        ASSERT_EQ(list().row_count(), 2);
        ASSERT_TRUE(window->undoBar()->isVisible());
        EXPECT_EQ(window->undoBar()->accessibleName(),
                  QStringLiteral("Voicemail deleted \u2014 Undo"));
        if (byKey)
            key(Qt::Key_Z, Qt::ControlModifier);
        else
            window->undoBar()->undoButton()->click();
        EXPECT_FALSE(window->undoBar()->isVisible());
        ASSERT_EQ(list().row_count(), 3);
        EXPECT_EQ(list().selection_mark(), 1);
        EXPECT_TRUE(list().record_at(1)->is_read());
        EXPECT_TRUE(QDir(md.root + "/.Trash/cur").entryList(QDir::Files).isEmpty());
    }
    // Nothing offered: Ctrl+Z does nothing.
    key(Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(list().row_count(), 3);
}

// Save Recording As… keeps the selected row's recording and the playback
// screen's, named after the caller and the day, in the kind chosen.
TEST_F(MainWindowTest, SaveRecordingAsKeepsTheRowsOrTheScreensRecording) {
    open();
    const QString folder = lyb::testing::freshDir("kept");
    QString offered;
    ExportKind kind = ExportKind::AsReceived;
    window->setSaveChooser([&](QWidget*, const QString& suggested, const QString&, ExportKind* k) {
        offered = suggested;
        *k = kind;
        return folder + "/" + suggested;
    });
    select(0);
    command(ID_SAVE_RECORDING_AS);
    EXPECT_TRUE(offered.startsWith("5551234567 2026-12-0")) << offered.toStdString();
    QFile kept(folder + "/" + offered);
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.readAll(), lyb::testing::pcmWave(3));

    const QString local = folder + "/local.wav";
    QFile(folder + "/" + offered).copy(local);
    window->setFileChooser([&](QWidget*) { return local; });
    command(ID_OPEN_FILE);
    ASSERT_FALSE(window->listMode());
    kind = ExportKind::Wav;
    command(ID_SAVE_RECORDING_AS);
    EXPECT_EQ(offered, "Unknown caller.wav");
    QFile decoded(folder + "/" + offered);
    ASSERT_TRUE(decoded.open(QIODevice::ReadOnly));
    EXPECT_EQ(decoded.readAll(), lyb::testing::pcmWave(3));  // PCM decodes to itself
    EXPECT_TRUE(boxes.isEmpty()) << boxes.join("|").toStdString();
}

TEST_F(MainWindowTest, MarkAsReadAndUnreadSetsTheSeenFlagAndTheMenuText) {
    open();
    select(0);  // day 3, unread
    QMenu* menu = window->contextMenu();
    applyMenuRules(menu, window->menuState());
    EXPECT_EQ(findCommand(menu, ID_MARK_READ)->text(), QStringLiteral("&Mark as Read"));
    command(ID_MARK_READ);
    EXPECT_EQ(QDir(md.root + "/cur").entryList({"*:2,*S*"}).size(), 2);
    applyMenuRules(menu, window->menuState());
    EXPECT_EQ(findCommand(menu, ID_MARK_READ)->text(), QStringLiteral("&Mark as Unread"));
    command(ID_MARK_READ);
    EXPECT_EQ(QDir(md.root + "/cur").entryList({"*:2,*S*"}).size(), 1);
    EXPECT_FALSE(list().record_at(0)->is_read());
}

TEST_F(MainWindowTest, RefreshShowsNewVoicemailsAndStopsPlayback) {
    open();
    command(ID_PLAY);
    deliver(4);
    command(ID_REFRESH);
    EXPECT_EQ(list().row_count(), 4);
    EXPECT_EQ(observed(), State::Idle);
    EXPECT_EQ(window->caption(), QStringLiteral("Lyrabell"));
}

TEST_F(MainWindowTest, FirstStartAndSettings) {
    struct Case {
        int result;
        const char* account;
        int usingOutlook;
        bool closed;
        CMainDialog::Panel panel;
        int rows;
    };
    const Case cases[] = {
        {IDCANCEL, "", 1, true, CMainDialog::Panel::List, 0},
        {IDOK, "Voicemail", 1, false, CMainDialog::Panel::List, 3},
        {IDOK, "", 0, false, CMainDialog::Panel::Hint, 0},
    };
    for (const Case& c : cases) {
        s::setMessageStore(QString());
        open([&](QWidget*, QString* account) {
            *account = QString::fromLatin1(c.account);
            s::setUsingOutlook(c.usingOutlook);
            return c.result;
        });
        EXPECT_EQ(window->result() == IDCANCEL && !window->isVisible(), c.closed) << c.account;
        if (!c.closed) {
            EXPECT_EQ(window->panel(), c.panel);
            EXPECT_EQ(list().row_count(), c.rows);
            EXPECT_EQ(s::messageStore(), QString::fromLatin1(c.account));
        }
        window.reset();
        s::setUsingOutlook(1);
    }

    // Settings: Cancel changes nothing; "Other" shows the hint and forgets the account.
    s::setMessageStore(QStringLiteral("Voicemail"));
    int result = IDCANCEL;
    open([&](QWidget*, QString* account) {
        account->clear();
        s::setUsingOutlook(0);
        return result;
    });
    command(ID_SETTINGS);
    EXPECT_EQ(window->panel(), CMainDialog::Panel::List);
    EXPECT_EQ(s::messageStore(), QStringLiteral("Voicemail"));
    result = IDOK;
    command(ID_SETTINGS);
    EXPECT_EQ(window->panel(), CMainDialog::Panel::Hint);
    EXPECT_EQ(s::messageStore(), QString());
    EXPECT_EQ(list().row_count(), 0);
    applyMenuRules(window->mainMenu(), window->menuState());
    EXPECT_FALSE(findCommand(window->mainMenu(), ID_REFRESH)->isEnabled());
    s::setUsingOutlook(1);
}

// The slider takes the strip's width less the times; they stand beside it
// while it keeps at least its image's length so, under its ends otherwise;
// either way everything ends inside the window, whatever the font.
TEST_F(MainWindowTest, StripLayoutStretchesTheSliderAndPlacesTheTimes) {
    struct Row {
        int width, pixels;
        bool beside;
    };
    const Row table[] = {{360, 0, true},  {800, 0, true},   {1600, 0, true},
                         {190, 0, false}, {360, 28, false}, {800, 28, true}};
    open();
    const int image = window->slider()->sizeHint().width();
    for (const Row& row : table) {
        SCOPED_TRACE(testing::Message() << row.width << " px, font " << row.pixels);
        QFont font = window->font();
        if (row.pixels)
            font.setPixelSize(row.pixels);
        window->elapsedLabel()->setFont(font);
        window->remainingLabel()->setFont(font);
        window->resize(row.width, 500);
        window->layout_player_strip();
        QApplication::processEvents();
        QWidget* client = window->clientArea();
        const auto inClient = [client](QWidget* w) {
            return w->geometry().translated(w->parentWidget()->mapTo(client, QPoint()));
        };
        const QRect slider = inClient(window->slider());
        const QRect elapsed = inClient(window->elapsedLabel());
        const QRect remaining = inClient(window->remainingLabel());
        const int h = client->height();
        // Lifted only as far as the times under it need.
        if (row.beside && !row.pixels)
            EXPECT_EQ(slider.top(), h - 34);
        else
            EXPECT_GE(slider.top(), h - CMainDialog::kPlayerStripHeight);
        EXPECT_NEAR(slider.center().x(), row.width / 2, 1);
        const bool beside = elapsed.right() < slider.left();
        EXPECT_EQ(beside, row.beside);
        if (beside) {
            EXPECT_GE(slider.width(), image);
            EXPECT_LT(slider.right(), remaining.left());
            // The times take what they need, the slider the rest.
            EXPECT_GT(slider.width(), row.width - 2 * (remaining.width() + 40));
        } else {
            EXPECT_EQ(elapsed.left(), slider.left());
            EXPECT_EQ(remaining.right(), slider.right());
            EXPECT_GT(elapsed.top(), slider.bottom());
        }
        EXPECT_LE(elapsed.bottom(), h - 1);
        EXPECT_LE(remaining.bottom(), h - 1);
    }
}

// The window as a desktop program, from a start to what an input leads to:
// minimising plays on and closing ends; Escape closes only what is open above
// the window and is Done on the playback screen; a recording handed to a
// window that shows its list returns to it; a voicemail is heard only once it
// plays; the desktop keys, the menus' mnemonics and the focused row's frame.
TEST_F(MainWindowTest, DesktopWindowTable) {
    enum Start { List, ListPlaying, Screen, HandedOver, StartedForFile };
    QStringList seen;  // what an input noticed on its way
    const auto now = [&] {
        if (!window->isVisible())
            return QStringLiteral("closed");
        int fresh = 0;
        for (int row = 0; row < list().row_count(); ++row)
            fresh += list().record_at(row) && !list().record_at(row)->is_read();
        QStringList parts{QString::fromLatin1(name(observed())),
                          QStringLiteral("%1 rows, %2 new").arg(list().row_count()).arg(fresh)};
        if (window->isMinimized())
            parts << QStringLiteral("minimised");
        if (window->contextMenu()->isVisible())
            parts << QStringLiteral("menu open");
        return (parts + boxes + seen).join(QStringLiteral(", "));
    };
    const auto popupKey = [](Qt::Key k) {
        QWidget* popup = QApplication::activePopupWidget();
        ASSERT_TRUE(popup);
        QTest::keyClick(popup, k);
    };
    const auto end = [&] {
        log->ended = true;
        window->playback_tick();
    };
    const QString asked = QStringLiteral(", Are you sure you want to delete this voicemail?");
    struct Row {
        const char* what;
        Start start;
        std::function<void()> input;
        QString after;
    };
    const Row table[] = {
        {"minimising while playing", ListPlaying, [&] { window->showMinimized(); },
         "playing from the list, 3 rows, 1 new, minimised"},
        {"a file handed to the minimised window", List,
         [&] {
             window->showMinimized();
             window->dispatch(QStringLiteral("/calls/handed.wav"));
         },
         "playing on the screen, 3 rows, 2 new"},
        {"closing from the title bar", ListPlaying, [&] { window->close(); }, "closed"},
        {"Ctrl+Q", List, [&] { key(Qt::Key_Q, Qt::ControlModifier); }, "closed"},
        {"Escape in the list", ListPlaying, [&] { key(Qt::Key_Escape); },
         "playing from the list, 3 rows, 1 new"},
        {"Escape on the playback screen", Screen, [&] { key(Qt::Key_Escape); },
         "idle, 3 rows, 2 new"},
        {"Escape in the row's menu", List,
         [&] {
             key(Qt::Key_F10, Qt::ShiftModifier);
             popupKey(Qt::Key_Escape);
         },
         "idle, 3 rows, 2 new"},
        {"the end of a handed-over file", HandedOver, end, "idle, 3 rows, 2 new"},
        {"Done on a handed-over file", HandedOver, [&] { window->softkey(false)->click(); },
         "idle, 3 rows, 2 new"},
        {"the end of the file it started for", StartedForFile, end, "closed"},
        {"the end of a file handed over after it", StartedForFile,
         [&] {
             window->dispatch(QStringLiteral("/calls/second.wav"));
             end();
         },
         "closed"},
        {"Enter on a voicemail", List, [&] { key(Qt::Key_Return); },
         "playing from the list, 3 rows, 1 new"},
        {"a voicemail that cannot be decoded", List,
         [&] {
             log->failDecoding = true;
             log->decoderError = QStringLiteral("Invalid wav header.");
             key(Qt::Key_Return);
         },
         "idle, 3 rows, 2 new, Invalid wav header."},
        {"a voicemail whose player cannot start", List,
         [&] {
             log->failPlayer = true;
             key(Qt::Key_Return);
         },
         "idle, 3 rows, 2 new"},
        {"Delete", List, [&] { key(Qt::Key_Delete); }, "idle, 2 rows, 1 new" + asked},
        {"Delete on the playback screen", Screen, [&] { key(Qt::Key_Delete); },
         "playing on the screen, 3 rows, 2 new"},
        {"Shift+F10", List, [&] { key(Qt::Key_F10, Qt::ShiftModifier); },
         "idle, 3 rows, 2 new, menu open"},
        {"the Menu key", List, [&] { key(Qt::Key_Menu); }, "idle, 3 rows, 2 new, menu open"},
        {"D in the row's menu", List,
         [&] {
             key(Qt::Key_Menu);
             popupKey(Qt::Key_D);
         },
         "idle, 2 rows, 1 new" + asked},
        {"Ctrl+O", List, [&] { key(Qt::Key_O, Qt::ControlModifier); },
         "playing on the screen, 3 rows, 2 new"},
        {"F5", ListPlaying,
         [&] {
             deliver(4);
             key(Qt::Key_F5);
         },
         "idle, 4 rows, 2 new"},
        {"the list's focus", List,
         [&] {
             activate();
             list().setFocus();
             const QImage focused = list().viewport()->grab().toImage();
             window->slider()->setFocus();
             if (focused != list().viewport()->grab().toImage())
                 seen << QStringLiteral("row framed");
         },
         "idle, 3 rows, 2 new, row framed"},
    };
    for (const Row& row : table) {
        SCOPED_TRACE(row.what);
        // The account as the fixture made it: three voicemails, two new.
        QDir(md.root + "/.Trash").removeRecursively();
        for (const char* sub : {"cur", "new"})
            for (const QString& file : md.files(QString::fromLatin1(sub)))
                QFile::remove(md.root + '/' + sub + '/' + file);
        for (int day : {1, 2, 3})
            deliver(day, day == 2);
        log = std::make_shared<PlaybackLog>();
        boxes.clear();
        seen.clear();
        open({}, row.start == StartedForFile ? QStringLiteral("/calls/one.wav") : QString());
        select(0);
        if (row.start == ListPlaying)
            command(ID_PLAY);
        else if (row.start == Screen)
            command(ID_OPEN_FILE);
        else if (row.start == HandedOver)
            window->dispatch(QStringLiteral("/calls/handed.wav"));
        row.input();
        QApplication::processEvents();
        EXPECT_EQ(now(), row.after);
        window.reset();
    }
}

// Up and Down move the selection; a right click and a press-and-hold on a
// row select it and open the context menu with the rules applied.
TEST_F(MainWindowTest, KeysAndContextMenuSelectRows) {
    open();
    EXPECT_EQ(list().selection_mark(), 0);
    key(Qt::Key_Down);
    key(Qt::Key_Down);
    key(Qt::Key_Down);  // already on the last row
    EXPECT_EQ(list().selection_mark(), 2);
    key(Qt::Key_Up);
    EXPECT_EQ(list().selection_mark(), 1);

    const auto rowCentre = [&](int row) {
        return list().visualRect(list().model()->index(row, 0)).center();
    };
    QContextMenuEvent rightClick(QContextMenuEvent::Mouse, rowCentre(2),
                                 list().viewport()->mapToGlobal(rowCentre(2)));
    QApplication::sendEvent(list().viewport(), &rightClick);
    EXPECT_EQ(list().selection_mark(), 2);
    EXPECT_TRUE(window->contextMenu()->isVisible());
    EXPECT_EQ(findCommand(window->contextMenu(), ID_PLAY)->text(), QStringLiteral("&Play"));
    window->contextMenu()->hide();

    command(ID_PLAY);  // row 2 plays: its menu offers Pause
    QTest::mousePress(list().viewport(), Qt::LeftButton, {}, rowCentre(0));
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->contextMenu()->isVisible(); }, 5000));
    EXPECT_EQ(list().selection_mark(), 0);
    window->contextMenu()->hide();
    QTest::mouseRelease(list().viewport(), Qt::LeftButton, {}, rowCentre(0));
    QApplication::processEvents();
    EXPECT_EQ(list().current_row(), 2) << "the hold is no tap";
    select(2);
    window->open_context_menu(QPoint());
    EXPECT_EQ(findCommand(window->contextMenu(), ID_PLAY)->text(), QStringLiteral("&Pause"));
    window->contextMenu()->hide();
}

// Coming to the front reloads the list, unless a recording is loaded, and
// keeps the selection on its voicemail.
TEST_F(MainWindowTest, ForegroundRefreshOnlyWithoutARecording) {
    open();
    deliver(4);
    command(ID_PLAY);
    window->foreground_refresh();
    EXPECT_EQ(list().row_count(), 3);
    command(ID_DONE);
    select(2);
    const QByteArray selected = list().record_at(2)->entry_id();
    window->foreground_refresh();
    EXPECT_EQ(list().row_count(), 4);
    ASSERT_NE(list().record_at(list().selection_mark()), nullptr);
    EXPECT_EQ(list().record_at(list().selection_mark())->entry_id(), selected);
}

// Font sizes and Show Details change the rows at once and keep the selection;
// a cancelled Open File changes nothing.
TEST_F(MainWindowTest, ViewCommandsAndCancelledOpenFile) {
    open();
    select(1);
    const int medium = list().row_height();
    command(ID_FONT_LARGE);
    EXPECT_EQ(list().font_size(), 2);
    EXPECT_GT(list().row_height(), medium);
    command(ID_SHOW_DETAILS);
    EXPECT_EQ(list().details_mode(), 1);
    EXPECT_EQ(list().selection_mark(), 1);
    applyMenuRules(window->mainMenu(), window->menuState());
    EXPECT_TRUE(findCommand(window->mainMenu(), ID_SHOW_DETAILS)->isChecked());
    EXPECT_TRUE(findCommand(window->mainMenu(), ID_FONT_LARGE)->isChecked());
    EXPECT_FALSE(findCommand(window->mainMenu(), ID_FONT_MEDIUM)->isChecked());
    command(ID_SHOW_DETAILS);
    command(ID_FONT_MEDIUM);
    EXPECT_EQ(list().row_height(), medium);

    window->setFileChooser([](QWidget*) { return QString(); });
    command(ID_OPEN_FILE);
    EXPECT_EQ(observed(), State::Idle);
    EXPECT_TRUE(log->decoded.empty());
    EXPECT_EQ(window->panel(), CMainDialog::Panel::List);
}

// The window's own screens: the tips at the first start (once), Tips, About,
// and the details popup by key and by message, with the list disabled while
// the popup is open. Each screen is closed as soon as it shows.
TEST_F(MainWindowTest, HelpScreensAndTheDetailsPopupOpenFromTheWindow) {
    QStringList shown;
    std::function<void()> watch = [&] {
        QTimer::singleShot(0, [&] {
            if (QWidget* modal = QApplication::activeModalWidget()) {
                const bool listDisabled = window->list() && !window->list()->isEnabled();
                shown << QString::fromLatin1(modal->metaObject()->className()) +
                             (listDisabled ? " (list disabled)" : "");
                static_cast<QDialog*>(modal)->reject();
            }
        });
    };
    s::setTips(0);
    watch();
    open();
    EXPECT_EQ(s::tips(), 1);
    window.reset();
    watch();
    open();  // the tips were seen: the watch finds nothing to close
    QCoreApplication::processEvents();
    const QStringList firstStarts = {"lyb::ui::CTipsDlg"};
    EXPECT_EQ(shown, firstStarts);

    shown.clear();
    select(0);
    for (const std::function<void()>& trigger : std::initializer_list<std::function<void()>>{
             [&] { command(ID_TIPS); }, [&] { command(ID_ABOUT); }, [&] { key(Qt::Key_I); },
             [&] { window->handleMessage(CMainDialog::kShowDetailsMessage, 0, 0); }}) {
        activate();
        watch();
        trigger();
    }
    EXPECT_EQ(shown, QStringList({"lyb::ui::CTipsDlg", "lyb::ui::CAboutBoxHtml",
                                  "lyb::ui::CTestDialog (list disabled)",
                                  "lyb::ui::CTestDialog (list disabled)"}));
    EXPECT_TRUE(list().isEnabled());
}
