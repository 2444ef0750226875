// Keeping a voicemail and taking back a delete, on a real Maildir: Save
// Recording As… (the store's export, as the window and lybtool run it), a
// row dragged out of the list, and Undo after Delete.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMimeData>
#include <QProcess>
#include <QUrl>

#include <condition_variable>
#include <memory>
#include <mutex>

#include "audio/decode/wave_decoder.h"
#include "store/deleted_messages.h"
#include "store/recording_export.h"
#include "tests/audio/decode/wave_bytes.h"
#include "tests/platform/mapi/maildir_fixture.h"
#include "ui/voicemail_list.h"

using lyb::store::ExportKind;
using lyb::testing::freshDir;
using lyb::testing::MaildirFixture;
using lyb::testing::MailParts;

namespace {

QByteArray readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

// Half a second of G.711 mu-law: a recording the player decodes to PCM.
QByteArray muLawWave() {
    const auto bytes = lyb::audio::test::WaveBytes()
                           .header(7, 1, 8000, 1, 8)
                           .data(lyb::audio::test::Pattern(4000))
                           .bytes();
    return QByteArray(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size()));
}

// The player's file for a recording, made as the player makes it.
QByteArray decodedAsThePlayerDoes(const QByteArray& recording) {
    struct Finished final : lyb::audio::IDecodeNotifier {
        void post(uint32_t message, const std::string&) override {
            std::lock_guard lock(mutex);
            done = done || message == lyb::audio::WM_DECODING_FINISHED;
            ended.notify_all();
        }
        std::mutex mutex;
        std::condition_variable ended;
        bool done = false;
    } finished;
    const QString folder = freshDir("player");
    QFile f(folder + "/in.wav");
    f.open(QIODevice::WriteOnly);
    f.write(recording);
    f.close();
    lyb::audio::CWaveDecoder job((folder + "/in.wav").toStdString(),
                                 (folder + "/lybtemp.wav").toStdString(), &finished);
    job.Start();
    std::unique_lock lock(finished.mutex);
    finished.ended.wait(lock, [&] { return finished.done; });
    return readFile(folder + "/lybtemp.wav");
}

struct ToolRun {
    int status;
    QString out;
};

ToolRun lybtool(const QStringList& args) {
    QProcess p;
    p.start(QStringLiteral(LYB_BINARY_DIR "/bin/lybtool"), args);
    p.waitForFinished(60000);
    return {p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()).trimmed()};
}

// Every test gets its own registry, accounts file and Maildir with one
// account, "Voicemail".
class KeepVoicemailTest : public ::testing::Test {
protected:
    KeepVoicemailTest() {
        const QString own = freshDir("world");
        qputenv("LYRABELL_REGISTRY", QFile::encodeName(own + "/registry.sqlite3"));
        qputenv("LYRABELL_ACCOUNTS", QFile::encodeName(own + "/accounts.conf"));
        qputenv("LYRABELL_CONTACTS", QFile::encodeName(freshDir("contacts")));
        qputenv("XDG_STATE_HOME", QFile::encodeName(freshDir("state")));
        QFile accounts(own + "/accounts.conf");
        accounts.open(QIODevice::WriteOnly);
        accounts.write("Voicemail = " + md_.root.toUtf8() + "\n");
    }

    // A voicemail from Rita Moreno with this recording; flags as the fixture takes them.
    QString deliver(const QByteArray& recording, const QString& flags = QString()) {
        MailParts p;
        p.textBody = "Caller Name: Rita Moreno\r\n";
        p.attachData = recording;
        return md_.deliver(lyb::testing::voicemailMail(p), flags);
    }
    void populate() {
        lyb::store::CMapiSession session;
        ASSERT_TRUE(lyb::store::logon(session));
        list.populate(session, QStringLiteral("Voicemail"));
    }
    QString entryIdHex(int row) const {
        return QString::fromLatin1(list.record_at(row)->entry_id().toHex());
    }

    MaildirFixture md_;
    lyb::ui::CVoiceMailList list;
};

}  // namespace

// Both kinds, through the store as the window calls it and through lybtool:
// as received is the attachment's bytes, as WAV the player's own file; a
// file that exists is never replaced unasked.
TEST_F(KeepVoicemailTest, SaveAsWritesTheBytesReceivedOrThePlayersFileAndKeepsExistingFiles) {
    const QByteArray recording = muLawWave();
    deliver(recording);
    populate();
    const QByteArray wave = decodedAsThePlayerDoes(recording);
    ASSERT_EQ(wave.size(), 44 + 2 * 4000);  // header and 16-bit samples
    const QString id = entryIdHex(0);
    const struct {
        const char* what;
        ExportKind kind;
        bool tool;
        QByteArray expected;
    } cases[] = {
        {"window, as received", ExportKind::AsReceived, false, recording},
        {"window, as WAV", ExportKind::Wav, false, wave},
        {"lybtool, as received", ExportKind::AsReceived, true, recording},
        {"lybtool, as WAV", ExportKind::Wav, true, wave},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const QString target = freshDir("kept") + "/kept.wav";
        auto save = [&] {
            if (c.tool)
                return lybtool(QStringList{"export", id, target} +
                               (c.kind == ExportKind::Wav ? QStringList{"--wav"} : QStringList{}))
                           .status == 0;
            QString error;
            return lyb::store::exportRecording(*list.record_at(0), c.kind, target, false, &error);
        };
        ASSERT_TRUE(save());
        EXPECT_EQ(readFile(target), c.expected);
        EXPECT_EQ(QDir(QFileInfo(target).path()).entryList(QDir::Files | QDir::Hidden),
                  QStringList{"kept.wav"});  // no temporary file left beside it
        QFile(target).remove();
        QFile(target).open(QIODevice::WriteOnly);  // someone else's file appears
        EXPECT_FALSE(save());
        EXPECT_EQ(readFile(target), QByteArray());
    }
    // A folder as lybtool's target gets the name the window's dialog offers.
    const QString folder = freshDir("folder");
    ASSERT_EQ(lybtool({"export", id, folder}).status, 0);
    const QStringList named = QDir(folder).entryList(QDir::Files);
    ASSERT_EQ(named.size(), 1);
    EXPECT_TRUE(named[0].startsWith("Rita Moreno 2026-12-0")) << named[0].toStdString();
    EXPECT_TRUE(named[0].endsWith(".wav"));
}

TEST(KeepVoicemail, FileNamesNameTheCallerAndLoseWhatFileNamesCannotHold) {
    const struct {
        const char* caller;
        const char* number;
        int64_t received;
        const char* expected;
    } cases[] = {
        {"Rita Moreno", "4155550001", 0, "Rita Moreno.gsm"},
        {"", "+1 415 555 0001", 0, "+1 415 555 0001.gsm"},
        {"", "", 0, "Unknown caller.gsm"},
        {"AC/DC: \"live\"?", "", 0, "AC_DC_ _live__.gsm"},
        {".hidden", "", 0, "_hidden.gsm"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(lyb::store::exportFileName(c.caller, c.number, c.received, ".gsm"), c.expected);
    const QString dated = lyb::store::exportFileName("A", "", 1796117400, ".wav");
    EXPECT_EQ(dated, "A " + QDateTime::fromSecsSinceEpoch(1796117400).toString("yyyy-MM-dd hh.mm") +
                         ".wav");
}

// A row dragged out of the list is its recording as a file, named as Save As
// names it; the placeholder gives nothing to drag.
TEST_F(KeepVoicemailTest, DraggingARowOutGivesItsRecordingAsAFile) {
    const QByteArray recording = muLawWave();
    deliver(recording);
    populate();
    std::unique_ptr<QMimeData> data(list.drag_mime_data(0));
    ASSERT_NE(data, nullptr);
    ASSERT_EQ(data->urls().size(), 1);
    const QUrl url = data->urls()[0];
    ASSERT_TRUE(url.isLocalFile());
    EXPECT_TRUE(url.toLocalFile().startsWith(qEnvironmentVariable("XDG_RUNTIME_DIR")));
    EXPECT_TRUE(QFileInfo(url.toLocalFile()).fileName().startsWith("Rita Moreno 2026-12-0"));
    EXPECT_EQ(readFile(url.toLocalFile()), recording);
    EXPECT_TRUE(data->hasFormat("text/uri-list"));

    ASSERT_TRUE(list.delete_row(0));
    EXPECT_EQ(list.drag_mime_data(0), nullptr);  // the placeholder
}

// Undo from the window (the store), lybtool with the account and with the
// message's id: the file goes back to the folder it left under the name it
// had, so its flags (Seen among them) are as they were.
TEST_F(KeepVoicemailTest, UndoPutsTheFileBackWhereItWasWithItsFlags) {
    const struct {
        const char* what;
        const char* flags;  // null: delivered to new/
        const char* via;    // "store", "account" or "id"
    } cases[] = {
        {"read, by the window", "S", "store"},
        {"flagged and read, by account", "FS", "account"},
        {"unread in cur, by id", "", "id"},
        {"new, by the window", nullptr, "store"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const QString unique =
            deliver(muLawWave(), c.flags ? QString::fromLatin1(c.flags) : QString());
        const QString before = md_.pathOf(unique);
        const QString sub = QFileInfo(before).dir().dirName();
        populate();
        ASSERT_EQ(list.row_count(), 1);
        const QString id = entryIdHex(0);
        ASSERT_TRUE(list.delete_row(0));
        ASSERT_TRUE(md_.pathOf(unique).isEmpty());
        EXPECT_EQ(QDir(md_.root + "/.Trash/" + sub).entryList(QDir::Files),
                  QStringList{QFileInfo(before).fileName()});
        struct stat st {};
        ASSERT_EQ(::stat(QFile::encodeName(lyb::store::deleted_state_path()), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u);

        if (QByteArrayView(c.via) == "store") {
            lyb::store::CMapiSession session;
            ASSERT_TRUE(lyb::store::logon(session));
            const auto last =
                lyb::store::last_deleted(lyb::store::folder_entry_id(*list.list_model()->folder()));
            ASSERT_TRUE(last.has_value());
            EXPECT_FALSE(lyb::store::undelete(session, *last).isEmpty());
        } else {
            const ToolRun run = lybtool(
                {"undelete", QByteArrayView(c.via) == "id" ? id : QStringLiteral("Voicemail")});
            EXPECT_EQ(run.status, 0);
            EXPECT_EQ(run.out, id);  // the same message, the same entry id
        }
        EXPECT_EQ(md_.pathOf(unique), before);
        EXPECT_TRUE(QDir(md_.root + "/.Trash/" + sub).entryList(QDir::Files).isEmpty());
        // Taken back once: nothing is left to take back.
        EXPECT_EQ(lybtool({"undelete", "Voicemail"}).status, 1);
        populate();
        ASSERT_EQ(list.row_count(), 1);
        EXPECT_EQ(list.record_at(0)->is_read(), c.flags && QByteArrayView(c.flags).contains('S'));
        QFile::remove(before);
    }
}

// lybtool list --json gives a script what the row shows: the number in both
// forms and the received time as ISO 8601 with its offset from UTC.
TEST_F(KeepVoicemailTest, ListJsonCarriesTheNumbersBothFormsAndTheInstantReceived) {
    MailParts p;
    p.textBody = "Caller ID: 617-555-0002\r\n";
    md_.deliver(lyb::testing::voicemailMail(p));
    qputenv("LYRABELL_REGION", "US");
    const ToolRun run = lybtool({"list", "Voicemail", "--json"});
    ASSERT_EQ(run.status, 0);
    const QJsonObject row = QJsonDocument::fromJson(run.out.toUtf8()).array().at(0).toObject();
    EXPECT_EQ(row["caller_number"].toString(), "6175550002");
    EXPECT_EQ(row["caller_number_display"].toString(), "617.555.0002");
    const QDateTime received = QDateTime::fromString(row["received"].toString(), Qt::ISODate);
    EXPECT_EQ(received.toSecsSinceEpoch(), row["received_time"].toInteger());
    EXPECT_EQ(received.toSecsSinceEpoch(), 1796117400);  // 1 Dec 2026 09:30 UTC
}
