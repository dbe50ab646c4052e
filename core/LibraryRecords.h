#pragma once

#include "core/Instant.h"
#include "core/RichTextDocument.h"
#include "core/Uuid.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>
#include <optional>

// The records of a library. Plain values compared field by field; they refer to each other only by
// identifier. Fields are declared in their documented order so aggregate initialisation reads like the
// record's constructor.

/// A named collection of notes.
struct Deck {
    Uuid id;
    QString name;
    QString subtitle;
    QString symbol;
    QString colorHex; ///< six hex digits without "#", e.g. "4F5FE7"
    Instant createdAt;
    Instant updatedAt;

    friend bool operator==(const Deck&, const Deck&) = default;
};

/// Decides how many cards a note yields. JSON text: "basic", "reversed", "cloze".
enum class NoteKind { basic, reversed, cloze };
inline constexpr std::array kAllNoteKinds{NoteKind::basic, NoteKind::reversed, NoteKind::cloze};
/// "Domanda e risposta", "Anche al contrario", "Parole nascoste".
QString title(NoteKind kind);
QString rawValue(NoteKind kind);
std::optional<NoteKind> noteKindFromRawValue(QStringView text);

/// The content the user writes; cards are generated from it.
struct Note {
    Uuid id;
    Uuid deckID;
    NoteKind kind = NoteKind::basic;
    QString front; ///< plain text of the question side (cloze notes: the text with the markers)
    QString back;  ///< plain text of the answer side (cloze notes: optional extra text)
    QStringList tags;
    std::optional<QString> imageID;
    std::optional<RichTextDocument> frontDocument; ///< when present, its sourceText equals `front`
    std::optional<RichTextDocument> backDocument;  ///< when present, its sourceText equals `back`
    Instant createdAt;
    Instant updatedAt;

    friend bool operator==(const Note&, const Note&) = default;
};

/// Learning stage of a card. JSON integer 0 to 3.
enum class MemoryStage { new_ = 0, learning = 1, review = 2, relearning = 3 };
std::optional<MemoryStage> memoryStageFromRawValue(long long value);

/// The scheduling state of one card, field for field the scheduler's card state.
struct MemoryState {
    Instant due;
    double stability = 0;
    double difficulty = 0;
    double elapsedDays = 0;
    double scheduledDays = 0;
    std::int64_t learningSteps = 0;
    std::int64_t reps = 0;
    std::int64_t lapses = 0;
    MemoryStage stage = MemoryStage::new_;
    std::optional<Instant> lastReview;

    /// The state of a card that has never been reviewed, due at `due`.
    static MemoryState newCard(Instant due) { return MemoryState{.due = due}; }

    friend bool operator==(const MemoryState&, const MemoryState&) = default;
};

/// One exercise generated from a note. (`noteID`, `ordinal`) is unique within a library.
struct Flashcard {
    Uuid id;
    Uuid noteID;
    Uuid deckID;  ///< always the deck of its note
    std::int64_t ordinal = 0; ///< 0 basic; 0 and 1 reversed; the cloze number (1 to 999) for cloze cards
    MemoryState memory;
    bool isSuspended = false;

    friend bool operator==(const Flashcard&, const Flashcard&) = default;
};

/// The user's answer to a card. JSON integer 1 to 4, also the grade given to the scheduler.
enum class ReviewRating { again = 1, hard = 2, good = 3, easy = 4 };
inline constexpr std::array kAllReviewRatings{ReviewRating::again, ReviewRating::hard, ReviewRating::good,
                                              ReviewRating::easy};
/// "Da rivedere", "Difficile", "Bene", "Facile".
QString title(ReviewRating rating);
QString explanation(ReviewRating rating);
std::optional<ReviewRating> reviewRatingFromRawValue(long long value);

/// One recorded review. Undone reviews stay in the library with `undoneAt` set.
struct ReviewEvent {
    Uuid id;
    Uuid cardID;
    Instant reviewedAt;
    ReviewRating rating = ReviewRating::good;
    MemoryState before;
    MemoryState after;
    QString algorithm; ///< "fsrs-6-default-v1"
    double retention = 0;
    std::optional<Instant> undoneAt;

    friend bool operator==(const ReviewEvent&, const ReviewEvent&) = default;
};

/// The user's study settings.
struct StudyPreferences {
    std::int64_t dailyNewLimit = 10;      ///< accepted 0 to 1000
    double desiredRetention = 0.9; ///< accepted strictly between 0 and 1

    friend bool operator==(const StudyPreferences&, const StudyPreferences&) = default;
};

/// The whole library in memory, lists in the order the store returns them.
struct LibrarySnapshot {
    Uuid libraryID;
    QList<Deck> decks;
    QList<Note> notes;
    QList<Flashcard> cards;
    QList<ReviewEvent> reviews;
    StudyPreferences preferences;

    friend bool operator==(const LibrarySnapshot&, const LibrarySnapshot&) = default;
};

/// What one card shows. Never stored or encoded.
struct CardPresentation {
    QString question;
    QString answer;
    std::optional<QString> hint;
    std::optional<RichTextDocument> questionDocument;
    std::optional<RichTextDocument> answerDocument;

    friend bool operator==(const CardPresentation&, const CardPresentation&) = default;
};
