#include "core/StudyScheduler.h"

#include "core/QuendaError.h"

#include <cmath>

namespace {

QString retentionMessage() {
    return QStringLiteral("L’obiettivo di ricordo deve essere compreso fra 0 e 100%, estremi esclusi.");
}
QString suspendedMessage() { return QStringLiteral("Riattiva la carta prima di ripassarla."); }
QString invalidStateMessage() { return QStringLiteral("Lo stato di ripasso della carta non è valido."); }
QString futureMessage() {
    return QStringLiteral("L’ultimo ripasso risulta nel futuro. Controlla data e ora del Mac.");
}
QString incompleteMessage() { return QStringLiteral("La cronologia di questa carta è incompleta."); }
QString outcomeMessage() {
    return QStringLiteral("Non è stato possibile calcolare un intervallo valido per questa carta.");
}

bool isFiniteNonNegative(double value) { return std::isfinite(value) && value >= 0; }

// The component's times are those of the reference's dates: whole milliseconds within ±8.64e15.
constexpr double kMaxMilliseconds = 8.64e15;

// Nearest millisecond since 1970, halves upwards; nothing when out of the component's range.
std::optional<std::int64_t> toMilliseconds(Instant instant) {
    const double ms = Fsrs6::roundHalfUp(instant.unixMilliseconds());
    if (!(ms >= -kMaxMilliseconds && ms <= kMaxMilliseconds))
        return std::nullopt;
    return static_cast<std::int64_t>(ms);
}

Fsrs6::State toComponent(MemoryStage stage) { return static_cast<Fsrs6::State>(static_cast<int>(stage)); }
MemoryStage fromComponent(Fsrs6::State state) { return static_cast<MemoryStage>(static_cast<int>(state)); }

} // namespace

StudyScheduler::StudyScheduler(double retention) : m_retention(retention) {
    // The interval modifier depends on the retention only: compute it once here rather than per review.
    if (std::isfinite(retention) && retention > 0 && retention < 1)
        m_fsrs.emplace(retention);
}

QString StudyScheduler::algorithmTag() { return QStringLiteral("fsrs-6-default-v1"); }

void StudyScheduler::validate(const Flashcard& card, Instant now) const {
    if (!m_fsrs)
        throw QuendaError::invalidContent(retentionMessage());
    if (card.isSuspended)
        throw QuendaError::invalidContent(suspendedMessage());
    if (!now.isFinite())
        throw QuendaError::invalidContent(invalidStateMessage());
    const MemoryState& m = card.memory;
    const bool knownStage = m.stage >= MemoryStage::new_ && m.stage <= MemoryStage::relearning;
    if (!m.due.isFinite() || !isFiniteNonNegative(m.stability) || !isFiniteNonNegative(m.difficulty) ||
        !isFiniteNonNegative(m.elapsedDays) || !isFiniteNonNegative(m.scheduledDays) || m.difficulty > 10 ||
        m.reps < 0 || m.lapses < 0 || m.learningSteps < 0 || !knownStage)
        throw QuendaError::invalidContent(invalidStateMessage());
    if (m.lastReview && (!m.lastReview->isFinite() || *m.lastReview > now))
        throw QuendaError::invalidContent(futureMessage());
    if (m.stage != MemoryStage::new_ && (!m.lastReview || m.reps <= 0 || !(m.stability > 0) || !(m.difficulty >= 1)))
        throw QuendaError::invalidContent(incompleteMessage());
}

MemoryState StudyScheduler::nextState(const Flashcard& card, ReviewRating rating, Instant now) const {
    validate(card, now);
    const MemoryState& before = card.memory;

    const std::optional<std::int64_t> nowMs = toMilliseconds(now);
    std::optional<std::int64_t> lastReviewMs;
    if (before.lastReview) {
        lastReviewMs = toMilliseconds(*before.lastReview);
        if (!lastReviewMs)
            throw QuendaError::invalidContent(outcomeMessage());
    }
    if (!nowMs)
        throw QuendaError::invalidContent(outcomeMessage());
    // Rounding keeps lastReview <= now, so the day count cannot go negative; refuse it should it ever.
    if (lastReviewMs && Fsrs6::calendarDaysBetween(*lastReviewMs, *nowMs) < 0)
        throw QuendaError::invalidContent(futureMessage());

    const Fsrs6::Card input{
        .dueMs = 0, // not read by the component: the next due time follows from `now`
        .stability = before.stability,
        .difficulty = before.difficulty,
        .elapsedDays = before.elapsedDays,
        .scheduledDays = before.scheduledDays,
        .learningSteps = before.learningSteps,
        .reps = before.reps,
        .lapses = before.lapses,
        .state = toComponent(before.stage),
        .lastReviewMs = lastReviewMs,
    };
    Fsrs6::Card output;
    try {
        output = m_fsrs->next(input, *nowMs, static_cast<int>(rating));
    } catch (const Fsrs6::InvalidInput&) {
        throw QuendaError::invalidContent(invalidStateMessage());
    }

    const MemoryState after{
        .due = now.addingSeconds(static_cast<double>(output.dueMs - *nowMs) / 1000.0),
        .stability = output.stability,
        .difficulty = output.difficulty,
        .elapsedDays = output.elapsedDays,
        .scheduledDays = output.scheduledDays,
        .learningSteps = output.learningSteps,
        .reps = output.reps,
        .lapses = output.lapses,
        .stage = fromComponent(output.state),
        .lastReview = now,
    };
    if (!after.due.isFinite() || !std::isfinite(after.stability) || !std::isfinite(after.difficulty) ||
        !(after.due > now))
        throw QuendaError::invalidContent(outcomeMessage());
    return after;
}

ReviewEvent StudyScheduler::review(const Flashcard& card, ReviewRating rating, Instant now) const {
    MemoryState after = nextState(card, rating, now);
    return ReviewEvent{
        .id = Uuid::createRandom(),
        .cardID = card.id,
        .reviewedAt = now,
        .rating = rating,
        .before = card.memory,
        .after = std::move(after),
        .algorithm = algorithmTag(),
        .retention = m_retention,
        .undoneAt = std::nullopt,
    };
}

std::map<ReviewRating, MemoryState> StudyScheduler::preview(const Flashcard& card, Instant now) const {
    std::map<ReviewRating, MemoryState> states;
    for (ReviewRating rating : kAllReviewRatings)
        states.emplace(rating, nextState(card, rating, now));
    return states;
}
