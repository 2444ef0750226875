// From the start of a decoding job to the first sample on the sound device,
// per format: the job is made and started, the player starts on the job's
// first-block notice (as the window does), and the first sample is seen when
// the capture device's file grows past its header. Each format runs 20 times;
// the median and the 95th percentile are reported, with the time to the
// notice beside them.
//
//   bench_first_sound [RECORDING...]
// Without arguments: 30 s of each wave encoding we decode ourselves, and raw
// GSM. Recordings named on the command line (MP3, M4A, ... for the media
// libraries) are measured as well.
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "audio/decode/wave_decoder.h"
#include "audio/output/wave_player.h"
#include "bench/audio/bench_recordings.h"

using namespace lyb::audio;
using namespace lyb::bench;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kRuns = 20;
constexpr uint32_t kSeconds = 30;

std::string TempPath(const std::string& name) {
    const char* tmp = std::getenv("TMPDIR");
    return std::string(tmp && *tmp ? tmp : "/tmp") + "/" + name;
}

const std::string kCapture = TempPath("bench-first-sound-capture.wav");

// Writes the recording where the job reads it.
std::string MakeRecording(const BenchEncoding& e) {
    const std::vector<uint8_t> bytes = BenchRecording(e, kSeconds);
    const std::string path = TempPath("bench-first-sound-" + std::to_string(e.tag) + e.suffix());
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return path;
}

class Notices : public IDecodeNotifier {
public:
    void post(uint32_t message, const std::string&) override {
        std::lock_guard lock(mutex_);
        if (message == WM_DECODING_STARTED)
            started_ = true;
        if (message == WM_DECODING_FINISHED)
            finished_ = true;
        changed_.notify_all();
    }
    // False when the job finished without a first block (a refused input).
    bool waitStarted() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return started_ || finished_; });
        return started_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool started_ = false;
    bool finished_ = false;
};

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

struct Run {
    double notice = 0;       // job start to the first-block notice
    double firstSample = 0;  // job start to the first sample on the device
};

bool MeasureOnce(const std::string& input, Run& run) {
    const std::string output = TempPath("bench-first-sound-out.wav");
    ::unlink(kCapture.c_str());
    Notices notices;
    const Clock::time_point start = Clock::now();
    CWaveDecoder job(input, output, &notices);
    job.Start();
    if (!notices.waitStarted())
        return false;
    run.notice = Ms(Clock::now() - start);
    CWavePlayer player(output, CWavePlayer::Source::kGrowing);
    player.Play();
    struct stat st {};
    while (::stat(kCapture.c_str(), &st) != 0 || st.st_size <= 44)
        std::this_thread::sleep_for(std::chrono::microseconds(100));
    run.firstSample = Ms(Clock::now() - start);
    player.Stop();
    return true;
}

bool Measure(const std::string& name, const std::string& input) {
    std::vector<double> notice, first;
    for (int i = 0; i < kRuns; ++i) {
        Run run;
        if (!MeasureOnce(input, run)) {
            std::printf("%-24s refused\n", name.c_str());
            return false;
        }
        notice.push_back(run.notice);
        first.push_back(run.firstSample);
    }
    std::printf("%-24s %8.1f %8.1f %10.1f %8.1f\n", name.c_str(), Percentile(notice, 0.5),
                Percentile(notice, 0.95), Percentile(first, 0.5), Percentile(first, 0.95));
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    setenv("LYRABELL_AUDIO", ("capture:" + kCapture).c_str(), 1);
    std::printf("job start to, in ms, over %d runs (%u s recordings where made here):\n", kRuns,
                kSeconds);
    std::printf("%-24s %8s %8s %10s %8s\n", "format", "notice", "p95", "1st sample", "p95");
    bool ok = true;
    for (const BenchEncoding& e : BenchEncodings())
        ok = Measure(e.name, MakeRecording(e)) && ok;
    for (int i = 1; i < argc; ++i) {
        std::string name = argv[i];
        name = name.substr(name.find_last_of('/') + 1);
        ok = Measure(name, argv[i]) && ok;
    }
    return ok ? 0 : 1;
}
