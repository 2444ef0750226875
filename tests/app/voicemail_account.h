// The one account a main-window test works on: the Maildir listed as
// "Voicemail" in the test's accounts file and chosen in the settings, an
// empty contacts folder, and the tips counted as seen, so that a normal
// start asks nothing.
#pragma once

#include "app/settings.h"
#include "tests/platform/mapi/maildir_fixture.h"

#include <QDir>
#include <QFile>

#include <vector>

namespace lyb::testing {

inline void useVoicemailAccount(const MaildirFixture& md) {
    QFile accounts(QString::fromLocal8Bit(qgetenv("LYRABELL_ACCOUNTS")));
    if (accounts.open(QIODevice::WriteOnly))
        accounts.write("Voicemail = " + md.root.toUtf8() + "\n");
    accounts.close();
    QDir().mkpath(QString::fromLocal8Bit(qgetenv("LYRABELL_CONTACTS")));
    settings::setMessageStore(QStringLiteral("Voicemail"));
    settings::setTips(1);
}

// The parts of a voicemail dated date whose recording is the wave file wave.
inline MailParts voicemailWith(const char* date, const std::vector<uint8_t>& wave = {}) {
    MailParts parts;
    parts.date = date;
    if (!wave.empty())
        parts.attachData = QByteArray(reinterpret_cast<const char*>(wave.data()),
                                      static_cast<qsizetype>(wave.size()));
    return parts;
}

}  // namespace lyb::testing
