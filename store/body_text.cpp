#include "store/body_text.h"

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

}  // namespace lyb::store
