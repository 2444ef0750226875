// The one rule for "is this a voicemail, and which attachment is played?",
// as the list, lybtool, the Today count and the Inbox extension all ask it.
#include <gtest/gtest.h>

#include "store/recording_rule.h"
#include "tests/store/fake_message.h"

using namespace lyb::store;
using lyb::testing::FakeAttachment;
using lyb::testing::FakeMessage;

namespace {

FakeAttachment part(const QString& fileName, const QString& mimeType) {
    return {fileName, mimeType, true, {}};
}

}  // namespace

TEST(RecordingRule, FirstRecordingAmongTheAttachments) {
    struct Case {
        const char* what;
        std::vector<FakeAttachment> attachments;
        int row;  // -1: not a voicemail
        const char* audioType;
    };
    const FakeAttachment transcript = part("transcript.txt", "text/plain");
    const FakeAttachment picture = part("photo.jpg", "image/jpeg");
    const FakeAttachment card = part("caller.vcf", "text/x-vcard");
    const Case cases[] = {
        {"wave by type", {part("msg", "audio/x-wav")}, 0, ".wav"},
        {"gsm type before a wave name", {part("message.wav", "audio/x-gsm")}, 0, ".gsm"},
        {"any audio type", {part("voicemail", "audio/mpeg")}, 0, ".mpeg"},
        {"audio type with parameters", {part("", "Audio/AMR; rate=8000")}, 0, ".amr"},
        {"octet-stream named .mp3", {part("msg.mp3", "application/octet-stream")}, 0, ".mp3"},
        {"3gpp video named .3gp", {part("msg.3gp", "video/3gpp")}, 0, ".3gp"},
        {"3gpp video named .amr", {part("MSG.AMR", "video/3gpp")}, 0, ".amr"},
        {"name without a type", {part("vm.Opus", QString())}, 0, ".opus"},
        {"transcript first", {transcript, part("msg.mp3", "audio/mpeg")}, 1, ".mp3"},
        {"picture and card beside",
         {picture, card, part("msg.m4a", "audio/mp4"), transcript},
         2,
         ".m4a"},
        {"the first of two recordings",
         {part("a.gsm", "audio/x-gsm"), part("b.wav", "audio/wav")},
         0,
         ".gsm"},
        {"link-only notice", {}, -1, nullptr},
        {"text and picture only", {transcript, picture, card}, -1, nullptr},
        {"no recording's extension", {part("msg.wave", "application/octet-stream")}, -1, nullptr},
        {"recording name inside", {part("msg.wav.txt", "text/plain")}, -1, nullptr},
        {"video that is no recording", {part("clip.mov", "video/quicktime")}, -1, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FakeMessage m;
        m.attachments = c.attachments;
        const auto found = find_recording(m);
        EXPECT_EQ(is_voicemail(m), c.row >= 0);
        ASSERT_EQ(found.has_value(), c.row >= 0);
        if (!found)
            continue;
        EXPECT_EQ(found->row, c.row);
        EXPECT_EQ(found->attach_num, static_cast<uint32_t>(c.row));
        EXPECT_EQ(found->audio_type, QLatin1String(c.audioType));
    }
    for (const char* extension : {".wav", ".gsm", ".mp3", ".m4a", ".mp4", ".aac", ".amr", ".awb",
                                  ".3gp", ".ogg", ".oga", ".opus", ".flac", ".wma"}) {
        FakeMessage m;
        m.attachments = {
            part(QStringLiteral("Message") + QLatin1String(extension).toString().toUpper(),
                 "application/octet-stream")};
        EXPECT_TRUE(is_voicemail(m)) << extension;
    }
    FakeMessage noTable;
    noTable.attachments = {part("msg.wav", "audio/wav")};
    noTable.attachmentTableFails = true;
    EXPECT_FALSE(is_voicemail(noTable));
}
