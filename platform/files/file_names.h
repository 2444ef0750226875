// File names as the system keeps them: bytes, which need not be UTF-8.
//
// QFile::decodeName turns bytes that are not UTF-8 into U+FFFD, so such a
// file could not be opened again from its QString. These two carry every
// byte through a QString instead: valid UTF-8 becomes its characters, and
// each byte of an invalid sequence becomes the lone surrogate U+DC00 + byte
// (0x80..0xFF give U+DC80..U+DCFF), which valid UTF-8 never yields. The
// registry keeps REG_SZ as UTF-16 code units, so such a name survives being
// stored there too.
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

namespace lyb::files {

// Returns the name for bytes; encodeFileName gives the same bytes back.
QString decodeFileName(QByteArrayView bytes);
// Returns the bytes of a name: UTF-8, and U+DC80..U+DCFF standing alone as
// the byte they carry. Another lone surrogate becomes U+FFFD's UTF-8.
QByteArray encodeFileName(const QString& name);

}  // namespace lyb::files
