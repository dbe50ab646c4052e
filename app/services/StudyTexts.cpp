#include "app/services/StudyTexts.h"

#include <cmath>

QString StudyTexts::intervalText(const std::optional<Instant>& date, Instant now) {
    if (!date)
        return QStringLiteral("\u2014");
    const double seconds = std::max(0.0, date->secondsSince(now));
    // std::round rounds halves away from zero, as the texts require.
    if (seconds < 3600)
        return QStringLiteral("tra %1 min").arg(qint64(std::max(1.0, std::round(seconds / 60))));
    if (seconds < 86400)
        return QStringLiteral("tra %1 ore").arg(qint64(std::round(seconds / 3600)));
    const double days = std::round(seconds / 86400);
    return QStringLiteral("tra %1 %2").arg(qint64(days)).arg(days == 1 ? QStringLiteral("giorno") : QStringLiteral("giorni"));
}
