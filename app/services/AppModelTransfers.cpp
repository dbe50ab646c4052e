// The import and export flows of AppModel: the only places where the application asks the user for
// files. Dialogs run on the user-interface thread; reading, parsing and writing run on background
// threads on copies of the data, awaited by the action.
//
// Background work is always started into a named future before it is awaited: g++ 12 destroys a
// lambda temporary that appears inside a co_await expression twice.

#include "app/services/AppModel.h"
#include "app/services/MediaStore.h"
#include "core/QuendaError.h"
#include "exchange/CSVExchange.h"
#include "persistence/LibraryRepository.h"

#include <QFileInfo>
#include <QSaveFile>
#include <QStringDecoder>

namespace {

constexpr qint64 kMaximumTextFileBytes = 33554432; // 32 MiB

QFuture<bool> refused() { return QtFuture::makeReadyFuture(false); }

bool isDelimitedText(const QUrl& url) {
    const QString extension = QFileInfo(url.path()).suffix().toLower();
    return extension == u"csv" || extension == u"tsv" || extension == u"txt";
}

QString decodeUtf8(const QByteArray& data) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(data);
    if (decoder.hasError())
        throw QuendaError::invalidContent(QStringLiteral("Salva il file di testo in formato UTF-8 e riprova."));
    return text;
}

} // namespace

QByteArray AppModel::readBoundedFile(const QUrl& url, qint64 maximumSize) {
    const QuendaError refusal = QuendaError::invalidContent(
        QStringLiteral("Il file non è valido o supera %1 MB.").arg(maximumSize / 1048576));
    const QFileInfo info(url.toLocalFile());
    if (!url.isLocalFile() || !info.exists() || !info.isFile() || info.size() <= 0 || info.size() > maximumSize)
        throw refusal;
    QFile file(info.filePath());
    if (!file.open(QIODevice::ReadOnly))
        throw PlatformError(file.errorString());
    // The file may have grown since its size was read: never take more than one byte past the limit.
    const QByteArray data = file.read(maximumSize + 1);
    if (file.error() != QFileDevice::NoError)
        throw PlatformError(file.errorString());
    if (data.isEmpty() || data.size() > maximumSize)
        throw refusal;
    return data;
}

QFuture<bool> AppModel::importFile() {
    if (!m_fileDialogs)
        return refused();
    const std::optional<QUrl> url = m_fileDialogs->chooseFileToOpen(
        {QStringLiteral("Importa un mazzo o un backup"),
         QStringLiteral("File Quenda, CSV o TSV. Potrai controllare il contenuto prima di aggiungerlo."), false});
    return url ? prepareImport(*url) : refused();
}

QFuture<bool> AppModel::prepareImport(const QUrl& url) {
    return perform([this, url] { return prepareImportSteps(url); });
}

Task<void> AppModel::prepareImportSteps(QUrl url) {
    ImportedPackage package;
    if (isDelimitedText(url)) {
        const QString deckName = QFileInfo(url.path()).completeBaseName();
        std::optional<Deck> target;
        for (const Deck& deck : std::as_const(m_library.decks))
            if (deck.name.compare(deckName, Qt::CaseInsensitive) == 0) {
                target = deck;
                break;
            }
        if (!target) {
            const Instant now = m_clock.now();
            target = Deck{Uuid::createRandom(), deckName, {}, QStringLiteral("square.stack.3d.up"),
                          QStringLiteral("4F5FE7"), now, now};
        }
        auto work = runInBackground(nullptr, [url, deck = *target] {
                                  const QString text = decodeUtf8(readBoundedFile(url, kMaximumTextFileBytes));
                                  return ImportedPackage{PackageKind::deck, CSVExchange::read(text, deck), {}};
                              });
        package = co_await on(this, std::move(work));
    } else {
        auto work = runInBackground(nullptr, [url] { return QuendaPackage::read(url); });
        package = co_await on(this, std::move(work));
    }
    setPendingImport(ImportRequest{Uuid::createRandom(), std::move(package), QFileInfo(url.path()).fileName()});
}

QFuture<bool> AppModel::applyImport(const ImportRequest& request, bool replace) {
    return perform([this, request, replace] { return applyImportSteps(request, replace); });
}

Task<void> AppModel::applyImportSteps(ImportRequest request, bool replace) {
    // No automatic backup of the old library may be written during or after the import.
    cancelPendingBackup();
    ++m_backupRevision;
    repository();
    if (!m_library.decks.isEmpty())
        co_await on(this, m_backupService.writeBeforeImport(m_library, m_clock.now()));
    auto work = runInBackground(nullptr, [media = request.package.media, directory = m_mediaDirectory] {
                    MediaStore::importPackageAttachments(media, directory);
                });
    co_await on(this, std::move(work));
    co_await on(this, repository().importLibrary(request.package.snapshot, replace));
    co_await on(this, reload());
    setPendingImport(std::nullopt);
    setSelection(NavigationItem::library());
    scheduleBackup();
    notify(replace ? QStringLiteral("Backup ripristinato") : QStringLiteral("Importazione completata"));
}

QFuture<bool> AppModel::exportDeck(const Deck& deck) {
    LibrarySnapshot snapshot{.libraryID = Uuid::createRandom(), .decks = {deck}};
    for (const Note& note : std::as_const(m_library.notes))
        if (note.deckID == deck.id)
            snapshot.notes.append(note);
    for (const Flashcard& card : std::as_const(m_library.cards))
        if (card.deckID == deck.id)
            snapshot.cards.append(card);
    return exportPackage(std::move(snapshot), PackageKind::deck, deck.name + QStringLiteral(".quenda"));
}

QFuture<bool> AppModel::exportBackup() {
    return exportPackage(m_library, PackageKind::backup, QStringLiteral("Quenda-backup.quenda"));
}

QFuture<bool> AppModel::exportPackage(LibrarySnapshot snapshot, PackageKind kind, const QString& filename) {
    if (!m_fileDialogs)
        return refused();
    const QString title = kind == PackageKind::backup ? QStringLiteral("Esporta un backup completo")
                                                      : QStringLiteral("Condividi mazzo");
    const std::optional<QUrl> location = m_fileDialogs->chooseSaveLocation({filename, title, {}});
    if (!location)
        return refused();
    return perform([this, snapshot = std::move(snapshot), kind, url = *location] {
        return exportPackageSteps(snapshot, kind, url);
    });
}

Task<void> AppModel::exportPackageSteps(LibrarySnapshot snapshot, PackageKind kind, QUrl location) {
    auto work = runInBackground(nullptr, [snapshot = std::move(snapshot), kind, location, media = m_mediaDirectory] {
                    QuendaPackage::write(snapshot, kind, media, location);
                });
    co_await on(this, std::move(work));
    notify(QStringLiteral("File esportato"));
}

QFuture<bool> AppModel::exportCSV(const Deck& deck) {
    if (!m_fileDialogs)
        return refused();
    const std::optional<QUrl> location = m_fileDialogs->chooseSaveLocation(
        {deck.name + QStringLiteral(".csv"), {},
         QStringLiteral("CSV è un formato di testo parziale: non include immagini, formattazione e progressi. Per "
                        "conservarli, e per le carte cloze con formule, usa un file Quenda.")});
    if (!location)
        return refused();
    QList<Note> notes;
    for (const Note& note : std::as_const(m_library.notes))
        if (note.deckID == deck.id)
            notes.append(note);
    return perform([this, notes, url = *location] { return exportCSVSteps(notes, url); });
}

Task<void> AppModel::exportCSVSteps(QList<Note> notes, QUrl location) {
    auto work = runInBackground(nullptr, [notes = std::move(notes), location] {
                    if (!location.isLocalFile())
                        throw QuendaError::invalidContent(QStringLiteral("Scegli una destinazione locale per il file."));
                    const QByteArray text = CSVExchange::write(notes).toUtf8();
                    // Written beside the destination and renamed over it: never left half-written.
                    QSaveFile file(location.toLocalFile());
                    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.commit())
                        throw PlatformError(file.errorString());
                });
    co_await on(this, std::move(work));
    notify(QStringLiteral("CSV esportato"));
}

std::optional<QString> AppModel::chooseImage() {
    if (!m_fileDialogs)
        return std::nullopt;
    const std::optional<QUrl> url = m_fileDialogs->chooseFileToOpen({{}, {}, true});
    if (!url)
        return std::nullopt;
    try {
        return MediaStore(m_mediaDirectory).importImage(*url);
    } catch (...) {
        setErrorMessage(messageOf(std::current_exception()));
        return std::nullopt;
    }
}

QString AppModel::importImage(const QByteArray& data, const std::optional<QString>& preferredExtension) {
    return MediaStore(m_mediaDirectory).importImage(data, preferredExtension);
}
