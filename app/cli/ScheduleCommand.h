#pragma once

#include <QStringList>

#include <iosfwd>

/// `quenda-cli schedule`: the study scheduler as a filter, for scripts and for checking it against other
/// implementations.
///
/// Reads JSON lines from `in`, each
///   {"card": {memory state}, "now": ms, "grade": 1..4, "retention": r}
/// where the memory state has the ten fields of a card's memory under their names (`lastReview`
/// optional) with times in milliseconds since 1970, and writes one line to `out` for each line read:
/// the memory state after the review in the same shape (times as whole milliseconds), or
/// {"error": "..."} with the scheduler's Italian message when it refuses the review, or with a short
/// English description when the line cannot be read. Other keys are ignored. The card counts as not
/// suspended. Returns 0 once the input ends, whatever the lines held; 2 when given arguments.
int runScheduleCommand(const QStringList& arguments, std::istream& in, std::ostream& out, std::ostream& err);
