// A small, strict vCard reader and writer.
//
// Reading accepts vCard 2.1, 3.0 and 4.0 as address books export them:
// CRLF, LF or CR line ends; folded lines (a line that starts with a blank or
// a tab continues the one before, less that one character); parameters with
// quoted values; in 2.1 also bare parameters ("TEL;CELL:") and
// quoted-printable values with soft line breaks and a CHARSET; base64 values
// (2.1 ENCODING=BASE64, 3.0 ENCODING=b); several cards in one file.
//
// Every property is held in the form vCard 4.0 writes it, whatever version
// it was read in, so that the program reads every card alike:
//  - values are kept escaped as 4.0 escapes them ("\\", "\n", "\,", "\;");
//    2.1 values, which escape nothing but ";", are converted;
//  - quoted-printable and charsets are decoded, and ENCODING and CHARSET
//    dropped; base64 values become "data:" URIs;
//  - 2.1 bare parameters become TYPE values; N gets its five components.
// Beside that form each property keeps the bytes it was read from, and the
// card its own, so that an edited card is written back with every line the
// edit did not change exactly as it was (writeEdited).
//
// Charsets: a CHARSET is decoded by any converter Qt knows (ICU's when Qt
// has it). A card with a charset none knows is still read, that value as
// Latin-1, and marked read-only: writing it back could only garble it.
//
// Malformed input. A card is dropped, and a Problem records its line and why,
// when: a line has no ":" or its group, name or parameter names hold other
// characters than letters, digits, "-" and "_"; a quoted parameter value is
// not closed; the card has no VERSION, or one other than 2.1, 3.0 and 4.0; a
// quoted-printable value has a bad "=XX"; a value is not valid UTF-8 in 3.0
// or 4.0 (2.1 falls back to Latin-1 without a CHARSET); the file ends before
// END:VCARD; or a BEGIN:VCARD comes before the card's END. Text outside a card
// other than blank lines is recorded once per file and skipped. Reading never
// throws; it stops at kMaxInput bytes (the rest counts as a problem).
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

namespace lyb::pim::vcard {

constexpr qsizetype kMaxInput = 16 * 1024 * 1024;

struct Parameter {
    QString name;        // upper case
    QStringList values;  // unquoted, in order
    bool operator==(const Parameter&) const = default;
};

struct Property {
    QString group;  // as written; empty when none
    QString name;   // upper case
    QList<Parameter> params;
    QString value;  // escaped as vCard 4.0 writes it
    // The bytes the property was read from, folded lines and line end
    // included; empty for a property made here. Not part of its content.
    QByteArray raw;
    qsizetype rawOffset = -1;  // where raw starts in the card's raw

    // True when group, name, parameters and value are the same.
    bool sameContent(const Property& other) const;

    // Returns the values of every parameter called name (any case), in order.
    QStringList paramValues(const QString& name) const;
    // True when a TYPE value equals type, ignoring case.
    bool hasType(const QString& type) const;
};

struct Card {
    QString version;  // the version it was read in ("2.1", "3.0", "4.0"); "4.0" for new cards
    QList<Property> properties;  // in order; BEGIN, VERSION and END are not kept
    // The bytes the card was read from, its BEGIN line to its END line's end;
    // empty for a new card.
    QByteArray raw;
    qsizetype rawOffset = -1;  // where raw starts in the bytes read
    qsizetype endOffset = -1;  // where the END line starts in raw
    // Why the card must not be written back; empty when it may be.
    QString readOnly;

    // Returns the first property called name (upper case), or null.
    const Property* find(const QString& name) const;
    Property* find(const QString& name);
};

struct Problem {
    int line = 0;  // 1-based line of the file where the trouble was seen
    QString reason;
};

struct ReadResult {
    QList<Card> cards;
    QList<Problem> problems;  // empty when every line was understood
};

// Reads every card of a file's bytes. See the header comment for what is dropped.
ReadResult read(const QByteArray& data);

// Writes one card as vCard 4.0: CRLF line ends, lines folded at 75 octets
// without splitting a character.
QByteArray write(const Card& card);

// Writes base, a card as read, with the edit that turned original into
// edited: the properties of edited whose content differs from the original
// one they come from (setters change a property in place and keep its raw;
// added ones have none), the original properties edited no longer has, and
// the properties added. Every line of base the edit does not touch keeps its
// bytes; changed and added lines are written in base's version and line end,
// added ones before END. base is original itself for a card that did not
// change since it was read; otherwise it is that card as another program left
// it, and each property the edit touches is found in it by its content (else,
// for a change, by its group, name and parameters; else it is added).
QByteArray writeEdited(const Card& base, const Card& original, const Card& edited);

// The UID of a card, unescaped; empty when it has none.
QString uid(const Card& card);

// Value helpers for the 4.0 escaped form.
QString unescape(const QString& escaped);
QString escape(const QString& text);
// Splits an escaped value at the separators that are not escaped; the parts stay escaped.
QStringList splitEscaped(const QString& escaped, QChar separator = QLatin1Char(';'));

}  // namespace lyb::pim::vcard
