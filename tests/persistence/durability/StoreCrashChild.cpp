// Runs random repository operations on a library file until it is killed. The durability test kills it
// at random moments and checks the file afterwards.
//
// Usage: quenda_store_crash_child <library file> <seed>
//
// Every operation prints "begin <op> <args>" before it is issued and "done <op> <args>" once its future
// has completed, each line flushed, so the parent knows what was confirmed and what may be in flight.
// Operations:
//   deck <deckID>                    a new deck
//   note <noteID>                    a new reversed note (two cards) in some deck
//   import <deckID>                  a merging import of a new deck with three notes
//   review <reviewID> <noteID>       a review of a card of that note
//   undo <reviewID|-> <noteID|->     undo of the last standing review
//   suspend <0|1> <noteID>           both cards of the note suspended or resumed
//   delete <noteID>                  deletion of a note (never one of an imported deck)

#include "persistence/SQLiteLibraryRepository.h"

#include <QString>

#include <cstdio>
#include <random>

namespace {

void say(const char* phase, const QString& text) {
    std::printf("%s %s\n", phase, text.toUtf8().constData());
    std::fflush(stdout);
}

Instant now() {
    return Instant::fromUnixSeconds(1'700'000'000.0);
}

class Driver {
public:
    Driver(SQLiteLibraryRepository& repository, unsigned seed) : m_repository(repository), m_random(seed) {}

    void step(const LibrarySnapshot& library) {
        const int dice = pick(100);
        if (library.decks.isEmpty() || dice < 5)
            addDeck();
        else if (library.notes.size() < 4 || dice < 30)
            addNote(library);
        else if (dice < 36)
            importDeck();
        else if (dice < 75)
            review(library);
        else if (dice < 85)
            undo(library);
        else if (dice < 93)
            suspend(library);
        else
            deleteNote(library);
    }

private:
    int pick(int bound) { return std::uniform_int_distribution<int>(0, bound - 1)(m_random); }

    template <typename T> const T& any(const QList<T>& list) { return list[pick(int(list.size()))]; }

    template <typename T> void run(const QString& text, QFuture<T> future) {
        say("begin", text);
        future.waitForFinished();
        say("done", text);
    }

    Deck makeDeck(const QString& name) {
        return Deck{.id = Uuid::createRandom(),
                    .name = name,
                    .subtitle = {},
                    .symbol = QStringLiteral("book"),
                    .colorHex = QStringLiteral("4F5FE7"),
                    .createdAt = now(),
                    .updatedAt = now()};
    }

    std::pair<Note, QList<Flashcard>> makeNote(const Uuid& deckID, const QStringList& tags) {
        const Note note{.id = Uuid::createRandom(),
                        .deckID = deckID,
                        .kind = NoteKind::reversed,
                        .front = QStringLiteral("Domanda %1").arg(pick(1000)),
                        .back = QStringLiteral("Risposta"),
                        .tags = tags,
                        .createdAt = now(),
                        .updatedAt = now().addingSeconds(pick(1000))};
        QList<Flashcard> cards;
        for (std::int64_t ordinal : {0, 1})
            cards.append(Flashcard{.id = Uuid::createRandom(),
                                   .noteID = note.id,
                                   .deckID = deckID,
                                   .ordinal = ordinal,
                                   .memory = MemoryState::newCard(now()),
                                   .isSuspended = false});
        return {note, cards};
    }

    void addDeck() {
        const Deck deck = makeDeck(QStringLiteral("Mazzo"));
        run(QStringLiteral("deck %1").arg(deck.id.toString()), m_repository.saveDeck(deck));
    }

    void addNote(const LibrarySnapshot& library) {
        QList<Deck> ownDecks;
        for (const Deck& deck : library.decks)
            if (!deck.name.startsWith(QLatin1String("Import")))
                ownDecks.append(deck);
        if (ownDecks.isEmpty())
            return addDeck();
        const auto [note, cards] = makeNote(any(ownDecks).id, {});
        run(QStringLiteral("note %1").arg(note.id.toString()), m_repository.saveNote(note, cards));
    }

    void importDeck() {
        LibrarySnapshot snapshot{.libraryID = Uuid::createRandom()};
        snapshot.decks.append(makeDeck(QStringLiteral("Import")));
        for (int i = 0; i < 3; ++i) {
            const auto [note, cards] = makeNote(snapshot.decks[0].id, {QStringLiteral("import")});
            snapshot.notes.append(note);
            snapshot.cards += cards;
        }
        run(QStringLiteral("import %1").arg(snapshot.decks[0].id.toString()),
            m_repository.importLibrary(snapshot, false));
    }

    void review(const LibrarySnapshot& library) {
        QList<Flashcard> candidates;
        for (const Flashcard& card : library.cards)
            if (!card.isSuspended)
                candidates.append(card);
        if (candidates.isEmpty())
            return addNote(library);
        const Flashcard& card = any(candidates);
        const Instant reviewedAt = card.memory.due.addingSeconds(pick(100'000) / 7.0);
        MemoryState after{.due = reviewedAt.addingSeconds(86400.0 * (1 + pick(30))),
                          .stability = 0.5 + pick(1000) / 13.0,
                          .difficulty = 1 + pick(90) / 10.0,
                          .elapsedDays = pick(20) / 3.0,
                          .scheduledDays = double(1 + pick(30)),
                          .learningSteps = 0,
                          .reps = card.memory.reps + 1,
                          .lapses = card.memory.lapses,
                          .stage = MemoryStage::review,
                          .lastReview = reviewedAt};
        const ReviewEvent event{.id = Uuid::createRandom(),
                                .cardID = card.id,
                                .reviewedAt = reviewedAt,
                                .rating = ReviewRating::good,
                                .before = card.memory,
                                .after = after,
                                .algorithm = QStringLiteral("fsrs-6-default-v1"),
                                .retention = 0.9};
        run(QStringLiteral("review %1 %2").arg(event.id.toString(), card.noteID.toString()),
            m_repository.recordReview(event));
    }

    void undo(const LibrarySnapshot& library) {
        say("begin", QStringLiteral("undo"));
        const std::optional<ReviewEvent> undone = m_repository.undoLastReview(now()).result();
        if (!undone)
            return say("done", QStringLiteral("undo - -"));
        QString noteID;
        for (const Flashcard& card : library.cards)
            if (card.id == undone->cardID)
                noteID = card.noteID.toString();
        say("done", QStringLiteral("undo %1 %2").arg(undone->id.toString(), noteID));
    }

    void suspend(const LibrarySnapshot& library) {
        const Note& note = any(library.notes);
        QList<Uuid> cardIDs;
        for (const Flashcard& card : library.cards)
            if (card.noteID == note.id)
                cardIDs.append(card.id);
        const bool suspended = pick(2) == 0;
        run(QStringLiteral("suspend %1 %2").arg(suspended ? 1 : 0).arg(note.id.toString()),
            m_repository.setSuspended(cardIDs, suspended));
    }

    void deleteNote(const LibrarySnapshot& library) {
        QList<Note> own;
        for (const Note& note : library.notes)
            if (!note.tags.contains(QLatin1String("import")))
                own.append(note);
        if (own.isEmpty())
            return addNote(library);
        const Uuid id = any(own).id;
        run(QStringLiteral("delete %1").arg(id.toString()), m_repository.deleteNote(id));
    }

    SQLiteLibraryRepository& m_repository;
    std::mt19937 m_random;
};

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s <library file> <seed>\n", argv[0]);
        return 2;
    }
    try {
        SQLiteLibraryRepository repository(QString::fromLocal8Bit(argv[1]));
        say("ready", QString());
        Driver driver(repository, unsigned(std::strtoul(argv[2], nullptr, 10)));
        for (;;)
            driver.step(repository.load().result());
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
}
