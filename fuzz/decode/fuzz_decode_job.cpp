// The whole decoding job on arbitrary bytes given as a store stream. The
// first byte's low bit marks the stream as raw GSM; the rest is the input.
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <vector>

#include "audio/decode/wave_decoder.h"

namespace {

class Notifier : public lyb::audio::IDecodeNotifier {
public:
    void post(uint32_t message, const std::string&) override {
        std::lock_guard lock(mutex_);
        if (message == lyb::audio::WM_DECODING_FINISHED)
            finished_ = true;
        changed_.notify_all();
    }
    // Waits for the end of decoding; false when the output grew past what a
    // short fuzz run can afford (a few bytes of some codecs stand for hours
    // of sound), and the job is then stopped by its destructor.
    bool wait(const std::string& output) {
        std::unique_lock lock(mutex_);
        while (
            !changed_.wait_for(lock, std::chrono::milliseconds(50), [this] { return finished_; })) {
            struct stat st {};
            if (::stat(output.c_str(), &st) == 0 && st.st_size > kMaxOutput)
                return false;
        }
        return true;
    }
    static constexpr off_t kMaxOutput = 64 << 20;

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool finished_ = false;
};

// The output file, one per process, removed when the process ends.
struct Output {
    Output() {
        const char* tmp = std::getenv("TMPDIR");
        path = std::string(tmp ? tmp : "/tmp") + "/fuzz_decode_job." + std::to_string(getpid()) +
               ".wav";
    }
    ~Output() { unlink(path.c_str()); }
    std::string path;
};

const std::string& OutputPath() {
    static const Output output;
    return output.path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    const bool gsm = data[0] & 1;
    std::vector<uint8_t> input(data + 1, data + size);
    Notifier notifier;
    try {
        lyb::audio::CWaveDecoder decoder(new lyb::mapi::CMemoryStream(std::move(input)),
                                         OutputPath(), &notifier, gsm);
        decoder.Start();
        if (!notifier.wait(OutputPath()))
            return 0;
    } catch (const lyb::CException&) {
        return 0;
    }
    // Whatever was written starts with a well-formed PCM header whose sizes
    // count the audio that follows it.
    std::ifstream in(OutputPath(), std::ios::binary);
    const std::vector<uint8_t> out{std::istreambuf_iterator<char>(in), {}};
    if (!out.empty()) {
        lyb::audio::WaveHeader header;
        if (out.size() < 44 || !lyb::audio::ParseWaveHeaderFromMemory(header, out.data(), 44) ||
            header.format_tag == 0 || header.data_size != out.size() - 44 ||
            header.riff_size != out.size() - 8) {
            std::abort();
        }
    }
    return 0;
}
