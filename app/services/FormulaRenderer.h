#pragma once

#include <QColor>
#include <QImage>
#include <QString>

#include <optional>

class MathTypesetter;

// Checks LaTeX formula sources and renders them to pictures, with one memory cache of pictures for the
// whole process (at most 80 pictures and 24 MiB of bitmaps).
//
// Meant for the user-interface thread; the cache and the typesetter are guarded by one lock, so other
// threads may call it too. Nothing here throws.
namespace FormulaRenderer {

// Why `source` cannot be typeset, as the Italian message shown to the user, or nothing when it can.
std::optional<QString> error(const QString& source);

// The picture of `latex` at `fontSize` points (limited to 10...96) in `color`, scaled down to fit
// `maximumWidth` points (at least 40) and 300 points of height, never enlarged. The image holds a bitmap of
// twice the resolution (device pixel ratio 2); its device-independent size is the formula's displayed size
// in points. Nothing when the source has an error or the layout is unusable.
std::optional<QImage> image(const QString& latex, double fontSize, const QColor& color, double maximumWidth);

// The source without surrounding white space and one pair of math delimiters (\[ \], \( \), $$ $$, $ $).
QString normalized(const QString& source);

// The cache key of a request: normalised source, font size, maximum width and the colour's red, green and
// blue components, joined by "|" (components by ",").
QString cacheKey(const QString& latex, double fontSize, const QColor& color, double maximumWidth);

// Test seams: replace the typesetter (nullptr restores ours), empty the cache, count its entries and cost.
void setTypesetter(MathTypesetter* typesetter);
void clearCache();
int cacheCount();
qint64 cacheCost();

} // namespace FormulaRenderer
