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

TEST(DefaultVoiceMailParser, FindsCallersInBodiesAndSubjects) {
    const ParseCase cases[] = {
        {"", "Caller ID: +1 (555) 123-4567 Received at noon", "", "15551234567"},
        {"", "Caller ID: 555-123-4567\r\nCaller Name: JOHN SMITH", "", "5551234567"},
        {"", "Caller Name: John Smith", "John Smith", ""},
        {"", "Caller Name: John\r\n", "John\r", ""},
        {"", "From: \"Smith, John\" <5551234567>", "Smith, John", "5551234567"},
        {"", "New voicemail from Mary Ann Jones", "Mary Ann", ""},
        {"Voice Mail Message (5551234567)", "nothing here", "", "5551234567"},
        {"Voice mail from Alice (5550001)", "", "Alice ", "5550001"},
        {"", "from 111 ... from 222 and from 333", "", "333"},
        {"", "CALLER ID:   5551234", "", "5551234"},
        {"", "Caller id: unknown caller", "unknown caller", ""},
        {"", "From: Bob<123>x", "Bob", "123"},
        {"", "From: Bob Smith (555) 777", "Bob Smith", "555"},
        {"", "From: Bob, at work", "Bob", ""},
        {"", "From: Bob Smith, at work", "Bob Smith", ""},
        {"", "From: Bob   Smith", "Bob ", ""},
        {"", "From: <5a5b5>", "", "555"},
        {"", "caller id: \"\"", "", ""},
        {"", "From: \"Unclosed name", "Unclosed name", ""},
        {"", "Caller ID: <b>5551234</b>", "", "5551234"},
        {"", "Caller&nbsp;ID: 5551234", "", ""},
        {"no keyword", "no keyword", "", ""},
    };
    for (const ParseCase& c : cases) {
        SCOPED_TRACE(c.body);
        CDefaultVoiceMailParser parser;
        const bool found = parser.parse(QString::fromUtf8(c.subject), QString::fromUtf8(c.body));
        EXPECT_EQ(parser.caller_name, QString::fromUtf8(c.name));
        EXPECT_EQ(parser.caller_number, QString::fromUtf8(c.number));
        EXPECT_EQ(found, *c.name || *c.number);
    }
}

TEST(CallerScanner, StopsWhereTheStateTableSays) {
    struct Case {
        const char* text;
        int endState;
        qsizetype stoppedAfter;  // characters consumed
    };
    const Case cases[] = {
        {" 12a", 1, 4},      // the letter stops the number after being read
        {"Ann-", 2, 4},      // punctuation in a first name word stops
        {"Ann B.", 4, 6},    // punctuation in a later word stops
        {"Ann B  x", 5, 8},  // after the name anything but space or bracket stops
        {"<12)", 6, 4},      // a closing bracket ends the bracketed number
        {"\"a\"b", 2, 4},    // after a quoted name the scan starts over
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        CCallerScanner scanner(QString::fromUtf8(c.text));
        scanner.scan();
        EXPECT_EQ(scanner.state, c.endState);
        EXPECT_EQ(scanner.position, c.stoppedAfter);
    }
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
