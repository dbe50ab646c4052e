#pragma once

#include "core/Instant.h"
#include "core/LibraryRecords.h"
#include "core/Uuid.h"

#include <QList>
#include <QTimeZone>

#include <optional>

/// Decides which cards the user studies now and in which order.
///
/// Pure functions of their arguments: they keep no state, never touch the store and may run on any
/// thread. Neither throws.
namespace StudyQueue {

/// The cards available now, in study order: the first is the card to show next.
///
/// - Cards in learning, review or relearning are offered once their `due` is at or before `now`; new
///   cards are always eligible, but at most `dailyNewLimit` new cards are introduced per calendar day,
///   counting the distinct new cards among today's standing reviews.
/// - At most one card per note is offered; once a card of a note was reviewed today, only that card
///   of the note is offered until the day changes (an undone review locks nothing).
/// - Due cards come first by `due`, then new cards by the age of their note; ties go to the older
///   note, then, within a note, to the lower ordinal; notes still tied are ordered by the identifier
///   of the card each offers (identifiers compare like their canonical text).
/// - Suspended cards, cards whose deck or note is missing and cards whose deck differs from their
///   note's are never offered. With `deckID`, only that deck's cards are offered, but the budget and
///   the note locks still count the reviews of every deck.
///
/// Days are those of the Gregorian calendar in `timeZone` (see `startOfDay`). A non-finite `now`
/// yields an empty list. Linear in the size of the snapshot plus the sort of the candidates.
QList<Flashcard> cards(const LibrarySnapshot& snapshot, std::optional<Uuid> deckID, Instant now,
                       const QTimeZone& timeZone);

/// The first instant of the calendar day that contains `now` in `timeZone`: local midnight, or the
/// first instant after it on a day whose midnight does not exist. An invalid zone counts as UTC. A
/// `now` too far from today for the calendar to place gives `now` itself.
Instant startOfDay(Instant now, const QTimeZone& timeZone);

} // namespace StudyQueue
