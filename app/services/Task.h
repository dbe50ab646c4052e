#pragma once

#include <QFuture>
#include <QFutureWatcher>
#include <QObject>
#include <QPromise>
#include <QThreadPool>
#include <QtConcurrent>

#include <atomic>
#include <coroutine>
#include <exception>
#include <memory>
#include <type_traits>

/// Thrown when an operation was cancelled before it changed anything. Never shown to the user.
class OperationCancelled : public std::exception {
public:
    const char* what() const noexcept override { return "cancelled"; }
};

/// Shared between whoever may cancel a request and the code that carries it out, on any thread.
class CancellationToken {
public:
    CancellationToken() : m_flag(std::make_shared<std::atomic_bool>(false)) {}
    void cancel() const { m_flag->store(true); }
    bool isCancelled() const { return m_flag->load(); }
    /// Throws OperationCancelled once cancelled.
    void check() const {
        if (isCancelled())
            throw OperationCancelled();
    }

private:
    std::shared_ptr<std::atomic_bool> m_flag;
};

/// An eagerly started coroutine whose outcome is a QFuture<T>. It lets a multi-step operation on the
/// user-interface thread read as its steps, awaiting background work with `co_await on(context, future)`:
///
///     Task<bool> AppModel::saveDeck(Deck deck) {
///         co_await on(this, m_repository->saveDeck(deck));
///         co_await on(this, reload());
///         co_return true;
///     }
///
/// An exception escaping the coroutine is stored in the future and rethrown by `result()` or by the
/// next `co_await` of it.
template <typename T>
class Task {
public:
    struct promise_type;

    QFuture<T> future() const { return m_future; }
    operator QFuture<T>() const { return m_future; }

private:
    explicit Task(QFuture<T> future) : m_future(std::move(future)) {}
    QFuture<T> m_future;
};

namespace TaskDetail {

template <typename T>
struct PromiseBase {
    QPromise<T> promise;
    PromiseBase() { promise.start(); }
    std::suspend_never initial_suspend() noexcept { return {}; }
    std::suspend_never final_suspend() noexcept { return {}; }
    void unhandled_exception() {
        promise.setException(std::current_exception());
        promise.finish();
    }
};

} // namespace TaskDetail

template <typename T>
struct Task<T>::promise_type : TaskDetail::PromiseBase<T> {
    Task get_return_object() { return Task(this->promise.future()); }
    void return_value(T value) {
        this->promise.addResult(std::move(value));
        this->promise.finish();
    }
};

template <>
struct Task<void>::promise_type : TaskDetail::PromiseBase<void> {
    Task get_return_object() { return Task(this->promise.future()); }
    void return_void() { this->promise.finish(); }
};

/// Awaits `future` and resumes the coroutine on the thread of `context`, through its event loop.
/// `co_await` gives the future's result or rethrows its exception.
template <typename T>
auto on(QObject* context, QFuture<T> future) {
    struct Awaiter {
        QObject* context;
        QFuture<T> future;
        bool await_ready() const { return false; }
        void await_suspend(std::coroutine_handle<> handle) {
            auto* watcher = new QFutureWatcher<T>(context);
            QObject::connect(watcher, &QFutureWatcherBase::finished, context, [watcher, handle] {
                watcher->deleteLater();
                handle.resume();
            });
            watcher->setFuture(future);
        }
        T await_resume() {
            if constexpr (std::is_void_v<T>)
                future.waitForFinished(); // rethrows a stored exception
            else
                return future.result();
        }
    };
    return Awaiter{context, std::move(future)};
}

template <typename T>
auto on(QObject* context, Task<T> task) {
    return on(context, task.future());
}

/// Runs `work` on `pool` (the global pool when null) and gives its result through a future that
/// carries whatever `work` throws as it is (QtConcurrent::run would wrap it in QUnhandledException).
template <typename F>
auto runInBackground(QThreadPool* pool, F work) -> QFuture<std::invoke_result_t<F>> {
    using T = std::invoke_result_t<F>;
    return QtConcurrent::run(pool ? pool : QThreadPool::globalInstance(), [work = std::move(work)](QPromise<T>& promise) {
        try {
            if constexpr (std::is_void_v<T>)
                work();
            else
                promise.addResult(work());
        } catch (...) {
            promise.setException(std::current_exception());
        }
    });
}
