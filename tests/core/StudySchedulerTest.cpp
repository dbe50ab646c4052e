#include "core/QuendaError.h"
#include "core/StudyScheduler.h"

#include <gtest/gtest.h>

#include <functional>
#include <limits>

namespace {

const QString kRetention = QStringLiteral("L’obiettivo di ricordo deve essere compreso fra 0 e 100%, estremi esclusi.");
const QString kSuspended = QStringLiteral("Riattiva la carta prima di ripassarla.");
const QString kInvalidState = QStringLiteral("Lo stato di ripasso della carta non è valido.");
const QString kFuture = QStringLiteral("L’ultimo ripasso risulta nel futuro. Controlla data e ora del Mac.");
const QString kIncomplete = QStringLiteral("La cronologia di questa carta è incompleta.");
const QString kNoInterval = QStringLiteral("Non è stato possibile calcolare un intervallo valido per questa carta.");

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
const Instant kNow = Instant::fromUnixMilliseconds(1735732800000); // 2025-01-01T12:00:00Z

Flashcard newCard(Instant due = kNow) {
    return Flashcard{.id = Uuid::createRandom(),
                     .noteID = Uuid::createRandom(),
                     .deckID = Uuid::createRandom(),
                     .ordinal = 0,
                     .memory = MemoryState::newCard(due),
                     .isSuspended = false};
}

// A card in learning as a first "good" leaves it, reviewed an hour before kNow.
Flashcard learningCard() {
    Flashcard card = newCard();
    card.memory = MemoryState{.due = kNow,
                              .stability = 0.2,
                              .difficulty = 5,
                              .learningSteps = 1,
                              .reps = 1,
                              .stage = MemoryStage::learning,
                              .lastReview = kNow.addingSeconds(-3600)};
    return card;
}

Flashcard reviewCard() {
    Flashcard card = learningCard();
    card.memory.stage = MemoryStage::review;
    card.memory.stability = 8.2956;
    card.memory.difficulty = 1;
    card.memory.learningSteps = 0;
    card.memory.lastReview = kNow.addingSeconds(-8 * 86400);
    return card;
}

struct Case {
    const char* name;
    double retention;
    std::function<void(Flashcard&)> change;
    Instant now;
    QString message; ///< empty: the review succeeds
};

} // namespace

TEST(StudySchedulerTest, ChecksRunInOrderAndTheFirstFailureDecides) {
    auto suspend = [](Flashcard& c) { c.isSuspended = true; };
    auto none = [](Flashcard&) {};
    const Instant nan = Instant::fromReferenceSeconds(kNaN);
    // clang-format off
    const Case cases[] = {
        {"retention 1 beats suspension",     1.0,  suspend, kNow, kRetention},
        {"retention 0",                      0.0,  none, kNow, kRetention},
        {"negative retention",               -0.5, none, kNow, kRetention},
        {"retention NaN",                    kNaN, none, kNow, kRetention},
        {"retention infinite",               kInf, none, kNow, kRetention},
        {"suspended beats a bad state",      0.9,  [](Flashcard& c) { c.isSuspended = true; c.memory.stability = -1; }, nan, kSuspended},
        {"now NaN",                          0.9,  none, nan, kInvalidState},
        {"now NaN beats a future review",    0.9,  [](Flashcard& c) { c.memory.lastReview = kNow.addingSeconds(1); }, nan, kInvalidState},
        {"due infinite",                     0.9,  [](Flashcard& c) { c.memory.due = Instant::fromReferenceSeconds(kInf); }, kNow, kInvalidState},
        {"negative stability",               0.9,  [](Flashcard& c) { c.memory.stability = -0.1; }, kNow, kInvalidState},
        {"difficulty NaN",                   0.9,  [](Flashcard& c) { c.memory.difficulty = kNaN; }, kNow, kInvalidState},
        {"difficulty above 10",              0.9,  [](Flashcard& c) { c.memory.difficulty = 10.01; }, kNow, kInvalidState},
        {"elapsedDays infinite",             0.9,  [](Flashcard& c) { c.memory.elapsedDays = kInf; }, kNow, kInvalidState},
        {"negative scheduledDays",           0.9,  [](Flashcard& c) { c.memory.scheduledDays = -1; }, kNow, kInvalidState},
        {"negative reps",                    0.9,  [](Flashcard& c) { c.memory.reps = -1; }, kNow, kInvalidState},
        {"negative lapses",                  0.9,  [](Flashcard& c) { c.memory.lapses = -1; }, kNow, kInvalidState},
        {"negative step",                    0.9,  [](Flashcard& c) { c.memory.learningSteps = -1; }, kNow, kInvalidState},
        {"bad state beats a future review",  0.9,  [](Flashcard& c) { c.memory.reps = -1; c.memory.lastReview = kNow.addingSeconds(1); }, kNow, kInvalidState},
        {"last review a second ahead",       0.9,  [](Flashcard& c) { c.memory.lastReview = kNow.addingSeconds(1); }, kNow, kFuture},
        {"last review NaN",                  0.9,  [](Flashcard& c) { c.memory.lastReview = Instant::fromReferenceSeconds(kNaN); }, kNow, kFuture},
        {"future beats incomplete",          0.9,  [](Flashcard& c) { c.memory.reps = 0; c.memory.lastReview = kNow.addingSeconds(1); }, kNow, kFuture},
        {"learning without last review",     0.9,  [](Flashcard& c) { c.memory.lastReview.reset(); }, kNow, kIncomplete},
        {"learning without repetitions",     0.9,  [](Flashcard& c) { c.memory.reps = 0; }, kNow, kIncomplete},
        {"learning with zero stability",     0.9,  [](Flashcard& c) { c.memory.stability = 0; }, kNow, kIncomplete},
        {"learning with difficulty below 1", 0.9,  [](Flashcard& c) { c.memory.difficulty = 0.99; }, kNow, kIncomplete},
        {"stability the algorithm refuses",  0.9,  [](Flashcard& c) { c.memory.stability = 0.0005; }, kNow, kInvalidState},
        {"now beyond any date",              0.9,  none, Instant::fromReferenceSeconds(1e300), kNoInterval},
        {"learning card passes",             0.9,  none, kNow, {}},
        {"last review equal to now passes",  0.9,  [](Flashcard& c) { c.memory.lastReview = kNow; }, kNow, {}},
        {"difficulty exactly 10 passes",     0.9,  [](Flashcard& c) { c.memory.difficulty = 10; }, kNow, {}},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Flashcard card = learningCard();
        c.change(card);
        const StudyScheduler scheduler(c.retention);
        if (c.message.isEmpty()) {
            EXPECT_NO_THROW(scheduler.review(card, ReviewRating::good, c.now));
            continue;
        }
        for (ReviewRating rating : kAllReviewRatings) {
            try {
                scheduler.review(card, rating, c.now);
                ADD_FAILURE() << "review succeeded";
            } catch (const QuendaError& error) {
                EXPECT_EQ(error, QuendaError::invalidContent(c.message));
            }
        }
        try {
            scheduler.preview(card, c.now);
            ADD_FAILURE() << "preview succeeded";
        } catch (const QuendaError& error) {
            EXPECT_EQ(error, QuendaError::invalidContent(c.message));
        }
    }
}

TEST(StudySchedulerTest, NewCardPassesWhateverItsDueAndOtherFields) {
    const StudyScheduler scheduler(0.9);
    for (double offset : {-86400.0 * 400, 0.0, 86400.0 * 30}) {
        EXPECT_NO_THROW(scheduler.review(newCard(kNow.addingSeconds(offset)), ReviewRating::good, kNow));
    }
    // Stage new is exempt from the history check even with repetitions and a last review set.
    Flashcard odd = newCard();
    odd.memory.reps = 3;
    odd.memory.lastReview = kNow.addingSeconds(-60);
    EXPECT_NO_THROW(scheduler.review(odd, ReviewRating::again, kNow));
}

TEST(StudySchedulerTest, NewCardOutcomes) {
    const StudyScheduler scheduler(0.9);
    struct Outcome {
        ReviewRating rating;
        MemoryStage stage;
        double secondsUntilDue;
    };
    const Outcome outcomes[] = {{ReviewRating::again, MemoryStage::learning, 60},
                                {ReviewRating::hard, MemoryStage::learning, 360},
                                {ReviewRating::good, MemoryStage::learning, 600},
                                {ReviewRating::easy, MemoryStage::review, 8 * 86400}};
    for (const Outcome& o : outcomes) {
        const MemoryState after = scheduler.review(newCard(), o.rating, kNow).after;
        EXPECT_EQ(after.stage, o.stage) << static_cast<int>(o.rating);
        EXPECT_EQ(after.due.secondsSince(kNow), o.secondsUntilDue) << static_cast<int>(o.rating);
        EXPECT_EQ(after.reps, 1);
        EXPECT_EQ(after.lastReview, kNow);
    }
}

TEST(StudySchedulerTest, EventCarriesTheReviewAndTheStatesBeforeAndAfter) {
    const StudyScheduler scheduler(0.85);
    EXPECT_EQ(scheduler.retention(), 0.85);
    const Flashcard card = reviewCard();
    const ReviewEvent event = scheduler.review(card, ReviewRating::hard, kNow);
    EXPECT_FALSE(event.id.isNull());
    EXPECT_EQ(event.cardID, card.id);
    EXPECT_EQ(event.reviewedAt, kNow);
    EXPECT_EQ(event.rating, ReviewRating::hard);
    EXPECT_EQ(event.before, card.memory);
    EXPECT_EQ(event.after.stage, MemoryStage::review);
    EXPECT_EQ(event.after.elapsedDays, 8);
    EXPECT_GE(event.after.scheduledDays, 1);
    EXPECT_EQ(event.algorithm, QStringLiteral("fsrs-6-default-v1"));
    EXPECT_EQ(event.retention, 0.85);
    EXPECT_FALSE(event.undoneAt.has_value());
    EXPECT_NE(scheduler.review(card, ReviewRating::hard, kNow).id, event.id);
}

TEST(StudySchedulerTest, PreviewEqualsReviewForEachRating) {
    const StudyScheduler scheduler(0.9);
    for (const Flashcard& card : {newCard(), learningCard(), reviewCard()}) {
        const std::map<ReviewRating, MemoryState> preview = scheduler.preview(card, kNow);
        ASSERT_EQ(preview.size(), 4u);
        for (ReviewRating rating : kAllReviewRatings)
            EXPECT_EQ(preview.at(rating), scheduler.review(card, rating, kNow).after) << static_cast<int>(rating);
    }
}

// An instant between two milliseconds: the component works on the rounded value, yet the outcome keeps
// the exact instant, so the card can be rated again at that very instant (undo-and-redo, double taps).
TEST(StudySchedulerTest, SubMillisecondInstantCanBeReviewedAgainAtOnce) {
    const StudyScheduler scheduler(0.9);
    const Instant now = kNow.addingSeconds(0.0007);
    const MemoryState first = scheduler.review(newCard(), ReviewRating::good, now).after;
    EXPECT_EQ(first.lastReview, now);
    EXPECT_DOUBLE_EQ(first.due.secondsSince(now), 600);
    Flashcard again = newCard();
    again.memory = first;
    const MemoryState second = scheduler.review(again, ReviewRating::good, now).after;
    EXPECT_EQ(second.stage, MemoryStage::review);
    EXPECT_EQ(second.reps, 2);
}
