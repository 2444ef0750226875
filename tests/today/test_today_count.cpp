// The Today item's counter as it runs between counts: the verdicts it keeps,
// the folders' times it trusts, and the thread it counts on.
#include <fcntl.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <QFile>

#include <condition_variable>
#include <ctime>
#include <mutex>
#include <vector>

#include "tests/platform/mapi/maildir_fixture.h"
#include "tests/today/today_account.h"
#include "today/voicemail_count.h"

namespace lyb::today {
namespace {

using testing::MaildirFixture;
using testing::voicemailMail;

const QByteArray kNotVoicemail =
    "From: a@example.net\r\nSubject: hello\r\nMIME-Version: 1.0\r\n"
    "Content-Type: text/plain\r\n\r\nNo recording here.\r\n";

// Sets the times of md's new/ and cur/ a minute back, as if nothing had
// changed there for a while.
void ageFolders(const MaildirFixture& md) {
    for (const char* sub : {"new", "cur"}) {
        const timespec ago[2] = {{time(nullptr) - 60, 0}, {time(nullptr) - 60, 0}};
        ASSERT_EQ(utimensat(AT_FDCWD, QFile::encodeName(md.root + "/" + sub).constData(), ago, 0),
                  0);
    }
}

class CounterTest : public ::testing::Test {
protected:
    void SetUp() override { testing::chooseTodayAccount(md); }
    MaildirFixture md;
};

TEST_F(CounterTest, RecountOpensOnlyWhatIsNewOrChanged) {
    CVoicemailCounter counter;
    md.deliver(voicemailMail());
    const QString second = md.deliver(voicemailMail());
    md.deliver(kNotVoicemail);
    EXPECT_EQ(counter.count(), 2);
    EXPECT_EQ(counter.opened(), 3);

    const QString third = md.deliver(voicemailMail());
    EXPECT_EQ(counter.count(), 3);
    EXPECT_EQ(counter.opened(), 1);

    // Read in another client: no longer counted, nothing opened.
    ASSERT_TRUE(QFile::rename(md.pathOf(third), md.root + "/cur/" + third + ":2,S"));
    EXPECT_EQ(counter.count(), 2);
    EXPECT_EQ(counter.opened(), 0);

    // The same unique name with another size is opened again.
    QFile tmp(md.root + "/tmp/" + second);
    ASSERT_TRUE(tmp.open(QIODevice::WriteOnly));
    tmp.write(kNotVoicemail);
    tmp.close();
    ASSERT_TRUE(QFile::remove(md.pathOf(second)));
    ASSERT_TRUE(QFile::rename(tmp.fileName(), md.root + "/new/" + second));
    counter.count();
    EXPECT_EQ(counter.opened(), 1);
}

TEST_F(CounterTest, QuietFoldersKeepTheCountUntilTheyOrTheAccountChange) {
    CVoicemailCounter counter;
    md.deliver(voicemailMail());
    ageFolders(md);
    EXPECT_EQ(counter.count(), 1);
    EXPECT_EQ(counter.count(), 1);

    md.deliver(voicemailMail());  // new/ changes time
    EXPECT_EQ(counter.count(), 2);

    ageFolders(md);
    EXPECT_EQ(counter.count(), 2);
    MaildirFixture other(QStringLiteral("other"));
    other.deliver(voicemailMail());
    ageFolders(other);
    testing::chooseTodayAccount(other);
    EXPECT_EQ(counter.count(), 1);
}

// Requests made while a count runs (here held in its hand-over, so that how
// fast a count is does not matter) are merged into one more count.
TEST_F(CounterTest, ThreadMergesRequestsMadeWhileItCounts) {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<long> results;
    bool hold = true;
    auto waitForResults = [&](size_t n) {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(60),
                                [&] { return results.size() >= n; });
    };
    {
        CCountThread thread([&](long count, const QString&) {
            std::unique_lock<std::mutex> lock(mutex);
            results.push_back(count);
            changed.notify_all();
            changed.wait(lock, [&] { return !hold; });
        });
        thread.request();
        ASSERT_TRUE(waitForResults(1));
        md.deliver(voicemailMail());
        for (int i = 0; i < 5; ++i)
            thread.request();
        {
            std::lock_guard<std::mutex> lock(mutex);
            hold = false;
        }
        changed.notify_all();
        ASSERT_TRUE(waitForResults(2));
        md.deliver(voicemailMail());
        thread.request();  // may still run as the thread goes: it is stopped, not waited for
    }
    std::lock_guard<std::mutex> lock(mutex);
    ASSERT_GE(results.size(), 2u);
    EXPECT_EQ(results[0], 0);
    EXPECT_EQ(results[1], 1);
    EXPECT_LE(results.size(), 3u);
}

}  // namespace
}  // namespace lyb::today
