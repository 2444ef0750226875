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

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "audio/decode/wave_decoder.h"
#include "audio/output/wave_player.h"

using namespace lyb::audio;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kRuns = 20;
constexpr uint32_t kSeconds = 30;

std::string TempPath(const std::string& name) {
    const char* tmp = std::getenv("TMPDIR");
    return std::string(tmp && *tmp ? tmp : "/tmp") + "/" + name;
}

const std::string kCapture = TempPath("bench-first-sound-capture.wav");

struct Encoding {
    const char* name;
    uint16_t tag;  // 0: raw GSM
    uint16_t align;
    uint16_t bits;
    uint32_t bytesPerSecond;
    std::vector<uint8_t> extension;
};

void Le(std::vector<uint8_t>& out, uint32_t v, int n) {
    for (int i = 0; i < n; ++i)
        out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// Noise in the encoding: every decoder takes it, and its cost does not
// depend on what the samples sound like.
std::string MakeRecording(const Encoding& e) {
    std::mt19937 random(e.tag);
    std::vector<uint8_t> data(size_t{e.bytesPerSecond} * kSeconds);
    for (auto& b : data)
        b = static_cast<uint8_t>(random());
    std::vector<uint8_t> bytes;
    if (e.tag != 0) {
        const uint32_t fmtSize = 16 + static_cast<uint32_t>(e.extension.size());
        bytes.insert(bytes.end(), {'R', 'I', 'F', 'F'});
        Le(bytes, 4 + 8 + fmtSize + 8 + static_cast<uint32_t>(data.size()), 4);
        bytes.insert(bytes.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
        Le(bytes, fmtSize, 4);
        Le(bytes, e.tag, 2);
        Le(bytes, 1, 2);
        Le(bytes, 8000, 4);
        Le(bytes, e.bytesPerSecond, 4);
        Le(bytes, e.align, 2);
        Le(bytes, e.bits, 2);
        bytes.insert(bytes.end(), e.extension.begin(), e.extension.end());
        bytes.insert(bytes.end(), {'d', 'a', 't', 'a'});
        Le(bytes, static_cast<uint32_t>(data.size()), 4);
    }
    bytes.insert(bytes.end(), data.begin(), data.end());
    const std::string path = TempPath(std::string("bench-first-sound-") + std::to_string(e.tag) +
                                      (e.tag == 0 ? ".gsm" : ".wav"));
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

// The value at rank ceil(p * n) of the sorted values.
double Percentile(std::vector<double> values, double p) {
    std::sort(values.begin(), values.end());
    const size_t rank = static_cast<size_t>(std::max(1.0, std::ceil(p * double(values.size()))));
    return values[std::min(rank, values.size()) - 1];
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
    const std::vector<uint8_t> ima = {2, 0, 0xF9, 0x01};
    const Encoding encodings[] = {
        {"PCM 16-bit", 1, 2, 16, 16000, {}},
        {"A-law", 6, 1, 8, 8000, {}},
        {"mu-law", 7, 1, 8, 8000, {}},
        {"IMA ADPCM", 17, 256, 4, 4055, ima},
        {"Microsoft ADPCM", 2, 256, 4, 4096, {}},
        {"OKI ADPCM", 16, 1, 4, 4000, {}},
        {"GSM (WAV49)", 49, 65, 0, 1625, {}},
        {"G.729", 307, 10, 0, 1000, {}},
        {"raw GSM", 0, 33, 0, 1650, {}},
    };
    std::printf("job start to, in ms, over %d runs (%u s recordings where made here):\n", kRuns,
                kSeconds);
    std::printf("%-24s %8s %8s %10s %8s\n", "format", "notice", "p95", "1st sample", "p95");
    bool ok = true;
    for (const Encoding& e : encodings)
        ok = Measure(e.name, MakeRecording(e)) && ok;
    for (int i = 1; i < argc; ++i) {
        std::string name = argv[i];
        name = name.substr(name.find_last_of('/') + 1);
        ok = Measure(name, argv[i]) && ok;
    }
    return ok ? 0 : 1;
}
