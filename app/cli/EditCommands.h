#pragma once

#include <QStringList>

class CliContext;

// Commands that write decks, notes and settings. Each prints what it saved.

/// Creates a deck, or with --id of an existing deck updates it (options left out keep their values).
void runDeckSaveCommand(CliContext& context, const QStringList& arguments);
/// Creates a note, or with --id of an existing note updates it; its cards follow from its kind.
void runNoteSaveCommand(CliContext& context, const QStringList& arguments);
void runDeleteDeckCommand(CliContext& context, const QStringList& arguments);
void runDeleteNoteCommand(CliContext& context, const QStringList& arguments);
/// Suspends every card of a note, or resumes them when all are suspended.
void runSuspendCommand(CliContext& context, const QStringList& arguments);
/// Prints the study preferences, after changing those given.
void runPrefsCommand(CliContext& context, const QStringList& arguments);
/// Adds the sample deck and prints it.
void runAddExampleCommand(CliContext& context, const QStringList& arguments);
