// The caller of a voicemail as its notification names it: the parser that
// finds the caller's name and number in the subject and body, and the
// scanner that reads one caller description.
//
// Bad input: the parser and scanner accept any text and stop at its end.
#pragma once

#include <QString>

namespace lyb::store {

class CVoiceMailParser {
public:
    virtual ~CVoiceMailParser() = default;
    // Fills caller_name and caller_number from the texts; true when either is
    // non-empty afterwards.
    virtual bool parse(const QString& subject, const QString& body) = 0;

    QString caller_name;
    QString caller_number;
};

// Tries, while both results are empty: the body (markup removed) after
// "caller id", "caller name", "from", then the subject after "from" and
// "Voice Mail Message (", each time the text after the keyword's last
// occurrence (any case), read by CCallerScanner.
class CDefaultVoiceMailParser final : public CVoiceMailParser {
public:
    bool parse(const QString& subject, const QString& body) override;
};

// Reads one caller description character by character: a number (digits
// only, "+" and separators skipped), or a name of at most two words, a quoted
// name, and a number in angle brackets or parentheses after a name.
class CCallerScanner {
public:
    explicit CCallerScanner(QString text) : rest(std::move(text)) {}
    // Scans until the end of rest or until a state stops.
    void scan();
    // Handles the character at position; false when the scan stops there.
    bool step();

    QString number;
    QString name;
    int state = 0;
    QString rest;
    qsizetype position = 0;
};

}  // namespace lyb::store
