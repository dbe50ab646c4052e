#pragma once

#include "core/Instant.h"
#include "core/QuendaError.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

struct zip;

/// A ZIP archive, either being created or opened for reading: the small part of libzip the package
/// format needs, with the safety that libzip does not give by itself.
///
/// Reading never touches the file system beyond the archive, and never trusts the archive's directory:
/// every extraction is bounded by a limit the caller gives (libzip alone would inflate past an entry's
/// declared size), and the CRC-32 of the extracted bytes is computed here with zlib, not taken from
/// libzip. Entries are enumerated by index, so duplicate names are all visible.
///
/// An archive object is used by one thread at a time; distinct objects are independent. Every failure
/// of libzip or of the file system is a `PlatformError` carrying libzip's description; an extraction
/// that goes past its limit is an `EntryTooLarge`. Errors thrown by a data provider or a consumer stop
/// the operation and propagate unchanged.
class ZipArchive {
public:
    /// The largest chunk handed to a consumer or asked of a data provider.
    static constexpr std::int64_t kChunkSize = 16384;

    enum class EntryKind {
        file,
        directory,
        symbolicLink,
        other, ///< a device, pipe or socket entry
    };

    enum class Compression { deflate, stored };

    struct Entry {
        std::uint64_t index = 0; ///< position in the archive's directory
        EntryKind kind = EntryKind::file;
        QString path;                   ///< the stored name, decoded as UTF-8
        std::uint64_t declaredSize = 0; ///< uncompressed size according to the directory; may lie
        std::uint32_t storedCRC = 0;    ///< CRC-32 according to the directory; may lie

        friend bool operator==(const Entry&, const Entry&) = default;
    };

    struct Extraction {
        std::uint32_t crc = 0;   ///< CRC-32 of the bytes handed to the consumer
        std::uint64_t size = 0;  ///< number of bytes handed to the consumer
    };

    /// Thrown by `extract` when an entry yields more bytes than the limit allows.
    class EntryTooLarge : public PlatformError {
    public:
        using PlatformError::PlatformError;
    };

    /// Fills `buffer` with up to `capacity` (at most kChunkSize) further bytes and returns how many it
    /// wrote; 0 means the data is complete. May throw to abort the archive.
    using DataProvider = std::function<std::int64_t(char* buffer, std::int64_t capacity)>;
    /// Receives the next chunk of an extraction (at most kChunkSize bytes). May throw to stop it.
    using Consumer = std::function<void(QByteArrayView chunk)>;

    /// Starts a new, empty archive that `commit` writes to `path`. A file already at `path` is replaced
    /// only when the commit succeeds.
    static ZipArchive create(const QString& path);
    /// Opens an existing archive for reading. Throws PlatformError when it is not a readable ZIP file.
    static ZipArchive open(const QString& path);

    ZipArchive(ZipArchive&& other) noexcept;
    ZipArchive& operator=(ZipArchive&& other) noexcept;
    /// Discards an archive being created that was not committed; closes one being read.
    ~ZipArchive();

    /// Adds a regular file entry (permissions 0644). `provider` is called during `commit` and must supply
    /// exactly `declaredSize` bytes, else the commit fails. Entries are written in the order added.
    void addFile(const QString& path, std::uint64_t declaredSize, Instant modifiedAt, Compression compression,
                 DataProvider provider);
    /// Convenience: adds `data` (shared, not copied).
    void addFile(const QString& path, const QByteArray& data, Instant modifiedAt, Compression compression);
    /// Writes the archive to its path and closes it. Nothing is synced to disk here.
    void commit();

    /// The number of entries in the archive's directory.
    std::uint64_t entryCount() const;
    /// The entry at `index` (below entryCount()), so that a reader can stop early without listing a
    /// directory of millions of entries.
    Entry entry(std::uint64_t index) const;
    /// All entries in archive order.
    QList<Entry> entries() const;

    /// Decompresses `entry` into `consumer` in chunks of at most kChunkSize bytes, never handing it more
    /// than `limit` bytes in total: the chunk that would go beyond is not passed on and EntryTooLarge is
    /// thrown. Returns the CRC-32 and size of what was handed over; comparing them with the directory's
    /// values is the caller's business (a CRC mismatch that libzip reports at the end of the entry is
    /// not an error here, for that reason).
    Extraction extract(const Entry& entry, std::uint64_t limit, const Consumer& consumer) const;

private:
    struct PendingFile;
    explicit ZipArchive(zip* archive, bool writing);

    zip* m_archive = nullptr;
    bool m_writing = false;
    std::vector<std::unique_ptr<PendingFile>> m_pending;
};
