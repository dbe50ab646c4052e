#pragma once

#include "core/QuendaError.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QFuture>
#include <QList>
#include <QPromise>
#include <QString>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <type_traits>
#include <unordered_map>
#include <variant>

struct sqlite3;
struct sqlite3_stmt;

// A thin access layer over the SQLite C API: one connection, owned by one worker thread that runs every
// access in submission order. Engine failures are thrown as PlatformError carrying SQLite's message.

/// One positional argument of a statement.
class SQLiteValue {
public:
    struct Text {
        QByteArray utf8;
    };
    struct Blob {
        QByteArray bytes;
    };
    using Storage = std::variant<std::nullptr_t, Text, std::int64_t, double, bool, Blob>;

    SQLiteValue(std::nullptr_t) : m_value(nullptr) {}
    SQLiteValue(const QString& text) : m_value(Text{text.toUtf8()}) {}
    SQLiteValue(const char* utf8) : m_value(Text{QByteArray(utf8)}) {}
    SQLiteValue(std::int64_t value) : m_value(value) {}
    SQLiteValue(int value) : m_value(std::int64_t(value)) {}
    SQLiteValue(double value) : m_value(value) {}
    /// Stored as 0 or 1.
    SQLiteValue(bool value) : m_value(value) {}

    static SQLiteValue text(QByteArray utf8) { return SQLiteValue(Text{std::move(utf8)}); }
    static SQLiteValue blob(QByteArray bytes) { return SQLiteValue(Blob{std::move(bytes)}); }
    /// The value, or NULL when absent.
    template <typename T> static SQLiteValue optional(const std::optional<T>& value) {
        return value ? SQLiteValue(*value) : SQLiteValue(nullptr);
    }

    const Storage& storage() const { return m_value; }

private:
    explicit SQLiteValue(Storage value) : m_value(std::move(value)) {}
    Storage m_value;
};

using SQLiteArguments = std::initializer_list<SQLiteValue>;

/// A prepared statement borrowed from the connection's cache for one use. Bindings and the cursor are
/// reset when it goes out of scope. Column accessors read the current row after `step` returned true;
/// the views they return stay valid until the next `step` or the end of the borrow.
class SQLiteStatement {
public:
    SQLiteStatement(SQLiteStatement&& other) noexcept;
    SQLiteStatement& operator=(SQLiteStatement&&) = delete;
    ~SQLiteStatement();

    /// Binds the arguments to ?1, ?2, … in order. Throws PlatformError.
    void bind(SQLiteArguments arguments);
    void bind(const QList<SQLiteValue>& arguments);
    /// Advances to the next row; false when done. Throws PlatformError.
    bool step();

    bool isNull(int column) const;
    /// The column's bytes without a copy.
    QByteArrayView blob(int column) const;
    std::int64_t integer(int column) const;
    double real(int column) const;

private:
    friend class SQLiteConnection;
    SQLiteStatement(sqlite3_stmt* statement, bool* inUse, bool owned);
    void bindOne(int index, const SQLiteValue& value);
    [[noreturn]] void fail() const;

    sqlite3_stmt* m_statement;
    bool* m_inUse;
    bool m_owned;
};

/// The open connection as seen by one access. Valid only inside the function passed to
/// `SQLiteDatabase::read`, `write` or `access`, on the database's worker thread. Every method throws
/// PlatformError with SQLite's message when the engine fails.
class SQLiteConnection {
public:
    SQLiteConnection(const SQLiteConnection&) = delete;
    SQLiteConnection& operator=(const SQLiteConnection&) = delete;
    ~SQLiteConnection();

    /// Runs a script of one or more statements without arguments.
    void executeScript(const char* sql);
    /// Runs one statement with positional arguments, ignoring any rows.
    void execute(std::string_view sql, SQLiteArguments arguments = {});

    /// First column of the first row, or absent when there is no row (a NULL reads as empty bytes).
    std::optional<QByteArray> blob(std::string_view sql, SQLiteArguments arguments = {});
    /// First column of every row.
    QList<QByteArray> blobs(std::string_view sql, SQLiteArguments arguments = {});
    /// First column of the first row as a boolean (non-zero), or absent when there is no row.
    std::optional<bool> boolean(std::string_view sql, SQLiteArguments arguments = {});
    QList<bool> booleans(std::string_view sql, SQLiteArguments arguments = {});

    /// The cached prepared statement for `sql`, for reading rows without copies.
    SQLiteStatement prepare(std::string_view sql);

    /// Runs `body` inside one transaction: committed when it returns, rolled back when it throws, the
    /// exception passed on unchanged.
    template <typename F> auto transaction(F&& body) -> std::invoke_result_t<F> {
        begin();
        try {
            if constexpr (std::is_void_v<std::invoke_result_t<F>>) {
                body();
                commit();
            } else {
                auto result = body();
                commit();
                return result;
            }
        } catch (...) {
            rollback();
            throw;
        }
    }

    /// The raw handle, for what this layer does not wrap.
    sqlite3* handle() const { return m_db; }

private:
    friend class SQLiteDatabase;
    explicit SQLiteConnection(sqlite3* db);
    void begin();
    void commit();
    void rollback() noexcept;
    [[noreturn]] void fail() const;

    struct CachedStatement {
        sqlite3_stmt* statement = nullptr;
        std::unique_ptr<bool> inUse;
    };
    sqlite3* m_db;
    std::unordered_map<std::string, CachedStatement> m_cache;
};

/// A schema change applied once per database file, identified for the bookkeeping table.
struct SQLiteMigration {
    QString identifier;
    std::function<void(SQLiteConnection&)> apply;
};

/// One serialized connection. Every access runs on the object's own worker thread, one at a time, in
/// submission order; methods may be called from any thread. Results come back as futures; a failed
/// access stores its exception (QuendaError, PlatformError…) in the future unchanged.
///
/// Destroying the object runs the accesses already submitted, then closes the connection.
class SQLiteDatabase {
public:
    /// The table recording applied migrations: one column `identifier`.
    static constexpr const char* kMigrationTable = "quenda_migrations";

    /// Opens (creating when absent) the database file at `path`, creating its missing parent folders.
    /// Foreign keys on, WAL journal, synchronous FULL. Throws PlatformError.
    explicit SQLiteDatabase(const QString& path);
    /// A private in-memory database with the same settings.
    struct InMemory {};
    explicit SQLiteDatabase(InMemory);
    ~SQLiteDatabase();
    SQLiteDatabase(const SQLiteDatabase&) = delete;
    SQLiteDatabase& operator=(const SQLiteDatabase&) = delete;

    /// Applies, in order, each migration not yet recorded, each in its own transaction together with its
    /// bookkeeping row. Stops at the first failure, which is rethrown (earlier migrations stay applied).
    /// Blocks the caller until done.
    void migrate(const QList<SQLiteMigration>& migrations);

    /// Runs `body(connection)` with no transaction around it.
    template <typename F> auto access(F&& body) -> QFuture<std::invoke_result_t<F, SQLiteConnection&>> {
        using T = std::invoke_result_t<F, SQLiteConnection&>;
        auto promise = std::make_shared<QPromise<T>>();
        QFuture<T> future = promise->future();
        promise->start();
        submit([promise, body = std::forward<F>(body)](SQLiteConnection& connection) mutable {
            try {
                if constexpr (std::is_void_v<T>)
                    body(connection);
                else
                    promise->addResult(body(connection));
            } catch (...) {
                promise->setException(std::current_exception());
            }
            promise->finish();
        });
        return future;
    }

    /// A read access: `body` must not write.
    template <typename F> auto read(F&& body) { return access(std::forward<F>(body)); }

    /// A write access: `body` runs inside one transaction.
    template <typename F> auto write(F&& body) {
        return access([body = std::forward<F>(body)](SQLiteConnection& connection) mutable {
            return connection.transaction([&] { return body(connection); });
        });
    }

private:
    using Task = std::function<void(SQLiteConnection&)>;
    void start(const std::string& path);
    void submit(Task task);
    void run();

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<Task> m_tasks;
    bool m_stopping = false;
    std::unique_ptr<SQLiteConnection> m_connection;
    std::thread m_worker;
};
