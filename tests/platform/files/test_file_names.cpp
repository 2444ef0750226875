#include <gtest/gtest.h>

#include "platform/files/file_names.h"

using lyb::files::decodeFileName;
using lyb::files::encodeFileName;

// Every name's bytes come back from its QString; valid UTF-8 reads as its
// characters and each stray byte as the one surrogate that stands for it.
TEST(FileNames, BytesSurviveTheWayThroughQString) {
    const struct {
        QByteArray bytes;
        QString name;
    } cases[] = {
        {"/tmp/plain.wav", QStringLiteral("/tmp/plain.wav")},
        {"/tmp/gr\xc3\xbc\xc3\x9f"
         "e.wav",
         QString::fromUtf8("/tmp/grüße.wav")},
        {"\xf0\x9f\x93\x9e", QString::fromUtf8("\xf0\x9f\x93\x9e")},
        {"/tmp/a\xff.wav", QStringLiteral("/tmp/a") + QChar(0xDCFF) + QStringLiteral(".wav")},
        {"\xc3(", QString(QChar(0xDCC3)) + QLatin1Char('(')},                      // cut sequence
        {"\xc0\x80", QString(QChar(0xDCC0)) + QChar(0xDC80)},                      // overlong
        {"\xed\xb3\xbf", QString(QChar(0xDCED)) + QChar(0xDCB3) + QChar(0xDCBF)},  // surrogate
        {"\xe2\x82", QString(QChar(0xDCE2)) + QChar(0xDC82)},                      // ends early
        {"\xf4\x90\x80\x80",
         QString(QChar(0xDCF4)) + QChar(0xDC90) + QChar(0xDC80) + QChar(0xDC80)},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(decodeFileName(c.bytes), c.name) << c.bytes.toHex().constData();
        EXPECT_EQ(encodeFileName(c.name), c.bytes) << c.bytes.toHex().constData();
    }
    QByteArray every;
    for (int b = 1; b < 256; ++b)
        every.append(char(b));
    EXPECT_EQ(encodeFileName(decodeFileName(every)), every);
    // A lone surrogate that stands for no byte is no name's; it is written as U+FFFD.
    EXPECT_EQ(encodeFileName(QString(QChar(0xD800))), QByteArray("\xef\xbf\xbd"));
}
