#include <gtest/gtest.h>

#include "platform/pim/vcard.h"

using namespace lyb::pim::vcard;

namespace {

QString valueOf(const Card& card, const char* name) {
    const Property* p = card.find(QString::fromLatin1(name));
    return p ? unescape(p->value) : QStringLiteral("<none>");
}

Card only(const QByteArray& data) {
    ReadResult r = read(data);
    EXPECT_TRUE(r.problems.isEmpty())
        << (r.problems.isEmpty() ? "" : qPrintable(r.problems[0].reason));
    EXPECT_EQ(r.cards.size(), 1);
    return r.cards.value(0);
}

}  // namespace

TEST(VCardRead, DecodesQuotedPrintableWithSoftBreaksAndCharsetIn21) {
    const Card c = only(
        "BEGIN:VCARD\r\nVERSION:2.1\r\n"
        "N;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:M=C3=BCller;J=C3=B6rg\r\n"
        "FN;ENCODING=QUOTED-PRINTABLE;CHARSET=windows-1252:J=F6rg M=FCller=\r\n"
        ", Jr.\r\n"
        "NOTE;QUOTED-PRINTABLE:line one=0D=0Aline two\r\n"
        "TEL;CELL;VOICE:+1 415 555 1234\r\n"
        "END:VCARD\r\n");
    EXPECT_EQ(c.version, "2.1");
    EXPECT_EQ(valueOf(c, "FN"), QString::fromUtf8("Jörg Müller, Jr."));
    EXPECT_EQ(splitEscaped(c.find("N")->value).size(), 5);
    EXPECT_EQ(unescape(splitEscaped(c.find("N")->value)[0]), QString::fromUtf8("Müller"));
    EXPECT_EQ(valueOf(c, "NOTE"), "line one\nline two");
    const Property* tel = c.find("TEL");
    ASSERT_TRUE(tel);
    EXPECT_TRUE(tel->hasType("cell"));
    EXPECT_TRUE(tel->hasType("VOICE"));
    EXPECT_TRUE(tel->paramValues("ENCODING").isEmpty());
}

TEST(VCardRead, UnfoldsContinuationLinesWithAnyLineEnd) {
    for (const QByteArray& eol : {QByteArray("\r\n"), QByteArray("\n"), QByteArray("\r")}) {
        const Card c = only("BEGIN:VCARD" + eol + "VERSION:3.0" + eol + "FN:Anna Ma" + eol +
                            " ria Berg" + eol + "NOTE:a" + eol + "\tb" + eol + "END:VCARD" + eol);
        EXPECT_EQ(valueOf(c, "FN"), "Anna Maria Berg");
        EXPECT_EQ(valueOf(c, "NOTE"), "ab");
    }
}

TEST(VCardRead, KeepsEscapesAndSplitsOnlyUnescapedSeparators) {
    const Card c = only(
        "BEGIN:VCARD\nVERSION:4.0\nFN:Berg\\, Anna\\; \\\\ok\nADR:;;1\\, Main St;Town;;;\n"
        "X-CUSTOM;X-PARAM=\"a;b:c\",d:value\nTEL;TYPE=\"voice,cell\":1\nEND:VCARD\n");
    EXPECT_EQ(valueOf(c, "FN"), "Berg, Anna; \\ok");
    const QStringList adr = splitEscaped(c.find("ADR")->value);
    ASSERT_EQ(adr.size(), 7);
    EXPECT_EQ(unescape(adr[2]), "1, Main St");
    EXPECT_EQ(c.find("X-CUSTOM")->paramValues("x-param"), QStringList({"a;b:c", "d"}));
    EXPECT_TRUE(c.find("TEL")->hasType("cell"));
    EXPECT_FALSE(c.find("TEL")->hasType("home"));
}

TEST(VCardRead, ReadsSeveralCardsAndGroups) {
    const ReadResult r = read(
        "\xEF\xBB\xBF"
        "BEGIN:VCARD\nVERSION:3.0\nFN:One\nitem1.TEL:111\nEND:VCARD\n\n"
        "begin:vcard\nversion:4.0\nfn:Two\nend:vcard\n");
    ASSERT_EQ(r.cards.size(), 2);
    EXPECT_TRUE(r.problems.isEmpty());
    EXPECT_EQ(r.cards[0].find("TEL")->group, "item1");
    EXPECT_EQ(valueOf(r.cards[1], "FN"), "Two");
}

TEST(VCardRead, Converts21EscapingAndBase64To40Forms) {
    const Card c = only(
        "BEGIN:VCARD\r\nVERSION:2.1\r\nNOTE:a,b\\c\r\nN:Doe\\;Jr;John\r\n"
        "PHOTO;ENCODING=BASE64;TYPE=JPEG:\r\n /9j/4AAQ\r\n SkZJRg==\r\n\r\nEND:VCARD\r\n");
    EXPECT_EQ(c.find("NOTE")->value, "a\\,b\\\\c");
    EXPECT_EQ(unescape(splitEscaped(c.find("N")->value)[0]), "Doe;Jr");
    EXPECT_EQ(c.find("PHOTO")->value, "data:image/jpeg;base64,/9j/4AAQSkZJRg==");
    EXPECT_TRUE(c.find("PHOTO")->params.isEmpty());
}

TEST(VCardRead, DropsMalformedCardsAndKeepsTheRest) {
    struct Case {
        const char* what;
        QByteArray card;
    };
    const Case cases[] = {
        {"no colon", "BEGIN:VCARD\nVERSION:3.0\nFN Anna\nEND:VCARD\n"},
        {"bad name", "BEGIN:VCARD\nVERSION:3.0\nF N:Anna\nEND:VCARD\n"},
        {"unclosed quote", "BEGIN:VCARD\nVERSION:4.0\nTEL;TYPE=\"cell:1\nEND:VCARD\n"},
        {"no version", "BEGIN:VCARD\nFN:Anna\nEND:VCARD\n"},
        {"unknown version", "BEGIN:VCARD\nVERSION:5.0\nFN:Anna\nEND:VCARD\n"},
        {"bad quoted-printable", "BEGIN:VCARD\nVERSION:2.1\nFN;QUOTED-PRINTABLE:A=ZZ\nEND:VCARD\n"},
        {"not UTF-8", "BEGIN:VCARD\nVERSION:4.0\nFN:\xC3(\nEND:VCARD\n"},
        {"bad base64", "BEGIN:VCARD\nVERSION:3.0\nPHOTO;ENCODING=b:@@\nEND:VCARD\n"},
        {"no END before BEGIN", "BEGIN:VCARD\nVERSION:3.0\nFN:Anna\n"},
    };
    const QByteArray good = "BEGIN:VCARD\nVERSION:3.0\nFN:Good\nEND:VCARD\n";
    for (const Case& c : cases) {
        const ReadResult r = read(c.card + good);
        EXPECT_FALSE(r.problems.isEmpty()) << c.what;
        ASSERT_EQ(r.cards.size(), 1) << c.what;
        EXPECT_EQ(valueOf(r.cards[0], "FN"), "Good") << c.what;
    }
    const ReadResult truncated = read("BEGIN:VCARD\nVERSION:3.0\nFN:Anna");
    EXPECT_TRUE(truncated.cards.isEmpty());
    EXPECT_EQ(truncated.problems.size(), 1);
}

TEST(VCardRead, Accepts21BytesThatAreNotUtf8AsLatin1) {
    const Card c = only("BEGIN:VCARD\nVERSION:2.1\nFN:J\xF6rg\nEND:VCARD\n");
    EXPECT_EQ(valueOf(c, "FN"), QString::fromUtf8("Jörg"));
}

TEST(VCardRead, DecodesEveryCharsetQtKnowsAndMarksOthersReadOnly) {
    struct Case {
        QByteArray fn;  // the FN line of a 2.1 card
        const char* text;
        bool readOnly;
    };
    const Case cases[] = {
        {"FN;CHARSET=ISO-8859-5:\xB8\xD2\xD0\xDD \xBF\xD5\xE2\xE0\xDE\xD2", "Иван Петров", false},
        {"FN;CHARSET=iso-8859-7;ENCODING=QUOTED-PRINTABLE:=C3=E9=DC=ED=ED=E7=F2", "Γιάννης", false},
        {"FN;CHARSET=Shift_JIS:\x8E\x52\x93\x63\x91\xBE\x98\x59", "山田太郎", false},
        {"FN;CHARSET=windows-1252:\x80 5", "€ 5", false},
        {"FN;CHARSET=X-NO-SUCH:J\xF6rg", "Jörg", true},
    };
    for (const Case& c : cases) {
        const Card card = only("BEGIN:VCARD\r\nVERSION:2.1\r\n" + c.fn + "\r\nEND:VCARD\r\n");
        EXPECT_EQ(valueOf(card, "FN"), QString::fromUtf8(c.text)) << c.fn.constData();
        EXPECT_EQ(card.readOnly.contains("X-NO-SUCH"), c.readOnly) << c.fn.constData();
    }
}

TEST(VCardRead, ReportsTextOutsideCardsOnce) {
    const ReadResult r =
        read("junk\nmore junk\nBEGIN:VCARD\nVERSION:3.0\nFN:A\nEND:VCARD\nEND:VCARD\n");
    EXPECT_EQ(r.cards.size(), 1);
    EXPECT_EQ(r.problems.size(), 1);
    EXPECT_EQ(r.problems[0].line, 1);
}

TEST(VCardWrite, WritesVersion4AndReadsBackEveryProperty) {
    const Card in = only(
        "BEGIN:VCARD\nVERSION:2.1\nFN:Anna\nX-UNUSED;FOO=bar,baz:keep me, please\n"
        "X-QUOTED;P=\"a:b\":v\nX-MARK:\xEF\xBB\xBFkept\nNOTE:" +
        QByteArray(200, 'x') + "\xC3\xA9" + QByteArray(100, 'y') + "\nEND:VCARD\n");
    const QByteArray bytes = write(in);
    EXPECT_TRUE(bytes.startsWith("BEGIN:VCARD\r\nVERSION:4.0\r\n"));
    for (const QByteArray& line : bytes.split('\n'))
        EXPECT_LE(line.size(), 76);  // 75 octets and the CR
    const Card out = only(bytes);
    EXPECT_EQ(out.version, "4.0");
    ASSERT_EQ(out.properties.size(), in.properties.size());
    for (qsizetype i = 0; i < in.properties.size(); ++i) {
        EXPECT_EQ(out.properties[i].name, in.properties[i].name);
        EXPECT_EQ(out.properties[i].value, in.properties[i].value);
        EXPECT_EQ(out.properties[i].paramValues("FOO"), in.properties[i].paramValues("FOO"));
        EXPECT_EQ(out.properties[i].paramValues("P"), in.properties[i].paramValues("P"));
    }
    EXPECT_EQ(valueOf(out, "X-UNUSED"), "keep me, please");
    EXPECT_EQ(valueOf(out, "X-MARK"),
              QChar(0xFEFF) + QStringLiteral("kept"));  // text, not a file's mark
}
