#pragma once

#include "app/services/Clock.h"

#include <QPointer>

#include <map>

/// A clock that stands still until the test advances it. Timers fire, in due order, during
/// `advance`, on the calling thread; wall time moves along with the monotonic time.
class TestClock final : public Clock {
public:
    explicit TestClock(Instant start = Instant::fromUnixSeconds(1765450800), // 2025-12-11 11:00 UTC
                       QTimeZone zone = QTimeZone("Europe/Rome"))
        : m_now(start), m_zone(std::move(zone)) {}

    Instant now() const override { return m_now; }
    QTimeZone timeZone() const override { return m_zone; }
    void setNow(Instant now) { m_now = now; }
    void setTimeZone(QTimeZone zone) { m_zone = std::move(zone); }

    /// Moves time forward by `seconds`, firing every timer that falls due on the way.
    void advance(double seconds) {
        const double end = m_monotonic + seconds;
        while (!m_timers.empty() && m_timers.begin()->first.first <= end) {
            auto node = m_timers.extract(m_timers.begin());
            m_now = m_now.addingSeconds(node.key().first - m_monotonic);
            m_monotonic = node.key().first;
            if (node.mapped().context)
                node.mapped().fire();
        }
        m_now = m_now.addingSeconds(end - m_monotonic);
        m_monotonic = end;
    }

    /// Timers started and neither fired nor dropped (a cancelled timer stays counted until it falls due).
    size_t pendingTimers() const { return m_timers.size(); }

protected:
    void schedule(double seconds, QObject* context, std::function<void()> fire) override {
        m_timers.emplace(std::pair(m_monotonic + seconds, m_sequence++), Pending{context, std::move(fire)});
    }

private:
    struct Pending {
        QPointer<QObject> context;
        std::function<void()> fire;
    };
    Instant m_now;
    QTimeZone m_zone;
    double m_monotonic = 0;
    long m_sequence = 0;
    std::map<std::pair<double, long>, Pending> m_timers;
};
