#include "app/services/MathSymbols.h"

#include <algorithm>
#include <unordered_map>

namespace MathSymbols {

const Entry* find(std::string_view name) {
    const auto& table = entries();
    auto it = std::lower_bound(table.begin(), table.end(), name,
                               [](const Entry& e, std::string_view n) { return std::string_view(e.name) < n; });
    if (it == table.end() || std::string_view(it->name) != name)
        return nullptr;
    return &*it;
}

const Entry* findCodePoint(char32_t codePoint) {
    static const std::unordered_map<char32_t, const Entry*> byCodePoint = [] {
        std::unordered_map<char32_t, const Entry*> map;
        for (const Entry& e : entries()) {
            // Accents and spaces are typed as commands, never as characters.
            if (e.symbolClass == SymbolClass::accent || e.symbolClass == SymbolClass::space)
                continue;
            map.emplace(e.codePoint, &e);
        }
        return map;
    }();
    auto it = byCodePoint.find(codePoint);
    return it == byCodePoint.end() ? nullptr : it->second;
}

} // namespace MathSymbols
