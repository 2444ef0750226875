// The accounts file and the contacts folder are not used when another user
// could have written them: they name the folders played and the numbers
// dialled.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <sys/stat.h>
#include <unistd.h>

#include "platform/mapi/maildir_provider.h"
#include "platform/pim/pim.h"

using namespace lyb;

namespace {

struct Loosening {
    const char* name;
    mode_t mode;  // 0: given to another user instead
};

constexpr Loosening kLoosenings[] = {
    {"group-writable", 0770}, {"world-writable", 0707}, {"another user's", 0}};

// Applies how to path (a folder keeps its search bits, a file gets them too,
// which is harmless). False when it cannot be done here: only root gives a file away.
bool loosen(const QString& path, const Loosening& how) {
    const QByteArray bytes = QFile::encodeName(path);
    if (how.mode != 0)
        return ::chmod(bytes.constData(), how.mode) == 0;
    return ::geteuid() == 0 && ::chown(bytes.constData(), 65534, gid_t(-1)) == 0;
}

class UntrustedFiles : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        accounts_ = dir_.filePath("accounts.conf");
        contacts_ = dir_.filePath("contacts");
        qputenv("LYRABELL_ACCOUNTS", QFile::encodeName(accounts_));
        QFile f(accounts_);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("Voicemail = Maildir\n");
        f.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
        ASSERT_TRUE(QDir().mkdir(contacts_));
        ASSERT_TRUE(QFile::setPermissions(contacts_,
                                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    }
    QTemporaryDir dir_;
    QString accounts_;
    QString contacts_;
};

TEST_F(UntrustedFiles, AccountsFileOthersCouldWriteIsNotRead) {
    ASSERT_EQ(mapi::loadAccounts().size(), 1u);
    for (const Loosening& how : kLoosenings) {
        SCOPED_TRACE(how.name);
        ASSERT_TRUE(QFile::setPermissions(accounts_, QFile::ReadOwner | QFile::WriteOwner));
        if (!loosen(accounts_, how))
            continue;
        ::testing::internal::CaptureStderr();
        EXPECT_TRUE(mapi::loadAccounts().empty());
        const std::string err = ::testing::internal::GetCapturedStderr();
        EXPECT_NE(err.find(QFile::encodeName(accounts_).toStdString()), std::string::npos) << err;
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
        ASSERT_EQ(::chown(QFile::encodeName(accounts_).constData(), ::geteuid(), gid_t(-1)), 0);
    }
}

TEST_F(UntrustedFiles, ContactsFolderOthersCouldWriteIsNotOpened) {
    EXPECT_NE(pim::Application::create(contacts_, nullptr), nullptr);
    for (const Loosening& how : kLoosenings) {
        SCOPED_TRACE(how.name);
        ASSERT_TRUE(QFile::setPermissions(contacts_,
                                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        if (!loosen(contacts_, how))
            continue;
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(pim::Application::create(contacts_, nullptr), nullptr);
        const std::string err = ::testing::internal::GetCapturedStderr();
        EXPECT_NE(err.find(QFile::encodeName(contacts_).toStdString()), std::string::npos) << err;
        ASSERT_EQ(::chown(QFile::encodeName(contacts_).constData(), ::geteuid(), gid_t(-1)), 0);
    }
}

}  // namespace
