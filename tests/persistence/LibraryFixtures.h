#pragma once

#include "core/LibraryRecords.h"

// Small valid records for the store's tests. Identifiers are fixed so failures print readable values.
namespace Fixtures {

inline Uuid id(std::uint8_t tag, std::uint8_t index = 0) {
    Uuid::Bytes bytes{};
    bytes[0] = tag;
    bytes[15] = index;
    bytes[6] = 0x40;
    bytes[8] = 0x80;
    return Uuid(bytes);
}

inline Instant at(double unixSeconds) {
    return Instant::fromUnixSeconds(unixSeconds);
}

inline Deck deck(std::uint8_t index = 0, Instant createdAt = at(1'700'000'000)) {
    return Deck{.id = id(0xD0, index),
                .name = QStringLiteral("Mazzo %1").arg(index),
                .subtitle = {},
                .symbol = QStringLiteral("book"),
                .colorHex = QStringLiteral("4F5FE7"),
                .createdAt = createdAt,
                .updatedAt = createdAt};
}

inline Note note(std::uint8_t index = 0, Uuid deckID = id(0xD0, 0), Instant updatedAt = at(1'700'000'100)) {
    return Note{.id = id(0xA0, index),
                .deckID = deckID,
                .kind = NoteKind::basic,
                .front = QStringLiteral("Capitale d’Italia?"),
                .back = QStringLiteral("Roma"),
                .tags = {},
                .imageID = std::nullopt,
                .frontDocument = std::nullopt,
                .backDocument = std::nullopt,
                .createdAt = updatedAt,
                .updatedAt = updatedAt};
}

inline MemoryState reviewedMemory(double dueUnix = 1'700'100'000, std::int64_t reps = 1) {
    return MemoryState{.due = at(dueUnix),
                       .stability = 3.2,
                       .difficulty = 5.1,
                       .elapsedDays = 0,
                       .scheduledDays = 3,
                       .learningSteps = 0,
                       .reps = reps,
                       .lapses = 0,
                       .stage = MemoryStage::review,
                       .lastReview = at(dueUnix - 3 * 86400)};
}

inline Flashcard card(const Note& note, std::int64_t ordinal = 0, std::uint8_t index = 0) {
    return Flashcard{.id = id(0xC0, std::uint8_t(index + ordinal)),
                     .noteID = note.id,
                     .deckID = note.deckID,
                     .ordinal = ordinal,
                     .memory = MemoryState::newCard(at(1'700'000'000)),
                     .isSuspended = false};
}

inline ReviewEvent review(const Flashcard& card, std::uint8_t index = 0) {
    return ReviewEvent{.id = id(0xE0, index),
                       .cardID = card.id,
                       .reviewedAt = at(1'700'000'500),
                       .rating = ReviewRating::good,
                       .before = card.memory,
                       .after = reviewedMemory(1'700'300'000 + index, card.memory.reps + 1),
                       .algorithm = QStringLiteral("fsrs-6-default-v1"),
                       .retention = 0.9,
                       .undoneAt = std::nullopt};
}

/// One deck, one note with one card, one review of that card.
inline LibrarySnapshot snapshot() {
    const Deck d = deck();
    const Note n = note();
    const Flashcard c = card(n);
    return LibrarySnapshot{.libraryID = id(0xF0),
                           .decks = {d},
                           .notes = {n},
                           .cards = {c},
                           .reviews = {review(c)},
                           .preferences = StudyPreferences{.dailyNewLimit = 20, .desiredRetention = 0.85}};
}

} // namespace Fixtures
