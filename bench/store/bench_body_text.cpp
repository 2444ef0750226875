// bench_body_text [MARKUP_MB...] [--message MB]: the caller's side of a long
// body. For each MARKUP_MB (default 1.6 and 3.2), markup removal on a body of
// "a<b>" repeated to that many megabytes, as the caller parser meets it; then
// the record of one voicemail of MB megabytes (default 200) without a text
// part, whose raw MIME text becomes the body the caller is looked for in.
// Prints the best and the median of three runs, and the record's peak memory.
#include <QByteArray>
#include <QElapsedTimer>
#include <QString>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "bench/store/bench_inbox.h"
#include "platform/mapi/maildir_provider.h"
#include "store/body_text.h"
#include "store/voicemail_message.h"

namespace {

using namespace lyb::bench;

constexpr int kRuns = 3;

double best(std::vector<double> v) {
    return *std::min_element(v.begin(), v.end());
}
double median(std::vector<double> v) {
    std::nth_element(v.begin(), v.begin() + v.size() / 2, v.end());
    return v[v.size() / 2];
}

void stripRun(double megabytes) {
    const qsizetype repeats = static_cast<qsizetype>(megabytes * 1e6 / 4);
    const QString body = QStringLiteral("a<b>").repeated(repeats);
    std::vector<double> times;
    qsizetype left = 0;
    for (int run = 0; run < kRuns; ++run) {
        QString text = body;
        QElapsedTimer timer;
        timer.start();
        lyb::store::strip_markup(text);
        times.push_back(timer.nsecsElapsed() / 1e9);
        left = text.size();
    }
    std::printf(
        "markup removal, \"a<b>\" x %lld (%.1f MB): best %.4f s, median %.4f s, %lld left\n",
        static_cast<long long>(repeats), body.size() / 1e6, best(times), median(times),
        static_cast<long long>(left));
}

// One wave attachment, base64, as the only part: the message has no text
// part, so its raw bytes are the body.
QByteArray bigVoicemail(double megabytes) {
    const qsizetype data = static_cast<qsizetype>(megabytes * 1e6 * 3 / 4);
    QByteArray m =
        "From: Voicemail <vm@example.net>\r\nSubject: Voice Mail Message (5551234)\r\n"
        "MIME-Version: 1.0\r\nContent-Type: audio/x-wav; name=\"message.wav\"\r\n"
        "Content-Disposition: attachment; filename=\"message.wav\"\r\n"
        "Content-Transfer-Encoding: base64\r\n\r\n";
    const QByteArray line = QByteArray(57, '\x55').toBase64() + "\r\n";
    m.reserve(m.size() + data / 57 * line.size() + 1);
    for (qsizetype k = 0; k < data; k += 57)
        m += line;
    return m;
}

void recordRun(double megabytes) {
    const QByteArray bytes = bigVoicemail(megabytes);
    std::vector<double> times;
    long peak = 0, before = 0;
    QString number;
    for (int run = 0; run < kRuns; ++run) {
        resetPeak();
        before = peakKiB();
        QElapsedTimer timer;
        timer.start();
        auto message = lyb::mapi::OpenMessageBytes(bytes);
        lyb::store::CVoiceMailMessage record(message);
        times.push_back(timer.nsecsElapsed() / 1e9);
        peak = std::max(peak, peakKiB());
        number = record.caller_number();
    }
    std::printf(
        "record of a %.1f MB voicemail without a text part: best %.3f s, median %.3f s; peak "
        "memory %.1f MiB (%.1f MiB at the start); caller %s\n",
        bytes.size() / 1e6, best(times), median(times), peak / 1024.0, before / 1024.0,
        qPrintable(number));
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<double> markup;
    double message = 200;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--message") == 0 && i + 1 < argc) {
            message = std::atof(argv[++i]);
            continue;
        }
        markup.push_back(std::atof(argv[i]));
    }
    if (markup.empty())
        markup = {1.6, 3.2};
    for (double mb : markup)
        stripRun(mb);
    if (message > 0)
        recordRun(message);
    return 0;
}
