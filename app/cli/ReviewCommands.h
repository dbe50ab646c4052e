#pragma once

#include <QStringList>

class CliContext;

// Commands that review cards: one rating at a time, undo, and an interactive session.

/// Records one review of a card and prints the event.
void runReviewCommand(CliContext& context, const QStringList& arguments);
/// Undoes the most recent standing review and prints it (JSON null when there was none).
void runUndoCommand(CliContext& context, const QStringList& arguments);
/// Reviews the queue in the terminal: space shows the answer, 1-4 rate, u undoes, q quits. Reads
/// single keys from a terminal (raw mode, restored on exit) or characters from piped input; the end of
/// the input quits. With --json the session is shown on stderr and stdout gets {"reviewed": n}.
void runStudyCommand(CliContext& context, const QStringList& arguments);
