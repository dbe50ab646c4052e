#include "persistence/SQLiteDatabase.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <atomic>
#include <cmath>
#include <thread>
#include <vector>

namespace {

template <typename T> T resultOf(QFuture<T> future) {
    if constexpr (std::is_void_v<T>)
        future.waitForFinished();
    else
        return future.result();
}

QString textOf(const QByteArray& bytes) {
    return QString::fromUtf8(bytes);
}

} // namespace

TEST(SQLiteDatabaseTest, OpensFileInMissingFoldersWithForeignKeysWalAndFullSync) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("a/b/library.sqlite"));
    SQLiteDatabase database(path);
    EXPECT_TRUE(QFile::exists(path));
    resultOf(database.read([](SQLiteConnection& db) {
        EXPECT_EQ(db.boolean("PRAGMA foreign_keys"), true);
        EXPECT_EQ(textOf(*db.blob("PRAGMA journal_mode")), QStringLiteral("wal"));
        EXPECT_EQ(db.blob("PRAGMA synchronous"), QByteArray("2"));
    }));
}

TEST(SQLiteDatabaseTest, InMemoryDatabasesArePrivate) {
    SQLiteDatabase first(SQLiteDatabase::InMemory{});
    SQLiteDatabase second(SQLiteDatabase::InMemory{});
    resultOf(first.write([](SQLiteConnection& db) { db.execute("CREATE TABLE t (x)"); }));
    resultOf(second.write([](SQLiteConnection& db) { db.execute("CREATE TABLE t (x)"); }));
    EXPECT_EQ(resultOf(first.read([](SQLiteConnection& db) { return db.boolean("PRAGMA foreign_keys"); })), true);
}

TEST(SQLiteDatabaseTest, OpeningSomethingThatIsNotADatabaseFailsWithTheEnginesMessage) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("garbage.sqlite"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(4096, 'x'));
    file.close();
    try {
        SQLiteDatabase database(path);
        FAIL() << "opened a file that is not a database";
    } catch (const PlatformError& error) {
        EXPECT_EQ(error.description(), QStringLiteral("file is not a database"));
    }
}

TEST(SQLiteDatabaseTest, BindsEveryValueKindAndReadsItBack) {
    SQLiteDatabase database(SQLiteDatabase::InMemory{});
    resultOf(database.read([](SQLiteConnection& db) {
        SQLiteStatement row = db.prepare("SELECT typeof(?1), ?1, typeof(?2), ?2, typeof(?3), ?3, typeof(?4), ?4, "
                                         "typeof(?5), ?5, typeof(?6), typeof(?7), ?7");
        row.bind({QStringLiteral("caffè"), std::int64_t(1) << 40, 0.1, true, SQLiteValue::blob("\0\1\2"), nullptr,
                  SQLiteValue::blob({})});
        ASSERT_TRUE(row.step());
        EXPECT_EQ(row.blob(0), "text");
        EXPECT_EQ(QString::fromUtf8(row.blob(1)), QStringLiteral("caffè"));
        EXPECT_EQ(row.blob(2), "integer");
        EXPECT_EQ(row.integer(3), std::int64_t(1) << 40);
        EXPECT_EQ(row.blob(4), "real");
        EXPECT_EQ(row.real(5), 0.1);
        EXPECT_EQ(row.blob(6), "integer");
        EXPECT_EQ(row.integer(7), 1);
        EXPECT_EQ(row.blob(8), "blob");
        EXPECT_EQ(row.blob(9).toByteArray(), QByteArray("\0\1\2"));
        EXPECT_EQ(row.blob(10), "null");
        EXPECT_EQ(row.blob(11), "blob");
        EXPECT_FALSE(row.isNull(12));
        EXPECT_FALSE(row.step());
    }));
}

TEST(SQLiteDatabaseTest, FirstColumnHelpersTellNoRowFromAValue) {
    SQLiteDatabase database(SQLiteDatabase::InMemory{});
    resultOf(database.write([](SQLiteConnection& db) {
        db.executeScript("CREATE TABLE t (k INTEGER, v BLOB, f INTEGER); INSERT INTO t VALUES (1, x'41', 0);"
                         "INSERT INTO t VALUES (2, x'42', 5);");
        EXPECT_EQ(db.blob("SELECT v FROM t WHERE k = ?", {1}), QByteArray("A"));
        EXPECT_EQ(db.blob("SELECT v FROM t WHERE k = ?", {3}), std::nullopt);
        EXPECT_EQ(db.blobs("SELECT v FROM t ORDER BY k DESC"), (QList<QByteArray>{"B", "A"}));
        EXPECT_EQ(db.blobs("SELECT v FROM t WHERE k > 9"), QList<QByteArray>{});
        EXPECT_EQ(db.boolean("SELECT f FROM t WHERE k = ?", {1}), false);
        EXPECT_EQ(db.boolean("SELECT f FROM t WHERE k = ?", {2}), true);
        EXPECT_EQ(db.boolean("SELECT f FROM t WHERE k = ?", {3}), std::nullopt);
        EXPECT_EQ(db.booleans("SELECT f FROM t ORDER BY k"), (QList<bool>{false, true}));
    }));
}

TEST(SQLiteDatabaseTest, EngineErrorsBecomePlatformErrorsWithSQLitesMessage) {
    SQLiteDatabase database(SQLiteDatabase::InMemory{});
    try {
        resultOf(database.read([](SQLiteConnection& db) { db.execute("SELECT * FROM nowhere"); }));
        FAIL();
    } catch (const PlatformError& error) {
        EXPECT_EQ(error.description(), QStringLiteral("no such table: nowhere"));
    }
    try {
        resultOf(database.write([](SQLiteConnection& db) {
            db.executeScript("CREATE TABLE t (id TEXT PRIMARY KEY NOT NULL); INSERT INTO t VALUES ('a');");
            db.execute("INSERT INTO t VALUES (?)", {"a"});
        }));
        FAIL();
    } catch (const PlatformError& error) {
        EXPECT_EQ(error.description(), QStringLiteral("UNIQUE constraint failed: t.id"));
    }
}

TEST(SQLiteDatabaseTest, WriteCommitsOnReturnAndRollsBackOnThrowPassingTheErrorOnUnchanged) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("db.sqlite"));
    {
        SQLiteDatabase database(path);
        resultOf(database.write([](SQLiteConnection& db) { db.execute("CREATE TABLE t (x INTEGER)"); }));
        EXPECT_EQ(resultOf(database.write([](SQLiteConnection& db) {
                      db.execute("INSERT INTO t VALUES (1)");
                      return 42;
                  })),
                  42);
        try {
            resultOf(database.write([](SQLiteConnection& db) {
                db.execute("INSERT INTO t VALUES (2)");
                throw QuendaError::invalidContent(QStringLiteral("Una data non è valida."));
            }));
            FAIL();
        } catch (const QuendaError& error) {
            EXPECT_EQ(error, QuendaError::invalidContent(QStringLiteral("Una data non è valida.")));
        }
        // An engine failure after earlier writes of the same access undoes them too.
        EXPECT_THROW(resultOf(database.write([](SQLiteConnection& db) {
                         db.execute("INSERT INTO t VALUES (3)");
                         db.execute("INSERT INTO nowhere VALUES (3)");
                     })),
                     PlatformError);
    }
    SQLiteDatabase reopened(path);
    EXPECT_EQ(resultOf(reopened.read([](SQLiteConnection& db) { return db.blobs("SELECT x FROM t"); })),
              QList<QByteArray>{"1"});
}

TEST(SQLiteDatabaseTest, ForeignKeyCascadesAct) {
    SQLiteDatabase database(SQLiteDatabase::InMemory{});
    resultOf(database.write([](SQLiteConnection& db) {
        db.executeScript("CREATE TABLE p (id TEXT PRIMARY KEY);"
                         "CREATE TABLE c (id TEXT, p TEXT REFERENCES p(id) ON DELETE CASCADE);"
                         "INSERT INTO p VALUES ('a'); INSERT INTO c VALUES ('x', 'a'); DELETE FROM p;");
        EXPECT_EQ(db.blobs("SELECT id FROM c"), QList<QByteArray>{});
    }));
}

TEST(SQLiteDatabaseTest, AccessesRunOneAtATimeInSubmissionOrder) {
    SQLiteDatabase database(SQLiteDatabase::InMemory{});
    std::vector<int> order;
    std::atomic<int> active = 0;
    std::atomic<bool> overlapped = false;
    QList<QFuture<void>> futures;
    for (int i = 0; i < 200; ++i)
        futures.append(database.read([&, i](SQLiteConnection&) {
            if (active.fetch_add(1) != 0)
                overlapped = true;
            order.push_back(i);
            active.fetch_sub(1);
        }));
    // Other threads submitting at the same time are serialized too.
    std::vector<std::thread> threads;
    std::atomic<int> runs = 0;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 50; ++i)
                database
                    .read([&](SQLiteConnection&) {
                        if (active.fetch_add(1) != 0)
                            overlapped = true;
                        ++runs;
                        active.fetch_sub(1);
                    })
                    .waitForFinished();
        });
    for (std::thread& thread : threads)
        thread.join();
    for (QFuture<void>& future : futures)
        future.waitForFinished();
    EXPECT_FALSE(overlapped);
    EXPECT_EQ(runs, 200);
    ASSERT_EQ(order.size(), 200u);
    for (int i = 0; i < 200; ++i)
        EXPECT_EQ(order[size_t(i)], i);
}

TEST(SQLiteDatabaseTest, NestedUseOfTheSameStatementWorks) {
    SQLiteDatabase database(SQLiteDatabase::InMemory{});
    resultOf(database.write([](SQLiteConnection& db) {
        db.executeScript("CREATE TABLE t (x INTEGER); INSERT INTO t VALUES (1); INSERT INTO t VALUES (2);");
        SQLiteStatement outer = db.prepare("SELECT x FROM t ORDER BY x");
        QList<QByteArray> seen;
        while (outer.step())
            seen += db.blobs("SELECT x FROM t ORDER BY x");
        EXPECT_EQ(seen, (QList<QByteArray>{"1", "2", "1", "2"}));
    }));
}

TEST(SQLiteDatabaseTest, MigrationsRunOnceInOrderAndAreRecorded) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("db.sqlite"));
    QStringList applied;
    const QList<SQLiteMigration> migrations{
        {QStringLiteral("one"), [&](SQLiteConnection& db) { applied << "one", db.execute("CREATE TABLE a (x)"); }},
        {QStringLiteral("two"), [&](SQLiteConnection& db) { applied << "two", db.execute("CREATE TABLE b (x)"); }},
    };
    {
        SQLiteDatabase database(path);
        database.migrate(migrations);
    }
    SQLiteDatabase database(path);
    database.migrate(migrations);
    EXPECT_EQ(applied, (QStringList{"one", "two"}));
    EXPECT_EQ(resultOf(database.read([](SQLiteConnection& db) {
                  return db.blobs(std::string("SELECT identifier FROM ") + SQLiteDatabase::kMigrationTable);
              })),
              (QList<QByteArray>{"one", "two"}));
}

TEST(SQLiteDatabaseTest, AFailingMigrationLeavesNothingOfItselfBehind) {
    SQLiteDatabase database(SQLiteDatabase::InMemory{});
    const QList<SQLiteMigration> migrations{
        {QStringLiteral("one"), [](SQLiteConnection& db) { db.execute("CREATE TABLE a (x)"); }},
        {QStringLiteral("two"),
         [](SQLiteConnection& db) {
             db.execute("CREATE TABLE b (x)");
             db.execute("CREATE TABLE a (x)");
         }},
    };
    try {
        database.migrate(migrations);
        FAIL();
    } catch (const PlatformError& error) {
        EXPECT_EQ(error.description(), QStringLiteral("table a already exists"));
    }
    EXPECT_EQ(resultOf(database.read([](SQLiteConnection& db) {
                  return db.blobs("SELECT name FROM sqlite_master WHERE type = 'table' ORDER BY name");
              })),
              (QList<QByteArray>{"a", SQLiteDatabase::kMigrationTable}));
}
