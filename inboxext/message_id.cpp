#include "inboxext/message_id.h"

#include <QRegularExpression>
#include <QString>

namespace lyb::inboxext {

QByteArray messageId(const QByteArray& message) {
    QByteArray header = message;
    header.replace("\r\n", "\n");
    if (const qsizetype end = header.indexOf("\n\n"); end >= 0)
        header.truncate(end);
    header.replace("\n ", " ").replace("\n\t", " ");  // unfolds continued lines
    static const QRegularExpression re(
        QStringLiteral("^message-id:\\s*<?([^>\\s]+)>?"),
        QRegularExpression::CaseInsensitiveOption | QRegularExpression::MultilineOption);
    const auto match = re.match(QString::fromLatin1(header));
    return match.hasMatch() ? match.captured(1).toLatin1() : QByteArray();
}

}  // namespace lyb::inboxext
