// Plays a long file on the null device and reports the process's CPU use
// (user plus system time over wall time) and the memory allocations made
// while playing (every malloc, calloc and realloc, operator new included).
//
//   bench_player [SECONDS] [--fast]     (default 60 s of 8000 Hz 16-bit mono)
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "audio/output/wave_player.h"

extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void __libc_free(void*);
}

namespace {
std::atomic<bool> counting{false};
std::atomic<uint64_t> allocations{0};
}  // namespace

extern "C" void* malloc(size_t n) {
    if (counting.load(std::memory_order_relaxed))
        allocations.fetch_add(1);
    return __libc_malloc(n);
}
extern "C" void* calloc(size_t n, size_t m) {
    if (counting.load(std::memory_order_relaxed))
        allocations.fetch_add(1);
    return __libc_calloc(n, m);
}
extern "C" void* realloc(void* p, size_t n) {
    if (counting.load(std::memory_order_relaxed))
        allocations.fetch_add(1);
    return __libc_realloc(p, n);
}
extern "C" void free(void* p) {
    __libc_free(p);
}

namespace {

double CpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    auto s = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
    return s(u.ru_utime) + s(u.ru_stime);
}

std::string MakeFile(double seconds) {
    const char* tmp = std::getenv("TMPDIR");
    const std::string path = std::string(tmp && *tmp ? tmp : "/tmp") + "/bench_player.wav";
    const uint32_t rate = 8000;
    const uint32_t frames = static_cast<uint32_t>(seconds * rate);
    std::vector<int16_t> samples(frames);
    for (uint32_t i = 0; i < frames; ++i) {
        samples[i] = static_cast<int16_t>(8000 * std::sin(2 * M_PI * 220 * i / rate));
    }
    const uint32_t data = frames * 2;
    uint8_t h[44];
    auto le = [&](int at, uint32_t v, int n) {
        for (int i = 0; i < n; ++i)
            h[at + i] = static_cast<uint8_t>(v >> (8 * i));
    };
    std::memcpy(h, "RIFF", 4);
    le(4, data + 36, 4);
    std::memcpy(h + 8, "WAVEfmt ", 8);
    le(16, 16, 4);
    le(20, 1, 2);
    le(22, 1, 2);
    le(24, rate, 4);
    le(28, rate * 2, 4);
    le(32, 2, 2);
    le(34, 16, 2);
    std::memcpy(h + 36, "data", 4);
    le(40, data, 4);
    FILE* f = std::fopen(path.c_str(), "wb");
    std::fwrite(h, 1, sizeof h, f);
    std::fwrite(samples.data(), 2, frames, f);
    std::fclose(f);
    return path;
}

}  // namespace

int main(int argc, char** argv) {
    double seconds = 60;
    bool fast = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--fast") == 0) {
            fast = true;
        } else {
            seconds = std::atof(argv[i]);
        }
    }
    setenv("LYRABELL_AUDIO", "null", 1);
    const std::string path = MakeFile(seconds);
    lyb::audio::CWavePlayer player(path);
    std::mutex mutex;
    std::condition_variable endedSignal;
    bool ended = false;
    // The owner is told the end, as the window is; it does not poll.
    player.SetListener({nullptr, [&] {
                            std::lock_guard lock(mutex);
                            ended = true;
                            endedSignal.notify_all();
                        }});
    player.Play();
    if (fast)
        player.SetRateMode(lyb::audio::CWavePlayer::kRateFast);
    // Let the first buffers go round once before counting.
    while (player.Position() < 400)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));

    const auto wall0 = std::chrono::steady_clock::now();
    const double cpu0 = CpuSeconds();
    counting = true;
    {
        std::unique_lock lock(mutex);
        endedSignal.wait(lock, [&] { return ended; });
    }
    counting = false;
    const double cpu = CpuSeconds() - cpu0;
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - wall0).count();
    player.Stop();
    std::printf(
        "played %.1f s of audio%s in %.2f s: cpu %.3f s = %.2f %% of one core; "
        "%llu allocations while playing\n",
        seconds, fast ? " at the fast rate" : "", wall, cpu, 100 * cpu / wall,
        static_cast<unsigned long long>(allocations.load()));
    std::remove(path.c_str());
    return 0;
}
