#pragma once

#include "core/Instant.h"

#include <QString>

#include <optional>

/// Texts about study times, shared by the review screen and quenda-cli.
namespace StudyTexts {

/// How far `date` lies after `now`, as the rating buttons show it: "tra 10 min", "tra 5 ore",
/// "tra 1 giorno", "tra 12 giorni"; an em dash when there is no date. Past dates count as now.
QString intervalText(const std::optional<Instant>& date, Instant now);

} // namespace StudyTexts
