// A play request: the one text that Lyrabell gets on its command line or
// through "AutoPlay". Forms:
//   fewer than 2 characters          nothing to play
//   "<OID>" in any case              the stored message named by "MsgEntryID"
//   path                             a local wave or GSM file
//   path "<lyb:" caller ">"          a local file with the caller to show,
//                                    unless the whole text names a file
// The text is never tokenised or unquoted: quotes around a path stay part of it.
#pragma once

#include <QString>

namespace lyb::app {

enum class RequestKind { None, StoredMessage, LocalFile };

struct PlayRequest {
    RequestKind kind = RequestKind::None;
    QString path;    // LocalFile only
    QString caller;  // LocalFile only; empty when none was given
    bool operator==(const PlayRequest&) const = default;
};

// Classifies a request and splits a local-file request into path and caller.
// "<lyb:" is matched case-sensitively; the caller ends at the first ">" of the
// whole text. Without that ">" the whole text is the path; when the first ">"
// stands before "<lyb:", the path is the text before "<lyb:" and the caller is
// empty. When the whole text names an existing file (not a folder), it is
// that file's path, with no caller, whatever it holds.
PlayRequest parsePlayRequest(const QString& request);

// Returns what follows the last backslash or forward slash, or the whole path.
QString fileNameOf(const QString& path);

}  // namespace lyb::app
