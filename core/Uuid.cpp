#include "core/Uuid.h"

#include <QRandomGenerator>

#include <cerrno>
#include <cstring>

#include <sys/random.h>

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";
// Positions of the hyphens in the canonical 36-character text.
constexpr bool isHyphenPosition(int i) { return i == 8 || i == 13 || i == 18 || i == 23; }

int hexValue(char16_t c) {
    if (c >= u'0' && c <= u'9')
        return c - u'0';
    if (c >= u'a' && c <= u'f')
        return c - u'a' + 10;
    if (c >= u'A' && c <= u'F')
        return c - u'A' + 10;
    return -1;
}

char16_t unit(QChar c) { return c.unicode(); }

template <typename Text>
std::optional<Uuid> parse(const Text& text) {
    if (text.size() != 36)
        return std::nullopt;
    Uuid::Bytes bytes{};
    int nibble = 0;
    for (int i = 0; i < 36; ++i) {
        const char16_t c = unit(text[i]);
        if (isHyphenPosition(i)) {
            if (c != u'-')
                return std::nullopt;
            continue;
        }
        const int v = hexValue(c);
        if (v < 0)
            return std::nullopt;
        bytes[nibble / 2] = static_cast<std::uint8_t>((bytes[nibble / 2] << 4) | v);
        ++nibble;
    }
    return Uuid(bytes);
}

// Bytes from the kernel's cryptographic generator; Qt's system generator if that is unavailable.
void fillFromSystem(std::uint8_t* out, std::size_t size) {
    std::size_t filled = 0;
    while (filled < size) {
        const ssize_t got = getrandom(out + filled, size - filled, 0);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            for (; filled < size; ++filled)
                out[filled] = static_cast<std::uint8_t>(QRandomGenerator::system()->generate());
            return;
        }
        filled += static_cast<std::size_t>(got);
    }
}

} // namespace

Uuid Uuid::createRandom() {
    // The operating system's generator is the source of every identifier, but asking it for 16 bytes at
    // a time costs more than a whole scheduled review (here Qt's system generator runs the CPU's
    // RDRAND, slow on these machines). Take its output 4 KiB at a time; each byte is handed out once.
    // (A process forking without exec would repeat the parent's pending bytes; Quenda only forks to exec.)
    thread_local struct {
        std::array<std::uint8_t, 4096> bytes;
        std::size_t next = 4096;
    } pool;
    if (pool.next == pool.bytes.size()) {
        fillFromSystem(pool.bytes.data(), pool.bytes.size());
        pool.next = 0;
    }
    Bytes bytes;
    std::memcpy(bytes.data(), pool.bytes.data() + pool.next, bytes.size());
    pool.next += bytes.size();
    bytes[6] = static_cast<std::uint8_t>((bytes[6] & 0x0F) | 0x40); // version 4
    bytes[8] = static_cast<std::uint8_t>((bytes[8] & 0x3F) | 0x80); // RFC 4122 variant
    return Uuid(bytes);
}

std::optional<Uuid> Uuid::fromString(QStringView text) { return parse(text); }

// The store parses two or three identifiers per payload at start-up, a few million in all: this
// form reads each byte once through a table instead of branching on it.
std::optional<Uuid> Uuid::fromString(std::string_view ascii) {
    static constexpr std::array<std::uint8_t, 256> kValues = [] {
        std::array<std::uint8_t, 256> values{};
        values.fill(0xFF);
        for (int c = 0; c < 10; ++c)
            values['0' + c] = std::uint8_t(c);
        for (int c = 0; c < 6; ++c)
            values['a' + c] = values['A' + c] = std::uint8_t(10 + c);
        return values;
    }();
    static constexpr std::array<std::uint8_t, 16> kOffsets{0, 2, 4, 6, 9, 11, 14, 16, 19, 21, 24, 26, 28, 30, 32, 34};
    if (ascii.size() != 36 || ascii[8] != '-' || ascii[13] != '-' || ascii[18] != '-' || ascii[23] != '-')
        return std::nullopt;
    const auto* text = reinterpret_cast<const unsigned char*>(ascii.data());
    Uuid::Bytes bytes;
    unsigned invalid = 0;
    for (std::size_t i = 0; i < 16; ++i) {
        const std::uint8_t high = kValues[text[kOffsets[i]]];
        const std::uint8_t low = kValues[text[kOffsets[i] + 1]];
        invalid |= high | low;
        bytes[i] = std::uint8_t((high << 4) | (low & 0x0F));
    }
    if (invalid & 0xF0)
        return std::nullopt;
    return Uuid(bytes);
}

void Uuid::writeCanonical(char* out) const {
    int byte = 0;
    for (int i = 0; i < 36; ++i) {
        if (isHyphenPosition(i)) {
            out[i] = '-';
            continue;
        }
        out[i] = kHexDigits[m_bytes[byte] >> 4];
        out[++i] = kHexDigits[m_bytes[byte] & 0x0F];
        ++byte;
    }
}

QString Uuid::toString() const {
    char text[36];
    writeCanonical(text);
    return QString::fromLatin1(text, 36);
}

size_t qHash(const Uuid& id, size_t seed) noexcept {
    std::uint64_t a;
    std::uint64_t b;
    std::memcpy(&a, id.bytes().data(), 8);
    std::memcpy(&b, id.bytes().data() + 8, 8);
    // Random identifiers are already uniform; fold the halves and mix in the seed.
    std::uint64_t h = a ^ (b * 0x9E3779B97F4A7C15ULL) ^ seed;
    h ^= h >> 32;
    return static_cast<size_t>(h);
}
