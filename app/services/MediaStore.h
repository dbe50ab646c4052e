#pragma once

#include "app/services/ImageDecoder.h"

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QUrl>

#include <optional>

/// The content-addressed image store: every image is one file in `directory`, named by its
/// identifier (SHA-256 of the bytes + canonical extension, see core/MediaIdentifier.h), so an image
/// is stored once whatever its origin and its name proves its content.
///
/// Every image is checked before it is stored (size, format from the content, frame count, pixel
/// count, a producible thumbnail); a refused image leaves the store unchanged. Failures throw
/// QuendaError::invalidContent with the user's message, or PlatformError for file-system errors.
///
/// A plain value with no state but its folder: every operation is self-contained and may run on any
/// thread. Concurrent writes of one identifier write the same bytes atomically.
class MediaStore {
public:
    static constexpr qint64 kMaximumImageBytes = 20971520;
    static constexpr int kMaximumFrames = 200;
    static constexpr double kMaximumPixels = 40000000;
    static constexpr int kPreviewPixels = 256;

    explicit MediaStore(QString directory, const ImageDecoder& decoder = ImageDecoder::system());

    const QString& directory() const { return m_directory; }

    /// Reads, checks and stores the image file at `location`; returns its identifier.
    QString importImage(const QUrl& location) const;
    /// Checks and stores `data`; returns its identifier. The extension is a hint that never decides
    /// the format.
    QString importImage(const QByteArray& data, const std::optional<QString>& preferredExtension) const;
    /// The stored file of a valid identifier, when it is a regular file (not a link); the content is
    /// not checked.
    std::optional<QString> imageURL(const QString& identifier) const;

    /// Stores the images of a package: every entry is checked (name matches the bytes, image valid,
    /// extension matches the content) before any is written; then they are written in identifier order.
    static void importPackageAttachments(const QMap<QString, QByteArray>& media, const QString& directory,
                                         const ImageDecoder& decoder = ImageDecoder::system());

    /// The checks every stored image passes; returns the canonical extension detected from the content.
    static QString validateImage(const QByteArray& data, const std::optional<QString>& preferredExtension,
                                 const ImageDecoder& decoder);

private:
    static void write(const QByteArray& data, const QString& identifier, const QString& directory);

    QString m_directory;
    const ImageDecoder* m_decoder;
};
