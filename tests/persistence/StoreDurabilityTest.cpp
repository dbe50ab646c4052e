// Kills a child process running random repository operations with SIGKILL at random moments, then checks
// the library file: it opens, passes the engine's integrity check, holds every operation the child saw
// completed, and holds no operation in part. The child's protocol is described in
// durability/StoreCrashChild.cpp.
//
// A handful of kills by default; QUENDA_DURABILITY_KILLS=200 (or more) runs the long variant.

#include "persistence/SQLiteLibraryRepository.h"

#include <gtest/gtest.h>

#include <QHash>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>
#include <QThread>

#include <random>

namespace {

struct Operation {
    QStringList words; ///< the operation's name and arguments
};

struct RunLog {
    QList<Operation> done;
    std::optional<Operation> inFlight;
};

RunLog parse(const QByteArray& output) {
    RunLog log;
    for (const QByteArray& raw : output.split('\n')) {
        const QStringList words = QString::fromUtf8(raw).split(u' ', Qt::SkipEmptyParts);
        if (words.isEmpty() || !raw.size())
            continue;
        const Operation operation{words.mid(1)};
        if (words[0] == u"begin") {
            log.inFlight = operation;
        } else if (words[0] == u"done") {
            log.done.append(operation);
            log.inFlight.reset();
        }
    }
    // A last line without its newline was not completely written: the split keeps it, but a "done"
    // is written in one piece by a single write, so a cut line can only be missing entirely.
    return log;
}

Uuid uuid(const QString& text) {
    return Uuid::fromString(text).value();
}

/// Checks the loaded library against what the child confirmed in its last run.
void verify(const LibrarySnapshot& library, const RunLog& log) {
    QHash<Uuid, const Note*> notes;
    for (const Note& note : library.notes)
        notes.insert(note.id, &note);
    QHash<Uuid, QList<const Flashcard*>> cardsOfNote;
    QHash<Uuid, const Flashcard*> cards;
    for (const Flashcard& card : library.cards) {
        cardsOfNote[card.noteID].append(&card);
        cards.insert(card.id, &card);
    }
    QHash<Uuid, const ReviewEvent*> reviews;
    for (const ReviewEvent& review : library.reviews)
        reviews.insert(review.id, &review);
    QSet<Uuid> decks;
    for (const Deck& deck : library.decks)
        decks.insert(deck.id);

    // No operation in part: every note has its two cards, every imported deck its three notes, every
    // card the memory its latest standing review left (or its first one).
    for (const Note& note : library.notes) {
        const auto& own = cardsOfNote.value(note.id);
        ASSERT_EQ(own.size(), 2) << "note " << note.id.toString().toStdString();
        EXPECT_EQ(own[0]->ordinal + own[1]->ordinal, 1);
        for (const Flashcard* card : own)
            EXPECT_EQ(card->deckID, note.deckID);
    }
    for (const Deck& deck : library.decks) {
        if (!deck.name.startsWith(QLatin1String("Import")))
            continue;
        int count = 0;
        for (const Note& note : library.notes)
            count += note.deckID == deck.id;
        EXPECT_EQ(count, 3) << "imported deck " << deck.id.toString().toStdString();
    }
    QHash<Uuid, const ReviewEvent*> latestStanding;
    for (const ReviewEvent& review : library.reviews) {
        ASSERT_TRUE(cards.contains(review.cardID));
        if (!review.undoneAt)
            latestStanding.insert(review.cardID, &review);
    }
    for (const Flashcard& card : library.cards) {
        if (const ReviewEvent* review = latestStanding.value(card.id)) {
            EXPECT_EQ(card.memory, review->after) << "card " << card.id.toString().toStdString();
        } else {
            EXPECT_EQ(card.memory.reps, 0) << "card " << card.id.toString().toStdString();
        }
    }

    // Every confirmed operation is there, unless a later one of the run (or the one in flight) may have
    // taken its effect away.
    QList<Operation> later = log.done;
    if (log.inFlight)
        later.append(*log.inFlight);
    auto deletedAfter = [&](qsizetype index, const QString& noteID) {
        for (qsizetype i = index + 1; i < later.size(); ++i)
            if (later[i].words.value(0) == u"delete" && later[i].words.value(1) == noteID)
                return true;
        return false;
    };
    auto suspendedAfter = [&](qsizetype index, const QString& noteID) {
        for (qsizetype i = index + 1; i < later.size(); ++i)
            if (later[i].words.value(0) == u"suspend" && later[i].words.value(2) == noteID)
                return true;
        return false;
    };
    QSet<QString> undoneByChild;
    for (const Operation& operation : log.done)
        if (operation.words.value(0) == u"undo")
            undoneByChild.insert(operation.words.value(1));
    int unexpectedUndone = 0;
    const bool undoInFlight = log.inFlight && log.inFlight->words.value(0) == u"undo";

    for (qsizetype i = 0; i < log.done.size(); ++i) {
        const QStringList& w = log.done[i].words;
        SCOPED_TRACE(w.join(u' ').toStdString());
        const QString& kind = w[0];
        if (kind == u"deck" || kind == u"import") {
            EXPECT_TRUE(decks.contains(uuid(w[1])));
        } else if (kind == u"note") {
            if (!deletedAfter(i, w[1])) {
                EXPECT_TRUE(notes.contains(uuid(w[1])));
            }
        } else if (kind == u"review") {
            if (deletedAfter(i, w[2]))
                continue;
            const ReviewEvent* review = reviews.value(uuid(w[1]));
            ASSERT_TRUE(review);
            if (review->undoneAt && !undoneByChild.contains(w[1]))
                ++unexpectedUndone;
        } else if (kind == u"undo" && w[1] != u"-") {
            if (deletedAfter(i, w[2]))
                continue;
            const ReviewEvent* review = reviews.value(uuid(w[1]));
            ASSERT_TRUE(review);
            EXPECT_TRUE(review->undoneAt.has_value());
        } else if (kind == u"suspend") {
            if (deletedAfter(i, w[2]) || suspendedAfter(i, w[2]))
                continue;
            for (const Flashcard* card : cardsOfNote.value(uuid(w[2]))) {
                EXPECT_EQ(card->isSuspended, w[1] == u"1");
            }
        } else if (kind == u"delete") {
            EXPECT_FALSE(notes.contains(uuid(w[1])));
        }
    }
    // Only the undo in flight may have undone a review the child saw standing.
    EXPECT_LE(unexpectedUndone, undoInFlight ? 1 : 0);
}

int killCount() {
    bool ok = false;
    const int fromEnvironment = qEnvironmentVariableIntValue("QUENDA_DURABILITY_KILLS", &ok);
    return ok && fromEnvironment > 0 ? fromEnvironment : 5;
}

} // namespace

TEST(StoreDurabilityTest, KilledWritersLeaveCompleteOperationsOnly) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("library.sqlite"));
    const int kills = killCount();
    std::mt19937 random(std::random_device{}());
    const unsigned testSeed = random();
    SCOPED_TRACE("seed " + std::to_string(testSeed));
    random.seed(testSeed);
    int confirmed = 0;

    for (int run = 0; run < kills; ++run) {
        SCOPED_TRACE("run " + std::to_string(run));
        QProcess child;
        child.start(QStringLiteral(QUENDA_STORE_CRASH_CHILD), {path, QString::number(random())});
        ASSERT_TRUE(child.waitForStarted());
        // Most kills land in the middle of operations; some during opening and migration.
        const int delay = std::uniform_int_distribution<int>(5, 400)(random);
        QThread::msleep(delay);
        ASSERT_EQ(child.state(), QProcess::Running) << child.readAllStandardError().toStdString();
        child.kill(); // SIGKILL
        ASSERT_TRUE(child.waitForFinished());
        const RunLog log = parse(child.readAllStandardOutput());
        confirmed += int(log.done.size());

        {
            SQLiteDatabase raw(path);
            const QByteArray integrity =
                raw.read([](SQLiteConnection& db) { return db.blob("PRAGMA integrity_check").value_or(""); }).result();
            ASSERT_EQ(integrity, "ok");
        }
        SQLiteLibraryRepository repository(path);
        verify(repository.load().result(), log);
        if (HasFatalFailure() || HasNonfatalFailure())
            return;
    }
    // The runs did real work, so the checks above were not vacuous.
    EXPECT_GT(confirmed, 0);
}
