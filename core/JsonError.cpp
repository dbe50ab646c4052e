#include "core/JsonError.h"

namespace {

QString descriptionFor(JsonError::Direction direction) {
    return direction == JsonError::Direction::reading
               ? QStringLiteral("Impossibile leggere i dati perché non sono nel formato corretto.")
               : QStringLiteral("Impossibile scrivere i dati perché non sono nel formato corretto.");
}

} // namespace

JsonError::JsonError(Direction direction, std::string detail)
    : PlatformError(descriptionFor(direction)), m_direction(direction), m_detail(std::move(detail)) {}
