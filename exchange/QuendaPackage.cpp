#include "exchange/QuendaPackage.h"

#include "core/CardFactory.h"
#include "core/JsonWriter.h"
#include "core/MediaIdentifier.h"
#include "core/QuendaError.h"
#include "core/RecordJson.h"
#include "exchange/ZipArchive.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSet>

#include <simdjson.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <future>
#include <optional>

namespace QuendaPackage {

namespace {

const QString kManifestPath = QStringLiteral("manifest.json");
const QString kLibraryPath = QStringLiteral("library.json");
const QString kMediaPrefix = QStringLiteral("media/");

[[noreturn]] void refuse(const char* message) {
    throw QuendaError::invalidContent(QString::fromUtf8(message));
}

Instant currentTime() {
    return Instant::fromUnixMilliseconds(double(QDateTime::currentMSecsSinceEpoch()));
}

[[noreturn]] void throwSystemError(const QString& path, int error) {
    throw PlatformError(QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(path), qt_error_string(error)));
}

/// lstat, or nothing when nothing is there; any other failure is the platform's.
std::optional<struct stat> linkStatus(const QString& path) {
    struct stat status;
    if (::lstat(QFile::encodeName(path).constData(), &status) == 0)
        return status;
    if (errno == ENOENT)
        return std::nullopt;
    throwSystemError(path, errno);
}

struct stat requiredLinkStatus(const QString& path) {
    struct stat status;
    if (::lstat(QFile::encodeName(path).constData(), &status) != 0)
        throwSystemError(path, errno);
    return status;
}

void syncPath(const QString& path, int flags) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | flags);
    if (fd < 0)
        throwSystemError(path, errno);
    const int result = ::fsync(fd);
    const int error = errno;
    ::close(fd);
    if (result != 0)
        throwSystemError(path, error);
}

QString sha256Hex(QByteArrayView bytes) {
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

bool isDateInRange(Instant instant) {
    return instant.isFinite() && std::fabs(instant.unixSeconds()) <= kMaxDateSecondsFrom1970;
}

bool isDateInRange(const std::optional<Instant>& instant) {
    return !instant || isDateInRange(*instant);
}

bool isFiniteAndNotNegative(double value) {
    return std::isfinite(value) && value >= 0;
}

bool sameText(const QString& a, const QString& b) {
    return a == b || a.normalized(QString::NormalizationForm_D) == b.normalized(QString::NormalizationForm_D);
}

void validateDocument(const std::optional<RichTextDocument>& document, const QString& text) {
    if (!document)
        return;
    document->validate();
    if (!sameText(document->sourceText(), text))
        refuse("Il testo di una carta non corrisponde al suo documento formattato.");
    for (const QString& identifier : document->mediaIDs())
        validateMediaIdentifier(identifier);
}

template <class Record>
bool hasUniqueIdentifiers(const QList<Record>& records) {
    QSet<Uuid> seen;
    seen.reserve(records.size());
    for (const Record& record : records) {
        if (seen.contains(record.id))
            return false;
        seen.insert(record.id);
    }
    return true;
}

QString kindText(PackageKind kind) {
    return kind == PackageKind::deck ? QStringLiteral("deck") : QStringLiteral("backup");
}

// Manifest reading: strict types, every key required.
[[noreturn]] void unreadableManifest(const char* detail) {
    throw PlatformError(QStringLiteral("manifest.json: %1").arg(QString::fromUtf8(detail)));
}

simdjson::dom::element member(const simdjson::dom::object& object, const char* key) {
    simdjson::dom::element element;
    if (object.at_key(key).get(element) != simdjson::SUCCESS)
        unreadableManifest(key);
    return element;
}

QString textMember(const simdjson::dom::object& object, const char* key) {
    std::string_view text;
    if (member(object, key).get_string().get(text) != simdjson::SUCCESS)
        unreadableManifest(key);
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

std::int64_t integerMember(const simdjson::dom::object& object, const char* key) {
    const simdjson::dom::element element = member(object, key);
    switch (element.type()) {
    case simdjson::dom::element_type::INT64:
        return element.get_int64().value_unsafe();
    case simdjson::dom::element_type::DOUBLE: {
        const double value = element.get_double().value_unsafe();
        // 2.0 is the integer 2; 2.5 and values outside the 64-bit range are not integers.
        if (value == std::trunc(value) && value >= -9.2e18 && value <= 9.2e18)
            return std::int64_t(value);
        break;
    }
    default:
        break;
    }
    unreadableManifest(key);
}

double numberMember(const simdjson::dom::object& object, const char* key) {
    double value = 0;
    if (member(object, key).get_double().get(value) != simdjson::SUCCESS)
        unreadableManifest(key);
    return value;
}

/// Extracts an entry into memory, bounded by `limit` and by the entry's declared size.
QByteArray extract(const ZipArchive::Entry& entry, const ZipArchive& archive, std::int64_t limit) {
    const std::uint64_t bound = std::min<std::uint64_t>(std::uint64_t(limit), entry.declaredSize);
    QByteArray bytes;
    bytes.reserve(qsizetype(bound));
    ZipArchive::Extraction extraction;
    try {
        extraction = archive.extract(entry, bound, [&bytes](QByteArrayView chunk) { bytes.append(chunk); });
    } catch (const ZipArchive::EntryTooLarge&) {
        refuse("Il contenuto decompresso supera la dimensione dichiarata.");
    }
    if (extraction.crc != entry.storedCRC || extraction.size != entry.declaredSize)
        refuse("Un file nel pacchetto è danneggiato.");
    return bytes;
}

QByteArray readImage(const QString& path, std::int64_t size) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw PlatformError(QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(path), file.errorString()));
    // One byte more than announced, so that a file that grew since is caught by validateMedia.
    QByteArray bytes = file.read(std::min(size, kMaxImageBytes) + 1);
    if (file.error() != QFileDevice::NoError)
        throw PlatformError(QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(path), file.errorString()));
    return bytes;
}

void writeArchive(const QByteArray& manifest, const QByteArray& library, const QMap<QString, QByteArray>& attachments,
                  Instant now, const QString& to) {
    ZipArchive archive = ZipArchive::create(to);
    archive.addFile(kManifestPath, manifest, now, ZipArchive::Compression::deflate);
    archive.addFile(kLibraryPath, library, now, ZipArchive::Compression::deflate);
    for (auto it = attachments.cbegin(); it != attachments.cend(); ++it)
        archive.addFile(kMediaPrefix + it.key(), it.value(), now, ZipArchive::Compression::stored);
    archive.commit();
}

/// An image read from a package whose digest is being computed.
struct PendingImage {
    QString identifier;
    QByteArray bytes;
    std::future<QString> digest;
};

PendingImage hashInBackground(const QString& identifier, QByteArray bytes) {
    validateMediaIdentifier(identifier);
    // A thread pays off for large images only; small ones are hashed when their check is due.
    const auto policy = bytes.size() >= (1 << 18) ? std::launch::async : std::launch::deferred;
    std::future<QString> digest = std::async(policy, [bytes] { return sha256Hex(bytes); });
    return {identifier, std::move(bytes), std::move(digest)};
}

/// validateMedia, with the digest computed beforehand.
void checkDigest(PendingImage& image) {
    const QString digest = image.digest.get();
    if (image.bytes.size() > kMaxImageBytes || digest != QStringView(image.identifier).left(64))
        refuse("Un’immagine nel pacchetto è danneggiata o supera 32 MB.");
}

/// Removes the file when it goes out of scope, ignoring any error (after the rename it is gone).
struct TemporaryFileRemover {
    QString path;
    ~TemporaryFileRemover() { QFile::remove(path); }
};

} // namespace

LibrarySnapshot withoutPersonalProgress(const LibrarySnapshot& snapshot, Instant now) {
    LibrarySnapshot stripped = snapshot;
    stripped.reviews.clear();
    stripped.preferences = StudyPreferences{.dailyNewLimit = 10, .desiredRetention = 0.9};
    for (Flashcard& card : stripped.cards) {
        card.memory = MemoryState::newCard(now);
        card.isSuspended = false;
    }
    return stripped;
}

void validateMediaIdentifier(const QString& identifier) {
    if (!MediaIdentifier::isValid(identifier))
        refuse("Il nome di un’immagine nel pacchetto non è valido.");
}

void validateMedia(const QByteArray& bytes, const QString& identifier) {
    validateMediaIdentifier(identifier);
    if (bytes.size() > kMaxImageBytes || sha256Hex(bytes) != QStringView(identifier).left(64))
        refuse("Un’immagine nel pacchetto è danneggiata o supera 32 MB.");
}

void validateMemory(const MemoryState& state) {
    const bool inRange = isDateInRange(state.due) && isDateInRange(state.lastReview)
                         && isFiniteAndNotNegative(state.stability) && isFiniteAndNotNegative(state.elapsedDays)
                         && isFiniteAndNotNegative(state.scheduledDays) && isFiniteAndNotNegative(state.difficulty)
                         && state.difficulty <= 10 && state.reps >= 0 && state.lapses >= 0
                         && state.lapses <= state.reps && state.learningSteps >= 0 && state.learningSteps <= 100;
    if (!inRange)
        refuse("Lo stato di apprendimento di una carta non è valido.");
    if (state.stage == MemoryStage::new_)
        return;
    if (!state.lastReview || state.reps <= 0 || state.stability <= 0 || state.difficulty < 1)
        refuse("La cronologia di una carta nel pacchetto è incompleta.");
}

void validate(const LibrarySnapshot& snapshot) {
    if (!hasUniqueIdentifiers(snapshot.decks) || !hasUniqueIdentifiers(snapshot.notes)
        || !hasUniqueIdentifiers(snapshot.cards) || !hasUniqueIdentifiers(snapshot.reviews))
        refuse("Il pacchetto contiene identificativi duplicati.");

    const StudyPreferences& preferences = snapshot.preferences;
    if (preferences.dailyNewLimit < 0 || preferences.dailyNewLimit > 1000 || !(preferences.desiredRetention >= 0.7)
        || !(preferences.desiredRetention <= 0.99))
        refuse("Le preferenze di studio del pacchetto non sono valide.");

    QSet<Uuid> deckIDs;
    for (const Deck& deck : snapshot.decks) {
        if (deck.name.trimmed().isEmpty() || !isDateInRange(deck.createdAt) || !isDateInRange(deck.updatedAt))
            refuse("Un mazzo non è valido.");
        deckIDs.insert(deck.id);
    }

    QHash<Uuid, QList<std::int64_t>> storedOrdinals;
    for (const Flashcard& card : snapshot.cards)
        storedOrdinals[card.noteID].append(card.ordinal);

    const Instant now = currentTime();
    QHash<Uuid, Uuid> noteDecks;
    noteDecks.reserve(snapshot.notes.size());
    for (const Note& note : snapshot.notes) {
        if (!deckIDs.contains(note.deckID) || !isDateInRange(note.createdAt) || !isDateInRange(note.updatedAt))
            refuse("Una carta fa riferimento a un mazzo mancante.");
        if (note.imageID)
            validateMediaIdentifier(*note.imageID);
        validateDocument(note.frontDocument, note.front);
        validateDocument(note.backDocument, note.back);

        const QList<Flashcard> generated = CardFactory::cards(note, {}, now);
        QList<std::int64_t> expected;
        for (const Flashcard& card : generated)
            expected.append(card.ordinal);
        QList<std::int64_t> stored = storedOrdinals.value(note.id);
        std::sort(expected.begin(), expected.end());
        std::sort(stored.begin(), stored.end());
        // Equal sorted lists: as many cards, the same set of ordinals (the generated ones are distinct).
        if (stored != expected)
            refuse("Gli esercizi di una carta non corrispondono al suo contenuto.");
        noteDecks.insert(note.id, note.deckID);
    }

    QSet<Uuid> cardIDs;
    cardIDs.reserve(snapshot.cards.size());
    for (const Flashcard& card : snapshot.cards) {
        const auto note = noteDecks.constFind(card.noteID);
        if (note == noteDecks.cend() || note.value() != card.deckID)
            refuse("Un esercizio fa riferimento a un contenuto mancante.");
        validateMemory(card.memory);
        cardIDs.insert(card.id);
    }

    for (const ReviewEvent& review : snapshot.reviews) {
        if (!cardIDs.contains(review.cardID) || !isDateInRange(review.reviewedAt) || !isDateInRange(review.undoneAt)
            || !(review.retention >= 0.7) || !(review.retention <= 0.99) || review.algorithm.isEmpty())
            refuse("Lo storico dei ripassi non è valido.");
        validateMemory(review.before);
        validateMemory(review.after);
    }
}

QStringList mediaIdentifiers(const QList<Note>& notes) {
    QSet<QString> identifiers;
    for (const Note& note : notes) {
        if (note.imageID)
            identifiers.insert(*note.imageID);
        if (note.frontDocument)
            identifiers.unite(note.frontDocument->mediaIDs());
        if (note.backDocument)
            identifiers.unite(note.backDocument->mediaIDs());
    }
    QStringList sorted(identifiers.cbegin(), identifiers.cend());
    std::sort(sorted.begin(), sorted.end());
    return sorted;
}

bool containsRichDocuments(const QList<Note>& notes) {
    return std::any_of(notes.cbegin(), notes.cend(),
                       [](const Note& note) { return note.frontDocument || note.backDocument; });
}

QByteArray encodeManifest(const Manifest& manifest) {
    JsonWriter writer(JsonWriter::KeyOrder::sorted);
    writer.beginObject();
    writer.key("format");
    writer.string(manifest.format);
    writer.key("version");
    writer.integer(manifest.version);
    writer.key("kind");
    writer.string(kindText(manifest.kind));
    writer.key("createdAt");
    RecordJson::write(writer, manifest.createdAt, JsonForm::package);
    writer.key("deckCount");
    writer.integer(manifest.deckCount);
    writer.key("noteCount");
    writer.integer(manifest.noteCount);
    writer.key("cardCount");
    writer.integer(manifest.cardCount);
    writer.key("reviewCount");
    writer.integer(manifest.reviewCount);
    writer.key("mediaCount");
    writer.integer(manifest.mediaCount);
    writer.key("librarySHA256");
    writer.string(manifest.librarySHA256);
    writer.endObject();
    return writer.take();
}

Manifest decodeManifest(QByteArrayView json) {
    simdjson::dom::parser parser;
    const simdjson::padded_string padded(json.data(), std::size_t(json.size()));
    simdjson::dom::object object;
    if (parser.parse(padded).get_object().get(object) != simdjson::SUCCESS)
        unreadableManifest("not a JSON object");
    Manifest manifest;
    manifest.format = textMember(object, "format");
    manifest.version = integerMember(object, "version");
    const QString kind = textMember(object, "kind");
    if (kind == u"deck")
        manifest.kind = PackageKind::deck;
    else if (kind == u"backup")
        manifest.kind = PackageKind::backup;
    else
        unreadableManifest("kind");
    manifest.createdAt = Instant::fromUnixMilliseconds(numberMember(object, "createdAt"));
    manifest.deckCount = integerMember(object, "deckCount");
    manifest.noteCount = integerMember(object, "noteCount");
    manifest.cardCount = integerMember(object, "cardCount");
    manifest.reviewCount = integerMember(object, "reviewCount");
    manifest.mediaCount = integerMember(object, "mediaCount");
    manifest.librarySHA256 = textMember(object, "librarySHA256");
    return manifest;
}

void write(const LibrarySnapshot& original, PackageKind kind, const QString& mediaDirectory, const QUrl& to) {
    if (!to.isLocalFile())
        refuse("Scegli una destinazione locale per il file.");
    const QString destination = to.toLocalFile();
    const Instant now = currentTime();

    const LibrarySnapshot snapshot = kind == PackageKind::deck ? withoutPersonalProgress(original, now) : original;
    validate(snapshot);

    const QByteArray library = RecordJson::encode(snapshot, JsonForm::package);
    if (library.size() > kMaxLibraryBytes)
        refuse("La libreria supera il limite di 32 MB per questo formato.");

    const QStringList identifiers = mediaIdentifiers(snapshot.notes);
    if (identifiers.size() > kMaxImages)
        refuse("Il pacchetto contiene troppe immagini.");

    std::int64_t total = library.size();
    QMap<QString, QByteArray> attachments;
    const QDir media(mediaDirectory);
    for (const QString& identifier : identifiers) {
        validateMediaIdentifier(identifier);
        const QString path = media.filePath(identifier);
        const struct stat status = requiredLinkStatus(path);
        if (!S_ISREG(status.st_mode) || status.st_size <= 0 || status.st_size > kMaxImageBytes)
            throw QuendaError::invalidContent(
                QStringLiteral("L’immagine %1 non è un file valido o supera 32 MB.").arg(identifier));
        total += status.st_size;
        if (total > kMaxPackageBytes)
            refuse("Il pacchetto supera il limite di 256 MB.");
        QByteArray bytes = readImage(path, status.st_size);
        validateMedia(bytes, identifier);
        attachments.insert(identifier, std::move(bytes));
    }

    Manifest manifest{.format = QStringLiteral("quenda"),
                      .version = containsRichDocuments(snapshot.notes) ? 2 : 1,
                      .kind = kind,
                      .createdAt = now,
                      .deckCount = snapshot.decks.size(),
                      .noteCount = snapshot.notes.size(),
                      .cardCount = snapshot.cards.size(),
                      .reviewCount = snapshot.reviews.size(),
                      .mediaCount = attachments.size(),
                      .librarySHA256 = sha256Hex(library)};
    const QByteArray manifestBytes = encodeManifest(manifest);
    if (manifestBytes.size() + total > kMaxPackageBytes)
        refuse("Il pacchetto supera il limite di 256 MB.");

    if (const auto existing = linkStatus(destination); existing && !S_ISREG(existing->st_mode))
        refuse("La destinazione non è un file normale. Scegli un’altra posizione.");

    const QString folder = QFileInfo(destination).absolutePath();
    const TemporaryFileRemover temporary{
        QDir(folder).filePath(QStringLiteral(".quenda-export-%1.tmp").arg(Uuid::createRandom().toString()))};
    writeArchive(manifestBytes, library, attachments, now, temporary.path);
    // Durable replace: the new content reaches the disk before the rename makes it visible, and the
    // folder's entry for it after.
    syncPath(temporary.path, 0);
    if (::rename(QFile::encodeName(temporary.path).constData(), QFile::encodeName(destination).constData()) != 0)
        throwSystemError(destination, errno);
    syncPath(folder, O_DIRECTORY);
}

ImportedPackage read(const QUrl& from) {
    if (!from.isLocalFile())
        refuse("Il pacchetto deve essere un file locale.");
    const QString path = from.toLocalFile();

    const struct stat status = requiredLinkStatus(path);
    if (!S_ISREG(status.st_mode) || status.st_size < 0 || status.st_size > kMaxPackageBytes)
        refuse("Il pacchetto non è valido o supera 256 MB.");

    const ZipArchive archive = ZipArchive::open(path);

    // Everything about the entries is checked from the directory before a byte is decompressed.
    QHash<QString, ZipArchive::Entry> entries;
    QSet<QString> mediaPaths;
    std::uint64_t total = 0;
    const std::uint64_t entryCount = archive.entryCount();
    for (std::uint64_t index = 0; index < entryCount; ++index) {
        const ZipArchive::Entry entry = archive.entry(index);
        if (entry.kind != ZipArchive::EntryKind::file)
            refuse("Il pacchetto contiene un tipo di file non consentito.");
        const bool isMedia = entry.path.startsWith(kMediaPrefix);
        if (isMedia)
            validateMediaIdentifier(entry.path.mid(kMediaPrefix.size()));
        else if (entry.path != kManifestPath && entry.path != kLibraryPath)
            refuse("Il pacchetto contiene percorsi non consentiti.");
        if (entries.contains(entry.path))
            refuse("Il pacchetto contiene file duplicati.");
        const std::uint64_t limit = entry.path == kManifestPath ? kMaxManifestBytes : kMaxLibraryBytes;
        if (entry.declaredSize > limit)
            refuse("Un file nel pacchetto supera il limite consentito.");
        total += entry.declaredSize;
        if (total > std::uint64_t(kMaxPackageBytes))
            refuse("Il contenuto del pacchetto supera 256 MB.");
        entries.insert(entry.path, entry);
        if (isMedia)
            mediaPaths.insert(entry.path);
        if (entries.size() == kMaxEntries && entryCount > std::uint64_t(kMaxEntries))
            refuse("Il pacchetto contiene troppi file.");
    }
    if (!entries.contains(kManifestPath) || !entries.contains(kLibraryPath))
        refuse("Questo file non contiene un pacchetto Quenda completo.");

    Manifest manifest;
    try {
        manifest = decodeManifest(extract(entries.value(kManifestPath), archive, kMaxManifestBytes));
    } catch (const QuendaError&) {
        throw;
    } catch (const std::exception&) {
        refuse("Il manifest del pacchetto non è leggibile.");
    }
    if (manifest.format != u"quenda" || (manifest.version != 1 && manifest.version != 2))
        throw QuendaError::incompatibleFormat(QStringLiteral(
            "Questo pacchetto usa una versione di Quenda non supportata. Aggiorna l’app e riprova."));

    LibrarySnapshot snapshot;
    {
        const QByteArray library = extract(entries.value(kLibraryPath), archive, kMaxLibraryBytes);
        if (sha256Hex(library) != manifest.librarySHA256)
            refuse("Il contenuto del pacchetto è danneggiato.");
        try {
            snapshot = RecordJson::decode<LibrarySnapshot>(library, JsonForm::package);
        } catch (const std::exception&) {
            refuse("La libreria nel pacchetto non è leggibile.");
        }
    }

    if (manifest.version == 1 && containsRichDocuments(snapshot.notes))
        refuse("Il pacchetto contiene documenti ricchi ma dichiara un formato precedente.");
    validate(snapshot);
    if (!manifest.createdAt.isFinite() || manifest.deckCount != snapshot.decks.size()
        || manifest.noteCount != snapshot.notes.size() || manifest.cardCount != snapshot.cards.size()
        || manifest.reviewCount != snapshot.reviews.size())
        refuse("I conteggi del pacchetto non corrispondono ai suoi contenuti.");

    const QStringList used = mediaIdentifiers(snapshot.notes);
    QSet<QString> expectedPaths;
    for (const QString& identifier : used)
        expectedPaths.insert(kMediaPrefix + identifier);
    if (manifest.mediaCount != used.size() || mediaPaths != expectedPaths)
        refuse("Le immagini del pacchetto sono mancanti o non corrispondono alle carte.");

    // Hashing the images is the largest cost of a read, so each image is hashed on a helper thread while
    // the next one is decompressed. The checks still fail in order: an image's digest is settled before
    // any failure of the images after it is reported.
    ImportedPackage package{.kind = manifest.kind};
    std::optional<PendingImage> pending;
    const auto settle = [&pending, &package] {
        if (!pending)
            return;
        PendingImage image = std::move(*pending);
        pending.reset();
        checkDigest(image);
        package.media.insert(image.identifier, std::move(image.bytes));
    };
    for (const QString& identifier : used) {
        const auto entry = entries.constFind(kMediaPrefix + identifier);
        if (entry == entries.cend()) {
            settle();
            refuse("Un’immagine del pacchetto è mancante.");
        }
        QByteArray bytes;
        try {
            bytes = extract(entry.value(), archive, kMaxImageBytes);
        } catch (...) {
            settle();
            throw;
        }
        settle();
        pending = hashInBackground(identifier, std::move(bytes));
    }
    settle();

    package.snapshot = manifest.kind == PackageKind::deck ? withoutPersonalProgress(snapshot, currentTime())
                                                           : std::move(snapshot);
    return package;
}

} // namespace QuendaPackage
