#include "store/body_text.h"

#include <QStringDecoder>

#include <algorithm>
#include <array>

namespace lyb::store {

namespace {

struct BodySource {
    uint32_t tag;
    bool utf16;
};

constexpr std::array<BodySource, 5> kBodySources{{
    {mapi::PR_BODY_W, true},
    {mapi::PR_BODY_A, false},
    {mapi::PR_MIME_RAW, false},
    {mapi::PR_BODY_HTML_W, true},
    {mapi::PR_BODY_HTML_A, false},
}};

// Comments "<!--...-->": the first "-->" from the opening "<" closes one (so
// "<!-->" is a whole comment); from an unclosed one on the text stays.
QString without_comments(const QString& text) {
    const QLatin1String open("<!--"), close("-->");
    QString out;
    qsizetype from = 0;
    for (;;) {
        const qsizetype start = text.indexOf(open, from);
        if (start < 0)
            break;
        const qsizetype end = text.indexOf(close, start);
        if (end < 0)
            break;
        if (out.isNull())
            out.reserve(text.size());
        out += QStringView(text).mid(from, start - from);
        from = end + close.size();
    }
    if (from == 0)
        return text;
    out += QStringView(text).mid(from);
    return out;
}

// The simple case folding of one character; ASCII without the table.
char32_t folded(char16_t c) {
    if (c < 0x80)
        return c >= u'A' && c <= u'Z' ? c + (u'a' - u'A') : c;
    return QChar::toCaseFolded(char32_t{c});
}

// Whether the characters at at, up to end, start with entity (lower case),
// without regard to case.
bool entity_at(const char16_t* at, const char16_t* end, QLatin1String entity) {
    if (end - at < entity.size())
        return false;
    for (qsizetype k = 0; k < entity.size(); ++k) {
        if (folded(at[k]) != entity[k].unicode())
            return false;
    }
    return true;
}

// Every occurrence of entity (lower case, starting with '&'), left to
// right, without regard to case.
QString without_entity(const QString& text, QLatin1String entity) {
    const auto* const begin = reinterpret_cast<const char16_t*>(text.constData());
    const char16_t* const end = begin + text.size();
    QString out;
    const char16_t* from = begin;
    for (const char16_t* at = std::find(begin, end, u'&'); at != end;
         at = std::find(at, end, u'&')) {
        if (!entity_at(at, end, entity)) {
            ++at;
            continue;
        }
        if (out.isNull())
            out.reserve(text.size());
        out.append(reinterpret_cast<const QChar*>(from), at - from);
        from = at += entity.size();
    }
    if (from == begin)
        return text;
    out.append(reinterpret_cast<const QChar*>(from), end - from);
    return out;
}

// Tags "<...>" up to the first '>'; a '<' followed by a digit opens a
// bracketed number and stays, and from a '<' without a '>' after it on the
// text stays.
QString without_tags(const QString& text) {
    QString out;
    qsizetype from = 0;  // the first character not yet copied or dropped
    qsizetype look = 0;  // where the next '<' is looked for
    qsizetype gt = -1;   // the first '>' at or after the last '<' found
    for (;;) {
        const qsizetype lt = text.indexOf(QLatin1Char('<'), look);
        if (lt < 0)
            break;
        // A '>' found for an earlier '<' is still the first one from here.
        if (gt < lt)
            gt = text.indexOf(QLatin1Char('>'), lt);
        if (gt < 0)
            break;
        if (lt + 1 < text.size() && text[lt + 1].isDigit()) {
            look = lt + 1;
            continue;
        }
        if (out.isNull())
            out.reserve(text.size());
        out += QStringView(text).mid(from, lt - from);
        from = look = gt + 1;
    }
    if (from == 0)
        return text;
    out += QStringView(text).mid(from);
    return out;
}

}  // namespace

void delete_chars(QString& text, qsizetype index, qsizetype count) {
    if (count <= 0 || index < 0 || index >= text.size())
        return;
    text.remove(index, std::min(count, text.size() - index));
}

int replace_all(QString& text, const QString& from, const QString& to) {
    if (from.isEmpty())
        return 0;
    int replaced = 0;
    QString out;
    qsizetype start = 0;
    for (qsizetype at = text.indexOf(from, 0); at >= 0; at = text.indexOf(from, start)) {
        out += QStringView(text).mid(start, at - start);
        out += to;
        start = at + from.size();
        ++replaced;
    }
    if (replaced == 0)
        return 0;
    out += QStringView(text).mid(start);
    text = std::move(out);
    return replaced;
}

QString read_body_text(mapi::IMessage& message) {
    mapi::IStream* stream = nullptr;
    const BodySource* source = nullptr;
    for (const BodySource& s : kBodySources) {
        if (!mapi::Failed(message.OpenProperty(s.tag, 0, 0, &stream)) && stream) {
            source = &s;
            break;
        }
        stream = nullptr;
    }
    if (!source)
        return {};

    mapi::STATSTG stat;
    const bool sized = !mapi::Failed(stream->Stat(&stat, mapi::STATFLAG_NONAME));
    // Only the start of a long body is read: the caller is named near the
    // top, and a message without a text part gives its whole raw text here.
    const uint32_t size = std::min(static_cast<uint32_t>(stat.cbSize & 0xFFFFFFFFu), kMaxBodyBytes);
    if (!sized || size == 0) {
        stream->Release();
        return {};
    }
    QByteArray bytes(static_cast<qsizetype>(size), '\0');
    uint32_t got = 0;
    const mapi::HRESULT hr = stream->Read(bytes.data(), size, &got);
    stream->Release();
    if (mapi::Failed(hr))
        return {};
    bytes.truncate(std::min<qsizetype>(got, bytes.size()));

    QString text;
    if (source->utf16) {
        text.resize(bytes.size() / 2);
        for (qsizetype i = 0; i < text.size(); ++i) {
            text[i] = QChar(static_cast<char16_t>(static_cast<uint8_t>(bytes[2 * i]) |
                                                  (static_cast<uint8_t>(bytes[2 * i + 1]) << 8)));
        }
    } else {
        text = QString::fromLatin1(bytes);
    }
    const qsizetype nul = text.indexOf(QChar(0));
    if (nul >= 0)
        text.truncate(nul);

    if (source->tag == mapi::PR_MIME_RAW) {
        qsizetype blank = text.indexOf(QLatin1String("\n\n"));
        if (blank >= 0)
            return text.mid(blank + 2);
        blank = text.indexOf(QLatin1String("\r\n\r\n"));
        if (blank >= 0)
            return text.mid(blank + 4);
    }
    return text;
}

void strip_markup(QString& text) {
    // Each pass below copies the text once into a new buffer; text cut out
    // by one pass joins what surrounds it, and only a later pass sees what
    // that join forms. Deleting in place instead would move the rest of the
    // text once per marker removed.
    text = without_comments(text);
    // Entities, matched without regard to case and deleted, one pass each.
    static const QLatin1String kEntities[] = {QLatin1String("&copy;"),  QLatin1String("&reg;"),
                                              QLatin1String("&trade;"), QLatin1String("&quot;"),
                                              QLatin1String("&amp;"),   QLatin1String("&raquo;"),
                                              QLatin1String("&laquo;"), QLatin1String("&nbsp;")};
    for (QLatin1String entity : kEntities)
        text = without_entity(text, entity);
    text = without_tags(text);
    // Escaped brackets, after the tag pass so that they are never taken for
    // tags. A replacement cannot form another escape, as neither escape
    // holds a bracket, so one pass of each is all there is.
    replace_all(text, QStringLiteral("&lt;"), QStringLiteral("<"));
    replace_all(text, QStringLiteral("&gt;"), QStringLiteral(">"));
}

namespace {

int hex_value(QChar c) {
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9')
        return u - u'0';
    if (u >= u'A' && u <= u'F')
        return u - u'A' + 10;
    if (u >= u'a' && u <= u'f')
        return u - u'a' + 10;
    return -1;
}

// Whether the text carries quoted-printable's marks: a soft line break, or
// "=3D", "=20" or "=XX" with XX from 80 to FF (upper-case hex, as encoders
// write it).
bool looks_quoted_printable(const QString& text) {
    const qsizetype n = text.size();
    for (qsizetype at = text.indexOf(QLatin1Char('=')); at >= 0 && at + 1 < n;
         at = text.indexOf(QLatin1Char('='), at + 1)) {
        const QChar a = text[at + 1];
        if (a == QLatin1Char('\n') ||
            (a == QLatin1Char('\r') && at + 2 < n && text[at + 2] == QLatin1Char('\n')))
            return true;
        if (at + 2 >= n || (!a.isUpper() && !a.isDigit()))
            continue;
        const int hi = hex_value(a), lo = hex_value(text[at + 2]);
        if (hi < 0 || lo < 0 || text[at + 2].isLower())
            continue;
        const int byte = hi * 16 + lo;
        if (byte == 0x3D || byte == 0x20 || byte >= 0x80)
            return true;
    }
    return false;
}

// Quoted-printable undone; the bytes it gives stay characters of the same
// value, as 8-bit bodies are read, for the UTF-8 check after it.
QString undo_quoted_printable(const QString& text) {
    QString out;
    out.reserve(text.size());
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = text[i];
        if (c != QLatin1Char('=')) {
            out += c;
            continue;
        }
        if (i + 1 < n && text[i + 1] == QLatin1Char('\n')) {
            i += 1;
            continue;
        }
        if (i + 2 < n && text[i + 1] == QLatin1Char('\r') && text[i + 2] == QLatin1Char('\n')) {
            i += 2;
            continue;
        }
        const int hi = i + 2 < n ? hex_value(text[i + 1]) : -1;
        const int lo = i + 2 < n ? hex_value(text[i + 2]) : -1;
        if (hi < 0 || lo < 0) {
            out += c;
            continue;
        }
        out += QChar(char16_t(hi * 16 + lo));
        i += 2;
    }
    return out;
}

// 8-bit text (every character below 256, some above 127) that is valid
// UTF-8, read as UTF-8; anything else as it is.
QString utf8_if_valid(const QString& text) {
    bool high = false;
    for (QChar c : text) {
        if (c.unicode() > 0xFF)
            return text;
        high = high || c.unicode() > 0x7F;
    }
    if (!high)
        return text;
    const QByteArray bytes = text.toLatin1();
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString decoded = decoder.decode(bytes);
    return decoder.hasError() ? text : decoded;
}

// The tag name that starts at i (after '<' or "</"), lower case ASCII.
QString tag_name(const QString& text, qsizetype i) {
    QString name;
    for (; i < text.size() && name.size() < 12; ++i) {
        const char16_t u = text[i].unicode();
        if (!(u < 0x80 && (QChar(u).isLetterOrNumber())))
            break;
        name += QChar(u).toLower();
    }
    return name;
}

bool is_one_of(const QString& name, std::initializer_list<const char*> names) {
    for (const char* n : names) {
        if (name == QLatin1String(n))
            return true;
    }
    return false;
}

bool is_block(const QString& name) {
    return is_one_of(
        name, {"br",    "p",       "div", "tr", "li", "ul",      "ol",     "table",      "h1",
               "h2",    "h3",      "h4",  "h5", "h6", "hr",      "pre",    "blockquote", "center",
               "title", "address", "dl",  "dt", "dd", "section", "header", "footer",     "body"});
}

// Whether the text has a tag of HTML's own, so that its brackets are markup.
bool looks_html(const QString& text) {
    for (qsizetype at = text.indexOf(QLatin1Char('<')); at >= 0;
         at = text.indexOf(QLatin1Char('<'), at + 1)) {
        qsizetype i = at + 1;
        if (i < text.size() && (text[i] == QLatin1Char('/') || text[i] == QLatin1Char('!')))
            ++i;
        const QString name = tag_name(text, i);
        if (name.isEmpty() || i + name.size() > text.size())
            continue;
        const qsizetype after = i + name.size();
        const QChar next = after < text.size() ? text[after] : QChar();
        if (next != QLatin1Char('>') && next != QLatin1Char('/') && !next.isSpace())
            continue;
        if (is_block(name) ||
            is_one_of(name, {"html", "head", "td", "th", "span", "b", "i", "u", "strong", "em",
                             "font", "a", "meta", "style", "img", "doctype", "tbody"}))
            return true;
    }
    return false;
}

struct NamedEntity {
    const char* name;
    char16_t value;
};

// The named entities of HTML mail: the marks, and the Latin letters of the
// languages the notifications come in.
constexpr NamedEntity kNamedEntities[] = {
    {"nbsp", u' '},   {"amp", u'&'},    {"lt", u'<'},     {"gt", u'>'},     {"quot", u'"'},
    {"apos", u'\''},  {"copy", u'©'},   {"reg", u'®'},    {"trade", u'™'},  {"raquo", u'»'},
    {"laquo", u'«'},  {"hellip", u'…'}, {"ndash", u'–'},  {"mdash", u'—'},  {"lsquo", u'‘'},
    {"rsquo", u'’'},  {"ldquo", u'“'},  {"rdquo", u'”'},  {"bull", u'•'},   {"middot", u'·'},
    {"aacute", u'á'}, {"Aacute", u'Á'}, {"eacute", u'é'}, {"Eacute", u'É'}, {"iacute", u'í'},
    {"Iacute", u'Í'}, {"oacute", u'ó'}, {"Oacute", u'Ó'}, {"uacute", u'ú'}, {"Uacute", u'Ú'},
    {"agrave", u'à'}, {"Agrave", u'À'}, {"egrave", u'è'}, {"Egrave", u'È'}, {"igrave", u'ì'},
    {"ograve", u'ò'}, {"ugrave", u'ù'}, {"acirc", u'â'},  {"ecirc", u'ê'},  {"icirc", u'î'},
    {"ocirc", u'ô'},  {"ucirc", u'û'},  {"auml", u'ä'},   {"Auml", u'Ä'},   {"euml", u'ë'},
    {"iuml", u'ï'},   {"ouml", u'ö'},   {"Ouml", u'Ö'},   {"uuml", u'ü'},   {"Uuml", u'Ü'},
    {"aring", u'å'},  {"Aring", u'Å'},  {"aelig", u'æ'},  {"AElig", u'Æ'},  {"oslash", u'ø'},
    {"Oslash", u'Ø'}, {"ccedil", u'ç'}, {"Ccedil", u'Ç'}, {"ntilde", u'ñ'}, {"Ntilde", u'Ñ'},
    {"szlig", u'ß'},  {"atilde", u'ã'}, {"otilde", u'õ'},
};

// Decodes the entity at text[i] ('&'); appends its character(s) and returns
// the index after it, or returns i when there is no entity there.
qsizetype decode_entity(const QString& text, qsizetype i, QString& out) {
    const qsizetype n = text.size();
    const qsizetype limit = std::min(n, i + 12);
    qsizetype semi = i + 1;
    while (semi < limit && text[semi] != QLatin1Char(';'))
        ++semi;
    if (semi >= limit || semi == i + 1)
        return i;
    const QStringView body = QStringView(text).mid(i + 1, semi - i - 1);
    if (body[0] == QLatin1Char('#')) {
        bool ok = false;
        const bool hex =
            body.size() > 1 && (body[1] == QLatin1Char('x') || body[1] == QLatin1Char('X'));
        const uint code = body.mid(hex ? 2 : 1).toUInt(&ok, hex ? 16 : 10);
        if (!ok || code == 0 || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
            return i;
        const char32_t point = code == 0xA0 ? U' ' : char32_t(code);
        out += QString::fromUcs4(&point, 1);
        return semi + 1;
    }
    for (const NamedEntity& e : kNamedEntities) {
        if (body == QLatin1String(e.name)) {
            out += QChar(e.value);
            return semi + 1;
        }
    }
    // Upper-case spellings of the marks ("&NBSP;", "&AMP;").
    const QString lower = body.toString().toLower();
    for (const NamedEntity& e : kNamedEntities) {
        if (e.value < 0x80 && lower == QLatin1String(e.name)) {
            out += QChar(e.value);
            return semi + 1;
        }
    }
    return i;
}

// Appends c, with the source's blanks and line breaks as one blank, never
// at the start of a line.
void append_text_char(QString& out, QChar c) {
    if (c.isSpace() || c == QChar(0xA0)) {
        if (out.isEmpty() || out.back() == QLatin1Char(' ') || out.back() == QLatin1Char('\n') ||
            out.back() == QLatin1Char('\t'))
            return;
        out += QLatin1Char(' ');
        return;
    }
    out += c;
}

void append_break(QString& out, QChar brk) {
    while (!out.isEmpty() && out.back() == QLatin1Char(' '))
        out.chop(1);
    out += brk;
}

QString html_to_text(const QString& text) {
    QString out;
    out.reserve(text.size());
    const qsizetype n = text.size();
    qsizetype gt = -1;          // the first '>' at or after the last '<' looked at; n: none
    qsizetype commentEnd = -1;  // the same for "-->"
    for (qsizetype i = 0; i < n;) {
        const QChar c = text[i];
        if (c == QLatin1Char('&')) {
            const qsizetype after = decode_entity(text, i, out);
            if (after != i) {
                // A decoded blank is a blank of the text, not of the source.
                i = after;
                continue;
            }
            out += c;
            ++i;
            continue;
        }
        if (c != QLatin1Char('<')) {
            append_text_char(out, c);
            ++i;
            continue;
        }
        if (QStringView(text).mid(i, 4) == QLatin1String("<!--")) {
            // The first "-->" from here; once there is none, there is none
            // for any later comment either.
            if (commentEnd != n && commentEnd < i)
                commentEnd = std::max<qsizetype>(text.indexOf(QLatin1String("-->"), i), -1);
            if (commentEnd < 0)
                commentEnd = n;
            if (commentEnd < n) {
                i = commentEnd + 3;
                continue;
            }
        }
        const bool closing = i + 1 < n && text[i + 1] == QLatin1Char('/');
        const qsizetype nameAt = i + (closing ? 2 : 1);
        const QChar first = nameAt < n ? text[nameAt] : QChar();
        if (gt != n && gt < i)
            gt = std::max<qsizetype>(text.indexOf(QLatin1Char('>'), i), -1);
        if (gt < 0)
            gt = n;
        const bool tag =
            gt < n && (first.isLetter() || first == QLatin1Char('!') || first == QLatin1Char('?'));
        if (!tag) {
            out += c;
            ++i;
            continue;
        }
        const QString name = tag_name(text, nameAt);
        i = gt + 1;
        if (!closing && (name == QLatin1String("script") || name == QLatin1String("style"))) {
            const qsizetype end = text.indexOf(QLatin1String("</") + name, i, Qt::CaseInsensitive);
            const qsizetype close = end < 0 ? -1 : text.indexOf(QLatin1Char('>'), end);
            i = close < 0 ? n : close + 1;
            continue;
        }
        if (name == QLatin1String("td") || name == QLatin1String("th")) {
            if (closing)
                append_break(out, QLatin1Char('\t'));
        } else if (is_block(name)) {
            append_break(out, QLatin1Char('\n'));
        }
    }
    return out;
}

}  // namespace

QString body_as_text(const QString& body) {
    QString text = looks_quoted_printable(body) ? undo_quoted_printable(body) : body;
    text = utf8_if_valid(text);
    if (looks_html(text))
        text = html_to_text(text);
    return text;
}

}  // namespace lyb::store
