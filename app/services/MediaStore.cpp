#include "app/services/MediaStore.h"

#include "core/MediaIdentifier.h"
#include "core/QuendaError.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <cmath>

namespace {

QuendaError refused(const char16_t* message) { return QuendaError::invalidContent(QString::fromUtf16(message)); }

const char16_t kInvalidImage[] = u"Usa un’immagine PNG, JPEG, GIF, HEIC, TIFF o WebP valida, fino a 20 MiB.";

} // namespace

MediaStore::MediaStore(QString directory, const ImageDecoder& decoder)
    : m_directory(std::move(directory)), m_decoder(&decoder) {}

QString MediaStore::validateImage(const QByteArray& data, const std::optional<QString>& preferredExtension,
                                  const ImageDecoder& decoder) {
    Q_UNUSED(preferredExtension); // a hint only: the content decides the format
    if (data.isEmpty() || data.size() > kMaximumImageBytes)
        throw refused(kInvalidImage);
    const std::optional<ImageProbe> probe = decoder.probe(data);
    if (!probe || probe->extension.isEmpty())
        throw refused(kInvalidImage);
    const std::optional<QString> extension = MediaIdentifier::canonicalExtension(probe->extension);
    if (!extension)
        throw refused(kInvalidImage);

    const qsizetype frames = probe->frameSizes.size();
    if (frames < 1 || frames > kMaximumFrames)
        throw refused(u"L’immagine contiene troppi fotogrammi. Usa un’immagine statica.");
    double totalPixels = 0;
    for (const std::optional<QSize>& size : probe->frameSizes) {
        if (!size)
            throw refused(u"Non è possibile leggere le dimensioni dell’immagine.");
        const double pixels = double(size->width()) * double(size->height());
        totalPixels += pixels;
        if (size->width() <= 0 || size->height() <= 0 || !std::isfinite(pixels) || !std::isfinite(totalPixels) ||
            totalPixels > kMaximumPixels)
            throw refused(u"L’immagine supera 40 megapixel. Ridimensionala e riprova.");
    }
    if (decoder.thumbnail(data, kPreviewPixels).isNull())
        throw refused(u"Questa immagine è danneggiata o non è leggibile.");
    return *extension;
}

QString MediaStore::importImage(const QByteArray& data, const std::optional<QString>& preferredExtension) const {
    const QString extension = validateImage(data, preferredExtension, *m_decoder);
    const QString identifier = MediaIdentifier::digest(data) + u'.' + extension;
    write(data, identifier, m_directory);
    return identifier;
}

QString MediaStore::importImage(const QUrl& location) const {
    if (!location.isLocalFile())
        throw refused(u"Scegli un’immagine salvata sul Mac.");
    const QString path = location.toLocalFile();
    const QFileInfo info(path);
    if (!info.exists() || !info.isFile() || info.size() < 1 || info.size() > kMaximumImageBytes)
        throw refused(u"Scegli un’immagine valida fino a 20 MiB.");
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw PlatformError(file.errorString());
    // The size may have changed since it was checked: never read more than one byte past the limit.
    const QByteArray data = file.read(kMaximumImageBytes + 1);
    if (file.error() != QFileDevice::NoError)
        throw PlatformError(file.errorString());
    return importImage(data, info.suffix());
}

std::optional<QString> MediaStore::imageURL(const QString& identifier) const {
    if (!MediaIdentifier::isValid(identifier))
        return std::nullopt;
    const QString path = QDir(m_directory).filePath(identifier);
    const QFileInfo info(path);
    if (!info.exists() || info.isSymLink() || !info.isFile())
        return std::nullopt;
    return path;
}

void MediaStore::importPackageAttachments(const QMap<QString, QByteArray>& media, const QString& directory,
                                          const ImageDecoder& decoder) {
    for (auto it = media.cbegin(); it != media.cend(); ++it) {
        const QString& identifier = it.key();
        if (!MediaIdentifier::isValid(identifier) || identifier.left(64) != MediaIdentifier::digest(it.value()))
            throw refused(u"Un’immagine importata non corrisponde al suo identificativo.");
        const QStringView named = MediaIdentifier::extension(identifier);
        const QString detected = validateImage(it.value(), named.toString(), decoder);
        if (MediaIdentifier::canonicalExtension(named) != detected)
            throw refused(u"Il formato di un’immagine importata non corrisponde al suo nome.");
    }
    // QMap iterates in ascending key order, the order the files are written in.
    for (auto it = media.cbegin(); it != media.cend(); ++it)
        write(it.value(), it.key(), directory);
}

void MediaStore::write(const QByteArray& data, const QString& identifier, const QString& directory) {
    if (!QDir().mkpath(directory))
        throw refused(u"La cartella delle immagini non è una destinazione valida.");
    const QFileInfo folder(directory);
    if (folder.isSymLink() || !folder.isDir())
        throw refused(u"La cartella delle immagini non è una destinazione valida.");
    const QString path = QDir(directory).filePath(identifier);
    const QFileInfo target(path);
    if (target.isSymLink() || (target.exists() && !target.isFile()))
        throw refused(u"La destinazione dell’immagine non è un file valido.");
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size() || !file.commit())
        throw PlatformError(file.errorString());
}
