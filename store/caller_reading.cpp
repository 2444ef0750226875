#include "store/caller_reading.h"

#include <QRegularExpression>

#include <algorithm>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "store/body_text.h"

namespace lyb::store {

namespace {

// How far one reading looks: a caller description is short, and bounding it
// keeps a text full of keywords linear.
constexpr qsizetype kMaxReading = 160;

// Where a reading was found; lower is trusted more between equals.
enum Place { kOriginal = 0, kLabel = 1, kWord = 2, kForeign = 3 };

struct Keyword {
    const char16_t* text;  // lower case
    Place place;
    bool lowerOnly;   // only as written, lower case
    bool needsColon;  // only followed by ':'
};

constexpr Keyword kKeywords[] = {
    {u"originally from", kOriginal, false, false},
    {u"left by", kOriginal, false, false},
    // Longer labels first: the first that matches at a place is read.
    {u"caller id number", kLabel, false, false},
    {u"caller id name", kLabel, false, false},
    {u"callerid number", kLabel, false, false},
    {u"callerid name", kLabel, false, false},
    {u"caller id", kLabel, false, false},
    {u"callerid", kLabel, false, false},
    {u"caller-id", kLabel, false, false},
    {u"caller name", kLabel, false, false},
    {u"caller number", kLabel, false, false},
    {u"caller's number", kLabel, false, false},
    {u"calling number", kLabel, false, false},
    {u"caller", kLabel, false, true},
    {u"voice mail message", kLabel, false, false},
    {u"from", kWord, false, false},
    {u"von", kForeign, false, false},
    {u"från", kForeign, false, false},
    {u"de", kForeign, true, false},
    {u"da", kForeign, true, false},
    {u"van", kForeign, true, false},
};

// The words that say nobody is named, and the words that may follow them
// ("unknown caller", "private number").
constexpr const char* kNoCaller[] = {
    "unknown",           "anonymous",       "private",     "restricted", "withheld",
    "unavailable",       "not available",   "out of area", "blocked",    "no caller id",
    "caller id blocked", "wireless caller", "out-of-area"};
constexpr const char* kNoCallerTail[] = {"caller", "number", "name", "id", "callerid"};

// Lower-case words that stay inside a name before a capitalised word.
constexpr const char* kParticles[] = {"van", "von", "de", "da",  "del", "della", "der",
                                      "den", "di",  "du", "la",  "le",  "dos",   "das",
                                      "bin", "al",  "el", "ten", "ter", "y"};

bool is_letter(QChar c) {
    return c.isLetter() || c.isMark();
}

bool starts_capitalised(QChar c) {
    return c.isUpper() || c.isTitleCase() || (c.isLetter() && c.toLower() == c.toUpper());
}

bool is_blank(QChar c) {
    return c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QChar(0xA0);
}

bool is_open_quote(QChar c) {
    return c == QLatin1Char('"') || c == QChar(0x201C) || c == QChar(0x201E) || c == QChar(0x00AB);
}

bool is_close_quote(QChar c) {
    return c == QLatin1Char('"') || c == QChar(0x201D) || c == QChar(0x201C) || c == QChar(0x00BB);
}

// Whether lower (already lower case) holds word at i, ending at a word
// boundary.
template <typename Word>
bool word_at(const QString& lower, qsizetype i, Word word) {
    if (QStringView(lower).mid(i, word.size()) != word)
        return false;
    const qsizetype end = i + word.size();
    return end >= lower.size() || !lower[end].isLetterOrNumber();
}

bool word_at(const QString& lower, qsizetype i, const char* word) {
    return word_at(lower, i, QLatin1String(word));
}

// The length of a no-caller phrase at i ("an unknown caller"), 0 for none.
qsizetype no_caller_at(const QString& lower, qsizetype i) {
    qsizetype at = i;
    if (word_at(lower, at, "an"))
        at += 3;
    else if (word_at(lower, at, "a"))
        at += 2;
    for (const char* word : kNoCaller) {
        if (!word_at(lower, at, word))
            continue;
        qsizetype end = at + qsizetype(qstrlen(word));
        for (const char* tail : kNoCallerTail) {
            if (end + 1 < lower.size() && lower[end] == QLatin1Char(' ') &&
                word_at(lower, end + 1, tail)) {
                end += 1 + qsizetype(qstrlen(tail));
                break;
            }
        }
        return end - i;
    }
    return 0;
}

bool says_no_caller(const QString& name) {
    const QString lower = name.trimmed().toLower();
    return !lower.isEmpty() && no_caller_at(lower, 0) == lower.size();
}

// A telephone number written from i: an optional "+", then digits with
// single separators (blanks, '-', '.', '/', parentheses) between them. Returns
// the digits (with the "+") and sets end; empty when fewer than 3 digits.
// A number written twice in a row is one number.
QString read_number(const QString& text, qsizetype i, qsizetype limit, qsizetype& end) {
    end = i;
    QString digits;
    if (i < limit && text[i] == QLatin1Char('+')) {
        digits += QLatin1Char('+');
        ++i;
    }
    auto separator = [](QChar c) {
        return c == QLatin1Char(' ') || c == QLatin1Char('-') || c == QLatin1Char('.') ||
               c == QLatin1Char('/') || c == QLatin1Char('(') || c == QLatin1Char(')') ||
               c == QChar(0xA0) || c == QChar(0x2010) || c == QChar(0x2011);
    };
    qsizetype last = i;  // after the last digit
    while (i < limit) {
        const QChar c = text[i];
        if (c.isDigit() && c.unicode() < 0x80) {
            digits += c;
            last = ++i;
            continue;
        }
        qsizetype k = i;
        while (k < limit && k - i < 3 && separator(text[k]))
            ++k;
        if (k == i || k >= limit || !text[k].isDigit() || text[k].unicode() >= 0x80)
            break;
        i = k;
    }
    // A closing parenthesis right after the digits belongs to them.
    if (last < limit && text[last] == QLatin1Char(')'))
        ++last;
    const bool plus = digits.startsWith(QLatin1Char('+'));
    QString bare = plus ? digits.mid(1) : digits;
    if (bare.size() >= 10 && bare.size() % 2 == 0 &&
        QStringView(bare).left(bare.size() / 2) == QStringView(bare).mid(bare.size() / 2))
        bare.truncate(bare.size() / 2);
    if (bare.size() < 3 || bare.size() > 18)
        return {};
    end = last;
    return plus ? QLatin1Char('+') + bare : bare;
}

bool number_starts(const QString& text, qsizetype i, qsizetype limit) {
    if (i >= limit)
        return false;
    const QChar c = text[i];
    if (c.isDigit())
        return true;
    if ((c == QLatin1Char('+') || c == QLatin1Char('(')) && i + 1 < limit)
        return text[i + 1].isDigit();
    return false;
}

// The number inside brackets opening at i ("<5551234567>", "<sip:+4420...@
// host>", "(6175550123)"); sets end after the closing bracket.
QString read_bracketed_number(const QString& text, qsizetype i, qsizetype limit, qsizetype& end) {
    const QChar open = text[i];
    const QChar close = open == QLatin1Char('<')   ? QLatin1Char('>')
                        : open == QLatin1Char('[') ? QLatin1Char(']')
                                                   : QLatin1Char(')');
    qsizetype closeAt = i + 1;
    while (closeAt < limit && text[closeAt] != close && text[closeAt] != QLatin1Char('\n'))
        ++closeAt;
    end = closeAt < limit && text[closeAt] == close ? closeAt + 1 : closeAt;
    qsizetype at = i + 1;
    while (at < closeAt && is_blank(text[at]))
        ++at;
    for (const char* scheme : {"sips:", "sip:", "tel:"}) {
        if (QStringView(text)
                .mid(at, qsizetype(qstrlen(scheme)))
                .compare(QLatin1String(scheme), Qt::CaseInsensitive) == 0) {
            at += qsizetype(qstrlen(scheme));
            break;
        }
    }
    qsizetype numberEnd = at;
    const QString number = read_number(text, at, closeAt, numberEnd);
    // Only a number that fills the brackets (up to a host or parameters).
    if (number.isEmpty() || (numberEnd < closeAt && text[numberEnd] != QLatin1Char('@') &&
                             text[numberEnd] != QLatin1Char(';') && !is_blank(text[numberEnd])))
        return {};
    return number;
}

// An unquoted name from i: capitalised words up to the number or the
// punctuation that ends it. Empty when the first word is no name.
QString read_name(const QString& text, qsizetype i, qsizetype limit, qsizetype& end) {
    const qsizetype from = i;
    end = i;
    qsizetype nameEnd = i;
    bool first = true;
    while (i < limit) {
        const qsizetype start = i;
        bool digit = false, host = false;
        if (text[i] == QLatin1Char('&')) {
            ++i;
        } else {
            while (i < limit) {
                const QChar c = text[i];
                if (is_letter(c)) {
                    ++i;
                } else if (c.isDigit()) {
                    digit = true;
                    ++i;
                } else if ((c == QLatin1Char('\'') || c == QChar(0x2019) ||
                            c == QLatin1Char('-')) &&
                           i > start && i + 1 < limit && is_letter(text[i + 1])) {
                    ++i;
                } else if ((c == QLatin1Char('.') || c == QLatin1Char('_') ||
                            c == QLatin1Char('@')) &&
                           i + 1 < limit && text[i + 1].isLetterOrNumber()) {
                    host = true;
                    ++i;
                } else {
                    break;
                }
            }
        }
        if (i == start)
            break;
        const QStringView word = QStringView(text).mid(start, i - start);
        const bool capital = starts_capitalised(word[0]);
        if (first) {
            if (!capital || digit || host || word == QLatin1String("&"))
                return {};
        } else if (digit || host) {
            // One or two digits are no telephone number: they are part of the
            // name ("Line 2"), unless more digits follow them ("Ann 55 1234").
            qsizetype next = 0;
            const bool shortNumber =
                !host && word.size() <= 2 &&
                std::all_of(word.begin(), word.end(), [](QChar d) { return d.isDigit(); }) &&
                read_number(text, start, limit, next).isEmpty();
            if (!shortNumber)
                break;
        } else if (!capital && word != QLatin1String("&")) {
            bool particle = false;
            for (const char* p : kParticles)
                particle = particle || word == QLatin1String(p);
            if (!particle || i + 1 >= limit || text[i] != QLatin1Char(' ') ||
                !starts_capitalised(text[i + 1]))
                break;
        }
        // An initial keeps its full stop.
        if (word.size() == 1 && capital && i < limit && text[i] == QLatin1Char('.'))
            ++i;
        first = false;
        if (word != QLatin1String("&"))
            nameEnd = i;
        // Words are joined by blanks; anything else ends the name.
        qsizetype k = i;
        while (k < limit && k - i < 3 && (text[k] == QLatin1Char(' ') || text[k] == QChar(0xA0)))
            ++k;
        if (k == i || k >= limit ||
            !(is_letter(text[k]) || text[k].isDigit() || text[k] == QLatin1Char('&')))
            break;
        i = k;
    }
    end = nameEnd;
    return text.mid(from, nameEnd - from);
}

struct Candidate {
    CCallerReading reading;
    Place place = kWord;
    int source = 0;  // 0 body, 1 subject
    qsizetype at = 0;

    int score() const {
        return (reading.name.isEmpty() ? 0 : 1) + (reading.number.isEmpty() ? 0 : 2);
    }
};

qsizetype skip_blanks(const QString& text, qsizetype i, qsizetype limit) {
    while (i < limit && is_blank(text[i]))
        ++i;
    return i;
}

// Reads the caller description that starts at i (after a keyword) on its
// line.
CCallerReading read_description(const QString& text, const QString& lower, qsizetype i) {
    CCallerReading r;
    const qsizetype most = std::min(text.size(), i + kMaxReading);
    qsizetype limit = i;
    while (limit < most && text[limit] != QLatin1Char('\n'))
        ++limit;
    if (limit > i && text[limit - 1] == QLatin1Char('\r'))
        --limit;
    while (i < limit &&
           (is_blank(text[i]) || text[i] == QLatin1Char(':') || text[i] == QLatin1Char('=') ||
            text[i] == QLatin1Char('-') || text[i] == QChar(0x2013) || text[i] == QChar(0x2014)))
        ++i;
    if (i >= limit)
        return r;

    bool nameRead = false;
    if (const qsizetype none = no_caller_at(lower, i)) {
        i += none;
        nameRead = true;
    } else if (is_open_quote(text[i])) {
        qsizetype close = i + 1;
        while (close < limit && !is_close_quote(text[close]))
            ++close;
        r.name = text.mid(i + 1, close - i - 1).trimmed();
        i = std::min(close + 1, limit);
        nameRead = true;
    } else if (text[i] == QLatin1Char('<') || number_starts(text, i, limit)) {
        qsizetype end = i;
        r.number = text[i] == QLatin1Char('<') ? read_bracketed_number(text, i, limit, end)
                                               : read_number(text, i, limit, end);
        i = end;
        // A name may follow the number, quoted or in the capitals of the
        // telephone network's caller names ("5551234567 JOHN SMITH"); other
        // words after a number are the template's.
        const qsizetype at = skip_blanks(text, i, limit);
        if (at > i && at < limit && is_open_quote(text[at])) {
            qsizetype close = at + 1;
            while (close < limit && !is_close_quote(text[close]))
                ++close;
            if (close < limit)
                r.name = text.mid(at + 1, close - at - 1).trimmed();
        } else if (at > i && at < limit) {
            qsizetype end2 = at;
            read_name(text, at, limit, end2);
            const QString name = text.mid(at, end2 - at);
            if (name.size() >= 2 && name == name.toUpper())
                r.name = name;
        }
    } else {
        qsizetype end = i;
        read_name(text, i, limit, end);
        if (end == i)
            return r;
        r.name = text.mid(i, end - i).trimmed();
        i = end;
        nameRead = true;
    }

    if (nameRead) {
        // The number next to the name.
        qsizetype at = skip_blanks(text, i, limit);
        if (at < limit && at + 1 < limit &&
            (text[at] == QLatin1Char('<') || text[at] == QLatin1Char('[') ||
             (text[at] == QLatin1Char('(') && !text[at + 1].isDigit()))) {
            qsizetype end = at;
            r.number = read_bracketed_number(text, at, limit, end);
        } else if (number_starts(text, at, limit)) {
            qsizetype end = at;
            r.number = read_number(text, at, limit, end);
        }
    }

    if (says_no_caller(r.name))
        r.name.clear();
    // A name that is only a number is that number.
    if (!r.name.isEmpty()) {
        qsizetype end = 0;
        const QString asNumber = read_number(r.name, 0, r.name.size(), end);
        if (!asNumber.isEmpty() && end == r.name.size()) {
            if (r.number.isEmpty())
                r.number = asNumber;
            r.name.clear();
        }
    }
    return r;
}

// Whether "from" at i is the caller's and not a sender's ("Sent from",
// "E-mail from").
bool sender_from(const QString& lower, qsizetype i) {
    qsizetype k = i;
    while (k > 0 && lower[k - 1] == QLatin1Char(' '))
        --k;
    for (const char* word : {"sent", "email", "e-mail", "mail", "message", "forwarded"}) {
        const qsizetype size = qsizetype(qstrlen(word));
        if (k >= size && QStringView(lower).mid(k - size, size) == QLatin1String(word) &&
            (k == size || !lower[k - size - 1].isLetter()))
            return std::string_view(word) != "message";
    }
    return false;
}

void collect(const QString& text, int source, std::vector<Candidate>& out) {
    QString lower = text;
    for (QChar& c : lower)
        c = c.toLower();  // one character each, so indices agree
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        if (i > 0 && lower[i - 1].isLetterOrNumber())
            continue;
        const QChar c = lower[i];
        if (c != QLatin1Char('o') && c != QLatin1Char('l') && c != QLatin1Char('c') &&
            c != QLatin1Char('v') && c != QLatin1Char('f') && c != QLatin1Char('d'))
            continue;
        for (const Keyword& k : kKeywords) {
            const QStringView word(k.text);
            if (!word_at(lower, i, word))
                continue;
            if (k.lowerOnly && QStringView(text).mid(i, word.size()) != word)
                continue;
            qsizetype after = i + word.size();
            if (k.needsColon) {
                after = skip_blanks(text, after, n);
                if (after >= n || text[after] != QLatin1Char(':'))
                    continue;
            }
            if (k.place == kWord && sender_from(lower, i))
                continue;
            // The foreign words name a caller only right before one.
            if (k.place == kForeign && (after >= n || text[after] != QLatin1Char(' ')))
                continue;
            Candidate candidate;
            candidate.reading = read_description(text, lower, after);
            candidate.place = k.place;
            candidate.source = source;
            candidate.at = i;
            if (candidate.score() > 0)
                out.push_back(std::move(candidate));
            break;  // the longest keyword at i was read
        }
    }
}

bool same_name(const QString& a, const QString& b) {
    return a.isEmpty() || b.isEmpty() || a.compare(b, Qt::CaseInsensitive) == 0;
}

}  // namespace

CCallerReading read_caller(const QString& subject, const QString& bodyText) {
    std::vector<Candidate> candidates;
    collect(bodyText, 0, candidates);
    collect(subject, 1, candidates);
    if (candidates.empty())
        return {};
    std::stable_sort(candidates.begin(), candidates.end(),
                     [](const Candidate& a, const Candidate& b) {
                         if (a.score() != b.score())
                             return a.score() > b.score();
                         if (a.place != b.place)
                             return a.place < b.place;
                         if (a.source != b.source)
                             return a.source < b.source;
                         return a.at < b.at;
                     });
    CCallerReading best = candidates.front().reading;
    for (const Candidate& c : candidates) {
        if (best.number.isEmpty() && !c.reading.number.isEmpty() &&
            same_name(best.name, c.reading.name))
            best.number = c.reading.number;
        if (best.name.isEmpty() && !c.reading.name.isEmpty() &&
            (c.reading.number.isEmpty() || c.reading.number == best.number))
            best.name = c.reading.name;
    }
    return best;
}

QString find_transcript(const QString& bodyText, qsizetype* sectionStart, qsizetype* sectionEnd) {
    if (sectionStart)
        *sectionStart = -1;
    if (sectionEnd)
        *sectionEnd = -1;
    static const QRegularExpression heading(
        QStringLiteral("^[ \\t]*(?:[\\w ]{0,24}[ \\t])?transcri(?:pt|ption)[ \\t]*"
                       "(?::|\\r?$)"),
        QRegularExpression::CaseInsensitiveOption | QRegularExpression::MultilineOption |
            QRegularExpression::UseUnicodePropertiesOption);
    const QRegularExpressionMatch match = heading.match(bodyText);
    if (!match.hasMatch())
        return {};
    QStringList lines;
    qsizetype at = match.capturedEnd();
    qsizetype end = bodyText.size();
    while (at < bodyText.size()) {
        qsizetype lineEnd = bodyText.indexOf(QLatin1Char('\n'), at);
        if (lineEnd < 0)
            lineEnd = bodyText.size();
        const QString line = bodyText.mid(at, lineEnd - at).trimmed();
        if (line.isEmpty() && !lines.isEmpty()) {
            end = at;
            break;
        }
        if (!line.isEmpty())
            lines << line;
        at = lineEnd + 1;
    }
    if (lines.isEmpty())
        return {};
    if (sectionStart)
        *sectionStart = match.capturedStart();
    if (sectionEnd)
        *sectionEnd = std::min(end, bodyText.size());
    return lines.join(QLatin1Char('\n'));
}

QString read_transcript_attachment(mapi::IMessage& message) {
    using namespace mapi;
    std::unique_ptr<IMAPITable> table;
    if (message.GetAttachmentTable(0, table) != S_OK || !table)
        return {};
    if (Failed(table->SetColumns(
            {PR_ATTACH_NUM, PR_ATTACH_LONG_FILENAME_W, PR_ATTACH_FILENAME_W, PR_ATTACH_MIME_TAG_W},
            0)))
        return {};
    std::optional<uint32_t> found;
    for (uint32_t row = 0; !found; ++row) {
        SRowSet rows;
        if (table->QueryRows(1, 0, rows) != S_OK || rows.size() != 1)
            break;
        uint32_t number = row;
        QString name, mime;
        for (const SPropValue& v : rows[0]) {
            if (v.ulPropTag == PR_ATTACH_NUM)
                number = static_cast<uint32_t>(v.l);
            else if (v.ulPropTag == PR_ATTACH_LONG_FILENAME_W && !v.str.isEmpty())
                name = v.str;
            else if (v.ulPropTag == PR_ATTACH_FILENAME_W && name.isEmpty())
                name = v.str;
            else if (v.ulPropTag == PR_ATTACH_MIME_TAG_W)
                mime = v.str.toLower();
        }
        const QString lowerName = name.toLower();
        if (!lowerName.contains(QLatin1String("transcri")))
            continue;
        if (mime.startsWith(QLatin1String("text/")) || lowerName.endsWith(QLatin1String(".txt")) ||
            lowerName.endsWith(QLatin1String(".htm")) ||
            lowerName.endsWith(QLatin1String(".html")) ||
            (mime.isEmpty() && !lowerName.contains(QLatin1Char('.'))))
            found = number;
    }
    table.reset();
    if (!found)
        return {};
    std::unique_ptr<IAttach> attach;
    if (message.OpenAttach(*found, 0, attach) != S_OK || !attach)
        return {};
    IStream* stream = nullptr;
    if (attach->OpenProperty(PR_ATTACH_DATA_BIN, 0, 0, &stream) != S_OK || !stream) {
        if (stream)
            stream->Release();
        return {};
    }
    QByteArray bytes(static_cast<qsizetype>(kMaxBodyBytes), '\0');
    uint32_t got = 0;
    const HRESULT hr = stream->Read(bytes.data(), kMaxBodyBytes, &got);
    stream->Release();
    if (Failed(hr))
        return {};
    bytes.truncate(std::min<qsizetype>(got, bytes.size()));
    // Widened byte for byte, as 8-bit bodies are; body_as_text reads UTF-8
    // and HTML.
    return body_as_text(QString::fromLatin1(bytes)).trimmed();
}

bool CDefaultVoiceMailParser::parse(const QString& subject, const QString& body) {
    QString text = body_as_text(body);
    qsizetype start = -1, end = -1;
    transcript = find_transcript(text, &start, &end);
    // The words of a transcript are the caller's speech, never the caller.
    if (start >= 0)
        text.replace(start, end - start, QStringLiteral("\n"));
    const CCallerReading reading = read_caller(subject, text);
    caller_name = reading.name;
    caller_number = reading.number;
    return !caller_name.isEmpty() || !caller_number.isEmpty();
}

}  // namespace lyb::store
