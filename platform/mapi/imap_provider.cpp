#include "platform/mapi/imap_provider.h"

#include <QStringList>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <optional>

#include "platform/mapi/imap_connection.h"
#include "platform/mapi/maildir_provider.h"
#include "platform/mapi/mime_content.h"
#include "platform/mapi/part_stream.h"
#include "platform/mapi/row_table.h"

namespace lyb::mapi {

namespace {

// ---------------------------------------------------------------- entry ids

constexpr char kMagic[] = "LYI1";

QByteArray makeId(char kind, const QStringList& fields) {
    QByteArray id(kMagic);
    id.append(kind);
    for (qsizetype i = 0; i < fields.size(); ++i) {
        if (i)
            id.append('\0');
        id.append(fields[i].toUtf8());
    }
    return id;
}

bool parseId(const QByteArray& id, char kind, int count, QStringList& fields) {
    if (id.size() < 5 || !id.startsWith(kMagic) || id[4] != kind)
        return false;
    fields.clear();
    for (const QByteArray& f : id.mid(5).split('\0'))
        fields.append(QString::fromUtf8(f));
    return fields.size() == count && !fields[0].isEmpty();
}

QByteArray messageId(const ImapConnection& c, uint32_t uidValidity, uint32_t uid) {
    return makeId(
        'M', {c.account(), c.address().folder, QString::number(uidValidity), QString::number(uid)});
}

// Reads the UIDVALIDITY and UID of a message id of the account's folder
// `folder` (as the account's address writes it); false for any other id.
bool parseMessageId(const QByteArray& id, const ImapConnection& c, const QString& folder,
                    uint32_t& uidValidity, uint32_t& uid) {
    QStringList f;
    if (!parseId(id, 'M', 4, f) || f[0] != c.account() || f[1] != folder)
        return false;
    bool ok1 = false, ok2 = false;
    uidValidity = f[2].toUInt(&ok1);
    uid = f[3].toUInt(&ok2);
    return ok1 && ok2 && uid != 0;
}

// Runs act(index, uidValidity, uid) for each message id of `folder`; the
// result is the last failure, an id of anything else counting as one.
template <typename Act>
HRESULT forEachMessage(const std::vector<QByteArray>& ids, const ImapConnection& c,
                       const QString& folder, Act act) {
    HRESULT hr = S_OK;
    for (size_t i = 0; i < ids.size(); ++i) {
        uint32_t uidValidity = 0, uid = 0;
        if (!parseMessageId(ids[i], c, folder, uidValidity, uid))
            hr = MAPI_E_INVALID_ENTRYID;
        else if (const HRESULT one = act(i, uidValidity, uid); Failed(one))
            hr = one;
    }
    return hr;
}

// A message's id in another folder of the account (the Trash).
QByteArray otherMessageId(const ImapConnection& c, const ImapMoved& moved) {
    return makeId('M', {c.account(), moved.folder, QString::number(moved.uidValidity),
                        QString::number(moved.uid)});
}

// ---------------------------------------------------------------- parts

// A part's transfer encoding undone (and nothing else) by the MIME parser
// the Maildir provider reads with, so both give the same bytes and text.
MimeContent parsePart(const QByteArray& type, const QByteArray& charset, const QByteArray& encoding,
                      const QByteArray& bytes) {
    QByteArray entity = "Content-Type: " + type;
    if (!charset.isEmpty())
        entity += "; charset=\"" + QByteArray(charset).replace('"', "").replace('\\', "") + '"';
    entity += "\r\n";
    if (!encoding.isEmpty())
        entity += "Content-Transfer-Encoding: " + encoding + "\r\n";
    entity += "\r\n" + bytes;
    return parseMimeContent(entity);
}

bool identityEncoding(const QByteArray& encoding) {
    return encoding.isEmpty() || encoding == "7bit" || encoding == "8bit" || encoding == "binary";
}

// What was learnt of messages, kept for the process: an IMAP message's
// content never changes under its entry id, so a second listing fetches
// nothing of it again. Bounded: emptied when it holds kMaxCached entries.
template <typename V>
class CKnown {
public:
    std::optional<V> find(const QByteArray& key) {
        std::lock_guard lock(mutex_);
        auto it = map_.find(key);
        return it == map_.end() ? std::nullopt : std::optional<V>(it->second);
    }
    void put(const QByteArray& key, V value) {
        std::lock_guard lock(mutex_);
        if (map_.size() >= kMaxCached)
            map_.clear();
        map_[key] = std::move(value);
    }

private:
    static constexpr size_t kMaxCached = 20000;
    std::mutex mutex_;
    std::map<QByteArray, V> map_;
};

struct Shape {
    uint64_t size = 0;
    uint32_t lines = 0;
    uint32_t breakBytes = 2;
    uint64_t chars = 0;
    QByteArray first;  // the decoded bytes from the start that are known
};

struct Content {
    std::optional<QString> subject, text, html;
    std::optional<uint64_t> delivery;
};

CKnown<Shape>& knownShapes() {
    static CKnown<Shape> known;
    return known;
}
CKnown<Content>& knownContent() {
    static CKnown<Content> known;
    return known;
}

// ---------------------------------------------------------------- part stream

class CImapPartStream final : public IStream {
public:
    CImapPartStream(std::shared_ptr<ImapConnection> c, uint32_t uidValidity, uint32_t uid,
                    ImapPart part)
        : c_(std::move(c)), uidValidity_(uidValidity), uid_(uid), part_(std::move(part)) {}

    // Learns the decoded size (see imap_provider.h); false when the server
    // does not give the part or it decodes to nothing.
    bool open() {
        const QByteArray key = messageId(*c_, uidValidity_, uid_) + '\0' + part_.section;
        if (const std::optional<Shape> shape = knownShapes().find(key)) {
            size_ = shape->size;
            lines_ = shape->lines;
            breakBytes_ = shape->breakBytes;
            chars_ = shape->chars;
            if (!shape->first.isEmpty())
                segments_[0] = shape->first;
            return size_ > 0;
        }
        if (identityEncoding(part_.encoding)) {
            size_ = part_.octets;
        } else if (!(part_.encoding == "base64" && part_.octets > 2 * kHead && shapeFromEnds()) &&
                   !fetchWhole()) {
            return false;
        }
        if (!whole_) {
            auto first = segments_.find(0);
            knownShapes().put(key, {size_, lines_, breakBytes_, chars_,
                                    first == segments_.end() ? QByteArray() : first->second});
        }
        return size_ > 0;
    }

    HRESULT Read(void* buffer, uint32_t count, uint32_t* read) override {
        uint32_t done = 0;
        auto* out = static_cast<uint8_t*>(buffer);
        while (done < count && position_ < size_) {
            const QByteArray* segment = nullptr;
            uint64_t start = 0;
            auto it = segments_.upper_bound(position_);
            if (it != segments_.begin()) {
                --it;
                if (position_ < it->first + uint64_t(it->second.size())) {
                    segment = &it->second;
                    start = it->first;
                }
            }
            if (!segment) {
                if (fetchRange(position_, count - done))
                    continue;
                // A fetch that failed is an error, never the end of the
                // recording: bytes read before it are handed out first.
                if (done == 0) {
                    if (read)
                        *read = 0;
                    return E_FAIL;
                }
                break;
            }
            const uint64_t offset = position_ - start;
            const uint32_t n = static_cast<uint32_t>(
                std::min<uint64_t>(count - done, uint64_t(segment->size()) - offset));
            std::memcpy(out + done, segment->constData() + offset, n);
            done += n;
            position_ += n;
        }
        if (read)
            *read = done;
        return done == count ? S_OK : S_FALSE;
    }

    HRESULT Seek(int64_t move, uint32_t origin, uint64_t* newPosition) override {
        int64_t base = 0;
        switch (origin) {
            case STREAM_SEEK_SET:
                break;
            case STREAM_SEEK_CUR:
                base = static_cast<int64_t>(position_);
                break;
            case STREAM_SEEK_END:
                base = static_cast<int64_t>(size_);
                break;
            default:
                return STG_E_INVALIDFUNCTION;
        }
        if (base + move < 0)
            return STG_E_INVALIDFUNCTION;
        position_ = static_cast<uint64_t>(base + move);
        if (newPosition)
            *newPosition = position_;
        return S_OK;
    }

    HRESULT Stat(STATSTG* stat, uint32_t) override {
        if (!stat)
            return E_INVALIDARG;
        stat->cbSize = size_;
        return S_OK;
    }

private:
    // Encoded bytes read first: 36 lines of 76 characters, the 2 KiB that
    // hold a wave header (what a listing reads of a recording).
    static constexpr uint32_t kHead = 2816;
    static constexpr uint32_t kTail = 160;         // and last: the last lines and padding
    static constexpr uint32_t kChunk = 48 * 1024;  // decoded bytes per later fetch

    bool fetchWhole() {
        std::vector<QByteArray> got;
        if (Failed(c_->fetch(uidValidity_, uid_, {{part_.section, 0, 0}}, got)))
            return false;
        QByteArray decoded;
        if (identityEncoding(part_.encoding)) {
            decoded = got[0];
        } else if (part_.encoding == "base64") {
            decoded.resize(got[0].size() * 3 / 4 + 3);
            CBase64Decoder d;
            size_t n = d.step(got[0].constData(), size_t(got[0].size()),
                              reinterpret_cast<uint8_t*>(decoded.data()));
            n += d.finish(reinterpret_cast<uint8_t*>(decoded.data()) + n);
            decoded.truncate(qsizetype(n));
        } else {
            const MimeContent m = parsePart("application/octet-stream", {}, part_.encoding, got[0]);
            if (!m.attachments.empty())
                decoded = m.attachments[0].content.decoded();
        }
        lines_ = 0;
        size_ = uint64_t(decoded.size());
        segments_.clear();
        segments_[0] = std::move(decoded);
        whole_ = true;
        return true;
    }

    // Base64 written in lines of one length: the first bytes give the line
    // length and end, the last bytes the last line and padding.
    bool shapeFromEnds() {
        std::vector<QByteArray> got;
        const uint32_t tailAt = part_.octets - kTail;
        if (Failed(c_->fetch(uidValidity_, uid_,
                             {{part_.section, 0, kHead}, {part_.section, tailAt, kTail}}, got)))
            return false;
        const QByteArray& head = got[0];
        const QByteArray& tail = got[1];
        if (uint32_t(tail.size()) != kTail)
            return false;
        const qsizetype firstBreak = head.indexOf('\n');
        if (firstBreak <= 0)
            return false;
        const bool crlf = head[firstBreak - 1] == '\r';
        breakBytes_ = crlf ? 2 : 1;
        lines_ = uint32_t(firstBreak) + 1 - breakBytes_;
        if (lines_ == 0 || lines_ + breakBytes_ >= kTail)
            return false;
        const uint32_t stride = lines_ + breakBytes_;
        // Every whole line of the head has that length.
        const qsizetype complete = head.lastIndexOf('\n') + 1;
        if (complete % stride != 0)
            return false;
        for (qsizetype at = stride - 1; at < complete; at += stride) {
            if (head[at] != '\n' || (crlf && head[at - 1] != '\r'))
                return false;
        }
        qsizetype end = tail.size();
        while (end > 0 && (tail[end - 1] == '\n' || tail[end - 1] == '\r' || tail[end - 1] == ' ' ||
                           tail[end - 1] == '\t'))
            --end;
        const qsizetype lastBreak = tail.lastIndexOf('\n', end - 1);
        if (lastBreak < 0 || end == 0)
            return false;
        const uint32_t last = uint32_t(end - lastBreak - 1);
        const uint64_t before = uint64_t(part_.octets) - uint64_t(tail.size() - end) - last;
        if (last == 0 || last > lines_ || before % stride != 0 ||
            (crlf && (lastBreak == 0 || tail[lastBreak - 1] != '\r')))
            return false;
        chars_ = before / stride * lines_ + last;
        if (chars_ % 4 != 0)
            return false;
        int padding = 0;
        for (qsizetype i = end - 1; i > lastBreak && tail[i] == '=' && padding < 3; --i)
            ++padding;
        if (padding > 2)
            return false;
        size_ = chars_ / 4 * 3 - uint64_t(padding);
        // The head's whole lines are the stream's first bytes.
        QByteArray decoded(complete, '\0');
        CBase64Decoder d;
        decoded.truncate(qsizetype(d.step(head.constData(), size_t(complete),
                                          reinterpret_cast<uint8_t*>(decoded.data()))));
        segments_[0] = std::move(decoded);
        return true;
    }

    uint64_t encodedOffset(uint64_t chr) const {
        return chr / lines_ * (lines_ + breakBytes_) + chr % lines_;
    }

    bool fetchRange(uint64_t from, uint32_t want) {
        if (whole_)
            return false;
        const uint64_t length = std::max<uint64_t>(want, kChunk);
        std::vector<QByteArray> got;
        if (lines_ == 0) {  // identity
            const uint64_t n = std::min<uint64_t>(length, size_ - from);
            if (Failed(c_->fetch(uidValidity_, uid_, {{part_.section, uint32_t(from), uint32_t(n)}},
                                 got)) ||
                got[0].isEmpty())
                return false;
            segments_[from] = std::move(got[0]);
            return true;
        }
        const uint64_t d0 = from / 3 * 3;
        const uint64_t c0 = d0 / 3 * 4;
        const uint64_t c1 = std::min<uint64_t>(chars_, (from + length + 2) / 3 * 4);
        if (c1 <= c0)
            return false;
        const uint64_t e0 = encodedOffset(c0), e1 = encodedOffset(c1 - 1) + 1;
        if (Failed(c_->fetch(uidValidity_, uid_, {{part_.section, uint32_t(e0), uint32_t(e1 - e0)}},
                             got)) ||
            got[0].isEmpty())
            return false;
        QByteArray decoded(got[0].size() * 3 / 4 + 3, '\0');
        CBase64Decoder d;
        size_t n = d.step(got[0].constData(), size_t(got[0].size()),
                          reinterpret_cast<uint8_t*>(decoded.data()));
        n += d.finish(reinterpret_cast<uint8_t*>(decoded.data()) + n);
        decoded.truncate(qsizetype(n));
        if (decoded.isEmpty() || d0 + uint64_t(decoded.size()) <= from)
            return false;
        segments_[d0] = std::move(decoded);
        return true;
    }

    std::shared_ptr<ImapConnection> c_;
    uint32_t uidValidity_;
    uint32_t uid_;
    ImapPart part_;
    uint64_t size_ = 0;
    uint64_t position_ = 0;
    uint32_t lines_ = 0;  // base64 characters per line; 0 for identity
    uint32_t breakBytes_ = 2;
    uint64_t chars_ = 0;
    bool whole_ = false;
    std::map<uint64_t, QByteArray> segments_;  // decoded bytes by offset
};

// ---------------------------------------------------------------- messages

SRow attachmentRow(const ImapPart& a, uint32_t number) {
    SRow row{longProp(PR_ATTACH_NUM, static_cast<int32_t>(number)),
             strProp(PR_ATTACH_MIME_TAG_W, a.mimeType)};
    if (!a.fileName.isEmpty()) {
        row.push_back(strProp(PR_ATTACH_FILENAME_W, a.fileName));
        row.push_back(strProp(PR_ATTACH_LONG_FILENAME_W, a.fileName));
        const qsizetype dot = a.fileName.lastIndexOf(QLatin1Char('.'));
        if (dot >= 0)
            row.push_back(strProp(PR_ATTACH_EXTENSION_W, a.fileName.mid(dot)));
    }
    return row;
}

IStream* openPart(const std::shared_ptr<ImapConnection>& c, uint32_t uidValidity, uint32_t uid,
                  const ImapPart& part) {
    auto* stream = new CImapPartStream(c, uidValidity, uid, part);
    if (!stream->open()) {
        stream->Release();
        return nullptr;
    }
    return stream;
}

class CImapAttach final : public IAttach {
public:
    CImapAttach(std::shared_ptr<ImapConnection> c, uint32_t uidValidity, uint32_t uid,
                ImapPart part, uint32_t number)
        : c_(std::move(c)),
          uidValidity_(uidValidity),
          uid_(uid),
          part_(std::move(part)),
          number_(number) {}

    HRESULT OpenProperty(uint32_t tag, uint32_t options, uint32_t flags,
                         IStream** stream) override {
        if (tag != PR_ATTACH_DATA_BIN || !stream)
            return IAttach::OpenProperty(tag, options, flags, stream);
        *stream = openPart(c_, uidValidity_, uid_, part_);
        return *stream ? S_OK : MAPI_E_NOT_FOUND;
    }

protected:
    SPropValue getProp(uint32_t tag) override {
        if (tag == PR_ATTACH_DATA_BIN) {
            IStream* stream = openPart(c_, uidValidity_, uid_, part_);
            if (!stream)
                return SPropValue::error(tag, MAPI_E_NOT_FOUND);
            STATSTG stat;
            stream->Stat(&stat, STATFLAG_NONAME);
            QByteArray data(qsizetype(stat.cbSize), '\0');
            uint32_t got = 0;
            stream->Read(data.data(), uint32_t(data.size()), &got);
            stream->Release();
            data.truncate(got);
            if (data.isEmpty())
                return SPropValue::error(tag, MAPI_E_NOT_FOUND);
            return binProp(tag, std::move(data));
        }
        for (const SPropValue& v : attachmentRow(part_, number_)) {
            if (v.ulPropTag == tag)
                return v;
        }
        return SPropValue::error(tag, MAPI_E_NOT_FOUND);
    }

private:
    std::shared_ptr<ImapConnection> c_;
    uint32_t uidValidity_;
    uint32_t uid_;
    ImapPart part_;
    uint32_t number_;
};

class CImapMessage final : public IMessage {
public:
    CImapMessage(std::shared_ptr<ImapConnection> c, uint32_t uidValidity, ImapListed listed)
        : c_(std::move(c)), uidValidity_(uidValidity), m_(std::move(listed)) {}

    HRESULT GetAttachmentTable(uint32_t, std::unique_ptr<IMAPITable>& table) override {
        SRowSet rows;
        for (size_t i = 0; i < m_.structure.attachments.size(); ++i)
            rows.push_back(attachmentRow(m_.structure.attachments[i], uint32_t(i)));
        table = std::make_unique<CRowTable>(std::move(rows));
        return S_OK;
    }

    HRESULT OpenAttach(uint32_t number, uint32_t, std::unique_ptr<IAttach>& attach) override {
        if (number >= m_.structure.attachments.size())
            return MAPI_E_NOT_FOUND;
        attach = std::make_unique<CImapAttach>(c_, uidValidity_, m_.uid,
                                               m_.structure.attachments[number], number);
        return S_OK;
    }

    HRESULT SetProps(const std::vector<SPropValue>& values) override {
        HRESULT hr = S_OK;
        for (const SPropValue& v : values) {
            if (v.ulPropTag != PR_MESSAGE_FLAGS) {
                hr = MAPI_W_ERRORS_RETURNED;
                continue;
            }
            const bool seen = (v.l & MSGFLAG_READ) != 0;
            if (seen == m_.seen)
                continue;
            const HRESULT one = c_->setSeen(uidValidity_, m_.uid, seen);
            if (Failed(one))
                return one;
            m_.seen = seen;
        }
        return hr;
    }

protected:
    SPropValue getProp(uint32_t tag) override {
        switch (tag) {
            case PR_ENTRYID:
                return binProp(tag, messageId(*c_, uidValidity_, m_.uid));
            case PR_MESSAGE_FLAGS:
                return longProp(
                    tag, (m_.seen ? int32_t(MSGFLAG_READ) : 0) |
                             (m_.structure.attachments.empty() ? 0 : int32_t(MSGFLAG_HASATTACH)));
            case PR_MESSAGE_SIZE:
                return longProp(tag, int32_t(std::min<uint32_t>(m_.size, INT32_MAX)));
            case PR_HASATTACH: {
                SPropValue v;
                v.ulPropTag = tag;
                v.b = !m_.structure.attachments.empty();
                return v;
            }
            case PR_MIME_RAW: {
                std::vector<QByteArray> got;
                if (Failed(
                        c_->fetch(uidValidity_, m_.uid, {{QByteArray(), 0, kImapRawBytes}}, got)))
                    break;
                return binProp(tag, got[0]);
            }
            default:
                break;
        }
        if (!load())
            return SPropValue::error(tag, MAPI_E_NOT_FOUND);
        switch (tag) {
            case PR_SUBJECT_W:
                if (subject_)
                    return strProp(tag, *subject_);
                break;
            case PR_MESSAGE_DELIVERY_TIME:
                return timeProp(tag, delivery_ ? *delivery_ : m_.internalDate);
            case PR_BODY_W:
                if (text_)
                    return strProp(tag, *text_);
                break;
            case PR_BODY_HTML_W:
                if (html_)
                    return strProp(tag, *html_);
                break;
            default:
                break;
        }
        return SPropValue::error(tag, MAPI_E_NOT_FOUND);
    }

private:
    // Fetches what the list needs of the content, once.
    bool load() {
        if (loaded_)
            return true;
        const QByteArray key = messageId(*c_, uidValidity_, m_.uid);
        if (const std::optional<Content> known = knownContent().find(key)) {
            subject_ = known->subject;
            text_ = known->text;
            html_ = known->html;
            delivery_ = known->delivery;
            loaded_ = true;
            return true;
        }
        std::vector<ImapSection> sections{{"HF", 0, 0}};
        if (m_.structure.text)
            sections.push_back({m_.structure.text->section, 0, kImapBodyBytes});
        if (m_.structure.html)
            sections.push_back({m_.structure.html->section, 0, kImapBodyBytes});
        std::vector<QByteArray> got;
        if (Failed(c_->fetch(uidValidity_, m_.uid, sections, got)))
            return false;
        const MimeContent headers = parseMimeContent(got[0] + "\r\n");
        subject_ = headers.subject;
        delivery_ = headers.deliveryTime;
        size_t next = 1;
        if (m_.structure.text) {
            const ImapPart& p = *m_.structure.text;
            text_ = parsePart("text/plain", p.charset, p.encoding, got[next++]).bodyText;
            if (!text_)
                text_ = QString();
        }
        if (m_.structure.html) {
            const ImapPart& p = *m_.structure.html;
            html_ = parsePart("text/html", p.charset, p.encoding, got[next++]).bodyHtml;
            if (!html_)
                html_ = QString();
        }
        knownContent().put(key, {subject_, text_, html_, delivery_});
        loaded_ = true;
        return true;
    }

    std::shared_ptr<ImapConnection> c_;
    uint32_t uidValidity_;
    ImapListed m_;
    bool loaded_ = false;
    std::optional<QString> subject_, text_, html_;
    std::optional<uint64_t> delivery_;
};

// ---------------------------------------------------------------- folders

// The contents table's rows of a connection's listing, built once for each
// listing the connection gives out (it gives the same one while nothing
// changed), so that a count repeated every few seconds builds none.
std::shared_ptr<const SRowSet> rowsOf(const ImapConnection& c,
                                      const std::shared_ptr<const std::vector<ImapListed>>& listed,
                                      uint32_t uidValidity) {
    struct Built {
        std::shared_ptr<const std::vector<ImapListed>> listed;  // held: its address stays unique
        uint32_t uidValidity = 0;
        std::shared_ptr<const SRowSet> rows;
    };
    static std::mutex mutex;
    static auto* built = new std::map<const ImapConnection*, Built>;  // connections stay
    std::lock_guard lock(mutex);
    Built& b = (*built)[&c];
    if (b.rows && b.listed == listed && b.uidValidity == uidValidity)
        return b.rows;
    auto rows = std::make_shared<SRowSet>();
    rows->reserve(listed->size());
    for (const ImapListed& m : *listed) {
        rows->push_back(
            SRow{binProp(PR_ENTRYID, messageId(c, uidValidity, m.uid)),
                 longProp(PR_MESSAGE_FLAGS, m.seen ? int32_t(MSGFLAG_READ) : 0),
                 longProp(PR_MESSAGE_SIZE, int32_t(std::min<uint32_t>(m.size, INT32_MAX))),
                 timeProp(PR_MESSAGE_DELIVERY_TIME, m.internalDate)});
    }
    b = {listed, uidValidity, rows};
    return rows;
}

class CImapFolder final : public IMAPIFolder {
public:
    explicit CImapFolder(std::shared_ptr<ImapConnection> c) : c_(std::move(c)) {}

    HRESULT GetContentsTable(uint32_t, std::unique_ptr<IMAPITable>& table) override {
        std::shared_ptr<const std::vector<ImapListed>> listed;
        uint32_t uidValidity = 0;
        if (const HRESULT hr = c_->listShared(listed, &uidValidity); Failed(hr))
            return hr;
        std::shared_ptr<const SRowSet> rows = rowsOf(*c_, listed, uidValidity);
        {
            std::lock_guard lock(mutex_);
            uidValidity_ = uidValidity;
            listed_ = std::move(listed);
        }
        table = std::make_unique<CRowTable>(std::move(rows));
        return S_OK;
    }

    HRESULT DeleteMessages(const std::vector<QByteArray>& entryIds, uint32_t) override {
        return forEachMessage(entryIds, *c_, c_->address().folder,
                              [&](size_t, uint32_t uidValidity, uint32_t uid) {
                                  return c_->moveToTrash(uidValidity, uid);
                              });
    }

    // Tells each message's id in the Trash when the server does (UIDPLUS).
    HRESULT MoveToWastebasket(const std::vector<QByteArray>& entryIds,
                              std::vector<QByteArray>& trashIds) override {
        trashIds.assign(entryIds.size(), QByteArray());
        return forEachMessage(entryIds, *c_, c_->address().folder,
                              [&](size_t i, uint32_t uidValidity, uint32_t uid) {
                                  ImapMoved moved;
                                  const HRESULT hr = c_->moveToTrash(uidValidity, uid, &moved);
                                  if (!Failed(hr) && moved.uid)
                                      trashIds[i] = otherMessageId(*c_, moved);
                                  return hr;
                              });
    }

    const std::shared_ptr<ImapConnection>& connection() const { return c_; }

    HRESULT OpenEntry(const QByteArray& entryId, uint32_t, uint32_t* objType,
                      std::unique_ptr<IMAPIProp>& object) override {
        uint32_t uidValidity = 0, uid = 0;
        if (!parseMessageId(entryId, *c_, c_->address().folder, uidValidity, uid))
            return MAPI_E_INVALID_ENTRYID;
        ImapListed m;
        bool known = false;
        {
            std::lock_guard lock(mutex_);
            if (listed_ && uidValidity == uidValidity_) {
                auto it = std::lower_bound(
                    listed_->begin(), listed_->end(), uid,
                    [](const ImapListed& l, uint32_t wanted) { return l.uid < wanted; });
                if (it != listed_->end() && it->uid == uid) {
                    m = *it;
                    known = true;
                }
            }
        }
        if (!known) {
            if (const HRESULT hr = c_->listOne(uidValidity, uid, m); Failed(hr))
                return hr;
        }
        object = std::make_unique<CImapMessage>(c_, uidValidity, std::move(m));
        if (objType)
            *objType = MAPI_MESSAGE;
        return S_OK;
    }

protected:
    SPropValue getProp(uint32_t tag) override {
        if (tag == PR_ENTRYID)
            return binProp(tag, makeId('F', {c_->account()}));
        if (tag == PR_DISPLAY_NAME_W)
            return strProp(tag, QStringLiteral("Inbox"));
        return SPropValue::error(tag, MAPI_E_NOT_FOUND);
    }

private:
    std::shared_ptr<ImapConnection> c_;
    std::mutex mutex_;  // OpenEntry runs on several threads at once
    uint32_t uidValidity_ = 0;
    std::shared_ptr<const std::vector<ImapListed>> listed_;  // in UID order
};

// A message of another folder of the account than its own (one in the
// Trash): enough to find its folder and move it back, nothing of its
// content. Opening it costs nothing; whether it is still there shows when
// it is moved.
class CImapOtherMessage final : public IMessage {
public:
    CImapOtherMessage(QString account, QByteArray id, QString folder)
        : account_(std::move(account)), id_(std::move(id)), folder_(std::move(folder)) {}

    HRESULT GetAttachmentTable(uint32_t, std::unique_ptr<IMAPITable>& table) override {
        table = std::make_unique<CRowTable>(SRowSet());
        return S_OK;
    }
    HRESULT OpenAttach(uint32_t, uint32_t, std::unique_ptr<IAttach>&) override {
        return MAPI_E_NOT_FOUND;
    }

protected:
    SPropValue getProp(uint32_t tag) override {
        if (tag == PR_ENTRYID)
            return binProp(tag, id_);
        if (tag == PR_PARENT_ENTRYID)
            return binProp(tag, makeId('F', {account_, folder_}));
        return SPropValue::error(tag, MAPI_E_NOT_FOUND);
    }

private:
    QString account_;
    QByteArray id_;
    QString folder_;
};

// Another folder of the account (the Trash): its messages move back into
// the account's own folder (CopyMessages with MESSAGE_MOVE); nothing else.
class CImapOtherFolder final : public IMAPIFolder {
public:
    CImapOtherFolder(std::shared_ptr<ImapConnection> c, QString folder)
        : c_(std::move(c)), folder_(std::move(folder)) {}

    HRESULT GetContentsTable(uint32_t, std::unique_ptr<IMAPITable>&) override {
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT DeleteMessages(const std::vector<QByteArray>&, uint32_t) override {
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT OpenEntry(const QByteArray& entryId, uint32_t, uint32_t* objType,
                      std::unique_ptr<IMAPIProp>& object) override {
        uint32_t uidValidity = 0, uid = 0;
        if (!parseMessageId(entryId, *c_, folder_, uidValidity, uid))
            return MAPI_E_INVALID_ENTRYID;
        object = std::make_unique<CImapOtherMessage>(c_->account(), entryId, folder_);
        if (objType)
            *objType = MAPI_MESSAGE;
        return S_OK;
    }

    HRESULT CopyMessages(const std::vector<QByteArray>& entryIds, IMAPIFolder* destination,
                         uint32_t flags, std::vector<QByteArray>* newIds) override {
        if (newIds)
            newIds->assign(entryIds.size(), QByteArray());
        auto* home = dynamic_cast<CImapFolder*>(destination);
        if (!(flags & MESSAGE_MOVE) || !home || home->connection() != c_)
            return MAPI_E_NO_SUPPORT;
        return forEachMessage(entryIds, *c_, folder_,
                              [&](size_t i, uint32_t uidValidity, uint32_t uid) {
                                  ImapMoved moved;
                                  const HRESULT hr = c_->moveBack(folder_, uidValidity, uid, moved);
                                  if (!Failed(hr) && newIds)
                                      (*newIds)[i] = messageId(*c_, moved.uidValidity, moved.uid);
                                  return hr;
                              });
    }

protected:
    SPropValue getProp(uint32_t tag) override {
        if (tag == PR_ENTRYID)
            return binProp(tag, makeId('F', {c_->account(), folder_}));
        if (tag == PR_DISPLAY_NAME_W)
            return strProp(tag, folder_);
        return SPropValue::error(tag, MAPI_E_NOT_FOUND);
    }

private:
    std::shared_ptr<ImapConnection> c_;
    QString folder_;  // its name on the wire
};

// The connection of a named account; null (with a line on standard error)
// when its address cannot be read.
std::shared_ptr<ImapConnection> connectionFor(const std::vector<ImapAccount>& accounts,
                                              const QString& name) {
    for (const ImapAccount& a : accounts) {
        if (a.displayName != name)
            continue;
        ImapAddress address;
        QString error;
        if (!parseImapAddress(a.line, address, &error)) {
            std::fprintf(stderr, "lyrabell: IMAP account \"%s\": the address is not valid: %s\n",
                         name.toUtf8().constData(), error.toUtf8().constData());
            return nullptr;
        }
        return ImapConnection::forAccount(name, address);
    }
    return nullptr;
}

class CImapStore final : public IMsgStore {
public:
    CImapStore(std::vector<ImapAccount> accounts, QString name)
        : accounts_(std::move(accounts)), name_(std::move(name)) {}

    HRESULT GetReceiveFolder(const QString&, uint32_t, QByteArray& entryId) override {
        entryId = makeId('F', {name_});
        return S_OK;
    }
    HRESULT OpenEntry(const QByteArray& entryId, uint32_t, uint32_t* objType,
                      std::unique_ptr<IMAPIProp>& object) override {
        return imapOpenEntry(accounts_, entryId, objType, object);
    }

protected:
    SPropValue getProp(uint32_t tag) override {
        if (tag == PR_DISPLAY_NAME_W)
            return strProp(tag, name_);
        if (tag == PR_ENTRYID)
            return binProp(tag, makeId('S', {name_}));
        return SPropValue::error(tag, MAPI_E_NOT_FOUND);
    }

private:
    std::vector<ImapAccount> accounts_;
    QString name_;
};

}  // namespace

SRow imapStoreRow(const ImapAccount& account) {
    return SRow{strProp(PR_DISPLAY_NAME_W, account.displayName),
                binProp(PR_ENTRYID, makeId('S', {account.displayName}))};
}

bool isImapEntryId(const QByteArray& entryId) {
    return entryId.startsWith(kMagic);
}

HRESULT imapOpenStore(const std::vector<ImapAccount>& accounts, const QByteArray& entryId,
                      std::unique_ptr<IMsgStore>& store) {
    QStringList f;
    if (!parseId(entryId, 'S', 1, f))
        return MAPI_E_INVALID_ENTRYID;
    for (const ImapAccount& a : accounts) {
        if (a.displayName == f[0]) {
            store = std::make_unique<CImapStore>(accounts, f[0]);
            return S_OK;
        }
    }
    return MAPI_E_NOT_FOUND;
}

HRESULT imapOpenEntry(const std::vector<ImapAccount>& accounts, const QByteArray& entryId,
                      uint32_t* objType, std::unique_ptr<IMAPIProp>& object) {
    ensureMimeInitialised();
    QStringList f;
    if (parseId(entryId, 'F', 1, f)) {
        auto c = connectionFor(accounts, f[0]);
        if (!c)
            return MAPI_E_NOT_FOUND;
        object = std::make_unique<CImapFolder>(std::move(c));
        if (objType)
            *objType = MAPI_FOLDER;
        return S_OK;
    }
    if (parseId(entryId, 'F', 2, f)) {
        auto c = connectionFor(accounts, f[0]);
        if (!c)
            return MAPI_E_NOT_FOUND;
        object = std::make_unique<CImapOtherFolder>(std::move(c), f[1]);
        if (objType)
            *objType = MAPI_FOLDER;
        return S_OK;
    }
    if (parseId(entryId, 'M', 4, f)) {
        auto c = connectionFor(accounts, f[0]);
        if (!c)
            return MAPI_E_NOT_FOUND;
        if (f[1] != c->address().folder)
            return CImapOtherFolder(std::move(c), f[1]).OpenEntry(entryId, 0, objType, object);
        CImapFolder folder(std::move(c));
        return folder.OpenEntry(entryId, 0, objType, object);
    }
    return MAPI_E_INVALID_ENTRYID;
}

}  // namespace lyb::mapi
