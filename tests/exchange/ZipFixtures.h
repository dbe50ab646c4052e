#pragma once

// Hand-built ZIP files for the adversarial tests: every field that a hostile archive can lie about is
// set here directly, without going through an archive library that would refuse to write it.

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QString>

#include <zlib.h>

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <tuple>

namespace zipfixtures {

constexpr std::uint32_t kRegularFile = 0100644u << 16;
constexpr std::uint32_t kDirectory = 0040755u << 16;
constexpr std::uint32_t kSymbolicLink = 0120777u << 16;
constexpr std::uint32_t kFifo = 0010644u << 16;

struct RawEntry {
    QByteArray name;
    QByteArray data;
    bool deflate = true;
    std::uint32_t externalAttributes = kRegularFile;
    std::uint8_t madeBy = 3; // Unix
    // Overrides for lying archives; by default the true values are written.
    std::optional<std::uint32_t> declaredSize;
    std::optional<std::uint32_t> crc;
    std::optional<QByteArray> compressed; // raw deflate stream written as is
};

inline std::uint32_t crcOf(const QByteArray& data) {
    return std::uint32_t(::crc32(::crc32(0, nullptr, 0), reinterpret_cast<const Bytef*>(data.constData()),
                                 uInt(data.size())));
}

/// Raw deflate (no zlib header), as stored in ZIP entries. `flush` Z_FULL_FLUSH leaves the stream open
/// and byte-aligned, so that such pieces can be concatenated.
inline QByteArray rawDeflate(const QByteArray& data, int flush = Z_FINISH) {
    z_stream stream{};
    if (deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        throw std::runtime_error("deflateInit2");
    QByteArray out(int(deflateBound(&stream, uLong(data.size()))) + 64, '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.constData()));
    stream.avail_in = uInt(data.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = uInt(out.size());
    const int result = deflate(&stream, flush);
    if (result != (flush == Z_FINISH ? Z_STREAM_END : Z_OK))
        throw std::runtime_error("deflate");
    out.resize(qsizetype(stream.total_out));
    deflateEnd(&stream);
    return out;
}

/// A deflate stream that inflates to `mebibytes` MiB of zero bytes from about 1 KiB per MiB: the same
/// independently compressed block repeated, then an empty final block.
inline QByteArray zeroBomb(int mebibytes) {
    const QByteArray block = rawDeflate(QByteArray(1 << 20, '\0'), Z_FULL_FLUSH);
    QByteArray stream;
    stream.reserve(block.size() * mebibytes + 2);
    for (int i = 0; i < mebibytes; ++i)
        stream += block;
    stream += QByteArray("\x03\x00", 2);
    return stream;
}

inline void put16(QByteArray& out, std::uint32_t value) {
    out += char(value & 0xff);
    out += char((value >> 8) & 0xff);
}
inline void put32(QByteArray& out, std::uint32_t value) {
    put16(out, value & 0xffff);
    put16(out, value >> 16);
}

/// A complete ZIP file of `entries`, in order, duplicates and lies included.
inline QByteArray buildZip(const QList<RawEntry>& entries) {
    QByteArray out;
    QByteArray directory;
    for (const RawEntry& entry : entries) {
        const QByteArray payload = entry.compressed ? *entry.compressed
                                   : entry.deflate  ? rawDeflate(entry.data)
                                                    : entry.data;
        const std::uint32_t method = entry.deflate || entry.compressed ? 8 : 0;
        const std::uint32_t crc = entry.crc.value_or(crcOf(entry.data));
        const std::uint32_t size = entry.declaredSize.value_or(std::uint32_t(entry.data.size()));
        const auto offset = std::uint32_t(out.size());

        put32(out, 0x04034b50);
        put16(out, 20);
        put16(out, 0);
        put16(out, method);
        put16(out, 0);      // time
        put16(out, 0x5821); // date 2024-01-01
        put32(out, crc);
        put32(out, std::uint32_t(payload.size()));
        put32(out, size);
        put16(out, std::uint32_t(entry.name.size()));
        put16(out, 0);
        out += entry.name;
        out += payload;

        put32(directory, 0x02014b50);
        put16(directory, (std::uint32_t(entry.madeBy) << 8) | 20);
        put16(directory, 20);
        put16(directory, 0);
        put16(directory, method);
        put16(directory, 0);
        put16(directory, 0x5821);
        put32(directory, crc);
        put32(directory, std::uint32_t(payload.size()));
        put32(directory, size);
        put16(directory, std::uint32_t(entry.name.size()));
        put16(directory, 0); // extra
        put16(directory, 0); // comment
        put16(directory, 0); // disk
        put16(directory, 0); // internal attributes
        put32(directory, entry.externalAttributes);
        put32(directory, offset);
        directory += entry.name;
    }
    const auto directoryOffset = std::uint32_t(out.size());
    out += directory;
    put32(out, 0x06054b50);
    put16(out, 0);
    put16(out, 0);
    put16(out, std::uint32_t(entries.size()));
    put16(out, std::uint32_t(entries.size()));
    put32(out, std::uint32_t(directory.size()));
    put32(out, directoryOffset);
    put16(out, 0);
    return out;
}

/// Rewrites, in both the local header and the central directory record of the entry named `name`, the
/// 32-bit field at `localOffset` / `centralOffset` (from the start of each header). Returns the number
/// of headers patched.
inline int patchField(QByteArray& zip, const QByteArray& name, int localOffset, int centralOffset,
                      std::uint32_t value) {
    int patched = 0;
    const auto patchAt = [&](qsizetype at) {
        QByteArray bytes;
        put32(bytes, value);
        zip.replace(at, 4, bytes);
        ++patched;
    };
    for (const auto& [signature, fieldOffset, nameOffset] :
         {std::tuple{QByteArray("PK\x03\x04", 4), localOffset, 30},
          std::tuple{QByteArray("PK\x01\x02", 4), centralOffset, 46}}) {
        const int lengthOffset = nameOffset == 30 ? 26 : 28;
        for (qsizetype at = zip.indexOf(signature); at >= 0; at = zip.indexOf(signature, at + 4)) {
            const auto length = std::uint8_t(zip[at + lengthOffset]) | std::uint8_t(zip[at + lengthOffset + 1]) << 8;
            if (length == name.size() && zip.mid(at + nameOffset, name.size()) == name)
                patchAt(at + fieldOffset);
        }
    }
    return patched;
}

/// Field offsets in the local header and in the central directory record.
constexpr int kLocalCRC = 14, kCentralCRC = 16;
constexpr int kLocalUncompressedSize = 22, kCentralUncompressedSize = 24;

inline void writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        throw std::runtime_error("cannot write fixture");
}

inline QByteArray readFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw std::runtime_error("cannot read fixture");
    return file.readAll();
}

} // namespace zipfixtures
