#include "app/services/AppModel.h"
#include "app/services/BackupService.h"
#include "core/CardFactory.h"
#include "persistence/SQLiteLibraryRepository.h"
#include "support/QtPrinters.h"
#include "support/TestApplication.h"
#include "support/TestClock.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>

namespace {

Note basicNote(const Uuid& deckID, const QString& front, const QString& back, Instant at) {
    return Note{.id = Uuid::createRandom(), .deckID = deckID, .kind = NoteKind::basic, .front = front, .back = back,
                .createdAt = at, .updatedAt = at};
}

class AppModelTest : public ::testing::Test {
protected:
    AppModelTest() { ensureApplication(); }

    QTemporaryDir root;
    TestClock clock;
    std::unique_ptr<AppModel> model = std::make_unique<AppModel>(root.path(), clock);

    void start() {
        waitFor(model->start());
        ASSERT_FALSE(model->startupError().has_value()) << model->startupError()->toStdString();
    }
    bool act(QFuture<bool> action) { return waitFor(action).result(); }

    Deck addDeck(const QString& name = QStringLiteral("Storia")) {
        const Deck deck{Uuid::createRandom(), name, {}, QStringLiteral("book"), QStringLiteral("4F5FE7"), clock.now(),
                        clock.now()};
        EXPECT_TRUE(act(model->saveDeck(deck)));
        return deck;
    }
    Note addNote(const Deck& deck, NoteKind kind = NoteKind::basic, const QString& front = QStringLiteral("Domanda"),
                 const QString& back = QStringLiteral("Risposta")) {
        Note note = basicNote(deck.id, front, back, clock.now());
        note.kind = kind;
        EXPECT_TRUE(act(model->saveNote(note)));
        return note;
    }
    QList<Flashcard> cardsOf(const Note& note) const {
        QList<Flashcard> cards;
        for (const Flashcard& card : model->library().cards)
            if (card.noteID == note.id)
                cards.append(card);
        return cards;
    }
    QStringList backups() const {
        return QDir(model->backupDirectory()).entryList(QDir::Files, QDir::Name);
    }
};

} // namespace

TEST_F(AppModelTest, StartsOnceAndCanRetryAfterAFailure) {
    QFile blocker(root.filePath(QStringLiteral("blocked")));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    AppModel failing(root.filePath(QStringLiteral("blocked/inside")), clock);
    waitFor(failing.start());
    EXPECT_TRUE(failing.startupError().has_value());
    EXPECT_FALSE(failing.isLoading());
    EXPECT_FALSE(act(failing.saveDeck(Deck{.id = Uuid::createRandom(), .name = "x", .colorHex = "4F5FE7"})));
    EXPECT_EQ(failing.errorMessage(), QStringLiteral("L’archivio non è disponibile."));
    QFile::remove(root.filePath(QStringLiteral("blocked")));
    waitFor(failing.start());
    EXPECT_FALSE(failing.startupError().has_value());

    QFuture<void> first = model->start();
    QFuture<void> second = model->start(); // returns at once: the first is still starting
    EXPECT_TRUE(second.isFinished());
    waitFor(first);
    EXPECT_FALSE(model->isLoading());
    EXPECT_TRUE(QFile::exists(root.filePath(QStringLiteral("library.sqlite"))));
    EXPECT_TRUE(QDir(model->mediaDirectory()).exists());
}

TEST_F(AppModelTest, StartSchedulesABackupOnlyForALibraryWithDecks) {
    start();
    clock.advance(7);
    EXPECT_TRUE(backups().isEmpty());
    addDeck();
    model = std::make_unique<AppModel>(root.path(), clock); // a new launch on the same folder
    start();
    clock.advance(5.9);
    waitFor(QtFuture::makeReadyFuture());
    EXPECT_TRUE(backups().isEmpty());
    clock.advance(0.2);
    while (!model->lastBackup())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    EXPECT_EQ(backups().size(), 1);
    EXPECT_TRUE(BackupService::isAutomaticBackupName(backups().first()));
}

TEST_F(AppModelTest, BurstOfChangesWritesOneBackupAfterTheLast) {
    start();
    const Deck deck = addDeck();
    QSignalSpy backupsWritten(model.get(), &AppModel::lastBackupChanged);
    for (int i = 0; i < 5; ++i) {
        addNote(deck);
        clock.advance(1);
    }
    clock.advance(5.5);
    EXPECT_TRUE(backupsWritten.isEmpty());
    clock.advance(0.5);
    while (backupsWritten.isEmpty())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    waitFor(QtFuture::makeReadyFuture());
    EXPECT_EQ(backupsWritten.size(), 1);
    EXPECT_EQ(backups().size(), 1);
    EXPECT_FALSE(model->backupError().has_value());
}

TEST_F(AppModelTest, SecondActionIsRefusedSilentlyWhileOneRuns) {
    start();
    const Deck deck{Uuid::createRandom(), "A", {}, "book", "4F5FE7", clock.now(), clock.now()};
    QFuture<bool> first = model->saveDeck(deck);
    QFuture<bool> second = model->saveDeck(deck);
    EXPECT_TRUE(model->isWorking());
    EXPECT_FALSE(waitFor(second).result());
    EXPECT_TRUE(waitFor(first).result());
    EXPECT_FALSE(model->errorMessage().has_value());
    EXPECT_FALSE(model->isWorking());
}

TEST_F(AppModelTest, SavingNotesKeepsCardsAndShowsToasts) {
    start();
    const Deck deck = addDeck();
    EXPECT_EQ(model->selection(), NavigationItem::deck(deck.id));
    Note note = addNote(deck);
    EXPECT_EQ(model->toast(), QStringLiteral("Carta salvata"));
    const Flashcard original = cardsOf(note).first();

    note.kind = NoteKind::reversed;
    clock.advance(1);
    EXPECT_TRUE(act(model->saveNote(note)));
    const QList<Flashcard> cards = cardsOf(note);
    ASSERT_EQ(cards.size(), 2);
    EXPECT_TRUE(cards.contains(original));
    // The second toast restarted the 3 seconds: it is still up 2.5 seconds after it was shown.
    clock.advance(2.5);
    EXPECT_EQ(model->toast(), QStringLiteral("Carta salvata"));
    clock.advance(0.5);
    EXPECT_FALSE(model->toast().has_value());

    note.back.clear();
    EXPECT_FALSE(act(model->saveNote(note)));
    EXPECT_EQ(model->errorMessage(), QStringLiteral("Scrivi anche la risposta."));
    EXPECT_EQ(cardsOf(note), cards);
}

TEST_F(AppModelTest, ToggleSuspendedSuspendsPartlySuspendedNotesAndResumesFullySuspendedOnes) {
    start();
    const Deck deck = addDeck();
    const Note note = addNote(deck, NoteKind::reversed);
    EXPECT_TRUE(act(model->toggleSuspended(note)));
    for (const Flashcard& card : cardsOf(note))
        EXPECT_TRUE(card.isSuspended);
    EXPECT_TRUE(act(model->toggleSuspended(note)));
    for (const Flashcard& card : cardsOf(note))
        EXPECT_FALSE(card.isSuspended);
    const Note orphan = basicNote(deck.id, "x", "y", clock.now());
    EXPECT_TRUE(act(model->toggleSuspended(orphan)));
}

TEST_F(AppModelTest, ReviewAndUndo) {
    start();
    const Deck deck = addDeck();
    const Note note = addNote(deck);
    const Flashcard card = model->queue().first();
    EXPECT_EQ(model->newCount(), 1);
    EXPECT_TRUE(act(model->review(card, ReviewRating::good)));
    EXPECT_EQ(model->reviewsToday().size(), 1);
    EXPECT_EQ(model->newCount(), 0);
    EXPECT_EQ(model->dueCount(), 0); // learning step of 10 minutes
    clock.advance(600);
    model->setCurrentDate(clock.now());
    EXPECT_EQ(model->dueCount(), 1);

    const std::optional<ReviewEvent> undone = waitFor(model->undoReview()).result();
    ASSERT_TRUE(undone.has_value());
    EXPECT_EQ(undone->cardID, card.id);
    EXPECT_EQ(cardsOf(note).first().memory, card.memory);
    EXPECT_TRUE(model->reviewsToday().isEmpty());
    EXPECT_EQ(model->activeReviews().size(), 0);
    EXPECT_EQ(model->library().reviews.size(), 1);

    EXPECT_FALSE(waitFor(model->undoReview()).result().has_value());
    EXPECT_FALSE(model->errorMessage().has_value());
}

TEST_F(AppModelTest, SelectionFollowsDeckActions) {
    start();
    const Deck deck = addDeck();
    EXPECT_EQ(model->selectedDeck(), deck);
    EXPECT_TRUE(act(model->deleteDeck(deck)));
    EXPECT_EQ(model->selection(), NavigationItem::library());
    EXPECT_FALSE(model->selectedDeck().has_value());
    EXPECT_TRUE(act(model->addExampleDeck()));
    EXPECT_EQ(model->selection(), NavigationItem::today());
    EXPECT_EQ(model->toast(), QStringLiteral("Il tuo primo mazzo è pronto"));
    EXPECT_TRUE(act(model->addExampleDeck()));
    EXPECT_EQ(model->library().decks.size(), 2);
    EXPECT_EQ(model->library().notes.size(), 10);
    EXPECT_EQ(model->newCount(), 12); // the reversed note has two cards
}

TEST_F(AppModelTest, SearchIgnoresCaseAndDiacriticsAndSortsByUpdate) {
    start();
    EXPECT_TRUE(act(model->addExampleDeck()));
    model->setSearch(QStringLiteral("ORO"));
    const QList<Note> found = model->notes(std::nullopt);
    ASSERT_EQ(found.size(), 1);
    EXPECT_EQ(found.first().front, QStringLiteral("Il simbolo chimico dell’oro è {{c1::Au}}."));
    model->setSearch(QStringLiteral("capitale del giappone"));
    EXPECT_EQ(model->notes(std::nullopt).size(), 1);
    model->setSearch(QStringLiteral("perche"));
    const Deck deck = model->library().decks.first();
    Note accented = basicNote(deck.id, QStringLiteral("Perché il cielo è blu?"), QStringLiteral("Luce."), clock.now());
    clock.advance(5);
    accented.updatedAt = clock.now();
    EXPECT_TRUE(act(model->saveNote(accented)));
    EXPECT_EQ(model->notes(deck.id).size(), 1);
    model->setSearch({});
    EXPECT_EQ(model->notes(deck.id).first().id, accented.id);
    EXPECT_TRUE(model->notes(Uuid::createRandom()).isEmpty());
}

TEST_F(AppModelTest, ClockRefreshesTheDateEveryTenSeconds) {
    start();
    QSignalSpy changes(model.get(), &AppModel::currentDateChanged);
    model->observeClock();
    clock.advance(25);
    EXPECT_EQ(model->currentDate(), clock.now().addingSeconds(-5));
    model->stopObservingClock();
    clock.advance(20);
    EXPECT_EQ(model->currentDate(), clock.now().addingSeconds(-25));
    // The first tick found the date that start-up had just set: observers hear only real changes.
    EXPECT_EQ(changes.size(), 2);
}

TEST_F(AppModelTest, SnapshotAfterReviewsAndUndosEqualsAFullLoad) {
    start();
    ASSERT_TRUE(act(model->addExampleDeck()));
    const ReviewRating ratings[] = {ReviewRating::good, ReviewRating::again, ReviewRating::easy, ReviewRating::hard};
    for (int i = 0; i < 12; ++i) {
        const QList<Flashcard> queue = model->queue();
        ASSERT_FALSE(queue.isEmpty());
        ASSERT_TRUE(act(model->review(queue.first(), ratings[i % 4])));
        if (i % 5 == 4) {
            ASSERT_TRUE(waitFor(model->undoReview()).result().has_value());
        }
        clock.advance(700); // past the learning steps, so cards come back
        model->setCurrentDate(clock.now());
    }
    SQLiteLibraryRepository second(root.filePath(QStringLiteral("library.sqlite")));
    const LibrarySnapshot loaded = second.load().result();
    EXPECT_EQ(loaded.reviews.size(), 12);
    EXPECT_TRUE(model->library() == loaded);
}
