#pragma once

#include "core/Instant.h"

#include <QObject>
#include <QTimeZone>

#include <functional>
#include <memory>

/// A pending timer started by a Clock. Cancelling it guarantees that its action never runs;
/// cancelling twice, or after it ran, does nothing. Destroying the handle does not cancel.
class ClockTimer {
public:
    ClockTimer() = default;
    void cancel();
    bool isActive() const;

private:
    friend class Clock;
    struct State {
        bool done = false;
        std::function<void()> action;
    };
    explicit ClockTimer(std::shared_ptr<State> state) : m_state(std::move(state)) {}
    std::shared_ptr<State> m_state;
};

/// Where the application model and the services get "now", the user's time zone and monotonic
/// timers from. The application uses `Clock::system()`; tests substitute a clock they advance by hand,
/// so toasts, backup delays and the clock refresh are driven without sleeping.
///
/// Timers run their action on the thread of `context` (the user-interface thread for the model) and
/// never after `context` is destroyed.
class Clock {
public:
    virtual ~Clock() = default;

    /// The current wall-clock time.
    virtual Instant now() const = 0;
    /// The user's current time zone; it decides where calendar days start.
    virtual QTimeZone timeZone() const = 0;

    /// Runs `action` once `seconds` have passed on a monotonic clock, unless the timer is cancelled first.
    ClockTimer startTimer(double seconds, QObject* context, std::function<void()> action);

    /// Wall time and zone of the system, timers on Qt's monotonic timers.
    static Clock& system();

protected:
    /// Arranges for `fire` to be called on `context`'s thread after `seconds`; `fire` checks cancellation.
    virtual void schedule(double seconds, QObject* context, std::function<void()> fire) = 0;
};
