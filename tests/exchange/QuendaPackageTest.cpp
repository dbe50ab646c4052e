#include "exchange/QuendaPackage.h"

#include "core/RecordJson.h"
#include "exchange/PackageFixtures.h"
#include "support/QtPrinters.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <functional>

using namespace packagefixtures;
using namespace zipfixtures;

namespace {

Instant now() {
    return Instant::fromUnixMilliseconds(double(QDateTime::currentMSecsSinceEpoch()));
}

class QuendaPackageTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_mediaDirectory = m_dir.filePath("Media");
        storeImage(m_mediaDirectory, m_library.photo);
        storeImage(m_mediaDirectory, m_library.diagram);
    }

    QString pathOf(const QString& name) const { return m_dir.filePath(name); }
    QUrl urlOf(const QString& name) const { return QUrl::fromLocalFile(pathOf(name)); }

    QString write(const LibrarySnapshot& snapshot, PackageKind kind, const QString& name = "out.quenda") {
        QuendaPackage::write(snapshot, kind, m_mediaDirectory, urlOf(name));
        return pathOf(name);
    }

    /// A valid backup package taken apart.
    Parts validParts() { return partsOf(write(m_library.snapshot, PackageKind::backup, "valid.quenda")); }

    QUrl store(const QByteArray& zip, const QString& name = "crafted.quenda") {
        writeFile(pathOf(name), zip);
        return urlOf(name);
    }

    static QuendaError errorOf(const std::function<void()>& action) {
        try {
            action();
        } catch (const QuendaError& error) {
            return error;
        } catch (const PlatformError& error) {
            ADD_FAILURE() << "platform error: " << error.what();
        }
        ADD_FAILURE() << "no error";
        return QuendaError::missingRecord();
    }

    QuendaError readError(const QByteArray& zip) {
        const QUrl url = store(zip);
        return errorOf([&] { QuendaPackage::read(url); });
    }

    QStringList leftovers() const {
        return QDir(m_dir.path()).entryList({".quenda-export-*"}, QDir::Files | QDir::Hidden);
    }

    QTemporaryDir m_dir;
    QString m_mediaDirectory;
    Library m_library = library();
};

QuendaError invalid(const char* message) {
    return QuendaError::invalidContent(QString::fromUtf8(message));
}

TEST_F(QuendaPackageTest, BackupKeepsEverythingExactly) {
    const QString path = write(m_library.snapshot, PackageKind::backup);
    const ImportedPackage package = QuendaPackage::read(QUrl::fromLocalFile(path));
    EXPECT_EQ(package.kind, PackageKind::backup);
    EXPECT_EQ(package.snapshot, m_library.snapshot);
    EXPECT_EQ(package.media, (QMap<QString, QByteArray>{{m_library.photo.identifier, m_library.photo.bytes},
                                                        {m_library.diagram.identifier, m_library.diagram.bytes}}));

    // Layout: manifest, library, then the images in ascending order, stored as they are.
    const ZipArchive archive = ZipArchive::open(path);
    QStringList paths;
    for (const auto& entry : archive.entries()) {
        EXPECT_EQ(entry.kind, ZipArchive::EntryKind::file);
        paths.append(entry.path);
    }
    QStringList images{m_library.photo.identifier, m_library.diagram.identifier};
    images.sort();
    EXPECT_EQ(paths, (QStringList{"manifest.json", "library.json", "media/" + images[0], "media/" + images[1]}));
    EXPECT_TRUE(readFile(path).contains(m_library.photo.bytes));

    Parts parts = partsOf(path);
    const QuendaPackage::Manifest manifest = parts.manifest();
    EXPECT_EQ(manifest.format, "quenda");
    EXPECT_EQ(manifest.version, 2);
    EXPECT_EQ(manifest.kind, PackageKind::backup);
    EXPECT_EQ(manifest.deckCount, 2);
    EXPECT_EQ(manifest.noteCount, 3);
    EXPECT_EQ(manifest.cardCount, m_library.snapshot.cards.size());
    EXPECT_EQ(manifest.reviewCount, 2);
    EXPECT_EQ(manifest.mediaCount, 2);
    EXPECT_EQ(manifest.librarySHA256, MediaIdentifier::digest(parts["library.json"]));
    // Sorted keys, no whitespace, milliseconds since 1970.
    EXPECT_TRUE(parts["manifest.json"].startsWith("{\"cardCount\":"));
    EXPECT_TRUE(parts["library.json"].startsWith("{\"cards\":[{\"deckID\":"));
    EXPECT_EQ(RecordJson::decode<LibrarySnapshot>(parts["library.json"], JsonForm::package), m_library.snapshot);
}

TEST_F(QuendaPackageTest, VersionFollowsFormattedDocuments) {
    LibrarySnapshot plain = m_library.snapshot;
    plain.notes[2].frontDocument.reset();
    EXPECT_EQ(partsOf(write(plain, PackageKind::backup)).manifest().version, 1);

    // A package claiming version 1 while holding a formatted note is refused.
    Parts parts = validParts();
    auto manifest = parts.manifest();
    manifest.version = 1;
    parts.setManifest(manifest);
    EXPECT_EQ(readError(parts.zip()),
              invalid("Il pacchetto contiene documenti ricchi ma dichiara un formato precedente."));
}

TEST_F(QuendaPackageTest, DeckPackageCarriesNoPersonalProgress) {
    const Instant before = now();
    const QString path = write(m_library.snapshot, PackageKind::deck);
    Parts parts = partsOf(path);
    EXPECT_EQ(parts.manifest().reviewCount, 0);
    EXPECT_FALSE(parts["library.json"].contains("\"isSuspended\":true"));
    EXPECT_TRUE(parts["library.json"].contains("\"dailyNewLimit\":10"));

    // Even a deck package that carries progress comes back fresh, due at reading time.
    auto manifest = parts.manifest();
    Parts withProgress = validParts();
    manifest = withProgress.manifest();
    manifest.kind = PackageKind::deck;
    withProgress.setManifest(manifest);
    const QUrl url = store(withProgress.zip());
    const Instant reading = now();
    const ImportedPackage package = QuendaPackage::read(url);
    EXPECT_EQ(package.kind, PackageKind::deck);
    EXPECT_TRUE(package.snapshot.reviews.isEmpty());
    EXPECT_EQ(package.snapshot.preferences, (StudyPreferences{10, 0.9}));
    EXPECT_EQ(package.snapshot.decks, m_library.snapshot.decks);
    EXPECT_EQ(package.snapshot.notes, m_library.snapshot.notes);
    ASSERT_EQ(package.snapshot.cards.size(), m_library.snapshot.cards.size());
    for (qsizetype i = 0; i < package.snapshot.cards.size(); ++i) {
        const Flashcard& card = package.snapshot.cards[i];
        EXPECT_EQ(card.id, m_library.snapshot.cards[i].id);
        EXPECT_EQ(card.ordinal, m_library.snapshot.cards[i].ordinal);
        EXPECT_FALSE(card.isSuspended);
        EXPECT_EQ(card.memory, MemoryState::newCard(card.memory.due));
        EXPECT_GE(card.memory.due, reading);
        EXPECT_GE(card.memory.due, before);
    }
}

TEST_F(QuendaPackageTest, WriteRefusesInvalidLibraries) {
    struct Case {
        const char* name;
        std::function<void(LibrarySnapshot&)> change;
        const char* message;
    };
    const std::vector<Case> cases{
        {"retention 0.5", [](auto& s) { s.preferences.desiredRetention = 0.5; },
         "Le preferenze di studio del pacchetto non sono valide."},
        {"duplicate deck", [](auto& s) { s.decks.append(s.decks[0]); },
         "Il pacchetto contiene identificativi duplicati."},
        {"blank deck name", [](auto& s) { s.decks[1].name = " \n"; }, "Un mazzo non è valido."},
        {"note of a missing deck", [](auto& s) { s.notes[1].deckID = id(99); },
         "Una carta fa riferimento a un mazzo mancante."},
        {"document differs from text", [](auto& s) { s.notes[2].front += "!"; },
         "Il testo di una carta non corrisponde al suo documento formattato."},
        {"missing cloze card", [](auto& s) { s.cards.removeLast(); },
         "Gli esercizi di una carta non corrispondono al suo contenuto."},
        {"extra ordinal", [](auto& s) { s.cards.append(s.cards[0]); s.cards.last().id = id(98); s.cards.last().ordinal = 1; },
         "Gli esercizi di una carta non corrispondono al suo contenuto."},
        {"card in the wrong deck", [](auto& s) { s.cards[0].deckID = id(11); },
         "Un esercizio fa riferimento a un contenuto mancante."},
        {"lapses above reps", [](auto& s) { s.cards[0].memory.lapses = 5; },
         "Lo stato di apprendimento di una carta non è valido."},
        {"reviewed without history", [](auto& s) { s.cards[0].memory.lastReview.reset(); },
         "La cronologia di una carta nel pacchetto è incompleta."},
        {"review in the year 3001", [](auto& s) { s.reviews[0].reviewedAt = Instant::fromUnixSeconds(32'535'216'000); },
         "Lo storico dei ripassi non è valido."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LibrarySnapshot snapshot = m_library.snapshot;
        c.change(snapshot);
        EXPECT_EQ(errorOf([&] { write(snapshot, PackageKind::backup); }), invalid(c.message));
    }
    EXPECT_FALSE(QFileInfo::exists(pathOf("out.quenda")));
    EXPECT_TRUE(leftovers().isEmpty());

    // Retention 0.95 is within the package's range, and a plain text in another normalization form than
    // its document ("Perù" decomposed) is the same text.
    LibrarySnapshot snapshot = m_library.snapshot;
    snapshot.preferences.desiredRetention = 0.95;
    snapshot.notes[2].front = snapshot.notes[2].front.normalized(QString::NormalizationForm_D);
    ASSERT_NE(snapshot.notes[2].front, snapshot.notes[2].frontDocument->sourceText());
    EXPECT_EQ(QuendaPackage::read(QUrl::fromLocalFile(write(snapshot, PackageKind::backup))).snapshot, snapshot);
}

TEST_F(QuendaPackageTest, WriteChecksImageFiles) {
    const QString photoPath = QDir(m_mediaDirectory).filePath(m_library.photo.identifier);
    const QuendaError notValid = QuendaError::invalidContent(
        QStringLiteral("L’immagine %1 non è un file valido o supera 32 MB.").arg(m_library.photo.identifier));

    writeFile(photoPath, "not the image");
    EXPECT_EQ(errorOf([&] { write(m_library.snapshot, PackageKind::backup); }),
              invalid("Un’immagine nel pacchetto è danneggiata o supera 32 MB."));

    QFile::remove(photoPath);
    EXPECT_THROW(write(m_library.snapshot, PackageKind::backup), PlatformError);

    ASSERT_TRUE(QFile::link(pathOf("elsewhere.png"), photoPath));
    writeFile(pathOf("elsewhere.png"), m_library.photo.bytes);
    EXPECT_EQ(errorOf([&] { write(m_library.snapshot, PackageKind::backup); }), notValid);

    QFile::remove(photoPath);
    writeFile(photoPath, {});
    EXPECT_EQ(errorOf([&] { write(m_library.snapshot, PackageKind::backup); }), notValid);

    QFile::remove(photoPath);
    QDir().mkpath(photoPath);
    EXPECT_EQ(errorOf([&] { write(m_library.snapshot, PackageKind::backup); }), notValid);
}

TEST_F(QuendaPackageTest, WriteReplacesAFileButNeverAFolderOrLink) {
    writeFile(pathOf("out.quenda"), "old content");
    write(m_library.snapshot, PackageKind::backup);
    EXPECT_EQ(QuendaPackage::read(urlOf("out.quenda")).snapshot, m_library.snapshot);

    const QuendaError refused = invalid("La destinazione non è un file normale. Scegli un’altra posizione.");
    QDir().mkpath(pathOf("folder.quenda"));
    EXPECT_EQ(errorOf([&] { write(m_library.snapshot, PackageKind::backup, "folder.quenda"); }), refused);
    writeFile(pathOf("target"), "kept");
    ASSERT_TRUE(QFile::link(pathOf("target"), pathOf("link.quenda")));
    EXPECT_EQ(errorOf([&] { write(m_library.snapshot, PackageKind::backup, "link.quenda"); }), refused);
    EXPECT_EQ(readFile(pathOf("target")), "kept");

    EXPECT_EQ(errorOf([&] {
                  QuendaPackage::write(m_library.snapshot, PackageKind::backup, m_mediaDirectory,
                                       QUrl("https://example.com/out.quenda"));
              }),
              invalid("Scegli una destinazione locale per il file."));
    EXPECT_TRUE(leftovers().isEmpty());
}

TEST_F(QuendaPackageTest, ReadRefusesWhatIsNotAPackageFile) {
    EXPECT_EQ(errorOf([&] { QuendaPackage::read(QUrl("https://example.com/a.quenda")); }),
              invalid("Il pacchetto deve essere un file locale."));
    QDir().mkpath(pathOf("folder"));
    EXPECT_EQ(errorOf([&] { QuendaPackage::read(urlOf("folder")); }),
              invalid("Il pacchetto non è valido o supera 256 MB."));
    const QString valid = write(m_library.snapshot, PackageKind::backup);
    ASSERT_TRUE(QFile::link(valid, pathOf("link.quenda")));
    EXPECT_EQ(errorOf([&] { QuendaPackage::read(urlOf("link.quenda")); }),
              invalid("Il pacchetto non è valido o supera 256 MB."));
    EXPECT_THROW(QuendaPackage::read(urlOf("missing.quenda")), PlatformError);
    EXPECT_THROW(QuendaPackage::read(store("not a zip archive")), PlatformError);
    const QByteArray whole = readFile(valid);
    EXPECT_THROW(QuendaPackage::read(store(whole.left(whole.size() - 30))), PlatformError);
}

TEST_F(QuendaPackageTest, ReadRefusesHostileEntriesBeforeExtracting) {
    const Parts valid = validParts();
    const auto withExtra = [&](RawEntry extra, bool first = false) {
        QList<RawEntry> raw;
        for (const auto& [name, bytes] : valid.entries)
            raw.append({.name = name.toUtf8(), .data = bytes});
        if (first)
            raw.prepend(extra);
        else
            raw.append(extra);
        return buildZip(raw);
    };
    const QByteArray upper = ("media/" + m_library.photo.identifier.toUpper()).toUtf8();
    struct Case {
        const char* name;
        QByteArray zip;
        const char* message;
    };
    const std::vector<Case> cases{
        {"directory", withExtra({.name = "media/", .data = ""}), "Il pacchetto contiene un tipo di file non consentito."},
        {"symbolic link", withExtra({.name = "library.json", .data = "/etc/passwd", .externalAttributes = kSymbolicLink}, true),
         "Il pacchetto contiene un tipo di file non consentito."},
        {"parent", withExtra({.name = "../x", .data = "x"}), "Il pacchetto contiene percorsi non consentiti."},
        {"absolute", withExtra({.name = "/library.json", .data = "x"}), "Il pacchetto contiene percorsi non consentiti."},
        {"backslash", withExtra({.name = "media\\x.png", .data = "x"}), "Il pacchetto contiene percorsi non consentiti."},
        {"other file", withExtra({.name = "readme.txt", .data = "x"}), "Il pacchetto contiene percorsi non consentiti."},
        {"dot dot in media", withExtra({.name = "media/../library.json", .data = "x"}),
         "Il nome di un’immagine nel pacchetto non è valido."},
        {"upper-case identifier", withExtra({.name = upper, .data = "x"}),
         "Il nome di un’immagine nel pacchetto non è valido."},
        {"duplicate manifest", withExtra({.name = "manifest.json", .data = "{}"}), "Il pacchetto contiene file duplicati."},
        {"manifest declared at 65537", withExtra({.name = "manifest.json", .data = "{}", .declaredSize = 65'537}, true),
         "Un file nel pacchetto supera il limite consentito."},
        {"image declared above 32 MiB", withExtra({.name = ("media/" + image("big").identifier).toUtf8(), .data = "x", .declaredSize = (32u << 20) + 1}),
         "Un file nel pacchetto supera il limite consentito."},
        {"missing library", buildZip({{.name = "manifest.json", .data = valid.entries[0].second}}),
         "Questo file non contiene un pacchetto Quenda completo."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(readError(c.zip), invalid(c.message));
    }

    // Nine images each declared at 32 MiB: more than 256 MiB in total, although the file is tiny.
    QList<RawEntry> heavy;
    for (int i = 0; i < 9; ++i)
        heavy.append({.name = ("media/" + image(QByteArray::number(i)).identifier).toUtf8(), .data = "x",
                      .declaredSize = 32u << 20});
    EXPECT_EQ(readError(buildZip(heavy)), invalid("Il contenuto del pacchetto supera 256 MB."));
}

TEST_F(QuendaPackageTest, ReadRefusesMoreThan10002Entries) {
    const QString path = pathOf("many.quenda");
    {
        ZipArchive archive = ZipArchive::create(path);
        const QByteArray byte("x");
        for (int i = 0; i < 10'003; ++i)
            archive.addFile("media/" + image(QByteArray::number(i)).identifier, byte, Instant(),
                            ZipArchive::Compression::stored);
        archive.commit();
    }
    EXPECT_EQ(errorOf([&] { QuendaPackage::read(QUrl::fromLocalFile(path)); }),
              invalid("Il pacchetto contiene troppi file."));
}

TEST_F(QuendaPackageTest, ReadRefusesInconsistentContent) {
    struct Case {
        const char* name;
        std::function<void(Parts&)> change;
        QuendaError error;
    };
    const auto manifestChange = [](std::function<void(QuendaPackage::Manifest&)> change) {
        return [change](Parts& parts) {
            auto manifest = parts.manifest();
            change(manifest);
            parts.setManifest(manifest);
        };
    };
    const QuendaError incompatible = QuendaError::incompatibleFormat(
        "Questo pacchetto usa una versione di Quenda non supportata. Aggiorna l’app e riprova.");
    const std::vector<Case> cases{
        {"manifest not JSON", [](Parts& p) { p["manifest.json"] = "{\"format\":"; },
         invalid("Il manifest del pacchetto non è leggibile.")},
        {"manifest without a key",
         [](Parts& p) { p["manifest.json"].replace("\"mediaCount\":2,", ""); },
         invalid("Il manifest del pacchetto non è leggibile.")},
        {"manifest with an unknown kind", [](Parts& p) { p["manifest.json"].replace("\"backup\"", "\"all\""); },
         invalid("Il manifest del pacchetto non è leggibile.")},
        {"version 3", manifestChange([](auto& m) { m.version = 3; }), incompatible},
        {"other format", manifestChange([](auto& m) { m.format = "other"; }), incompatible},
        {"library changed", [](Parts& p) { p["library.json"].replace("Roma", "Rome"); },
         invalid("Il contenuto del pacchetto è danneggiato.")},
        {"library not a snapshot", [](Parts& p) { p.setLibrary("{\"decks\":[]}"); },
         invalid("La libreria nel pacchetto non è leggibile.")},
        {"library invalid", [](Parts& p) { p.setLibrary(QByteArray(p["library.json"]).replace("Geografia", " ")); },
         invalid("Un mazzo non è valido.")},
        {"counts", manifestChange([](auto& m) { m.cardCount += 1; }),
         invalid("I conteggi del pacchetto non corrispondono ai suoi contenuti.")},
        {"media count", manifestChange([](auto& m) { m.mediaCount = 3; }),
         invalid("Le immagini del pacchetto sono mancanti o non corrispondono alle carte.")},
        {"unused image", [](Parts& p) { p["media/" + image("unused").identifier] = image("unused").bytes; },
         invalid("Le immagini del pacchetto sono mancanti o non corrispondono alle carte.")},
        {"missing image", [](Parts& p) { p.entries.removeLast(); },
         invalid("Le immagini del pacchetto sono mancanti o non corrispondono alle carte.")},
        {"image of other content", [](Parts& p) { p.entries.last().second += "x"; },
         invalid("Un’immagine nel pacchetto è danneggiata o supera 32 MB.")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Parts parts = validParts();
        c.change(parts);
        EXPECT_EQ(readError(parts.zip()), c.error);
    }
}

TEST_F(QuendaPackageTest, ReadRefusesEntriesWhoseBytesDoNotMatchTheirDirectory) {
    const QString valid = write(m_library.snapshot, PackageKind::backup);
    const QByteArray honest = readFile(valid);
    const qsizetype librarySize = partsOf(valid)["library.json"].size();
    struct Case {
        const char* name;
        QByteArray entry;
        int localOffset, centralOffset;
        std::uint32_t value;
        const char* message;
    };
    const QByteArray image = ("media/" + m_library.photo.identifier).toUtf8();
    const std::vector<Case> cases{
        {"library larger than declared", "library.json", kLocalUncompressedSize, kCentralUncompressedSize, 100,
         "Il contenuto decompresso supera la dimensione dichiarata."},
        {"image larger than declared", image, kLocalUncompressedSize, kCentralUncompressedSize, 10,
         "Il contenuto decompresso supera la dimensione dichiarata."},
        {"library smaller than declared", "library.json", kLocalUncompressedSize, kCentralUncompressedSize,
         std::uint32_t(librarySize + 1000), "Un file nel pacchetto è danneggiato."},
        {"library CRC", "library.json", kLocalCRC, kCentralCRC, 0x12345678, "Un file nel pacchetto è danneggiato."},
        {"image CRC", image, kLocalCRC, kCentralCRC, 0x12345678, "Un file nel pacchetto è danneggiato."},
        {"manifest CRC", "manifest.json", kLocalCRC, kCentralCRC, 0x12345678, "Un file nel pacchetto è danneggiato."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QByteArray zip = honest;
        ASSERT_EQ(patchField(zip, c.entry, c.localOffset, c.centralOffset, c.value), 2);
        EXPECT_EQ(readError(zip), invalid(c.message));
    }
}

// Large images are hashed while the next one is extracted; the first failing image still decides.
TEST_F(QuendaPackageTest, ImageChecksFailInOrderWhileHashingOverlaps) {
    const Image first = image(QByteArray(6000, 'a')), second = image(QByteArray(6000, 'b'));
    ASSERT_GE(first.bytes.size(), 1 << 18);
    storeImage(m_mediaDirectory, first);
    storeImage(m_mediaDirectory, second);
    LibrarySnapshot snapshot = m_library.snapshot;
    snapshot.notes[0].imageID = first.identifier;
    snapshot.notes[2].frontDocument->runs[1].imageID = second.identifier;
    const Parts parts = partsOf(write(snapshot, PackageKind::backup));
    EXPECT_EQ(QuendaPackage::read(urlOf("out.quenda")).snapshot, snapshot);

    const QString earlier = std::min(first.identifier, second.identifier);
    const auto zipWith = [&](bool damageEarlier) {
        QList<RawEntry> raw;
        for (const auto& [name, bytes] : parts.entries) {
            RawEntry entry{.name = name.toUtf8(), .data = bytes, .deflate = !name.startsWith("media/")};
            if (name == "media/" + earlier && damageEarlier)
                entry.data[100] = 'z';
            else if (name.startsWith("media/") && name != "media/" + earlier)
                entry.crc = 0x12345678;
            raw.append(entry);
        }
        return buildZip(raw);
    };
    EXPECT_EQ(readError(zipWith(true)), invalid("Un’immagine nel pacchetto è danneggiata o supera 32 MB."));
    EXPECT_EQ(readError(zipWith(false)), invalid("Un file nel pacchetto è danneggiato."));
}

// A library entry that inflates to 2 GiB while declaring the largest size allowed, read in a child process
// whose address space may grow by 512 MiB at most: the reader must stop at the declared 32 MiB.
TEST_F(QuendaPackageTest, ZipBombIsRefusedInBoundedMemory) {
    Parts parts = validParts();
    QList<RawEntry> raw{{.name = "manifest.json", .data = parts["manifest.json"]},
                        {.name = "library.json", .declaredSize = 32u << 20, .crc = 0, .compressed = zeroBomb(2048)}};
    const QUrl url = store(buildZip(raw));
    EXPECT_EXIT(
        {
            struct rlimit limit;
            getrlimit(RLIMIT_AS, &limit);
            QFile status("/proc/self/statm");
            status.open(QIODevice::ReadOnly);
            const rlim_t pages = status.readAll().split(' ').at(0).toULongLong();
            limit.rlim_cur = pages * rlim_t(sysconf(_SC_PAGESIZE)) + (rlim_t(512) << 20);
            setrlimit(RLIMIT_AS, &limit);
            try {
                QuendaPackage::read(url);
            } catch (const QuendaError& error) {
                std::_Exit(error == invalid("Il contenuto decompresso supera la dimensione dichiarata.") ? 7 : 1);
            } catch (...) {
                std::_Exit(2);
            }
            std::_Exit(3);
        },
        ::testing::ExitedWithCode(7), "");
}

} // namespace
