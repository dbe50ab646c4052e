#pragma once

#include "core/Instant.h"
#include "core/LibraryRecords.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <cstdint>

/// What `generateHeavyLibrary` builds. The defaults are the reference workload of the benchmarks.
struct HeavyLibraryOptions {
    std::uint64_t seed = 1;
    qsizetype decks = 24;
    qsizetype notes = 20'000;
    /// Total cards; between `notes` (all basic) and three times `notes` (cloze notes yield 1 to 3).
    qsizetype cards = 40'000;
    qsizetype reviews = 1'000'000;
    /// Distinct images that formatted notes refer to (see heavyLibraryImage), each used at least once
    /// when there are enough formatted notes (about one note in six is formatted).
    qsizetype images = 200;
    /// About how large each image is. Small by default, so that generating stays quick; benchmarks of
    /// image traffic ask for more (200 images of 1 MiB make 200 MB).
    qsizetype imageBytes = 16 * 1024;
    /// When the first note was written: 2023-01-02T00:00:00Z.
    Instant start = Instant::fromUnixSeconds(1'672'617'600);
    /// Notes are written over this many days from `start`.
    double writingDays = 900;
    /// Share of notes whose cards the user has not started yet: they stay new.
    double unstudiedShare = 0.05;
};

/// A large library that looks like years of daily study, the same for the same options.
///
/// - Notes of the three kinds in `decks` decks, about one in six with formatted documents (bold and
///   italic runs, a formula, an image); cloze notes hide one to three numbers. Notes are listed by
///   creation time.
/// - Cards exactly as CardFactory::cards makes them when the note is written, listed by note then
///   ordinal; only their identifiers are replaced by seeded ones. The cards of `unstudiedShare` of
///   the notes are never studied and stay new; about one card in a hundred is suspended.
/// - Reviews made by StudyScheduler::review with the default retention, in time order, in evening
///   study sessions (18:00 to 21:00 UTC) on most days; learning steps are answered within minutes.
///   None is undone, so every reviewed card's memory is the `after` of its last review.
/// - The last review lies in the last study session: a `now` shortly after it has reviews today.
///
/// Identifiers are seeded version-4 identifiers, so two calls with the same options give equal
/// snapshots. Takes a few seconds and about 300 MB for the defaults. Throws what CardFactory or
/// StudyScheduler throw, which would be a fault of the generator.
LibrarySnapshot generateHeavyLibrary(const HeavyLibraryOptions& options = {});

/// The bytes of image `index` (0 ≤ index < options.images) of the library generated with `options`: a
/// decodable RGB PNG of seeded noise, about `options.imageBytes` long. Depends only on the seed, the
/// index and `imageBytes`, so a benchmark can write the images the notes refer to into a media folder.
QByteArray heavyLibraryImage(const HeavyLibraryOptions& options, qsizetype index);

/// The identifier of image bytes as the notes use it: lower-case SHA-256 in hexadecimal + ".png".
QString heavyLibraryImageID(const QByteArray& bytes);
