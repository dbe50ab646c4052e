#pragma once

#include "core/Instant.h"
#include "core/LibraryRecords.h"
#include "core/QuendaError.h"

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <cstdint>

/// What a package carries: decks to share without personal progress, or a whole library with it.
/// JSON text: "deck", "backup".
enum class PackageKind { deck, backup };

/// A package read and verified, ready for the import preview.
struct ImportedPackage {
    PackageKind kind = PackageKind::deck;
    LibrarySnapshot snapshot;
    QMap<QString, QByteArray> media; ///< image identifier → the image's bytes

    friend bool operator==(const ImportedPackage&, const ImportedPackage&) = default;
};

/// Quenda's own exchange file: a ZIP archive holding "manifest.json", "library.json" (the snapshot as
/// JSON with sorted keys and millisecond dates) and one stored entry "media/<identifier>" per image the
/// notes use, in ascending order of identifier.
///
/// `write` and `read` are synchronous, share no state and may run on any thread (the application runs
/// them away from the user-interface thread). Failures are thrown: QuendaError for every check (all
/// `invalidContent` except the unsupported-version refusal, which is `incompatibleFormat`), and
/// PlatformError, unchanged, for failures of the file system, the archive library or the JSON codec.
namespace QuendaPackage {

inline constexpr std::int64_t kMaxPackageBytes = 268'435'456; ///< file on disk and total content
inline constexpr std::int64_t kMaxManifestBytes = 65'536;
inline constexpr std::int64_t kMaxLibraryBytes = 33'554'432;
inline constexpr std::int64_t kMaxImageBytes = 33'554'432;
inline constexpr int kMaxImages = 10'000;
inline constexpr int kMaxEntries = kMaxImages + 2;
/// Dates inside a package lie within this many seconds of 1970-01-01 (years 940 to 3000).
inline constexpr double kMaxDateSecondsFrom1970 = 32'503'680'000.0;

/// The "manifest.json" entry.
struct Manifest {
    QString format;  ///< "quenda"
    std::int64_t version = 1; ///< 2 when a note has formatted documents
    PackageKind kind = PackageKind::deck;
    Instant createdAt;
    std::int64_t deckCount = 0;
    std::int64_t noteCount = 0;
    std::int64_t cardCount = 0;
    std::int64_t reviewCount = 0;
    std::int64_t mediaCount = 0;
    QString librarySHA256; ///< 64 lower-case hexadecimal digits

    friend bool operator==(const Manifest&, const Manifest&) = default;
};

/// Writes `snapshot` (stripped of personal progress when `kind` is deck) and the images its notes use,
/// read from `mediaDirectory`, as a package at `to`. The archive is built in a temporary file next to
/// the destination, synced, and renamed over it; the folder is synced after the rename. A failure leaves
/// the destination as it was and removes the temporary file.
void write(const LibrarySnapshot& snapshot, PackageKind kind, const QString& mediaDirectory, const QUrl& to);

/// Reads and verifies the package at `from`. Every entry's kind, path, duplicates and declared size are
/// checked from the archive's directory before anything is decompressed, and every extraction is
/// bounded by both its limit and its declared size, so a hostile file cannot make the reader hold more
/// than 256 MiB of content. Deck packages come back with fresh cards due now. Never writes anything.
ImportedPackage read(const QUrl& from);

// The steps of `write` and `read`, exposed for tests and fuzzing.

/// A copy without reviews, with the default preferences, and with every card fresh (due at `now`, no
/// history, not suspended). Decks, notes, card identifiers and ordinals, and the library's id are kept.
LibrarySnapshot withoutPersonalProgress(const LibrarySnapshot& snapshot, Instant now);

/// The package's own validation, stricter than the store's. Throws QuendaError with the first failing
/// check's message.
void validate(const LibrarySnapshot& snapshot);
void validateMemory(const MemoryState& state);
/// "Il nome di un’immagine nel pacchetto non è valido." unless `identifier` is a well-formed image name.
void validateMediaIdentifier(const QString& identifier);
/// Checks the identifier, the size and that the bytes hash to the identifier's digest.
void validateMedia(const QByteArray& bytes, const QString& identifier);

/// Every image identifier the notes use (their `imageID` and the images of their documents), each once,
/// in ascending order.
QStringList mediaIdentifiers(const QList<Note>& notes);
bool containsRichDocuments(const QList<Note>& notes);

/// JSON of the manifest, sorted keys, milliseconds since 1970.
QByteArray encodeManifest(const Manifest& manifest);
/// Throws a PlatformError when the JSON is not a readable manifest (a missing key, a wrong type, an
/// unknown kind).
Manifest decodeManifest(QByteArrayView json);

} // namespace QuendaPackage
