// The caller of a voicemail as a person reads its notification, and the
// transcript the notification carries.
//
// The subject and the body are read together. Each place that names a
// caller is read: the labels ("Caller ID", "Caller Name", "Caller Number",
// "Calling Number", "Caller:"), the words "from" (not "Sent from", "e-mail
// from"), "originally from" and "left by", the carriers' "Voice Mail
// Message (NUMBER)", and the words of other languages' templates: "von",
// "från" in any case, "de", "da", "van" in lower case. What follows is read
// as a person would:
//  - a quoted name keeps everything inside its quotes;
//  - an unquoted name is a run of capitalised words (with the particles
//    "van", "de", "O'", initials and "&" inside it) up to the number or the
//    punctuation that ends it; a first word that is not capitalised, or that
//    looks like a host name, is no name;
//  - the number is the one next to the name, in angle brackets (also a
//    "sip:" or "tel:" address), in parentheses or bare, in any of the
//    written forms ("(503) 555-0142", "555.123.4567", "+44 20 7946 0958");
//    it keeps its digits and a leading "+", a number written twice is one
//    number, and a name that is only a number is that number;
//  - "an unknown caller", "Anonymous", "Private", "Restricted", "Withheld"
//    and the like name nobody.
// The transcript's section is not read for the caller. Of the readings, the
// most complete wins (name and number, then number, then name), and between
// equals "originally from" before the labels and words, before the other
// languages' words, then the body before the subject and the earlier place
// first. A reading with only a name or only a number is completed from
// another that agrees with it.
//
// Bad input: any text is accepted; the reading stops at the text's end and
// runs in time proportional to the texts' length.
#pragma once

#include <QString>

#include "platform/mapi/mapi.h"

namespace lyb::store {

struct CCallerReading {
    QString name;    // empty when no caller is named
    QString number;  // digits with a leading "+" when given one; may be empty
};

// The caller named by a subject and a body that is already text (see
// body_as_text).
CCallerReading read_caller(const QString& subject, const QString& bodyText);

// The transcript a body (as text) carries: the text after a heading that
// is "Transcription" or "Transcript" (any case; also after a few words,
// "Voicemail Transcription:") followed by ':' or the line's end, to the
// first blank line after it begins or the end, its lines trimmed; empty
// when there is none. sectionStart and sectionEnd, when given, receive the
// span of the heading and transcript in bodyText (both -1 when none).
QString find_transcript(const QString& bodyText, qsizetype* sectionStart = nullptr,
                        qsizetype* sectionEnd = nullptr);

// The transcript attached to a message as a text: the first attachment whose
// file name holds "transcript" or "transcription" (any case) and that is
// text (a text/* MIME type, or none, or a ".txt" or ".htm(l)" name), read
// like a body (its first kMaxBodyBytes, UTF-8 when valid, HTML as text) and
// trimmed. Empty when there is none or it cannot be read.
QString read_transcript_attachment(mapi::IMessage& message);

class CVoiceMailParser {
public:
    virtual ~CVoiceMailParser() = default;
    // Fills caller_name, caller_number and transcript from the texts; true
    // when a name or number is non-empty afterwards.
    virtual bool parse(const QString& subject, const QString& body) = 0;

    QString caller_name;
    QString caller_number;
    QString transcript;
};

// Reads the body as text (body_as_text), then the caller (read_caller) and
// the transcript (find_transcript).
class CDefaultVoiceMailParser final : public CVoiceMailParser {
public:
    bool parse(const QString& subject, const QString& body) override;
};

}  // namespace lyb::store
