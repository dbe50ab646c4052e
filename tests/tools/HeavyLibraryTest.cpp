#include "heavy-library/HeavyLibrary.h"

#include "core/CardFactory.h"

#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <QHash>
#include <QSet>

namespace {

HeavyLibraryOptions smallOptions(std::uint64_t seed) {
    return {.seed = seed, .decks = 4, .notes = 300, .cards = 620, .reviews = 20'000, .images = 10};
}

} // namespace

TEST(HeavyLibraryTest, SameSeedGivesTheSameLibrary) {
    const LibrarySnapshot library = generateHeavyLibrary(smallOptions(5));
    EXPECT_TRUE(library == generateHeavyLibrary(smallOptions(5)));
    EXPECT_FALSE(library == generateHeavyLibrary(smallOptions(6)));
}

// The library must look like one the application built: what the factory makes from each note, and a
// history in which every review starts from the state the previous one left.
static void checkHistory(const HeavyLibraryOptions& options) {
    const LibrarySnapshot library = generateHeavyLibrary(options);
    ASSERT_EQ(library.decks.size(), options.decks);
    ASSERT_EQ(library.notes.size(), options.notes);
    ASSERT_EQ(library.cards.size(), options.cards);
    ASSERT_EQ(library.reviews.size(), options.reviews);

    QSet<Uuid> ids{library.libraryID};
    auto unique = [&](const Uuid& id) {
        EXPECT_EQ(id.bytes()[6] >> 4, 4);
        const bool fresh = !ids.contains(id);
        ids.insert(id);
        return fresh;
    };
    QSet<Uuid> decks;
    for (const Deck& deck : library.decks) {
        EXPECT_TRUE(unique(deck.id));
        decks.insert(deck.id);
    }

    const Instant end = library.reviews.last().reviewedAt;
    QHash<Uuid, QList<Flashcard>> cardsOfNote;
    for (const Flashcard& card : library.cards)
        cardsOfNote[card.noteID].append(card);
    QHash<Uuid, MemoryState> memory; // each card's state as the history so far leaves it
    qsizetype kinds[3] = {};
    qsizetype formatted = 0;
    for (qsizetype i = 0; i < library.notes.size(); ++i) {
        const Note& note = library.notes[i];
        EXPECT_TRUE(unique(note.id));
        EXPECT_TRUE(decks.contains(note.deckID));
        EXPECT_LE(note.createdAt, end);
        if (i > 0) {
            EXPECT_LE(library.notes[i - 1].createdAt, note.createdAt);
        }
        ++kinds[static_cast<int>(note.kind)];
        formatted += note.frontDocument ? 1 : 0;
        // The factory accepts the note and keeps exactly its cards.
        QList<Flashcard> expected = cardsOfNote.value(note.id);
        for (Flashcard& card : expected) {
            EXPECT_TRUE(unique(card.id));
            memory.insert(card.id, MemoryState::newCard(note.createdAt));
        }
        EXPECT_EQ(CardFactory::cards(note, expected, note.createdAt), expected);
    }
    for (qsizetype kind : kinds)
        EXPECT_GT(kind, 0);
    EXPECT_GT(formatted, 0);

    for (qsizetype i = 0; i < library.reviews.size(); ++i) {
        const ReviewEvent& review = library.reviews[i];
        EXPECT_TRUE(unique(review.id));
        ASSERT_TRUE(memory.contains(review.cardID));
        if (i > 0) {
            ASSERT_LE(library.reviews[i - 1].reviewedAt, review.reviewedAt);
        }
        EXPECT_FALSE(review.undoneAt.has_value());
        ASSERT_EQ(review.before, memory[review.cardID]);
        memory[review.cardID] = review.after;
    }
    qsizetype fresh = 0;
    for (const Flashcard& card : library.cards) {
        EXPECT_EQ(card.memory, memory[card.id]);
        fresh += card.memory.stage == MemoryStage::new_ ? 1 : 0;
    }
    EXPECT_GT(fresh, 0); // some notes are not studied yet
}

TEST(HeavyLibraryTest, CardsAndReviewsAreThoseTheApplicationWouldHaveMade) {
    // With few reviews the history ends before most notes were written: those notes move back.
    for (qsizetype reviews : {20'000, 1'500}) {
        SCOPED_TRACE(reviews);
        HeavyLibraryOptions options = smallOptions(11);
        options.reviews = reviews;
        checkHistory(options);
    }
}

TEST(HeavyLibraryTest, NotesUseEveryImageByItsContentHash) {
    const HeavyLibraryOptions options = smallOptions(3);
    const LibrarySnapshot library = generateHeavyLibrary(options);
    QSet<QString> used;
    for (const Note& note : library.notes) {
        if (note.imageID)
            used.insert(*note.imageID);
        for (const auto& document : {note.frontDocument, note.backDocument})
            if (document)
                used.unite(document->mediaIDs());
    }
    QSet<QString> images;
    for (qsizetype i = 0; i < options.images; ++i) {
        const QByteArray image = heavyLibraryImage(options, i);
        EXPECT_TRUE(image.startsWith("\x89PNG\r\n\x1a\n"));
        EXPECT_NEAR(static_cast<double>(image.size()), static_cast<double>(options.imageBytes),
                    0.1 * static_cast<double>(options.imageBytes));
        images.insert(QString::fromLatin1(QCryptographicHash::hash(image, QCryptographicHash::Sha256).toHex()) +
                      QStringLiteral(".png"));
    }
    EXPECT_EQ(used, images);
}
