// The account the Today tests count: the Maildir md listed as "Voicemail" in
// the test's accounts file and chosen in the settings (in other case, as the
// item compares names without regard to case).
#pragma once

#include <gtest/gtest.h>

#include <QFile>

#include "platform/registry/registry.h"
#include "tests/platform/mapi/maildir_fixture.h"

namespace lyb::testing {

inline void chooseTodayAccount(const MaildirFixture& md) {
    QFile accounts(QString::fromLocal8Bit(qgetenv("LYRABELL_ACCOUNTS")));
    ASSERT_TRUE(accounts.open(QIODevice::WriteOnly));
    accounts.write("Voicemail = " + md.root.toUtf8() + "\n");
    accounts.close();
    const auto key = reg::Key::create(reg::Hive::CurrentUser,
                                      QStringLiteral("Software\\Corvendale\\Lyrabell\\Lyrabell"));
    ASSERT_TRUE(key);
    ASSERT_TRUE(key->writeString(QStringLiteral("Message Store"), QStringLiteral("voicemail")));
}

}  // namespace lyb::testing
