#pragma once

#include "app/services/MathTypesetter.h"

// LaTeX math source → math list. Fails with the first error from the left, of the kinds of MathErrorKind.
// Pure; safe from any thread.
namespace MathParser {

MathParseResult parse(const QString& source);

} // namespace MathParser
