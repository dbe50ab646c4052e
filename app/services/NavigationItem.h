#pragma once

#include "core/Uuid.h"

/// What the sidebar shows as selected: one deck, or one of the fixed pages.
class NavigationItem {
public:
    enum class Kind { deck, today, library, activity };

    static NavigationItem deck(const Uuid& id) { return NavigationItem(Kind::deck, id); }
    static NavigationItem today() { return NavigationItem(Kind::today); }
    static NavigationItem library() { return NavigationItem(Kind::library); }
    static NavigationItem activity() { return NavigationItem(Kind::activity); }

    Kind kind() const { return m_kind; }
    /// The deck's identifier for `deck`; nil otherwise.
    const Uuid& deckID() const { return m_deckID; }

    friend bool operator==(const NavigationItem&, const NavigationItem&) = default;

private:
    explicit NavigationItem(Kind kind, Uuid deckID = {}) : m_kind(kind), m_deckID(deckID) {}
    Kind m_kind;
    Uuid m_deckID;
};

inline size_t qHash(const NavigationItem& item, size_t seed = 0) noexcept {
    return qHash(item.deckID(), seed) ^ static_cast<size_t>(item.kind());
}
