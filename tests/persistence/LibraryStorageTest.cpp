#include "persistence/LibraryStorage.h"
#include "persistence/SQLiteLibraryRepository.h"

#include "LibraryFixtures.h"

#include "core/JsonError.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

using namespace Fixtures;

namespace {

template <typename T> T await(QFuture<T> future) {
    if constexpr (std::is_void_v<T>)
        future.waitForFinished();
    else
        return future.result();
}

QString text(const QByteArray& bytes) {
    return QString::fromUtf8(bytes);
}

const QString kMissingMetadata = QStringLiteral("La libreria non contiene i metadati necessari.");

} // namespace

TEST(LibraryStorageTest, NewFileInMissingFoldersIsAnEmptyLibraryWithDefaults) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("x/y/library.sqlite"));
    SQLiteLibraryRepository repository(path);
    EXPECT_TRUE(QFile::exists(path));
    const LibrarySnapshot library = await(repository.load());
    EXPECT_FALSE(library.libraryID.isNull());
    EXPECT_TRUE(library.decks.isEmpty() && library.notes.isEmpty() && library.cards.isEmpty() &&
                library.reviews.isEmpty());
    EXPECT_EQ(library.preferences, (StudyPreferences{.dailyNewLimit = 10, .desiredRetention = 0.9}));
    await(repository.database().read([](SQLiteConnection& db) {
        EXPECT_EQ(db.blobs("SELECT key FROM metadata ORDER BY key"), (QList<QByteArray>{"libraryID", "preferences"}));
        EXPECT_EQ(db.blobs(std::string("SELECT identifier FROM ") + SQLiteDatabase::kMigrationTable),
                  QList<QByteArray>{"v1-library"});
    }));
}

TEST(LibraryStorageTest, ReopeningKeepsTheLibraryIdentity) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("library.sqlite"));
    Uuid first;
    {
        SQLiteLibraryRepository repository(path);
        first = await(repository.load()).libraryID;
    }
    SQLiteLibraryRepository repository(path);
    EXPECT_EQ(await(repository.load()).libraryID, first);
}

TEST(LibraryStorageTest, SchemaIsWrittenAsDocumented) {
    SQLiteLibraryRepository repository(SQLiteLibraryRepository::InMemory{});
    await(repository.database().read([](SQLiteConnection& db) {
        auto sql = [&](const char* name) {
            return text(db.blob("SELECT sql FROM sqlite_master WHERE name = ?", {name}).value_or("absent"));
        };
        EXPECT_EQ(sql("metadata"), "CREATE TABLE metadata (key TEXT PRIMARY KEY NOT NULL, value BLOB NOT NULL)");
        EXPECT_EQ(sql("decks"),
                  "CREATE TABLE decks (id TEXT PRIMARY KEY NOT NULL, createdAt REAL NOT NULL, payload BLOB NOT NULL)");
        EXPECT_EQ(sql("cards_due"), "CREATE INDEX cards_due ON cards(deckID, isSuspended, due)");
        EXPECT_EQ(sql("notes_by_deck"), "CREATE INDEX notes_by_deck ON notes(deckID, updatedAt DESC)");
        EXPECT_EQ(sql("cards_by_note"), "CREATE INDEX cards_by_note ON cards(noteID)");
        EXPECT_EQ(sql("reviews_by_card"), "CREATE INDEX reviews_by_card ON reviews(cardID, reviewedAt)");
        EXPECT_EQ(sql("notes"), "CREATE TABLE notes (\n"
                                "    id TEXT PRIMARY KEY NOT NULL,\n"
                                "    deckID TEXT NOT NULL REFERENCES decks(id) ON DELETE CASCADE,\n"
                                "    updatedAt REAL NOT NULL,\n"
                                "    payload BLOB NOT NULL\n"
                                ")");
        EXPECT_EQ(db.blobs("SELECT name FROM pragma_table_info('cards') ORDER BY cid"),
                  (QList<QByteArray>{"id", "noteID", "deckID", "ordinal", "due", "stage", "isSuspended", "payload"}));
        EXPECT_EQ(db.blobs("SELECT name FROM pragma_table_info('reviews') ORDER BY cid"),
                  (QList<QByteArray>{"id", "cardID", "reviewedAt", "undoneAt", "payload"}));
    }));
}

TEST(LibraryStorageTest, CopiedColumnsHoldCanonicalIdentifiersUnixSecondsAndStageNumbers) {
    SQLiteLibraryRepository repository(SQLiteLibraryRepository::InMemory{});
    const Note n = note();
    Flashcard c = card(n);
    c.memory = reviewedMemory(1'700'100'000.25);
    c.isSuspended = true;
    ReviewEvent r = review(c);
    r.undoneAt = at(1'700'000'900.5);
    await(repository.database().write([&](SQLiteConnection& db) {
        LibraryStorage::save(deck(), db);
        LibraryStorage::save(n, db);
        LibraryStorage::save(c, db);
        LibraryStorage::insert(r, db);
        SQLiteStatement row = db.prepare("SELECT id, noteID, deckID, ordinal, due, stage, isSuspended FROM cards");
        ASSERT_TRUE(row.step());
        EXPECT_EQ(text(row.blob(0).toByteArray()), c.id.toString());
        EXPECT_EQ(text(row.blob(1).toByteArray()), n.id.toString());
        EXPECT_EQ(text(row.blob(2).toByteArray()), n.deckID.toString());
        EXPECT_EQ(row.integer(3), 0);
        EXPECT_EQ(row.real(4), 1'700'100'000.25);
        EXPECT_EQ(row.integer(5), 2);
        EXPECT_EQ(row.integer(6), 1);
        SQLiteStatement review = db.prepare("SELECT reviewedAt, undoneAt FROM reviews");
        ASSERT_TRUE(review.step());
        EXPECT_EQ(review.real(0), 1'700'000'500);
        EXPECT_EQ(review.real(1), 1'700'000'900.5);
        // Lookups use the upper-case spelling only.
        EXPECT_TRUE(LibraryStorage::exists(c.id, "cards", db));
        EXPECT_EQ(db.boolean("SELECT EXISTS (SELECT 1 FROM cards WHERE id = ?)", {c.id.toString().toLower()}), false);
        EXPECT_EQ(LibraryStorage::card(c.id, db), c);
        EXPECT_EQ(LibraryStorage::card(id(0xC0, 99), db), std::nullopt);
    }));
}

TEST(LibraryStorageTest, LoadReturnsTheDocumentedOrders) {
    SQLiteLibraryRepository repository(SQLiteLibraryRepository::InMemory{});
    const Instant sameTime = at(1'700'000'000);
    const Deck later = deck(1, at(1'700'000'500));
    const Deck tieB = deck(3, sameTime);
    const Deck tieA = deck(2, sameTime);
    const Note older = note(1, tieA.id, at(1'700'000'100));
    const Note newer = note(2, tieA.id, at(1'700'000'200));
    const Flashcard newerSecond = card(newer, 1, 10);
    const Flashcard newerFirst = card(newer, 0, 20);
    const Flashcard olderOnly = card(older, 0, 30);
    ReviewEvent first = review(newerFirst, 2);
    ReviewEvent second = review(olderOnly, 1);
    second.undoneAt = at(1'700'000'800);
    await(repository.database().write([&](SQLiteConnection& db) {
        for (const Deck& d : {later, tieB, tieA})
            LibraryStorage::save(d, db);
        for (const Note& n : {older, newer})
            LibraryStorage::save(n, db);
        for (const Flashcard& c : {newerSecond, olderOnly, newerFirst})
            LibraryStorage::save(c, db);
        LibraryStorage::insert(first, db);
        LibraryStorage::insert(second, db);
    }));
    const LibrarySnapshot library = await(repository.load());
    EXPECT_EQ(library.decks, (QList<Deck>{tieA, tieB, later}));
    EXPECT_EQ(library.notes, (QList<Note>{newer, older}));
    // Grouped by note identifier text (older's id sorts first), then by ordinal.
    EXPECT_EQ(library.cards, (QList<Flashcard>{olderOnly, newerFirst, newerSecond}));
    EXPECT_EQ(library.reviews, (QList<ReviewEvent>{first, second}));
}

TEST(LibraryStorageTest, MissingMetadataFailsTheLoadLibraryIDFirst) {
    struct Case {
        const char* name;
        const char* sabotage;
    };
    const Case cases[] = {
        {"no preferences", "DELETE FROM metadata WHERE key = 'preferences'"},
        {"no identity", "DELETE FROM metadata WHERE key = 'libraryID'"},
        // The identity is checked before any table is read, so a broken deck payload is not reached.
        {"no identity and a broken deck",
         "DELETE FROM metadata WHERE key = 'libraryID'; INSERT INTO decks VALUES ('X', 0, x'7B')"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SQLiteLibraryRepository repository(SQLiteLibraryRepository::InMemory{});
        await(repository.database().write([&](SQLiteConnection& db) { db.executeScript(c.sabotage); }));
        try {
            await(repository.load());
            ADD_FAILURE() << "loaded";
        } catch (const QuendaError& error) {
            EXPECT_EQ(error, QuendaError::invalidContent(kMissingMetadata));
        }
    }
}

TEST(LibraryStorageTest, AnUndecodablePayloadFailsTheLoadWithTheDecodersError) {
    SQLiteLibraryRepository repository(SQLiteLibraryRepository::InMemory{});
    await(repository.saveDeck(deck()));
    await(repository.database().write([](SQLiteConnection& db) { db.execute("UPDATE decks SET payload = x'7B7D'"); }));
    EXPECT_THROW(await(repository.load()), JsonError);
}

TEST(LibraryStorageTest, DeletingADeckRowRemovesEverythingThatDependsOnIt) {
    SQLiteLibraryRepository repository(SQLiteLibraryRepository::InMemory{});
    await(repository.importLibrary(snapshot(), true));
    await(repository.saveDeck(deck(1)));
    await(repository.database().write([](SQLiteConnection& db) {
        db.execute("DELETE FROM decks WHERE id = ?", {LibraryStorage::idValue(id(0xD0, 0))});
    }));
    const LibrarySnapshot library = await(repository.load());
    EXPECT_EQ(library.decks, QList<Deck>{deck(1)});
    EXPECT_TRUE(library.notes.isEmpty() && library.cards.isEmpty() && library.reviews.isEmpty());
}

TEST(LibraryStorageTest, CardSavesAreUpsertsAndOrdinalsStayUniquePerNote) {
    SQLiteLibraryRepository repository(SQLiteLibraryRepository::InMemory{});
    const Note n = note();
    Flashcard c = card(n, 0);
    await(repository.database().write([&](SQLiteConnection& db) {
        LibraryStorage::save(deck(), db);
        LibraryStorage::save(n, db);
        LibraryStorage::save(c, db);
        c.ordinal = 1;
        LibraryStorage::save(c, db);
        EXPECT_EQ(LibraryStorage::cards(n.id, db), QList<Flashcard>{c});
        Flashcard other = card(n, 1, 7);
        try {
            LibraryStorage::save(other, db);
            ADD_FAILURE() << "second card with the same note and ordinal";
        } catch (const PlatformError& error) {
            EXPECT_EQ(error.description(), QStringLiteral("UNIQUE constraint failed: cards.noteID, cards.ordinal"));
        }
    }));
}

TEST(LibraryStorageTest, OpeningFailuresReachTheCaller) {
    try {
        SQLiteLibraryRepository repository(SQLiteLibraryRepository::InMemory{false});
        FAIL();
    } catch (const QuendaError& error) {
        EXPECT_EQ(error, QuendaError::invalidContent(QStringLiteral("Specifica un percorso per salvare la libreria.")));
    }
    QTemporaryDir dir;
    QFile blocker(dir.filePath(QStringLiteral("file")));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    EXPECT_THROW(SQLiteLibraryRepository(dir.filePath(QStringLiteral("file/library.sqlite"))), PlatformError);
}

TEST(LibraryStorageTest, LargeTablesLoadInOrderWithMoreRowsThanTheLargestRowID) {
    // Large enough for the two-thread decoding; rows with negative rowids (written by hand here) make the
    // table hold more rows than its largest rowid promises.
    SQLiteLibraryRepository repository(SQLiteLibraryRepository::InMemory{});
    LibrarySnapshot library{.libraryID = id(0xF0)};
    for (int i = 0; i < 60'000; ++i) {
        Deck d = deck(0, at(1'700'000'000 + (i * 7919) % 60'000));
        d.id = Uuid::createRandom();
        library.decks.append(d);
    }
    await(repository.importLibrary(library, true));
    await(repository.database().write([](SQLiteConnection& db) {
        db.execute("INSERT INTO decks (rowid, id, createdAt, payload) "
                   "SELECT -rowid, id || '-copy', createdAt + 1e9, payload FROM decks WHERE rowid <= 3");
    }));
    QList<Deck> expected = library.decks;
    std::sort(expected.begin(), expected.end(),
              [](const Deck& a, const Deck& b) { return std::tie(a.createdAt, a.id) < std::tie(b.createdAt, b.id); });
    expected += library.decks.mid(0, 3);
    EXPECT_EQ(await(repository.load()).decks, expected);

    await(repository.database().write(
        [](SQLiteConnection& db) { db.execute("UPDATE decks SET payload = x'7B' WHERE rowid IN (40000, 50000)"); }));
    EXPECT_THROW(await(repository.load()), JsonError);
}
