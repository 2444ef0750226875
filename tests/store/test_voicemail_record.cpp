#include <gtest/gtest.h>

#include <QFile>

#include <cstdlib>
#include <string>

#include "platform/mapi/mime_content.h"
#include "store/voicemail_message.h"
#include "tests/platform/mapi/maildir_fixture.h"
#include "tests/store/fake_message.h"

using namespace lyb::store;
using namespace lyb::mapi;
using lyb::testing::FakeAttachment;
using lyb::testing::FakeMessage;

namespace {

std::unique_ptr<IMessage> messageWith(std::vector<FakeAttachment> attachments) {
    auto m = std::make_unique<FakeMessage>();
    m->attachments = std::move(attachments);
    return m;
}

FakeMessage& fake(std::unique_ptr<IMessage>& m) {
    return static_cast<FakeMessage&>(*m);
}

}  // namespace

TEST(VoiceMailRecord, RecognisesTheFirstRecordingByMimeTypeThenName) {
    const QByteArray wav = lyb::testing::pcmWave(1);
    struct Case {
        std::vector<FakeAttachment> attachments;
        const char* audioType;  // null: not a voicemail
    };
    const Case cases[] = {
        {{{"message.wav", "audio/x-gsm", true, wav}}, ".gsm"},
        {{{"message.gsm", "audio/wav", true, wav}}, ".wav"},
        {{{"msg.WAV", "", true, wav}}, ".wav"},
        {{{"msg.Gsm", QString(), true, wav}}, ".gsm"},
        {{{"x.bin", "application/x-wavpack", true, wav}}, ".wav"},
        {{{"x.bin", "AUDIO/X-WAV", true, wav}}, ".wav"},
        {{{"gsm", "", true, wav}}, nullptr},
        {{{".wav", "", true, wav}}, ".wav"},
        {{{"notes.txt", "text/plain", true, "hi"}, {"msg.wav", "audio/wav", true, wav}}, ".wav"},
        {{{"msg.MP3", "application/octet-stream", true, wav}}, ".mp3"},
        {{{"msg.wav.txt", "text/plain", true, "hi"}}, nullptr},
        {{}, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.attachments.empty() ? "none" : c.attachments[0].fileName.toStdString());
        auto m = messageWith(c.attachments);
        if (!c.audioType) {
            EXPECT_THROW(CVoiceMailMessage{m}, CNotVoiceMail);
            EXPECT_TRUE(m) << "the message stays the caller's";
            continue;
        }
        CVoiceMailMessage record(m);
        EXPECT_FALSE(m) << "the record owns the message";
        EXPECT_EQ(record.audio_type(), QString::fromLatin1(c.audioType));
    }
    auto noTable = messageWith({{"msg.wav", "audio/wav", true, wav}});
    fake(noTable).attachmentTableFails = true;
    EXPECT_THROW(CVoiceMailMessage{noTable}, CNotVoiceMail);
}

// A three-second MP3 tone made with the ffmpeg program.
QByteArray mp3Tone() {
    const QString path = QString::fromLocal8Bit(qgetenv("TMPDIR")) + QStringLiteral("/tone.mp3");
    const QByteArray command =
        "ffmpeg -loglevel error -y -f lavfi -i sine=duration=3 -ar 8000 "
        "-ac 1 '" +
        path.toLocal8Bit() + "'";
    if (std::system(command.constData()) != 0)
        return {};
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

TEST(VoiceMailRecord, LengthFromGsmSizeWaveHeaderOrContainer) {
    QByteArray shortHeader = lyb::testing::pcmWave(0);
    shortHeader.truncate(30);
    QByteArray byteRate0 = lyb::testing::pcmWave(1);
    for (int i = 28; i < 32; ++i)
        byteRate0[i] = 0;
    const QByteArray mp3 = mp3Tone();
    ASSERT_FALSE(mp3.isEmpty()) << "the ffmpeg program makes the MP3";
    struct Case {
        FakeAttachment a;
        int32_t length;
        bool transcriptFirst = false;
    };
    const Case cases[] = {
        {{"m.gsm", "audio/x-gsm", true, QByteArray(33000, 'x')}, 20},
        {{"m.gsm", "audio/x-gsm", true, QByteArray(32, 'x')}, 0},
        {{"m.gsm", "audio/x-gsm", false, {}}, -1},
        {{"m.wav", "audio/wav", true, lyb::testing::pcmWave(7)}, 7},
        {{"m.wav", "audio/wav", true, lyb::testing::pcmWave(7, 11025)}, 7},
        {{"m.wav", "audio/wav", true, shortHeader}, -1},
        {{"m.wav", "audio/wav", true, byteRate0}, -1},
        {{"m.wav", "audio/wav", true, QByteArray(5000, 'R')}, -1},
        {{"m.wav", "audio/wav", false, {}}, -1},
        {{"m.wav", "audio/wav", true, lyb::testing::pcmWave(7)}, 7, true},
        {{"m.mp3", "audio/mpeg", true, mp3}, 3, true},
        {{"misnamed.m4a", "audio/mp4", true, mp3}, 3},
        {{"m.mp3", "audio/mpeg", true, QByteArray(5000, 'x')}, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.a.fileName.toStdString() + " " + std::to_string(c.a.data.size()));
        const FakeAttachment transcript{"transcript.txt", "text/plain", true, "Hello."};
        auto m = messageWith(c.transcriptFirst ? std::vector{transcript, c.a} : std::vector{c.a});
        CVoiceMailMessage record(m);
        EXPECT_EQ(record.length_seconds(), c.length);
        IStream* s = record.open_audio_stream();
        EXPECT_EQ(s != nullptr, c.a.hasData) << "a partly downloaded attachment has no stream";
        if (!s)
            continue;
        char head[4] = {};
        uint32_t got = 0;
        s->Read(head, sizeof head, &got);
        EXPECT_EQ(QByteArray(head, got), c.a.data.left(4)) << "the recording's bytes are played";
        s->Release();
    }
}

TEST(VoiceMailRecord, ReceivedTimeAndReadFlagFromTheMessage) {
    const QByteArray wav = lyb::testing::pcmWave(1);
    const uint64_t dec2026 = lyb::mapi::unixToFileTime(1796205600);
    auto m = messageWith({{"m.wav", "audio/wav", true, wav}});
    fake(m).setTime(dec2026);
    fake(m).setLong(PR_MESSAGE_FLAGS, MSGFLAG_READ | MSGFLAG_HASATTACH);
    fake(m).setString(PR_SUBJECT_W, QStringLiteral("Voice Mail Message (5551234567)"));
    CVoiceMailMessage record(m);
    EXPECT_EQ(record.received_time(), 1796205600);
    EXPECT_EQ(record.is_read(), 1);
    EXPECT_EQ(record.caller_number(), "5551234567");
    EXPECT_EQ(record.caller_name(), "");
    record.set_caller_name(QStringLiteral("Pat"));
    EXPECT_EQ(record.caller_name(), "Pat");

    auto bare = messageWith({{"m.wav", "audio/wav", true, wav}});
    CVoiceMailMessage none(bare);
    EXPECT_EQ(none.received_time(), 0);
    EXPECT_EQ(none.is_read(), 0);
    EXPECT_EQ(none.caller_number(), "");
}

// A delivery time the calendar cannot hold gives 0 and keeps the voicemail.
TEST(VoiceMailRecord, UnconvertibleDeliveryTimeGivesZeroNotAnException) {
    const uint64_t cases[] = {0, 1, 0x8000000000000000ull, UINT64_MAX};
    for (uint64_t ft : cases) {
        SCOPED_TRACE(ft);
        auto m = messageWith({{"m.wav", "audio/wav", true, lyb::testing::pcmWave(1)}});
        fake(m).setTime(ft);
        std::unique_ptr<CVoiceMailMessage> record;
        EXPECT_NO_THROW(record = std::make_unique<CVoiceMailMessage>(m));
        ASSERT_TRUE(record);
        EXPECT_EQ(record->received_time(), 0);
    }
    EXPECT_EQ(received_time_from_file_time(lyb::mapi::unixToFileTime(86400)), 86400);
}

// Both instants of the hour that repeats when clocks go back keep their own time.
TEST(VoiceMailRecord, ReceivedTimeKeepsTheRepeatedHourApart) {
    setenv("TZ", "Europe/Berlin", 1);
    tzset();
    const int64_t summer = 1792888200;     // 2026-10-25 02:30 CEST
    const int64_t winter = summer + 3600;  // 02:30 CET, an hour later
    for (int64_t t : {summer, winter, summer - 86400 * 120, int64_t{86400}})
        EXPECT_EQ(received_time_from_file_time(lyb::mapi::unixToFileTime(t)), t) << t;
    unsetenv("TZ");
    tzset();
}

TEST(VoiceMailRecord, SetReadTogglesOnlyTheReadBit) {
    auto m = messageWith({{"m.wav", "audio/wav", true, lyb::testing::pcmWave(1)}});
    FakeMessage* f = &fake(m);
    f->setLong(PR_MESSAGE_FLAGS, MSGFLAG_HASATTACH | 0x100);
    CVoiceMailMessage record(m);
    record.set_read(false);  // unchanged: no write
    EXPECT_EQ(f->setPropsCalls, 0);
    record.set_read(true);
    EXPECT_EQ(f->props[PR_MESSAGE_FLAGS].l, int32_t(MSGFLAG_HASATTACH | 0x100 | MSGFLAG_READ));
    record.set_read(false);
    EXPECT_EQ(f->props[PR_MESSAGE_FLAGS].l, int32_t(MSGFLAG_HASATTACH | 0x100));
    EXPECT_EQ(record.is_read(), 0);

    f->setPropsFails = true;  // a read-only store: silent, the record keeps the new value
    record.set_read(true);
    EXPECT_EQ(record.is_read(), 1);
    EXPECT_EQ(f->props[PR_MESSAGE_FLAGS].l & MSGFLAG_READ, 0);
    f->props.erase(PR_MESSAGE_FLAGS);
    record.set_read(false);
    EXPECT_EQ(record.is_read(), 0);
}
