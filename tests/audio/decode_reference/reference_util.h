// Helpers of the reference tests: running the external decoders (sox, ffmpeg)
// and lybtool, reading their output, and measuring how close two decodes are.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace lyb::test {

// The path of a generated fixture.
std::string Fixture(const std::string& name);
// A fresh path in the test's private temporary folder.
std::string TempPath(const std::string& name);

// Runs a program found on PATH (or by its path) with the arguments, standard
// output discarded; returns its exit status, or -1 when it could not run.
int Run(const std::vector<std::string>& argv);

std::vector<uint8_t> ReadBytes(const std::string& path);
std::vector<int16_t> ToSamples(const std::vector<uint8_t>& bytes);

// The output of our decoder: the fixed 44-byte header's fields and the audio after it.
struct PcmWave {
    bool valid = false;
    uint16_t format_tag = 0;
    uint16_t channels = 0;
    uint32_t sample_rate = 0;
    uint16_t bits_per_sample = 0;
    uint32_t riff_size = 0;
    uint32_t data_size = 0;
    std::vector<uint8_t> audio;
};
PcmWave ReadPcmWave(const std::string& path);

// Decodes with `lybtool decode [OPTIONS] INPUT OUTPUT`; valid is false when it failed.
PcmWave DecodeWithLybtool(const std::string& input, const std::vector<std::string>& options = {});

// Decodes with sox to raw bytes; sox_input_args go before the input path
// (e.g. {"-t", "gsm"}), output_args describe the raw output's encoding.
std::vector<uint8_t> DecodeWithSox(const std::string& input,
                                   const std::vector<std::string>& sox_input_args,
                                   const std::vector<std::string>& output_args);
// Decodes with ffmpeg to signed 16-bit little-endian samples.
std::vector<int16_t> DecodeWithFfmpeg(const std::string& input,
                                      const std::vector<std::string>& ffmpeg_input_args = {});

// Signal-to-noise ratio in dB of `test` against `reference` over their common
// length after moving `test` by `lag` samples (test[i + lag] against reference[i]).
double SnrDb(const std::vector<int16_t>& reference, const std::vector<int16_t>& test, int lag = 0);
// The lag in -max_lag..max_lag that gives the highest SNR.
int BestLag(const std::vector<int16_t>& reference, const std::vector<int16_t>& test, int max_lag);

}  // namespace lyb::test
