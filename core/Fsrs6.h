#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>

/// Quenda's FSRS-6 scheduler component: the published FSRS-6 memory model with short-term learning
/// steps, with one fixed parameter set (default FSRS-6 weights, maximum interval 36500 days, no fuzz,
/// learning steps 1 and 10 minutes, relearning step 10 minutes). Only the requested retention varies.
///
/// It reproduces the reference implementation ts-fsrs 5.4.2 with those settings step for step: every
/// intermediate value the reference rounds to 8 decimals is rounded the same way, with the same
/// tie-breaking (towards +infinity), so integer fields and times agree exactly and stability and
/// difficulty agree to the last bit except where the C library's `pow`/`exp` and the reference's
/// differ in their last bit.
///
/// Times are integer milliseconds since 1970-01-01T00:00:00Z; days elapsed are counted between UTC
/// calendar dates. Everything here is a pure function of its arguments: a `Scheduler` is immutable and
/// may be used from any number of threads at once.
namespace Fsrs6 {

inline constexpr std::int64_t kDayMs = 86'400'000;
inline constexpr std::int64_t kMinuteMs = 60'000;
inline constexpr double kMaximumInterval = 36500;

/// The card states, numbered like `MemoryStage`.
enum class State : std::uint8_t { New = 0, Learning = 1, Review = 2, Relearning = 3 };

/// The component's card: the ten fields of a memory state, times in milliseconds since 1970.
struct Card {
    std::int64_t dueMs = 0; ///< not read by `next`: the next due time depends on `now` only
    double stability = 0;
    double difficulty = 0;
    double elapsedDays = 0;   ///< not read by `next`
    double scheduledDays = 0; ///< not read by `next`
    std::int64_t learningSteps = 0;
    std::int64_t reps = 0;
    std::int64_t lapses = 0;
    State state = State::New;
    std::optional<std::int64_t> lastReviewMs;

    friend bool operator==(const Card&, const Card&) = default;
};

/// Thrown for an input the algorithm has no answer for (the reference refuses the same inputs): a grade
/// outside 1 to 4, a retention outside (0, 1], a review on an earlier UTC day than the last one, or a
/// stability below 0.001 or difficulty below 1 on a card that is not brand new (stability and
/// difficulty both 0), or a negative step index. Beyond the reference, a non-finite stability or a
/// difficulty above 10 (which would make the results NaN) and `reps` or `lapses` at the largest `int64`
/// are refused too.
class InvalidInput : public std::invalid_argument {
public:
    using std::invalid_argument::invalid_argument;
};

/// The scheduler for one requested retention. Building one is cheap: the weight terms are computed once
/// per process and the interval modifier once per retention value in a row on each thread.
class Scheduler {
public:
    /// Throws InvalidInput unless 0 < retention <= 1.
    explicit Scheduler(double retention);

    double retention() const { return m_retention; }
    /// Days of interval per day of stability at this retention (1 at 0.9), rounded to 8 decimals.
    double intervalModifier() const { return m_intervalModifier; }

    /// The card after a review with `grade` (1 again, 2 hard, 3 good, 4 easy) at `nowMs`.
    /// Throws InvalidInput (see above). `nowMs` must lie within ±8.64e15, the range of the reference's
    /// dates; the caller guarantees it.
    Card next(const Card& card, std::int64_t nowMs, int grade) const;

    /// Whole days of interval for a stability: at least 1, at most kMaximumInterval.
    std::int64_t interval(double stability) const;

private:
    struct Memory {
        double stability;
        double difficulty;
    };
    Memory memoryAfter(const Card& card, std::int64_t elapsedDays, double retrievability, int grade) const;
    double nextDifficulty(double difficulty, int grade) const;
    double shortTermStability(double stability, double powStability, int grade) const;
    double recallStability(double stability, double recallGrowth, int grade) const;
    double forgetStability(double stability, double difficulty, double retrievability) const;
    double retrievability(std::int64_t elapsedDays, double stability) const;

    // Terms that depend on the weights only, computed once per process and shared by every scheduler,
    // so that building a scheduler costs one `pow` and a review only the transcendental functions of the
    // card's own stability and difficulty.
    struct WeightTerms;
    static const WeightTerms& weightTerms();

    const WeightTerms* m_terms;
    double m_retention;
    double m_intervalModifier;
};

/// Days between the UTC calendar dates of two instants (negative when `laterMs` is on an earlier date).
constexpr std::int64_t calendarDaysBetween(std::int64_t earlierMs, std::int64_t laterMs) {
    auto day = [](std::int64_t ms) { return ms / kDayMs - (ms % kDayMs < 0 ? 1 : 0); };
    return day(laterMs) - day(earlierMs);
}

/// Nearest integer, ties towards +infinity (the reference's rounding; not `std::round`, which rounds
/// negative halves away from zero). NaN and infinities come back unchanged.
inline double roundHalfUp(double x) {
    // Below 2^52 in magnitude the truncating conversion is exact and far cheaper than a floor call;
    // above it every double is already an integer.
    // Branch-free in the common case: the tie test is a coin toss that a branch predictor would lose.
    if (!(x > -4503599627370496.0 && x < 4503599627370496.0))
        return x;
    const double truncated = static_cast<double>(static_cast<std::int64_t>(x));
    const double floor = truncated - static_cast<double>(truncated > x);
    return floor + static_cast<double>(x - floor >= 0.5);
}

/// `x` rounded to 8 decimals the way the reference does it: roundHalfUp(x * 1e8) / 1e8.
inline double round8(double x) { return roundHalfUp(x * 1e8) / 1e8; }

} // namespace Fsrs6
