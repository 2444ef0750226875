#include "platform/pim/vcard.h"

#include <QHash>
#include <QSet>
#include <QStringDecoder>

#include <algorithm>
#include <optional>

namespace lyb::pim::vcard {

QStringList Property::paramValues(const QString& paramName) const {
    QStringList out;
    for (const auto& p : params) {
        if (p.name.compare(paramName, Qt::CaseInsensitive) == 0)
            out += p.values;
    }
    return out;
}

bool Property::hasType(const QString& type) const {
    // TYPE="voice,cell" (quoted, as vCard 4.0 examples write it) holds two types.
    for (const QString& value : paramValues(QStringLiteral("TYPE"))) {
        for (const auto t : QStringView(value).split(QLatin1Char(','))) {
            if (t.trimmed().compare(type, Qt::CaseInsensitive) == 0)
                return true;
        }
    }
    return false;
}

const Property* Card::find(const QString& name) const {
    for (const auto& p : properties) {
        if (p.name == name)
            return &p;
    }
    return nullptr;
}

bool Property::sameContent(const Property& other) const {
    return group == other.group && name == other.name && params == other.params &&
           value == other.value;
}

Property* Card::find(const QString& name) {
    // Iterating the list as non-const detaches it, so that a change through
    // the pointer does not reach the copies sharing its data.
    for (auto& p : properties) {
        if (p.name == name)
            return &p;
    }
    return nullptr;
}

QString unescape(const QString& escaped) {
    QString out;
    out.reserve(escaped.size());
    for (qsizetype i = 0; i < escaped.size(); ++i) {
        const QChar c = escaped[i];
        if (c == QLatin1Char('\\') && i + 1 < escaped.size()) {
            const QChar next = escaped[++i];
            out += (next == QLatin1Char('n') || next == QLatin1Char('N')) ? QChar(u'\n') : next;
        } else {
            out += c;
        }
    }
    return out;
}

QString escape(const QString& text) {
    QString out;
    out.reserve(text.size() + 8);
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        switch (c.unicode()) {
            case u'\\':
                out += QStringLiteral("\\\\");
                break;
            case u',':
                out += QStringLiteral("\\,");
                break;
            case u';':
                out += QStringLiteral("\\;");
                break;
            case u'\n':
                out += QStringLiteral("\\n");
                break;
            case u'\r':
                if (i + 1 < text.size() && text[i + 1] == QLatin1Char('\n'))
                    break;  // CRLF is one line end
                out += QStringLiteral("\\n");
                break;
            default:
                out += c;
        }
    }
    return out;
}

QStringList splitEscaped(const QString& escaped, QChar separator) {
    QStringList parts;
    QString part;
    for (qsizetype i = 0; i < escaped.size(); ++i) {
        const QChar c = escaped[i];
        if (c == QLatin1Char('\\')) {
            // A lone backslash at the end stands for itself; escape it so that
            // joining the parts again cannot make it escape a separator.
            part += c;
            part += i + 1 < escaped.size() ? escaped[++i] : c;
        } else if (c == separator) {
            parts += part;
            part.clear();
        } else {
            part += c;
        }
    }
    parts += part;
    return parts;
}

namespace {

struct Line {
    QByteArray text;
    int number = 0;
    qsizetype begin = 0;  // its physical lines' bytes in the data, line end included
    qsizetype end = 0;
};

struct RawProperty {
    QString group;
    QString name;
    QList<Parameter> params;
    QByteArray value;
    int line = 0;
    qsizetype begin = 0;
    qsizetype end = 0;
};

bool isNameChar(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '_';
}

// True when a parameter of the line (before its first ':') asks for
// quoted-printable: "ENCODING=QUOTED-PRINTABLE" or the bare 2.1 form.
bool asksQuotedPrintable(const QByteArray& line) {
    const qsizetype colon = line.indexOf(':');
    const QList<QByteArray> parts = (colon < 0 ? line : line.left(colon)).split(';');
    for (qsizetype i = 1; i < parts.size(); ++i) {
        const QByteArray p = parts[i].trimmed().toUpper();
        if (p == "QUOTED-PRINTABLE" || p == "ENCODING=QUOTED-PRINTABLE")
            return true;
    }
    return false;
}

// Splits into logical lines: unfolds continuation lines and joins
// quoted-printable soft line breaks. Continuation lines before any content
// line are reported through strayLine.
QList<Line> logicalLines(const QByteArray& data, qsizetype start, int* strayLine) {
    QList<Line> out;
    bool quotedPrintable = false;
    qsizetype i = start;
    const qsizetype n = data.size();
    int number = 0;
    while (i < n) {
        qsizetype j = i;
        while (j < n && data[j] != '\r' && data[j] != '\n')
            ++j;
        const QByteArrayView physical(data.constData() + i, j - i);
        const qsizetype begin = i;
        ++number;
        if (j < n)
            j += (data[j] == '\r' && j + 1 < n && data[j + 1] == '\n') ? 2 : 1;
        i = j;

        if (!out.isEmpty() && quotedPrintable && out.last().text.endsWith('=')) {
            out.last().text.chop(1);
            out.last().text += physical;
            out.last().end = i;
        } else if (!physical.isEmpty() && (physical[0] == ' ' || physical[0] == '\t')) {
            if (out.isEmpty()) {
                if (*strayLine == 0)
                    *strayLine = number;
            } else {
                out.last().text += physical.sliced(1);
                out.last().end = i;
            }
        } else {
            out.append({physical.toByteArray(), number, begin, i});
            quotedPrintable = asksQuotedPrintable(out.last().text);
        }
    }
    return out;
}

// group "." name *(";" param) ":" value
bool parseContentLine(const Line& line, RawProperty* out, QString* why) {
    const QByteArray& s = line.text;
    const qsizetype n = s.size();
    qsizetype i = 0;
    auto scanName = [&]() {
        const qsizetype start = i;
        while (i < n && isNameChar(s[i]))
            ++i;
        return QString::fromLatin1(s.mid(start, i - start));
    };
    QString name = scanName();
    if (i < n && s[i] == '.') {
        ++i;
        out->group = name;
        name = scanName();
    }
    if (name.isEmpty()) {
        *why = QStringLiteral("no property name");
        return false;
    }
    out->name = name.toUpper();
    while (i < n && s[i] == ';') {
        ++i;
        Parameter param;
        param.name = scanName().toUpper();
        if (param.name.isEmpty()) {
            *why = QStringLiteral("bad parameter name");
            return false;
        }
        if (i < n && s[i] == '=') {
            ++i;
            for (;;) {
                QByteArray value;
                if (i < n && s[i] == '"') {
                    const qsizetype close = s.indexOf('"', i + 1);
                    if (close < 0) {
                        *why = QStringLiteral("unclosed quote in a parameter");
                        return false;
                    }
                    value = s.mid(i + 1, close - i - 1);
                    i = close + 1;
                } else {
                    const qsizetype start = i;
                    while (i < n && s[i] != ',' && s[i] != ';' && s[i] != ':')
                        ++i;
                    value = s.mid(start, i - start);
                }
                param.values += QString::fromUtf8(value);
                if (i < n && s[i] == ',') {
                    ++i;
                    continue;
                }
                break;
            }
        }
        out->params += param;
    }
    if (i >= n || s[i] != ':') {
        *why = QStringLiteral("no \":\" after the property name");
        return false;
    }
    out->value = s.mid(i + 1);
    out->line = line.number;
    out->begin = line.begin;
    out->end = line.end;
    return true;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

std::optional<QByteArray> decodeQuotedPrintable(const QByteArray& in) {
    QByteArray out;
    out.reserve(in.size());
    for (qsizetype i = 0; i < in.size(); ++i) {
        if (in[i] != '=') {
            out += in[i];
            continue;
        }
        if (i + 2 >= in.size())
            return std::nullopt;
        const int hi = hexValue(in[i + 1]);
        const int lo = hexValue(in[i + 2]);
        if (hi < 0 || lo < 0)
            return std::nullopt;
        out += char(hi * 16 + lo);
        i += 2;
    }
    return out;
}

// The bytes 0x80 to 0x9F of windows-1252; the rest is Latin-1.
constexpr char16_t cp1252_high[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

QString decodeSingleByte(const QByteArray& bytes, bool windows1252) {
    QString out = QString::fromLatin1(bytes);
    if (windows1252) {
        for (auto& c : out) {
            if (c.unicode() >= 0x80 && c.unicode() <= 0x9F)
                c = QChar(cp1252_high[c.unicode() - 0x80]);
        }
    }
    return out;
}

// Decodes a value's bytes by its CHARSET (UTF-8 when none). Without a CHARSET,
// bytes that are not UTF-8 are an error except in 2.1, where they are Latin-1.
// A charset no converter knows reads as Latin-1 and sets *unknown.
std::optional<QString> decodeText(const QByteArray& bytes, const QString& charset, bool v21,
                                  bool* unknown) {
    const QString cs = charset.toLower();
    if (cs.isEmpty() || cs == QLatin1String("utf-8") || cs == QLatin1String("utf8")) {
        // A value is a piece of a line: a U+FEFF at its start is text, not a
        // byte order mark (the file's own mark is skipped before the first line).
        QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless |
                                                      QStringDecoder::Flag::ConvertInitialBom);
        QString text = utf8(bytes);
        if (!utf8.hasError())
            return text;
        if (!v21 || !cs.isEmpty())
            return std::nullopt;
        return decodeSingleByte(bytes, false);
    }
    if (cs == QLatin1String("windows-1252") || cs == QLatin1String("cp1252"))
        return decodeSingleByte(bytes, true);
    QStringDecoder decoder(cs.toLatin1().constData(), QStringDecoder::Flag::Stateless);
    if (cs.isEmpty() || cs.size() > 64 || !decoder.isValid()) {
        *unknown = true;
        return decodeSingleByte(bytes, false);
    }
    return QString(decoder(bytes));
}

// 2.1 escapes nothing but ";" in compound values; 4.0 also escapes "\", ","
// and line ends.
QString escapedFrom21(const QString& text) {
    QString out;
    out.reserve(text.size() + 8);
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == QLatin1Char('\\')) {
            if (i + 1 < text.size() && text[i + 1] == QLatin1Char(';')) {
                out += QStringLiteral("\\;");
                ++i;
            } else {
                out += QStringLiteral("\\\\");
            }
        } else if (c == QLatin1Char(',')) {
            out += QStringLiteral("\\,");
        } else if (c == QLatin1Char('\r') || c == QLatin1Char('\n')) {
            if (c == QLatin1Char('\r') && i + 1 < text.size() && text[i + 1] == QLatin1Char('\n'))
                ++i;
            out += QStringLiteral("\\n");
        } else {
            out += c;
        }
    }
    return out;
}

QString lineEndsEscaped(const QString& text) {
    QString out = text;
    out.replace(QLatin1String("\r\n"), QLatin1String("\\n"));
    out.replace(QLatin1Char('\n'), QLatin1String("\\n"));
    out.replace(QLatin1Char('\r'), QLatin1String("\\n"));
    return out;
}

bool isBase64Text(const QString& text) {
    return std::all_of(text.begin(), text.end(), [](QChar c) {
        return (c >= QLatin1Char('A') && c <= QLatin1Char('Z')) ||
               (c >= QLatin1Char('a') && c <= QLatin1Char('z')) ||
               (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || c == QLatin1Char('+') ||
               c == QLatin1Char('/') || c == QLatin1Char('=');
    });
}

QString mediaType(const QString& propertyName, const QString& type) {
    if (type.contains(QLatin1Char('/')))
        return type.toLower();
    if (type.isEmpty())
        return QStringLiteral("application/octet-stream");
    if (propertyName == QLatin1String("PHOTO") || propertyName == QLatin1String("LOGO"))
        return QStringLiteral("image/") + type.toLower();
    if (propertyName == QLatin1String("SOUND"))
        return QStringLiteral("audio/") + type.toLower();
    return QStringLiteral("application/") + type.toLower();
}

// Turns one property as read into its 4.0 form; false with a reason when its
// value cannot be decoded. *readOnly gets why the card must not be written
// back, when this property makes it so.
bool convert(const RawProperty& raw, const QString& version, Property* out, QString* why,
             QString* readOnly) {
    const bool v21 = version == QLatin1String("2.1");
    out->group = raw.group;
    out->name = raw.name;
    QString encoding;
    QString charset;
    QList<Parameter> kept;
    for (Parameter p : raw.params) {
        if (p.values.isEmpty()) {
            // A bare parameter (2.1): an encoding or a type.
            static const QStringList encodings = {QStringLiteral("QUOTED-PRINTABLE"),
                                                  QStringLiteral("BASE64"), QStringLiteral("8BIT"),
                                                  QStringLiteral("7BIT")};
            if (encodings.contains(p.name)) {
                encoding = p.name;
                continue;
            }
            p.values = {p.name};
            p.name = QStringLiteral("TYPE");
        }
        if (p.name == QLatin1String("ENCODING")) {
            encoding = p.values.value(0).toUpper();
            continue;
        }
        if (p.name == QLatin1String("CHARSET")) {
            charset = p.values.value(0);
            continue;
        }
        kept += p;
    }
    QByteArray bytes = raw.value;
    const bool quotedPrintable = encoding == QLatin1String("QUOTED-PRINTABLE");
    if (quotedPrintable) {
        auto decoded = decodeQuotedPrintable(bytes);
        if (!decoded) {
            *why = QStringLiteral("bad quoted-printable value in %1").arg(raw.name);
            return false;
        }
        bytes = *decoded;
    }
    bool unknownCharset = false;
    auto text = decodeText(bytes, charset, v21, &unknownCharset);
    if (unknownCharset && readOnly->isEmpty())
        *readOnly = QStringLiteral("%1 is in the charset \"%2\", which cannot be read")
                        .arg(raw.name, charset.left(64));
    if (!text) {
        *why = QStringLiteral("%1 is not UTF-8").arg(raw.name);
        return false;
    }
    if (encoding == QLatin1String("B") || encoding == QLatin1String("BASE64")) {
        QString data = *text;
        data.remove(QLatin1Char(' '));
        data.remove(QLatin1Char('\t'));
        if (!isBase64Text(data)) {
            *why = QStringLiteral("bad base64 value in %1").arg(raw.name);
            return false;
        }
        QString type;
        for (qsizetype k = 0; k < kept.size(); ++k) {
            if (kept[k].name == QLatin1String("TYPE")) {
                type = kept[k].values.value(0);
                kept.removeAt(k);
                break;
            }
        }
        out->value = QStringLiteral("data:%1;base64,%2").arg(mediaType(raw.name, type), data);
    } else if (v21) {
        out->value = escapedFrom21(*text);
    } else if (quotedPrintable) {
        out->value = lineEndsEscaped(*text);
    } else {
        out->value = *text;
    }
    out->params = kept;
    if (out->name == QLatin1String("N")) {
        QStringList parts = splitEscaped(out->value);
        while (parts.size() < 5)
            parts += QString();
        out->value = parts.join(QLatin1Char(';'));
    }
    return true;
}

class Reader {
public:
    ReadResult run(const QByteArray& input) {
        data_ = input;
        if (data_.size() > kMaxInput) {
            data_.truncate(kMaxInput);
            result_.problems += {0, QStringLiteral("file larger than %1 bytes").arg(kMaxInput)};
        }
        // Offsets count from the start of the input, byte order mark included.
        const qsizetype start = data_.startsWith("\xEF\xBB\xBF") ? 3 : 0;
        int strayLine = 0;
        const QList<Line> lines = logicalLines(data_, start, &strayLine);
        if (strayLine)
            stray(strayLine);
        for (const Line& line : lines) {
            if (line.text.trimmed().isEmpty())
                continue;
            RawProperty raw;
            QString why;
            if (!parseContentLine(line, &raw, &why)) {
                if (inCard_)
                    fail(line.number, why);
                else
                    stray(line.number);
                continue;
            }
            const QString word = QString::fromUtf8(raw.value).trimmed().toUpper();
            if (raw.name == QLatin1String("BEGIN") && word == QLatin1String("VCARD")) {
                if (inCard_ && !failed_)
                    result_.problems += {beginLine_, QStringLiteral("card without END:VCARD")};
                startCard(line);
            } else if (raw.name == QLatin1String("END") && word == QLatin1String("VCARD")) {
                if (inCard_)
                    endCard(line);
                else
                    stray(line.number);
            } else if (!inCard_) {
                stray(line.number);
            } else if (raw.name == QLatin1String("VERSION") && raw.group.isEmpty()) {
                version_ = word;
            } else {
                raws_ += raw;
            }
        }
        if (inCard_ && !failed_)
            result_.problems += {beginLine_, QStringLiteral("card without END:VCARD")};
        return std::move(result_);
    }

private:
    void stray(int line) {
        if (!strayReported_)
            result_.problems += {line, QStringLiteral("text outside a card")};
        strayReported_ = true;
    }
    void fail(int line, const QString& why) {
        if (!failed_)
            result_.problems += {line, why};
        failed_ = true;
    }
    void startCard(const Line& line) {
        inCard_ = true;
        failed_ = false;
        beginLine_ = line.number;
        beginOffset_ = line.begin;
        version_.clear();
        raws_.clear();
    }
    void endCard(const Line& endLine) {
        const int line = endLine.number;
        inCard_ = false;
        if (failed_)
            return;
        if (version_.isEmpty()) {
            result_.problems += {line, QStringLiteral("card without VERSION")};
            return;
        }
        if (version_ != QLatin1String("2.1") && version_ != QLatin1String("3.0") &&
            version_ != QLatin1String("4.0")) {
            result_.problems += {line, QStringLiteral("unknown vCard version %1").arg(version_)};
            return;
        }
        Card card;
        card.version = version_;
        card.rawOffset = beginOffset_;
        card.raw = data_.mid(beginOffset_, endLine.end - beginOffset_);
        card.endOffset = endLine.begin - beginOffset_;
        for (const RawProperty& raw : std::as_const(raws_)) {
            Property p;
            QString why;
            if (!convert(raw, version_, &p, &why, &card.readOnly)) {
                result_.problems += {raw.line, why};
                return;
            }
            p.rawOffset = raw.begin - beginOffset_;
            p.raw = data_.mid(raw.begin, raw.end - raw.begin);
            card.properties += p;
        }
        result_.cards += card;
    }

    QByteArray data_;
    ReadResult result_;
    qsizetype beginOffset_ = 0;
    bool inCard_ = false;
    bool failed_ = false;
    bool strayReported_ = false;
    int beginLine_ = 0;
    QString version_;
    QList<RawProperty> raws_;
};

bool needsQuotes(const QString& v) {
    return v.contains(QLatin1Char(',')) || v.contains(QLatin1Char(';')) ||
           v.contains(QLatin1Char(':'));
}

void appendFolded(QByteArray* out, const QByteArray& line, QByteArrayView eol) {
    constexpr qsizetype limit = 75;
    qsizetype pos = 0;
    bool first = true;
    while (line.size() - pos > (first ? limit : limit - 1)) {
        qsizetype cut = pos + (first ? limit : limit - 1);
        while (cut > pos + 1 && (static_cast<unsigned char>(line[cut]) & 0xC0) == 0x80)
            --cut;  // never split a UTF-8 sequence
        if (!first)
            *out += ' ';
        *out += QByteArrayView(line.constData() + pos, cut - pos);
        *out += eol;
        pos = cut;
        first = false;
    }
    if (!first)
        *out += ' ';
    *out += QByteArrayView(line.constData() + pos, line.size() - pos);
    *out += eol;
}

QString parameterValues(const QStringList& values) {
    QString out;
    for (qsizetype k = 0; k < values.size(); ++k) {
        QString v = values[k];
        v.replace(QLatin1Char('"'), QLatin1String("^'"));
        v.replace(QLatin1Char('\n'), QLatin1String("^n"));
        v.remove(QLatin1Char('\r'));
        if (k > 0)
            out += QLatin1Char(',');
        out += needsQuotes(v) ? QLatin1Char('"') + v + QLatin1Char('"') : v;
    }
    return out;
}

// A TYPE value 2.1 writes bare ("TEL;CELL:"), as its address books do; one
// that would read as an encoding or not as a name keeps "TYPE=".
bool bare21(const QString& v) {
    static const QStringList encodings = {QStringLiteral("QUOTED-PRINTABLE"),
                                          QStringLiteral("BASE64"), QStringLiteral("8BIT"),
                                          QStringLiteral("7BIT")};
    return !v.isEmpty() && std::all_of(v.begin(), v.end(), [](QChar c) {
        return c.unicode() < 0x80 && isNameChar(char(c.unicode()));
    }) && !encodings.contains(v.toUpper());
}

QString lineHead(const Property& p, bool v21) {
    QString line;
    if (!p.group.isEmpty())
        line += p.group + QLatin1Char('.');
    line += p.name;
    for (const Parameter& param : p.params) {
        if (v21 && param.name == QLatin1String("TYPE") &&
            std::all_of(param.values.begin(), param.values.end(), bare21)) {
            for (const QString& v : param.values)
                line += QLatin1Char(';') + v;
            continue;
        }
        line += QLatin1Char(';') + param.name;
        if (!param.values.isEmpty())
            line += QLatin1Char('=') + parameterValues(param.values);
    }
    return line;
}

// Splits a "data:<media type>;base64,<data>" value; false for any other.
bool splitDataUri(const QString& value, QString* type, QString* data) {
    const QString uri = unescape(value);
    const qsizetype comma = uri.indexOf(QLatin1Char(','));
    const QLatin1String marker(";base64");
    if (!uri.startsWith(QLatin1String("data:"), Qt::CaseInsensitive) || comma < 0 ||
        !uri.left(comma).endsWith(marker, Qt::CaseInsensitive))
        return false;
    *type = uri.mid(5, comma - 5 - marker.size());
    *data = uri.mid(comma + 1);
    return !type->contains(QLatin1Char(';')) && isBase64Text(*data);
}

// The TYPE that reads back as media type (see mediaType).
QString typeForMedia(const QString& propertyName, const QString& media) {
    const QString prefix =
        propertyName == QLatin1String("PHOTO") || propertyName == QLatin1String("LOGO")
            ? QStringLiteral("image/")
        : propertyName == QLatin1String("SOUND") ? QStringLiteral("audio/")
                                                 : QStringLiteral("application/");
    const QString sub = media.mid(prefix.size());
    if (media.startsWith(prefix) && !sub.isEmpty() && !sub.contains(QLatin1Char('/')))
        return sub.toUpper();
    return media;
}

// A 4.0 escaped value as 2.1 text: nothing escaped but ";", CRLF line ends.
QByteArray text21(const QString& escaped) {
    QString out;
    for (qsizetype i = 0; i < escaped.size(); ++i) {
        const QChar c = escaped[i];
        if (c != QLatin1Char('\\') || i + 1 == escaped.size()) {
            out += c;
            continue;
        }
        const QChar next = escaped[++i];
        if (next == QLatin1Char('n') || next == QLatin1Char('N'))
            out += QLatin1String("\r\n");
        else if (next == QLatin1Char(';'))
            out += QLatin1String("\\;");
        else
            out += next;
    }
    return out.toUtf8();
}

// Appends head and the quoted-printable value, lines broken softly before 76.
void appendQuotedPrintable(QByteArray* out, const QByteArray& head, const QByteArray& value,
                           QByteArrayView eol) {
    static const char hex[] = "0123456789ABCDEF";
    *out += head;
    qsizetype used = head.size();
    for (const char ch : value) {
        const auto c = static_cast<unsigned char>(ch);
        char token[3] = {ch, 0, 0};
        qsizetype size = 1;
        if (c < 0x20 || c >= 0x7F || c == '=') {
            token[0] = '=';
            token[1] = hex[c >> 4];
            token[2] = hex[c & 15];
            size = 3;
        }
        if (used + size > 75) {
            *out += '=';
            *out += eol;
            used = 0;
        }
        *out += QByteArrayView(token, size);
        used += size;
    }
    *out += eol;
}

// Writes one property as a content line of version.
void appendLine(QByteArray* out, const Property& property, const QString& version,
                QByteArrayView eol) {
    const bool v21 = version == QLatin1String("2.1");
    Property p = property;
    QString type;
    QString data;
    // Before 4.0 a picture, logo, sound or key held in the card is base64 with
    // its type.
    static const QStringList binary = {QStringLiteral("PHOTO"), QStringLiteral("LOGO"),
                                       QStringLiteral("SOUND"), QStringLiteral("KEY")};
    if (version != QLatin1String("4.0") && binary.contains(p.name) &&
        splitDataUri(p.value, &type, &data) && type.contains(QLatin1Char('/')) &&
        type == type.toLower()) {
        p.params.prepend({QStringLiteral("TYPE"), {typeForMedia(p.name, type)}});
        p.params.prepend(
            {QStringLiteral("ENCODING"), {v21 ? QStringLiteral("BASE64") : QStringLiteral("b")}});
        appendFolded(out, (lineHead(p, v21) + QLatin1Char(':') + data).toUtf8(), eol);
        return;
    }
    if (!v21) {
        appendFolded(
            out, (lineHead(p, false) + QLatin1Char(':') + lineEndsEscaped(p.value)).toUtf8(), eol);
        return;
    }
    // 2.1 is seven-bit: other text is UTF-8 in quoted-printable. Its plain
    // lines are not folded, since 2.1 readers differ on how to unfold them.
    const QByteArray text = text21(p.value);
    const bool plain = std::all_of(text.begin(), text.end(), [](char ch) {
        const auto c = static_cast<unsigned char>(ch);
        return (c >= 0x20 && c < 0x7F) || c == '\t';
    });
    if (plain) {
        *out += (lineHead(p, true) + QLatin1Char(':')).toUtf8() + text;
        *out += eol;
        return;
    }
    // First, so that a reader finds the encoding before any quoted ":".
    p.params.prepend({QStringLiteral("ENCODING"), {QStringLiteral("QUOTED-PRINTABLE")}});
    p.params.prepend({QStringLiteral("CHARSET"), {QStringLiteral("UTF-8")}});
    appendQuotedPrintable(out, (lineHead(p, true) + QLatin1Char(':')).toUtf8(), text, eol);
}

QByteArray lineEnd(const QByteArray& raw) {
    for (qsizetype i = 0; i < raw.size(); ++i) {
        if (raw[i] == '\n')
            return "\n";
        if (raw[i] == '\r')
            return i + 1 < raw.size() && raw[i + 1] == '\n' ? "\r\n" : "\r";
    }
    return "\r\n";
}

}  // namespace

ReadResult read(const QByteArray& data) {
    return Reader().run(data);
}

QByteArray write(const Card& card) {
    QByteArray out = "BEGIN:VCARD\r\nVERSION:4.0\r\n";
    for (const Property& p : card.properties)
        appendLine(&out, p, QStringLiteral("4.0"), "\r\n");
    out += "END:VCARD\r\n";
    return out;
}

QByteArray writeEdited(const Card& base, const Card& original, const Card& edited) {
    if (base.raw.isEmpty() || original.raw.isEmpty())
        return write(edited);
    const QList<Property>& from = original.properties;
    const QList<Property>& into = base.properties;

    // What the edit did: setters keep the order of properties and each one's
    // raw bytes, so edited pairs with original in order.
    QList<std::pair<qsizetype, const Property*>> changed;  // original index, new content
    QList<qsizetype> removed;
    QList<const Property*> added;
    qsizetype next = 0;
    for (const Property& e : edited.properties) {
        qsizetype k = next;
        if (!e.raw.isEmpty()) {
            while (k < from.size() && (from[k].rawOffset != e.rawOffset || from[k].raw != e.raw))
                ++k;
        } else {
            k = from.size();
        }
        if (k == from.size()) {
            added += &e;
            continue;
        }
        for (; next < k; ++next)
            removed += next;
        if (!e.sameContent(from[k]))
            changed += {k, &e};
        next = k + 1;
    }
    for (; next < from.size(); ++next)
        removed += next;

    // Where each original property is in base: the same place when base is
    // original, else the first unused property of the same content.
    QList<qsizetype> where(from.size(), -1);
    QList<bool> used(into.size(), false);
    if (base.raw == original.raw) {
        for (qsizetype i = 0; i < from.size(); ++i)
            where[i] = i;
    } else {
        for (qsizetype i = 0; i < from.size(); ++i) {
            for (qsizetype j = 0; j < into.size(); ++j) {
                if (!used[j] && into[j].sameContent(from[i])) {
                    used[j] = true;
                    where[i] = j;
                    break;
                }
            }
        }
    }
    QHash<qsizetype, const Property*> replaced;
    QSet<qsizetype> dropped;
    for (const auto& [i, e] : std::as_const(changed)) {
        qsizetype j = where[i];
        // Changed there too: the user's value replaces the other's.
        for (qsizetype k = 0; j < 0 && k < into.size(); ++k) {
            if (!used[k] && into[k].group == from[i].group && into[k].name == from[i].name &&
                into[k].params == from[i].params) {
                used[k] = true;
                j = k;
            }
        }
        if (j >= 0)
            replaced.insert(j, e);
        else
            added += e;
    }
    // A property changed there and removed here stays as the other left it.
    for (qsizetype i : std::as_const(removed)) {
        if (where[i] >= 0)
            dropped.insert(where[i]);
    }

    const QByteArray eol = lineEnd(base.raw);
    QByteArray out;
    out.reserve(base.raw.size() + 256);
    qsizetype pos = 0;
    for (qsizetype j = 0; j < into.size(); ++j) {
        const Property& p = into[j];
        out += QByteArrayView(base.raw).sliced(pos, p.rawOffset - pos);
        pos = p.rawOffset + p.raw.size();
        if (dropped.contains(j))
            continue;
        if (const Property* e = replaced.value(j))
            appendLine(&out, *e, base.version, eol);
        else
            out += p.raw;
    }
    out += QByteArrayView(base.raw).sliced(pos, base.endOffset - pos);
    for (const Property* e : std::as_const(added))
        appendLine(&out, *e, base.version, eol);
    out += QByteArrayView(base.raw).sliced(base.endOffset);
    return out;
}

QString uid(const Card& card) {
    const Property* p = card.find(QStringLiteral("UID"));
    return p ? unescape(p->value).trimmed() : QString();
}

}  // namespace lyb::pim::vcard
