#pragma once

#include "core/LibraryRecords.h"
#include "core/QuendaError.h"

/// The gate in front of every write of the library store: whatever passes can be stored without
/// breaking the database's invariants. Each check throws QuendaError::invalidContent with the message of
/// the first rule that fails, in a fixed order; errors of RichTextDocument::validate pass through.
/// Pure functions of their arguments, callable from any thread; they never change the argument.
namespace LibraryValidation {

/// Name not blank; finite dates.
void deck(const Deck& deck);
/// Front (and, unless cloze, back) not blank; a well-formed image identifier; documents valid and
/// matching their plain texts; finite dates.
void note(const Note& note);
/// Numbers in range; finite dates; a history for every stage but new.
void memory(const MemoryState& state);
/// The full list of cards of `note`: present, unique by identifier and ordinal, belonging to the note
/// and its deck, with valid memory.
void cards(const QList<Flashcard>& cards, const Note& note);
/// Finite dates; valid states before and after; algorithm named and retention strictly between 0 and 1.
void review(const ReviewEvent& event);
/// A whole library before import: preferences, unique identifiers per list, every record and every
/// reference between them.
void snapshot(const LibrarySnapshot& snapshot);

/// Preferences in range: a daily new limit from 0 to 1000 and a retention strictly between 0 and 1.
bool arePreferencesValid(const StudyPreferences& preferences);

} // namespace LibraryValidation
