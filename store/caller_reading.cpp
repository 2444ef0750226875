#include "store/caller_reading.h"

#include "store/body_text.h"

namespace lyb::store {

namespace {

// Platform-style character classes: ASCII punctuation is every printable
// character that is not a letter, digit or space.
bool isPunct(QChar c) {
    if (c.unicode() < 0x80)
        return c.unicode() > 0x20 && c.unicode() < 0x7F && !c.isLetterOrNumber();
    return c.isPunct() || c.isSymbol();
}
bool isDigit(QChar c) {
    return c.isDigit();
}
bool isSpace(QChar c) {
    return c.isSpace();
}

// Lower-cases one character at a time so that indices into the copy are
// indices into the original (full case mapping can change the length).
QString lowerSameLength(const QString& text) {
    QString lower = text;
    for (QChar& c : lower)
        c = c.toLower();
    return lower;
}

}  // namespace

// ---------------------------------------------------------------- scanner

bool CCallerScanner::step() {
    const QChar c = rest[position++];
    const char16_t u = c.unicode();
    switch (state) {
        case 0:
            if (u == '+') {
                state = 1;
            } else if (isDigit(c)) {
                state = 1;
                number += c;
            } else if (u == '"') {
                state = 3;
            } else if (u == '<') {
                state = 6;
            } else if (u == '(') {
                state = 1;
            } else if (c.isLetter()) {
                state = 2;
                name += c;
            }
            return true;
        case 1:
            if (isPunct(c) || u == ')' || isSpace(c))
                return true;
            if (!isDigit(c))
                return false;
            number += c;
            return true;
        case 2:
            if (u == '(' || u == '<') {
                state = 6;
            } else if (isPunct(c)) {
                return false;
            } else if (isSpace(c)) {
                state = 4;
                name += c;
            } else {
                name += c;
            }
            return true;
        case 3:
            if (u == '"') {
                state = 0;
            } else {
                name += c;
            }
            return true;
        case 4:
            if (u == '(' || u == '<') {
                state = 6;
            } else if (isPunct(c)) {
                return false;
            } else if (isSpace(c)) {
                state = 5;
            } else {
                name += c;
            }
            return true;
        case 5:
            if (u == '(' || u == '<') {
                state = 6;
                return true;
            }
            return isSpace(c);
        case 6:
            if (u == '>' || u == ')')
                return false;
            if (isDigit(c))
                number += c;
            return true;
        default:
            return false;
    }
}

void CCallerScanner::scan() {
    while (position < rest.size() && step()) {
    }
}

// ---------------------------------------------------------------- parser

bool CDefaultVoiceMailParser::parse(const QString& subject, const QString& body) {
    caller_name.clear();
    caller_number.clear();
    QString text = body;
    strip_markup(text);

    struct Try {
        const QString* text;
        const char* keyword;
    };
    const Try tries[] = {{&text, "caller id"},
                         {&text, "caller name"},
                         {&text, "from"},
                         {&subject, "from"},
                         {&subject, "Voice Mail Message ("}};
    for (const Try& t : tries) {
        if (!caller_name.isEmpty() || !caller_number.isEmpty())
            break;
        const QString keyword = QString::fromLatin1(t.keyword).toLower();
        const qsizetype at = lowerSameLength(*t.text).lastIndexOf(keyword);
        if (at < 0)
            continue;
        CCallerScanner scanner(t.text->mid(at + keyword.size()));
        scanner.scan();
        caller_name = scanner.name;
        caller_number = scanner.number;
    }
    return !caller_name.isEmpty() || !caller_number.isEmpty();
}

}  // namespace lyb::store
