#include "app/services/AppModel.h"
#include "app/services/MediaStore.h"
#include "core/MediaIdentifier.h"
#include "exchange/QuendaPackage.h"
#include "support/QtPrinters.h"
#include "support/TestApplication.h"
#include "support/TestClock.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

namespace {

/// Answers every dialog with the next prepared location, or with a cancel when none is left.
class ScriptedDialogs final : public FileDialogs {
public:
    QList<QUrl> answers;
    QList<OpenRequest> opened;
    QList<SaveRequest> saved;

    std::optional<QUrl> chooseFileToOpen(const OpenRequest& request) override {
        opened.append(request);
        return next();
    }
    std::optional<QUrl> chooseSaveLocation(const SaveRequest& request) override {
        saved.append(request);
        return next();
    }

private:
    std::optional<QUrl> next() { return answers.isEmpty() ? std::nullopt : std::optional(answers.takeFirst()); }
};

class AppModelTransfersTest : public ::testing::Test {
protected:
    AppModelTransfersTest() {
        ensureApplication();
        model.setFileDialogs(&dialogs);
        waitFor(model.start());
    }

    QTemporaryDir root;
    QTemporaryDir files;
    TestClock clock;
    ScriptedDialogs dialogs;
    AppModel model{root.path(), clock};

    bool act(QFuture<bool> action) { return waitFor(action).result(); }
    QUrl writeFile(const QString& name, const QByteArray& data) {
        QFile file(files.filePath(name));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(data);
        return QUrl::fromLocalFile(file.fileName());
    }
    Deck addDeck(const QString& name) {
        const Deck deck{Uuid::createRandom(), name, {}, "book", "4F5FE7", clock.now(), clock.now()};
        EXPECT_TRUE(act(model.saveDeck(deck)));
        return deck;
    }
    QStringList backups() const { return QDir(model.backupDirectory()).entryList(QDir::Files); }
};

} // namespace

TEST_F(AppModelTransfersTest, CsvImportTargetsTheDeckOfTheSameNameInAnyCase) {
    const Deck deck = addDeck(QStringLiteral("Capitali"));
    ASSERT_TRUE(act(model.prepareImport(writeFile("CAPITALI.CSV", "fronte,retro\nFrancia,Parigi\nItalia,Roma\n"))));
    const ImportRequest request = *model.pendingImport();
    EXPECT_EQ(request.filename, QStringLiteral("CAPITALI.CSV"));
    EXPECT_EQ(request.package.kind, PackageKind::deck);
    EXPECT_EQ(request.package.snapshot.decks, QList<Deck>{deck});
    EXPECT_TRUE(act(model.applyImport(request, false)));
    EXPECT_FALSE(model.pendingImport().has_value());
    EXPECT_EQ(model.library().decks.size(), 1);
    EXPECT_EQ(model.library().notes.size(), 2);
    EXPECT_EQ(model.toast(), QStringLiteral("Importazione completata"));
    EXPECT_EQ(model.selection(), NavigationItem::library());
    EXPECT_EQ(backups().size(), 1); // the library had a deck: a pre-import backup came first
}

TEST_F(AppModelTransfersTest, TextFileWithANewNameMakesANewDeckAndEmptyLibraryTakesNoBackup) {
    ASSERT_TRUE(act(model.prepareImport(writeFile("Parole.txt", "ciao\thello\n"))));
    const Deck deck = model.pendingImport()->package.snapshot.decks.first();
    EXPECT_EQ(deck.name, QStringLiteral("Parole"));
    EXPECT_EQ(deck.symbol, QStringLiteral("square.stack.3d.up"));
    EXPECT_EQ(deck.colorHex, QStringLiteral("4F5FE7"));
    EXPECT_TRUE(act(model.applyImport(*model.pendingImport(), false)));
    EXPECT_TRUE(backups().isEmpty());
}

TEST_F(AppModelTransfersTest, TextFilesAreBoundedAndMustBeUtf8) {
    const QString tooLarge = QStringLiteral("Il file non è valido o supera 32 MB.");
    const QByteArray row = "a,b\n";
    QByteArray exact = row.repeated(33554432 / row.size());
    ASSERT_EQ(exact.size(), 33554432);
    EXPECT_EQ(AppModel::readBoundedFile(writeFile("exact.csv", exact), 33554432).size(), 33554432);
    const struct {
        const char* name;
        QByteArray data;
        QString message;
    } cases[] = {
        {"empty.csv", {}, tooLarge},
        {"large.csv", exact + "x", tooLarge},
        {"latin1.csv", "caff\xe8,coffee\n", QStringLiteral("Salva il file di testo in formato UTF-8 e riprova.")},
    };
    for (const auto& c : cases) {
        model.clearErrorMessage();
        EXPECT_FALSE(act(model.prepareImport(writeFile(c.name, c.data)))) << c.name;
        EXPECT_EQ(model.errorMessage(), c.message) << c.name;
    }
    EXPECT_FALSE(act(model.prepareImport(QUrl::fromLocalFile(files.filePath("missing.csv")))));
    EXPECT_EQ(model.errorMessage(), tooLarge);
    EXPECT_FALSE(model.pendingImport().has_value());
}

TEST_F(AppModelTransfersTest, OtherExtensionsAreReadAsPackages) {
    for (const char* name : {"notes.md", "senza-estensione"}) {
        model.clearErrorMessage();
        EXPECT_FALSE(act(model.prepareImport(writeFile(name, "fronte,retro\n")))) << name;
        EXPECT_TRUE(model.errorMessage().has_value()) << name;
    }
}

TEST_F(AppModelTransfersTest, ExportedDeckAndBackupRoundTrip) {
    ASSERT_TRUE(act(model.addExampleDeck()));
    const Deck sample = model.library().decks.first();
    ASSERT_TRUE(act(model.review(model.queue().first(), ReviewRating::good)));
    const Deck other = addDeck(QStringLiteral("Vuoto"));

    dialogs.answers = {QUrl::fromLocalFile(files.filePath("mazzo.quenda")),
                       QUrl::fromLocalFile(files.filePath("tutto.quenda"))};
    ASSERT_TRUE(act(model.exportDeck(sample)));
    EXPECT_EQ(dialogs.saved.last().suggestedName, QStringLiteral("Piccole scoperte.quenda"));
    EXPECT_EQ(dialogs.saved.last().title, QStringLiteral("Condividi mazzo"));
    EXPECT_EQ(model.toast(), QStringLiteral("File esportato"));
    ASSERT_TRUE(act(model.exportBackup()));
    EXPECT_EQ(dialogs.saved.last().suggestedName, QStringLiteral("Quenda-backup.quenda"));

    const ImportedPackage deckPackage = QuendaPackage::read(QUrl::fromLocalFile(files.filePath("mazzo.quenda")));
    EXPECT_EQ(deckPackage.snapshot.decks, QList<Deck>{sample});
    EXPECT_EQ(deckPackage.snapshot.notes.size(), 5);
    EXPECT_EQ(deckPackage.snapshot.cards.size(), 6);
    EXPECT_TRUE(deckPackage.snapshot.reviews.isEmpty());
    const ImportedPackage backup = QuendaPackage::read(QUrl::fromLocalFile(files.filePath("tutto.quenda")));
    EXPECT_EQ(backup.snapshot.decks.size(), 2);
    EXPECT_EQ(backup.snapshot.reviews.size(), 1);

    // Restoring the backup over a changed library brings the old one back.
    ASSERT_TRUE(act(model.deleteDeck(other)));
    ASSERT_TRUE(act(model.prepareImport(QUrl::fromLocalFile(files.filePath("tutto.quenda")))));
    ASSERT_TRUE(act(model.applyImport(*model.pendingImport(), true)));
    EXPECT_EQ(model.toast(), QStringLiteral("Backup ripristinato"));
    EXPECT_EQ(model.library().decks.size(), 2);
    EXPECT_EQ(model.library().reviews.size(), 1);

    // A cancelled dialog does nothing.
    EXPECT_FALSE(act(model.exportBackup()));
    EXPECT_FALSE(model.errorMessage().has_value());
}

TEST_F(AppModelTransfersTest, CsvExportIsWrittenWholeAsUtf8) {
    ASSERT_TRUE(act(model.addExampleDeck()));
    const QString path = files.filePath("mazzo.csv");
    dialogs.answers = {QUrl::fromLocalFile(path)};
    ASSERT_TRUE(act(model.exportCSV(model.library().decks.first())));
    EXPECT_TRUE(dialogs.saved.last().message.startsWith(QStringLiteral("CSV è un formato di testo parziale")));
    EXPECT_EQ(model.toast(), QStringLiteral("CSV esportato"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_TRUE(QString::fromUtf8(file.readAll()).contains(QStringLiteral("dell’oro")));
}

TEST_F(AppModelTransfersTest, ARefusedImageKeepsTheLibraryAndThePendingImport) {
    // A package whose image has the right name for its bytes but is no image at all.
    const QByteArray bogus = "not really a picture";
    const QString identifier = MediaIdentifier::digest(bogus) + ".png";
    QTemporaryDir media;
    QFile image(QDir(media.path()).filePath(identifier));
    ASSERT_TRUE(image.open(QIODevice::WriteOnly));
    image.write(bogus);
    image.close();
    const Instant now = clock.now();
    const Deck deck{Uuid::createRandom(), "Con immagine", {}, "photo", "4F5FE7", now, now};
    Note note{.id = Uuid::createRandom(), .deckID = deck.id, .kind = NoteKind::basic, .front = "Che cos’è?",
              .back = "Un’immagine", .imageID = identifier, .createdAt = now, .updatedAt = now};
    const Flashcard card{Uuid::createRandom(), note.id, deck.id, 0, MemoryState::newCard(now), false};
    const QUrl package = QUrl::fromLocalFile(files.filePath("immagine.quenda"));
    QuendaPackage::write(LibrarySnapshot{Uuid::createRandom(), {deck}, {note}, {card}, {}, {}}, PackageKind::deck,
                         media.path(), package);

    addDeck(QStringLiteral("Esistente"));
    const LibrarySnapshot before = model.library();
    ASSERT_TRUE(act(model.prepareImport(package)));
    EXPECT_FALSE(act(model.applyImport(*model.pendingImport(), false)));
    EXPECT_EQ(model.errorMessage(),
              QStringLiteral("Usa un’immagine PNG, JPEG, GIF, HEIC, TIFF o WebP valida, fino a 20 MiB."));
    EXPECT_EQ(model.library(), before);
    EXPECT_TRUE(model.pendingImport().has_value());
}

TEST_F(AppModelTransfersTest, ExportWhileAnotherActionRunsDoesNothing) {
    ASSERT_TRUE(act(model.addExampleDeck()));
    dialogs.answers = {QUrl::fromLocalFile(files.filePath("tardi.quenda"))};
    QFuture<bool> running = model.savePreferences(StudyPreferences{20, 0.85});
    EXPECT_FALSE(act(model.exportBackup()));
    EXPECT_TRUE(waitFor(running).result());
    EXPECT_FALSE(QFile::exists(files.filePath("tardi.quenda")));
    EXPECT_FALSE(model.errorMessage().has_value());
}
