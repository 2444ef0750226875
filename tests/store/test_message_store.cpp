#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "platform/mapi/maildir_provider.h"
#include "store/message_store.h"
#include "tests/platform/mapi/maildir_fixture.h"

using namespace lyb::store;
using lyb::testing::MaildirFixture;
using lyb::testing::MailParts;

namespace {

void writeAccounts(const QByteArray& text) {
    const QString path = lyb::mapi::accountsFilePath();
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(text);
}

class MessageStoreTest : public ::testing::Test {
protected:
    void TearDown() override { QFile::remove(lyb::mapi::accountsFilePath()); }

    std::vector<std::unique_ptr<CVoiceMailMessage>> population(const QString& account) {
        std::vector<std::unique_ptr<CVoiceMailMessage>> records;
        store = open_store_by_name(session, account);
        if (!store)
            return records;
        inbox = open_inbox(*store);
        if (!inbox)
            return records;
        std::vector<CEntryInfo> rows;
        if (!list_messages(*inbox, rows))
            return records;
        for (const CEntryInfo& row : rows) {
            EXPECT_TRUE(row.display_name.isEmpty());
            if (auto r = open_voicemail(*inbox, row))
                records.push_back(std::move(r));
        }
        return records;
    }

    CMapiSession session;
    std::unique_ptr<CMessageStore> store;
    std::unique_ptr<CMessageFolder> inbox;
};

}  // namespace

TEST_F(MessageStoreTest, OpensTheFirstStoreWhoseNameMatchesWithoutCase) {
    MaildirFixture first, second;
    first.deliver(lyb::testing::voicemailMail());
    writeAccounts("My Mail = " + first.root.toUtf8() + "\nMY MAIL = " + second.root.toUtf8() +
                  "\nOther = " + second.root.toUtf8() + "\n");
    ASSERT_TRUE(logon(session));
    std::vector<CEntryInfo> stores;
    ASSERT_TRUE(list_stores(session, stores));
    ASSERT_EQ(stores.size(), 3u);
    EXPECT_EQ(stores[1].display_name, "MY MAIL");
    EXPECT_EQ(population(QStringLiteral("my mail")).size(), 1u);
    EXPECT_EQ(store->info.display_name, "My Mail");
    EXPECT_FALSE(open_store_by_name(session, QStringLiteral("Gone")));
}

TEST_F(MessageStoreTest, WithoutSessionEverythingFails) {
    std::vector<CEntryInfo> stores;
    EXPECT_FALSE(list_stores(session, stores));
    EXPECT_FALSE(open_store_by_name(session, QStringLiteral("SMS")));
    EXPECT_FALSE(open_voicemail_by_entry_id(session, QByteArray("x")));
    EXPECT_FALSE(delete_message(nullptr, QByteArray("x")));
}

TEST_F(MessageStoreTest, PopulationKeepsVoicemailsAndDropsOtherMail) {
    MaildirFixture md;
    MailParts text;
    text.attachName = "notes.txt";
    text.attachType = "text/plain";
    text.attachData = "hello";
    md.deliver(lyb::testing::plainMail("Lunch?", "From: Bob"));
    md.deliver(lyb::testing::voicemailMail(text));  // only the second attachment would be audio
    MailParts gsm;
    gsm.attachName = "msg.gsm";
    gsm.attachType = "audio/x-gsm";
    gsm.attachData = QByteArray(33 * 50 * 3, '\x01');  // 3 s
    gsm.textBody = "New voicemail from Mary Ann Jones\r\n";
    md.deliver(lyb::testing::voicemailMail(gsm), QStringLiteral("S"));
    md.deliver(lyb::testing::voicemailMail());
    writeAccounts("Voicemail = " + md.root.toUtf8() + "\n");
    ASSERT_TRUE(logon(session));
    const auto records = population(QStringLiteral("voicemail"));
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0]->audio_type(), ".gsm");
    EXPECT_EQ(records[0]->caller_name(), "Mary Ann Jones");  // the whole name, not two words
    EXPECT_EQ(records[0]->length_seconds(), 3);
    EXPECT_EQ(records[0]->is_read(), 1);
    EXPECT_EQ(records[1]->audio_type(), ".wav");
    EXPECT_EQ(records[1]->caller_number(), "5551234567");
    EXPECT_EQ(records[1]->length_seconds(), 3);
    EXPECT_EQ(records[1]->is_read(), 0);
    EXPECT_EQ(records[1]->received_time(), 1796117400);  // Date: 1 Dec 2026 09:30 UTC

    // The hand-off opens the same message by its entry id in a session of its own.
    CMapiSession other;
    ASSERT_TRUE(logon(other));
    auto again = open_voicemail_by_entry_id(other, records[1]->entry_id());
    ASSERT_TRUE(again);
    EXPECT_EQ(again->caller_number(), "5551234567");
}

// Records built on several threads are those built one by one, slot for slot.
TEST_F(MessageStoreTest, PopulationOnSeveralThreadsMatchesOneByOne) {
    MaildirFixture md;
    for (int i = 0; i < 150; ++i) {
        if (i % 5 == 4) {
            md.deliver(lyb::testing::plainMail("Lunch?", "From: Bob"));
            continue;
        }
        MailParts p;
        p.subject = "Voice Mail Message (555" + QByteArray::number(1000000 + i) + ")";
        if (i % 2) {
            p.attachName = "msg.gsm";
            p.attachType = "audio/x-gsm";
            p.attachData = QByteArray(33 * 50 * (1 + i % 7), '\x01');
        } else {
            p.attachData = lyb::testing::pcmWave(1 + i % 4);
        }
        md.deliver(lyb::testing::voicemailMail(p), i % 3 ? QStringLiteral("S") : QString());
    }
    writeAccounts("Voicemail = " + md.root.toUtf8() + "\n");
    ASSERT_TRUE(logon(session));
    store = open_store_by_name(session, QStringLiteral("Voicemail"));
    ASSERT_TRUE(store);
    inbox = open_inbox(*store);
    ASSERT_TRUE(inbox);
    std::vector<CEntryInfo> rows;
    ASSERT_TRUE(list_messages(*inbox, rows));
    ASSERT_EQ(rows.size(), 150u);
    const auto one = open_voicemails(*inbox, rows, 1);
    const auto many = open_voicemails(*inbox, rows, 4);
    ASSERT_EQ(one.size(), rows.size());
    ASSERT_EQ(many.size(), rows.size());
    int voicemails = 0;
    for (size_t i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE(i);
        ASSERT_EQ(one[i] == nullptr, many[i] == nullptr);
        if (!one[i])
            continue;
        ++voicemails;
        EXPECT_EQ(many[i]->entry_id(), rows[i].entry_id);
        EXPECT_EQ(many[i]->caller_number(), one[i]->caller_number());
        EXPECT_EQ(many[i]->length_seconds(), one[i]->length_seconds());
        EXPECT_EQ(many[i]->audio_type(), one[i]->audio_type());
        EXPECT_EQ(many[i]->is_read(), one[i]->is_read());
        EXPECT_EQ(many[i]->received_time(), one[i]->received_time());
        EXPECT_GT(many[i]->length_seconds(), 0);
    }
    EXPECT_EQ(voicemails, 120);
}

TEST_F(MessageStoreTest, ReadStateAndDeletionReachTheMaildir) {
    MaildirFixture md;
    const QString unique = md.deliver(lyb::testing::voicemailMail(), QStringLiteral("F"));
    writeAccounts("Voicemail = " + md.root.toUtf8() + "\n");
    ASSERT_TRUE(logon(session));
    auto records = population(QStringLiteral("Voicemail"));
    ASSERT_EQ(records.size(), 1u);
    set_read(*records[0], true);
    EXPECT_EQ(md.files("cur"), QStringList{unique + ":2,FS"});
    set_read(*records[0], false);
    EXPECT_EQ(md.files("cur"), QStringList{unique + ":2,F"});

    const QByteArray id = records[0]->entry_id();
    EXPECT_TRUE(delete_message(inbox.get(), id));
    EXPECT_EQ(QDir(md.root + "/.Trash/cur").entryList(QDir::Files), QStringList{unique + ":2,F"});
    EXPECT_FALSE(delete_message(inbox.get(), id)) << "a message that is gone";
    EXPECT_TRUE(population(QStringLiteral("Voicemail")).empty());
}

TEST_F(MessageStoreTest, ReadOnlyMaildirKeepsTheRecordsNewFlag) {
    MaildirFixture md;
    const QString unique = md.deliver(lyb::testing::voicemailMail());
    writeAccounts("Voicemail = " + md.root.toUtf8() + "\n");
    ASSERT_TRUE(logon(session));
    auto records = population(QStringLiteral("Voicemail"));
    ASSERT_EQ(records.size(), 1u);
    chmod(QFile::encodeName(md.root + "/new").constData(), 0500);
    chmod(QFile::encodeName(md.root + "/cur").constData(), 0500);
    set_read(*records[0], true);
    const bool enforced = access(QFile::encodeName(md.root + "/cur").constData(), W_OK) != 0;
    chmod(QFile::encodeName(md.root + "/new").constData(), 0700);
    chmod(QFile::encodeName(md.root + "/cur").constData(), 0700);
    EXPECT_EQ(records[0]->is_read(), 1);
    if (!enforced)
        GTEST_SKIP() << "file permissions are not enforced for this user";
    EXPECT_EQ(md.files("new"), QStringList{unique});
}

// Why a chosen account cannot be read, in the user's words with its name and
// path; nothing for one that can.
TEST_F(MessageStoreTest, AccountProblemSaysWhatIsWrongAndWhere) {
    MaildirFixture fine, unreadable, notMaildir(QStringLiteral("plain"));
    for (const char* sub : {"cur", "new", "tmp"})
        QDir(notMaildir.root).rmdir(QString::fromLatin1(sub));
    const QString file = notMaildir.root + QStringLiteral("/file");
    QFile(file).open(QIODevice::WriteOnly);
    for (const char* sub : {"/cur", "/new"})
        ::chmod(QFile::encodeName(unreadable.root + sub).constData(), 0);
    const bool permissionsHold =
        ::access(QFile::encodeName(unreadable.root + "/new").constData(), R_OK) != 0;
    const QString home = QDir::homePath();
    QDir().mkpath(home + QStringLiteral("/Mail"));
    writeAccounts("Fine = " + fine.root.toUtf8() +
                  "\nEmpty =\nWork = ~/Mail/wrk\nPlain = " + notMaildir.root.toUtf8() +
                  "\nFile = " + file.toUtf8() + "\nLocked = " + unreadable.root.toUtf8() + "\n");
    ASSERT_TRUE(logon(session));
    const struct {
        const char* account;
        QString problem;
    } cases[] = {
        {"fine", QString()},
        {"Empty", QString()},
        {"work", "The account \"Work\" (~/Mail/wrk) cannot be read: No such file or directory"},
        {"Plain", "The account \"Plain\" (" + notMaildir.root +
                      ") cannot be read: It is not a Maildir (it has no cur or new folder)"},
        {"File", "The account \"File\" (" + file + ") cannot be read: Not a directory"},
        {"Locked", permissionsHold ? "The account \"Locked\" (" + unreadable.root +
                                         ") cannot be read: Permission denied"
                                   : QString()},
        {"Home", "There is no account \"Home\" in " + lyb::mapi::accountsFilePath()},
    };
    for (const auto& c : cases)
        EXPECT_EQ(account_problem(session, QString::fromLatin1(c.account)), c.problem) << c.account;
    for (const char* sub : {"/cur", "/new"})
        ::chmod(QFile::encodeName(unreadable.root + sub).constData(), 0700);
}

TEST_F(MessageStoreTest, DefaultAccountsOfferAnEmptySmsInbox) {
    ASSERT_TRUE(logon(session));
    auto store = open_store_by_name(session, QStringLiteral("sms"));
    ASSERT_TRUE(store);
    auto inbox = open_inbox(*store);
    ASSERT_TRUE(inbox);
    std::vector<CEntryInfo> rows;
    EXPECT_TRUE(list_messages(*inbox, rows));
    EXPECT_TRUE(rows.empty());
}

TEST_F(MessageStoreTest, MissingMaildirGivesNoInbox) {
    writeAccounts("Gone = /nonexistent/lyrabell/maildir\n");
    ASSERT_TRUE(logon(session));
    auto store = open_store_by_name(session, QStringLiteral("Gone"));
    ASSERT_TRUE(store);
    EXPECT_FALSE(open_inbox(*store));
}

TEST_F(MessageStoreTest, DemoAccountFolderOnlyWhileThereIsNoAccountsFile) {
    const QString demo = lyb::mapi::demoMaildir();
    if (demo.isEmpty())
        GTEST_SKIP() << "the demo has not been built";
    EXPECT_EQ(demoAccountFolder(), QFileInfo(demo).absolutePath());
    writeAccounts("Mine = /nonexistent/lyrabell/maildir\n");
    EXPECT_EQ(demoAccountFolder(), QString()) << "a user's own accounts never get the demo's";
}

TEST_F(MessageStoreTest, DemoAccountHoldsReadAndNewVoicemailsOfEveryStyle) {
    if (lyb::mapi::demoMaildir().isEmpty())
        GTEST_SKIP() << "the demo has not been built";
    ASSERT_TRUE(logon(session));
    const auto records = population(QStringLiteral("Demo Voicemail"));
    ASSERT_GE(records.size(), 10u);
    int read = 0, gsm = 0, named = 0, numbered = 0, unknownLength = 0;
    for (const auto& r : records) {
        read += r->is_read();
        gsm += r->audio_type() == QLatin1String(".gsm");
        named += !r->caller_name().isEmpty();
        numbered += !r->caller_number().isEmpty();
        unknownLength += r->length_seconds() < 0;
        EXPECT_GT(r->received_time(), 0);
    }
    EXPECT_GT(read, 0);
    EXPECT_LT(read, static_cast<int>(records.size()));
    EXPECT_EQ(gsm, 1);
    EXPECT_GE(named, 4);
    EXPECT_GE(numbered, 4);
    EXPECT_EQ(unknownLength, 1) << "only the voicemail whose recording was not downloaded";
}
