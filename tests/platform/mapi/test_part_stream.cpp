#include <gtest/gtest.h>

#include <QByteArray>
#include <QRandomGenerator>

#include "platform/mapi/part_stream.h"

using namespace lyb::mapi;

namespace {

PartContent base64Part(const QByteArray& encoded, qsizetype offset = 0, qsizetype length = -1) {
    PartContent p;
    p.source = encoded;
    p.offset = offset;
    p.length = length < 0 ? encoded.size() - offset : length;
    p.base64 = true;
    return p;
}

// Reads the whole stream in pieces of the given size.
QByteArray readInPieces(IStream* s, uint32_t piece) {
    QByteArray all;
    QByteArray buffer(piece, '\0');
    for (;;) {
        uint32_t got = 0;
        const HRESULT hr = s->Read(buffer.data(), piece, &got);
        all.append(buffer.constData(), got);
        if (hr != S_OK)
            break;
    }
    return all;
}

QByteArray wrapped(const QByteArray& bytes, const char* lineEnd) {
    const QByteArray b64 = bytes.toBase64();
    QByteArray out;
    for (qsizetype i = 0; i < b64.size(); i += 76)
        out += b64.mid(i, 76) + lineEnd;
    return out;
}

}  // namespace

// Mail's base64: what lies outside the alphabet is skipped, pads end a group,
// and size, whole decoding and a stream read in any pieces agree.
TEST(PartStream, Base64AsMailCarriesIt) {
    const struct {
        const char* name;
        QByteArray encoded;
        QByteArray decoded;
    } cases[] = {
        {"padded", "QUJDRA==", "ABCD"},
        {"one pad", "QUJDREU=", "ABCDE"},
        {"no pad needed", "QUJD", "ABC"},
        {"unpadded two symbols", "QUJDRA", "ABCD"},
        {"unpadded three symbols", "QUJDREU", "ABCDE"},
        {"a lone symbol holds nothing", "QUJDR", "ABC"},
        {"line breaks and blanks", "QU\r\nJD\n R A\t==\r\n", "ABCD"},
        {"junk between symbols", "Q!U*J$D", "ABC"},
        {"concatenated after a pad", "QQ==QkI=Qw==", "ABBC"},
        {"a pad inside a group", "QU=JD", "A$"},
        {"only pads and junk", "====!!!!", ""},
        {"empty", "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const PartContent part = base64Part(c.encoded);
        EXPECT_EQ(part.decodedSize(), uint64_t(c.decoded.size()));
        EXPECT_EQ(part.decoded(), c.decoded);
        IStream* s = part.open();
        if (c.decoded.isEmpty()) {
            EXPECT_EQ(s, nullptr);  // content that decodes to nothing does not open
            continue;
        }
        ASSERT_NE(s, nullptr);
        EXPECT_EQ(readInPieces(s, 1), c.decoded);
        s->Release();
    }
}

TEST(PartStream, LargeContentReadsAlikeInAnyPiecesAndSeeks) {
    QByteArray data(300001, Qt::Uninitialized);
    QRandomGenerator random(7);
    for (char& c : data)
        c = static_cast<char>(random.generate());
    for (const char* lineEnd : {"\r\n", "\n"}) {
        // The part sits inside a larger buffer, as in a message file.
        const QByteArray file = "headers\r\n\r\n" + wrapped(data, lineEnd) + "--boundary--\r\n";
        const PartContent part = base64Part(file, 11, file.size() - 11 - 14);
        EXPECT_EQ(part.decoded(), data);
        for (uint32_t piece : {1u, 7u, 2048u, 65536u, 1u << 20}) {
            SCOPED_TRACE(piece);
            IStream* s = part.open();
            ASSERT_NE(s, nullptr);
            STATSTG st;
            ASSERT_EQ(s->Stat(&st, STATFLAG_NONAME), S_OK);
            EXPECT_EQ(st.cbSize, uint64_t(data.size()));
            if (piece == 1) {
                // Only the first few bytes: the reader of a header.
                char header[12];
                uint32_t got = 0;
                EXPECT_EQ(s->Read(header, 12, &got), S_OK);
                EXPECT_EQ(QByteArray(header, 12), data.left(12));
            } else {
                EXPECT_EQ(readInPieces(s, piece), data);
            }
            s->Release();
        }
        IStream* s = part.open();
        uint64_t at = 0;
        char buffer[100];
        uint32_t got = 0;
        ASSERT_EQ(s->Seek(250000, STREAM_SEEK_SET, &at), S_OK);
        EXPECT_EQ(s->Read(buffer, 100, &got), S_OK);
        EXPECT_EQ(QByteArray(buffer, 100), data.mid(250000, 100));
        ASSERT_EQ(s->Seek(-50, STREAM_SEEK_END, &at), S_OK);
        EXPECT_EQ(at, uint64_t(data.size() - 50));
        EXPECT_EQ(s->Read(buffer, 100, &got), S_FALSE);
        EXPECT_EQ(QByteArray(buffer, int(got)), data.right(50));
        ASSERT_EQ(s->Seek(10, STREAM_SEEK_SET, &at), S_OK);
        EXPECT_EQ(s->Read(buffer, 20, &got), S_OK);
        EXPECT_EQ(QByteArray(buffer, 20), data.mid(10, 20));
        s->Release();
    }
}

// Random mixtures of symbols, pads, line breaks and junk decode as the
// rules say whatever the stream is asked for first: its size halfway through
// is counted from where decoding stopped.
TEST(PartStream, Base64DecodesByItsRulesWhereverGroupsAndJunkFall) {
    // The rules, one character at a time.
    auto reference = [](const QByteArray& in) {
        static const QByteArray alphabet =
            "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        QByteArray out;
        uint32_t bits = 0;
        int symbols = 0;
        auto flush = [&] {
            if (symbols >= 2)
                out.append(char((bits << (6 * (4 - symbols))) >> 16));
            if (symbols == 3)
                out.append(char((bits << 6) >> 8));
            bits = 0;
            symbols = 0;
        };
        for (char c : in) {
            const qsizetype rank = alphabet.indexOf(c);
            if (c == '=') {
                flush();
            } else if (rank >= 0) {
                bits = (bits << 6) | uint32_t(rank);
                if (++symbols == 4) {
                    out.append(char(bits >> 16)).append(char(bits >> 8)).append(char(bits));
                    bits = 0;
                    symbols = 0;
                }
            }
        }
        flush();
        return out;
    };
    QRandomGenerator random(11);
    for (int round = 0; round < 300; ++round) {
        QByteArray encoded;
        const int length = 1 + int(random.bounded(4000));
        const int noise = 1 + int(random.bounded(200));  // one odd character in about this many
        for (int i = 0; i < length; ++i) {
            const quint32 pick = random.bounded(noise);
            if (pick == 0) {
                encoded += "=\r\n !*-"[random.bounded(8)];
            } else {
                encoded += QByteArray(1, char(random.bounded(256))).toBase64().at(0);
            }
        }
        SCOPED_TRACE(encoded.left(80).constData());
        const QByteArray expected = reference(encoded);
        const PartContent part = base64Part(encoded);
        EXPECT_EQ(part.decoded(), expected);
        EXPECT_EQ(part.decodedSize(), uint64_t(expected.size()));
        IStream* s = part.open();
        if (expected.isEmpty()) {
            EXPECT_EQ(s, nullptr);
            continue;
        }
        ASSERT_NE(s, nullptr);
        const uint32_t first = random.bounded(uint32_t(expected.size()) + 1);
        QByteArray head(int(first), '\0');
        uint32_t got = 0;
        s->Read(head.data(), first, &got);
        EXPECT_EQ(head.left(int(got)), expected.left(int(first)));
        STATSTG st;
        ASSERT_EQ(s->Stat(&st, STATFLAG_NONAME), S_OK);
        EXPECT_EQ(st.cbSize, uint64_t(expected.size()));
        EXPECT_EQ(head.left(int(got)) + readInPieces(s, 1 + random.bounded(3000u)), expected);
        s->Release();
    }
}

TEST(PartStream, ContentAsItIsIsTheSliceItself) {
    PartContent p;
    p.source = "xxABCDEFyy";
    p.offset = 2;
    p.length = 6;
    EXPECT_EQ(p.decodedSize(), 6u);
    EXPECT_EQ(p.decoded(), "ABCDEF");
    IStream* s = p.open();
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(readInPieces(s, 4), "ABCDEF");
    s->Release();
    p.length = 0;
    EXPECT_EQ(p.open(), nullptr);
    EXPECT_EQ(PartContent().open(), nullptr);
}
