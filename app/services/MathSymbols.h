#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

// The single-glyph control sequences the math parser knows (\alpha, \le, \hat...), and the reverse mapping
// from a typed Unicode character (α, ≤) to its entry. Pure data; safe from any thread.
namespace MathSymbols {

enum class SymbolClass { ord, op, bin, rel, open, close, punct, inner, accent, space };

struct Entry {
    const char* name; // the control sequence without its backslash
    SymbolClass symbolClass;
    char32_t codePoint;
};

// All entries, sorted by name.
const std::vector<Entry>& entries();

// The entry named `name` (without backslash), or nullptr.
const Entry* find(std::string_view name);

// The entry whose code point is `codePoint` (the first by name when several share it), or nullptr.
const Entry* findCodePoint(char32_t codePoint);

} // namespace MathSymbols
