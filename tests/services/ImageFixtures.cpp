#include "ImageFixtures.h"

#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QImageWriter>
#include <QProcess>
#include <QTemporaryDir>
#include <QtEndian>

#include <zlib.h>

namespace ImageFixtures {

QByteArray encoded(const char* format, int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, qRgb(x * 10 % 256, y * 15 % 256, 128));
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    if (!writer.write(image))
        return {};
    return buffer.data();
}

QByteArray animatedGif(int frames) {
    QByteArray gif("GIF89a");
    gif += QByteArray::fromHex("0100" "0100" "80" "00" "00"); // 1×1 canvas, 2-colour global table
    gif += QByteArray::fromHex("000000" "ffffff");
    gif += QByteArray::fromHex("21ff0b") + "NETSCAPE2.0" + QByteArray::fromHex("03010000" "00");
    for (int i = 0; i < frames; ++i) {
        gif += QByteArray::fromHex("21f904" "00" "0a00" "00" "00");          // 0.1 s per frame
        gif += QByteArray::fromHex("2c" "0000" "0000" "0100" "0100" "00"); // frame at 0,0 of 1×1
        gif += QByteArray::fromHex("02" "02" "4401" "00");                 // LZW: clear, pixel 0, end
    }
    gif += ';';
    return gif;
}

namespace {

void appendChunk(QByteArray& png, const char* type, const QByteArray& data) {
    QByteArray chunk(type, 4);
    chunk += data;
    char length[4];
    qToBigEndian<quint32>(static_cast<quint32>(data.size()), length);
    char crc[4];
    qToBigEndian<quint32>(static_cast<quint32>(crc32(0, reinterpret_cast<const Bytef*>(chunk.constData()),
                                                       static_cast<uInt>(chunk.size()))),
                          crc);
    png += QByteArray(length, 4) + chunk + QByteArray(crc, 4);
}

} // namespace

QByteArray largePng(int width, int height) {
    QByteArray png = QByteArray::fromHex("89504e470d0a1a0a");
    QByteArray header(13, '\0');
    qToBigEndian<quint32>(static_cast<quint32>(width), header.data());
    qToBigEndian<quint32>(static_cast<quint32>(height), header.data() + 4);
    header[8] = 8; // bit depth; colour type 0 (grey), deflate, adaptive filter, no interlace
    appendChunk(png, "IHDR", header);

    z_stream stream{};
    deflateInit(&stream, Z_BEST_COMPRESSION);
    const QByteArray row(width + 1, '\0'); // filter byte "none", then black pixels
    QByteArray compressed;
    char out[65536];
    for (int y = 0; y < height; ++y) {
        stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(row.constData()));
        stream.avail_in = static_cast<uInt>(row.size());
        const int flush = y + 1 == height ? Z_FINISH : Z_NO_FLUSH;
        do {
            stream.next_out = reinterpret_cast<Bytef*>(out);
            stream.avail_out = sizeof out;
            deflate(&stream, flush);
            compressed.append(out, static_cast<qsizetype>(sizeof out - stream.avail_out));
        } while (stream.avail_out == 0);
    }
    deflateEnd(&stream);
    appendChunk(png, "IDAT", compressed);
    appendChunk(png, "IEND", {});
    return png;
}

QByteArray heic() {
    QTemporaryDir dir;
    const QString source = dir.filePath(QStringLiteral("source.png"));
    const QString target = dir.filePath(QStringLiteral("image.heic"));
    QFile file(source);
    if (!file.open(QIODevice::WriteOnly) || file.write(encoded("png", 64, 48)) <= 0)
        return {};
    file.close();
    QProcess process;
    process.start(QStringLiteral("heif-enc"), {QStringLiteral("-o"), target, source});
    if (!process.waitForFinished(60000) || process.exitCode() != 0)
        return {};
    QFile result(target);
    return result.open(QIODevice::ReadOnly) ? result.readAll() : QByteArray();
}

} // namespace ImageFixtures
