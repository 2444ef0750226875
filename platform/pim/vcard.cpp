#include "platform/pim/vcard.h"

#include <QStringDecoder>

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

Property* Card::find(const QString& name) {
    return const_cast<Property*>(std::as_const(*this).find(name));
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
};

struct RawProperty {
    QString group;
    QString name;
    QList<Parameter> params;
    QByteArray value;
    int line = 0;
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
QList<Line> logicalLines(const QByteArray& data, int* strayLine) {
    QList<Line> out;
    bool quotedPrintable = false;
    qsizetype i = 0;
    const qsizetype n = data.size();
    int number = 0;
    while (i < n) {
        qsizetype j = i;
        while (j < n && data[j] != '\r' && data[j] != '\n')
            ++j;
        const QByteArrayView physical(data.constData() + i, j - i);
        ++number;
        if (j < n)
            j += (data[j] == '\r' && j + 1 < n && data[j + 1] == '\n') ? 2 : 1;
        i = j;

        if (!out.isEmpty() && quotedPrintable && out.last().text.endsWith('=')) {
            out.last().text.chop(1);
            out.last().text += physical;
        } else if (!physical.isEmpty() && (physical[0] == ' ' || physical[0] == '\t')) {
            if (out.isEmpty()) {
                if (*strayLine == 0)
                    *strayLine = number;
            } else {
                out.last().text += physical.sliced(1);
            }
        } else {
            out.append({physical.toByteArray(), number});
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
std::optional<QString> decodeText(const QByteArray& bytes, const QString& charset, bool v21) {
    const QString cs = charset.toLower();
    if (cs.isEmpty() || cs == QLatin1String("utf-8") || cs == QLatin1String("utf8")) {
        QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        QString text = utf8(bytes);
        if (!utf8.hasError())
            return text;
        if (!v21 || !cs.isEmpty())
            return std::nullopt;
        return decodeSingleByte(bytes, false);
    }
    // Address books that name a charset use the single-byte Western ones.
    return decodeSingleByte(bytes,
                            cs == QLatin1String("windows-1252") || cs == QLatin1String("cp1252"));
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
// value cannot be decoded.
bool convert(const RawProperty& raw, const QString& version, Property* out, QString* why) {
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
    auto text = decodeText(bytes, charset, v21);
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
        QByteArray data = input;
        if (data.size() > kMaxInput) {
            data.truncate(kMaxInput);
            result_.problems += {0, QStringLiteral("file larger than %1 bytes").arg(kMaxInput)};
        }
        if (data.startsWith("\xEF\xBB\xBF"))
            data.remove(0, 3);
        int strayLine = 0;
        const QList<Line> lines = logicalLines(data, &strayLine);
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
                startCard(line.number);
            } else if (raw.name == QLatin1String("END") && word == QLatin1String("VCARD")) {
                if (inCard_)
                    endCard(line.number);
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
    void startCard(int line) {
        inCard_ = true;
        failed_ = false;
        beginLine_ = line;
        version_.clear();
        raws_.clear();
    }
    void endCard(int line) {
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
        for (const RawProperty& raw : std::as_const(raws_)) {
            Property p;
            QString why;
            if (!convert(raw, version_, &p, &why)) {
                result_.problems += {raw.line, why};
                return;
            }
            card.properties += p;
        }
        result_.cards += card;
    }

    ReadResult result_;
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

void appendFolded(QByteArray* out, const QByteArray& line) {
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
        *out += "\r\n";
        pos = cut;
        first = false;
    }
    if (!first)
        *out += ' ';
    *out += QByteArrayView(line.constData() + pos, line.size() - pos);
    *out += "\r\n";
}

}  // namespace

ReadResult read(const QByteArray& data) {
    return Reader().run(data);
}

QByteArray write(const Card& card) {
    QByteArray out = "BEGIN:VCARD\r\nVERSION:4.0\r\n";
    for (const Property& p : card.properties) {
        QString line;
        if (!p.group.isEmpty())
            line += p.group + QLatin1Char('.');
        line += p.name;
        for (const Parameter& param : p.params) {
            line += QLatin1Char(';') + param.name;
            if (param.values.isEmpty())
                continue;
            line += QLatin1Char('=');
            for (qsizetype k = 0; k < param.values.size(); ++k) {
                QString v = param.values[k];
                v.replace(QLatin1Char('"'), QLatin1String("^'"));
                v.replace(QLatin1Char('\n'), QLatin1String("^n"));
                v.remove(QLatin1Char('\r'));
                if (k > 0)
                    line += QLatin1Char(',');
                line += needsQuotes(v) ? QLatin1Char('"') + v + QLatin1Char('"') : v;
            }
        }
        line += QLatin1Char(':') + lineEndsEscaped(p.value);
        appendFolded(&out, line.toUtf8());
    }
    out += "END:VCARD\r\n";
    return out;
}

}  // namespace lyb::pim::vcard
