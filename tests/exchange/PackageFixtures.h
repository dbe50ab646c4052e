#pragma once

// A small library with every kind of content a package carries, and helpers to take a written package
// apart and put it back together with one thing changed.

#include "core/CardFactory.h"
#include "core/LibraryRecords.h"
#include "core/MediaIdentifier.h"
#include "exchange/QuendaPackage.h"
#include "exchange/ZipArchive.h"
#include "exchange/ZipFixtures.h"

#include <QCryptographicHash>
#include <QDir>
#include <QString>

namespace packagefixtures {

/// An instant on a whole millisecond, so that it survives the package's millisecond dates exactly.
inline Instant at(double unixSeconds) {
    return Instant::fromUnixMilliseconds(unixSeconds * 1000);
}

inline Uuid id(int n) {
    Uuid::Bytes bytes{};
    bytes[15] = std::uint8_t(n);
    bytes[14] = std::uint8_t(n >> 8);
    bytes[6] = 0x40;
    bytes[8] = 0x80;
    return Uuid(bytes);
}

/// Image bytes (the package does not probe the format) and their identifier.
struct Image {
    QByteArray bytes;
    QString identifier;
};

inline Image image(const QByteArray& seed, const QString& extension = QStringLiteral("png")) {
    QByteArray bytes = "\x89PNG\r\n\x1a\n" + seed.repeated(50);
    return {bytes, MediaIdentifier::digest(bytes) + u'.' + extension};
}

inline void storeImage(const QString& mediaDirectory, const Image& image) {
    QDir().mkpath(mediaDirectory);
    zipfixtures::writeFile(QDir(mediaDirectory).filePath(image.identifier), image.bytes);
}

inline MemoryState reviewedState(double dueSeconds) {
    return MemoryState{.due = at(dueSeconds),
                       .stability = 3.5,
                       .difficulty = 5.25,
                       .elapsedDays = 1,
                       .scheduledDays = 3,
                       .learningSteps = 0,
                       .reps = 2,
                       .lapses = 1,
                       .stage = MemoryStage::review,
                       .lastReview = at(1'700'000'000)};
}

/// Two decks; a basic note with an image, a reversed note, a cloze note with a formatted front that
/// shows a second image; cards with progress, one suspended; two reviews, one undone.
struct Library {
    LibrarySnapshot snapshot;
    Image photo = image("photo");
    Image diagram = image("diagram", QStringLiteral("jpg"));
};

inline Library library() {
    Library library;
    LibrarySnapshot& s = library.snapshot;
    s.libraryID = id(1);
    s.preferences = {.dailyNewLimit = 25, .desiredRetention = 0.85};
    s.decks = {Deck{id(10), "Geografia", "Capitali", "globe", "4F5FE7", at(1'600'000'000), at(1'600'000'100)},
               Deck{id(11), "Storia", "", "book", "E74F5F", at(1'600'000'000), at(1'600'000'000)}};

    Note basic{.id = id(20), .deckID = id(10), .kind = NoteKind::basic, .front = "Capitale d’Italia?", .back = "Roma"};
    basic.tags = {"capitali", "europa"};
    basic.imageID = library.photo.identifier;
    Note reversed{.id = id(21), .deckID = id(11), .kind = NoteKind::reversed, .front = "1492", .back = "Colombo"};

    RichTextDocument front;
    front.runs = {RichTextRun{.text = "La capitale del Giappone è {{c1::Tokyo}} "},
                  RichTextRun{.text = QString(kObjectReplacementCharacter), .imageID = library.diagram.identifier},
                  RichTextRun{.text = " e del Perù {{c2::Lima}}", .bold = true}};
    Note cloze{.id = id(22), .deckID = id(10), .kind = NoteKind::cloze, .front = front.sourceText(), .back = ""};
    cloze.frontDocument = front;
    s.notes = {basic, reversed, cloze};
    for (Note& note : s.notes) {
        note.createdAt = at(1'650'000'000);
        note.updatedAt = at(1'650'000'500);
    }

    int next = 30;
    for (const Note& note : s.notes) {
        for (Flashcard card : CardFactory::cards(note, {}, at(1'650'000'000))) {
            card.id = id(next++);
            s.cards.append(card);
        }
    }
    s.cards[0].memory = reviewedState(1'700'300'000);
    s.cards[1].isSuspended = true;

    s.reviews = {ReviewEvent{.id = id(60),
                             .cardID = s.cards[0].id,
                             .reviewedAt = at(1'700'000'000),
                             .rating = ReviewRating::good,
                             .before = MemoryState::newCard(at(1'650'000'000)),
                             .after = reviewedState(1'700'300'000),
                             .algorithm = "fsrs-6-default-v1",
                             .retention = 0.85},
                 ReviewEvent{.id = id(61),
                             .cardID = s.cards[0].id,
                             .reviewedAt = at(1'700'000'050),
                             .rating = ReviewRating::again,
                             .before = reviewedState(1'700'300'000),
                             .after = reviewedState(1'700'000'650),
                             .algorithm = "fsrs-6-default-v1",
                             .retention = 0.85,
                             .undoneAt = at(1'700'000'060)}};
    return library;
}

/// The entries of a package, by path, in archive order.
struct Parts {
    QList<std::pair<QString, QByteArray>> entries;

    QByteArray& operator[](const QString& path) {
        for (auto& [name, bytes] : entries)
            if (name == path)
                return bytes;
        entries.append({path, {}});
        return entries.last().second;
    }

    QuendaPackage::Manifest manifest() { return QuendaPackage::decodeManifest((*this)["manifest.json"]); }
    void setManifest(const QuendaPackage::Manifest& manifest) {
        (*this)["manifest.json"] = QuendaPackage::encodeManifest(manifest);
    }
    /// Replaces the library and updates the manifest's digest to match.
    void setLibrary(const QByteArray& library) {
        (*this)["library.json"] = library;
        auto m = manifest();
        m.librarySHA256 = QString::fromLatin1(QCryptographicHash::hash(library, QCryptographicHash::Sha256).toHex());
        setManifest(m);
    }

    QByteArray zip() const {
        QList<zipfixtures::RawEntry> raw;
        for (const auto& [name, bytes] : entries)
            raw.append({.name = name.toUtf8(), .data = bytes, .deflate = !name.startsWith("media/")});
        return zipfixtures::buildZip(raw);
    }
};

inline Parts partsOf(const QString& packagePath) {
    Parts parts;
    const ZipArchive archive = ZipArchive::open(packagePath);
    for (const auto& entry : archive.entries()) {
        QByteArray bytes;
        archive.extract(entry, entry.declaredSize, [&bytes](QByteArrayView chunk) { bytes += chunk; });
        parts.entries.append({entry.path, bytes});
    }
    return parts;
}

} // namespace packagefixtures
