// lybtool play: decodes a recording into the temporary wave file and plays it
// while it grows, as the playback screen does, showing the elapsed and the
// remaining time on one line.
#include <QFile>
#include <QStringList>

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

#include "audio/decode/wave_decoder.h"
#include "audio/output/wave_player.h"
#include "platform/desktop/desktop.h"
#include "platform/desktop/file_names.h"
#include "store/message_store.h"
#include "tools/command.h"
#include "tools/decode_notices.h"

namespace {

using lyb::audio::CWaveDecoder;
using lyb::audio::CWavePlayer;

constexpr auto kHeadStart = std::chrono::milliseconds(2000);
constexpr auto kTick = std::chrono::milliseconds(50);

std::atomic<bool> interrupted{false};

void OnInterrupt(int) {
    interrupted = true;
}

std::string Clock(uint32_t ms) {
    const uint32_t s = ms / 1000;
    char text[32];
    std::snprintf(text, sizeof text, "%u:%02u", s / 60, s % 60);
    return text;
}

void ShowTimes(const CWavePlayer& player) {
    const uint32_t position = std::min(player.Position(), player.Duration());
    std::fprintf(stdout, "\r%s / -%s ", Clock(position).c_str(),
                 Clock(player.Duration() - position).c_str());
    std::fflush(stdout);
}

int Play(const QStringList& args) {
    bool fast = false;
    bool message = false;
    QStringList paths;
    for (const QString& a : args) {
        if (a == QLatin1String("--fast")) {
            fast = true;
        } else if (a == QLatin1String("--message")) {
            message = true;
        } else {
            paths << a;
        }
    }
    if (paths.size() != 1) {
        lyb::tool::err(QStringLiteral("usage: lybtool play [--fast] [--message] FILE|ENTRYID"));
        return 2;
    }
    // A stored voicemail, named by its entry identifier as `lybtool list` shows it.
    lyb::store::CMapiSession session;
    lyb::mapi::IStream* stream = nullptr;
    bool gsm = false;
    if (message) {
        const QByteArray id = lyb::tool::entryIdFromText(paths[0]);
        std::unique_ptr<lyb::store::CVoiceMailMessage> record;
        if (!id.isEmpty() && lyb::store::logon(session))
            record = lyb::store::open_voicemail_by_entry_id(session, id);
        if (!record) {
            lyb::tool::err(
                QStringLiteral("lybtool play: no voice mail with that entry identifier"));
            return 1;
        }
        stream = record->open_audio_stream();
        if (!stream) {
            lyb::tool::err(QStringLiteral("Unable to open voicemail attachment."));
            return 1;
        }
        gsm = record->audio_type().compare(QLatin1String(".gsm"), Qt::CaseInsensitive) == 0;
    }
    const QString dir = lyb::desktop::runtimeDir();
    if (dir.isEmpty()) {
        lyb::tool::err(QStringLiteral("lybtool: no private folder for the temporary file"));
        return 1;
    }
    const std::string input = lyb::desktop::encodeFileName(paths[0]).toStdString();
    const std::string temp =
        lyb::desktop::encodeFileName(dir + QStringLiteral("/lybtemp.wav")).toStdString();

    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);

    lyb::tool::CDecodeNotices notifier;
    int status = 0;
    try {
        auto decoder = stream ? std::make_unique<CWaveDecoder>(std::exchange(stream, nullptr), temp,
                                                               &notifier, gsm)
                              : std::make_unique<CWaveDecoder>(input, temp, &notifier);
        decoder->Start();
        // The decoder's head start; a short recording may be done sooner.
        const auto until = std::chrono::steady_clock::now() + kHeadStart;
        while (std::chrono::steady_clock::now() < until && !notifier.finished() && !interrupted) {
            std::this_thread::sleep_for(kTick);
        }
        if (!notifier.error().empty()) {
            lyb::tool::err(QString::fromStdString(notifier.error()));
            ::unlink(temp.c_str());
            return 1;
        }
        if (!interrupted) {
            CWavePlayer player(temp);
            player.Play();
            if (fast)
                player.SetRateMode(CWavePlayer::kRateFast);
            bool complete = false;
            while (!player.Ended() && !interrupted) {
                if (!complete && notifier.finished()) {
                    player.set_source_complete();
                    complete = true;
                }
                ShowTimes(player);
                std::this_thread::sleep_for(kTick);
            }
            ShowTimes(player);
            std::fputc('\n', stdout);
            player.Stop();
        }
        decoder.reset();
    } catch (const lyb::CException& e) {
        lyb::tool::err(QString::fromUtf8(e.what()));
        status = 1;
    }
    ::unlink(temp.c_str());
    return interrupted ? 130 : status;
}

// Made before the registration below, which keeps a pointer to it.
const std::string kPlaySummary =
    "decode a recording (wave, raw GSM, MP3, AAC/M4A, AMR, Ogg, FLAC, WMA, ...; or with --message "
    "the recording of a stored voice mail, by its entry identifier from lybtool list) and play it "
    "on the sound output (LYRABELL_AUDIO chooses: alsa, null, capture:PATH, none); --fast plays " +
    lyb::waveout::RateFactorText(lyb::waveout::kRateFast) + "\u00D7 as fast, at the same pitch";

const lyb::tool::Registration reg{
    {"play", "[--fast] [--message] FILE|ENTRYID", kPlaySummary.c_str(), Play}};

}  // namespace
