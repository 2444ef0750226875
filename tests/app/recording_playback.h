// A playback engine for tests: records what the main window asks it to play,
// and keeps a player whose position, end and file length the test sets.
#pragma once

#include "app/playback.h"

#include <QString>

#include <functional>
#include <memory>
#include <vector>

struct PlayedSource {
    QString path;
    bool fromStream = false;
    bool isGsm = false;
};

struct PlaybackLog {
    std::vector<PlayedSource> decoded;
    std::vector<QString> players;
    int discards = 0;
    bool failDecoding = false;
    QString decoderError;
    // Runs while decoding starts (before the head start).
    std::function<void()> onDecode;

    // The player.
    bool failPlayer = false;
    uint32_t nextDuration = 60000;  // of the next player, ms
    bool hasPlayer = false;
    int state = lyb::app::IPlayback::kStopped;
    uint32_t duration = 0;
    uint32_t position = 0;
    bool ended = false;
    int rate = lyb::app::IPlayback::kRateNormal;
    std::vector<uint32_t> seeks;  // every successful seek
};

class CRecordingPlayback final : public lyb::app::IPlayback {
public:
    explicit CRecordingPlayback(std::shared_ptr<PlaybackLog> log) : log_(std::move(log)) {}
    void discard() override {
        ++log_->discards;
        log_->hasPlayer = false;
        log_->state = kStopped;
    }
    bool startDecoding(const lyb::app::PlaySource& source, const QString&,
                       QString* error) override {
        if (log_->failDecoding) {
            *error = log_->decoderError;
            return false;
        }
        log_->decoded.push_back({source.path, source.stream != nullptr, source.isGsm});
        if (log_->onDecode)
            log_->onDecode();
        return true;
    }
    bool startPlayer(const QString& path) override {
        log_->hasPlayer = false;
        if (log_->failPlayer)
            return false;
        log_->players.push_back(path);
        log_->hasPlayer = true;
        log_->state = kPlaying;
        log_->duration = log_->nextDuration;
        log_->position = 0;
        log_->ended = false;
        log_->rate = kRateNormal;
        return true;
    }
    bool hasPlayer() const override { return log_->hasPlayer; }
    int state() const override { return log_->hasPlayer ? log_->state : kStopped; }
    void pause() override {
        if (log_->state == kPlaying)
            log_->state = kPaused;
    }
    void resume() override {
        if (log_->state == kPaused)
            log_->state = kPlaying;
    }
    void stop() override {
        log_->state = kStopped;
        log_->position = 0;
    }
    bool seek(uint32_t ms) override {
        if (!log_->hasPlayer || ms >= log_->duration)
            return false;
        log_->position = ms;
        log_->seeks.push_back(ms);
        return true;
    }
    uint32_t duration() const override { return log_->hasPlayer ? log_->duration : 0; }
    uint32_t position() const override { return log_->hasPlayer ? log_->position : 0; }
    bool ended() const override { return log_->hasPlayer && log_->ended; }
    int rateMode() override { return log_->rate; }
    void setRateMode(int mode) override {
        log_->rate = mode == kRateNormal ? kRateNormal : kRateFast;
    }

private:
    std::shared_ptr<PlaybackLog> log_;
};
