#include "app/services/Task.h"
#include "support/TestApplication.h"
#include "support/TestClock.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QtConcurrent>

namespace {

Task<int> addOnWorker(QObject* context, int a, int b) {
    const int sum = co_await on(context, QtConcurrent::run([a, b] { return a + b; }));
    co_return sum * 10;
}

Task<int> failAfterWork(QObject* context) {
    co_await on(context, QtConcurrent::run([] {}));
    throw std::runtime_error("broken");
}

Task<QString> catchFailure(QObject* context) {
    try {
        co_await on(context, failAfterWork(context));
    } catch (const std::runtime_error& error) {
        co_return QString::fromLatin1(error.what());
    }
    co_return QString();
}

} // namespace

TEST(TaskTest, AwaitsWorkAndResumesOnTheContextThread) {
    ensureApplication();
    QObject context;
    EXPECT_EQ(waitFor(addOnWorker(&context, 2, 3).future()).result(), 50);
    EXPECT_EQ(waitFor(catchFailure(&context).future()).result(), QStringLiteral("broken"));
    EXPECT_THROW(waitFor(failAfterWork(&context).future()).waitForFinished(), std::runtime_error);
}

TEST(TestClockTest, FiresTimersInDueOrderAndNeverCancelledOnes) {
    TestClock clock;
    QObject context;
    QStringList fired;
    const Instant start = clock.now();
    clock.startTimer(6, &context, [&] { fired << QStringLiteral("backup"); });
    ClockTimer toast = clock.startTimer(3, &context, [&] { fired << QStringLiteral("toast"); });
    clock.startTimer(1, &context, [&] {
        fired << QStringLiteral("first");
        clock.startTimer(1, &context, [&] { fired << QStringLiteral("chained"); });
    });
    toast.cancel();
    EXPECT_FALSE(toast.isActive());
    clock.advance(5.5);
    EXPECT_EQ(fired, (QStringList{"first", "chained"}));
    EXPECT_EQ(clock.now(), start.addingSeconds(5.5));
    clock.advance(0.5);
    EXPECT_EQ(fired.last(), QStringLiteral("backup"));
}
