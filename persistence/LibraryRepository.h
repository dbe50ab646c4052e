#pragma once

#include "core/LibraryRecords.h"

#include <QFuture>

#include <optional>

/// The storage contract of the library: every change the application makes goes through one of these
/// operations, after which it reloads the snapshot.
///
/// Each operation is asynchronous and may be called from any thread; operations take effect one at a
/// time, in the order they were issued, and none observes part of another. A change is validated
/// completely before anything is written, then done in one transaction: a failure leaves the library as
/// it was. Failures arrive through the future: QuendaError for the checks (invalidContent with its
/// Italian message, missingRecord), PlatformError for the database engine and the JSON codec.
class LibraryRepository {
public:
    virtual ~LibraryRepository() = default;

    /// The whole library.
    virtual QFuture<LibrarySnapshot> load() = 0;
    /// Creates or overwrites a deck.
    virtual QFuture<void> saveDeck(const Deck& deck) = 0;
    /// Saves a note with all the cards it must have afterwards. A stored card whose ordinal survives
    /// keeps its identifier, memory and suspension; cards of ordinals no longer given go with their
    /// reviews. Unknown deck: missingRecord.
    virtual QFuture<void> saveNote(const Note& note, const QList<Flashcard>& cards) = 0;
    /// Removes a deck with its notes, cards and reviews. An unknown identifier is no error.
    virtual QFuture<void> deleteDeck(const Uuid& id) = 0;
    /// Removes a note with its cards and reviews. An unknown identifier is no error.
    virtual QFuture<void> deleteNote(const Uuid& id) = 0;
    /// Suspends or resumes every listed card; one unknown card (missingRecord) changes none.
    virtual QFuture<void> setSuspended(const QList<Uuid>& cardIDs, bool suspended) = 0;
    /// Stores a review and the card's new memory, if the card is still as the review's `before` says.
    virtual QFuture<void> recordReview(const ReviewEvent& event) = 0;
    /// Undoes the most recent standing review, if its card is still as that review left it. Gives the
    /// undone review, or nothing when no review stands.
    virtual QFuture<std::optional<ReviewEvent>> undoLastReview(Instant now) = 0;
    virtual QFuture<void> savePreferences(const StudyPreferences& preferences) = 0;
    /// Replaces the library with `snapshot`, or merges its new decks and notes (with fresh cards) into it.
    virtual QFuture<void> importLibrary(const LibrarySnapshot& snapshot, bool replace) = 0;
};
