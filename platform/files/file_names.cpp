#include "platform/files/file_names.h"

namespace lyb::files {

namespace {

constexpr char16_t kEscapeBase = 0xDC00;

bool isLowSurrogate(char16_t unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

bool isHighSurrogate(char16_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}

// Returns the length of the valid UTF-8 sequence at the start of bytes and
// its code point; 0 when it is not one (overlong forms and surrogates included).
qsizetype readSequence(QByteArrayView bytes, char32_t* point) {
    const auto lead = static_cast<uchar>(bytes[0]);
    qsizetype length = 0;
    char32_t cp = 0;
    char32_t least = 0;
    if ((lead & 0xE0) == 0xC0) {
        length = 2, cp = lead & 0x1F, least = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, cp = lead & 0x0F, least = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, cp = lead & 0x07, least = 0x10000;
    } else {
        return 0;
    }
    if (bytes.size() < length)
        return 0;
    for (qsizetype k = 1; k < length; ++k) {
        const auto next = static_cast<uchar>(bytes[k]);
        if ((next & 0xC0) != 0x80)
            return 0;
        cp = (cp << 6) | (next & 0x3F);
    }
    if (cp < least || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        return 0;
    *point = cp;
    return length;
}

void appendUtf8(QByteArray& out, char32_t cp) {
    if (cp < 0x80) {
        out.append(char(cp));
    } else if (cp < 0x800) {
        out.append(char(0xC0 | (cp >> 6)));
        out.append(char(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.append(char(0xE0 | (cp >> 12)));
        out.append(char(0x80 | ((cp >> 6) & 0x3F)));
        out.append(char(0x80 | (cp & 0x3F)));
    } else {
        out.append(char(0xF0 | (cp >> 18)));
        out.append(char(0x80 | ((cp >> 12) & 0x3F)));
        out.append(char(0x80 | ((cp >> 6) & 0x3F)));
        out.append(char(0x80 | (cp & 0x3F)));
    }
}

}  // namespace

QString decodeFileName(QByteArrayView bytes) {
    QString name;
    name.reserve(bytes.size());
    for (qsizetype i = 0; i < bytes.size();) {
        const auto b = static_cast<uchar>(bytes[i]);
        if (b < 0x80) {
            name.append(QChar(b));
            ++i;
            continue;
        }
        char32_t cp = 0;
        const qsizetype length = readSequence(bytes.sliced(i), &cp);
        if (length == 0) {
            name.append(QChar(char16_t(kEscapeBase + b)));
            ++i;
            continue;
        }
        const char32_t points[] = {cp};
        name.append(QString::fromUcs4(points, 1));
        i += length;
    }
    return name;
}

QByteArray encodeFileName(const QString& name) {
    QByteArray out;
    out.reserve(name.size());
    for (qsizetype i = 0; i < name.size(); ++i) {
        const char16_t unit = name[i].unicode();
        if (isHighSurrogate(unit) && i + 1 < name.size() && isLowSurrogate(name[i + 1].unicode())) {
            appendUtf8(out, QChar::surrogateToUcs4(unit, name[i + 1].unicode()));
            ++i;
        } else if (unit >= kEscapeBase + 0x80 && unit <= kEscapeBase + 0xFF) {
            out.append(char(unit - kEscapeBase));
        } else if (isHighSurrogate(unit) || isLowSurrogate(unit)) {
            appendUtf8(out, 0xFFFD);
        } else {
            appendUtf8(out, unit);
        }
    }
    return out;
}

}  // namespace lyb::files
