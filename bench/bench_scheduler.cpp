// Throughput of StudyScheduler::review and of the FSRS-6 component under it.
//
// Two input sets:
// - "vectors": the inputs of tests/fixtures/fsrs6-vectors.jsonl, the same steps that
//   tools/fsrs-vectors/bench.mjs feeds to the reference implementation, so the two figures compare
//   directly. Run from the repository root, or point QUENDA_FSRS_VECTORS at the file.
// - "simulated": cards taken at random moments of simulated study histories (new, learning, review and
//   relearning cards in the proportions a library in use has), built in-process, all with the one
//   retention of the library as in the application (the vectors change retention at every step).

#include "core/Fsrs6.h"
#include "core/StudyScheduler.h"

#include <benchmark/benchmark.h>
#include <simdjson.h>

#include <cstdlib>
#include <filesystem>
#include <random>
#include <vector>

namespace {

struct Step {
    Flashcard card;
    Fsrs6::Card componentCard;
    Instant now;
    std::int64_t nowMs;
    ReviewRating rating;
    double retention;
};

Instant fromMs(std::int64_t ms) { return Instant::fromUnixMilliseconds(static_cast<double>(ms)); }

Step makeStep(const Fsrs6::Card& c, std::int64_t nowMs, int grade, double retention) {
    Flashcard card;
    card.memory = MemoryState{
        .due = fromMs(c.dueMs),
        .stability = c.stability,
        .difficulty = c.difficulty,
        .elapsedDays = c.elapsedDays,
        .scheduledDays = c.scheduledDays,
        .learningSteps = c.learningSteps,
        .reps = c.reps,
        .lapses = c.lapses,
        .stage = static_cast<MemoryStage>(c.state),
        .lastReview = c.lastReviewMs ? std::optional(fromMs(*c.lastReviewMs)) : std::nullopt,
    };
    return Step{card, c, fromMs(nowMs), nowMs, static_cast<ReviewRating>(grade), retention};
}

std::vector<Step> loadVectorSteps() {
    const char* configured = std::getenv("QUENDA_FSRS_VECTORS");
    const std::filesystem::path path = configured ? configured : "tests/fixtures/fsrs6-vectors.jsonl";
    simdjson::padded_string text;
    if (simdjson::padded_string::load(path.string()).get(text) != simdjson::SUCCESS)
        return {};
    simdjson::dom::parser parser;
    std::vector<Step> steps;
    for (simdjson::dom::element line : parser.parse_many(text)) {
        const simdjson::dom::object card = line["card"].get_object().value();
        Fsrs6::Card c{
            .dueMs = card["due"].get_int64().value(),
            .stability = card["stability"].get_double().value(),
            .difficulty = card["difficulty"].get_double().value(),
            .elapsedDays = card["elapsedDays"].get_double().value(),
            .scheduledDays = card["scheduledDays"].get_double().value(),
            .learningSteps = card["learningSteps"].get_int64().value(),
            .reps = card["reps"].get_int64().value(),
            .lapses = card["lapses"].get_int64().value(),
            .state = static_cast<Fsrs6::State>(card["stage"].get_int64().value()),
        };
        std::int64_t lastReview;
        if (card["lastReview"].get(lastReview) == simdjson::SUCCESS)
            c.lastReviewMs = lastReview;
        steps.push_back(makeStep(c, line["now"].get_int64().value(), static_cast<int>(line["grade"].get_int64().value()),
                                 line["retention"].get_double().value()));
    }
    return steps;
}

// Each card is studied for a random number of reviews (good most of the time, as in real use), at
// realistic gaps; the benchmark input is its state before its last review.
std::vector<Step> simulatedSteps() {
    std::mt19937_64 random(20261211);
    std::discrete_distribution<int> grades({10, 15, 60, 15});
    std::uniform_int_distribution<int> reviews(0, 12);
    std::vector<Step> steps;
    const Fsrs6::Scheduler scheduler(0.9);
    for (int i = 0; i < 4096; ++i) {
        Fsrs6::Card card{.dueMs = 1735732800000 + static_cast<std::int64_t>(random() % (400 * Fsrs6::kDayMs))};
        std::int64_t now = card.dueMs;
        for (int n = reviews(random); n > 0; --n) {
            card = scheduler.next(card, now, grades(random) + 1);
            // Come back at the due time, a little late, or (one time in five) before it.
            const std::int64_t wait = card.dueMs - now;
            now += random() % 5 == 0 ? wait / 2 : wait + static_cast<std::int64_t>(random() % Fsrs6::kDayMs);
        }
        steps.push_back(makeStep(card, now, grades(random) + 1, 0.9));
    }
    return steps;
}

const std::vector<Step>& steps(int set) {
    static const std::vector<Step> vectors = loadVectorSteps();
    static const std::vector<Step> simulated = simulatedSteps();
    return set == 0 ? vectors : simulated;
}

void labelSet(benchmark::State& state) { state.SetLabel(state.range(0) == 0 ? "vectors" : "simulated"); }

// The application's way: a scheduler built per rating, then review (validation, the component, the event
// with its new random identifier).
void BM_StudySchedulerReview(benchmark::State& state) {
    const std::vector<Step>& input = steps(static_cast<int>(state.range(0)));
    if (input.empty()) {
        state.SkipWithError("vector file not found: run from the repository root or set QUENDA_FSRS_VECTORS");
        return;
    }
    labelSet(state);
    std::size_t i = 0;
    for (auto _ : state) {
        const Step& step = input[i];
        benchmark::DoNotOptimize(StudyScheduler(step.retention).review(step.card, step.rating, step.now));
        i = i + 1 == input.size() ? 0 : i + 1;
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_StudySchedulerReview)->Arg(0)->Arg(1);

void BM_StudySchedulerPreview(benchmark::State& state) {
    const std::vector<Step>& input = steps(static_cast<int>(state.range(0)));
    if (input.empty()) {
        state.SkipWithError("vector file not found: run from the repository root or set QUENDA_FSRS_VECTORS");
        return;
    }
    labelSet(state);
    std::size_t i = 0;
    for (auto _ : state) {
        const Step& step = input[i];
        benchmark::DoNotOptimize(StudyScheduler(step.retention).preview(step.card, step.now));
        i = i + 1 == input.size() ? 0 : i + 1;
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_StudySchedulerPreview)->Arg(0)->Arg(1);

// The component alone, with one scheduler per retention value kept (as a bulk caller would).
void BM_Fsrs6Next(benchmark::State& state) {
    const std::vector<Step>& input = steps(static_cast<int>(state.range(0)));
    if (input.empty()) {
        state.SkipWithError("vector file not found: run from the repository root or set QUENDA_FSRS_VECTORS");
        return;
    }
    labelSet(state);
    std::vector<Fsrs6::Scheduler> schedulers;
    schedulers.reserve(input.size());
    for (const Step& step : input)
        schedulers.emplace_back(step.retention);
    std::size_t i = 0;
    for (auto _ : state) {
        const Step& step = input[i];
        benchmark::DoNotOptimize(schedulers[i].next(step.componentCard, step.nowMs, static_cast<int>(step.rating)));
        i = i + 1 == input.size() ? 0 : i + 1;
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_Fsrs6Next)->Arg(0)->Arg(1);

} // namespace

BENCHMARK_MAIN();
