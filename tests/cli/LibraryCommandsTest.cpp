#include "CliSupport.h"

#include <QDir>
#include <QFile>

namespace {

QJsonObject status(const CliLibrary& library) {
    return library.json({QStringLiteral("status")}).object();
}

} // namespace

TEST(LibraryCommandsTest, ReviewsAndUndoesOnTheExampleDeck) {
    CliLibrary library;
    EXPECT_EQ(library.json({QStringLiteral("add-example")}).object()[u"name"].toString(),
              QStringLiteral("Piccole scoperte"));

    QJsonObject counts = status(library);
    QStringList keys = counts.keys();
    EXPECT_EQ(keys, (QStringList{"cards", "decks", "dueCount", "libraryID", "newCount", "notes", "ready", "reviews",
                                 "reviewsToday"}));
    EXPECT_EQ(counts[u"cards"].toInt(), 6);
    EXPECT_EQ(counts[u"newCount"].toInt(), 6);
    EXPECT_EQ(counts[u"ready"].toInt(), 5); // the two cards of the reversed note never come together

    const QJsonArray queue = library.json({QStringLiteral("queue")}).array();
    ASSERT_EQ(queue.size(), 5);
    const QString card = queue[0].toObject()[u"id"].toString();
    EXPECT_TRUE(queue[0].toObject()[u"memory"].toObject().contains(u"due"));

    const QJsonObject shown = library.json({QStringLiteral("show"), card}).object();
    EXPECT_FALSE(shown[u"question"].toString().isEmpty());
    EXPECT_FALSE(shown[u"answer"].toString().isEmpty());

    const QJsonObject preview = library.json({QStringLiteral("preview"), card}).object();
    EXPECT_EQ(preview.keys(), (QStringList{"again", "easy", "good", "hard"}));
    EXPECT_EQ(preview[u"good"].toObject()[u"interval"].toString(), QStringLiteral("tra 10 min"));
    EXPECT_EQ(preview[u"good"].toObject()[u"due"].toDouble(), CliLibrary::kNowMilliseconds + 600000);

    // Identifiers are taken in either letter case.
    const QJsonObject event = library.json({QStringLiteral("review"), card.toLower(), QStringLiteral("good")}).object();
    EXPECT_EQ(event[u"cardID"].toString(), card);
    EXPECT_EQ(event[u"rating"].toInt(), 3);
    EXPECT_EQ(event[u"reviewedAt"].toDouble(), CliLibrary::kNowMilliseconds);
    counts = status(library);
    EXPECT_EQ(counts[u"reviewsToday"].toInt(), 1);
    EXPECT_EQ(counts[u"ready"].toInt(), 4);
    // The automatic backup is written before the command ends.
    EXPECT_FALSE(QDir(library.path(QStringLiteral("data/Backups"))).isEmpty(QDir::Files));

    const QJsonObject undone = library.json({QStringLiteral("undo")}).object();
    EXPECT_EQ(undone[u"id"], event[u"id"]);
    EXPECT_EQ(undone[u"undoneAt"].toDouble(), CliLibrary::kNowMilliseconds);
    EXPECT_EQ(status(library)[u"ready"].toInt(), 5);
    EXPECT_EQ(library.run({QStringLiteral("--json"), QStringLiteral("undo")}).out, "null\n");
}

TEST(LibraryCommandsTest, StudyReadsKeysFromPipedInput) {
    CliLibrary library;
    library.json({QStringLiteral("add-example")});
    // Reveal and rate good; reveal and rate again; undo that; reveal and quit.
    const CliRun run = library.run({QStringLiteral("study")}, " 3 1u q");
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    const QString out = QString::fromUtf8(run.out);
    EXPECT_TRUE(out.contains(QStringLiteral("3 Bene tra 10 min"))) << run.out.toStdString();
    EXPECT_TRUE(out.contains(QStringLiteral("Annullato: Da rivedere"))) << run.out.toStdString();
    const QJsonObject counts = status(library);
    EXPECT_EQ(counts[u"reviews"].toInt(), 2);
    EXPECT_EQ(counts[u"reviewsToday"].toInt(), 1);
}

TEST(LibraryCommandsTest, RefusalsAndUsageErrors) {
    CliLibrary library;
    QFile notPackage(library.path(QStringLiteral("appunti.bin")));
    ASSERT_TRUE(notPackage.open(QIODevice::WriteOnly));
    notPackage.write("solo testo");
    notPackage.close();
    QFile emptyCsv(library.path(QStringLiteral("vuoto.csv")));
    ASSERT_TRUE(emptyCsv.open(QIODevice::WriteOnly));
    emptyCsv.close();
    const QString deck = library.json({QStringLiteral("deck-save"), QStringLiteral("--name"), QStringLiteral("Storia")})
                             .object()[u"id"]
                             .toString();

    const struct {
        QStringList arguments;
        QString message;
    } refusals[] = {
        {{"inspect", notPackage.fileName()}, QStringLiteral("Not a zip archive")}, // the archive reader's own words
        {{"inspect", emptyCsv.fileName()}, QStringLiteral("Il file non è valido o supera 32 MB.")},
        {{"note-save", "--deck", deck, "--kind", "cloze", "--front", "Senza parole nascoste"},
         QStringLiteral("Nascondi almeno una parola, per esempio {{c1::Tokyo}}.")},
        {{"prefs", "--retention", "1"}, QStringLiteral("Le impostazioni di ripasso non sono valide.")},
        {{"review", "9B47B7B0-4E6F-4940-B4D2-ABFD72240CDF", "good"},
         QStringLiteral("Nessuna carta con identificativo 9B47B7B0-4E6F-4940-B4D2-ABFD72240CDF.")},
    };
    for (const auto& refusal : refusals) {
        const CliRun run = library.run(refusal.arguments);
        EXPECT_EQ(run.exitCode, 1) << refusal.arguments.join(u' ').toStdString();
        EXPECT_EQ(run.lastErrorLine(), refusal.message) << run.err.toStdString();
    }

    // A library that cannot be opened refuses every command.
    const CliRun blocked = runCli(
        {QStringLiteral("--data-dir"), notPackage.fileName() + QStringLiteral("/dati"), QStringLiteral("status")});
    EXPECT_EQ(blocked.exitCode, 1);
    EXPECT_TRUE(blocked.lastErrorLine().startsWith(QStringLiteral("Impossibile creare la cartella")))
        << blocked.err.toStdString();

    const QStringList usageErrors[] = {
        {"review"}, {"review", deck, "benissimo"}, {"sconosciuto"}, {"--now", "ieri", "status"}};
    for (const QStringList& arguments : usageErrors) {
        const CliRun run = library.run(arguments);
        EXPECT_EQ(run.exitCode, 2) << arguments.join(u' ').toStdString();
        EXPECT_TRUE(run.err.contains("Uso: quenda-cli")) << run.err.toStdString();
    }
}

TEST(LibraryCommandsTest, HelpListsEveryCommand) {
    const CliRun help = runCli({QStringLiteral("--help")});
    EXPECT_EQ(help.exitCode, 0);
    for (const char* command :
         {"status",  "decks",     "notes",         "queue",       "show",        "preview",   "review",  "undo",
          "study",   "deck-save", "note-save",     "delete-deck", "delete-note", "suspend",   "prefs",   "add-example",
          "inspect", "import",    "export-backup", "export-deck", "export-csv",  "image-add", "schedule"})
        EXPECT_TRUE(help.out.contains(QByteArray("\n  ") + command + ' ')) << command;
}
