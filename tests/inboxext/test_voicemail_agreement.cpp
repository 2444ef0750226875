// The list, the Today item's count and the Inbox extension give one answer
// to "is this a voicemail?" on every message of a mixed Maildir: the list
// through the store, the count through its own session, the extension loaded
// as a host loads it.
#include <gtest/gtest.h>

#include <QByteArray>
#include <QString>

#include <utility>
#include <vector>

#include "platform/com/inproc.h"
#include "platform/mapi/maildir_provider.h"
#include "store/message_store.h"
#include "tests/inboxext/test_host.h"
#include "tests/platform/mapi/maildir_fixture.h"
#include "tests/today/today_account.h"
#include "today/voicemail_count.h"

using namespace lyb;
using namespace lyb::com;

namespace {

using Parts = std::vector<std::pair<QByteArray, QByteArray>>;  // file name, MIME type

// A notification with a text body and one attachment per part.
QByteArray mailWith(const Parts& parts) {
    QByteArray m =
        "From: Voicemail <vm@pbx.example.net>\r\nSubject: New voicemail from 5551234567\r\n"
        "MIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=\"b\"\r\n\r\n"
        "--b\r\nContent-Type: text/plain\r\n\r\nYou have a new voicemail. Listen at "
        "https://pbx.example.net/vm/1\r\n";
    for (const auto& [name, type] : parts) {
        m += "--b\r\nContent-Type: " + type + "\r\nContent-Transfer-Encoding: base64\r\n";
        if (!name.isEmpty())
            m += "Content-Disposition: attachment; filename=\"" + name + "\"\r\n";
        m += "\r\nUklGRgAAAAA=\r\n";
    }
    return m + "--b--\r\n";
}

// Whether the extension offers "Play voicemail" for the message.
bool extensionEnabled(CServerModule& module, const QByteArray& entryId) {
    void* object = nullptr;
    EXPECT_EQ(module.getClassObject(inboxext::kMenuExtensionClass, IID_IClassFactory, &object),
              S_OK);
    auto* factory = static_cast<IClassFactory*>(object);
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IObjectWithSite, &object), S_OK);
    factory->Release();
    auto* withSite = static_cast<IObjectWithSite*>(object);
    lyb::testing::SelectionSite site({entryId, QByteArray()});
    withSite->SetSite(&site);
    void* menu = nullptr;
    EXPECT_EQ(withSite->QueryInterface(IID_IContextMenu, &menu), S_OK);
    withSite->Release();
    auto* extension = static_cast<IContextMenu*>(menu);
    lyb::testing::RecordingMenu items;
    EXPECT_EQ(extension->QueryContextMenu(&items, 0, 100, 200, 0), S_OK);
    extension->Release();
    return !items.items.empty() && items.items[0].enabled;
}

TEST(VoicemailAgreement, ListCountAndExtensionAgreeOnEveryMessage) {
    const auto module = CServerModule::load(QStringLiteral(LYB_INBOXEXT_LIBRARY));
    ASSERT_TRUE(module);
    lyb::testing::MaildirFixture md;
    lyb::testing::chooseTodayAccount(md);
    store::CMapiSession session;
    ASSERT_TRUE(store::logon(session));
    const auto account = store::open_store_by_name(session, QStringLiteral("Voicemail"));
    ASSERT_TRUE(account);
    const auto inbox = store::open_inbox(*account);
    ASSERT_TRUE(inbox);

    const struct {
        const char* what;
        Parts parts;
        bool voicemail;
    } messages[] = {
        {"wave", {{"msg.wav", "audio/wav"}}, true},
        {"transcript before MP3",
         {{"transcript.txt", "text/plain"}, {"msg.mp3", "audio/mpeg"}},
         true},
        {"wave then notes", {{"msg.wav", "audio/wav"}, {"notes.txt", "text/plain"}}, true},
        {"picture, card, AAC",
         {{"photo.jpg", "image/jpeg"}, {"caller.vcf", "text/vcard"}, {"msg.m4a", "audio/mp4"}},
         true},
        {"octet-stream AMR", {{"msg.amr", "application/octet-stream"}}, true},
        {"3gpp video", {{"msg.3gp", "video/3gpp"}}, true},
        {"GSM by type, no name", {{"", "audio/x-gsm"}}, true},
        {"link-only notice", {}, false},
        {"picture only", {{"photo.jpg", "image/jpeg"}}, false},
        {"not a recording's extension", {{"msg.wave", "application/octet-stream"}}, false},
    };
    today::CVoicemailCounter counter;
    long counted = counter.count();
    EXPECT_EQ(counted, 0);
    for (const auto& m : messages) {
        SCOPED_TRACE(m.what);
        const QString unique = md.deliver(mailWith(m.parts));
        const QByteArray id = mapi::messageEntryId(md.root, unique);
        const bool listed = store::open_voicemail(*inbox, {QString(), id}) != nullptr;
        const long now = counter.count();
        EXPECT_EQ(listed, m.voicemail);
        EXPECT_EQ(now - counted, listed ? 1 : 0) << "the count";
        EXPECT_EQ(extensionEnabled(*module, id), listed) << "the extension";
        counted = now;
    }
}

}  // namespace
