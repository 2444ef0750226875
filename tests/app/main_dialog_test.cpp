#include "app/main_dialog.h"

#include "app/message_box.h"
#include "app/request_dispatcher.h"
#include "app/settings.h"
#include "platform/desktop/desktop.h"
#include "platform/registry/registry.h"
#include "recording_playback.h"
#include "tests/app/memory_message_store.h"

#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <optional>

#include "qstring_print.h"

#include <gtest/gtest.h>

using namespace lyb::app;
namespace s = lyb::settings;

namespace {

constexpr int kTimeoutMs = 20000;

uint32_t playMessage() {
    return lyb::desktop::registerWindowMessage(QStringLiteral("TavolinPlay"));
}

// A main window with a recording engine and a short head start.
struct Window {
    explicit Window(IMessageStore* store = nullptr)
        : log(std::make_shared<PlaybackLog>()), dialog(store, playMessage()) {
        dialog.setPlayback(std::make_unique<CRecordingPlayback>(log));
        dialog.setHeadStart(50);
        // A start without an account asks nobody: the settings dialog is
        // cancelled, and the tips count as seen.
        dialog.setSettingsRunner([](QWidget*, QString*) { return IDCANCEL; });
        lyb::settings::setTips(1);
    }
    std::shared_ptr<PlaybackLog> log;
    CMainDialog dialog;
};

struct MessageBoxes {
    MessageBoxes() {
        setMessageBoxHandler([this](QWidget*, const QString& text, MessageIcon, MessageButtons) {
            texts.push_back(text);
            return IDOK;
        });
    }
    ~MessageBoxes() { setMessageBoxHandler({}); }
    std::vector<QString> texts;
};

QString localFileText(const QString& name) {
    return QStringLiteral("\n Playing local file:\n \n ") + name;
}

}  // namespace

TEST(MainDialog, LocalFileRequestShowsTheFileNameAndPlaysThePath) {
    Window w;
    w.dialog.setPendingRequest(QStringLiteral("/media/card/msg one.wav"));
    w.dialog.initialise();

    EXPECT_EQ(w.dialog.panel(), CMainDialog::Panel::LocalFile);
    EXPECT_EQ(w.dialog.infoPanelText(), localFileText(QStringLiteral("msg one.wav")));
    ASSERT_EQ(w.log->decoded.size(), 1u);
    EXPECT_EQ(w.log->decoded[0].path, QStringLiteral("/media/card/msg one.wav"));
    EXPECT_FALSE(w.log->decoded[0].fromStream);
    ASSERT_EQ(w.log->players.size(), 1u);
    EXPECT_EQ(w.log->players[0], CMainDialog::tempWavePath());
    EXPECT_TRUE(w.dialog.exitOnDone());
    EXPECT_FALSE(w.dialog.listMode());
    EXPECT_EQ(w.dialog.commandBar(), MenuId::PlayingScreen);
    EXPECT_EQ(w.dialog.softkey(false)->text(), QStringLiteral("Done"));
    EXPECT_EQ(w.dialog.pendingRequest(), QString());
    EXPECT_EQ(w.dialog.caption(), QStringLiteral("Lyrabell"));
    EXPECT_GE(w.dialog.raiseCount(), 1);
}

TEST(MainDialog, CallerRequestShowsTheCallerAndPlaysThePathBeforeTheMarker) {
    Window w;
    w.dialog.setPendingRequest(QStringLiteral("/v/m.gsm<lyb:Ann Lee (555)>"));
    w.dialog.initialise();
    EXPECT_EQ(w.dialog.panel(), CMainDialog::Panel::Caller);
    EXPECT_EQ(w.dialog.infoPanelText(),
              QStringLiteral("\n Playing voicemail from:\n \n Ann Lee (555)"));
    ASSERT_EQ(w.log->decoded.size(), 1u);
    EXPECT_EQ(w.log->decoded[0].path, QStringLiteral("/v/m.gsm"));
}

// Names from a message or a request and file names are shown as they are:
// read as markup, an <img> in one would be loaded by the panel.
TEST(MainDialog, PanelsShowMarkupInNamesAsText) {
    const QString markup = QStringLiteral("<img src='nonexistent.png'><b>x");
    CMemoryMessageStore store;
    MemoryVoicemail vm;
    vm.callerName = markup;
    store.add(QByteArray("id"), vm);
    s::setMsgEntryId(QByteArray("id"));  // for the first request only
    const QString requests[] = {QStringLiteral("<OID>"), QStringLiteral("/v/m.gsm<lyb:") + markup,
                                QStringLiteral("/v/") + markup};
    for (const QString& request : requests) {
        SCOPED_TRACE(request.toStdString());
        Window w(&store);
        w.dialog.setPendingRequest(request);
        w.dialog.initialise();
        EXPECT_EQ(w.dialog.infoPanelLabel()->textFormat(), Qt::PlainText);
        EXPECT_TRUE(w.dialog.infoPanelText().contains(QStringLiteral("<img src='nonexistent.png'")))
            << w.dialog.infoPanelText().toStdString();
    }
}

TEST(MainDialog, OneCharacterRequestStartsNormally) {
    Window w;
    w.dialog.setPendingRequest(QStringLiteral("x"));
    w.dialog.initialise();
    EXPECT_EQ(w.dialog.panel(), CMainDialog::Panel::List);
    EXPECT_TRUE(w.log->decoded.empty());
    EXPECT_FALSE(w.dialog.exitOnDone());
    EXPECT_TRUE(w.dialog.listMode());
}

TEST(MainDialog, NormalStartWithoutAccountUseShowsTheHint) {
    s::setUsingOutlook(0);
    Window w;
    w.dialog.initialise();
    EXPECT_EQ(w.dialog.panel(), CMainDialog::Panel::Hint);
    s::setUsingOutlook(1);
}

// The account chosen at the first start is written before the change is
// announced: a window the notice reaches (the Today item) reads the new one.
TEST(MainDialog, FirstStartAnnouncesTheAccountAfterWritingIt) {
    s::setMessageStore(QString());
    std::vector<QString> readOnNotice;
    lyb::desktop::TopLevelWindow today(
        QStringLiteral("Today"), QString(),
        [&](uint32_t message, quint64 wParam, qint64) {
            if (message == lyb::desktop::WM_SETTINGCHANGE && wParam == 0xF2)
                readOnNotice.push_back(s::messageStore());
            return qint64(0);
        },
        [] {});
    Window w;
    w.dialog.setSettingsRunner([](QWidget*, QString* account) {
        *account = QStringLiteral("Work");
        return IDOK;
    });
    w.dialog.initialise();
    EXPECT_EQ(readOnNotice, std::vector<QString>{QStringLiteral("Work")});
    s::setMessageStore(QString());
}

TEST(MainDialog, DecoderRefusalIsShownAndThePlaybackScreenOffersDone) {
    MessageBoxes boxes;
    Window w;
    w.log->failDecoding = true;
    w.log->decoderError = QStringLiteral("Invalid wav header.");
    w.dialog.setPendingRequest(QStringLiteral("/bad.wav"));
    w.dialog.initialise();
    ASSERT_EQ(boxes.texts.size(), 1u);
    EXPECT_EQ(boxes.texts[0], QStringLiteral("Invalid wav header."));
    EXPECT_TRUE(w.log->players.empty());
    EXPECT_EQ(w.dialog.infoPanelText(), localFileText(QStringLiteral("bad.wav")));
    // Nothing to resume, but Done is there and ends the handed-over request.
    EXPECT_FALSE(w.dialog.listMode());
    EXPECT_EQ(w.dialog.commandBar(), MenuId::PausedScreen);
    EXPECT_FALSE(w.dialog.softkey(true)->isEnabled());
    QTest::mouseClick(w.dialog.softkey(false), Qt::LeftButton);
    EXPECT_EQ(w.dialog.result(), IDOK);
    EXPECT_EQ(w.dialog.commandBar(), MenuId::MenuBar);
    EXPECT_EQ(w.dialog.softkey(true)->text(), QStringLiteral("Call Back"));
    EXPECT_TRUE(w.dialog.softkey(true)->isEnabled());

    // Failures without a decoder message are silent.
    w.log->decoderError.clear();
    w.dialog.dispatch(QStringLiteral("/missing.wav"));
    EXPECT_EQ(boxes.texts.size(), 1u);
}

TEST(MainDialog, PlayMessageReadsEmptiesAndDispatchesAutoPlay) {
    Window w;
    w.dialog.initialise();
    const int discardsBefore = w.log->discards;

    s::setAutoPlay(QStringLiteral("/calls/new.wav"));
    w.dialog.handleMessage(playMessage(), 0, 0);
    EXPECT_EQ(s::autoPlay(), QString());
    ASSERT_TRUE(QTest::qWaitFor([&] { return w.log->decoded.size() == 1; }, kTimeoutMs));
    EXPECT_EQ(w.log->decoded[0].path, QStringLiteral("/calls/new.wav"));
    EXPECT_EQ(s::autoPlay(), QString());
    EXPECT_FALSE(w.dialog.exitOnDone()) << "the window showed its list: it returns to it";
    EXPECT_GT(w.log->discards, discardsBefore);  // what played before was stopped

    // An empty value plays nothing and changes nothing.
    w.dialog.handleMessage(playMessage(), 0, 0);
    QCoreApplication::processEvents();
    EXPECT_EQ(w.log->decoded.size(), 1u);
    EXPECT_EQ(w.dialog.panel(), CMainDialog::Panel::LocalFile);
}

// A handed-over request is never handled inside the sender's call; it waits
// while the window is not ready or inside a piece of work, the last one
// counting, and is handled once neither holds.
TEST(RequestDispatcher, HandedOverRequestsWaitWhileBusy) {
    struct Case {
        bool ready;
        bool inScope;
        QStringList handed;
        QStringList handled;
    };
    const Case cases[] = {
        {true, false, {"/a.wav"}, {"/a.wav"}},
        {false, false, {"/a.wav", "/b.wav"}, {"/b.wav"}},
        {true, true, {"/a.wav", "", "/c.wav"}, {"/c.wav"}},
        {true, false, {""}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.handed.join(QLatin1Char(',')).toStdString());
        CRequestDispatcher dispatcher(nullptr);
        QStringList handled;
        QObject::connect(&dispatcher, &CRequestDispatcher::localFileRequested,
                         [&](const QString& path, const QString&) { handled << path; });
        if (c.ready)
            dispatcher.setReady();
        {
            std::optional<CRequestDispatcher::ModalScope> scope;
            if (c.inScope)
                scope.emplace(dispatcher);
            for (const QString& request : c.handed) {
                s::setAutoPlay(request);
                dispatcher.takeHandedOver();
                EXPECT_EQ(s::autoPlay(), QString());
                EXPECT_TRUE(handled.isEmpty());
            }
            QCoreApplication::processEvents();
            EXPECT_EQ(handled, dispatcher.busy() ? QStringList() : c.handled);
        }
        dispatcher.setReady();
        QCoreApplication::processEvents();
        EXPECT_EQ(handled, c.handled);
    }
}

// The sender of the play message (the launcher, holding the hand-over lock)
// has its answer before the decoding starts or a message box comes up.
TEST(MainDialog, PlayMessageIsAnsweredBeforeTheWork) {
    for (const bool refused : {false, true}) {
        SCOPED_TRACE(refused);
        Window w;
        w.dialog.initialise();
        bool answered = false;
        std::vector<bool> answeredAtWork;
        w.log->onDecode = [&] { answeredAtWork.push_back(answered); };
        w.log->failDecoding = refused;
        w.log->decoderError = QStringLiteral("Invalid wav header.");
        setMessageBoxHandler([&](QWidget*, const QString&, MessageIcon, MessageButtons) {
            answeredAtWork.push_back(answered);
            return IDOK;
        });
        s::setAutoPlay(QStringLiteral("/calls/new.wav"));
        EXPECT_TRUE(lyb::desktop::sendMessage(w.dialog.desktopHandle(), playMessage(), 0, 0));
        answered = true;
        ASSERT_TRUE(QTest::qWaitFor([&] { return answeredAtWork.size() == 1; }, kTimeoutMs));
        EXPECT_TRUE(answeredAtWork[0]);
        setMessageBoxHandler({});
    }
}

TEST(MainDialog, PlayMessageDuringTheDecodingWaitIsHandledWhenItEnds) {
    Window w;
    w.dialog.setHeadStart(300);
    QString captionWhenArrived;
    bool busyWhenArrived = false;
    w.log->onDecode = [&] {
        if (w.log->decoded.size() != 1)
            return;
        QTimer::singleShot(20, [&] {
            captionWhenArrived = w.dialog.caption();
            busyWhenArrived = w.dialog.busy();
            // Each value is taken at once, so that the next sender may write
            // its own; acted on after the wait, where the last one counts.
            for (const char* request : {"/second.wav", "/third.wav", ""}) {
                s::setAutoPlay(QString::fromUtf8(request));
                w.dialog.handleMessage(playMessage(), 0, 0);
                EXPECT_EQ(s::autoPlay(), QString());
            }
            EXPECT_EQ(w.log->decoded.size(), 1u);
        });
    };
    w.dialog.setPendingRequest(QStringLiteral("/first.wav"));
    w.dialog.initialise();

    EXPECT_EQ(captionWhenArrived, QStringLiteral("Decoding..."));
    EXPECT_TRUE(busyWhenArrived);
    ASSERT_TRUE(QTest::qWaitFor([&] { return w.log->decoded.size() == 2; }, kTimeoutMs));
    EXPECT_EQ(w.log->decoded[1].path, QStringLiteral("/third.wav"));
    EXPECT_EQ(w.dialog.infoPanelText(), localFileText(QStringLiteral("third.wav")));
    EXPECT_EQ(s::autoPlay(), QString());
}

TEST(MainDialog, PlayMessageBeforeInitialisationWaitsForIt) {
    Window w;
    s::setAutoPlay(QStringLiteral("/early.wav"));
    w.dialog.handleMessage(playMessage(), 0, 0);
    EXPECT_TRUE(w.log->decoded.empty());
    EXPECT_EQ(s::autoPlay(), QString());

    w.dialog.initialise();
    ASSERT_TRUE(QTest::qWaitFor([&] { return w.log->decoded.size() == 1; }, kTimeoutMs));
    EXPECT_EQ(w.log->decoded[0].path, QStringLiteral("/early.wav"));
    EXPECT_EQ(s::autoPlay(), QString());
}

TEST(MainDialog, DoneAfterAHandedOverRequestClosesTheWindow) {
    Window w;
    w.dialog.setPendingRequest(QStringLiteral("/a.wav"));
    w.dialog.initialise();
    ASSERT_TRUE(w.dialog.exitOnDone());
    w.dialog.close_playback();
    EXPECT_EQ(w.dialog.result(), IDOK);
    EXPECT_FALSE(w.dialog.exitOnDone());
    EXPECT_TRUE(w.dialog.listMode());
}

TEST(MainDialog, StoredMessageRequestShowsDetailsAndPlaysTheAttachment) {
    CMemoryMessageStore store;
    MemoryVoicemail vm;
    vm.callerName = QStringLiteral("Ann Lee");
    vm.callerNumber = QStringLiteral("5551234");
    vm.lengthSeconds = 75;
    vm.audioType = QStringLiteral(".GSM");
    vm.audio = {1, 2, 3};
    store.add(QByteArray("\x01\x02id", 4), vm);
    s::setMsgEntryId(QByteArray("\x01\x02id", 4));

    Window w(&store);
    w.dialog.setNumberFormatter([](const QString& n) { return QStringLiteral("[%1]").arg(n); });
    w.dialog.setPendingRequest(QStringLiteral("<oId>"));
    w.dialog.initialise();

    EXPECT_EQ(w.dialog.panel(), CMainDialog::Panel::Details);
    EXPECT_TRUE(w.dialog.infoPanelText().startsWith(
        QStringLiteral("Message From: Ann Lee ([5551234])\n\nLength: 01:15\n\nReceived: ")))
        << w.dialog.infoPanelText().toStdString();
    ASSERT_EQ(w.log->decoded.size(), 1u);
    EXPECT_TRUE(w.log->decoded[0].fromStream);
    EXPECT_TRUE(w.log->decoded[0].isGsm);
    EXPECT_TRUE(w.dialog.exitOnDone());
    EXPECT_FALSE(w.dialog.listMode());
    // The identifier is used once; the request's own session is released.
    ASSERT_TRUE(s::msgEntryId().has_value());
    EXPECT_TRUE(s::msgEntryId()->isEmpty());
    EXPECT_EQ(store.logons(), 1);
    EXPECT_EQ(store.sessionsAlive(), 0);

    // Handed to a window that shows its list, Done returns to the list.
    s::setUsingOutlook(0);
    s::setMsgEntryId(QByteArray("\x01\x02id", 4));
    Window listed(&store);
    listed.dialog.initialise();
    listed.dialog.dispatch(QStringLiteral("<OID>"));
    EXPECT_EQ(listed.dialog.panel(), CMainDialog::Panel::Details);
    listed.dialog.close_playback();
    EXPECT_EQ(listed.dialog.result(), 0);
    EXPECT_EQ(listed.dialog.panel(), CMainDialog::Panel::Hint);
    s::setUsingOutlook(1);
}

TEST(MainDialog, StoredMessageRequestWithoutAUsableMessageDoesNothing) {
    CMemoryMessageStore store;
    MemoryVoicemail silent;
    silent.hasAudio = false;
    store.add("silent", silent);

    {  // MsgEntryID missing: the store is not asked.
        if (const auto key = lyb::reg::Key::open(lyb::reg::Hive::CurrentUser, s::sectionKeyPath()))
            key->deleteValue(QString::fromLatin1(s::kMsgEntryId));
        Window w(&store);
        w.dialog.setPendingRequest(QStringLiteral("<OID>"));
        w.dialog.initialise();
        EXPECT_TRUE(w.log->decoded.empty());
        EXPECT_FALSE(w.dialog.exitOnDone());
        EXPECT_EQ(store.logons(), 0);
    }
    {  // Empty identifier.
        s::setMsgEntryId(QByteArray());
        Window w(&store);
        w.dialog.dispatch(QStringLiteral("<OID>"));
        EXPECT_TRUE(w.log->decoded.empty());
        EXPECT_FALSE(w.dialog.exitOnDone());
    }
    {  // Not a voicemail: emptied all the same, session released.
        s::setMsgEntryId("unknown");
        Window w(&store);
        w.dialog.dispatch(QStringLiteral("<OID>"));
        EXPECT_TRUE(w.log->decoded.empty());
        EXPECT_TRUE(s::msgEntryId()->isEmpty());
        EXPECT_EQ(store.sessionsAlive(), 0);
    }
    {  // A voicemail without its recording: the panel shows, nothing plays.
        s::setMsgEntryId("silent");
        Window w(&store);
        w.dialog.dispatch(QStringLiteral("<OID>"));
        EXPECT_TRUE(w.log->decoded.empty());
        EXPECT_EQ(w.dialog.panel(), CMainDialog::Panel::Details);
        EXPECT_TRUE(w.dialog.infoPanelText().startsWith(
            QStringLiteral("Message From: Unknown caller\n\nLength: n/a\n\n")));
        EXPECT_TRUE(w.dialog.exitOnDone());
        EXPECT_EQ(w.dialog.commandBar(), MenuId::PausedScreen);
    }
    {  // Logon fails.
        store.setLogonFails(true);
        s::setMsgEntryId("silent");
        Window w(&store);
        w.dialog.dispatch(QStringLiteral("<OID>"));
        EXPECT_NE(w.dialog.panel(), CMainDialog::Panel::Details);
    }
}

TEST(MainDialog, DetailsSenderFromNameAndNumber) {
    struct Case {
        const char* name;
        const char* number;
        int32_t length;
        const char* expected;
    };
    const Case cases[] = {
        {"Ann", "", 0, "Message From: Ann\n\nLength: 00:00\n\n"},
        {"", "555", 59, "Message From: 555\n\nLength: 00:59\n\n"},
        {"Ann", "555", 6000, "Message From: Ann (555)\n\nLength: 100:00\n\n"},
        {"", "", -1, "Message From: Unknown caller\n\nLength: n/a\n\n"},
    };
    for (const Case& c : cases) {
        CMemoryMessageStore store;
        MemoryVoicemail vm;
        vm.callerName = QString::fromUtf8(c.name);
        vm.callerNumber = QString::fromUtf8(c.number);
        vm.lengthSeconds = c.length;
        store.add("id", vm);
        const auto session = store.logon();
        const auto record = session->open_voicemail("id");
        Window w;
        w.dialog.show_details_panel(record.get());
        EXPECT_TRUE(w.dialog.infoPanelText().startsWith(QString::fromUtf8(c.expected)))
            << w.dialog.infoPanelText().toStdString();
        w.dialog.show_details_panel(nullptr);
        EXPECT_EQ(w.dialog.panel(), CMainDialog::Panel::List);
        EXPECT_EQ(w.dialog.infoPanelText(), QString());
    }
}

TEST(MainDialog, DestructionDeletesTheTemporaryFiles) {
    const QString folder = lyb::desktop::runtimeDir();
    const QStringList files = {CMainDialog::tempWavePath(), folder + QStringLiteral("/lyb.gsm"),
                               folder + QStringLiteral("/lyb.wav")};
    for (const QString& path : files) {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    { Window w; }
    for (const QString& path : files)
        EXPECT_FALSE(QFile::exists(path)) << path.toStdString();
    { Window w; }  // missing files are no error
}
