// A playback engine for tests: records what the main window asks it to play.
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
};

class CRecordingPlayback final : public lyb::app::IPlayback {
public:
    explicit CRecordingPlayback(std::shared_ptr<PlaybackLog> log) : log_(std::move(log)) {}
    void discard() override { ++log_->discards; }
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
        log_->players.push_back(path);
        return true;
    }

private:
    std::shared_ptr<PlaybackLog> log_;
};
