#pragma once

#include <QByteArray>
#include <QString>

/// Real image files made in memory for tests, in every format the media store accepts.
namespace ImageFixtures {

/// An image of `width` × `height` written by Qt's writer for `format` ("png", "jpeg", "tiff", "webp").
QByteArray encoded(const char* format, int width = 24, int height = 16);

/// A GIF of `frames` frames of 1 × 1 pixel (Qt writes no GIF, so it is built byte by byte).
QByteArray animatedGif(int frames);

/// A grey PNG of any size whose pixel rows are streamed through zlib, so even 8000 × 5001 takes a few
/// kilobytes and no full image is ever held in memory.
QByteArray largePng(int width, int height);

/// A HEIC file made by the heif-enc tool from a small PNG; empty when the tool fails.
QByteArray heic();

} // namespace ImageFixtures
