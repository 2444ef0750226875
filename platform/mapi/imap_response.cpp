// GLib's headers come before Qt's (the "signals" macro).
#include <gmime/gmime.h>
#include <libetpan/libetpan.h>

#include "platform/mapi/imap_response.h"

#include <QByteArrayList>
#include <QStringDecoder>

#include <cstring>
#include <ctime>

#include "platform/mapi/imap_connection.h"
#include "platform/mapi/mime_content.h"

namespace lyb::mapi {

namespace {

QString lower(const char* s) {
    return s ? QString::fromUtf8(s).toLower() : QString();
}

}  // namespace

// ---------------------------------------------------------------- structure

static const char* param(const mailimap_body_fld_param* params, const char* name) {
    if (!params || !params->pa_list)
        return nullptr;
    for (clistiter* it = clist_begin(params->pa_list); it; it = clist_next(it)) {
        auto* p = static_cast<mailimap_single_body_fld_param*>(clist_content(it));
        if (p->pa_name && g_ascii_strcasecmp(p->pa_name, name) == 0)
            return p->pa_value;
    }
    return nullptr;
}

// A file name parameter: RFC 2231 (name*=charset''text) or plain, RFC 2047
// encoded words decoded as the MIME parser decodes them.
static QString fileNameParam(const mailimap_body_fld_param* params, const char* name) {
    const QByteArray extended = QByteArray(name) + '*';
    if (const char* v = param(params, extended.constData())) {
        const QByteArray value(v);
        const qsizetype first = value.indexOf('\''), second = value.indexOf('\'', first + 1);
        if (first >= 0 && second > first) {
            const QByteArray charset = value.left(first);
            const QByteArray bytes = QByteArray::fromPercentEncoding(value.mid(second + 1));
            QStringDecoder decoder(charset.isEmpty() ? "UTF-8" : charset.constData());
            if (decoder.isValid())
                return decoder.decode(bytes);
            return QString::fromUtf8(bytes);
        }
    }
    if (const char* v = param(params, name)) {
        char* decoded = g_mime_utils_header_decode_text(nullptr, v);
        QString text = QString::fromUtf8(decoded ? decoded : v);
        g_free(decoded);
        return text;
    }
    return {};
}

static QByteArray encodingName(const mailimap_body_fld_enc* enc) {
    if (!enc)
        return {};
    switch (enc->enc_type) {
        case MAILIMAP_BODY_FLD_ENC_8BIT:
            return "8bit";
        case MAILIMAP_BODY_FLD_ENC_BINARY:
            return "binary";
        case MAILIMAP_BODY_FLD_ENC_BASE64:
            return "base64";
        case MAILIMAP_BODY_FLD_ENC_QUOTED_PRINTABLE:
            return "quoted-printable";
        case MAILIMAP_BODY_FLD_ENC_OTHER:
            return QByteArray(enc->enc_value ? enc->enc_value : "").toLower();
        default:
            return {};
    }
}

static QString basicType(const mailimap_media_basic* media) {
    switch (media->med_type) {
        case MAILIMAP_MEDIA_BASIC_APPLICATION:
            return QStringLiteral("application");
        case MAILIMAP_MEDIA_BASIC_AUDIO:
            return QStringLiteral("audio");
        case MAILIMAP_MEDIA_BASIC_IMAGE:
            return QStringLiteral("image");
        case MAILIMAP_MEDIA_BASIC_MESSAGE:
            return QStringLiteral("message");
        case MAILIMAP_MEDIA_BASIC_VIDEO:
            return QStringLiteral("video");
        default:
            return lower(media->med_basic_type);
    }
}

// Sorts the leaves as the Maildir provider's MIME walk does: attachments
// (named, marked "attachment", not text, or embedded messages) and the first
// text/plain and text/html bodies.
static void walk(const mailimap_body* body, const QByteArray& section, int depth,
                 ImapStructure& out) {
    if (!body || depth > 32)
        return;
    if (body->bd_type == MAILIMAP_BODY_MPART) {
        const mailimap_body_type_mpart* m = body->bd_data.bd_body_mpart;
        if (!m || !m->bd_list)
            return;
        int n = 1;
        for (clistiter* it = clist_begin(m->bd_list); it; it = clist_next(it), ++n) {
            const QByteArray child =
                section.isEmpty() ? QByteArray::number(n) : section + '.' + QByteArray::number(n);
            walk(static_cast<mailimap_body*>(clist_content(it)), child, depth + 1, out);
        }
        return;
    }
    const mailimap_body_type_1part* one = body->bd_data.bd_body_1part;
    if (!one)
        return;
    ImapPart part;
    part.section = section.isEmpty() ? QByteArray("1") : section;
    const mailimap_body_fields* fields = nullptr;
    switch (one->bd_type) {
        case MAILIMAP_BODY_TYPE_1PART_BASIC:
            fields = one->bd_data.bd_type_basic->bd_fields;
            part.mimeType = basicType(one->bd_data.bd_type_basic->bd_media_basic) +
                            QLatin1Char('/') +
                            lower(one->bd_data.bd_type_basic->bd_media_basic->med_subtype);
            break;
        case MAILIMAP_BODY_TYPE_1PART_MSG:
            fields = one->bd_data.bd_type_msg->bd_fields;
            part.mimeType = QStringLiteral("message/rfc822");
            part.message = true;
            break;
        case MAILIMAP_BODY_TYPE_1PART_TEXT:
            fields = one->bd_data.bd_type_text->bd_fields;
            part.mimeType =
                QStringLiteral("text/") + lower(one->bd_data.bd_type_text->bd_media_text);
            break;
        default:
            return;
    }
    if (fields) {
        part.octets = fields->bd_size;
        part.encoding = encodingName(fields->bd_encoding);
        if (const char* charset = param(fields->bd_parameter, "charset"))
            part.charset = charset;
    }
    const mailimap_body_fld_dsp* disposition =
        one->bd_ext_1part ? one->bd_ext_1part->bd_disposition : nullptr;
    if (disposition)
        part.fileName = fileNameParam(disposition->dsp_attributes, "filename");
    if (part.fileName.isEmpty() && fields)
        part.fileName = fileNameParam(fields->bd_parameter, "name");
    const bool isText = part.mimeType.startsWith(QLatin1String("text/"));
    const bool marked = disposition && disposition->dsp_type &&
                        g_ascii_strcasecmp(disposition->dsp_type, "attachment") == 0;
    part.attachment = part.message || marked || !part.fileName.isEmpty() || !isText;
    if (part.attachment) {
        out.attachments.push_back(std::move(part));
        return;
    }
    if (part.mimeType == QLatin1String("text/plain") && !out.text)
        out.text = std::move(part);
    else if (part.mimeType == QLatin1String("text/html") && !out.html)
        out.html = std::move(part);
}

static uint64_t dateToFileTime(const mailimap_date_time* d) {
    if (!d)
        return 0;
    struct tm t {};
    t.tm_year = d->dt_year - 1900;
    t.tm_mon = d->dt_month - 1;
    t.tm_mday = d->dt_day;
    t.tm_hour = d->dt_hour;
    t.tm_min = d->dt_min;
    t.tm_sec = d->dt_sec;
    const int zone = d->dt_zone;  // +HHMM as a number
    const int sign = zone < 0 ? -1 : 1;
    const int offset = sign * ((std::abs(zone) / 100) * 3600 + (std::abs(zone) % 100) * 60);
    return unixToFileTime(static_cast<int64_t>(timegm(&t)) - offset);
}

void readListed(mailimap_msg_att* att, ImapListed& m) {
    for (clistiter* it = clist_begin(att->att_list); it; it = clist_next(it)) {
        auto* item = static_cast<mailimap_msg_att_item*>(clist_content(it));
        if (item->att_type == MAILIMAP_MSG_ATT_ITEM_DYNAMIC) {
            if (!item->att_data.att_dyn || !item->att_data.att_dyn->att_list)
                continue;
            for (clistiter* f = clist_begin(item->att_data.att_dyn->att_list); f;
                 f = clist_next(f)) {
                auto* flag = static_cast<mailimap_flag_fetch*>(clist_content(f));
                if (flag->fl_type == MAILIMAP_FLAG_FETCH_OTHER && flag->fl_flag &&
                    flag->fl_flag->fl_type == MAILIMAP_FLAG_SEEN)
                    m.seen = true;
            }
            continue;
        }
        if (item->att_type == MAILIMAP_MSG_ATT_ITEM_EXTENSION) {
            const mailimap_extension_data* ext = item->att_data.att_extension_data;
            if (ext && ext->ext_extension == &mailimap_extension_condstore &&
                ext->ext_type == MAILIMAP_CONDSTORE_TYPE_FETCH_DATA && ext->ext_data)
                m.modseq =
                    static_cast<mailimap_condstore_fetch_mod_resp*>(ext->ext_data)->cs_modseq_value;
            continue;
        }
        if (item->att_type != MAILIMAP_MSG_ATT_ITEM_STATIC || !item->att_data.att_static)
            continue;
        const mailimap_msg_att_static* s = item->att_data.att_static;
        switch (s->att_type) {
            case MAILIMAP_MSG_ATT_UID:
                m.uid = s->att_data.att_uid;
                break;
            case MAILIMAP_MSG_ATT_INTERNALDATE:
                m.internalDate = dateToFileTime(s->att_data.att_internal_date);
                break;
            case MAILIMAP_MSG_ATT_RFC822_SIZE:
                m.size = s->att_data.att_rfc822_size;
                break;
            case MAILIMAP_MSG_ATT_BODYSTRUCTURE:
                walk(s->att_data.att_bodystructure, QByteArray(), 0, m.structure);
                break;
            default:
                break;
        }
    }
}

// ---------------------------------------------------------------- sections

// The key of a section as the requests name it: "" whole, "HF" header
// fields, else the part number.
QByteArray sectionKey(const mailimap_section* section) {
    if (!section || !section->sec_spec)
        return {};
    const mailimap_section_spec* what = section->sec_spec;
    if (what->sec_type == MAILIMAP_SECTION_SPEC_SECTION_MSGTEXT)
        return "HF";
    QByteArray key;
    if (what->sec_data.sec_part && what->sec_data.sec_part->sec_id) {
        for (clistiter* it = clist_begin(what->sec_data.sec_part->sec_id); it;
             it = clist_next(it)) {
            if (!key.isEmpty())
                key += '.';
            key += QByteArray::number(*static_cast<uint32_t*>(clist_content(it)));
        }
    }
    if (what->sec_text)
        key += "/T";
    return key;
}

mailimap_section* makeSection(const QByteArray& key) {
    if (key.isEmpty())
        return mailimap_section_new(nullptr);
    if (key == "HF") {
        clist* names = clist_new();
        for (const char* n : {"SUBJECT", "RECEIVED", "DATE"})
            clist_append(names, strdup(n));
        return mailimap_section_new_header_fields(mailimap_header_list_new(names));
    }
    clist* ids = clist_new();
    for (const QByteArray& n : key.split('.')) {
        auto* id = static_cast<uint32_t*>(malloc(sizeof(uint32_t)));
        *id = n.toUInt();
        clist_append(ids, id);
    }
    return mailimap_section_new_part(mailimap_section_part_new(ids));
}

}  // namespace lyb::mapi
