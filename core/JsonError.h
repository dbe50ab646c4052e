#pragma once

#include "core/QuendaError.h"

#include <string>

/// A failure to read or write the JSON form of a record (a platform failure, not a user-facing check).
///
/// The description is the fixed Italian text shown to the user; `detail()` says in English what was
/// wrong and where, for debugging and test output only (never shown).
class JsonError : public PlatformError {
public:
    enum class Direction { reading, writing };

    /// "Impossibile leggere i dati perché non sono nel formato corretto."
    static JsonError unreadable(std::string detail) { return JsonError(Direction::reading, std::move(detail)); }
    /// "Impossibile scrivere i dati perché non sono nel formato corretto."
    static JsonError unwritable(std::string detail) { return JsonError(Direction::writing, std::move(detail)); }

    Direction direction() const { return m_direction; }
    const std::string& detail() const { return m_detail; }

private:
    JsonError(Direction direction, std::string detail);
    Direction m_direction;
    std::string m_detail;
};
