#include "app/services/BackupService.h"
#include "exchange/QuendaPackage.h"
#include "support/QtPrinters.h"

#include <gtest/gtest.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

namespace {

Instant at(const char* isoUtc) {
    return Instant::fromUnixMilliseconds(double(QDateTime::fromString(isoUtc, Qt::ISODateWithMs).toMSecsSinceEpoch()));
}

LibrarySnapshot libraryWithDeck(const QString& name) {
    const Instant created = at("2025-01-01T00:00:00Z");
    return LibrarySnapshot{.libraryID = Uuid::createRandom(),
                           .decks = {Deck{Uuid::createRandom(), name, {}, "book", "4F5FE7", created, created}}};
}

class BackupServiceTest : public ::testing::Test {
protected:
    QTemporaryDir root;
    QString folder = root.filePath(QStringLiteral("Backups"));
    BackupService service{folder, root.filePath(QStringLiteral("Media"))};
    const QTimeZone rome{"Europe/Rome"};

    std::optional<Instant> automatic(const LibrarySnapshot& snapshot, quint64 revision, Instant now) {
        return service.writeAutomatic(snapshot, revision, now, rome).result();
    }
    QStringList files() const {
        QStringList names = QDir(folder).entryList(QDir::Files | QDir::Hidden);
        names.sort();
        return names;
    }
    LibrarySnapshot readBack(const QString& name) const {
        return QuendaPackage::read(QUrl::fromLocalFile(QDir(folder).filePath(name))).snapshot;
    }
};

} // namespace

TEST_F(BackupServiceTest, OneAutomaticFilePerLocalDayHoldingTheLatestSnapshot) {
    EXPECT_EQ(automatic(libraryWithDeck("Prima"), 1, at("2025-03-14T08:00:00Z")), at("2025-03-14T08:00:00Z"));
    automatic(libraryWithDeck("Seconda"), 2, at("2025-03-14T18:00:00Z"));
    EXPECT_EQ(files(), QStringList{"Quenda-2025-03-14.quenda"});
    EXPECT_EQ(readBack("Quenda-2025-03-14.quenda").decks.first().name, QStringLiteral("Seconda"));
    // 00:30 in Rome is still the previous day in UTC: the name follows the user's calendar.
    automatic(libraryWithDeck("Notte"), 3, at("2025-03-14T23:30:00Z"));
    EXPECT_TRUE(files().contains("Quenda-2025-03-15.quenda"));
}

TEST_F(BackupServiceTest, KeepsTheSevenNewestDaysAndNeverTouchesOtherFiles) {
    QDir().mkpath(folder + "/Quenda-2025-01-01.quenda"); // a folder with a matching name
    const QStringList strangers = {"Quenda-2025-1-05.quenda", ".Quenda-2000-01-01.quenda", "note.txt"};
    for (const QString& name : strangers) {
        QFile file(QDir(folder).filePath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    QFile::link(QDir(folder).filePath("note.txt"), QDir(folder).filePath("Quenda-2000-02-02.quenda"));
    for (int day = 1; day <= 8; ++day)
        automatic(libraryWithDeck("x"), quint64(day), at(qPrintable(QStringLiteral("2025-03-%1T12:00:00Z").arg(day, 2, 10, QChar(u'0')))));
    QStringList expected = strangers;
    expected << "Quenda-2000-02-02.quenda";
    for (int day = 2; day <= 8; ++day)
        expected << QStringLiteral("Quenda-2025-03-%1.quenda").arg(day, 2, 10, QChar(u'0'));
    expected.sort();
    EXPECT_EQ(files(), expected);
    EXPECT_TRUE(QFileInfo(folder + "/Quenda-2025-01-01.quenda").isDir());
}

TEST_F(BackupServiceTest, OlderRevisionsAreSkippedAndEqualOnesWritten) {
    automatic(libraryWithDeck("Cinque"), 5, at("2025-03-14T08:00:00Z"));
    EXPECT_FALSE(automatic(libraryWithDeck("Tre"), 3, at("2025-03-15T08:00:00Z")).has_value());
    EXPECT_EQ(files(), QStringList{"Quenda-2025-03-14.quenda"});
    EXPECT_TRUE(automatic(libraryWithDeck("Ancora"), 5, at("2025-03-14T09:00:00Z")).has_value());
    EXPECT_EQ(readBack("Quenda-2025-03-14.quenda").decks.first().name, QStringLiteral("Ancora"));
}

TEST_F(BackupServiceTest, PreImportBackupsAreNamedInUtcAndTheNewestFiveKept) {
    QStringList written;
    for (int i = 0; i < 6; ++i)
        written << QFileInfo(service.writeBeforeImport(libraryWithDeck("x"), at("2025-03-14T09:05:07.042Z").addingSeconds(i)).result()).fileName();
    EXPECT_TRUE(QRegularExpression("^Quenda-prima-importazione-2025-03-14_09-05-07-042-[0-9A-F]{8}(-[0-9A-F]{4}){3}-"
                                   "[0-9A-F]{12}\\.quenda$")
                    .match(written.first())
                    .hasMatch())
        << written.first().toStdString();
    EXPECT_EQ(files().size(), 5);
    EXPECT_FALSE(files().contains(written.first()));
    // The same millisecond twice still gives two files.
    const QString a = service.writeBeforeImport(libraryWithDeck("a"), at("2025-03-15T00:00:00Z")).result();
    const QString b = service.writeBeforeImport(libraryWithDeck("b"), at("2025-03-15T00:00:00Z")).result();
    EXPECT_NE(a, b);
}

TEST_F(BackupServiceTest, CancelledRequestsWriteNothing) {
    CancellationToken token;
    token.cancel();
    EXPECT_THROW(service.writeAutomatic(libraryWithDeck("x"), 1, at("2025-03-14T08:00:00Z"), rome, token).waitForFinished(),
                 OperationCancelled);
    EXPECT_THROW(service.writeBeforeImport(libraryWithDeck("x"), at("2025-03-14T08:00:00Z"), token).waitForFinished(),
                 OperationCancelled);
    EXPECT_TRUE(files().isEmpty());
}
