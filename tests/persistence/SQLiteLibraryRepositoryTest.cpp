#include "persistence/SQLiteLibraryRepository.h"
#include "persistence/LibraryStorage.h"

#include "LibraryFixtures.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <functional>
#include <limits>
#include <thread>

using namespace Fixtures;

namespace {

template <typename T> T await(QFuture<T> future) {
    if constexpr (std::is_void_v<T>)
        future.waitForFinished();
    else
        return future.result();
}

template <typename T> void expectRefusal(QFuture<T> future, const QuendaError& expected) {
    try {
        await(future);
        ADD_FAILURE() << "succeeded, expected " << expected.what();
    } catch (const QuendaError& error) {
        EXPECT_EQ(error, expected);
    }
}

QuendaError invalid(const char16_t* message) {
    return QuendaError::invalidContent(QString::fromUtf16(message));
}

class SQLiteLibraryRepositoryTest : public ::testing::Test {
protected:
    void SetUp() override {
        await(repository.saveDeck(deck()));
        await(repository.saveNote(basic, {basicCard}));
    }

    LibrarySnapshot library() { return await(repository.load()); }

    /// Runs `change`, expects it refused with `expected`, and the library unchanged.
    template <typename T>
    void expectRefusedWithoutChange(std::function<QFuture<T>()> change, const QuendaError& expected) {
        const LibrarySnapshot before = library();
        expectRefusal(change(), expected);
        EXPECT_EQ(library(), before);
    }

    std::optional<Flashcard> stored(const Uuid& cardID) {
        for (const Flashcard& c : library().cards)
            if (c.id == cardID)
                return c;
        return std::nullopt;
    }

    SQLiteLibraryRepository repository{SQLiteLibraryRepository::InMemory{}};
    const Note basic = note();
    const Flashcard basicCard = card(basic);
};

} // namespace

TEST_F(SQLiteLibraryRepositoryTest, SaveDeckCreatesAndOverwritesAfterValidation) {
    Deck renamed = deck();
    renamed.name = QStringLiteral("Geografia");
    await(repository.saveDeck(renamed));
    await(repository.saveDeck(deck(1)));
    EXPECT_EQ(library().decks, (QList<Deck>{renamed, deck(1)}));
    renamed.name = QStringLiteral("  ");
    expectRefusedWithoutChange<void>([&] { return repository.saveDeck(renamed); }, invalid(u"Dai un nome al mazzo."));
}

TEST_F(SQLiteLibraryRepositoryTest, SaveNoteKeepsProgressOfSurvivingOrdinalsAndDropsTheOthers) {
    Note reversed = note(1);
    reversed.kind = NoteKind::reversed;
    const Flashcard first = card(reversed, 0, 40);
    const Flashcard second = card(reversed, 1, 40);
    await(repository.saveNote(reversed, {first, second}));
    const ReviewEvent firstReview = review(first, 1);
    const ReviewEvent secondReview = review(second, 2);
    await(repository.recordReview(firstReview));
    await(repository.recordReview(secondReview));
    await(repository.setSuspended({first.id}, true));

    // Edited back to one card, passed with a fresh identifier and fresh memory.
    Note edited = reversed;
    edited.kind = NoteKind::basic;
    edited.back = QStringLiteral("Nuova risposta");
    Flashcard fresh = card(edited, 0, 90);
    await(repository.saveNote(edited, {fresh}));

    const LibrarySnapshot after = library();
    Flashcard kept = first;
    kept.memory = firstReview.after;
    kept.isSuspended = true;
    EXPECT_EQ(stored(first.id), kept);
    EXPECT_EQ(stored(second.id), std::nullopt);
    EXPECT_EQ(stored(fresh.id), std::nullopt);
    EXPECT_EQ(after.reviews, QList<ReviewEvent>{firstReview});
    EXPECT_TRUE(after.notes.contains(edited));
}

TEST_F(SQLiteLibraryRepositoryTest, SaveNoteInsertsNewOrdinalsAsGivenAndMovesCardsWithTheirNote) {
    await(repository.saveDeck(deck(1)));
    Note moved = basic;
    moved.deckID = deck(1).id;
    moved.kind = NoteKind::reversed;
    Flashcard zero = basicCard;
    zero.deckID = moved.deckID;
    Flashcard one = card(moved, 1, 50);
    one.memory = reviewedMemory();
    await(repository.saveNote(moved, {zero, one}));
    EXPECT_EQ(library().cards, (QList<Flashcard>{zero, one}));
}

TEST_F(SQLiteLibraryRepositoryTest, SaveNoteRefusals) {
    Note other = note(1);
    Flashcard collides = card(other, 0, 60);
    collides.id = basicCard.id; // a new ordinal of `other` using the identifier of another note's card
    Note orphan = note(2, id(0xD0, 9));
    Note blank = note(3);
    blank.front.clear();
    Note single = note(4);
    struct Case {
        const char* name;
        Note note;
        QList<Flashcard> cards;
        QuendaError expected;
    };
    const Case cases[] = {
        {"identifier in use", other, {collides}, invalid(u"L’identificativo di una carta è già utilizzato.")},
        {"deck deleted meanwhile", orphan, {card(orphan, 0, 70)}, QuendaError::missingRecord()},
        {"note invalid", blank, {card(blank, 0, 80)}, invalid(u"Scrivi il contenuto della domanda.")},
        {"no cards", single, {}, invalid(u"Le carte generate sono mancanti o duplicate.")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        expectRefusedWithoutChange<void>([&] { return repository.saveNote(c.note, c.cards); }, c.expected);
    }
}

TEST_F(SQLiteLibraryRepositoryTest, DeletesCascadeAndIgnoreUnknownIdentifiers) {
    await(repository.recordReview(review(basicCard)));
    await(repository.deleteNote(id(0xA0, 77)));
    await(repository.deleteDeck(id(0xD0, 77)));
    EXPECT_EQ(library().reviews.size(), 1);
    await(repository.deleteNote(basic.id));
    LibrarySnapshot after = library();
    EXPECT_TRUE(after.notes.isEmpty() && after.cards.isEmpty() && after.reviews.isEmpty());
    EXPECT_EQ(after.decks.size(), 1);

    await(repository.saveNote(basic, {basicCard}));
    await(repository.deleteDeck(deck().id));
    after = library();
    EXPECT_TRUE(after.decks.isEmpty() && after.notes.isEmpty() && after.cards.isEmpty());
}

TEST_F(SQLiteLibraryRepositoryTest, SetSuspendedIsAllOrNothing) {
    Note second = note(1);
    await(repository.saveNote(second, {card(second, 0, 5)}));
    expectRefusedWithoutChange<void>(
        [&] {
            return repository.setSuspended({basicCard.id, id(0xC0, 99)}, true);
        },
        QuendaError::missingRecord());
    await(repository.setSuspended({basicCard.id, card(second, 0, 5).id, basicCard.id}, true));
    for (const Flashcard& c : library().cards) {
        EXPECT_TRUE(c.isSuspended);
    }
    await(repository.setSuspended({basicCard.id}, false));
    EXPECT_FALSE(stored(basicCard.id)->isSuspended);
    EXPECT_EQ(stored(basicCard.id)->memory, basicCard.memory);
    await(repository.setSuspended({}, true));
}

TEST_F(SQLiteLibraryRepositoryTest, RecordReviewStoresTheEventAndTheCardsNewMemory) {
    const ReviewEvent event = review(basicCard);
    await(repository.recordReview(event));
    const LibrarySnapshot after = library();
    EXPECT_EQ(after.reviews, QList<ReviewEvent>{event});
    EXPECT_EQ(stored(basicCard.id)->memory, event.after);
}

TEST_F(SQLiteLibraryRepositoryTest, RecordReviewRefusals) {
    const ReviewEvent event = review(basicCard);
    ReviewEvent undone = event;
    undone.undoneAt = at(1'700'000'600);
    ReviewEvent unknown = review(card(note(5), 0, 55), 5);
    ReviewEvent stale = event;
    stale.id = id(0xE0, 6);
    stale.before.reps = 7;
    stale.before.lapses = 0;
    ReviewEvent badRetention = event;
    badRetention.retention = 1;
    struct Case {
        const char* name;
        ReviewEvent event;
        QuendaError expected;
    };
    const Case cases[] = {
        {"invalid", badRetention, invalid(u"I parametri del ripasso non sono validi.")},
        {"already undone", undone, invalid(u"Non è possibile registrare un ripasso già annullato.")},
        {"unknown card", unknown, QuendaError::missingRecord()},
        {"stale before", stale, invalid(u"La carta è cambiata. Riapri il ripasso prima di continuare.")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        expectRefusedWithoutChange<void>([&] { return repository.recordReview(c.event); }, c.expected);
    }

    // The same event twice: the card has moved on, which is what the second attempt reports.
    await(repository.recordReview(event));
    expectRefusedWithoutChange<void>([&] { return repository.recordReview(event); },
                                     invalid(u"La carta è cambiata. Riapri il ripasso prima di continuare."));
    // Undone, the card is back at `before`, and the identifier is what is refused.
    await(repository.undoLastReview(at(1'700'000'700)));
    expectRefusedWithoutChange<void>([&] { return repository.recordReview(event); },
                                     invalid(u"Questo ripasso è già stato registrato."));
    // A suspended card is refused even though `before` matches.
    await(repository.setSuspended({basicCard.id}, true));
    ReviewEvent fresh = event;
    fresh.id = id(0xE0, 9);
    expectRefusedWithoutChange<void>([&] { return repository.recordReview(fresh); },
                                     invalid(u"Questa carta è sospesa dal ripasso."));
}

TEST_F(SQLiteLibraryRepositoryTest, UndoLastReviewWalksBackThroughStandingReviews) {
    EXPECT_EQ(await(repository.undoLastReview(at(1'700'000'000))), std::nullopt);
    Note other = note(1);
    const Flashcard otherCard = card(other, 0, 3);
    await(repository.saveNote(other, {otherCard}));
    const ReviewEvent first = review(basicCard, 1);
    ReviewEvent second = review(otherCard, 2);
    await(repository.recordReview(first));
    await(repository.recordReview(second));

    const std::optional<ReviewEvent> undone = await(repository.undoLastReview(at(1'700'001'000)));
    ReviewEvent expected = second;
    expected.undoneAt = at(1'700'001'000);
    EXPECT_EQ(undone, expected);
    EXPECT_EQ(stored(otherCard.id)->memory, otherCard.memory);
    EXPECT_EQ(library().reviews, (QList<ReviewEvent>{first, expected}));
    await(repository.database().read([&](SQLiteConnection& db) {
        EXPECT_EQ(db.blob("SELECT undoneAt FROM reviews WHERE id = ?", {LibraryStorage::idValue(second.id)}),
                  QByteArray::number(at(1'700'001'000).unixSeconds(), 'f', 1));
    }));

    EXPECT_EQ(await(repository.undoLastReview(at(1'700'002'000)))->id, first.id);
    EXPECT_EQ(stored(basicCard.id)->memory, basicCard.memory);
    EXPECT_EQ(await(repository.undoLastReview(at(1'700'003'000))), std::nullopt);
}

TEST_F(SQLiteLibraryRepositoryTest, UndoLastReviewRefusesWhenTheCardHasChanged) {
    const ReviewEvent event = review(basicCard);
    await(repository.recordReview(event));
    // Overwrite the card's row with other progress, as another writer of the file could.
    await(repository.database().write([&](SQLiteConnection& db) {
        Flashcard changed = basicCard;
        changed.memory = reviewedMemory(1'800'000'000, 4);
        LibraryStorage::save(changed, db);
    }));
    expectRefusedWithoutChange<std::optional<ReviewEvent>>(
        [&] { return repository.undoLastReview(at(1'700'001'000)); },
        invalid(u"Il ripasso non può essere annullato perché la carta è cambiata."));
    expectRefusedWithoutChange<std::optional<ReviewEvent>>(
        [&] { return repository.undoLastReview(at(std::numeric_limits<double>::quiet_NaN())); },
        invalid(u"Una data non è valida."));
}

TEST_F(SQLiteLibraryRepositoryTest, SavePreferencesChecksTheRange) {
    await(repository.savePreferences({.dailyNewLimit = 1000, .desiredRetention = 0.8}));
    EXPECT_EQ(library().preferences, (StudyPreferences{.dailyNewLimit = 1000, .desiredRetention = 0.8}));
    for (const StudyPreferences& wrong :
         {StudyPreferences{1001, 0.9}, StudyPreferences{-1, 0.9}, StudyPreferences{10, 1.0}, StudyPreferences{10, 0.0}})
        expectRefusedWithoutChange<void>([&] { return repository.savePreferences(wrong); },
                                         invalid(u"Le impostazioni di ripasso non sono valide."));
}

TEST_F(SQLiteLibraryRepositoryTest, ReplacingImportTakesTheSnapshotWhole) {
    LibrarySnapshot incoming = snapshot();
    incoming.reviews[0].undoneAt = at(1'700'000'900);
    incoming.cards[0].isSuspended = true;
    await(repository.saveDeck(deck(7)));
    await(repository.importLibrary(incoming, true));
    EXPECT_EQ(library(), incoming);
}

TEST_F(SQLiteLibraryRepositoryTest, AFailedReplacingImportLeavesTheOldLibrary) {
    await(repository.recordReview(review(basicCard)));
    await(repository.database().write([](SQLiteConnection& db) {
        db.execute("CREATE TRIGGER refuse BEFORE INSERT ON reviews WHEN NEW.id LIKE 'E0%' "
                   "BEGIN SELECT RAISE(ABORT, 'inserimento rifiutato'); END");
    }));
    LibrarySnapshot incoming = snapshot();
    incoming.libraryID = id(0xF1);
    const LibrarySnapshot before = library();
    try {
        await(repository.importLibrary(incoming, true));
        FAIL();
    } catch (const PlatformError& error) {
        EXPECT_EQ(error.description(), QStringLiteral("inserimento rifiutato"));
    }
    EXPECT_EQ(library(), before);
    expectRefusedWithoutChange<void>(
        [&] {
            LibrarySnapshot broken = incoming;
            broken.preferences.desiredRetention = 2;
            return repository.importLibrary(broken, true);
        },
        invalid(u"Le impostazioni di ripasso non sono valide."));
}

TEST_F(SQLiteLibraryRepositoryTest, MergingImportAddsOnlyWhatIsNewWithFreshCards) {
    const LibrarySnapshot before = library();
    LibrarySnapshot incoming = snapshot(); // same deck and note identifiers as the stored ones
    incoming.decks[0].name = QStringLiteral("Altro nome");
    incoming.notes[0].front = QStringLiteral("Testo cambiato");
    Note added = note(1);
    Flashcard addedCard = card(added, 0, 33);
    addedCard.memory = reviewedMemory();
    addedCard.isSuspended = true;
    incoming.notes.append(added);
    incoming.cards.append(addedCard);
    incoming.reviews.append(review(addedCard, 4));
    incoming.preferences = {.dailyNewLimit = 99, .desiredRetention = 0.7};
    incoming.libraryID = id(0xF9);

    await(repository.importLibrary(incoming, false));
    const LibrarySnapshot after = library();
    EXPECT_EQ(after.libraryID, before.libraryID);
    EXPECT_EQ(after.preferences, before.preferences);
    EXPECT_EQ(after.decks, before.decks);
    EXPECT_TRUE(after.notes.contains(before.notes[0]) && after.notes.contains(added));
    EXPECT_TRUE(after.reviews.isEmpty());
    const Flashcard imported = *stored(addedCard.id);
    EXPECT_FALSE(imported.isSuspended);
    EXPECT_EQ(imported.memory.stage, MemoryStage::new_);
    EXPECT_EQ(imported.memory.reps, 0);
    EXPECT_EQ(imported.memory.lastReview, std::nullopt);
    EXPECT_EQ(imported.memory, MemoryState::newCard(imported.memory.due));
    EXPECT_LT(std::abs(imported.memory.due.secondsSince(
                  Instant::fromUnixSeconds(double(QDateTime::currentSecsSinceEpoch())))),
              60);
}

TEST_F(SQLiteLibraryRepositoryTest, MergingImportWithACollidingCardChangesNothing) {
    LibrarySnapshot incoming{.libraryID = id(0xF2)};
    incoming.decks = {deck(4)};
    Note fresh = note(4, deck(4).id);
    Flashcard colliding = card(fresh, 0, 0);
    colliding.id = basicCard.id;
    incoming.notes = {fresh};
    incoming.cards = {colliding};
    expectRefusedWithoutChange<void>([&] { return repository.importLibrary(incoming, false); },
                                     invalid(u"Una carta importata usa un identificativo già presente."));
}

TEST_F(SQLiteLibraryRepositoryTest, OperationsFromManyThreadsAllTakeEffect) {
    std::vector<std::thread> threads;
    for (std::uint8_t t = 0; t < 4; ++t)
        threads.emplace_back([this, t] {
            for (std::uint8_t i = 0; i < 10; ++i)
                await(repository.saveDeck(deck(std::uint8_t(10 + t * 10 + i))));
        });
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(library().decks.size(), 41);
}
