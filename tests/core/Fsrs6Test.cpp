#include "core/Fsrs6.h"

#include <gtest/gtest.h>

#include <limits>
#include <vector>

using Fsrs6::Card;
using Fsrs6::Scheduler;
using Fsrs6::State;

namespace {

constexpr std::int64_t kT0 = 1735732800000; // 2025-01-01T12:00:00Z
constexpr std::int64_t kMinute = Fsrs6::kMinuteMs;
constexpr std::int64_t kHour = 60 * kMinute;
constexpr std::int64_t kDay = Fsrs6::kDayMs;

Card newCard() { return Card{.dueMs = kT0}; }

// One row of the hand-checked examples: the input is a new card (`input` -1) or the output of an
// earlier row, reviewed at `now` with `grade`.
struct Example {
    int input;
    std::int64_t now;
    int grade;
    double retention;
    State state;
    std::int64_t learningSteps;
    std::int64_t dueAfterNow;
    double scheduledDays;
    double elapsedDays;
    double stability;
    double difficulty;
    std::int64_t lapses;
};

// clang-format off
const std::vector<Example> kExamples = {
    /*  1 */ {-1, kT0,               1, 0.9, State::Learning,   0, 1 * kMinute,  0,  0, 0.212,       6.4133,     0},
    /*  2 */ {-1, kT0,               2, 0.9, State::Learning,   0, 6 * kMinute,  0,  0, 1.2931,      5.11217071, 0},
    /*  3 */ {-1, kT0,               3, 0.9, State::Learning,   1, 10 * kMinute, 0,  0, 2.3065,      2.11810397, 0},
    /*  4 */ {-1, kT0,               4, 0.9, State::Review,     0, 8 * kDay,     8,  0, 8.2956,      1,          0},
    /*  5 */ {1, kT0 + kMinute,      3, 0.9, State::Learning,   1, 10 * kMinute, 0,  0, 0.24668919,  6.40211507, 0},
    /*  6 */ {2, kT0 + 6 * kMinute,  2, 0.9, State::Learning,   0, 6 * kMinute,  0,  0, 1.2931,      6.74045952, 0},
    /*  7 */ {3, kT0 + 10 * kMinute, 3, 0.9, State::Review,     0, 2 * kDay,     2,  0, 2.3065,      2.11121424, 0},
    /*  8 */ {3, kT0 + 10 * kMinute, 2, 0.9, State::Learning,   1, 6 * kMinute,  0,  0, 2.3065,      4.75285849, 0},
    /*  9 */ {3, kT0 + 2 * kDay,     3, 0.9, State::Review,     0, 11 * kDay,    11, 2, 10.96433194, 2.11121424, 0},
    /* 10 */ {4, kT0 + 8 * kDay,     1, 0.9, State::Relearning, 0, 10 * kMinute, 0,  8, 1.38863246,  7.02698957, 1},
    /* 11 */ {4, kT0 + 8 * kDay,     2, 0.9, State::Review,     0, 27 * kDay,    27, 8, 26.70418346, 4.01060897, 0},
    /* 12 */ {4, kT0 + 8 * kDay,     3, 0.9, State::Review,     0, 39 * kDay,    39, 8, 38.90515015, 1,          0},
    /* 13 */ {4, kT0 + 3 * kHour,    3, 0.9, State::Review,     0, 9 * kDay,     9,  0, 8.2956,      1,          0},
    /* 14 */ {4, kT0 + 3 * kHour,    1, 0.9, State::Relearning, 0, 10 * kMinute, 0,  0, 2.56250817,  7.02698957, 1},
    /* 15 */ {4, kT0 + 8 * kDay,     4, 0.9, State::Review,     0, 66 * kDay,    66, 8, 65.62422648, 1,          0},
    /* 16 */ {4, kT0 + 8 * kDay,     3, 0.8, State::Review,     0, 129 * kDay,   129, 8, 38.90515015, 1,         0},
    /* 17 */ {4, kT0 + 20 * kDay,    1, 0.9, State::Relearning, 0, 10 * kMinute, 0,  20, 1.5663583,  7.02698957, 1},
    /* 18 */ {17, kT0 + 20 * kDay + 10 * kMinute, 2, 0.9, State::Relearning, 0, 15 * kMinute, 0, 0, 1.5663583, 8.01160551, 1},
    /* 19 */ {17, kT0 + 20 * kDay + 10 * kMinute, 3, 0.9, State::Review,     0, 2 * kDay,     2, 0, 1.59791779, 7.01519095, 1},
    /* 20 */ {17, kT0 + 21 * kDay,   1, 0.9, State::Relearning, 0, 10 * kMinute, 0,  1, 0.41683853,  9.00802006, 1},
};
// clang-format on

void expectExample(const Card& out, const Example& e, int row) {
    SCOPED_TRACE(testing::Message() << "example " << row);
    EXPECT_EQ(out.state, e.state);
    EXPECT_EQ(out.learningSteps, e.learningSteps);
    EXPECT_EQ(out.dueMs - e.now, e.dueAfterNow);
    EXPECT_EQ(out.scheduledDays, e.scheduledDays);
    EXPECT_EQ(out.elapsedDays, e.elapsedDays);
    EXPECT_NEAR(out.stability, e.stability, 1e-9);
    EXPECT_NEAR(out.difficulty, e.difficulty, 1e-9);
    EXPECT_EQ(out.lapses, e.lapses);
    EXPECT_EQ(out.lastReviewMs, e.now);
}

} // namespace

TEST(Fsrs6Test, WorkedExamples) {
    std::vector<Card> outputs;
    for (std::size_t i = 0; i < kExamples.size(); ++i) {
        const Example& e = kExamples[i];
        const Card input = e.input < 0 ? newCard() : outputs.at(static_cast<std::size_t>(e.input - 1));
        const Card out = Scheduler(e.retention).next(input, e.now, e.grade);
        EXPECT_EQ(out.reps, input.reps + 1);
        expectExample(out, e, static_cast<int>(i + 1));
        outputs.push_back(out);
    }
}

TEST(Fsrs6Test, DaysCountBetweenUtcDatesNotHours) {
    const Scheduler scheduler(0.9);
    // Rated good at 23:55Z, again at 00:05Z the next day: a new day, so the long-term formula applies.
    const Card learning = scheduler.next(newCard(), kT0 + 11 * kHour + 55 * kMinute, 3);
    const Card out = scheduler.next(learning, kT0 + 12 * kHour + 5 * kMinute, 3);
    EXPECT_EQ(out.elapsedDays, 1);
    EXPECT_EQ(out.scheduledDays, 7);
    EXPECT_NEAR(out.stability, 7.31530068, 1e-9);
    EXPECT_NEAR(out.difficulty, 2.11121424, 1e-9);

    EXPECT_EQ(Fsrs6::calendarDaysBetween(kT0 - 12 * kHour + kMinute, kT0 + 12 * kHour - kMinute), 0);
    EXPECT_EQ(Fsrs6::calendarDaysBetween(kT0 + 12 * kHour - 1, kT0 + 12 * kHour), 1);
    EXPECT_EQ(Fsrs6::calendarDaysBetween(-1, 0), 1); // before 1970 the days still split at midnight
    EXPECT_EQ(Fsrs6::calendarDaysBetween(0, -1), -1);
}

TEST(Fsrs6Test, ReviewIntervalsAtTheMaximumStayOrdered) {
    const Card card{.dueMs = kT0,
                    .stability = 36000,
                    .difficulty = 1,
                    .scheduledDays = 36000,
                    .reps = 20,
                    .state = State::Review,
                    .lastReviewMs = kT0 - 36000 * kDay};
    const Scheduler scheduler(0.9);
    const double expectedDifficulty[] = {4.01060897, 1, 1};
    for (int grade = 2; grade <= 4; ++grade) {
        SCOPED_TRACE(grade);
        const Card out = scheduler.next(card, kT0, grade);
        EXPECT_EQ(out.scheduledDays, 36500 + (grade - 2));
        EXPECT_EQ(out.dueMs, kT0 + (36500 + grade - 2) * kDay);
        EXPECT_EQ(out.elapsedDays, 36000);
        EXPECT_EQ(out.stability, 36500);
        EXPECT_NEAR(out.difficulty, expectedDifficulty[grade - 2], 1e-9);
    }
}

TEST(Fsrs6Test, IntervalModifierPerRetention) {
    const std::pair<double, double> cases[] = {{0.9, 1},           {0.7, 9.28791122}, {0.8, 3.3159598},
                                               {0.85, 1.90642614}, {0.95, 0.40255869}, {0.97, 0.22276844}};
    for (auto [retention, modifier] : cases)
        EXPECT_EQ(Scheduler(retention).intervalModifier(), modifier) << retention;
}

TEST(Fsrs6Test, CorruptStepIndexGraduates) {
    const Scheduler scheduler(0.9);
    Card learning = scheduler.next(newCard(), kT0, 3);
    learning.learningSteps = 2;
    for (int grade = 1; grade <= 4; ++grade) {
        const Card out = scheduler.next(learning, kT0 + kMinute, grade);
        EXPECT_EQ(out.state, State::Review) << grade;
        EXPECT_GE(out.scheduledDays, 1) << grade;
    }
    // A review card rated again at an out-of-range relearning step stays in review but counts the lapse.
    Card review = scheduler.next(newCard(), kT0, 4);
    review.learningSteps = 1;
    const Card out = scheduler.next(review, kT0 + 8 * kDay, 1);
    EXPECT_EQ(out.state, State::Review);
    EXPECT_EQ(out.lapses, 1);
    EXPECT_EQ(out.scheduledDays, 1);
}

TEST(Fsrs6Test, RefusesWhatTheAlgorithmCannotSchedule) {
    const Scheduler scheduler(0.9);
    const Card review = scheduler.next(newCard(), kT0, 4);
    Card tooUnstable = review;
    tooUnstable.stability = 0.0009;
    Card tooEasy = review;
    tooEasy.difficulty = 0.5;
    Card halfNew = newCard();
    halfNew.difficulty = 3; // stability 0 but difficulty set: not a brand-new card
    Card maxedReps = review;
    maxedReps.reps = std::numeric_limits<std::int64_t>::max();

    EXPECT_THROW(scheduler.next(review, kT0 - kDay, 3), Fsrs6::InvalidInput); // earlier day
    EXPECT_THROW(scheduler.next(tooUnstable, kT0 + kDay, 3), Fsrs6::InvalidInput);
    EXPECT_THROW(scheduler.next(tooEasy, kT0 + kDay, 3), Fsrs6::InvalidInput);
    EXPECT_THROW(scheduler.next(halfNew, kT0, 3), Fsrs6::InvalidInput);
    EXPECT_THROW(scheduler.next(maxedReps, kT0 + kDay, 3), Fsrs6::InvalidInput);
    EXPECT_THROW(scheduler.next(review, kT0 + kDay, 0), Fsrs6::InvalidInput);
    EXPECT_THROW(scheduler.next(review, kT0 + kDay, 5), Fsrs6::InvalidInput);
    EXPECT_THROW(Scheduler(0), Fsrs6::InvalidInput);
    EXPECT_THROW(Scheduler(1.01), Fsrs6::InvalidInput);
    EXPECT_NO_THROW(Scheduler(1));
}

TEST(Fsrs6Test, RoundingTiesGoUp) {
    EXPECT_EQ(Fsrs6::roundHalfUp(2.5), 3);
    EXPECT_EQ(Fsrs6::roundHalfUp(-2.5), -2);
    EXPECT_EQ(Fsrs6::roundHalfUp(-2.5000001), -3);
    EXPECT_EQ(Fsrs6::roundHalfUp(0.49999999999999994), 0);
    EXPECT_EQ(Fsrs6::roundHalfUp(4503599627370497.0), 4503599627370497.0);
    EXPECT_EQ(Fsrs6::round8(2.0 / 3.0), 0.66666667);
}
