#pragma once

#include <QStringList>

#include <iosfwd>

/// One command of quenda-cli: `quenda-cli NAME [arguments]`.
///
/// A command reads its arguments (those after its name) and the standard streams, and returns the
/// process exit code: 0 on success, 1 when the work failed, 2 when it was called wrongly (after
/// writing its usage to `err`). Each group of commands lives in its own file and is listed in the
/// table of main.cpp.
struct CliCommand {
    const char* name;
    const char* summary; ///< one line for `quenda-cli --help`
    int (*run)(const QStringList& arguments, std::istream& in, std::ostream& out, std::ostream& err);
};
