#pragma once

#include <QStringList>

#include <iosfwd>

class CliContext;

/// One command of quenda-cli: `quenda-cli [global options] NAME [arguments]`.
///
/// A stand-alone command (`run`) reads its arguments (those after its name) and the standard streams,
/// and returns the process exit code: 0 on success, 1 when the work failed, 2 when it was called
/// wrongly (after writing its usage to `err`).
///
/// A library command (`runInLibrary`) gets the started application model with the global options
/// applied. It returns normally on success and throws UsageError (exit 2) or Refusal (exit 1, the
/// message as the last line on stderr); main.cpp turns those into exit codes. Each group of commands
/// lives in its own file and is listed in the table of main.cpp.
struct CliCommand {
    const char* name;
    const char* summary; ///< one line for `quenda-cli --help`
    int (*run)(const QStringList& arguments, std::istream& in, std::ostream& out, std::ostream& err) = nullptr;
    const char* synopsis = nullptr; ///< the arguments, shown on a usage error
    void (*runInLibrary)(CliContext& context, const QStringList& arguments) = nullptr;
};
