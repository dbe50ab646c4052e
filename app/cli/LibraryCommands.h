#pragma once

#include <QStringList>

class CliContext;

// Commands that read the library and change nothing: status, decks, notes, queue, show, preview.

/// {"libraryID", "decks", "notes", "cards", "reviews", "dueCount", "newCount", "reviewsToday", "ready"}.
void runStatusCommand(CliContext& context, const QStringList& arguments);
/// Every deck, in library order.
void runDecksCommand(CliContext& context, const QStringList& arguments);
/// Notes of one deck or all, filtered like the library screen's search, most recently updated first.
void runNotesCommand(CliContext& context, const QStringList& arguments);
/// The cards to study now, in study order.
void runQueueCommand(CliContext& context, const QStringList& arguments);
/// {"question", "answer", "hint"?} of one card.
void runShowCommand(CliContext& context, const QStringList& arguments);
/// For each rating, {"due", "interval"}: when the card would come back if rated so now.
void runPreviewCommand(CliContext& context, const QStringList& arguments);
