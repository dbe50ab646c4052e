// Card generation, presentation and document validation on typical and limit-sized content.
#include "core/CardFactory.h"

#include <benchmark/benchmark.h>

namespace {

Note formattedClozeNote() {
    QList<RichTextRun> runs;
    for (int i = 1; i <= 20; ++i) {
        runs.append(RichTextRun{.text = QStringLiteral("Frase numero %1 con {{c%1::").arg(i)});
        runs.append(RichTextRun{.text = QStringLiteral("risposta %1").arg(i), .bold = true});
        runs.append(RichTextRun{.text = QStringLiteral("::suggerimento}}.\n")});
    }
    const RichTextDocument document{runs};
    return Note{.id = Uuid::createRandom(),
                .deckID = Uuid::createRandom(),
                .kind = NoteKind::cloze,
                .front = document.sourceText(),
                .back = QStringLiteral("Nota"),
                .frontDocument = document};
}

void cardsOfAFormattedClozeNote(benchmark::State& state) {
    const Note note = formattedClozeNote();
    const QList<Flashcard> existing = CardFactory::cards(note, {}, Instant());
    for (auto _ : state)
        benchmark::DoNotOptimize(CardFactory::cards(note, existing, Instant()));
}
BENCHMARK(cardsOfAFormattedClozeNote);

void presentationOfAFormattedClozeCard(benchmark::State& state) {
    const Note note = formattedClozeNote();
    const Flashcard card = CardFactory::cards(note, {}, Instant()).at(9);
    for (auto _ : state)
        benchmark::DoNotOptimize(CardFactory::presentation(note, card));
}
BENCHMARK(presentationOfAFormattedClozeCard);

void validateTenThousandLinkedRuns(benchmark::State& state) {
    QList<RichTextRun> runs;
    for (int i = 0; i < 10'000; ++i)
        runs.append(RichTextRun{.text = QStringLiteral("qui "),
                                .link = QStringLiteral("https://example.com/pagina/%1?q=%1#parte").arg(i)});
    const RichTextDocument document{runs};
    for (auto _ : state)
        document.validate();
}
BENCHMARK(validateTenThousandLinkedRuns)->Unit(benchmark::kMillisecond);

void validateOneMebibyteRun(benchmark::State& state) {
    const RichTextDocument document{{RichTextRun{.text = QStringLiteral("àbc").repeated(262'144)}}};
    for (auto _ : state)
        document.validate();
}
BENCHMARK(validateOneMebibyteRun)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
