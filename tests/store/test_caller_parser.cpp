#include <gtest/gtest.h>

#include "store/body_text.h"
#include "store/voicemail_message.h"
#include "tests/store/fake_message.h"

using namespace lyb::store;
using lyb::testing::FakeMessage;

namespace {

struct ParseCase {
    const char* subject;
    const char* body;
    const char* name;
    const char* number;
};

}  // namespace

// Notifications written after the phone systems' and carriers' own templates:
// the caller as a person reads it.
TEST(DefaultVoiceMailParser, ReadsCallersAsAPersonDoes) {
    const ParseCase cases[] = {
        // Built-in body of the voicemail application, and its forwarded form.
        {"[PBX]: New message 3 in mailbox 100",
         "Dear Ann Lee:\n\n\tjust wanted to let you know you were just left a 0:12 long message "
         "(number 3)\nin mailbox 100 from an unknown caller, on Sunday, so you might\nwant to "
         "check it when you get a chance.  Thanks!\n\n\t\t\t\t--PBX\n",
         "", ""},
        {"[PBX]: New message 3 in mailbox 100",
         "Dear Ann Lee:\n\n\tjust wanted to let you know you were just left a 0:12 long message "
         "(number 3)\nin mailbox 100 from \"Anonymous\" <anonymous>, on Sunday, so you might",
         "", ""},
        {"", "in mailbox 100 from \"Zo\xC3\xAB O'Brien\" <5551234567>, on Sunday, so you might",
         "Zo\xC3\xAB O'Brien", "5551234567"},
        {"", "in mailbox 100 from \"Smith, Jones & Co.\" <6175550123>, on Sunday",
         "Smith, Jones & Co.", "6175550123"},
        {"", "in mailbox 100 from Bob Smith, on Sunday, so you might", "Bob Smith", ""},
        {"", "in mailbox 100 from 5551234567, on Sunday", "", "5551234567"},
        {"",
         "you were just forwarded a 0:30 long message (number 2)\nin mailbox 200 from \"Bob\" "
         "<201>, on Monday,\n(it was originally from \"Ann Lee\" <5551234567> on Sunday)\nso you "
         "might",
         "Ann Lee", "5551234567"},
        // The voice mail module of the PBX distribution: labelled lines.
        {"PBX Voicemail Notification",
         "Ann,\n\nThere is a new voicemail in mailbox 100:\n\n\tFrom:\t\"Sean Murphy\" <+353 1 555 "
         "0199>\n\tLength:\t12 seconds\n\tDate:\tSunday\n\nDial *98 from any phone to access your "
         "voicemail.",
         "Sean Murphy", "+35315550199"},
        {"Voicemail from \"Se\xC3\xA1n\" <5035550142>", "", "Se\xC3\xA1n", "5035550142"},
        // The soft switch's template; the number given for a missing name.
        {"Voicemail from \"442079460958\" <442079460958> 00:00:24",
         "Created: Sunday\nFrom: \"442079460958\" <442079460958>\nDuration: 00:00:24\nAccount: "
         "100@pbx.example.org",
         "", "442079460958"},
        {"", "From: 442079460958 442079460958\nDuration: 00:00:24", "", "442079460958"},
        // The hosted platform's teletype mails, text and HTML.
        {"New voicemail from Pat Lee Morgan (6175550123)",
         "New Voicemail Message\n\nCaller ID: Pat Lee Morgan (6175550123)\nCallee ID: Ann Lee "
         "(2001)\nCall received: Sunday\n\nSent from kz-apps01.example.net",
         "Pat Lee Morgan", "6175550123"},
        {"New voicemail",
         "New Voicemail Message\n\nCallee ID: Ann Lee (2001)\n\nSent from kz-apps01.example.net",
         "", ""},
        {"",
         "<html><body><table><tr><td>Caller ID</td><td>Pat Lee Morgan "
         "(6175550123)</td></tr><tr><td>Callee ID</td><td>Ann Lee</td></tr></table><p>Sent from "
         "kz-apps01</p></body></html>",
         "Pat Lee Morgan", "6175550123"},
        // The web PBX's text, HTML (quoted-printable) and transcription.
        {"Voicemail from Erik Larsen <5035550142> 00:00:09",
         "Voicemail from Erik Larsen <5035550142>\nTranscription: Hi, this is Dave from accounts, "
         "call me back.",
         "Erik Larsen", "5035550142"},
        {"",
         "<font face=3Darial><b>Message From &quot;Se&aacute;n Murphy&quot; <A "
         "HREF=3D\"tel:555.123.4567\">555.123.4567</A></b><br/><hr noshade size=3D1/>Created: "
         "Sunday<br/>",
         "Se\xC3\xA1n Murphy", "5551234567"},
        {"New voicemail", "Transcription: Hi it's Dave from Accounts, please call me back.", "",
         ""},
        {"", "<p>Caller&nbsp;ID:&nbsp;Zo&euml; O&#39;Brien (503) 555-0142</p>",
         "Zo\xC3\xAB O'Brien", "5035550142"},
        // The media server's template with a SIP address.
        {"Voicemail from \"Ann Lee\" <sip:+442079460958@sip.example.org>",
         "Hello 2001,\n\nyou have a new voicemail.\nFrom: \"Ann Lee\" "
         "<sip:+442079460958@sip.example.org>",
         "Ann Lee", "+442079460958"},
        // The minimal voicemail's templates, English and others.
        {"", "in mailbox 100 from \"Ann Lee\" <5551234567>, on Sunday, so you might", "Ann Lee",
         "5551234567"},
        {"Nytt r\xC3\xB6stmeddelande fr\xC3\xA5n Lars Nilsson",
         "Hej Ann!\n\nDu har f\xC3\xA5tt ett meddelande fr\xC3\xA5n Lars Nilsson <46701234567>.",
         "Lars Nilsson", "46701234567"},
        {"Neue Sprachnachricht von Hans M\xC3\xBCller",
         "Sie haben eine neue Nachricht von \"Hans M\xC3\xBCller\" <4930123456>.",
         "Hans M\xC3\xBCller", "4930123456"},
        {"Nouveau message vocal de Jean Dupont", "", "Jean Dupont", ""},
        {"Nuevo mensaje de voz de Juan P\xC3\xA9rez <34911234567>", "", "Juan P\xC3\xA9rez",
         "34911234567"},
        {"Nuovo messaggio vocale da Mario Rossi",
         "Hai un nuovo messaggio da \"Mario Rossi\" <390612345678>", "Mario Rossi", "390612345678"},
        {"Nieuw voicemailbericht van Jan de Vries", "", "Jan de Vries", ""},
        // The business phone system and the carriers.
        {"New voicemail from Erik Larsen (5035550142)",
         "Hi Ann,\n\nYou have received a new voicemail from Erik Larsen (5035550142).",
         "Erik Larsen", "5035550142"},
        {"Voice Mail Message (617-555-0123)", "You received a voice mail for your voicemail box.",
         "", "6175550123"},
        {"Voice Mail Message (617-555-0123)",
         "You have a new message from JOHN SMITH for your voicemail box", "JOHN SMITH",
         "6175550123"},
        {"", "Caller ID: 555-123-4567\r\nCaller Name: JOHN SMITH\r\n", "JOHN SMITH", "5551234567"},
        {"", "Caller Name: Private\nCaller ID: Restricted", "", ""},
        {"", "Caller ID: Withheld", "", ""},
        {"", "Caller Name: WIRELESS CALLER\nCaller ID: 4155550123", "", "4155550123"},
        {"New voicemail message for 100",
         "Mailbox number: 100\nCallerID number: 4155550199\nCallerID name: Rita Moreno",
         "Rita Moreno", "4155550199"},
        {"", "Caller ID: 5551234567 JOHN SMITH", "JOHN SMITH", "5551234567"},
        {"New voicemail from (650) 555-1234 Received: Monday", "", "", "6505551234"},
        {"", "Caller Name: Line 2\nCaller Number: 201", "Line 2", "201"},
        {"", "From: Erik Larsen (503) 555-0142", "Erik Larsen", "5035550142"},
        {"", "From: Unknown <5551234567>", "", "5551234567"},
        {"", "Caller ID: +44 20 7946 0958, received Sunday", "", "+442079460958"},
        // Subject and body disagree: the more complete reading wins.
        {"Voicemail from Ann Lee", "From: \"Ann Lee\" <5551234567>", "Ann Lee", "5551234567"},
        {"Voicemail from Ann Lee (5551234567)", "Message from Ann Lee", "Ann Lee", "5551234567"},
        {"", "Sent from my phone", "", ""},
        {"no caller here", "Dear Ann Lee, nothing to see.", "", ""},
    };
    for (const ParseCase& c : cases) {
        SCOPED_TRACE(std::string(c.subject) + " | " + c.body);
        CDefaultVoiceMailParser parser;
        const bool found = parser.parse(QString::fromUtf8(c.subject), QString::fromUtf8(c.body));
        EXPECT_EQ(parser.caller_name.toStdString(), c.name);
        EXPECT_EQ(parser.caller_number.toStdString(), c.number);
        EXPECT_EQ(found, *c.name || *c.number);
    }
}

TEST(DefaultVoiceMailParser, ReadsLongHostileTextsInLinearTime) {
    // A reading per keyword that looked to the end of the line each time
    // would not finish within the test's time limit.
    for (const QString& body : {QStringLiteral("from ").repeated(400'000),
                                QStringLiteral("Caller ID: Ann ").repeated(200'000)}) {
        CDefaultVoiceMailParser parser;
        parser.parse(body, body);
    }
}

TEST(DefaultVoiceMailParser, KeepsTheTranscriptOfTheBody) {
    const std::pair<const char*, const char*> cases[] = {
        {"From: Ann\n\nTranscription: Hi, it's Ann.\nCall me back.\n\nSent from pbx",
         "Hi, it's Ann.\nCall me back."},
        {"<p>Voicemail Transcription:</p><p>See you at&nbsp;noon.</p>", "See you at noon."},
        {"From: Ann\nNo transcript available.", ""},
        {"Transcription Status: completed\nTranscription:\n\nHello there.", "Hello there."},
    };
    for (const auto& [body, transcript] : cases) {
        SCOPED_TRACE(body);
        CDefaultVoiceMailParser parser;
        parser.parse(QString(), QString::fromUtf8(body));
        EXPECT_EQ(parser.transcript.toStdString(), transcript);
    }
}

TEST(VoiceMailRecord, KeepsTheTranscriptOfTheBodyOrOfAnAttachedText) {
    using namespace lyb::mapi;
    using lyb::testing::FakeAttachment;
    const FakeAttachment recording{"msg.wav", "audio/wav", true, "RIFF"};
    const struct {
        const char* body;
        std::vector<FakeAttachment> attachments;
        const char* transcript;
    } cases[] = {
        {"From: Ann\nTranscript: Call me.", {recording}, "Call me."},
        {"From: Ann",
         {{"Transcription.txt", "text/plain", true, "Caf\xC3\xA9 at noon.\n"}, recording},
         "Caf\xC3\xA9 at noon."},
        {"From: Ann", {recording, {"notes.txt", "text/plain", true, "not this"}}, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.body);
        auto m = std::make_unique<FakeMessage>();
        m->setString(PR_BODY_W, QString::fromUtf8(c.body));
        m->attachments = c.attachments;
        std::unique_ptr<IMessage> message = std::move(m);
        CVoiceMailMessage record(message);
        EXPECT_EQ(record.transcript().toStdString(), c.transcript);
    }
}

TEST(BodyAsText, DecodesQuotedPrintableEntitiesAndBlocks) {
    const std::pair<const char*, const char*> cases[] = {
        {"Se=C3=A1n =3D soft=\r\nbreak", "Se\xC3\xA1n = softbreak"},
        {"<div>a&nbsp;&amp;&#233;&#x2019;</div><br>b\n  c<script>x</script>",
         "\na &\xC3\xA9\xE2\x80\x99\n\nb c"},
        {"plain \"Anonymous\" <anonymous> a = b", "plain \"Anonymous\" <anonymous> a = b"},
        {"<p>x &bogus; < 5 and <!-- c --></p>", "\nx &bogus; < 5 and\n"},
    };
    for (const auto& [in, out] : cases) {
        SCOPED_TRACE(in);
        EXPECT_EQ(body_as_text(QString::fromUtf8(in)).toStdString(), out);
    }
    // Markers by the million come out in time proportional to the text.
    constexpr qsizetype n = 2'000'000;
    EXPECT_EQ(body_as_text(QStringLiteral("<p>a").repeated(n)).size(), 2 * n);
    EXPECT_EQ(body_as_text(QStringLiteral("<br><").repeated(n)).size(), 2 * n);
    EXPECT_EQ(body_as_text("<p>" + QStringLiteral("<!--").repeated(n)).size(), 4 * n + 1);
}

TEST(StripMarkup, RemovesCommentsEntitiesAndTagsInOrder) {
    const std::pair<const char*, const char*> cases[] = {
        {"Caller&nbsp;ID", "CallerID"},
        {"A&amp;B", "AB"},
        {"x&AMP;y&Copy;z", "xyz"},
        {"&lt;b&gt;", "<b>"},
        {"&amp;lt;", "lt;"},
        {"&lt;lt;lt;", "<lt;lt;"},
        {"<br>Caller ID: 5551234", "Caller ID: 5551234"},
        {"<5551234>", "<5551234>"},
        {"a <!-- note --> b", "a  b"},
        {"a <!-- note", "a <!-- note"},
        {"a <!-- note > b", "a  b"},
        {"a < b > c", "a  c"},
        {"a <5 b> c", "a <5 b> c"},
        {"a < b", "a < b"},
        {"<!----><p>x</p>-->", "x-->"},
        {"&#39;&hellip;", "&#39;&hellip;"},
        {"", ""},
    };
    for (const auto& [in, out] : cases) {
        SCOPED_TRACE(in);
        QString text = QString::fromUtf8(in);
        strip_markup(text);
        EXPECT_EQ(text, QString::fromUtf8(out));
    }
}

TEST(StripMarkup, LongHostileBodiesComeOutWhole) {
    // Millions of markers: a removal that moved the rest of the text each
    // time would not finish within the test's time limit.
    constexpr qsizetype n = 4'000'000;
    const struct {
        QString in, out;
    } cases[] = {
        {QStringLiteral("a<b>").repeated(n), QStringLiteral("a").repeated(n)},
        {QStringLiteral("<1").repeated(n) + QLatin1Char('>'),
         QStringLiteral("<1").repeated(n) + QLatin1Char('>')},
        {QStringLiteral("<!---->x").repeated(n / 2), QStringLiteral("x").repeated(n / 2)},
        {QStringLiteral("&AMP;y").repeated(n), QStringLiteral("y").repeated(n)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.in.left(8).toStdString());
        QString text = c.in;
        strip_markup(text);
        EXPECT_EQ(text, c.out);
    }
}

TEST(TextOperations, DeleteClipsAndReplaceDoesNotRescan) {
    QString t = QStringLiteral("abcdef");
    delete_chars(t, 4, 100);
    EXPECT_EQ(t, "abcd");
    delete_chars(t, 1, 0);
    delete_chars(t, 1, -3);
    delete_chars(t, 9, 1);
    EXPECT_EQ(t, "abcd");
    QString r = QStringLiteral("aaa");
    EXPECT_EQ(replace_all(r, QStringLiteral("a"), QStringLiteral("aa")), 3);
    EXPECT_EQ(r, "aaaaaa");
    EXPECT_EQ(replace_all(r, QStringLiteral("x"), QStringLiteral("y")), 0);
}

TEST(ReadBodyText, TakesTheFirstBodyThatOpensAndWidensIt) {
    using namespace lyb::mapi;
    {
        FakeMessage m;
        m.setString(PR_BODY_W, QString::fromUtf8("Caller Name: Zo\xC3\xAB"));
        m.setBinary(PR_MIME_RAW, "Subject: x\n\nraw");
        EXPECT_EQ(read_body_text(m), QString::fromUtf8("Caller Name: Zo\xC3\xAB"));
    }
    {
        FakeMessage m;  // 8-bit bytes become the characters of the same value
        m.setBinary(PR_BODY_A, QByteArray("caf\xE9\0tail", 9));
        EXPECT_EQ(read_body_text(m), QString::fromUtf8("caf\xC3\xA9"));
    }
    {
        FakeMessage m;
        m.setBinary(PR_MIME_RAW, "Subject: x\r\nFrom: y\r\n\r\nCaller ID: 5\r\n\r\nmore");
        EXPECT_EQ(read_body_text(m), "Caller ID: 5\r\n\r\nmore");
        m.setBinary(PR_MIME_RAW, "Subject: x\r\nno blank line");
        EXPECT_EQ(read_body_text(m), "Subject: x\r\nno blank line");
        m.setBinary(PR_MIME_RAW, "a\r\n\r\nb\n\nc");
        EXPECT_EQ(read_body_text(m), "c");  // "\n\n" is looked for first
    }
    {
        FakeMessage m;
        m.setBinary(PR_BODY_HTML_A, "<p>Caller&nbsp;Name: Al</p>");
        EXPECT_EQ(read_body_text(m), "<p>Caller&nbsp;Name: Al</p>");
        m.setString(PR_BODY_HTML_W, QStringLiteral("<b>html</b>"));
        EXPECT_EQ(read_body_text(m), "<b>html</b>");
    }
    {
        FakeMessage m;  // an empty body is empty, not the next one
        m.setString(PR_BODY_W, QString());
        m.setBinary(PR_MIME_RAW, "Subject: x\n\nraw");
        EXPECT_EQ(read_body_text(m), QString());
        FakeMessage none;
        EXPECT_EQ(read_body_text(none), QString());
    }
}

TEST(ReadBodyText, ReadsOnlyTheStartOfALongBody) {
    using namespace lyb::mapi;
    const QByteArray big(3 * kMaxBodyBytes, 'x');
    {
        FakeMessage m;
        m.setBinary(PR_BODY_A, big);
        EXPECT_EQ(read_body_text(m).size(), kMaxBodyBytes);
    }
    {
        FakeMessage m;
        m.setString(PR_BODY_W, QString::fromLatin1(big));
        EXPECT_EQ(read_body_text(m).size(), kMaxBodyBytes / 2);
    }
    {
        FakeMessage m;  // the headers count towards the bytes read
        m.setBinary(PR_MIME_RAW, "Subject: x\n\n" + big);
        EXPECT_EQ(read_body_text(m), QString::fromLatin1(big.left(kMaxBodyBytes - 12)));
    }
}
