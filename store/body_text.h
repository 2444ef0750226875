// The body text of a message as the caller reading reads it: the first body
// property the message offers, as one UTF-16 text, and that text as a person
// reads it (body_as_text). strip_markup is the older removal of HTML
// comments, a fixed set of entities and tags, kept for its users.
//
// Bad input: read_body_text never fails; a body that cannot be opened, sized
// or read gives an empty text, and a UTF-16 body of odd length drops its last
// byte. It reads at most kMaxBodyBytes of any body, however long the message.
// strip_markup handles unclosed comments and tags by leaving the text from
// there on as it is; it runs in time proportional to the text's length and
// never loops.
#pragma once

#include <QString>

#include <cstdint>

#include "platform/mapi/mapi.h"

namespace lyb::store {

// How much of a body stream is read: its first 64 KiB (32 Ki characters of a
// UTF-16 body), headers included for the raw MIME text.
constexpr uint32_t kMaxBodyBytes = 64 * 1024;

// Gives the first of PR_BODY_W, PR_BODY_A, the raw MIME text (headers
// dropped), PR_BODY_HTML_W, PR_BODY_HTML_A that opens as a stream, its first
// kMaxBodyBytes widened to UTF-16 (8-bit bytes become the characters of the
// same value) and cut at the first NUL; empty when there is none. No transfer
// decoding is done.
QString read_body_text(mapi::IMessage& message);

// Removes, in this order: comments "<!--...-->"; the entities &copy; &reg;
// &trade; &quot; &amp; &raquo; &laquo; &nbsp; (any case, deleted, not
// replaced); tags "<...>" unless a digit follows the "<"; then turns "&lt;"
// and "&gt;" (exact case) into "<" and ">".
void strip_markup(QString& text);

// The body as a person reads it: quoted-printable undone when the text
// shows its marks (soft line breaks, "=3D", "=20" or an encoded 8-bit byte),
// 8-bit text that is valid UTF-8 read as UTF-8, and an HTML body (one with a
// tag of HTML's own, "<p", "<br", "<td"...) made text: comments, scripts and
// styles dropped, tags removed, block elements as line breaks and table
// cells as tabs, the source's own line breaks and runs of blanks as one
// blank, entities decoded (named ones HTML mail uses, and numeric ones;
// "&nbsp;" is a blank). A text that is no HTML keeps its brackets, so a
// plain "<5551234567>" or "<anonymous>" stays. Runs in time proportional to
// the text's length.
QString body_as_text(const QString& body);

// Deletes count characters at index; the count is clipped to the end, and
// nothing happens for a count of 0 or less or an index outside the text.
void delete_chars(QString& text, qsizetype index, qsizetype count);
// Replaces every occurrence of from by to, left to right, without rescanning
// the replacement; returns the number of replacements.
int replace_all(QString& text, const QString& from, const QString& to);

}  // namespace lyb::store
