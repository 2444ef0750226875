#include <gtest/gtest.h>

#include "platform/mapi/imap_url.h"

using lyb::mapi::ImapAddress;
using lyb::mapi::parseImapAddress;

namespace {

struct Good {
    const char* text;
    bool tls;
    const char* user;
    const char* host;
    int port;
    const char* folder;
    const char* ca;
};

TEST(ImapAddress, ParsesAccountLines) {
    const Good cases[] = {
        {"imaps://me@mail.example.com", true, "me", "mail.example.com", 993, "INBOX", ""},
        {"imaps://me@mail.example.com/", true, "me", "mail.example.com", 993, "INBOX", ""},
        {"IMAPS://me@host:10993/Voicemail", true, "me", "host", 10993, "Voicemail", ""},
        {"imap://me@host/INBOX", false, "me", "host", 143, "INBOX", ""},
        {"imap://me@host:1143", false, "me", "host", 1143, "INBOX", ""},
        {"imaps://me%40example.com@host/Work%2FVoice", true, "me@example.com", "host", 993,
         "Work/Voice", ""},
        {"imaps://me@example.com@host", true, "me@example.com", "host", 993, "INBOX", ""},
        {"imaps://%C3%A9lise@host/Bo%C3%AEte", true, "\xC3\xA9lise", "host", 993, "Bo\xC3\xAEte",
         ""},
        {"imaps://me@[::1]:9993/INBOX", true, "me", "::1", 9993, "INBOX", ""},
        {"imaps://me@127.0.0.1:9993/INBOX?ca=/etc/my%20ca.pem", true, "me", "127.0.0.1", 9993,
         "INBOX", "/etc/my ca.pem"},
        {"imap://me@host?ca=/ca.pem", false, "me", "host", 143, "INBOX", "/ca.pem"},
    };
    for (const Good& c : cases) {
        SCOPED_TRACE(c.text);
        ImapAddress a;
        QString error;
        ASSERT_TRUE(parseImapAddress(QString::fromUtf8(c.text), a, &error)) << error.toStdString();
        EXPECT_EQ(a.implicitTls, c.tls);
        EXPECT_EQ(a.user, QString::fromUtf8(c.user));
        EXPECT_EQ(a.host, QString::fromUtf8(c.host));
        EXPECT_EQ(a.port, c.port);
        EXPECT_EQ(a.folder, QString::fromUtf8(c.folder));
        EXPECT_EQ(a.caFile, QString::fromUtf8(c.ca));
    }
}

TEST(ImapAddress, RefusesBrokenLinesWithAReason) {
    const char* cases[] = {
        "http://me@host",        "imaps://host",          "imaps://@host",
        "imaps://me@",           "imaps://me@host:",      "imaps://me@host:0",
        "imaps://me@host:65536", "imaps://me@host:+1",    "imaps://me@host:x",
        "imaps://me@ho st",      "imaps://m%4@host",      "imaps://m%00e@host",
        "imaps://m%FFe@host",    "imaps://me@[::1",       "imaps://me@[zz]",
        "imaps://me@[::1]x",     "imaps://me@host?cb=/x", "imaps://me@host?ca=rel.pem",
        "imaps://me@host/%",     "imaps://me@ho/st\x01",
    };
    for (const char* text : cases) {
        SCOPED_TRACE(text);
        ImapAddress a;
        QString error;
        EXPECT_FALSE(parseImapAddress(QString::fromUtf8(text), a, &error));
        EXPECT_FALSE(error.isEmpty());
    }
}

}  // namespace
