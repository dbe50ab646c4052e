#include "core/Fsrs6.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

// Agreement with the reference is bit-level, so every expression below keeps the reference's operand
// order (IEEE products are not associative) and rounds to 8 decimals exactly where it does.

namespace Fsrs6 {
namespace {

constexpr std::array<double, 21> w{0.212,  1.2931, 2.3065, 8.2956, 6.4133, 0.8334, 3.0194,
                                   0.001,  1.8722, 0.1666, 0.796,  1.4835, 0.0614, 0.2629,
                                   1.6483, 0.6014, 1.8729, 0.5425, 0.0912, 0.0658, 0.1542};
constexpr double kDecay = -w[20];
constexpr double kMinStability = 0.001;
constexpr double kMaxStability = 36500;

constexpr std::array<std::int64_t, 2> kLearningMinutes{1, 10};
constexpr std::array<std::int64_t, 1> kRelearningMinutes{10};

// The reference's Math.min/Math.max: a NaN operand gives NaN, whichever side it is on.
inline double jsMax(double a, double b) {
    if (a != a || b != b)
        return std::numeric_limits<double>::quiet_NaN();
    return a > b ? a : b;
}
inline double jsMin(double a, double b) {
    if (a != a || b != b)
        return std::numeric_limits<double>::quiet_NaN();
    return a < b ? a : b;
}
inline double clamp(double v, double lo, double hi) { return jsMin(jsMax(v, lo), hi); }


// A short-term step: how long until the card comes back, and the step index it is then at.
struct Step {
    std::int64_t minutes;
    std::int64_t index;
};

// The step a card in stage new, learning or relearning at step `index` goes to for `grade`; none when
// the card graduates to review.
template <std::size_t N>
std::optional<Step> shortTermStep(const std::array<std::int64_t, N>& steps, std::int64_t index, int grade) {
    if (index >= static_cast<std::int64_t>(N))
        return std::nullopt; // corrupt index: every grade graduates
    switch (grade) {
    case 1:
        return Step{steps[0], 0};
    case 2: {
        const double minutes = N == 1 ? 1.5 * static_cast<double>(steps[0])
                                      : static_cast<double>(steps[0] + steps[N > 1 ? 1 : 0]) / 2;
        return Step{static_cast<std::int64_t>(roundHalfUp(minutes)), index};
    }
    case 3:
        if (index + 1 < static_cast<std::int64_t>(N))
            return Step{steps[static_cast<std::size_t>(index + 1)], index + 1};
        return std::nullopt;
    default:
        return std::nullopt;
    }
}

std::int64_t incremented(std::int64_t count, const char* what) {
    if (count == std::numeric_limits<std::int64_t>::max())
        throw InvalidInput(what);
    return count + 1;
}

} // namespace

struct Scheduler::WeightTerms {
    double decayFactor;          ///< FACTOR of the forgetting curve, 0.98034649 with the default decay
    double initialDifficulty[5]; ///< D0(grade), index 1 to 4, not clamped
    double shortTermGrowth[5];   ///< exp(w17 * ((grade - 3) + w18)), index 1 to 4
    double expW8;                ///< exp(w8)
    double forgetCapDivisor;     ///< exp(w17 * w18)
};

const Scheduler::WeightTerms& Scheduler::weightTerms() {
    static const WeightTerms terms = [] {
        WeightTerms t{};
        t.decayFactor = round8(std::exp(std::pow(kDecay, -1) * std::log(0.9)) - 1);
        for (int grade = 1; grade <= 4; ++grade) {
            t.initialDifficulty[grade] = round8(w[4] - std::exp((grade - 1) * w[5]) + 1);
            t.shortTermGrowth[grade] = std::exp(w[17] * ((grade - 3) + w[18]));
        }
        t.expW8 = std::exp(w[8]);
        t.forgetCapDivisor = std::exp(w[17] * w[18]);
        return t;
    }();
    return terms;
}

Scheduler::Scheduler(double retention) : m_terms(&weightTerms()), m_retention(retention) {
    if (!(retention > 0 && retention <= 1))
        throw InvalidInput("requested retention must lie in (0, 1]");
    // Quenda builds a scheduler for every rating, nearly always with the library's one retention: keep
    // the last modifier this thread computed rather than paying a `pow` each time.
    thread_local double lastRetention = 0; // never a valid retention
    thread_local double lastModifier = 0;
    if (retention != lastRetention) {
        lastModifier = round8((std::pow(retention, 1 / kDecay) - 1) / m_terms->decayFactor);
        lastRetention = retention;
    }
    m_intervalModifier = lastModifier;
}

std::int64_t Scheduler::interval(double stability) const {
    const double days = jsMin(jsMax(1, roundHalfUp(stability * m_intervalModifier)), kMaximumInterval);
    return static_cast<std::int64_t>(days);
}

double Scheduler::retrievability(std::int64_t elapsedDays, double stability) const {
    return round8(std::pow(1 + (m_terms->decayFactor * static_cast<double>(elapsedDays)) / stability, kDecay));
}

double Scheduler::nextDifficulty(double difficulty, int grade) const {
    const double delta = -w[6] * (grade - 3);
    const double damped = difficulty + round8((delta * (10 - difficulty)) / 9);
    // Mean reversion towards the unclamped D0(easy), which is negative with the default weights.
    return clamp(round8(w[7] * m_terms->initialDifficulty[4] + (1 - w[7]) * damped), 1, 10);
}

double Scheduler::shortTermStability(double stability, double powStability, int grade) const {
    double growth = powStability * m_terms->shortTermGrowth[grade];
    if (grade >= 2)
        growth = jsMax(growth, 1); // a passing grade never lowers stability within the day
    return round8(clamp(stability * growth, kMinStability, kMaxStability));
}

// `recallGrowth` is exp(w8) * (11 - D) * S^-w9 * (exp((1 - R) * w10) - 1), shared by the three passing
// grades; multiplying it by 1 for the factors a grade does not use changes nothing in IEEE arithmetic.
double Scheduler::recallStability(double stability, double recallGrowth, int grade) const {
    double growth = recallGrowth;
    if (grade == 2)
        growth = growth * w[15];
    else if (grade == 4)
        growth = growth * w[16];
    return round8(clamp(stability * (1 + growth), kMinStability, kMaxStability));
}

double Scheduler::forgetStability(double stability, double difficulty, double retrievability) const {
    const double forgotten = round8(clamp(w[11] * std::pow(difficulty, -w[12]) *
                                              (std::pow(stability + 1, w[13]) - 1) *
                                              std::exp((1 - retrievability) * w[14]),
                                          kMinStability, kMaxStability));
    const double cap = round8(stability / m_terms->forgetCapDivisor);
    return jsMin(jsMax(cap, kMinStability), forgotten);
}

Scheduler::Memory Scheduler::memoryAfter(const Card& card, std::int64_t elapsedDays, double retrievability,
                                         int grade) const {
    const double s = card.stability;
    const double d = card.difficulty;
    if (s == 0 && d == 0)
        return {jsMax(w[static_cast<std::size_t>(grade - 1)], 0.1), clamp(m_terms->initialDifficulty[grade], 1, 10)};
    double next;
    if (elapsedDays == 0)
        next = shortTermStability(s, std::pow(s, -w[19]), grade);
    else if (grade == 1)
        next = forgetStability(s, d, retrievability);
    else
        next = recallStability(s, m_terms->expW8 * (11 - d) * std::pow(s, -w[9]) * (std::exp((1 - retrievability) * w[10]) - 1),
                               grade);
    return {next, nextDifficulty(d, grade)};
}

Card Scheduler::next(const Card& card, std::int64_t nowMs, int grade) const {
    if (grade < 1 || grade > 4)
        throw InvalidInput("grade must be 1 to 4");
    if (card.learningSteps < 0)
        throw InvalidInput("negative learning step");
    const double s = card.stability;
    const double d = card.difficulty;
    const bool firstRating = s == 0 && d == 0;
    // The reference refuses difficulty below 1 and stability below the minimum; bounding both from above
    // as well keeps every later value finite.
    if (!firstRating && !(d >= 1 && d <= 10 && s >= kMinStability && s <= std::numeric_limits<double>::max()))
        throw InvalidInput("stability or difficulty out of range");

    std::int64_t elapsed = 0;
    if (card.state != State::New && card.lastReviewMs) {
        elapsed = calendarDaysBetween(*card.lastReviewMs, nowMs);
        if (elapsed < 0)
            throw InvalidInput("review on an earlier day than the last review");
    }

    Card out = card;
    out.reps = incremented(card.reps, "repetition count overflows");
    out.lastReviewMs = nowMs;
    out.elapsedDays = static_cast<double>(elapsed);

    auto graduate = [&](std::int64_t days) {
        out.state = State::Review;
        out.learningSteps = 0;
        out.scheduledDays = static_cast<double>(days);
        out.dueMs = nowMs + days * kDayMs;
    };
    auto stepTo = [&](const Step& step, State state) {
        out.state = state;
        out.learningSteps = step.index;
        out.scheduledDays = 0;
        out.dueMs = nowMs + step.minutes * kMinuteMs;
    };

    if (card.state != State::Review) {
        const bool needsRetrievability = !firstRating && elapsed > 0;
        const Memory memory =
            memoryAfter(card, elapsed, needsRetrievability ? retrievability(elapsed, s) : 0, grade);
        out.stability = memory.stability;
        out.difficulty = memory.difficulty;
        const std::optional<Step> step = card.state == State::Relearning
                                             ? shortTermStep(kRelearningMinutes, card.learningSteps, grade)
                                             : shortTermStep(kLearningMinutes, card.learningSteps, grade);
        if (step)
            stepTo(*step, card.state == State::New ? State::Learning : card.state);
        else
            graduate(interval(memory.stability));
        return out;
    }

    const double r = !firstRating && elapsed > 0 ? retrievability(elapsed, s) : 0;
    if (grade == 1) {
        const Memory memory = memoryAfter(card, elapsed, r, 1);
        out.stability = memory.stability;
        out.difficulty = memory.difficulty;
        out.lapses = incremented(card.lapses, "lapse count overflows");
        if (card.learningSteps < static_cast<std::int64_t>(kRelearningMinutes.size()))
            stepTo(Step{kRelearningMinutes[static_cast<std::size_t>(card.learningSteps)], 0}, State::Relearning);
        else
            graduate(interval(memory.stability));
        return out;
    }

    // Hard, good and easy intervals are ordered against each other: hard and good need each other's
    // stability, easy needs all three.
    auto stabilityFor = [&, growth = 0.0, power = 0.0](int g) mutable {
        if (firstRating)
            return jsMax(w[static_cast<std::size_t>(g - 1)], 0.1);
        if (elapsed == 0) {
            if (power == 0)
                power = std::pow(s, -w[19]);
            return shortTermStability(s, power, g);
        }
        if (growth == 0)
            growth = m_terms->expW8 * (11 - d) * std::pow(s, -w[9]) * (std::exp((1 - r) * w[10]) - 1);
        return recallStability(s, growth, g);
    };
    const double hard = stabilityFor(2);
    const double good = stabilityFor(3);
    std::int64_t hardDays = interval(hard);
    std::int64_t goodDays = interval(good);
    hardDays = std::min(hardDays, goodDays);
    goodDays = std::max(goodDays, hardDays + 1);
    if (grade == 4) {
        const double easy = stabilityFor(4);
        out.stability = easy;
        graduate(std::max(interval(easy), goodDays + 1));
    } else {
        out.stability = grade == 2 ? hard : good;
        graduate(grade == 2 ? hardDays : goodDays);
    }
    out.difficulty = firstRating ? clamp(m_terms->initialDifficulty[grade], 1, 10) : nextDifficulty(d, grade);
    return out;
}

} // namespace Fsrs6
