#pragma once

#include <QByteArrayView>
#include <QString>
#include <QStringView>

#include <optional>

/// Image identifiers: the SHA-256 of an image's bytes as 64 lower-case hexadecimal digits, a point and
/// an image extension ("…d4.png"). They name the files of the media folder and the image entries of
/// packages, so the name proves the content. Pure functions, callable from any thread.
namespace MediaIdentifier {

/// True when `text` is, as a whole, 64 lower-case hex digits, ".", and one of png, jpg, jpeg, gif,
/// heic, heif, tiff, tif, webp (case-sensitive).
bool isValid(QStringView text);

/// The canonical extension of an image extension compared in lower case ("JPEG" → "jpg",
/// "tif" → "tiff"), or nothing for an extension that is not an accepted image format.
std::optional<QString> canonicalExtension(QStringView extension);

/// The 64 lower-case hexadecimal digits of the SHA-256 of `bytes`.
QString digest(QByteArrayView bytes);

/// The extension part of an identifier (after the last point).
QStringView extension(QStringView identifier);

} // namespace MediaIdentifier
