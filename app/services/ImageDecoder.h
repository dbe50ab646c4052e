#pragma once

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QSize>
#include <QString>

#include <optional>

/// What the media store learns about one image from its bytes. Nothing decoded is cached.
struct ImageProbe {
    /// Preferred file extension of the format detected from the content ("png", "jpeg", "heic"…);
    /// empty when the decoder recognises the data but knows no extension for it.
    QString extension;
    /// Pixel size of each frame (page, animation frame); an unknown size is left absent.
    QList<std::optional<QSize>> frameSizes;
};

/// The platform seam between the media store and an image decoder. Implementations must take the
/// format from the content, never from a file name, and must be callable from any thread.
class ImageDecoder {
public:
    virtual ~ImageDecoder() = default;

    /// Inspects `data` without decoding pixels where the format allows. Nothing when the data cannot
    /// be opened or is not a complete image.
    virtual std::optional<ImageProbe> probe(const QByteArray& data) const = 0;

    /// A thumbnail of the first frame, its longer side at most `maximumPixels`, with the image's
    /// orientation applied. A null image when the frame cannot be decoded.
    virtual QImage thumbnail(const QByteArray& data, int maximumPixels) const = 0;

    /// The decoder Quenda uses: Qt's image readers (PNG, JPEG, GIF, TIFF, WebP) and libheif (HEIC, HEIF).
    static const ImageDecoder& system();
};
