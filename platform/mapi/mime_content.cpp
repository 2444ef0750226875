// GMime (through GIO) comes before Qt, whose "signals" macro breaks GIO's headers.
#include <gmime/gmime.h>

#include "platform/mapi/mime_content.h"

#include <QStringDecoder>

#include <algorithm>
#include <mutex>

#include "platform/mapi/maildir_provider.h"

namespace lyb::mapi {

namespace {

constexpr int kMaxDepth = 32;
constexpr int64_t kFileTimeEpochOffset = 11644473600;  // 1601-01-01 to 1970-01-01, s

template <typename T>
struct GObjectRef {
    T* p = nullptr;
    explicit GObjectRef(T* q) : p(q) {}
    ~GObjectRef() {
        if (p)
            g_object_unref(p);
    }
    GObjectRef(const GObjectRef&) = delete;
    GObjectRef& operator=(const GObjectRef&) = delete;
};

struct GFreeString {
    char* p;
    explicit GFreeString(char* q) : p(q) {}
    ~GFreeString() { g_free(p); }
    GFreeString(const GFreeString&) = delete;
    GFreeString& operator=(const GFreeString&) = delete;
    QString text() const { return p ? QString::fromUtf8(p) : QString(); }
};

// A part's content with its transfer encoding decoded; empty without content.
QByteArray decodedBytes(GMimePart* part) {
    GMimeDataWrapper* content = g_mime_part_get_content(part);
    if (!content)
        return {};
    GObjectRef<GMimeStream> mem(g_mime_stream_mem_new());
    g_mime_data_wrapper_write_to_stream(content, mem.p);
    GByteArray* array = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(mem.p));
    if (!array || array->len == 0)
        return {};
    return QByteArray(reinterpret_cast<const char*>(array->data), static_cast<int>(array->len));
}

PartContent wholly(QByteArray bytes) {
    PartContent content;
    content.length = bytes.size();
    content.source = std::move(bytes);
    return content;
}

// The message's bytes and the stream the parser read them from.
struct Source {
    const QByteArray& raw;
    GMimeStream* stream;
};

// Where a part's content lies in the message. Content as it is or in base64
// is left in the message's bytes, to be decoded when read; other transfer
// encodings (quoted-printable, uuencode) are decoded now.
PartContent partContent(GMimePart* part, const Source& source) {
    GMimeDataWrapper* wrapper = g_mime_part_get_content(part);
    if (!wrapper)
        return {};
    const GMimeContentEncoding encoding = g_mime_data_wrapper_get_encoding(wrapper);
    GMimeStream* stream = g_mime_data_wrapper_get_stream(wrapper);
    const bool kept =
        encoding == GMIME_CONTENT_ENCODING_DEFAULT || encoding == GMIME_CONTENT_ENCODING_7BIT ||
        encoding == GMIME_CONTENT_ENCODING_8BIT || encoding == GMIME_CONTENT_ENCODING_BINARY ||
        encoding == GMIME_CONTENT_ENCODING_BASE64;
    if (kept && stream && stream->super_stream == source.stream) {
        const gint64 size = source.raw.size();
        const gint64 start = std::clamp<gint64>(stream->bound_start, 0, size);
        const gint64 end =
            stream->bound_end < 0 ? size : std::clamp(stream->bound_end, start, size);
        PartContent content;
        content.source = source.raw;
        content.offset = static_cast<qsizetype>(start);
        content.length = static_cast<qsizetype>(end - start);
        content.base64 = encoding == GMIME_CONTENT_ENCODING_BASE64;
        return content;
    }
    return wholly(decodedBytes(part));
}

// Text in a declared charset; undeclared, unknown or wrong charsets fall back
// to UTF-8 when the bytes are valid UTF-8, else Latin-1.
QString decodeText(const QByteArray& bytes, const char* charset) {
    if (charset && *charset) {
        QStringDecoder decoder(charset);
        if (decoder.isValid()) {
            QString text = decoder.decode(bytes);
            if (!decoder.hasError())
                return text;
        }
    }
    QStringDecoder utf8(QStringDecoder::Utf8);
    QString text = utf8.decode(bytes);
    if (!utf8.hasError())
        return text;
    return QString::fromLatin1(bytes);
}

std::optional<uint64_t> dateToFileTime(const char* text) {
    if (!text)
        return std::nullopt;
    GDateTime* date = g_mime_utils_header_decode_date(text);
    if (!date)
        return std::nullopt;
    const int64_t seconds = g_date_time_to_unix(date);
    g_date_time_unref(date);
    if (seconds <= -kFileTimeEpochOffset)
        return std::nullopt;
    return unixToFileTime(seconds);
}

void walk(GMimeObject* object, int depth, const Source& source, MimeContent& out) {
    if (!object || depth > kMaxDepth)
        return;
    if (GMIME_IS_MULTIPART(object)) {
        GMimeMultipart* multipart = GMIME_MULTIPART(object);
        const int count = g_mime_multipart_get_count(multipart);
        for (int i = 0; i < count; ++i)
            walk(g_mime_multipart_get_part(multipart, i), depth + 1, source, out);
        return;
    }
    GMimeContentType* type = g_mime_object_get_content_type(object);
    const QString mimeType =
        type ? GFreeString(g_mime_content_type_get_mime_type(type)).text().toLower() : QString();
    if (GMIME_IS_MESSAGE_PART(object)) {
        MimeAttachment attachment;
        attachment.mimeType = mimeType;
        GMimeMessage* inner = g_mime_message_part_get_message(GMIME_MESSAGE_PART(object));
        if (inner) {
            GFreeString text(g_mime_object_to_string(GMIME_OBJECT(inner), nullptr));
            if (text.p)
                attachment.content = wholly(QByteArray(text.p));
        }
        out.attachments.push_back(std::move(attachment));
        return;
    }
    if (!GMIME_IS_PART(object))
        return;
    GMimePart* part = GMIME_PART(object);
    const char* fileName = g_mime_part_get_filename(part);
    const bool isText = type && g_mime_content_type_is_type(type, "text", "*");
    const bool attachment = g_mime_part_is_attachment(part) || fileName || !isText;
    if (attachment) {
        MimeAttachment a;
        a.fileName = fileName ? QString::fromUtf8(fileName) : QString();
        a.mimeType = mimeType;
        a.content = partContent(part, source);
        out.attachments.push_back(std::move(a));
        return;
    }
    const bool plain = g_mime_content_type_is_type(type, "text", "plain");
    const bool html = g_mime_content_type_is_type(type, "text", "html");
    if ((plain && !out.bodyText) || (html && !out.bodyHtml)) {
        const QByteArray bytes = decodedBytes(part);
        QString text = decodeText(bytes, g_mime_content_type_get_parameter(type, "charset"));
        (plain ? out.bodyText : out.bodyHtml) = std::move(text);
    }
}

}  // namespace

void ensureMimeInitialised() {
    static std::once_flag once;
    std::call_once(once, [] { g_mime_init(); });
}

uint64_t unixToFileTime(int64_t seconds) {
    if (seconds <= -kFileTimeEpochOffset)
        return 0;
    return static_cast<uint64_t>(seconds + kFileTimeEpochOffset) * 10000000ull;
}

MimeContent parseMimeContent(const QByteArray& raw) {
    ensureMimeInitialised();
    MimeContent out;
    out.raw = raw;

    GMimeParserOptions* options = g_mime_parser_options_new();
    const char* fallback[] = {"UTF-8", "windows-1252", nullptr};
    g_mime_parser_options_set_fallback_charsets(options, fallback);
    GObjectRef<GMimeStream> stream(
        g_mime_stream_mem_new_with_buffer(raw.constData(), static_cast<size_t>(raw.size())));
    GObjectRef<GMimeParser> parser(g_mime_parser_new_with_stream(stream.p));
    g_mime_parser_set_format(parser.p, GMIME_FORMAT_MESSAGE);
    // The message as a MIME entity: its headers and parts are all that is
    // read, so the address and reference headers a GMimeMessage would parse
    // into objects are left as text.
    GObjectRef<GMimeObject> top(g_mime_parser_construct_part(parser.p, options));
    g_mime_parser_options_free(options);
    if (!top.p)
        return out;

    GMimeHeaderList* headers = g_mime_object_get_header_list(top.p);
    const int count = headers ? g_mime_header_list_get_count(headers) : 0;
    const char* dateHeader = nullptr;
    for (int i = 0; i < count; ++i) {
        GMimeHeader* header = g_mime_header_list_get_header_at(headers, i);
        const char* name = g_mime_header_get_name(header);
        if (!name)
            continue;
        // Values are unfolded and decoded when asked for, so only these are.
        if (g_ascii_strcasecmp(name, "Subject") == 0) {
            // A repeated Subject header replaces the earlier one.
            if (const char* subject = g_mime_header_get_value(header))
                out.subject = QString::fromUtf8(subject);
            continue;
        }
        if (!out.deliveryTime && g_ascii_strcasecmp(name, "Received") == 0) {
            // Servers prepend Received headers, so the first is the newest.
            // The date follows the last ';', and folding is white space to
            // the date parser, so the raw value needs no unfolding.
            const char* value = g_mime_header_get_raw_value(header);
            const char* date = value ? strrchr(value, ';') : nullptr;
            if (date)
                out.deliveryTime = dateToFileTime(date + 1);
            continue;
        }
        if (!dateHeader && g_ascii_strcasecmp(name, "Date") == 0)
            dateHeader = g_mime_header_get_value(header);
    }
    if (!out.deliveryTime)
        out.deliveryTime = dateToFileTime(dateHeader);
    walk(top.p, 0, {raw, stream.p}, out);
    return out;
}

}  // namespace lyb::mapi
