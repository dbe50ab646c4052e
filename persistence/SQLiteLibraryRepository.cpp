#include "persistence/SQLiteLibraryRepository.h"

#include "core/RecordJson.h"
#include "persistence/LibraryStorage.h"
#include "persistence/LibraryValidation.h"

#include <QHash>
#include <QSet>

#include <chrono>

using namespace LibraryStorage;

namespace {

[[noreturn]] void refuse(const char16_t* message) {
    throw QuendaError::invalidContent(QString::fromUtf16(message));
}

SQLiteDatabase::InMemory requireInMemory(SQLiteLibraryRepository::InMemory inMemory) {
    if (!inMemory.enabled)
        refuse(u"Specifica un percorso per salvare la libreria.");
    return {};
}

Instant currentTime() {
    const auto sinceEpoch = std::chrono::system_clock::now().time_since_epoch();
    return Instant::fromUnixSeconds(std::chrono::duration<double>(sinceEpoch).count());
}

void replaceLibrary(const LibrarySnapshot& snapshot, SQLiteConnection& db) {
    db.execute("DELETE FROM decks"); // notes, cards and reviews follow by cascade; metadata stays
    for (const Deck& deck : snapshot.decks)
        save(deck, db);
    for (const Note& note : snapshot.notes)
        save(note, db);
    for (const Flashcard& card : snapshot.cards)
        save(card, db);
    for (const ReviewEvent& review : snapshot.reviews)
        insert(review, db);
    setMetadata(snapshot.libraryID, "libraryID", db);
    setMetadata(snapshot.preferences, "preferences", db);
}

/// Adds what the library lacks: stored decks and notes win over the snapshot's, the cards of new notes
/// start fresh, reviews and metadata are left out.
void mergeLibrary(const LibrarySnapshot& snapshot, SQLiteConnection& db) {
    for (const Deck& deck : snapshot.decks) {
        if (!exists(deck.id, "decks", db))
            save(deck, db);
    }
    QSet<Uuid> addedNotes;
    for (const Note& note : snapshot.notes) {
        if (exists(note.id, "notes", db))
            continue;
        save(note, db);
        addedNotes.insert(note.id);
    }
    const Instant now = currentTime();
    for (const Flashcard& card : snapshot.cards) {
        if (!addedNotes.contains(card.noteID))
            continue;
        if (exists(card.id, "cards", db))
            refuse(u"Una carta importata usa un identificativo già presente.");
        Flashcard fresh = card;
        fresh.memory = MemoryState::newCard(now);
        fresh.isSuspended = false;
        save(fresh, db);
    }
}

} // namespace

SQLiteLibraryRepository::SQLiteLibraryRepository(const QString& path) : m_database(path) {
    m_database.migrate({libraryMigration()});
}

SQLiteLibraryRepository::SQLiteLibraryRepository(InMemory inMemory) : m_database(requireInMemory(inMemory)) {
    m_database.migrate({libraryMigration()});
}

QFuture<LibrarySnapshot> SQLiteLibraryRepository::load() {
    return m_database.read([](SQLiteConnection& db) { return LibraryStorage::load(db); });
}

QFuture<void> SQLiteLibraryRepository::saveDeck(const Deck& deck) {
    return m_database.access([deck](SQLiteConnection& db) {
        LibraryValidation::deck(deck);
        db.transaction([&] { save(deck, db); });
    });
}

QFuture<void> SQLiteLibraryRepository::saveNote(const Note& note, const QList<Flashcard>& cards) {
    return m_database.access([note, cards](SQLiteConnection& db) {
        LibraryValidation::note(note);
        LibraryValidation::cards(cards, note);
        db.transaction([&] {
            if (!exists(note.deckID, "decks", db))
                throw QuendaError::missingRecord();
            QHash<std::int64_t, Flashcard> storedByOrdinal;
            const QList<Flashcard> stored = LibraryStorage::cards(note.id, db);
            for (const Flashcard& card : stored)
                storedByOrdinal.insert(card.ordinal, card);

            // A surviving ordinal keeps the stored card's identity, progress and suspension.
            QList<Flashcard> final;
            final.reserve(cards.size());
            QSet<Uuid> finalIDs;
            for (Flashcard card : cards) {
                if (const auto match = storedByOrdinal.constFind(card.ordinal); match != storedByOrdinal.cend()) {
                    card.id = match->id;
                    card.memory = match->memory;
                    card.isSuspended = match->isSuspended;
                } else if (exists(card.id, "cards", db)) {
                    refuse(u"L’identificativo di una carta è già utilizzato.");
                }
                finalIDs.insert(card.id);
                final.append(card);
            }
            for (const Flashcard& card : stored) {
                if (!finalIDs.contains(card.id))
                    db.execute("DELETE FROM cards WHERE id = ?", {idValue(card.id)});
            }
            save(note, db);
            for (const Flashcard& card : final)
                save(card, db);
        });
    });
}

QFuture<void> SQLiteLibraryRepository::deleteDeck(const Uuid& id) {
    return m_database.write(
        [id](SQLiteConnection& db) { db.execute("DELETE FROM decks WHERE id = ?", {idValue(id)}); });
}

QFuture<void> SQLiteLibraryRepository::deleteNote(const Uuid& id) {
    return m_database.write(
        [id](SQLiteConnection& db) { db.execute("DELETE FROM notes WHERE id = ?", {idValue(id)}); });
}

QFuture<void> SQLiteLibraryRepository::setSuspended(const QList<Uuid>& cardIDs, bool suspended) {
    return m_database.write([cardIDs, suspended](SQLiteConnection& db) {
        QSet<Uuid> done;
        for (const Uuid& id : cardIDs) {
            if (done.contains(id))
                continue;
            done.insert(id);
            std::optional<Flashcard> stored = card(id, db);
            if (!stored)
                throw QuendaError::missingRecord();
            stored->isSuspended = suspended;
            save(*stored, db);
        }
    });
}

QFuture<void> SQLiteLibraryRepository::recordReview(const ReviewEvent& event) {
    return m_database.access([event](SQLiteConnection& db) {
        LibraryValidation::review(event);
        if (event.undoneAt)
            refuse(u"Non è possibile registrare un ripasso già annullato.");
        db.transaction([&] {
            std::optional<Flashcard> stored = card(event.cardID, db);
            if (!stored)
                throw QuendaError::missingRecord();
            if (stored->memory != event.before)
                refuse(u"La carta è cambiata. Riapri il ripasso prima di continuare.");
            if (stored->isSuspended)
                refuse(u"Questa carta è sospesa dal ripasso.");
            if (exists(event.id, "reviews", db))
                refuse(u"Questo ripasso è già stato registrato.");
            stored->memory = event.after;
            insert(event, db);
            save(*stored, db);
        });
    });
}

QFuture<std::optional<ReviewEvent>> SQLiteLibraryRepository::undoLastReview(Instant now) {
    return m_database.access([now](SQLiteConnection& db) -> std::optional<ReviewEvent> {
        if (!now.isFinite())
            refuse(u"Una data non è valida.");
        return db.transaction([&]() -> std::optional<ReviewEvent> {
            const std::optional<QByteArray> json =
                db.blob("SELECT payload FROM reviews WHERE undoneAt IS NULL ORDER BY rowid DESC LIMIT 1");
            if (!json)
                return std::nullopt;
            ReviewEvent review = RecordJson::decode<ReviewEvent>(*json, JsonForm::database);
            std::optional<Flashcard> stored = card(review.cardID, db);
            if (!stored || stored->memory != review.after)
                refuse(u"Il ripasso non può essere annullato perché la carta è cambiata.");
            stored->memory = review.before;
            review.undoneAt = now;
            save(*stored, db);
            db.execute("UPDATE reviews SET undoneAt = ?, payload = ? WHERE id = ?",
                       {dateValue(now), SQLiteValue::blob(RecordJson::encode(review, JsonForm::database)),
                        idValue(review.id)});
            return review;
        });
    });
}

QFuture<void> SQLiteLibraryRepository::savePreferences(const StudyPreferences& preferences) {
    return m_database.access([preferences](SQLiteConnection& db) {
        if (!LibraryValidation::arePreferencesValid(preferences))
            refuse(u"Le impostazioni di ripasso non sono valide.");
        db.transaction([&] { setMetadata(preferences, "preferences", db); });
    });
}

QFuture<void> SQLiteLibraryRepository::importLibrary(const LibrarySnapshot& snapshot, bool replace) {
    return m_database.access([snapshot, replace](SQLiteConnection& db) {
        LibraryValidation::snapshot(snapshot);
        db.transaction([&] {
            if (replace)
                replaceLibrary(snapshot, db);
            else
                mergeLibrary(snapshot, db);
        });
    });
}
