// The package reader behind its digest check: the input is the library entry, wrapped in an archive with
// a manifest that matches it, so the fuzzer spends its time in decoding and package validation rather
// than in guessing SHA-256 digests. The first byte picks the kind and the declared version. Entries are
// stored, not deflated: setting up a compressor for every input would dominate the run time.
#include "FuzzSupport.h"

#include "core/MediaIdentifier.h"
#include "core/RecordJson.h"
#include "exchange/QuendaPackage.h"
#include "exchange/ZipArchive.h"

#include <QUrl>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1)
        return 0;
    const QByteArray library(reinterpret_cast<const char*>(data) + 1, qsizetype(size - 1));
    QuendaPackage::Manifest manifest{.format = QStringLiteral("quenda"),
                                     .version = (data[0] & 1) ? 2 : 1,
                                     .kind = (data[0] & 2) ? PackageKind::deck : PackageKind::backup,
                                     .createdAt = Instant::fromUnixSeconds(1'700'000'000),
                                     .librarySHA256 = MediaIdentifier::digest(library)};
    // Counts that match, when the library can be decoded at all, so that the later checks are reached.
    try {
        const LibrarySnapshot snapshot = RecordJson::decode<LibrarySnapshot>(library, JsonForm::package);
        manifest.deckCount = snapshot.decks.size();
        manifest.noteCount = snapshot.notes.size();
        manifest.cardCount = snapshot.cards.size();
        manifest.reviewCount = snapshot.reviews.size();
        manifest.mediaCount = QuendaPackage::mediaIdentifiers(snapshot.notes).size();
    } catch (const PlatformError&) {
    }

    static const QString path = fuzzsupport::writeScratchFile(nullptr, 0);
    {
        ZipArchive archive = ZipArchive::create(path);
        archive.addFile(QStringLiteral("manifest.json"), QuendaPackage::encodeManifest(manifest), Instant(),
                        ZipArchive::Compression::stored);
        archive.addFile(QStringLiteral("library.json"), library, Instant(), ZipArchive::Compression::stored);
        archive.commit();
    }
    try {
        QuendaPackage::read(QUrl::fromLocalFile(path));
    } catch (const QuendaError&) {
    } catch (const PlatformError&) {
    }
    return 0;
}
