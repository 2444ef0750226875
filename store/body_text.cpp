#include "store/body_text.h"

#include <array>

namespace lyb::store {

namespace {

struct BodySource {
    uint32_t tag;
    bool utf16;
};

constexpr std::array<BodySource, 5> kBodySources{{
    {mapi::PR_BODY_W, true},
    {mapi::PR_BODY_A, false},
    {mapi::PR_MIME_RAW, false},
    {mapi::PR_BODY_HTML_W, true},
    {mapi::PR_BODY_HTML_A, false},
}};

}  // namespace

void delete_chars(QString& text, qsizetype index, qsizetype count) {
    if (count <= 0 || index < 0 || index >= text.size())
        return;
    text.remove(index, std::min(count, text.size() - index));
}

int replace_all(QString& text, const QString& from, const QString& to) {
    if (from.isEmpty())
        return 0;
    int replaced = 0;
    QString out;
    qsizetype start = 0;
    for (qsizetype at = text.indexOf(from, 0); at >= 0; at = text.indexOf(from, start)) {
        out += QStringView(text).mid(start, at - start);
        out += to;
        start = at + from.size();
        ++replaced;
    }
    if (replaced == 0)
        return 0;
    out += QStringView(text).mid(start);
    text = std::move(out);
    return replaced;
}

QString read_body_text(mapi::IMessage& message) {
    mapi::IStream* stream = nullptr;
    const BodySource* source = nullptr;
    for (const BodySource& s : kBodySources) {
        if (!mapi::Failed(message.OpenProperty(s.tag, 0, 0, &stream)) && stream) {
            source = &s;
            break;
        }
        stream = nullptr;
    }
    if (!source)
        return {};

    mapi::STATSTG stat;
    const bool sized = !mapi::Failed(stream->Stat(&stat, mapi::STATFLAG_NONAME));
    const uint32_t size = static_cast<uint32_t>(stat.cbSize & 0xFFFFFFFFu);
    if (!sized || size == 0) {
        stream->Release();
        return {};
    }
    QByteArray bytes(static_cast<qsizetype>(size), '\0');
    uint32_t got = 0;
    const mapi::HRESULT hr = stream->Read(bytes.data(), size, &got);
    stream->Release();
    if (mapi::Failed(hr))
        return {};
    bytes.truncate(std::min<qsizetype>(got, bytes.size()));

    QString text;
    if (source->utf16) {
        text.resize(bytes.size() / 2);
        for (qsizetype i = 0; i < text.size(); ++i) {
            text[i] = QChar(static_cast<char16_t>(static_cast<uint8_t>(bytes[2 * i]) |
                                                  (static_cast<uint8_t>(bytes[2 * i + 1]) << 8)));
        }
    } else {
        text = QString::fromLatin1(bytes);
    }
    const qsizetype nul = text.indexOf(QChar(0));
    if (nul >= 0)
        text.truncate(nul);

    if (source->tag == mapi::PR_MIME_RAW) {
        qsizetype blank = text.indexOf(QLatin1String("\n\n"));
        if (blank >= 0)
            return text.mid(blank + 2);
        blank = text.indexOf(QLatin1String("\r\n\r\n"));
        if (blank >= 0)
            return text.mid(blank + 4);
    }
    return text;
}

void strip_markup(QString& text) {
    // Comments.
    const QString open = QStringLiteral("<!--"), close = QStringLiteral("-->");
    for (qsizetype index = 0;;) {
        const qsizetype start = text.indexOf(open, index);
        if (start < 0)
            break;
        const qsizetype end = text.indexOf(close, start);
        if (end < 0 || end <= start)
            break;
        delete_chars(text, start, end + close.size() - start);
        index = start;
    }

    // Entities, matched without regard to case and deleted.
    static const char* const kEntities[] = {"&copy;", "&reg;",   "&trade;", "&quot;",
                                            "&amp;",  "&raquo;", "&laquo;", "&nbsp;"};
    for (const char* entity : kEntities) {
        const QString e = QString::fromLatin1(entity);
        for (qsizetype at = text.indexOf(e, 0, Qt::CaseInsensitive); at >= 0;
             at = text.indexOf(e, at, Qt::CaseInsensitive)) {
            delete_chars(text, at, e.size());
        }
    }

    // Tags; a '<' followed by a digit opens a bracketed number and stays.
    for (qsizetype index = 0; index < text.size();) {
        const qsizetype lt = text.indexOf(QLatin1Char('<'), index);
        if (lt < 0)
            break;
        const qsizetype gt = text.indexOf(QLatin1Char('>'), lt);
        if (gt < 0)
            break;
        if (lt + 1 < text.size() && text[lt + 1].isDigit()) {
            index = lt + 1;
            continue;
        }
        delete_chars(text, lt, gt - lt + 1);
        index = lt;
    }

    // Escaped brackets, after the tag pass so that they are never taken for tags.
    while (replace_all(text, QStringLiteral("&lt;"), QStringLiteral("<")) > 0) {
    }
    while (replace_all(text, QStringLiteral("&gt;"), QStringLiteral(">")) > 0) {
    }
}

}  // namespace lyb::store
