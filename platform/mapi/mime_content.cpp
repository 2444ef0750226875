// GMime (through GIO) comes before Qt, whose "signals" macro breaks GIO's headers.
#include <gmime/gmime.h>

#include "platform/mapi/mime_content.h"

#include <QStringDecoder>

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

QByteArray decodedBytes(GMimePart* part, bool* hasContent) {
    GMimeDataWrapper* content = g_mime_part_get_content(part);
    *hasContent = false;
    if (!content)
        return {};
    GObjectRef<GMimeStream> mem(g_mime_stream_mem_new());
    g_mime_data_wrapper_write_to_stream(content, mem.p);
    GByteArray* array = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(mem.p));
    if (!array || array->len == 0)
        return {};
    *hasContent = true;
    return QByteArray(reinterpret_cast<const char*>(array->data), static_cast<int>(array->len));
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

void walk(GMimeObject* object, int depth, MimeContent& out) {
    if (!object || depth > kMaxDepth)
        return;
    if (GMIME_IS_MULTIPART(object)) {
        GMimeMultipart* multipart = GMIME_MULTIPART(object);
        const int count = g_mime_multipart_get_count(multipart);
        for (int i = 0; i < count; ++i)
            walk(g_mime_multipart_get_part(multipart, i), depth + 1, out);
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
                attachment.data = QByteArray(text.p);
        }
        attachment.hasContent = !attachment.data.isEmpty();
        out.attachments.push_back(std::move(attachment));
        return;
    }
    if (!GMIME_IS_PART(object))
        return;
    GMimePart* part = GMIME_PART(object);
    const char* fileName = g_mime_part_get_filename(part);
    const bool isText = type && g_mime_content_type_is_type(type, "text", "*");
    const bool attachment = g_mime_part_is_attachment(part) || fileName || !isText;
    bool hasContent = false;
    if (attachment) {
        MimeAttachment a;
        a.fileName = fileName ? QString::fromUtf8(fileName) : QString();
        a.mimeType = mimeType;
        a.data = decodedBytes(part, &hasContent);
        a.hasContent = hasContent;
        out.attachments.push_back(std::move(a));
        return;
    }
    const bool plain = g_mime_content_type_is_type(type, "text", "plain");
    const bool html = g_mime_content_type_is_type(type, "text", "html");
    if ((plain && !out.bodyText) || (html && !out.bodyHtml)) {
        const QByteArray bytes = decodedBytes(part, &hasContent);
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
    GObjectRef<GMimeMessage> message(g_mime_parser_construct_message(parser.p, options));
    g_mime_parser_options_free(options);
    if (!message.p)
        return out;

    if (const char* subject = g_mime_message_get_subject(message.p)) {
        out.subject = QString::fromUtf8(subject);
    }
    GMimeHeaderList* headers = g_mime_object_get_header_list(GMIME_OBJECT(message.p));
    const int count = headers ? g_mime_header_list_get_count(headers) : 0;
    const char* dateHeader = nullptr;
    for (int i = 0; i < count; ++i) {
        GMimeHeader* header = g_mime_header_list_get_header_at(headers, i);
        const char* name = g_mime_header_get_name(header);
        const char* value = g_mime_header_get_value(header);
        if (!name || !value)
            continue;
        if (!out.deliveryTime && g_ascii_strcasecmp(name, "Received") == 0) {
            // Servers prepend Received headers, so the first is the newest.
            const char* date = strrchr(value, ';');
            if (date)
                out.deliveryTime = dateToFileTime(date + 1);
            continue;
        }
        if (!dateHeader && g_ascii_strcasecmp(name, "Date") == 0)
            dateHeader = value;
    }
    if (!out.deliveryTime)
        out.deliveryTime = dateToFileTime(dateHeader);
    walk(g_mime_message_get_mime_part(message.p), 0, out);
    return out;
}

}  // namespace lyb::mapi
