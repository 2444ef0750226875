#include "platform/mapi/part_stream.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace lyb::mapi {

namespace {

constexpr uint8_t kSkip = 0xFF;
constexpr uint8_t kPad = 0xFE;

constexpr std::array<uint8_t, 256> makeRanks() {
    std::array<uint8_t, 256> ranks{};
    for (auto& r : ranks)
        r = kSkip;
    const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    for (uint8_t i = 0; i < 64; ++i)
        ranks[static_cast<uint8_t>(alphabet[i])] = i;
    ranks['='] = kPad;
    return ranks;
}

constexpr std::array<uint8_t, 256> kRanks = makeRanks();

// The least input decoded at a time while reading.
constexpr size_t kMinChunk = 1024;

// The alphabet's symbols in [from, to), written so that it vectorises.
size_t countSymbols(const char* from, const char* to) {
    size_t count = 0;
    const auto* p = reinterpret_cast<const unsigned char*>(from);
    const auto* end = reinterpret_cast<const unsigned char*>(to);
    while (p < end) {
        // Byte-wide sums of at most 255 bytes keep the vector lanes narrow.
        const auto* block = p + std::min<ptrdiff_t>(255, end - p);
        unsigned char sum = 0;
        for (; p < block; ++p) {
            const unsigned char c = *p;
            const auto letter = static_cast<unsigned char>((c | 0x20) - 'a');  // either case
            const auto digit = static_cast<unsigned char>(c - '0');
            sum +=
                static_cast<unsigned char>((letter < 26) | (digit < 10) | (c == '+') | (c == '/'));
        }
        count += sum;
    }
    return count;
}

class CPartStream final : public CBufferStream {
public:
    CPartStream(const PartContent& part, uint64_t size) : part_(part), size_(size) {}

protected:
    const uint8_t* bytes() const override {
        if (part_.base64)
            return decoded_.data();
        return reinterpret_cast<const uint8_t*>(part_.source.constData() + part_.offset);
    }
    uint64_t size() const override { return size_; }
    void prepare(uint64_t end) override {
        while (part_.base64 && decoded_.size() < end && !finished_) {
            // Four symbols make three bytes; line breaks add a little.
            const size_t wanted = std::max<size_t>(kMinChunk, (end - decoded_.size()) / 3 * 4 + 64);
            const size_t n = std::min<size_t>(wanted, size_t(part_.length - consumed_));
            const size_t at = decoded_.size();
            decoded_.resize(at + n * 3 / 4 + 3);
            const char* in = part_.source.constData() + part_.offset + consumed_;
            size_t got = decoder_.step(in, n, decoded_.data() + at);
            consumed_ += static_cast<qsizetype>(n);
            if (consumed_ == part_.length) {
                got += decoder_.finish(decoded_.data() + at + got);
                finished_ = true;
            }
            decoded_.resize(at + got);
        }
    }

private:
    const PartContent part_;
    const uint64_t size_;
    std::vector<uint8_t> decoded_;
    CBase64Decoder decoder_;
    qsizetype consumed_ = 0;  // input decoded so far
    bool finished_ = false;   // all input decoded, the last group too
};

}  // namespace

size_t CBase64Decoder::step(const char* in, size_t n, uint8_t* out) {
    size_t produced = 0;
    if (!out) {
        // Counting only needs the number of symbols between pads.
        size_t run = static_cast<size_t>(symbols_);
        const char* end = in + n;
        while (in < end) {
            const char* pad = static_cast<const char*>(std::memchr(in, '=', size_t(end - in)));
            run += countSymbols(in, pad ? pad : end);
            if (!pad)
                break;
            produced += run / 4 * 3 + (run % 4 >= 2 ? run % 4 - 1 : 0);
            run = 0;
            in = pad + 1;
        }
        produced += run / 4 * 3;
        symbols_ = static_cast<int>(run % 4);
        bits_ = 0;
        return produced;
    }
    // Locals, since stores through out could otherwise change the members.
    uint32_t bits = bits_;
    int symbols = symbols_;
    for (size_t i = 0; i < n; ++i) {
        const uint8_t rank = kRanks[static_cast<uint8_t>(in[i])];
        if (rank == kSkip)
            continue;
        if (rank == kPad) {
            bits_ = bits;
            symbols_ = symbols;
            produced += finish(out + produced);
            bits = 0;
            symbols = 0;
            continue;
        }
        bits = (bits << 6) | rank;
        if (++symbols == 4) {
            out[produced] = static_cast<uint8_t>(bits >> 16);
            out[produced + 1] = static_cast<uint8_t>(bits >> 8);
            out[produced + 2] = static_cast<uint8_t>(bits);
            produced += 3;
            bits = 0;
            symbols = 0;
        }
    }
    bits_ = bits;
    symbols_ = symbols;
    return produced;
}

size_t CBase64Decoder::finish(uint8_t* out) {
    // Two symbols hold one byte, three hold two; a lone symbol holds none.
    const size_t n = symbols_ >= 2 ? static_cast<size_t>(symbols_ - 1) : 0;
    if (out && n > 0) {
        const uint32_t bits = bits_ << (6 * (4 - symbols_));
        out[0] = static_cast<uint8_t>(bits >> 16);
        if (n == 2)
            out[1] = static_cast<uint8_t>(bits >> 8);
    }
    bits_ = 0;
    symbols_ = 0;
    return n;
}

uint64_t PartContent::decodedSize() const {
    if (!base64)
        return static_cast<uint64_t>(length);
    CBase64Decoder counter;
    const size_t n = counter.step(source.constData() + offset, size_t(length), nullptr);
    return n + counter.finish(nullptr);
}

QByteArray PartContent::decoded() const {
    if (!base64)
        return source.mid(offset, length);
    QByteArray out(length * 3 / 4 + 3, Qt::Uninitialized);
    CBase64Decoder decoder;
    auto* p = reinterpret_cast<uint8_t*>(out.data());
    size_t n = decoder.step(source.constData() + offset, size_t(length), p);
    n += decoder.finish(p + n);
    out.truncate(static_cast<qsizetype>(n));
    return out;
}

IStream* PartContent::open() const {
    const uint64_t size = decodedSize();
    return size == 0 ? nullptr : new CPartStream(*this, size);
}

}  // namespace lyb::mapi
