// Encoding and decoding of record JSON at the sizes the store and the package format meet: the
// store writes and reads one payload per review (a heavy library has 1,000,000), a package holds the
// whole library as one document of up to 32 MiB.
#include "core/RecordJson.h"

#include <benchmark/benchmark.h>

#include <random>

namespace {

constexpr int kReviewCount = 100'000;

Instant at(double seconds) {
    return Instant::fromReferenceSeconds(seconds);
}

MemoryState memory(std::mt19937_64& random, Instant due) {
    std::uniform_real_distribution<double> unit(0, 1);
    return MemoryState{.due = due,
                       .stability = 100 * unit(random),
                       .difficulty = 1 + 9 * unit(random),
                       .elapsedDays = 30 * unit(random),
                       .scheduledDays = 60 * unit(random),
                       .learningSteps = 1,
                       .reps = 12,
                       .lapses = 2,
                       .stage = MemoryStage::review,
                       .lastReview = due.addingSeconds(-86400 * unit(random))};
}

std::vector<ReviewEvent> reviews(int count) {
    std::mt19937_64 random(1);
    std::vector<ReviewEvent> events;
    events.reserve(count);
    for (int i = 0; i < count; ++i) {
        const Instant when = at(7e8 + 97.3 * i);
        events.push_back(ReviewEvent{.id = Uuid::createRandom(),
                                     .cardID = Uuid::createRandom(),
                                     .reviewedAt = when,
                                     .rating = ReviewRating(1 + i % 4),
                                     .before = memory(random, when),
                                     .after = memory(random, when.addingSeconds(86400)),
                                     .algorithm = QStringLiteral("fsrs-6-default-v1"),
                                     .retention = 0.9,
                                     .undoneAt = i % 50 ? std::nullopt : std::optional(when.addingSeconds(3))});
    }
    return events;
}

// About 30 MB of package JSON: 10,000 notes (one in ten with formatted documents), two cards each and
// 15,000 reviews.
LibrarySnapshot largeLibrary() {
    std::mt19937_64 random(2);
    LibrarySnapshot snapshot{.libraryID = Uuid::createRandom()};
    for (int d = 0; d < 20; ++d)
        snapshot.decks.append(Deck{.id = Uuid::createRandom(),
                                   .name = QStringLiteral("Mazzo %1").arg(d),
                                   .subtitle = QStringLiteral("Lessico e grammatica"),
                                   .symbol = QStringLiteral("book.closed"),
                                   .colorHex = QStringLiteral("4F5FE7"),
                                   .createdAt = at(6e8 + d),
                                   .updatedAt = at(7e8 + d)});
    for (int n = 0; n < 10'000; ++n) {
        Note note{.id = Uuid::createRandom(),
                  .deckID = snapshot.decks[n % 20].id,
                  .kind = NoteKind::reversed,
                  .front = QStringLiteral("Qual è il significato della parola numero %1 nel testo?").arg(n),
                  .back = QStringLiteral("È la risposta %1, con un’altra riga\ndi spiegazione.").arg(n),
                  .tags = {QStringLiteral("lessico"), QStringLiteral("capitolo-%1").arg(n % 30)},
                  .createdAt = at(6e8 + 13.7 * n),
                  .updatedAt = at(7e8 + 13.7 * n)};
        if (n % 10 == 0) {
            RichTextDocument document{
                {RichTextRun{.text = QStringLiteral("Titolo "), .bold = true, .style = RichTextStyle::heading},
                 RichTextRun{.text = note.front.mid(7), .italic = true}}};
            note.front = document.sourceText();
            note.frontDocument = document;
        }
        snapshot.notes.append(note);
        for (int ordinal = 0; ordinal < 2; ++ordinal)
            snapshot.cards.append(Flashcard{.id = Uuid::createRandom(),
                                            .noteID = note.id,
                                            .deckID = note.deckID,
                                            .ordinal = ordinal,
                                            .memory = memory(random, at(7.5e8 + n))});
    }
    const std::vector<ReviewEvent> events = reviews(15'000);
    snapshot.reviews = QList<ReviewEvent>(events.begin(), events.end());
    return snapshot;
}

void BM_ReviewPayloadsEncodeReusedWriter(benchmark::State& state) {
    const std::vector<ReviewEvent> events = reviews(kReviewCount);
    JsonWriter writer;
    std::size_t bytes = 0;
    for (auto _ : state) {
        bytes = 0;
        for (const ReviewEvent& event : events) {
            writer.clear();
            RecordJson::write(writer, event, JsonForm::database);
            bytes += std::size_t(writer.data().size());
            benchmark::DoNotOptimize(writer.data().constData());
        }
    }
    state.counters["payloads/s"] =
        benchmark::Counter(double(kReviewCount), benchmark::Counter::kIsIterationInvariantRate);
    state.counters["bytes/payload"] = double(bytes) / kReviewCount;
}
BENCHMARK(BM_ReviewPayloadsEncodeReusedWriter)->Unit(benchmark::kMillisecond);

void BM_ReviewPayloadsEncode(benchmark::State& state) {
    const std::vector<ReviewEvent> events = reviews(kReviewCount);
    for (auto _ : state)
        for (const ReviewEvent& event : events)
            benchmark::DoNotOptimize(RecordJson::encode(event, JsonForm::database));
    state.counters["payloads/s"] =
        benchmark::Counter(double(kReviewCount), benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_ReviewPayloadsEncode)->Unit(benchmark::kMillisecond);

void BM_ReviewPayloadsDecode(benchmark::State& state) {
    std::vector<QByteArray> payloads;
    for (const ReviewEvent& event : reviews(kReviewCount))
        payloads.push_back(RecordJson::encode(event, JsonForm::database));
    RecordJsonDecoder decoder;
    for (auto _ : state)
        for (const QByteArray& payload : payloads)
            benchmark::DoNotOptimize(decoder.decode<ReviewEvent>(payload, JsonForm::database));
    state.counters["payloads/s"] =
        benchmark::Counter(double(kReviewCount), benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_ReviewPayloadsDecode)->Unit(benchmark::kMillisecond);

void BM_LibraryPackageEncode(benchmark::State& state) {
    const LibrarySnapshot snapshot = largeLibrary();
    qsizetype bytes = 0;
    for (auto _ : state) {
        const QByteArray json = RecordJson::encode(snapshot, JsonForm::package);
        bytes = json.size();
        benchmark::DoNotOptimize(json.constData());
    }
    state.counters["MB"] = double(bytes) / 1e6;
    state.SetBytesProcessed(std::int64_t(state.iterations()) * bytes);
}
BENCHMARK(BM_LibraryPackageEncode)->Unit(benchmark::kMillisecond);

void BM_LibraryPackageDecode(benchmark::State& state) {
    const QByteArray json = RecordJson::encode(largeLibrary(), JsonForm::package);
    for (auto _ : state)
        benchmark::DoNotOptimize(RecordJson::decode<LibrarySnapshot>(json, JsonForm::package));
    state.counters["MB"] = double(json.size()) / 1e6;
    state.SetBytesProcessed(std::int64_t(state.iterations()) * json.size());
}
BENCHMARK(BM_LibraryPackageDecode)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
