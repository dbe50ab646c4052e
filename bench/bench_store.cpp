// The library store on the heavy library: opening the file and loading the whole snapshot (the cold
// start of the application), and the latency of one recorded review (one durable write transaction).
//
// The library file is written once per run into a temporary folder; the page cache is warm, so
// "cold" means a new connection, a new repository and a full load, not an empty disk cache.

#if __has_include("heavy-library/HeavyLibrary.h")
#include "heavy-library/HeavyLibrary.h"
#define QUENDA_HAVE_HEAVY_LIBRARY 1
#endif

#include "persistence/SQLiteLibraryRepository.h"

#include <benchmark/benchmark.h>

#include <QFile>
#include <QTemporaryDir>

#include <random>

namespace {

#ifndef QUENDA_HAVE_HEAVY_LIBRARY
/// Stand-in with the heavy library's sizes (20,000 notes, 40,000 cards, 1,000,000 reviews) for builds
/// without the generator.
LibrarySnapshot generateHeavyLibrary() {
    std::mt19937_64 random(1);
    auto newID = [&] {
        Uuid::Bytes bytes;
        for (auto& byte : bytes)
            byte = std::uint8_t(random());
        bytes[6] = std::uint8_t((bytes[6] & 0x0F) | 0x40);
        bytes[8] = std::uint8_t((bytes[8] & 0x3F) | 0x80);
        return Uuid(bytes);
    };
    const Instant start = Instant::fromUnixSeconds(1'672'617'600);
    LibrarySnapshot library{.libraryID = newID()};
    for (int d = 0; d < 24; ++d)
        library.decks.append(Deck{newID(),
                                  QStringLiteral("Mazzo %1").arg(d),
                                  {},
                                  QStringLiteral("book"),
                                  QStringLiteral("4F5FE7"),
                                  start,
                                  start});
    for (int n = 0; n < 20'000; ++n) {
        const Instant written = start.addingSeconds(n * 3600.0);
        const Note note{newID(),
                        library.decks[n % 24].id,
                        NoteKind::reversed,
                        QStringLiteral("Domanda numero %1 con un po’ di testo").arg(n),
                        QStringLiteral("Risposta numero %1").arg(n),
                        {},
                        std::nullopt,
                        std::nullopt,
                        std::nullopt,
                        written,
                        written};
        library.notes.append(note);
        for (std::int64_t ordinal : {0, 1})
            library.cards.append(
                Flashcard{newID(), note.id, note.deckID, ordinal, MemoryState::newCard(written), false});
    }
    for (int r = 0; r < 1'000'000; ++r) {
        Flashcard& card = library.cards[qsizetype(random() % 40'000)];
        const Instant at = card.memory.due.addingSeconds(60);
        const MemoryState after{
            at.addingSeconds(86400.0 * 3), 3.5, 5.2, 1, 3, 0, card.memory.reps + 1, card.memory.lapses,
            MemoryStage::review,           at};
        library.reviews.append(ReviewEvent{newID(), card.id, at, ReviewRating::good, card.memory, after,
                                           QStringLiteral("fsrs-6-default-v1"), 0.9, std::nullopt});
        card.memory = after;
    }
    return library;
}
#endif

/// The heavy library's file, written on first use. QUENDA_BENCH_STORE_FILE names a file to keep between
/// runs (written when absent), which saves generating the library each time.
const QString& heavyLibraryPath() {
    static QTemporaryDir folder;
    static const QString path = [] {
        const QString kept = qEnvironmentVariable("QUENDA_BENCH_STORE_FILE");
        if (!kept.isEmpty() && QFile::exists(kept))
            return kept;
        const QString file = kept.isEmpty() ? folder.filePath(QStringLiteral("library.sqlite")) : kept;
        SQLiteLibraryRepository repository(file);
        repository.importLibrary(generateHeavyLibrary(), true).waitForFinished();
        return file;
    }();
    return path;
}

void BM_ColdOpenAndLoad(benchmark::State& state) {
    const QString& path = heavyLibraryPath();
    qsizetype reviews = 0;
    for (auto _ : state) {
        SQLiteLibraryRepository repository(path);
        const LibrarySnapshot library = repository.load().result();
        reviews = library.reviews.size();
        benchmark::DoNotOptimize(library);
    }
    state.counters["reviews"] = double(reviews);
}
BENCHMARK(BM_ColdOpenAndLoad)->Unit(benchmark::kMillisecond)->MinTime(5)->MeasureProcessCPUTime()->UseRealTime();

void BM_RecordReview(benchmark::State& state) {
    // A copy, so the reviews written here do not change the file the load benchmark reads.
    static QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("reviews.sqlite"));
    QFile::remove(path);
    QFile::copy(heavyLibraryPath(), path);
    SQLiteLibraryRepository repository(path);
    QList<Flashcard> cards;
    for (const Flashcard& card : repository.load().result().cards)
        if (!card.isSuspended)
            cards.append(card);
    std::mt19937 random(7);
    for (auto _ : state) {
        state.PauseTiming();
        Flashcard& card = cards[qsizetype(random() % std::uint32_t(cards.size()))];
        const Instant at = card.memory.due.addingSeconds(120);
        const MemoryState after{
            at.addingSeconds(86400.0 * 4), 4.25, 5.5, 1, 4, 0, card.memory.reps + 1, card.memory.lapses,
            MemoryStage::review,           at};
        const ReviewEvent event{Uuid::createRandom(),
                                card.id,
                                at,
                                ReviewRating::good,
                                card.memory,
                                after,
                                QStringLiteral("fsrs-6-default-v1"),
                                0.9,
                                std::nullopt};
        state.ResumeTiming();
        repository.recordReview(event).waitForFinished();
        card.memory = after;
    }
}
BENCHMARK(BM_RecordReview)->Unit(benchmark::kMicrosecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
