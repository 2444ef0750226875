#include "platform/mapi/imap_url.h"

#include <QByteArray>
#include <QStringList>

namespace lyb::mapi {

namespace {

bool fail(QString* error, const QString& why) {
    if (error)
        *error = why;
    return false;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Percent-decodes UTF-8 text; false on a broken escape, a NUL or bytes that
// are not UTF-8.
bool percentDecode(const QString& text, QString& out) {
    const QByteArray in = text.toUtf8();
    QByteArray bytes;
    bytes.reserve(in.size());
    for (qsizetype i = 0; i < in.size(); ++i) {
        if (in[i] != '%') {
            bytes.append(in[i]);
            continue;
        }
        if (i + 2 >= in.size())
            return false;
        const int hi = hexDigit(in[i + 1]), lo = hexDigit(in[i + 2]);
        if (hi < 0 || lo < 0)
            return false;
        bytes.append(static_cast<char>(hi * 16 + lo));
        i += 2;
    }
    if (bytes.contains('\0'))
        return false;
    out = QString::fromUtf8(bytes);
    return out.toUtf8() == bytes;  // round trip: valid UTF-8
}

bool validHostName(const QString& host) {
    if (host.isEmpty() || host.size() > 253)
        return false;
    for (QChar c : host) {
        const char16_t u = c.unicode();
        const bool ok = (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') ||
                        (u >= '0' && u <= '9') || u == '-' || u == '.' || u == '_';
        if (!ok)
            return false;
    }
    return true;
}

bool validIpv6(const QString& host) {
    if (host.isEmpty() || host.size() > 45)
        return false;
    for (QChar c : host) {
        const char16_t u = c.unicode();
        const bool ok = (u >= '0' && u <= '9') || (u >= 'a' && u <= 'f') ||
                        (u >= 'A' && u <= 'F') || u == ':' || u == '.';
        if (!ok)
            return false;
    }
    return host.contains(QLatin1Char(':'));
}

}  // namespace

bool isImapAddress(const QString& text) {
    return text.startsWith(QLatin1String("imap://"), Qt::CaseInsensitive) ||
           text.startsWith(QLatin1String("imaps://"), Qt::CaseInsensitive);
}

bool parseImapAddress(const QString& text, ImapAddress& out, QString* error) {
    ImapAddress a;
    QString rest;
    if (text.startsWith(QLatin1String("imaps://"), Qt::CaseInsensitive)) {
        rest = text.mid(8);
    } else if (text.startsWith(QLatin1String("imap://"), Qt::CaseInsensitive)) {
        a.implicitTls = false;
        a.port = 143;
        rest = text.mid(7);
    } else {
        return fail(error, QStringLiteral("not an imap:// or imaps:// address"));
    }
    for (QChar c : rest) {
        if (c.unicode() < 0x21 || c.unicode() == 0x7F)
            return fail(error,
                        QStringLiteral("blanks and control characters must be written as %XX"));
    }

    QString query;
    if (const qsizetype q = rest.indexOf(QLatin1Char('?')); q >= 0) {
        query = rest.mid(q + 1);
        rest.truncate(q);
    }
    QString path;
    if (const qsizetype slash = rest.indexOf(QLatin1Char('/')); slash >= 0) {
        path = rest.mid(slash + 1);
        rest.truncate(slash);
    }
    // The user name ends at the last '@': an '@' of its own may be written plainly.
    const qsizetype at = rest.lastIndexOf(QLatin1Char('@'));
    if (at <= 0)
        return fail(error, QStringLiteral("the user name is missing (USER@HOST)"));
    if (!percentDecode(rest.left(at), a.user) || a.user.isEmpty())
        return fail(error, QStringLiteral("the user name is not valid"));
    QString hostPort = rest.mid(at + 1);
    QString portText;
    if (hostPort.startsWith(QLatin1Char('['))) {
        const qsizetype close = hostPort.indexOf(QLatin1Char(']'));
        if (close < 0)
            return fail(error, QStringLiteral("the IPv6 address lacks its ']'"));
        a.host = hostPort.mid(1, close - 1);
        const QString after = hostPort.mid(close + 1);
        if (!after.isEmpty()) {
            if (!after.startsWith(QLatin1Char(':')))
                return fail(error, QStringLiteral("unexpected text after the server's address"));
            portText = after.mid(1);
            if (portText.isEmpty())
                return fail(error, QStringLiteral("the port is empty"));
        }
        if (!validIpv6(a.host))
            return fail(error, QStringLiteral("the IPv6 address is not valid"));
    } else {
        if (const qsizetype colon = hostPort.indexOf(QLatin1Char(':')); colon >= 0) {
            portText = hostPort.mid(colon + 1);
            hostPort.truncate(colon);
            if (portText.isEmpty())
                return fail(error, QStringLiteral("the port is empty"));
        }
        a.host = hostPort;
        if (!validHostName(a.host))
            return fail(error, QStringLiteral("the server name is missing or not valid"));
    }
    if (!portText.isEmpty()) {
        bool ok = false;
        const uint port = portText.toUInt(&ok, 10);
        if (!ok || port == 0 || port > 65535 || portText.startsWith(QLatin1Char('+')))
            return fail(error, QStringLiteral("the port must be a number from 1 to 65535"));
        a.port = static_cast<uint16_t>(port);
    }
    if (path.endsWith(QLatin1Char('/')))
        path.chop(1);
    if (!path.isEmpty()) {
        if (!percentDecode(path, a.folder) || a.folder.isEmpty())
            return fail(error, QStringLiteral("the folder name is not valid"));
    }
    if (!query.isEmpty()) {
        for (const QString& option : query.split(QLatin1Char('&'))) {
            if (!option.startsWith(QLatin1String("ca=")))
                return fail(error, QStringLiteral("unknown option \"%1\" (only ca= is known)")
                                       .arg(option.section(QLatin1Char('='), 0, 0)));
            if (!percentDecode(option.mid(3), a.caFile) || !a.caFile.startsWith(QLatin1Char('/')))
                return fail(error, QStringLiteral("ca= must name a file by its absolute path"));
        }
    }
    out = std::move(a);
    return true;
}

}  // namespace lyb::mapi
