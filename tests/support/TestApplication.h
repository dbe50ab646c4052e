#pragma once

#include <QApplication>
#include <QFuture>

/// Creates the process's QApplication on first use (offscreen in the test environment). Tests that
/// need an event loop, fonts or widgets call it first; it is never destroyed.
inline void ensureApplication() {
    if (QCoreApplication::instance())
        return;
    static int argc = 1;
    static char name[] = "quenda-tests";
    static char* argv[] = {name, nullptr};
    new QApplication(argc, argv);
}

/// Runs the event loop until `future` has finished, then returns it.
template <typename T>
QFuture<T> waitFor(QFuture<T> future) {
    while (!future.isFinished())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    QCoreApplication::processEvents();
    return future;
}
