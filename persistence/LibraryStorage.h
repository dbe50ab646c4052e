#pragma once

#include "core/LibraryRecords.h"
#include "persistence/SQLiteDatabase.h"

#include <optional>

/// The library's tables and the row-level helpers the repository operations are built from. Every
/// record is stored as its database JSON form in a `payload` column, next to a few columns copied out of
/// it for keys, sorting and indexes; those copies are rewritten on every save and never read back.
///
/// The helpers keep no state. Each takes the connection of the current access (so they run on the
/// database's worker thread) and runs its statement (`all` first asks the table's largest rowid, to size
/// its list). They throw PlatformError when a
/// statement fails and JsonError (a PlatformError) when a payload cannot be encoded or decoded.
namespace LibraryStorage {

/// The script creating the tables and indexes, run as one batch by the "v1-library" migration.
extern const char* const kSchema;

/// The one migration of the library: the schema, a fresh random "libraryID" and the default preferences.
SQLiteMigration libraryMigration();

/// The JSON stored under `key` in `metadata`, decoded. No row: QuendaError::invalidContent("La libreria
/// non contiene i metadati necessari.").
template <typename T> T metadata(const char* key, SQLiteConnection& db);
/// Creates or replaces the JSON of `value` under `key`.
template <typename T> void setMetadata(const T& value, const char* key, SQLiteConnection& db);

/// Every payload of `table` in the given order, decoded; the first undecodable payload fails the call.
template <typename T> QList<T> all(const char* table, const char* order, SQLiteConnection& db);

/// Whether `table` has a row with the identifier `id` (spelled canonically, upper case).
bool exists(const Uuid& id, const char* table, SQLiteConnection& db);

/// The stored card, or nothing.
std::optional<Flashcard> card(const Uuid& id, SQLiteConnection& db);
/// The stored cards of a note, in no particular order.
QList<Flashcard> cards(const Uuid& noteID, SQLiteConnection& db);

/// Upserts keyed on `id`: every column takes the record's value.
void save(const Deck& deck, SQLiteConnection& db);
void save(const Note& note, SQLiteConnection& db);
void save(const Flashcard& card, SQLiteConnection& db);
/// A plain insert: an identifier already stored fails on the primary key.
void insert(const ReviewEvent& review, SQLiteConnection& db);

/// The identifier's canonical upper-case text, as bound in every statement.
SQLiteValue idValue(const Uuid& id);
/// A date as bound in columns: seconds since 1970.
inline SQLiteValue dateValue(Instant date) {
    return SQLiteValue(date.unixSeconds());
}

/// The whole library, as one read: identity, decks by creation, notes most recently updated first,
/// cards by note and ordinal, reviews in insertion order, preferences. Does not validate.
LibrarySnapshot load(SQLiteConnection& db);

} // namespace LibraryStorage
