#include "CliSupport.h"

namespace {

QJsonObject inspect(const CliLibrary& library, const QString& file) {
    return library.json({QStringLiteral("inspect"), file}).object();
}

} // namespace

// A library built through the CLI goes out as a backup, a deck package and CSV, and comes back in.
TEST(TransferCommandsTest, ExportsAndImportsPackagesAndCsv) {
    CliLibrary source;
    const QString deck = source.json({QStringLiteral("deck-save"), QStringLiteral("--name"), QStringLiteral("Storia")})
                             .object()[u"id"]
                             .toString();
    source.json({"note-save", "--deck", deck.toLower(), "--kind", "reversed", "--front", "Scoperta dell’America?",
                 "--back", "1492", "--tags", "storia, date"});
    const QJsonObject cloze = source
                                  .json({"note-save", "--deck", deck, "--kind", "cloze", "--front",
                                         "La {{c1::Magna Carta}} è del {{c2::1215}}."})
                                  .object();
    EXPECT_EQ(cloze[u"deckID"].toString(), deck);
    const QString card = source.json({QStringLiteral("queue")}).array()[0].toObject()[u"id"].toString();
    source.json({QStringLiteral("review"), card, QStringLiteral("3")});

    const QString backup = source.path(QStringLiteral("backup.quenda"));
    const QString deckPackage = source.path(QStringLiteral("mazzo.quenda"));
    const QString csv = source.path(QStringLiteral("STORIA.CSV"));
    EXPECT_EQ(source.json({QStringLiteral("export-backup"), backup}).object()[u"file"].toString(), backup);
    source.json({QStringLiteral("export-deck"), deck, deckPackage});
    source.json({QStringLiteral("export-csv"), deck, csv});

    const QJsonObject backupSummary = inspect(source, backup);
    EXPECT_EQ(backupSummary, (QJsonObject{{"kind", "backup"},
                                          {"filename", "backup.quenda"},
                                          {"decks", 1},
                                          {"notes", 2},
                                          {"cards", 4},
                                          {"reviews", 1},
                                          {"media", 0}}));
    const QJsonObject deckSummary = inspect(source, deckPackage);
    EXPECT_EQ(deckSummary[u"kind"].toString(), QStringLiteral("deck"));
    EXPECT_EQ(deckSummary[u"reviews"].toInt(), 0);
    EXPECT_EQ(deckSummary[u"cards"].toInt(), 4);

    // The deck package first; the CSV file then names the same deck (in other letter case) and merges.
    CliLibrary target;
    EXPECT_EQ(target.json({QStringLiteral("import"), deckPackage}).object()[u"notes"].toInt(), 2);
    EXPECT_EQ(target.json({QStringLiteral("import"), csv}).object()[u"kind"].toString(), QStringLiteral("deck"));
    QJsonObject counts = target.json({QStringLiteral("status")}).object();
    EXPECT_EQ(counts[u"decks"].toInt(), 1);
    EXPECT_EQ(counts[u"notes"].toInt(), 2);
    EXPECT_EQ(counts[u"reviews"].toInt(), 0);

    // Restoring the backup brings back the library with its identity and history.
    target.json({QStringLiteral("import"), backup, QStringLiteral("--replace")});
    counts = target.json({QStringLiteral("status")}).object();
    EXPECT_EQ(counts[u"libraryID"], source.json({QStringLiteral("status")}).object()[u"libraryID"]);
    EXPECT_EQ(counts[u"reviews"].toInt(), 1);
    EXPECT_EQ(counts[u"cards"].toInt(), 4);
}
