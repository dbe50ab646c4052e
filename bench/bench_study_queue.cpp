// StudyQueue::cards on the heavy library, right after a study session: the day's reviews count for the
// budget and the locks, and the cards the session did not reach are due.

#include "core/StudyQueue.h"
#include "heavy-library/HeavyLibrary.h"

#include <benchmark/benchmark.h>

namespace {

const LibrarySnapshot& library() {
    static const LibrarySnapshot snapshot = generateHeavyLibrary();
    return snapshot;
}

const QTimeZone& rome() {
    static const QTimeZone zone("Europe/Rome");
    return zone;
}

// A minute after the last review, in the evening of the library's last study day.
Instant now() {
    return library().reviews.last().reviewedAt.addingSeconds(60);
}

void report(benchmark::State& state, const QList<Flashcard>& queue) {
    qsizetype reviewedToday = 0;
    const Instant start = StudyQueue::startOfDay(now(), rome());
    for (const ReviewEvent& review : library().reviews)
        reviewedToday += review.reviewedAt >= start ? 1 : 0;
    state.counters["queue"] = static_cast<double>(queue.size());
    state.counters["reviewsToday"] = static_cast<double>(reviewedToday);
}

void studyQueueWholeLibrary(benchmark::State& state) {
    const Instant time = now();
    QList<Flashcard> queue;
    for (auto _ : state) {
        queue = StudyQueue::cards(library(), std::nullopt, time, rome());
        benchmark::DoNotOptimize(queue.data());
    }
    report(state, queue);
}

void studyQueueOneDeck(benchmark::State& state) {
    const Instant time = now();
    const Uuid deck = library().decks.first().id;
    QList<Flashcard> queue;
    for (auto _ : state) {
        queue = StudyQueue::cards(library(), deck, time, rome());
        benchmark::DoNotOptimize(queue.data());
    }
    report(state, queue);
}

// The same notes before any study, as after importing them: every card is a new candidate to sort.
void studyQueueUnstudiedLibrary(benchmark::State& state) {
    static const LibrarySnapshot unstudied = generateHeavyLibrary({.reviews = 0});
    const HeavyLibraryOptions defaults;
    const Instant time = defaults.start.addingSeconds((defaults.writingDays + 1) * 86'400);
    QList<Flashcard> queue;
    for (auto _ : state) {
        queue = StudyQueue::cards(unstudied, std::nullopt, time, rome());
        benchmark::DoNotOptimize(queue.data());
    }
    state.counters["queue"] = static_cast<double>(queue.size());
}

} // namespace

BENCHMARK(studyQueueWholeLibrary)->Unit(benchmark::kMillisecond);
BENCHMARK(studyQueueOneDeck)->Unit(benchmark::kMillisecond);
BENCHMARK(studyQueueUnstudiedLibrary)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
