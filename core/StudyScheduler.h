#pragma once

#include "core/Fsrs6.h"
#include "core/LibraryRecords.h"

#include <map>
#include <optional>

/// Turns a rating of one card into the card's next memory state, wrapped in a `ReviewEvent`.
///
/// `review` checks that the retention and the card are fit for scheduling (in a fixed order; the first
/// failing check decides the message), hands the memory state to the FSRS-6 component (core/Fsrs6.h),
/// checks the outcome and builds the event. `preview` does the same for the four ratings.
///
/// Times cross into the component as whole milliseconds since 1970: `now` and `lastReview` are rounded
/// to the nearest millisecond (halves upwards), so calendar days are those of the rounded values. The
/// outcome is anchored on the exact `now`: `after.lastReview` is `now` itself and `after.due` is `now`
/// plus the component's step or interval, so a card can be reviewed again at the same `now`.
///
/// Failures are `QuendaError::invalidContent` with these messages:
/// - "L’obiettivo di ricordo deve essere compreso fra 0 e 100%, estremi esclusi." retention not finite
///   or not strictly between 0 and 1 (checked first, even for a suspended card);
/// - "Riattiva la carta prima di ripassarla." the card is suspended;
/// - "Lo stato di ripasso della carta non è valido." `now` or `due` not finite, a negative or non-finite
///   stability, difficulty, elapsedDays or scheduledDays, difficulty above 10, a negative count, an
///   unknown stage; also a memory state the algorithm itself refuses (stability below 0.001 or
///   difficulty below 1 unless both are 0, as on a new card; a count that would overflow);
/// - "L’ultimo ripasso risulta nel futuro. Controlla data e ora del Mac." `lastReview` later than `now`
///   or not finite;
/// - "La cronologia di questa carta è incompleta." a card past stage new without lastReview, without
///   repetitions, with zero stability or difficulty below 1;
/// - "Non è stato possibile calcolare un intervallo valido per questa carta." the outcome has a non-finite
///   value or is not due after `now`, or `now` or `lastReview` lies outside the range of times the
///   component represents (about ±270,000 years around 1970).
///
/// An immutable value: any thread may call it, in parallel. Nothing is stored; the caller stores the
/// event.
class StudyScheduler {
public:
    /// Stores `retention` as given; an out-of-range value fails every review.
    explicit StudyScheduler(double retention);

    double retention() const { return m_retention; }

    /// The event of rating `card` with `rating` at `now`: a new random id, the card's id, `now`, the
    /// rating, the card's memory as `before`, the next state as `after`, algorithm "fsrs-6-default-v1"
    /// and this scheduler's retention. Throws QuendaError (see above).
    ReviewEvent review(const Flashcard& card, ReviewRating rating, Instant now) const;

    /// The `after` state of each of the four ratings, equal to what `review` gives for the same card
    /// and `now`. Throws the first failure of the four reviews.
    std::map<ReviewRating, MemoryState> preview(const Flashcard& card, Instant now) const;

    /// The tag written into every event.
    static QString algorithmTag();

private:
    MemoryState nextState(const Flashcard& card, ReviewRating rating, Instant now) const;
    void validate(const Flashcard& card, Instant now) const;

    double m_retention;
    std::optional<Fsrs6::Scheduler> m_fsrs; ///< absent when the retention is out of range
};
