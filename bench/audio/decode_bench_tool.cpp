// lyb_decode_bench: the helper of bench/audio/decode-vs-ffmpeg.
//
//   lyb_decode_bench repeat IN OUT SECONDS [--bare]
//     Writes OUT with IN's audio repeated until it lasts at least SECONDS: a
//     wave file's data chunk is repeated whole (its blocks and frames stay
//     aligned) under a copy of IN's header with the sizes fixed; any other file
//     (raw GSM) is repeated whole. --bare writes only the repeated audio.
//
//   lyb_decode_bench measure COMMAND [ARGS...]
//     Runs the command and prints "SECONDS MAX_RSS_KIB" for it: wall-clock
//     time and the child's peak resident set size.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

uint32_t Le32(const std::vector<uint8_t>& b, size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}

void PutLe32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        b[at + i] = static_cast<uint8_t>(v >> (8 * i));
    }
}

int Repeat(const char* in_path, const char* out_path, double seconds, bool bare) {
    std::ifstream in(in_path, std::ios::binary);
    std::vector<uint8_t> file{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (file.empty()) {
        std::fprintf(stderr, "repeat: cannot read %s\n", in_path);
        return 1;
    }
    std::vector<uint8_t> header;
    std::vector<uint8_t> audio = file;
    double bytes_per_second = 1650;  // raw GSM: 50 frames of 33 bytes
    size_t data_size_at = 0;
    if (file.size() >= 44 && std::memcmp(file.data(), "RIFF", 4) == 0) {
        bytes_per_second = Le32(file, 28);
        size_t at = 12;
        while (at + 8 <= file.size() && std::memcmp(&file[at], "data", 4) != 0) {
            at += 8 + Le32(file, at + 4);
        }
        if (at + 8 > file.size() || bytes_per_second <= 0) {
            std::fprintf(stderr, "repeat: %s has no data chunk\n", in_path);
            return 1;
        }
        const size_t data_size = std::min<size_t>(Le32(file, at + 4), file.size() - at - 8);
        header.assign(file.begin(), file.begin() + at + 8);
        audio.assign(file.begin() + at + 8, file.begin() + at + 8 + data_size);
        data_size_at = at + 4;
    }
    const size_t copies =
        static_cast<size_t>(seconds * bytes_per_second / static_cast<double>(audio.size())) + 1;
    const uint64_t total = static_cast<uint64_t>(copies) * audio.size();
    if (!header.empty()) {
        PutLe32(header, 4, static_cast<uint32_t>(header.size() - 8 + total));
        PutLe32(header, data_size_at, static_cast<uint32_t>(total));
    }
    std::ofstream out(out_path, std::ios::binary | std::ios::trunc);
    if (!bare) {
        out.write(reinterpret_cast<const char*>(header.data()), header.size());
    }
    for (size_t i = 0; i < copies; ++i) {
        out.write(reinterpret_cast<const char*>(audio.data()), audio.size());
    }
    out.close();
    if (!out) {
        std::fprintf(stderr, "repeat: cannot write %s\n", out_path);
        return 1;
    }
    return 0;
}

int Measure(char** argv) {
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid < 0) {
        std::perror("fork");
        return 1;
    }
    if (pid == 0) {
        execvp(argv[0], argv);
        std::perror(argv[0]);
        _exit(127);
    }
    int status = 0;
    struct rusage usage {};
    if (wait4(pid, &status, 0, &usage) != pid) {
        std::perror("wait4");
        return 1;
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%.3f %ld\n", seconds, usage.ru_maxrss);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 5 && std::strcmp(argv[1], "repeat") == 0) {
        const bool bare = argc == 6 && std::strcmp(argv[5], "--bare") == 0;
        return Repeat(argv[2], argv[3], std::atof(argv[4]), bare);
    }
    if (argc >= 3 && std::strcmp(argv[1], "measure") == 0) {
        return Measure(argv + 2);
    }
    std::fprintf(stderr,
                 "usage: lyb_decode_bench repeat IN OUT SECONDS [--bare]\n"
                 "       lyb_decode_bench measure COMMAND [ARGS...]\n");
    return 2;
}
