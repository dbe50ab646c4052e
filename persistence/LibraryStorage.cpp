#include "persistence/LibraryStorage.h"

#include "core/RecordJson.h"

#include <sys/mman.h>

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <limits>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

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

template <typename T> T decoded(QByteArrayView json) {
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

template <typename T> SQLiteValue payload(const T& record) {
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

template <typename T> T metadata(const char* key, SQLiteConnection& db) {
    SQLiteStatement statement = db.prepare("SELECT value FROM metadata WHERE key = ?");
    statement.bind({key});
    if (!statement.step())
        throw QuendaError::invalidContent(QStringLiteral("La libreria non contiene i metadati necessari."));
    return decoded<T>(statement.blob(0));
}

template <typename T> void setMetadata(const T& value, const char* key, SQLiteConnection& db) {
    db.execute("INSERT INTO metadata (key, value) VALUES (?, ?) ON CONFLICT(key) DO UPDATE SET value = excluded.value",
               {key, SQLiteValue::blob(RecordJson::encode(value, JsonForm::database))});
}

/// Decodes the payloads of `statement` into `destination` (room for `capacity` records) with a helper thread:
/// this thread steps through the rows and copies payloads into batches, both threads decode batches
/// into their rows' slots. Reading the library's largest table is half database work, half decoding,
/// so two cores nearly halve it. Gives the number of rows; rows beyond `capacity` go to `overflow`.
/// The first undecodable payload (in row order) is rethrown once both threads are done.
template <typename T>
qsizetype decodeInParallel(SQLiteStatement& statement, T* destination, qsizetype capacity, QList<T>& overflow) {
    constexpr size_t kBatchRows = 1024;
    struct Batch {
        qsizetype firstRow = 0;
        std::vector<char> bytes;
        std::vector<size_t> ends;
    };
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<Batch> pending;
    std::vector<Batch> spare;
    bool finished = false;
    std::exception_ptr error;
    qsizetype errorRow = std::numeric_limits<qsizetype>::max();

    auto decodeBatch = [&](Batch& batch) {
        size_t start = 0;
        for (size_t i = 0; i < batch.ends.size(); ++i) {
            const qsizetype row = batch.firstRow + qsizetype(i);
            try {
                destination[row] =
                    decoded<T>(QByteArrayView(batch.bytes.data() + start, qsizetype(batch.ends[i] - start)));
            } catch (...) {
                std::lock_guard lock(mutex);
                if (row < errorRow) {
                    errorRow = row;
                    error = std::current_exception();
                }
                return;
            }
            start = batch.ends[i];
        }
    };
    // Takes the oldest batch and decodes it; false when there is none.
    auto decodeNext = [&](std::unique_lock<std::mutex>& lock) {
        if (pending.empty())
            return false;
        Batch batch = std::move(pending.front());
        pending.pop_front();
        lock.unlock();
        decodeBatch(batch);
        lock.lock();
        batch.bytes.clear();
        batch.ends.clear();
        spare.push_back(std::move(batch));
        return true;
    };
    std::thread helper([&] {
        std::unique_lock lock(mutex);
        for (;;) {
            wake.wait(lock, [&] { return finished || !pending.empty(); });
            if (!decodeNext(lock) && finished)
                return;
        }
    });
    auto stopHelper = [&] {
        {
            std::lock_guard lock(mutex);
            finished = true;
        }
        wake.notify_all();
        helper.join();
    };

    qsizetype rows = 0;
    try {
        Batch batch;
        auto submit = [&] {
            std::unique_lock lock(mutex);
            pending.push_back(std::move(batch));
            wake.notify_one();
            // With a backlog this thread decodes too, so neither side waits for the other for long.
            while (pending.size() > 2)
                decodeNext(lock);
            batch = spare.empty() ? Batch{} : std::move(spare.back());
            if (!spare.empty())
                spare.pop_back();
        };
        while (statement.step()) {
            const QByteArrayView payload = statement.blob(0);
            if (rows >= capacity) {
                overflow.append(decoded<T>(payload));
                ++rows;
                continue;
            }
            if (batch.ends.empty())
                batch.firstRow = rows;
            batch.bytes.insert(batch.bytes.end(), payload.begin(), payload.end());
            batch.ends.push_back(batch.bytes.size());
            ++rows;
            if (batch.ends.size() == kBatchRows)
                submit();
        }
        if (!batch.ends.empty())
            submit();
        std::unique_lock lock(mutex);
        while (decodeNext(lock)) {
        }
    } catch (...) {
        stopHelper();
        throw;
    }
    stopHelper();
    if (error)
        std::rethrow_exception(error);
    return rows;
}

template <typename T> QList<T> all(const char* table, const char* order, SQLiteConnection& db) {
    QList<T> records;
    // Growing a list of a million records by doubling copies each of them several times; the largest
    // rowid (found in the table's b-tree without a scan) bounds the row count well enough to reserve.
    const std::optional<QByteArray> largestRowID = db.blob(std::string("SELECT max(rowid) FROM ") + table);
    const qsizetype capacity = qsizetype(std::clamp(largestRowID.value_or("0").toLongLong(), 0LL, 50'000'000LL));
    records.reserve(capacity);
    adviseHugePages(records.data(), records.capacity() * qsizetype(sizeof(T)));
    SQLiteStatement statement = db.prepare(std::string("SELECT payload FROM ") + table + " ORDER BY " + order);
    constexpr qsizetype kParallelFrom = 50'000;
    if (capacity < kParallelFrom) {
        while (statement.step())
            records.append(decoded<T>(statement.blob(0)));
        return records;
    }
    records.resize(capacity);
    QList<T> overflow;
    const qsizetype rows = decodeInParallel(statement, records.data(), capacity, overflow);
    records.resize(std::min(rows, capacity));
    records.append(std::move(overflow));
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
               {idValue(card.id), idValue(card.noteID), idValue(card.deckID), card.ordinal, dateValue(card.memory.due),
                std::int64_t(card.memory.stage), card.isSuspended, payload(card)});
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
