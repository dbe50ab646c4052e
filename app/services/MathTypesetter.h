#pragma once

#include "app/services/MathList.h"

#include <QColor>
#include <QSizeF>

#include <memory>
#include <optional>

class QPainter;

// Why a source could not be parsed. The first failure from the left decides the kind.
enum class MathErrorKind {
    mismatchedBraces,
    unknownCommand,
    characterNotFound,
    missingDelimiter,
    invalidDelimiter,
    missingRight,
    missingLeft,
    invalidEnvironment,
    missingEnvironment,
    missingBegin,
    missingEnd,
    invalidNumberOfColumns,
    other,
};

// A parse yields a math list or an error kind; a typesetter may also yield neither.
struct MathParseResult {
    std::optional<MathList> list;
    std::optional<MathErrorKind> error;
};

// A formula laid out at a size and colour, ready to draw any number of times.
class MathLayout {
public:
    virtual ~MathLayout() = default;
    // The size that holds the formula and its insets, in points.
    virtual QSizeF size() const = 0;
    // Draws into `painter` with the top-left corner of the size at the origin of the painter's current
    // coordinate system (which the caller may have scaled).
    virtual void draw(QPainter& painter) const = 0;
};

// The LaTeX math typesetter seam: parse a source, lay it out in display style with 4-point insets on all sides.
// Implementations are used from one thread at a time (the user-interface thread); they throw nothing.
class MathTypesetter {
public:
    virtual ~MathTypesetter() = default;
    virtual MathParseResult parse(const QString& source) const = 0;
    // nullptr when the source does not parse or the math font cannot be loaded.
    virtual std::unique_ptr<MathLayout> layout(const QString& source, double fontSize, const QColor& color) const = 0;
};

// Our own typesetter over Latin Modern Math, shared by the whole process.
MathTypesetter& defaultMathTypesetter();
