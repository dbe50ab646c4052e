#include "ImageFixtures.h"
#include "support/Errors.h"
#include "support/QtPrinters.h"

#include "app/services/MediaStore.h"
#include "core/MediaIdentifier.h"
#include "core/QuendaError.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

namespace {

class MediaStoreTest : public ::testing::Test {
protected:
    QTemporaryDir root;
    QString mediaDir = root.filePath(QStringLiteral("Media"));
    MediaStore store{mediaDir};

    QString writeFile(const QString& name, const QByteArray& data) {
        const QString path = root.filePath(name);
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(data);
        return path;
    }
    QStringList storedFiles() const { return QDir(mediaDir).entryList(QDir::Files | QDir::System); }
};

const QString kInvalidImage = QStringLiteral("Usa un’immagine PNG, JPEG, GIF, HEIC, TIFF o WebP valida, fino a 20 MiB.");
const QString kTooManyFrames = QStringLiteral("L’immagine contiene troppi fotogrammi. Usa un’immagine statica.");
const QString kTooLarge = QStringLiteral("L’immagine supera 40 megapixel. Ridimensionala e riprova.");

} // namespace

TEST_F(MediaStoreTest, StoresEveryAcceptedFormatUnderItsDigestAndCanonicalExtension) {
    const struct {
        QByteArray data;
        const char* extension;
    } cases[] = {
        {ImageFixtures::encoded("png"), "png"},   {ImageFixtures::encoded("jpeg"), "jpg"},
        {ImageFixtures::encoded("tiff"), "tiff"}, {ImageFixtures::encoded("webp"), "webp"},
        {ImageFixtures::animatedGif(3), "gif"},   {ImageFixtures::heic(), "heic"},
    };
    for (const auto& c : cases) {
        ASSERT_FALSE(c.data.isEmpty()) << c.extension;
        const QString identifier = store.importImage(c.data, std::nullopt);
        EXPECT_EQ(identifier, MediaIdentifier::digest(c.data) + "." + c.extension);
        const std::optional<QString> path = store.imageURL(identifier);
        ASSERT_TRUE(path.has_value()) << c.extension;
        QFile file(*path);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        EXPECT_EQ(file.readAll(), c.data);
    }
}

TEST_F(MediaStoreTest, SameImageFromFileDataAndPackageIsOneFile) {
    const QByteArray png = ImageFixtures::encoded("png");
    const QString fromFile = store.importImage(QUrl::fromLocalFile(writeFile("a.png", png)));
    const QString fromData = store.importImage(png, QStringLiteral("png"));
    MediaStore::importPackageAttachments({{fromFile, png}}, mediaDir);
    EXPECT_EQ(fromFile, fromData);
    EXPECT_EQ(storedFiles(), QStringList{fromFile});
}

TEST_F(MediaStoreTest, FormatComesFromTheContentNotTheName) {
    const QByteArray jpeg = ImageFixtures::encoded("jpeg");
    const QString identifier = store.importImage(QUrl::fromLocalFile(writeFile("photo.png", jpeg)));
    EXPECT_EQ(identifier, MediaIdentifier::digest(jpeg) + ".jpg");
}

TEST_F(MediaStoreTest, RefusesImagesThatFailTheChecks) {
    const QByteArray png = ImageFixtures::encoded("png");
    const struct {
        const char* name;
        QByteArray data;
        QString message;
    } cases[] = {
        {"empty", {}, kInvalidImage},
        {"not an image", "hello, world", kInvalidImage},
        {"bitmap format", ImageFixtures::encoded("bmp"), kInvalidImage},
        {"truncated", png.left(png.size() - 30), QStringLiteral("Questa immagine è danneggiata o non è leggibile.")},
        {"201 frames", ImageFixtures::animatedGif(201), kTooManyFrames},
        {"8000 x 5001", ImageFixtures::largePng(8000, 5001), kTooLarge},
        {"over 20 MiB", png + QByteArray(20971521 - png.size(), '\0'), kInvalidImage},
    };
    for (const auto& c : cases)
        EXPECT_EQ(invalidContentMessage([&] { store.importImage(c.data, std::nullopt); }), c.message) << c.name;
    EXPECT_TRUE(storedFiles().isEmpty());
}

TEST_F(MediaStoreTest, AcceptsTheLimitsThemselves) {
    EXPECT_NO_THROW(store.importImage(ImageFixtures::animatedGif(200), std::nullopt));
    EXPECT_NO_THROW(store.importImage(ImageFixtures::largePng(8000, 5000), std::nullopt));
    // Trailing bytes after the image end do not change what it is; exactly 20 MiB passes.
    const QByteArray png = ImageFixtures::encoded("png");
    EXPECT_NO_THROW(store.importImage(png + QByteArray(20971520 - png.size(), '\0'), std::nullopt));
}

TEST_F(MediaStoreTest, ImportFromLocationChecksTheFileFirst) {
    EXPECT_EQ(invalidContentMessage([&] { store.importImage(QUrl(QStringLiteral("https://example.org/a.png"))); }),
              QStringLiteral("Scegli un’immagine salvata sul Mac."));
    const QString invalidFile = QStringLiteral("Scegli un’immagine valida fino a 20 MiB.");
    EXPECT_EQ(invalidContentMessage([&] { store.importImage(QUrl::fromLocalFile(writeFile("empty.png", {}))); }), invalidFile);
    EXPECT_EQ(invalidContentMessage([&] { store.importImage(QUrl::fromLocalFile(root.path())); }), invalidFile);
    EXPECT_EQ(invalidContentMessage([&] { store.importImage(QUrl::fromLocalFile(root.filePath("missing.png"))); }), invalidFile);
}

TEST_F(MediaStoreTest, PackageAttachmentsAreAllCheckedBeforeAnyIsWritten) {
    const QByteArray png = ImageFixtures::encoded("png");
    const QByteArray jpeg = ImageFixtures::encoded("jpeg");
    const QString pngID = MediaIdentifier::digest(png) + ".png";
    const struct {
        const char* name;
        QMap<QString, QByteArray> media;
        QString message;
    } cases[] = {
        {"upper-case hash", {{pngID, png}, {pngID.toUpper(), png}},
         QStringLiteral("Un’immagine importata non corrisponde al suo identificativo.")},
        {"hash of other bytes", {{pngID, png}, {MediaIdentifier::digest(png) + ".jpg", jpeg}},
         QStringLiteral("Un’immagine importata non corrisponde al suo identificativo.")},
        {"PNG named gif", {{pngID, png}, {MediaIdentifier::digest(png) + ".gif", png}},
         QStringLiteral("Il formato di un’immagine importata non corrisponde al suo nome.")},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(invalidContentMessage([&] { MediaStore::importPackageAttachments(c.media, mediaDir); }), c.message) << c.name;
        EXPECT_TRUE(storedFiles().isEmpty()) << c.name;
    }
    const QString jpegID = MediaIdentifier::digest(jpeg) + ".jpeg";
    MediaStore::importPackageAttachments({{jpegID, jpeg}, {pngID, png}}, mediaDir);
    EXPECT_EQ(storedFiles().size(), 2);
    EXPECT_TRUE(store.imageURL(jpegID).has_value());
}

TEST_F(MediaStoreTest, ImageURLOnlyForValidIdentifiersOfRegularFiles) {
    const QString identifier = store.importImage(ImageFixtures::encoded("png"), std::nullopt);
    EXPECT_TRUE(store.imageURL(identifier).has_value());
    EXPECT_FALSE(store.imageURL("../" + identifier).has_value());
    QFile::remove(*store.imageURL(identifier));
    EXPECT_FALSE(store.imageURL(identifier).has_value());
    // A link planted under a valid name is neither served nor written through.
    QFile::link(root.filePath("elsewhere.png"), QDir(mediaDir).filePath(identifier));
    EXPECT_FALSE(store.imageURL(identifier).has_value());
    EXPECT_EQ(invalidContentMessage([&] { store.importImage(ImageFixtures::encoded("png"), std::nullopt); }),
              QStringLiteral("La destinazione dell’immagine non è un file valido."));
}

TEST_F(MediaStoreTest, MediaFolderMustBeARealFolder) {
    const QString link = root.filePath(QStringLiteral("LinkedMedia"));
    QDir().mkpath(root.filePath(QStringLiteral("Real")));
    QFile::link(root.filePath(QStringLiteral("Real")), link);
    EXPECT_EQ(invalidContentMessage([&] { MediaStore(link).importImage(ImageFixtures::encoded("png"), std::nullopt); }),
              QStringLiteral("La cartella delle immagini non è una destinazione valida."));
}
