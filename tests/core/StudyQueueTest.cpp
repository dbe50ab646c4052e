#include "core/StudyQueue.h"

#include <gtest/gtest.h>

#include <QDateTime>

#include <algorithm>
#include <functional>
#include <limits>
#include <stdexcept>

namespace {

// Identifiers ordered like their numbers, so tests can say which card id is the smaller.
Uuid idOf(int n) {
    Uuid::Bytes bytes{};
    bytes[14] = static_cast<std::uint8_t>(n >> 8);
    bytes[15] = static_cast<std::uint8_t>(n & 0xFF);
    return Uuid(bytes);
}

Instant at(const char* isoUtc) {
    const QDateTime time = QDateTime::fromString(QString::fromLatin1(isoUtc), Qt::ISODateWithMs);
    EXPECT_TRUE(time.isValid()) << isoUtc;
    return Instant::fromUnixMilliseconds(static_cast<double>(time.toMSecsSinceEpoch()));
}

const QTimeZone kRome("Europe/Rome");
// 22:30 in Rome on the day clocks go back, a day of 25 hours that began at 2026-10-24T22:00Z.
const Instant kNow = at("2026-10-25T21:30:00Z");
const Instant kToday = at("2026-10-25T08:00:00Z");
const Instant kLastYear = at("2025-10-01T08:00:00Z");

/// A library built card by card; identifiers are handed out in increasing order.
struct LibraryBuilder {
    LibrarySnapshot snapshot;
    Uuid deck;
    int nextId = 1;

    LibraryBuilder() { deck = addDeck(); }

    Uuid addDeck() {
        const Uuid id = idOf(nextId++);
        snapshot.decks.append(Deck{id, "Mazzo", "", "book", "4F5FE7", kLastYear, kLastYear});
        return id;
    }

    Uuid addNote(Instant createdAt = kLastYear, std::optional<Uuid> inDeck = std::nullopt) {
        const Uuid id = idOf(nextId++);
        snapshot.notes.append(Note{.id = id,
                                   .deckID = inDeck.value_or(deck),
                                   .kind = NoteKind::reversed,
                                   .front = "Domanda",
                                   .back = "Risposta",
                                   .createdAt = createdAt,
                                   .updatedAt = createdAt});
        return id;
    }

    /// A new card when `due` is absent, otherwise a card in `stage` due then.
    Uuid addCard(Uuid noteID, int ordinal, std::optional<Instant> due = std::nullopt,
                 MemoryStage stage = MemoryStage::review, std::optional<Uuid> id = std::nullopt) {
        const Uuid cardID = id.value_or(idOf(nextId++));
        Uuid cardDeck = deck;
        for (const Note& note : snapshot.notes)
            if (note.id == noteID)
                cardDeck = note.deckID;
        MemoryState memory = MemoryState::newCard(kLastYear);
        if (due) {
            memory = MemoryState{
                .due = *due, .stability = 3, .difficulty = 5, .reps = 2, .stage = stage, .lastReview = kLastYear};
        }
        snapshot.cards.append(Flashcard{cardID, noteID, cardDeck, ordinal, memory, false});
        return cardID;
    }

    /// A note with one new card; returns the card.
    Uuid addNewCard(Instant createdAt = kLastYear) { return addCard(addNote(createdAt), 0); }

    /// A card introduced today: reviewed while new, now learning and due tomorrow.
    Uuid addIntroducedCard() {
        const Uuid card = addCard(addNote(), 0, at("2026-10-26T12:00:00Z"), MemoryStage::learning);
        review(card, kToday);
        return card;
    }

    void review(Uuid cardID, Instant reviewedAt, MemoryStage before = MemoryStage::new_, bool undone = false,
                std::optional<Uuid> id = std::nullopt) {
        ReviewEvent event{.id = id.value_or(idOf(nextId++)),
                          .cardID = cardID,
                          .reviewedAt = reviewedAt,
                          .before = MemoryState{.stage = before},
                          .after = MemoryState{.stage = MemoryStage::learning},
                          .algorithm = "fsrs-6-default-v1",
                          .retention = 0.9};
        if (undone)
            event.undoneAt = reviewedAt.addingSeconds(5);
        snapshot.reviews.append(event);
    }

    Flashcard& card(Uuid id) {
        for (Flashcard& card : snapshot.cards)
            if (card.id == id)
                return card;
        throw std::logic_error("no such card");
    }

    QList<Uuid> queue(Instant now = kNow, std::optional<Uuid> deckID = std::nullopt,
                      const QTimeZone& zone = kRome) const {
        QList<Uuid> ids;
        for (const Flashcard& card : StudyQueue::cards(snapshot, deckID, now, zone))
            ids.append(card.id);
        return ids;
    }
};

qsizetype countNew(const LibrarySnapshot& snapshot, const QList<Uuid>& queue) {
    qsizetype n = 0;
    for (const Flashcard& card : snapshot.cards)
        if (queue.contains(card.id) && card.memory.stage == MemoryStage::new_)
            ++n;
    return n;
}

} // namespace

TEST(StudyQueueTest, StartOfDayIsLocalMidnightOfTheZone) {
    struct Case {
        const char* zone;
        const char* now;
        const char* start;
    };
    // clang-format off
    const Case cases[] = {
        {"Europe/Rome",       "2026-06-15T10:00:00Z",     "2026-06-14T22:00:00Z"},
        {"Europe/Rome",       "2026-03-29T21:30:00Z",     "2026-03-28T23:00:00Z"}, // 23-hour day
        {"Europe/Rome",       "2026-10-25T22:59:59Z",     "2026-10-24T22:00:00Z"}, // 25-hour day
        {"Europe/Rome",       "2026-10-25T23:00:00Z",     "2026-10-25T23:00:00Z"},
        {"Europe/Rome",       "2026-10-24T21:59:59.999Z", "2026-10-23T22:00:00Z"},
        {"Pacific/Auckland",  "2026-12-11T01:05:00Z",     "2026-12-10T11:00:00Z"},
        {"Pacific/Auckland",  "2026-06-30T12:30:00Z",     "2026-06-30T12:00:00Z"},
        {"America/Sao_Paulo", "2018-11-04T12:00:00Z",     "2018-11-04T03:00:00Z"}, // midnight skipped
        {"",                  "2026-10-25T21:30:00Z",     "2026-10-25T00:00:00Z"}, // invalid zone: UTC
    };
    // clang-format on
    for (const Case& c : cases) {
        const QTimeZone zone(c.zone);
        EXPECT_EQ(StudyQueue::startOfDay(at(c.now), zone), at(c.start)) << c.zone << " " << c.now;
    }
    // A fraction of a millisecond before midnight is still the previous day.
    EXPECT_EQ(StudyQueue::startOfDay(at("2026-10-24T22:00:00Z").addingSeconds(-0.0001), kRome),
              at("2026-10-23T22:00:00Z"));
    const Instant farAway = Instant::fromReferenceSeconds(1e300);
    EXPECT_EQ(StudyQueue::startOfDay(farAway, kRome), farAway);
}

TEST(StudyQueueTest, NonFiniteNowGivesNothing) {
    LibraryBuilder library;
    library.addNewCard();
    for (double now : {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
                       -std::numeric_limits<double>::infinity()})
        EXPECT_TRUE(library.queue(Instant::fromReferenceSeconds(now)).isEmpty()) << now;
}

TEST(StudyQueueTest, DailyBudgetCountsDistinctStandingIntroductionsOfToday) {
    struct Case {
        const char* name;
        std::int64_t limit;
        bool introduceThree;
        qsizetype expectedNew;
    };
    const Case cases[] = {
        {"untouched day", 10, false, 10}, {"three introduced", 10, true, 7}, {"limit zero", 0, false, 0},
        {"negative limit", -3, false, 0}, {"budget overspent", 2, true, 0},  {"large limit", 1000, false, 15},
    };
    for (const Case& c : cases) {
        LibraryBuilder library;
        library.snapshot.preferences.dailyNewLimit = c.limit;
        const Uuid dueLater = library.addCard(library.addNote(), 0, kNow, MemoryStage::review);
        const Uuid dueFirst = library.addCard(library.addNote(), 0, kToday, MemoryStage::relearning);
        for (int i = 0; i < 15; ++i)
            library.addNewCard();
        if (c.introduceThree) {
            const Uuid twice = library.addIntroducedCard();
            library.review(twice, kToday.addingSeconds(60));
            library.addIntroducedCard();
            library.review(idOf(9999), kToday); // a card deleted since still used the budget
            // Neither an undone introduction nor the review of a card that was not new counts.
            library.review(library.addCard(library.addNote(), 0, at("2026-10-30T00:00:00Z")), kToday, MemoryStage::new_,
                           true);
            library.review(library.addCard(library.addNote(), 0, at("2026-10-30T00:00:00Z")), kToday,
                           MemoryStage::review);
        }
        const QList<Uuid> queue = library.queue();
        ASSERT_GE(queue.size(), 2) << c.name;
        EXPECT_EQ(queue[0], dueFirst) << c.name;
        EXPECT_EQ(queue[1], dueLater) << c.name;
        EXPECT_EQ(queue.size(), 2 + c.expectedNew) << c.name;
        EXPECT_EQ(countNew(library.snapshot, queue), c.expectedNew) << c.name;
    }
}

TEST(StudyQueueTest, OnlyReviewsBetweenStartOfTodayAndNowCount) {
    struct Case {
        const char* zone;
        const char* now;
        const char* start;
    };
    // clang-format off
    const Case cases[] = {
        {"Europe/Rome",      "2026-03-29T21:30:00Z", "2026-03-28T23:00:00Z"},
        {"Europe/Rome",      "2026-10-25T22:30:00Z", "2026-10-24T22:00:00Z"},
        {"Pacific/Auckland", "2026-12-11T01:05:00Z", "2026-12-10T11:00:00Z"},
    };
    // clang-format on
    struct Offset {
        bool fromStart;
        double seconds;
        bool counts;
    };
    const Offset offsets[] = {{true, -1, false}, {true, 0, true}, {false, 0, true}, {false, 1, false}};
    for (const Case& c : cases) {
        for (const Offset& offset : offsets) {
            // With a budget of one, the new card is offered only if the review did not count, and the
            // sibling of the reviewed card only if the review did not lock its note.
            LibraryBuilder library;
            library.snapshot.preferences.dailyNewLimit = 1;
            const Uuid fresh = library.addNewCard(kLastYear.addingSeconds(1));
            const Uuid note = library.addNote();
            const Uuid reviewed = library.addCard(note, 0, at("2030-01-01T00:00:00Z"));
            const Uuid sibling = library.addCard(note, 1, kLastYear);
            const Instant base = at(offset.fromStart ? c.start : c.now);
            library.review(reviewed, base.addingSeconds(offset.seconds));
            const QList<Uuid> expected = offset.counts ? QList<Uuid>{} : QList<Uuid>{sibling, fresh};
            EXPECT_EQ(library.queue(at(c.now), std::nullopt, QTimeZone(c.zone)), expected)
                << c.zone << " " << (offset.fromStart ? "start" : "now") << offset.seconds;
        }
    }
}

TEST(StudyQueueTest, ANoteOffersOneCardAndTodaysFirstReviewedCardOwnsIt) {
    LibraryBuilder library;
    const Uuid note = library.addNote();
    // The backward card has the smaller id: the ordinal decides, not the id.
    const Uuid backward = library.addCard(note, 1, std::nullopt, MemoryStage::new_, idOf(500));
    const Uuid forward = library.addCard(note, 0, std::nullopt, MemoryStage::new_, idOf(600));
    EXPECT_EQ(library.queue(), QList<Uuid>{forward});

    // Forward reviewed today, now in a learning step ending at 22:00Z: nothing from the note before,
    // only the forward card after, though new-card budget remains for the backward one.
    library.review(forward, kToday);
    library.card(forward).memory = {.due = at("2026-10-25T22:00:00Z"),
                                    .stability = 1,
                                    .difficulty = 5,
                                    .reps = 1,
                                    .stage = MemoryStage::learning,
                                    .lastReview = kToday};
    EXPECT_EQ(library.queue(), QList<Uuid>{});
    EXPECT_EQ(library.queue(at("2026-10-25T22:00:00Z")), QList<Uuid>{forward});
    // The next day the lock is gone and the sibling competes again (a due card first).
    EXPECT_EQ(library.queue(at("2026-10-26T08:00:00Z")), QList<Uuid>{forward});
    library.card(forward).memory.due = at("2026-10-27T08:00:00Z");
    EXPECT_EQ(library.queue(at("2026-10-26T08:00:00Z")), QList<Uuid>{backward});

    // Undone, the review neither locks nor spends the budget.
    library.snapshot.reviews.last().undoneAt = kToday.addingSeconds(10);
    library.card(forward).memory = MemoryState::newCard(kLastYear);
    library.snapshot.preferences.dailyNewLimit = 1;
    EXPECT_EQ(library.queue(), QList<Uuid>{forward});
}

TEST(StudyQueueTest, LockGoesToTheEarliestReviewThenTheSmallerReviewId) {
    struct Case {
        const char* name;
        double forwardSeconds; // review times after kToday
        double backwardSeconds;
        int forwardReviewId;
        int backwardReviewId;
        bool forwardOwns;
    };
    const Case cases[] = {
        {"backward reviewed first", 60, 0, 800, 900, false},
        {"forward reviewed first", 0, 60, 900, 800, true},
        {"same time, backward's review id smaller", 0, 0, 900, 800, false},
        {"same time, forward's review id smaller", 0, 0, 800, 900, true},
    };
    for (const Case& c : cases) {
        LibraryBuilder library;
        const Uuid note = library.addNote();
        const Uuid forward = library.addCard(note, 0, kToday, MemoryStage::learning);
        const Uuid backward = library.addCard(note, 1, kToday, MemoryStage::learning);
        // List order is not time order.
        library.review(backward, kToday.addingSeconds(c.backwardSeconds), MemoryStage::new_, false,
                       idOf(c.backwardReviewId));
        library.review(forward, kToday.addingSeconds(c.forwardSeconds), MemoryStage::new_, false,
                       idOf(c.forwardReviewId));
        EXPECT_EQ(library.queue(), QList<Uuid>{c.forwardOwns ? forward : backward}) << c.name;
    }
}

TEST(StudyQueueTest, DeckFilterKeepsBudgetAndLocksOfEveryDeck) {
    LibraryBuilder library;
    library.snapshot.preferences.dailyNewLimit = 3;
    const Uuid other = library.addDeck();
    const Uuid otherNew = library.addCard(library.addNote(kLastYear, other), 0);
    // In the other deck, a card introduced today locks its new sibling and spends one new card.
    const Uuid locked = library.addNote(kLastYear, other);
    library.review(library.addCard(locked, 0, at("2026-10-26T00:00:00Z"), MemoryStage::learning), kToday);
    library.addCard(locked, 1);
    const Uuid due = library.addCard(library.addNote(), 0, kToday);
    const Uuid first = library.addNewCard();
    const Uuid second = library.addNewCard();
    library.addNewCard();

    EXPECT_EQ(library.queue(kNow, library.deck), (QList<Uuid>{due, first, second}));
    EXPECT_EQ(library.queue(kNow, other), QList<Uuid>{otherNew});
    EXPECT_EQ(library.queue(kNow, idOf(7777)), QList<Uuid>{});
    EXPECT_EQ(library.queue(), (QList<Uuid>{due, otherNew, first}));
}

TEST(StudyQueueTest, SuspendedCardsAreNeverOfferedButMayStillOwnTheirNote) {
    for (bool reviewedToday : {false, true}) {
        LibraryBuilder library;
        const Uuid note = library.addNote();
        const Uuid suspended = library.addCard(note, 0, kToday);
        const Uuid sibling = library.addCard(note, 1);
        library.card(suspended).isSuspended = true;
        if (reviewedToday)
            library.review(suspended, kToday, MemoryStage::review);
        EXPECT_EQ(library.queue(), reviewedToday ? QList<Uuid>{} : QList<Uuid>{sibling}) << reviewedToday;
    }
}

TEST(StudyQueueTest, OnlyCardsOfAConsistentDeckAndNoteAreOffered) {
    struct Case {
        const char* name;
        std::function<void(LibraryBuilder&, Flashcard&)> change;
        bool offered;
    };
    const Case cases[] = {
        {"due at now", [](LibraryBuilder&, Flashcard& c) { c.memory.due = kNow; }, true},
        {"due a second later", [](LibraryBuilder&, Flashcard& c) { c.memory.due = kNow.addingSeconds(1); }, false},
        {"due time not a number",
         [](LibraryBuilder&, Flashcard& c) {
             c.memory.due = Instant::fromReferenceSeconds(std::numeric_limits<double>::quiet_NaN());
         },
         false},
        {"new and due later",
         [](LibraryBuilder&, Flashcard& c) { c.memory = MemoryState::newCard(kNow.addingSeconds(9)); }, true},
        {"deck differs from the note's", [](LibraryBuilder& l, Flashcard& c) { c.deckID = l.addDeck(); }, false},
        {"note missing", [](LibraryBuilder& l, Flashcard&) { l.snapshot.notes.clear(); }, false},
        {"deck missing", [](LibraryBuilder& l, Flashcard&) { l.snapshot.decks.clear(); }, false},
    };
    for (const Case& c : cases) {
        LibraryBuilder library;
        const Uuid id = library.addCard(library.addNote(), 0, kToday);
        Flashcard card = library.card(id);
        c.change(library, card);
        library.card(id) = card;
        EXPECT_EQ(library.queue(), c.offered ? QList<Uuid>{id} : QList<Uuid>{}) << c.name;
    }
}

TEST(StudyQueueTest, DueCardsByDueThenNoteAgeAndNewCardsByNoteAgeThenId) {
    LibraryBuilder library;
    library.snapshot.preferences.dailyNewLimit = 100;
    const Instant early = kToday;
    const Uuid newOfOldNote = library.addNewCard(kLastYear.addingSeconds(-100));
    const Uuid dueOfYoungNote = library.addCard(library.addNote(kLastYear.addingSeconds(50)), 0, early);
    const Uuid dueLater = library.addCard(library.addNote(kLastYear.addingSeconds(-500)), 0, early.addingSeconds(1));
    const Uuid dueOfOldNote = library.addCard(library.addNote(kLastYear.addingSeconds(10)), 0, early);
    // Notes created in the same instant: their cards go by id, whatever the list order.
    const Uuid sameInstantLargerId = library.addCard(library.addNote(), 0, std::nullopt, MemoryStage::new_, idOf(700));
    const Uuid sameInstantSmallerId = library.addCard(library.addNote(), 0, std::nullopt, MemoryStage::new_, idOf(650));
    // A cloze note offers its lowest number.
    const Uuid cloze = library.addNote(kLastYear.addingSeconds(1));
    library.addCard(cloze, 3);
    const Uuid clozeFirst = library.addCard(cloze, 1);
    library.addCard(cloze, 2);

    EXPECT_EQ(library.queue(), (QList<Uuid>{dueOfOldNote, dueOfYoungNote, dueLater, newOfOldNote, sameInstantSmallerId,
                                            sameInstantLargerId, clozeFirst}));
}

// Two cards of one note and a card of another note, all tied on note age, whose ids interleave: the
// pairwise rules (ordinal within a note, id across notes) would form a cycle. The note still offers
// its lowest ordinal, and the notes are ordered by the ids of the cards they offer.
TEST(StudyQueueTest, InterleavedIdsOfNotesCreatedTogetherGiveAStableOrder) {
    LibraryBuilder library;
    const Uuid reversed = library.addNote();
    const Uuid backward = library.addCard(reversed, 1, std::nullopt, MemoryStage::new_, idOf(601));
    const Uuid forward = library.addCard(reversed, 0, std::nullopt, MemoryStage::new_, idOf(603));
    const Uuid other = library.addCard(library.addNote(), 0, std::nullopt, MemoryStage::new_, idOf(602));
    EXPECT_EQ(library.queue(), (QList<Uuid>{other, forward}));
    // Whatever the list order.
    std::reverse(library.snapshot.cards.begin(), library.snapshot.cards.end());
    EXPECT_EQ(library.queue(), (QList<Uuid>{other, forward}));
    Q_UNUSED(backward);
}

TEST(StudyQueueTest, DuplicateIdentifiersKeepTheFirstRecord) {
    LibraryBuilder library;
    const Uuid note = library.addNote();
    // A second note with the same id in another deck: its cards do not match the kept note's deck.
    const Uuid otherDeck = library.addDeck();
    library.snapshot.notes.append(library.snapshot.notes.first());
    library.snapshot.notes.last().deckID = otherDeck;
    const Uuid card = library.addCard(note, 0, kToday);
    library.snapshot.cards.append(library.snapshot.cards.first());
    library.snapshot.cards.last().deckID = otherDeck;
    // The same card id on a card of another note: placed once only.
    const Uuid twin = library.addCard(library.addNote(), 0, kToday, MemoryStage::review, card);
    EXPECT_EQ(library.queue(), QList<Uuid>{card});
    EXPECT_EQ(twin, card);
}
