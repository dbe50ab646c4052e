#pragma once

#include "app/services/MathList.h"

#include <QRgb>

#include <cstdint>
#include <vector>

class QPainter;

// Turns a math list into positioned glyphs and rules, in display style, following TeX's rules for math
// formulas with every dimension taken from the math font's MATH table. Used from one thread at a time.
namespace MathLayoutEngine {

struct Item {
    enum Kind : uint8_t { glyph, rule };
    Kind kind = glyph;
    uint8_t face = 0; // MathFont::FaceIndex of a glyph
    uint32_t glyphID = 0;
    double x = 0, y = 0;          // glyph origin or rule's bottom-left corner, in points; y up from the baseline
    double scale = 0;             // points per design unit of a glyph
    double width = 0, height = 0; // a rule's size in points
    QRgb color = 0;               // 0: the formula's colour
};

struct Formula {
    double width = 0, height = 0, depth = 0; // the laid-out math, without insets, in points
    std::vector<Item> items;
};

// Lays `list` out at `fontSize` points. Returns false when the math font is unavailable.
bool layout(const MathList& list, double fontSize, Formula& result);

// Draws the formula with its baseline-left point at (x, baseline) in the painter's coordinates.
void draw(const Formula& formula, QPainter& painter, double x, double baseline, QRgb color);

} // namespace MathLayoutEngine
