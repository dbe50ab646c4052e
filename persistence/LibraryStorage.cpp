#include "persistence/LibraryStorage.h"

#include "core/RecordJson.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdint>
#include <string>

namespace LibraryStorage {

const char* const kSchema = R"(CREATE TABLE metadata (key TEXT PRIMARY KEY NOT NULL, value BLOB NOT NULL);
CREATE TABLE decks (id TEXT PRIMARY KEY NOT NULL, createdAt REAL NOT NULL, payload BLOB NOT NULL);
CREATE TABLE notes (
    id TEXT PRIMARY KEY NOT NULL,
    deckID TEXT NOT NULL REFERENCES decks(id) ON DELETE CASCADE,
    updatedAt REAL NOT NULL,
    payload BLOB NOT NULL
);
CREATE TABLE cards (
    id TEXT PRIMARY KEY NOT NULL,
    noteID TEXT NOT NULL REFERENCES notes(id) ON DELETE CASCADE,
    deckID TEXT NOT NULL REFERENCES decks(id) ON DELETE CASCADE,
    ordinal INTEGER NOT NULL,
    due REAL NOT NULL,
    stage INTEGER NOT NULL,
    isSuspended INTEGER NOT NULL,
    payload BLOB NOT NULL,
    UNIQUE(noteID, ordinal)
);
CREATE TABLE reviews (
    id TEXT PRIMARY KEY NOT NULL,
    cardID TEXT NOT NULL REFERENCES cards(id) ON DELETE CASCADE,
    reviewedAt REAL NOT NULL,
    undoneAt REAL,
    payload BLOB NOT NULL
);
CREATE INDEX notes_by_deck ON notes(deckID, updatedAt DESC);
CREATE INDEX cards_due ON cards(deckID, isSuspended, due);
CREATE INDEX cards_by_note ON cards(noteID);
CREATE INDEX reviews_by_card ON reviews(cardID, reviewedAt);
)";

namespace {

// Each access runs on the database's one worker thread, so one decoder per thread is reused by every
// helper there: its parser buffers grow once instead of being set up for every payload.
RecordJsonDecoder& decoder() {
    thread_local RecordJsonDecoder instance;
    return instance;
}

template <typename T>
T decoded(QByteArrayView json) {
    return decoder().decode<T>(json, JsonForm::database);
}

// A list of a million records is a few hundred megabytes of fresh memory; faulting it in by huge pages
// instead of 4 KiB pages saves a noticeable part of the load.
void adviseHugePages(void* data, qsizetype bytes) {
    constexpr std::uintptr_t hugePage = 2 * 1024 * 1024;
    if (bytes < qsizetype(4 * hugePage))
        return;
    const std::uintptr_t begin = (reinterpret_cast<std::uintptr_t>(data) + hugePage - 1) & ~(hugePage - 1);
    const std::uintptr_t end = (reinterpret_cast<std::uintptr_t>(data) + std::uintptr_t(bytes)) & ~(hugePage - 1);
    if (end > begin)
        madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE); // only advice: failure is harmless
}

template <typename T>
SQLiteValue payload(const T& record) {
    return SQLiteValue::blob(RecordJson::encode(record, JsonForm::database));
}

} // namespace

SQLiteValue idValue(const Uuid& id) {
    QByteArray text(36, Qt::Uninitialized);
    id.writeCanonical(text.data());
    return SQLiteValue::text(std::move(text));
}

SQLiteMigration libraryMigration() {
    return {QStringLiteral("v1-library"), [](SQLiteConnection& db) {
                db.executeScript(kSchema);
                setMetadata(Uuid::createRandom(), "libraryID", db);
                setMetadata(StudyPreferences{.dailyNewLimit = 10, .desiredRetention = 0.9}, "preferences", db);
            }};
}

template <typename T>
T metadata(const char* key, SQLiteConnection& db) {
    SQLiteStatement statement = db.prepare("SELECT value FROM metadata WHERE key = ?");
    statement.bind({key});
    if (!statement.step())
        throw QuendaError::invalidContent(QStringLiteral("La libreria non contiene i metadati necessari."));
    return decoded<T>(statement.blob(0));
}

template <typename T>
void setMetadata(const T& value, const char* key, SQLiteConnection& db) {
    db.execute("INSERT INTO metadata (key, value) VALUES (?, ?) ON CONFLICT(key) DO UPDATE SET value = excluded.value",
               {key, SQLiteValue::blob(RecordJson::encode(value, JsonForm::database))});
}

template <typename T>
QList<T> all(const char* table, const char* order, SQLiteConnection& db) {
    QList<T> records;
    // Growing a list of a million records by doubling copies each of them several times; the largest
    // rowid (found in the table's b-tree without a scan) bounds the row count well enough to reserve.
    const std::optional<QByteArray> largestRowID = db.blob(std::string("SELECT max(rowid) FROM ") + table);
    if (largestRowID) {
        records.reserve(qsizetype(std::min(largestRowID->toLongLong(), 50'000'000LL)));
        adviseHugePages(records.data(), records.capacity() * qsizetype(sizeof(T)));
    }
    SQLiteStatement statement = db.prepare(std::string("SELECT payload FROM ") + table + " ORDER BY " + order);
    while (statement.step())
        records.append(decoded<T>(statement.blob(0)));
    return records;
}

template Uuid metadata<Uuid>(const char*, SQLiteConnection&);
template StudyPreferences metadata<StudyPreferences>(const char*, SQLiteConnection&);
template void setMetadata<Uuid>(const Uuid&, const char*, SQLiteConnection&);
template void setMetadata<StudyPreferences>(const StudyPreferences&, const char*, SQLiteConnection&);
template QList<Deck> all<Deck>(const char*, const char*, SQLiteConnection&);
template QList<Note> all<Note>(const char*, const char*, SQLiteConnection&);
template QList<Flashcard> all<Flashcard>(const char*, const char*, SQLiteConnection&);
template QList<ReviewEvent> all<ReviewEvent>(const char*, const char*, SQLiteConnection&);

bool exists(const Uuid& id, const char* table, SQLiteConnection& db) {
    return db.boolean(std::string("SELECT EXISTS (SELECT 1 FROM ") + table + " WHERE id = ?)", {idValue(id)})
        .value_or(false);
}

std::optional<Flashcard> card(const Uuid& id, SQLiteConnection& db) {
    SQLiteStatement statement = db.prepare("SELECT payload FROM cards WHERE id = ?");
    statement.bind({idValue(id)});
    if (!statement.step())
        return std::nullopt;
    return decoded<Flashcard>(statement.blob(0));
}

QList<Flashcard> cards(const Uuid& noteID, SQLiteConnection& db) {
    SQLiteStatement statement = db.prepare("SELECT payload FROM cards WHERE noteID = ?");
    statement.bind({idValue(noteID)});
    QList<Flashcard> result;
    while (statement.step())
        result.append(decoded<Flashcard>(statement.blob(0)));
    return result;
}

void save(const Deck& deck, SQLiteConnection& db) {
    db.execute("INSERT INTO decks (id, createdAt, payload) VALUES (?, ?, ?) ON CONFLICT(id) DO UPDATE SET "
               "createdAt = excluded.createdAt, payload = excluded.payload",
               {idValue(deck.id), dateValue(deck.createdAt), payload(deck)});
}

void save(const Note& note, SQLiteConnection& db) {
    db.execute("INSERT INTO notes (id, deckID, updatedAt, payload) VALUES (?, ?, ?, ?) ON CONFLICT(id) DO UPDATE "
               "SET deckID = excluded.deckID, updatedAt = excluded.updatedAt, payload = excluded.payload",
               {idValue(note.id), idValue(note.deckID), dateValue(note.updatedAt), payload(note)});
}

void save(const Flashcard& card, SQLiteConnection& db) {
    db.execute("INSERT INTO cards (id, noteID, deckID, ordinal, due, stage, isSuspended, payload) VALUES (?, ?, ?, "
               "?, ?, ?, ?, ?)\n"
               "ON CONFLICT(id) DO UPDATE SET noteID = excluded.noteID, deckID = excluded.deckID,\n"
               "ordinal = excluded.ordinal, due = excluded.due, stage = excluded.stage,\n"
               "isSuspended = excluded.isSuspended, payload = excluded.payload",
               {idValue(card.id), idValue(card.noteID), idValue(card.deckID), card.ordinal,
                dateValue(card.memory.due), std::int64_t(card.memory.stage), card.isSuspended, payload(card)});
}

void insert(const ReviewEvent& review, SQLiteConnection& db) {
    db.execute("INSERT INTO reviews (id, cardID, reviewedAt, undoneAt, payload) VALUES (?, ?, ?, ?, ?)",
               {idValue(review.id), idValue(review.cardID), dateValue(review.reviewedAt),
                review.undoneAt ? dateValue(*review.undoneAt) : SQLiteValue(nullptr), payload(review)});
}

LibrarySnapshot load(SQLiteConnection& db) {
    LibrarySnapshot snapshot;
    snapshot.libraryID = metadata<Uuid>("libraryID", db);
    snapshot.decks = all<Deck>("decks", "createdAt, id", db);
    snapshot.notes = all<Note>("notes", "updatedAt DESC, id", db);
    snapshot.cards = all<Flashcard>("cards", "noteID, ordinal, id", db);
    snapshot.reviews = all<ReviewEvent>("reviews", "rowid", db);
    snapshot.preferences = metadata<StudyPreferences>("preferences", db);
    return snapshot;
}

} // namespace LibraryStorage
