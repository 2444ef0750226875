#include "reference_util.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

extern char** environ;

namespace lyb::test {

std::string Fixture(const std::string& name) {
    return std::string(LYB_AUDIO_FIXTURES) + "/" + name;
}

std::string TempPath(const std::string& name) {
    static std::atomic<int> counter{0};
    const char* dir = std::getenv("TMPDIR");
    return std::string(dir != nullptr && *dir != '\0' ? dir : "/tmp") + "/" +
           std::to_string(getpid()) + "-" + std::to_string(counter++) + "-" + name;
}

int Run(const std::vector<std::string>& argv) {
    std::vector<char*> args;
    for (const std::string& arg : argv) {
        args.push_back(const_cast<char*>(arg.c_str()));
    }
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        return -1;
    }
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) {
        return -1;
    }
    return WEXITSTATUS(status);
}

std::vector<uint8_t> ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<int16_t> ToSamples(const std::vector<uint8_t>& bytes) {
    std::vector<int16_t> samples(bytes.size() / 2);
    for (size_t i = 0; i < samples.size(); ++i) {
        samples[i] = static_cast<int16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    }
    return samples;
}

namespace {

uint32_t Le(const std::vector<uint8_t>& bytes, size_t at, int width) {
    uint32_t value = 0;
    for (int i = width - 1; i >= 0; --i) {
        value = (value << 8) | bytes[at + i];
    }
    return value;
}

}  // namespace

PcmWave ReadPcmWave(const std::string& path) {
    PcmWave wave;
    std::vector<uint8_t> bytes = ReadBytes(path);
    if (bytes.size() < 44 || std::string(bytes.begin(), bytes.begin() + 4) != "RIFF" ||
        std::string(bytes.begin() + 36, bytes.begin() + 40) != "data") {
        return wave;
    }
    wave.valid = true;
    wave.format_tag = static_cast<uint16_t>(Le(bytes, 20, 2));
    wave.channels = static_cast<uint16_t>(Le(bytes, 22, 2));
    wave.sample_rate = Le(bytes, 24, 4);
    wave.bits_per_sample = static_cast<uint16_t>(Le(bytes, 34, 2));
    wave.riff_size = Le(bytes, 4, 4);
    wave.data_size = Le(bytes, 40, 4);
    wave.audio.assign(bytes.begin() + 44, bytes.end());
    return wave;
}

PcmWave DecodeWithLybtool(const std::string& input, const std::vector<std::string>& options) {
    const std::string output = TempPath("lybtool.wav");
    std::vector<std::string> argv{std::string(LYB_BINARY_DIR) + "/bin/lybtool", "decode"};
    argv.insert(argv.end(), options.begin(), options.end());
    argv.insert(argv.end(), {input, output});
    if (Run(argv) != 0) {
        return {};
    }
    PcmWave wave = ReadPcmWave(output);
    std::remove(output.c_str());
    return wave;
}

std::vector<uint8_t> DecodeWithSox(const std::string& input,
                                   const std::vector<std::string>& sox_input_args,
                                   const std::vector<std::string>& output_args) {
    const std::string output = TempPath("sox.raw");
    std::vector<std::string> argv{"sox", "-V1"};
    argv.insert(argv.end(), sox_input_args.begin(), sox_input_args.end());
    argv.push_back(input);
    argv.insert(argv.end(), {"-t", "raw"});
    argv.insert(argv.end(), output_args.begin(), output_args.end());
    argv.push_back(output);
    std::vector<uint8_t> bytes;
    if (Run(argv) == 0) {
        bytes = ReadBytes(output);
    }
    std::remove(output.c_str());
    return bytes;
}

std::vector<int16_t> DecodeWithFfmpeg(const std::string& input,
                                      const std::vector<std::string>& ffmpeg_input_args) {
    const std::string output = TempPath("ffmpeg.raw");
    std::vector<std::string> argv{"ffmpeg", "-nostdin", "-v", "error"};
    argv.insert(argv.end(), ffmpeg_input_args.begin(), ffmpeg_input_args.end());
    argv.insert(argv.end(), {"-i", input, "-f", "s16le", "-y", output});
    std::vector<int16_t> samples;
    if (Run(argv) == 0) {
        samples = ToSamples(ReadBytes(output));
    }
    std::remove(output.c_str());
    return samples;
}

double SnrDb(const std::vector<int16_t>& reference, const std::vector<int16_t>& test, int lag) {
    double signal = 0;
    double noise = 0;
    for (size_t i = 0; i < reference.size(); ++i) {
        const int64_t j = static_cast<int64_t>(i) + lag;
        if (j < 0) {
            continue;
        }
        if (j >= static_cast<int64_t>(test.size())) {
            break;
        }
        const double difference = static_cast<double>(reference[i]) - test[j];
        signal += static_cast<double>(reference[i]) * reference[i];
        noise += difference * difference;
    }
    if (noise == 0) {
        return INFINITY;
    }
    return 10 * std::log10(signal / noise);
}

int BestLag(const std::vector<int16_t>& reference, const std::vector<int16_t>& test, int max_lag) {
    int best = 0;
    double best_snr = -INFINITY;
    for (int lag = -max_lag; lag <= max_lag; ++lag) {
        const double snr = SnrDb(reference, test, lag);
        if (snr > best_snr) {
            best_snr = snr;
            best = lag;
        }
    }
    return best;
}

}  // namespace lyb::test
