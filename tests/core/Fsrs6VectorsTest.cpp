// Agreement with the reference implementation, step by step, over the vectors that
// tools/fsrs-vectors/generate.mjs produced with it: random histories of a few hundred cards, each step's
// input being the reference's previous output.

#include "core/Fsrs6.h"
#include "core/StudyScheduler.h"

#include <gtest/gtest.h>
#include <simdjson.h>

#include <cmath>
#include <string>
#include <vector>

namespace {

struct Vector {
    std::size_t line;
    Fsrs6::Card card;
    std::int64_t now;
    int grade;
    double retention;
    Fsrs6::Card expected;
};

Fsrs6::Card readCard(simdjson::dom::object object) {
    Fsrs6::Card card;
    card.dueMs = object["due"].get_int64().value();
    card.stability = object["stability"].get_double().value();
    card.difficulty = object["difficulty"].get_double().value();
    card.elapsedDays = object["elapsedDays"].get_double().value();
    card.scheduledDays = object["scheduledDays"].get_double().value();
    card.learningSteps = object["learningSteps"].get_int64().value();
    card.reps = object["reps"].get_int64().value();
    card.lapses = object["lapses"].get_int64().value();
    card.state = static_cast<Fsrs6::State>(object["stage"].get_int64().value());
    std::int64_t lastReview;
    if (object["lastReview"].get(lastReview) == simdjson::SUCCESS)
        card.lastReviewMs = lastReview;
    return card;
}

std::vector<Vector> loadVectors() {
    const std::string path = std::string(QUENDA_SOURCE_DIR) + "/tests/fixtures/fsrs6-vectors.jsonl";
    simdjson::padded_string text = simdjson::padded_string::load(path).value();
    simdjson::dom::parser parser;
    std::vector<Vector> vectors;
    for (simdjson::dom::element step : parser.parse_many(text)) {
        const simdjson::dom::object object = step.get_object().value();
        vectors.push_back(Vector{
            .line = vectors.size() + 1,
            .card = readCard(object["card"].get_object().value()),
            .now = object["now"].get_int64().value(),
            .grade = static_cast<int>(object["grade"].get_int64().value()),
            .retention = object["retention"].get_double().value(),
            .expected = readCard(object["expected"].get_object().value()),
        });
    }
    return vectors;
}

const std::vector<Vector>& vectors() {
    static const std::vector<Vector> loaded = loadVectors();
    return loaded;
}

// Integers and times exactly; stability and difficulty to 1e-6 (the C library's pow and exp may differ
// from the reference's in the last bit).
testing::AssertionResult sameCard(const Fsrs6::Card& actual, const Fsrs6::Card& expected) {
    const bool same = actual.dueMs == expected.dueMs && std::abs(actual.stability - expected.stability) <= 1e-6 &&
                      std::abs(actual.difficulty - expected.difficulty) <= 1e-6 &&
                      actual.elapsedDays == expected.elapsedDays && actual.scheduledDays == expected.scheduledDays &&
                      actual.learningSteps == expected.learningSteps && actual.reps == expected.reps &&
                      actual.lapses == expected.lapses && actual.state == expected.state &&
                      actual.lastReviewMs == expected.lastReviewMs;
    if (same)
        return testing::AssertionSuccess();
    auto print = [](const Fsrs6::Card& c) {
        return testing::Message() << "{due " << c.dueMs << ", S " << c.stability << ", D " << c.difficulty << ", el "
                                  << c.elapsedDays << ", sched " << c.scheduledDays << ", step " << c.learningSteps
                                  << ", reps " << c.reps << ", lapses " << c.lapses << ", state "
                                  << static_cast<int>(c.state) << ", last " << c.lastReviewMs.value_or(-1) << "}";
    };
    return testing::AssertionFailure() << "got " << print(actual) << "\nwant " << print(expected);
}

} // namespace

TEST(Fsrs6VectorsTest, ComponentMatchesTheReferenceAtEveryStep) {
    ASSERT_GT(vectors().size(), 5000u);
    int failures = 0;
    for (const Vector& v : vectors()) {
        const Fsrs6::Card actual = Fsrs6::Scheduler(v.retention).next(v.card, v.now, v.grade);
        const testing::AssertionResult same = sameCard(actual, v.expected);
        if (!same && ++failures <= 10)
            ADD_FAILURE() << "vector line " << v.line << "\n" << same.message();
    }
    EXPECT_EQ(failures, 0);
}

// The same steps through StudyScheduler: times go in as instants and come back to the same milliseconds.
TEST(Fsrs6VectorsTest, StudySchedulerMatchesTheReferenceAtEveryStep) {
    auto toInstant = [](std::int64_t ms) { return Instant::fromUnixMilliseconds(static_cast<double>(ms)); };
    auto toMs = [](Instant instant) { return static_cast<std::int64_t>(Fsrs6::roundHalfUp(instant.unixMilliseconds())); };
    int failures = 0;
    for (const Vector& v : vectors()) {
        Flashcard card;
        card.memory = MemoryState{
            .due = toInstant(v.card.dueMs),
            .stability = v.card.stability,
            .difficulty = v.card.difficulty,
            .elapsedDays = v.card.elapsedDays,
            .scheduledDays = v.card.scheduledDays,
            .learningSteps = v.card.learningSteps,
            .reps = v.card.reps,
            .lapses = v.card.lapses,
            .stage = static_cast<MemoryStage>(v.card.state),
            .lastReview = v.card.lastReviewMs ? std::optional(toInstant(*v.card.lastReviewMs)) : std::nullopt,
        };
        const Instant now = toInstant(v.now);
        const MemoryState after =
            StudyScheduler(v.retention).review(card, static_cast<ReviewRating>(v.grade), now).after;
        EXPECT_EQ(after.lastReview, now);
        const Fsrs6::Card actual{
            .dueMs = toMs(after.due),
            .stability = after.stability,
            .difficulty = after.difficulty,
            .elapsedDays = after.elapsedDays,
            .scheduledDays = after.scheduledDays,
            .learningSteps = after.learningSteps,
            .reps = after.reps,
            .lapses = after.lapses,
            .state = static_cast<Fsrs6::State>(after.stage),
            .lastReviewMs = toMs(*after.lastReview),
        };
        const testing::AssertionResult same = sameCard(actual, v.expected);
        if (!same && ++failures <= 10)
            ADD_FAILURE() << "vector line " << v.line << "\n" << same.message();
    }
    EXPECT_EQ(failures, 0);
}
