// From a tap on a row to sound: the main window on a Maildir account, with
// the real decoder and player writing to the capture device.
#include "app/engine_playback.h"
#include "app/main_dialog.h"
#include "app/settings.h"
#include "store/message_store.h"
#include "tests/app/voicemail_account.h"
#include "tests/platform/waveout/wave_files.h"
#include "ui/voicemail_list.h"

#include <QApplication>
#include <QDir>
#include <QTest>

#include <gtest/gtest.h>

#include <cstdlib>

using namespace lyb::app;
using namespace lyb::testing;

TEST(MainWindowPlay, TappedVoicemailReachesTheDeviceBitForBit) {
    const std::string capture = TempPath("main-window-capture.wav");
    setenv("LYRABELL_AUDIO", ("capture:" + capture).c_str(), 1);

    MaildirFixture md;
    useVoicemailAccount(md);
    // Two voicemails; the tapped one (the newer, first row) is noise.
    const std::vector<uint8_t> audio = NoiseBytes(8000, 11);  // half a second
    const std::vector<uint8_t> wave = ReadAll(WriteWave("tapped.wav", 1, Pcm{1, 8000, 16}, audio));
    md.deliver(voicemailMail(MailParts()));
    md.deliver(voicemailMail(voicemailWith("Thu, 03 Dec 2026 09:30:00 +0000", wave)));

    lyb::store::CMapiSession session;
    ASSERT_TRUE(lyb::store::logon(session));
    CMainDialog window(nullptr, 0);
    window.setSession(&session);
    window.setPlayback(std::make_unique<CEnginePlayback>(std::function<void()>(), nullptr));
    window.show();
    window.initialise();
    lyb::ui::CVoiceMailList* list = window.list();
    ASSERT_EQ(list->row_count(), 2);

    const QRect row = list->visualRect(list->model()->index(0, 0));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, row.center());
    ASSERT_TRUE(QTest::qWaitFor([&] { return window.playback()->hasPlayer(); }, 20000));
    EXPECT_EQ(list->current_row(), 0);
    // The playback tick closes the playback at the recording's end.
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window.playback()->hasPlayer(); }, 20000));
    EXPECT_EQ(list->current_row(), CMainDialog::kNoRow);
    EXPECT_TRUE(list->record_at(0)->is_read());
    EXPECT_EQ(ReadCapture(capture).data, audio);
}
