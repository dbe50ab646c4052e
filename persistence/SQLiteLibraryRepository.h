#pragma once

#include "persistence/LibraryRepository.h"
#include "persistence/SQLiteDatabase.h"

/// The library repository on one SQLite database file (or a private in-memory database).
///
/// All operations, their validation included, run one at a time on the database's serialized
/// connection, so concurrent callers never see each other's partial work. The object owns its
/// connection for its whole life; destroying it finishes the operations already issued.
class SQLiteLibraryRepository : public LibraryRepository {
public:
    /// Opens the library file at `path` (creating it and its missing parent folders) and creates the
    /// schema on first use. Throws whatever fails on the way (PlatformError), and then no repository
    /// exists.
    explicit SQLiteLibraryRepository(const QString& path);

    struct InMemory {
        bool enabled = true;
    };
    /// A private in-memory library. With `enabled` false: QuendaError::invalidContent("Specifica un
    /// percorso per salvare la libreria.").
    explicit SQLiteLibraryRepository(InMemory inMemory);

    QFuture<LibrarySnapshot> load() override;
    QFuture<void> saveDeck(const Deck& deck) override;
    QFuture<void> saveNote(const Note& note, const QList<Flashcard>& cards) override;
    QFuture<void> deleteDeck(const Uuid& id) override;
    QFuture<void> deleteNote(const Uuid& id) override;
    QFuture<void> setSuspended(const QList<Uuid>& cardIDs, bool suspended) override;
    QFuture<void> recordReview(const ReviewEvent& event) override;
    QFuture<std::optional<ReviewEvent>> undoLastReview(Instant now) override;
    QFuture<void> savePreferences(const StudyPreferences& preferences) override;
    QFuture<void> importLibrary(const LibrarySnapshot& snapshot, bool replace) override;

    /// The connection, for tests and tools that inspect the rows.
    SQLiteDatabase& database() { return m_database; }

private:
    SQLiteDatabase m_database;
};
