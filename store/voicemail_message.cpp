#include "store/voicemail_message.h"

#include <cmath>
#include <ctime>
#include <limits>
#include <optional>

#include "audio/decode/recording_duration.h"
#include "audio/decode/wave_header.h"
#include "store/body_text.h"
#include "store/recording_rule.h"

namespace lyb::store {

using namespace lyb::mapi;

namespace {

// The attachment columns in the order the table is asked for them.
const std::vector<uint32_t> kAttachmentColumns{
    PR_ATTACH_EXTENSION_W, PR_ATTACH_FILENAME_W,       PR_ATTACH_LONG_FILENAME_W,
    PR_ATTACH_PATHNAME_W,  PR_ATTACH_TRANSPORT_NAME_W, PR_ATTACH_LONG_PATHNAME_W,
    PR_ATTACH_MIME_TAG_W};

std::optional<SPropValue> getProp(IMessage& message, uint32_t tag) {
    std::vector<SPropValue> values;
    const HRESULT hr = message.GetProps({tag}, MAPI_UNICODE, values);
    if (Failed(hr) || values.size() != 1 || PROP_TYPE(values[0].ulPropTag) == PT_ERROR ||
        values[0].ulPropTag != tag) {
        return std::nullopt;
    }
    return values[0];
}

IStream* openAttachmentStream(IMessage& message, uint32_t number) {
    std::unique_ptr<IAttach> attach;
    if (message.OpenAttach(number, 0, attach) != S_OK || !attach)
        return nullptr;
    IStream* stream = nullptr;
    if (attach->OpenProperty(PR_ATTACH_DATA_BIN, 0, 0, &stream) != S_OK) {
        if (stream)
            stream->Release();
        return nullptr;
    }
    return stream;
}

// Wave and GSM recordings are measured as they always were; any other
// recording by the duration its container declares, without decoding it, so
// that listing an Inbox of MP3 voicemails costs about what wave ones do.
int32_t measureLength(IMessage& message, uint32_t number, const QString& audioType) {
    IStream* stream = openAttachmentStream(message, number);
    if (!stream)
        return -1;
    int32_t length = -1;
    if (audioType == QLatin1String(".gsm")) {
        STATSTG stat;
        if (stream->Stat(&stat, STATFLAG_NONAME) == S_OK) {
            const uint32_t size = static_cast<uint32_t>(stat.cbSize & 0xFFFFFFFFu);
            length = static_cast<int32_t>(((size / 33u) * 160u) / 8000u);
        }
    } else if (audioType == QLatin1String(".wav")) {
        uint8_t buffer[2048];
        uint32_t got = 0;
        // A short read reports S_FALSE: a wave file shorter than the buffer
        // still has a header to read.
        const HRESULT hr = stream->Read(buffer, sizeof buffer, &got);
        audio::WaveHeader header;
        if (!Failed(hr) && got > 0 && audio::ParseWaveHeaderFromMemory(header, buffer, got) &&
            header.avg_bytes_per_sec != 0) {
            const double seconds = static_cast<double>(header.data_size) / header.avg_bytes_per_sec;
            length = static_cast<int32_t>(std::trunc(seconds));
        }
    } else {
        const QByteArray extension = audioType.toLatin1();
        const double seconds =
            audio::RecordingDurationSeconds(stream, false, extension.constData());
        if (seconds >= 0 && seconds < std::numeric_limits<int32_t>::max())
            length = static_cast<int32_t>(std::trunc(seconds));
    }
    stream->Release();
    return length;
}

}  // namespace

// ---------------------------------------------------------------- record

int64_t received_time_from_file_time(uint64_t fileTime) {
    // File times above the signed range are not convertible on the device.
    if (fileTime > static_cast<uint64_t>(std::numeric_limits<int64_t>::max()))
        return 0;
    const int64_t seconds = static_cast<int64_t>(fileTime / 10000000ull) - 11644473600ll;
    const time_t instant = static_cast<time_t>(seconds);
    struct tm local {};
    if (!localtime_r(&instant, &local))
        return 0;
    if (local.tm_year < 0)
        return 0;  // local year before 1900
    // Back through the fields with the offset they were made with, so the
    // hour repeated when clocks go back keeps its own instant (and the zone
    // files are not read again, as mktime does on every call).
    const long offset = local.tm_gmtoff;
    const time_t back = timegm(&local);
    if (back == static_cast<time_t>(-1) && seconds + offset != -1)
        return 0;
    return static_cast<int64_t>(back) - offset;
}

bool CVoiceMailMessage::read_attachments(IMessage& message, std::vector<CAttachmentInfo>& out) {
    out.clear();
    std::unique_ptr<IMAPITable> table;
    if (message.GetAttachmentTable(0, table) != S_OK || !table)
        return false;
    table->SetColumns(kAttachmentColumns, 0);
    for (;;) {
        SRowSet rows;
        if (table->QueryRows(1, 0, rows) != S_OK || rows.size() != 1)
            break;
        CAttachmentInfo info;
        for (const SPropValue& v : rows[0]) {
            switch (v.ulPropTag) {
                case PR_ATTACH_FILENAME_W:
                    info.file_name = v.str;
                    break;
                case PR_ATTACH_MIME_TAG_W:
                    info.mime_type = v.str;
                    break;
                case PR_ATTACH_EXTENSION_W:
                    info.extension = v.str;
                    break;
                case PR_ATTACH_LONG_FILENAME_W:
                    info.long_file_name = v.str;
                    break;
                case PR_ATTACH_PATHNAME_W:
                    info.path_name = v.str;
                    break;
                case PR_ATTACH_TRANSPORT_NAME_W:
                    info.transport_name = v.str;
                    break;
                case PR_ATTACH_LONG_PATHNAME_W:
                    info.long_path_name = v.str;
                    break;
                default:
                    break;
            }
        }
        out.push_back(std::move(info));
    }
    return true;
}

CVoiceMailMessage::CVoiceMailMessage(std::unique_ptr<IMessage>& message) {
    if (!message)
        throw CNotVoiceMail();
    IMessage& m = *message;

    const std::optional<Recording> recording = find_recording(m);
    if (!recording)
        throw CNotVoiceMail();
    audio_type_ = recording->audio_type;
    recording_attach_ = recording->attach_num;

    const QString body = read_body_text(m);
    const auto subject = getProp(m, PR_SUBJECT_W);
    CDefaultVoiceMailParser parser;
    parser.parse(subject ? subject->str : QString(), body);
    caller_name_ = parser.caller_name;
    caller_number_ = parser.caller_number;
    transcript_ = parser.transcript.isEmpty() ? read_transcript_attachment(m) : parser.transcript;

    if (const auto delivery = getProp(m, PR_MESSAGE_DELIVERY_TIME)) {
        received_time_ = received_time_from_file_time(delivery->ft);
    }
    if (const auto flags = getProp(m, PR_MESSAGE_FLAGS))
        read_ = flags->l & MSGFLAG_READ ? 1 : 0;

    length_ = measureLength(m, recording_attach_, audio_type_);
    message_ = std::move(message);
}

CVoiceMailMessage::CVoiceMailMessage(const CRecognition& recognition, QByteArray entryId,
                                     std::shared_ptr<CRecordSource> source)
    : entry_id_(std::move(entryId)), source_(std::move(source)) {
    caller_name_ = recognition.caller_name;
    caller_number_ = recognition.caller_number;
    transcript_ = recognition.transcript;
    length_ = recognition.length_seconds;
    received_time_ = recognition.received_time;
    read_ = recognition.read ? 1 : 0;
    audio_type_ = recognition.audio_type;
    recording_attach_ = recognition.recording_attach;
}

CRecognition CVoiceMailMessage::recognition() const {
    CRecognition r;
    r.voicemail = true;
    r.caller_name = caller_name_;
    r.caller_number = caller_number_;
    r.transcript = transcript_;
    r.audio_type = audio_type_;
    r.length_seconds = length_;
    r.received_time = received_time_;
    r.read = read_;
    r.recording_attach = recording_attach_;
    return r;
}

void CVoiceMailMessage::set_source(QByteArray entryId, std::shared_ptr<CRecordSource> source) {
    entry_id_ = std::move(entryId);
    source_ = std::move(source);
}

IMessage* CVoiceMailMessage::message() {
    if (!message_ && source_)
        message_ = source_->open(entry_id_);
    return message_.get();
}

IStream* CVoiceMailMessage::open_audio_stream() {
    if (source_) {
        if (IStream* kept = source_->recordingStream(entry_id_, nullptr))
            return kept;
    }
    IMessage* m = message();
    IStream* stream = m ? openAttachmentStream(*m, recording_attach_) : nullptr;
    if (stream && source_)
        stream = source_->recordingStream(entry_id_, stream);
    return stream;
}

void CVoiceMailMessage::set_read(bool read) {
    const int flag = read ? 1 : 0;
    if (flag == read_)
        return;
    read_ = flag;
    IMessage* m = message();
    const auto flags = m ? getProp(*m, PR_MESSAGE_FLAGS) : std::nullopt;
    if (!flags)
        return;
    SPropValue value = *flags;
    value.l = read ? (value.l | static_cast<int32_t>(MSGFLAG_READ))
                   : (value.l & ~static_cast<int32_t>(MSGFLAG_READ));
    if (m->SetProps({value}) == S_OK && source_)  // failures are not reported
        source_->readChanged(entry_id_, read);
}

QByteArray CVoiceMailMessage::entry_id() {
    if (!entry_id_.isEmpty() || !message_)
        return entry_id_;
    const auto id = getProp(*message_, PR_ENTRYID);
    return id ? id->bin : QByteArray();
}

IStream* open_audio_stream(CVoiceMailMessage& record) {
    return record.open_audio_stream();
}
void set_read(CVoiceMailMessage& record, bool read) {
    record.set_read(read);
}

}  // namespace lyb::store
