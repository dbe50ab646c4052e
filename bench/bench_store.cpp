// The library store on the heavy library: opening the file and loading the whole snapshot (the cold
// start of the application), and the latency of one recorded review (one durable write transaction).
//
// The library file is written once per run into a temporary folder; the page cache is warm, so
// "cold" means a new connection, a new repository and a full load, not an empty disk cache.

#include "heavy-library/HeavyLibrary.h"
#include "persistence/SQLiteLibraryRepository.h"

#include <benchmark/benchmark.h>

#include <QFile>
#include <QTemporaryDir>

#include <random>

namespace {

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
