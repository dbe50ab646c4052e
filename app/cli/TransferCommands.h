#pragma once

#include <QStringList>

class CliContext;

// Commands that move data between the library and files, through the model's import and export flows
// with dialogs that answer with the file given.

/// Reads a file as an import would and prints what it holds, without importing it.
void runInspectCommand(CliContext& context, const QStringList& arguments);
/// Imports a package or CSV/TSV file; with --replace a backup is restored over the library.
void runImportCommand(CliContext& context, const QStringList& arguments);
void runExportBackupCommand(CliContext& context, const QStringList& arguments);
void runExportDeckCommand(CliContext& context, const QStringList& arguments);
void runExportCSVCommand(CliContext& context, const QStringList& arguments);
/// Stores an image file in the image store and prints its identifier.
void runImageAddCommand(CliContext& context, const QStringList& arguments);
