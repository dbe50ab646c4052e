#include "persistence/SQLiteDatabase.h"

#include <QDir>
#include <QFileInfo>

#include <sqlite3.h>

namespace {

[[noreturn]] void throwEngineError(sqlite3* db) {
    throw PlatformError(QString::fromUtf8(sqlite3_errmsg(db)));
}

} // namespace

// --- SQLiteStatement ---

SQLiteStatement::SQLiteStatement(sqlite3_stmt* statement, bool* inUse, bool owned)
    : m_statement(statement), m_inUse(inUse), m_owned(owned) {}

SQLiteStatement::SQLiteStatement(SQLiteStatement&& other) noexcept
    : m_statement(std::exchange(other.m_statement, nullptr)), m_inUse(std::exchange(other.m_inUse, nullptr)),
      m_owned(other.m_owned) {}

SQLiteStatement::~SQLiteStatement() {
    if (!m_statement)
        return;
    if (m_owned) {
        sqlite3_finalize(m_statement);
        return;
    }
    sqlite3_reset(m_statement);
    sqlite3_clear_bindings(m_statement);
    if (m_inUse)
        *m_inUse = false;
}

void SQLiteStatement::fail() const {
    throwEngineError(sqlite3_db_handle(m_statement));
}

void SQLiteStatement::bindOne(int index, const SQLiteValue& value) {
    int rc = SQLITE_OK;
    std::visit(
        [&](const auto& v) {
            using V = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<V, std::nullptr_t>)
                rc = sqlite3_bind_null(m_statement, index);
            else if constexpr (std::is_same_v<V, SQLiteValue::Text>)
                rc = sqlite3_bind_text64(m_statement, index, v.utf8.constData(), sqlite3_uint64(v.utf8.size()),
                                         SQLITE_TRANSIENT, SQLITE_UTF8);
            else if constexpr (std::is_same_v<V, std::int64_t>)
                rc = sqlite3_bind_int64(m_statement, index, v);
            else if constexpr (std::is_same_v<V, double>)
                rc = sqlite3_bind_double(m_statement, index, v);
            else if constexpr (std::is_same_v<V, bool>)
                rc = sqlite3_bind_int(m_statement, index, v ? 1 : 0);
            else
                // An empty QByteArray may have a null data pointer, which SQLite would bind as NULL.
                rc = v.bytes.isEmpty() ? sqlite3_bind_zeroblob(m_statement, index, 0)
                                       : sqlite3_bind_blob64(m_statement, index, v.bytes.constData(),
                                                             sqlite3_uint64(v.bytes.size()), SQLITE_TRANSIENT);
        },
        value.storage());
    if (rc != SQLITE_OK)
        fail();
}

void SQLiteStatement::bind(SQLiteArguments arguments) {
    int index = 1;
    for (const SQLiteValue& value : arguments)
        bindOne(index++, value);
}

void SQLiteStatement::bind(const QList<SQLiteValue>& arguments) {
    int index = 1;
    for (const SQLiteValue& value : arguments)
        bindOne(index++, value);
}

bool SQLiteStatement::step() {
    const int rc = sqlite3_step(m_statement);
    if (rc == SQLITE_ROW)
        return true;
    if (rc == SQLITE_DONE)
        return false;
    fail();
}

bool SQLiteStatement::isNull(int column) const {
    return sqlite3_column_type(m_statement, column) == SQLITE_NULL;
}

QByteArrayView SQLiteStatement::blob(int column) const {
    const void* data = sqlite3_column_blob(m_statement, column);
    const int size = sqlite3_column_bytes(m_statement, column);
    return QByteArrayView(static_cast<const char*>(data), size);
}

std::int64_t SQLiteStatement::integer(int column) const {
    return sqlite3_column_int64(m_statement, column);
}

double SQLiteStatement::real(int column) const {
    return sqlite3_column_double(m_statement, column);
}

// --- SQLiteConnection ---

SQLiteConnection::SQLiteConnection(sqlite3* db) : m_db(db) {}

SQLiteConnection::~SQLiteConnection() {
    for (auto& [sql, cached] : m_cache)
        sqlite3_finalize(cached.statement);
    sqlite3_close_v2(m_db);
}

void SQLiteConnection::fail() const {
    throwEngineError(m_db);
}

void SQLiteConnection::executeScript(const char* sql) {
    char* message = nullptr;
    if (sqlite3_exec(m_db, sql, nullptr, nullptr, &message) != SQLITE_OK) {
        const QString description = message ? QString::fromUtf8(message) : QString::fromUtf8(sqlite3_errmsg(m_db));
        sqlite3_free(message);
        throw PlatformError(description);
    }
}

SQLiteStatement SQLiteConnection::prepare(std::string_view sql) {
    auto it = m_cache.find(std::string(sql));
    if (it != m_cache.end() && !*it->second.inUse) {
        sqlite3_reset(it->second.statement);
        *it->second.inUse = true;
        return SQLiteStatement(it->second.statement, it->second.inUse.get(), false);
    }
    sqlite3_stmt* statement = nullptr;
    const char* tail = nullptr;
    if (sqlite3_prepare_v3(m_db, sql.data(), int(sql.size()), SQLITE_PREPARE_PERSISTENT, &statement, &tail) !=
        SQLITE_OK)
        fail();
    if (!statement) // empty or comment-only text
        throw PlatformError(QStringLiteral("Istruzione SQL vuota."));
    if (it != m_cache.end()) // the cached one is borrowed by an enclosing use: this one is for this use only
        return SQLiteStatement(statement, nullptr, true);
    CachedStatement cached{statement, std::make_unique<bool>(true)};
    bool* inUse = cached.inUse.get();
    m_cache.emplace(std::string(sql), std::move(cached));
    return SQLiteStatement(statement, inUse, false);
}

void SQLiteConnection::execute(std::string_view sql, SQLiteArguments arguments) {
    SQLiteStatement statement = prepare(sql);
    statement.bind(arguments);
    while (statement.step()) {
    }
}

std::optional<QByteArray> SQLiteConnection::blob(std::string_view sql, SQLiteArguments arguments) {
    SQLiteStatement statement = prepare(sql);
    statement.bind(arguments);
    if (!statement.step())
        return std::nullopt;
    return statement.blob(0).toByteArray();
}

QList<QByteArray> SQLiteConnection::blobs(std::string_view sql, SQLiteArguments arguments) {
    SQLiteStatement statement = prepare(sql);
    statement.bind(arguments);
    QList<QByteArray> result;
    while (statement.step())
        result.append(statement.blob(0).toByteArray());
    return result;
}

std::optional<bool> SQLiteConnection::boolean(std::string_view sql, SQLiteArguments arguments) {
    SQLiteStatement statement = prepare(sql);
    statement.bind(arguments);
    if (!statement.step())
        return std::nullopt;
    return statement.integer(0) != 0;
}

QList<bool> SQLiteConnection::booleans(std::string_view sql, SQLiteArguments arguments) {
    SQLiteStatement statement = prepare(sql);
    statement.bind(arguments);
    QList<bool> result;
    while (statement.step())
        result.append(statement.integer(0) != 0);
    return result;
}

void SQLiteConnection::begin() {
    execute("BEGIN IMMEDIATE");
}

void SQLiteConnection::commit() {
    execute("COMMIT");
}

void SQLiteConnection::rollback() noexcept {
    // A failed statement may already have rolled the transaction back; the caller's error is what matters.
    if (!sqlite3_get_autocommit(m_db))
        sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
}

// --- SQLiteDatabase ---

SQLiteDatabase::SQLiteDatabase(const QString& path) {
    const QFileInfo info(path);
    const QString folder = info.absolutePath();
    if (!QDir().mkpath(folder))
        throw PlatformError(
            QStringLiteral("Impossibile creare la cartella “%1”.").arg(QDir::toNativeSeparators(folder)));
    // An absolute path never starts with ':', so no file name is taken for SQLite's in-memory name.
    start(QFile::encodeName(info.absoluteFilePath()).toStdString());
}

SQLiteDatabase::SQLiteDatabase(InMemory) {
    start(":memory:");
}

void SQLiteDatabase::start(const std::string& path) {
    sqlite3* db = nullptr;
    const int rc =
        sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        const QString description = db ? QString::fromUtf8(sqlite3_errmsg(db)) : QString::fromUtf8(sqlite3_errstr(rc));
        sqlite3_close_v2(db);
        throw PlatformError(description);
    }
    sqlite3_extended_result_codes(db, 1);
    // Owns the handle from here on, so a failing pragma closes it.
    m_connection.reset(new SQLiteConnection(db));
    m_connection->executeScript("PRAGMA foreign_keys = ON; PRAGMA journal_mode = WAL; PRAGMA synchronous = FULL;");
    m_worker = std::thread([this] { run(); });
}

SQLiteDatabase::~SQLiteDatabase() {
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_one();
    if (m_worker.joinable())
        m_worker.join();
}

void SQLiteDatabase::submit(Task task) {
    {
        std::lock_guard lock(m_mutex);
        m_tasks.push_back(std::move(task));
    }
    m_wake.notify_one();
}

void SQLiteDatabase::run() {
    for (;;) {
        Task task;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return m_stopping || !m_tasks.empty(); });
            if (m_tasks.empty())
                return;
            task = std::move(m_tasks.front());
            m_tasks.pop_front();
        }
        task(*m_connection);
    }
}

void SQLiteDatabase::migrate(const QList<SQLiteMigration>& migrations) {
    QFuture<void> done = access([&migrations](SQLiteConnection& db) {
        db.execute(std::string("CREATE TABLE IF NOT EXISTS ") + kMigrationTable +
                   " (identifier TEXT NOT NULL PRIMARY KEY)");
        const std::string isApplied =
            std::string("SELECT EXISTS (SELECT 1 FROM ") + kMigrationTable + " WHERE identifier = ?)";
        const std::string record = std::string("INSERT INTO ") + kMigrationTable + " (identifier) VALUES (?)";
        for (const SQLiteMigration& migration : migrations) {
            db.transaction([&] {
                if (db.boolean(isApplied, {migration.identifier}).value_or(false))
                    return;
                migration.apply(db);
                db.execute(record, {migration.identifier});
            });
        }
    });
    done.waitForFinished(); // rethrows the access's exception
}
