#include "app/services/ImageDecoder.h"

#include <QBuffer>
#include <QImageReader>

#include <libheif/heif.h>

#include <memory>

namespace {

// HEIF containers start with an ISO base media "ftyp" box; Qt has no reader for them here.
bool looksLikeHeif(const QByteArray& data) { return data.size() >= 12 && data.mid(4, 4) == "ftyp"; }

QString heifExtension(const QByteArray& data) {
    switch (heif_main_brand(reinterpret_cast<const uint8_t*>(data.constData()), static_cast<int>(data.size()))) {
    case heif_heic:
    case heif_heix:
    case heif_hevc:
    case heif_hevx:
    case heif_heim:
    case heif_heis:
    case heif_hevm:
    case heif_hevs:
        return QStringLiteral("heic");
    case heif_mif1:
    case heif_msf1:
        return QStringLiteral("heif");
    case heif_avif:
    case heif_avis:
        return QStringLiteral("avif");
    default:
        return {};
    }
}

using HeifContext = std::unique_ptr<heif_context, decltype(&heif_context_free)>;
using HeifHandle = std::unique_ptr<heif_image_handle, decltype(&heif_image_handle_release)>;
using HeifImage = std::unique_ptr<heif_image, decltype(&heif_image_release)>;

HeifContext readHeif(const QByteArray& data) {
    HeifContext context(heif_context_alloc(), &heif_context_free);
    const heif_error error =
        heif_context_read_from_memory_without_copy(context.get(), data.constData(), data.size(), nullptr);
    if (error.code != heif_error_Ok)
        context.reset();
    return context;
}

std::optional<ImageProbe> probeHeif(const QByteArray& data) {
    const HeifContext context = readHeif(data);
    if (!context)
        return std::nullopt;
    const int count = heif_context_get_number_of_top_level_images(context.get());
    std::vector<heif_item_id> ids(static_cast<size_t>(std::max(count, 0)));
    heif_context_get_list_of_top_level_image_IDs(context.get(), ids.data(), count);
    ImageProbe probe{heifExtension(data), {}};
    for (heif_item_id id : ids) {
        heif_image_handle* raw = nullptr;
        if (heif_context_get_image_handle(context.get(), id, &raw).code != heif_error_Ok) {
            probe.frameSizes.append(std::nullopt);
            continue;
        }
        const HeifHandle handle(raw, &heif_image_handle_release);
        const int width = heif_image_handle_get_width(handle.get());
        const int height = heif_image_handle_get_height(handle.get());
        probe.frameSizes.append(width > 0 && height > 0 ? std::optional(QSize(width, height)) : std::nullopt);
    }
    return probe;
}

QImage thumbnailHeif(const QByteArray& data, int maximumPixels) {
    const HeifContext context = readHeif(data);
    if (!context)
        return {};
    heif_image_handle* rawHandle = nullptr;
    if (heif_context_get_primary_image_handle(context.get(), &rawHandle).code != heif_error_Ok)
        return {};
    const HeifHandle handle(rawHandle, &heif_image_handle_release);
    heif_image* rawImage = nullptr;
    // Decoding applies the stored rotation and mirroring, as a viewer would show the image.
    if (heif_decode_image(handle.get(), &rawImage, heif_colorspace_RGB, heif_chroma_interleaved_RGBA, nullptr).code !=
        heif_error_Ok)
        return {};
    const HeifImage image(rawImage, &heif_image_release);
    int stride = 0;
    const uint8_t* pixels = heif_image_get_plane_readonly(image.get(), heif_channel_interleaved, &stride);
    const int width = heif_image_get_width(image.get(), heif_channel_interleaved);
    const int height = heif_image_get_height(image.get(), heif_channel_interleaved);
    if (!pixels || width <= 0 || height <= 0)
        return {};
    const QImage full(pixels, width, height, stride, QImage::Format_RGBA8888);
    if (std::max(width, height) <= maximumPixels)
        return full.copy();
    return full.scaled(maximumPixels, maximumPixels, Qt::KeepAspectRatio, Qt::SmoothTransformation);
}

class SystemImageDecoder final : public ImageDecoder {
public:
    SystemImageDecoder() {
        // Images up to 40 megapixels pass the store's checks, and a thumbnail of a format that cannot
        // scale while decoding needs the whole frame once: 40 MP at 4 bytes per pixel.
        QImageReader::setAllocationLimit(256);
    }

    std::optional<ImageProbe> probe(const QByteArray& data) const override {
        if (looksLikeHeif(data))
            return probeHeif(data);
        QBuffer buffer;
        buffer.setData(data);
        buffer.open(QIODevice::ReadOnly);
        QImageReader reader(&buffer);
        if (!reader.canRead())
            return std::nullopt;
        ImageProbe probe{QString::fromLatin1(reader.format()), {}};
        const int count = std::max(reader.imageCount(), 0);
        // Animation frames share the canvas size; multi-page formats (TIFF) are visited page by page.
        const bool pages = reader.supportsAnimation() ? false : count > 1;
        for (int i = 0; i < count; ++i) {
            if (pages && i > 0 && !reader.jumpToImage(i)) {
                probe.frameSizes.append(std::nullopt);
                continue;
            }
            const QSize size = reader.size();
            probe.frameSizes.append(size.isValid() ? std::optional(size) : std::nullopt);
        }
        return probe;
    }

    QImage thumbnail(const QByteArray& data, int maximumPixels) const override {
        if (looksLikeHeif(data))
            return thumbnailHeif(data, maximumPixels);
        QBuffer buffer;
        buffer.setData(data);
        buffer.open(QIODevice::ReadOnly);
        QImageReader reader(&buffer);
        reader.setAutoTransform(true);
        const QSize size = reader.size();
        // Formats that scale while decoding (JPEG) then never hold the full image.
        if (size.isValid() && std::max(size.width(), size.height()) > maximumPixels)
            reader.setScaledSize(size.scaled(maximumPixels, maximumPixels, Qt::KeepAspectRatio).expandedTo({1, 1}));
        QImage image = reader.read();
        if (image.isNull())
            return {};
        if (std::max(image.width(), image.height()) > maximumPixels)
            image = image.scaled(maximumPixels, maximumPixels, Qt::KeepAspectRatio, Qt::SmoothTransformation);
        return image;
    }
};

} // namespace

const ImageDecoder& ImageDecoder::system() {
    static const SystemImageDecoder decoder;
    return decoder;
}
