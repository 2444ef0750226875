// The Today item as a host sees it: the library loaded with dlopen from a
// folder of its own (beside a recording "lyrabell"), its entry point called
// with a test host's widget, refresh queries sent as the host sends them.
#include <dlfcn.h>

#include <gtest/gtest.h>

#include <QApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QTest>
#include <QWidget>

#include "platform/registry/registry.h"
#include "tests/platform/mapi/maildir_fixture.h"
#include "tests/today/today_account.h"
#include "today/named_event.h"
#include "today/today_protocol.h"
#include "today/voicemail_count.h"

namespace lyb::today {
namespace {

using testing::freshDir;
using testing::MaildirFixture;
using testing::MailParts;
using testing::voicemailMail;

constexpr QRgb kWatermark = 0xFF2040C0;
constexpr QRgb kText = 0xFFE01010;

// A mail with the given attachments in order, each a name (may be empty) and a type.
QByteArray mailWith(const std::vector<std::pair<QByteArray, QByteArray>>& attachments) {
    QByteArray m =
        "From: pbx@example.net\r\nTo: a@example.org\r\nSubject: Voice Mail\r\n"
        "Date: Tue, 01 Dec 2026 09:30:00 +0000\r\nMIME-Version: 1.0\r\n"
        "Content-Type: multipart/mixed; boundary=\"b\"\r\n\r\n"
        "--b\r\nContent-Type: text/plain\r\n\r\nA message.\r\n";
    for (const auto& [name, type] : attachments) {
        m += "--b\r\nContent-Type: " + type + "\r\nContent-Transfer-Encoding: base64\r\n";
        m += "Content-Disposition: attachment";
        if (!name.isEmpty())
            m += "; filename=\"" + name + "\"";
        m += "\r\n\r\n" + QByteArray("RIFF0000WAVE").toBase64() + "\r\n";
    }
    return m + "--b--\r\n";
}

// The test host: answers the colour and watermark requests, keeps the
// selection notices.
class TestHost : public QWidget {
public:
    int colourAsks = 0;
    int watermarks = 0;
    quint64 tookSelection = 0;
    int countsIn = 0;

protected:
    bool event(QEvent* e) override {
        const auto type = static_cast<uint32_t>(e->type());
        if (type == kCountIn) {
            ++countsIn;
            return true;
        }
        if (type != kGetColor && type != kDrawWatermark && type != kTookSelection)
            return QWidget::event(e);
        auto* m = static_cast<WindowMessage*>(e);
        if (type == kGetColor) {
            ++colourAsks;
            EXPECT_EQ(m->wParam, kColorText);
            m->result = qRed(kText) | (qGreen(kText) << 8) | (qBlue(kText) << 16);
        } else if (type == kDrawWatermark) {
            ++watermarks;
            const auto* info = reinterpret_cast<TodayDrawWatermarkInfo*>(m->lParam);
            info->painter->fillRect(info->rect, QColor(kWatermark));
            m->result = 1;
        } else {
            tookSelection = m->wParam;
        }
        return true;
    }
};

// One loaded copy of the library, in a folder of its own, so every test
// starts with fresh module state.
struct LoadedItem {
    QString folder = freshDir(QStringLiteral("today"));
    void* handle = nullptr;
    TestHost host;
    TodayListItem record;
    QWidget* item = nullptr;

    LoadedItem() {
        const QString copy = folder + QStringLiteral("/liblybtoday.so");
        EXPECT_TRUE(QFile::copy(QStringLiteral(LYB_TODAY_LIBRARY), copy));
        handle = dlopen(QFile::encodeName(copy).constData(), RTLD_NOW | RTLD_LOCAL);
        EXPECT_NE(handle, nullptr) << dlerror();
        host.resize(300, 40);
    }
    ~LoadedItem() {
        delete item;
        // What the item posted to the host was made by the library's code.
        QCoreApplication::removePostedEvents(&host);
        if (handle)
            dlclose(handle);
    }
    void initialize() {
        ASSERT_NE(handle, nullptr);
        auto init = reinterpret_cast<InitializeCustomItemFn>(dlsym(handle, kEntryPointName));
        ASSERT_NE(init, nullptr);
        item = init(&record, &host);
        ASSERT_NE(item, nullptr);
        EXPECT_EQ(item->parentWidget(), &host);
    }
    bool query() {
        WindowMessage q(kRefreshQuery, reinterpret_cast<quintptr>(&record), 0);
        QCoreApplication::sendEvent(item, &q);
        return q.result != 0;
    }
    QString text() const { return item->accessibleName(); }
    // Handles events until the count asked for is in (or a minute passed).
    void settle() {
        QDeadlineTimer deadline(60000);
        while (item->property("counting").toBool() && !deadline.hasExpired())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        EXPECT_FALSE(item->property("counting").toBool()) << "the count never came in";
    }
};

class TodayItemTest : public ::testing::Test {
protected:
    void SetUp() override {
        removeEvent(QLatin1String(kShellReadyEvent));
        testing::chooseTodayAccount(md);
    }
    MaildirFixture md;
};

TEST_F(TodayItemTest, CountsAndTexts) {
    const std::pair<int, const char*> cases[] = {{0, "You have no new voicemails"},
                                                 {1, "You got 1 new voicemail"},
                                                 {2, "You got 2 new voicemails"}};
    int delivered = 0;
    for (const auto& [count, text] : cases) {
        for (; delivered < count; ++delivered)
            md.deliver(voicemailMail());
        LoadedItem loaded;
        loaded.initialize();
        EXPECT_EQ(loaded.text(), QString());  // counted off this thread
        loaded.settle();
        EXPECT_EQ(loaded.text(), QLatin1String(text)) << count;
        EXPECT_EQ(loaded.item->windowTitle(), QStringLiteral("Lyrabell"));
    }
}

TEST_F(TodayItemTest, RecognitionAsWritten) {
    struct Case {
        const char* what;
        QByteArray mail;
        const char* flags;  // null: unread, in new/
        long expected;
    };
    const Case cases[] = {
        {"unread voicemail", voicemailMail(), nullptr, 1},
        {"read voicemail", voicemailMail(), "S", 0},
        {"unread, seen flag missing, in cur/", voicemailMail(), "", 1},
        {"picture only", mailWith({{"photo.jpg", "image/jpeg"}}), nullptr, 0},
        {"greeting.WAV by name", mailWith({{"greeting.WAV", "application/octet-stream"}}), nullptr,
         1},
        {"gsm by type", mailWith({{"", "audio/x-gsm"}}), nullptr, 1},
        {"wave then text", mailWith({{"message.wav", "audio/wav"}, {"notes.txt", "text/plain"}}),
         nullptr, 1},
        {"text then wave", mailWith({{"notes.txt", "text/plain"}, {"message.wav", "audio/wav"}}),
         nullptr, 1},
    };
    for (const Case& c : cases) {
        MaildirFixture box;
        testing::chooseTodayAccount(box);
        box.deliver(c.mail, c.flags ? QString::fromLatin1(c.flags) : QString());
        EXPECT_EQ(countNewVoicemails(), c.expected) << c.what;
    }
}

TEST_F(TodayItemTest, NoAccountCountsNothing) {
    md.deliver(voicemailMail());
    const auto key = reg::Key::open(reg::Hive::CurrentUser,
                                    QStringLiteral("Software\\Corvendale\\Lyrabell\\Lyrabell"));
    ASSERT_TRUE(key);
    ASSERT_TRUE(key->writeString(QStringLiteral("Message Store"), QStringLiteral("Elsewhere")));
    EXPECT_EQ(countNewVoicemails(), 0);
    ASSERT_TRUE(key->deleteValue(QStringLiteral("Message Store")));
    EXPECT_EQ(countNewVoicemails(), 0);
}

TEST_F(TodayItemTest, QueriesRecountEveryThirdAndAskForRepaintOnChange) {
    md.deliver(voicemailMail());
    LoadedItem loaded;
    loaded.initialize();
    loaded.settle();
    ASSERT_EQ(loaded.text(), QStringLiteral("You got 1 new voicemail"));

    // Without a record nothing happens.
    WindowMessage bare(kRefreshQuery, 0, 0);
    QCoreApplication::sendEvent(loaded.item, &bare);
    EXPECT_EQ(bare.result, 0);

    // The first query sets the height and asks for a repaint, count unchanged.
    EXPECT_TRUE(loaded.query());
    const int dpiY = qRound(QGuiApplication::primaryScreen()->logicalDotsPerInchY());
    EXPECT_EQ(loaded.record.itemHeight, (dpiY * 20 + 48) / 96);
    loaded.settle();

    md.deliver(voicemailMail());
    EXPECT_FALSE(loaded.query());
    EXPECT_FALSE(loaded.query());
    EXPECT_FALSE(loaded.item->property("counting").toBool());
    EXPECT_EQ(loaded.text(), QStringLiteral("You got 1 new voicemail"));
    EXPECT_FALSE(loaded.query());  // the fourth starts a recount
    loaded.settle();
    QCoreApplication::processEvents();
    EXPECT_EQ(loaded.text(), QStringLiteral("You got 2 new voicemails"));
    EXPECT_EQ(loaded.host.countsIn, 2);  // the first count, and this one
    EXPECT_TRUE(loaded.query());         // the next query shows it too
    EXPECT_FALSE(loaded.query());
    EXPECT_FALSE(loaded.query());  // recounts, nothing changed
    loaded.settle();
    QCoreApplication::processEvents();
    EXPECT_FALSE(loaded.query());
    EXPECT_EQ(loaded.host.countsIn, 2);
}

TEST_F(TodayItemTest, ShellNotReadyHoldsTheCount) {
    LoadedItem loaded;
    loaded.initialize();
    loaded.settle();
    md.deliver(voicemailMail());
    ASSERT_TRUE(createEvent(QLatin1String(kShellReadyEvent), false));
    for (int i = 0; i < 4; ++i)
        EXPECT_FALSE(loaded.query());
    EXPECT_EQ(loaded.record.itemHeight, 0);
    EXPECT_EQ(loaded.text(), QStringLiteral("You have no new voicemails"));

    // Once ready, the next query is the first that counts.
    ASSERT_TRUE(setEvent(QLatin1String(kShellReadyEvent)));
    EXPECT_TRUE(loaded.query());
    loaded.settle();
    EXPECT_EQ(loaded.text(), QStringLiteral("You got 1 new voicemail"));
}

TEST_F(TodayItemTest, PaintsOverTheWatermarkInTheHostsColour) {
    md.deliver(voicemailMail());
    LoadedItem loaded;
    loaded.initialize();
    loaded.settle();
    ASSERT_TRUE(loaded.query());
    loaded.item->resize(loaded.host.width(), loaded.record.itemHeight);
    const QImage shot = loaded.item->grab().toImage();
    EXPECT_GE(loaded.host.watermarks, 1);
    EXPECT_GE(loaded.host.colourAsks, 1);
    EXPECT_EQ(shot.pixel(shot.width() - 1, shot.height() - 1), kWatermark);
    int textPixels = 0;
    for (int y = 0; y < shot.height(); ++y)
        for (int x = 0; x < shot.width(); ++x)
            textPixels += shot.pixel(x, y) == kText;
    EXPECT_GT(textPixels, 20);
    if (qEnvironmentVariableIsSet("LYB_TODAY_SHOT"))
        shot.save(qEnvironmentVariable("LYB_TODAY_SHOT"));
}

TEST_F(TodayItemTest, PenDownTakesSelectionAndPenUpStartsLyrabell) {
    LoadedItem loaded;
    const QString marker = loaded.folder + QStringLiteral("/started");
    QFile script(loaded.folder + QStringLiteral("/lyrabell"));
    ASSERT_TRUE(script.open(QIODevice::WriteOnly));
    // Written whole under another name and renamed, so the marker is never
    // seen empty.
    script.write("#!/bin/sh\necho \"$#\" > '" + marker.toUtf8() + ".part' && mv '" +
                 marker.toUtf8() + ".part' '" + marker.toUtf8() + "'\n");
    script.close();
    script.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    loaded.initialize();
    loaded.item->resize(200, 20);

    QTest::mousePress(loaded.item, Qt::LeftButton);
    QCoreApplication::processEvents();
    EXPECT_EQ(loaded.host.tookSelection, reinterpret_cast<quintptr>(loaded.item));
    EXPECT_FALSE(QFile::exists(marker));
    QTest::mouseRelease(loaded.item, Qt::LeftButton);

    QDeadlineTimer deadline(20000);
    while (!QFile::exists(marker) && !deadline.hasExpired())
        QTest::qWait(20);
    QFile started(marker);
    ASSERT_TRUE(started.open(QIODevice::ReadOnly)) << "lyrabell was not started";
    EXPECT_EQ(started.readAll().trimmed(), "0");  // no parameters
}

}  // namespace
}  // namespace lyb::today
