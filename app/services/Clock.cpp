#include "app/services/Clock.h"

#include <QDateTime>
#include <QTimer>

#include <cmath>

void ClockTimer::cancel() {
    if (m_state && !m_state->done) {
        m_state->done = true;
        m_state->action = nullptr;
    }
}

bool ClockTimer::isActive() const { return m_state && !m_state->done; }

ClockTimer Clock::startTimer(double seconds, QObject* context, std::function<void()> action) {
    auto state = std::make_shared<ClockTimer::State>();
    state->action = std::move(action);
    schedule(seconds, context, [state] {
        if (state->done)
            return;
        state->done = true;
        // Move the action out first: it may start a new timer or drop the last handle to this one.
        const std::function<void()> action = std::move(state->action);
        action();
    });
    return ClockTimer(state);
}

namespace {

class SystemClock final : public Clock {
public:
    Instant now() const override {
        return Instant::fromUnixMilliseconds(double(QDateTime::currentMSecsSinceEpoch()));
    }
    QTimeZone timeZone() const override { return QTimeZone::systemTimeZone(); }

protected:
    void schedule(double seconds, QObject* context, std::function<void()> fire) override {
        const int milliseconds = int(std::lround(std::max(0.0, seconds) * 1000.0));
        QTimer::singleShot(milliseconds, Qt::PreciseTimer, context, std::move(fire));
    }
};

} // namespace

Clock& Clock::system() {
    static SystemClock clock;
    return clock;
}
