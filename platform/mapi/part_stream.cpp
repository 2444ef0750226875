#include "platform/mapi/part_stream.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>

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

// The bytes that in[0..n) still gives, at its end, after what counter has seen.
uint64_t countDecoded(CBase64Decoder counter, const char* in, size_t n) {
    const size_t produced = counter.step(in, n, nullptr);
    return produced + counter.finish(nullptr);
}

class CPartStream final : public CBufferStream {
public:
    explicit CPartStream(const PartContent& part) : part_(part) {}

protected:
    const uint8_t* bytes() const override {
        if (part_.base64)
            return decoded_.data();
        return reinterpret_cast<const uint8_t*>(part_.source.constData() + part_.offset);
    }
    // Counted, not decoded, when asked before the end has been read.
    uint64_t size() const override {
        if (!part_.base64)
            return static_cast<uint64_t>(part_.length);
        if (finished_)
            return decoded_.size();
        if (!size_) {
            size_ = decoded_.size() +
                    countDecoded(decoder_, part_.source.constData() + part_.offset + consumed_,
                                 size_t(part_.length - consumed_));
        }
        return *size_;
    }
    uint64_t extent(uint64_t end) override {
        if (!part_.base64)
            return CBufferStream::extent(end);
        while (decoded_.size() < end && !finished_) {
            // Four symbols make three bytes; line breaks add a little.
            const uint64_t missing = std::min<uint64_t>(end - decoded_.size(), SIZE_MAX / 2);
            const size_t wanted = std::max<size_t>(kMinChunk, missing / 3 * 4 + 64);
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
        return std::min<uint64_t>(end, decoded_.size());
    }

private:
    const PartContent part_;
    std::vector<uint8_t> decoded_;
    CBase64Decoder decoder_;
    qsizetype consumed_ = 0;  // input decoded so far
    bool finished_ = false;   // all input decoded, the last group too
    mutable std::optional<uint64_t> size_;
};

// Whether base64 input decodes to at least one byte, counted a little at a time.
bool decodesToSomething(const char* in, size_t n) {
    constexpr size_t kStep = 256;
    CBase64Decoder counter;
    for (size_t at = 0; at < n; at += kStep) {
        if (counter.step(in + at, std::min(kStep, n - at), nullptr) > 0)
            return true;
    }
    return counter.finish(nullptr) > 0;
}

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
    const auto* text = reinterpret_cast<const uint8_t*>(in);
    size_t i = 0;
    while (i < n) {
        if (symbols == 0) {
            // Between groups, four symbols at a time while no line break,
            // pad or junk comes.
            for (; i + 4 <= n; i += 4) {
                const uint32_t a = kRanks[text[i]], b = kRanks[text[i + 1]],
                               c = kRanks[text[i + 2]], d = kRanks[text[i + 3]];
                if ((a | b | c | d) >= 64)
                    break;
                const uint32_t group = a << 18 | b << 12 | c << 6 | d;
                out[produced] = static_cast<uint8_t>(group >> 16);
                out[produced + 1] = static_cast<uint8_t>(group >> 8);
                out[produced + 2] = static_cast<uint8_t>(group);
                produced += 3;
            }
            if (i == n)
                break;
        }
        const uint8_t rank = kRanks[text[i++]];
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
    return countDecoded(CBase64Decoder(), source.constData() + offset, size_t(length));
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
    const bool empty =
        base64 ? !decodesToSomething(source.constData() + offset, size_t(length)) : length == 0;
    return empty ? nullptr : new CPartStream(*this);
}

}  // namespace lyb::mapi
