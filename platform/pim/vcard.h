// A small, strict vCard reader and a vCard 4.0 writer.
//
// Reading accepts vCard 2.1, 3.0 and 4.0 as address books export them:
// CRLF, LF or CR line ends; folded lines (a line that starts with a blank or
// a tab continues the one before, less that one character); parameters with
// quoted values; in 2.1 also bare parameters ("TEL;CELL:") and
// quoted-printable values with soft line breaks and a CHARSET; base64 values
// (2.1 ENCODING=BASE64, 3.0 ENCODING=b); several cards in one file.
//
// Every card is held in the form vCard 4.0 writes it, whatever version it was
// read in, so that writing it back keeps every property, also those this
// system does not use:
//  - values are kept escaped as 4.0 escapes them ("\\", "\n", "\,", "\;");
//    2.1 values, which escape nothing but ";", are converted;
//  - quoted-printable and charsets are decoded, and ENCODING and CHARSET
//    dropped; base64 values become "data:" URIs;
//  - 2.1 bare parameters become TYPE values; N gets its five components.
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
};

struct Property {
    QString group;  // as written; empty when none
    QString name;   // upper case
    QList<Parameter> params;
    QString value;  // escaped as vCard 4.0 writes it

    // Returns the values of every parameter called name (any case), in order.
    QStringList paramValues(const QString& name) const;
    // True when a TYPE value equals type, ignoring case.
    bool hasType(const QString& type) const;
};

struct Card {
    QString version;  // the version it was read in ("2.1", "3.0", "4.0"); "4.0" for new cards
    QList<Property> properties;  // in order; BEGIN, VERSION and END are not kept

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

// Value helpers for the 4.0 escaped form.
QString unescape(const QString& escaped);
QString escape(const QString& text);
// Splits an escaped value at the separators that are not escaped; the parts stay escaped.
QStringList splitEscaped(const QString& escaped, QChar separator = QLatin1Char(';'));

}  // namespace lyb::pim::vcard
