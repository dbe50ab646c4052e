// The fuzzers start from the committed seeds; a seed that no longer passes the reader would leave the
// deeper checks unfuzzed without anyone noticing.
#include "exchange/QuendaPackage.h"

#include <QUrl>

#include <gtest/gtest.h>

namespace {

QUrl seed(const char* name) {
    return QUrl::fromLocalFile(QStringLiteral(QUENDA_SOURCE_DIR "/fuzz/corpus/fuzz_package_reader/") + name);
}

TEST(FuzzSeedTest, SeedPackagesReachTheEndOfTheReader) {
    const ImportedPackage backup = QuendaPackage::read(seed("backup.quenda"));
    EXPECT_EQ(backup.snapshot.reviews.size(), 1);
    EXPECT_EQ(backup.media.size(), 1);
    EXPECT_EQ(QuendaPackage::read(seed("deck.quenda")).kind, PackageKind::deck);
    try {
        QuendaPackage::read(seed("missing-image.quenda"));
        FAIL() << "read succeeded";
    } catch (const QuendaError& error) {
        EXPECT_EQ(error.message(), "Le immagini del pacchetto sono mancanti o non corrispondono alle carte.");
    }
}

} // namespace
