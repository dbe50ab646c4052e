#include "app/services/MathLayoutEngine.h"

#include "app/services/MathFont.h"

#include <QPainter>

#include <algorithm>
#include <cmath>

namespace MathLayoutEngine {
namespace {

using K = MathNode::Kind;

struct Box {
    double width = 0, height = 0, depth = 0;
    double italic = 0;
    double accentX = -1;         // top accent attachment; negative: the middle
    bool simpleGlyph = false;    // one ordinary glyph: scripts attach by the font's shifts only
    bool italicIncluded = false; // the width already holds the italic correction
    std::vector<Item> items;

    // Takes `other` by value so that callers done with a box can move it in without copying its items.
    void append(Box other, double dx, double dy) {
        for (Item& item : other.items) {
            item.x += dx;
            item.y += dy;
        }
        if (items.empty())
            items = std::move(other.items);
        else
            items.insert(items.end(), other.items.begin(), other.items.end());
    }
    void extend(double dy, const Box& other) {
        height = std::max(height, other.height + dy);
        depth = std::max(depth, other.depth - dy);
    }
};

struct Style {
    int level = 0; // 0 display, 1 text, 2 script, 3 scriptscript
    bool cramped = false;

    Style superscript() const { return {level < 2 ? 2 : 3, cramped}; }
    Style subscript() const { return {level < 2 ? 2 : 3, true}; }
    Style numerator() const { return {level == 0 ? 1 : level == 1 ? 2 : 3, cramped}; }
    Style denominator() const { return {level == 0 ? 1 : level == 1 ? 2 : 3, true}; }
    Style crampedStyle() const { return {level, true}; }
};

// Inter-atom spacing in mu: 1 thin, 2 medium, 3 thick; +10 only in display and text style.
constexpr int spacing[8][8] = {
    // Ord Op Bin Rel Open Close Punct Inner
    {0, 1, 12, 13, 0, 0, 0, 11},     // Ord
    {1, 1, 0, 13, 0, 0, 0, 11},      // Op
    {12, 12, 0, 0, 12, 0, 0, 12},    // Bin
    {13, 13, 0, 0, 13, 0, 0, 13},    // Rel
    {0, 0, 0, 0, 0, 0, 0, 0},        // Open
    {0, 1, 12, 13, 0, 0, 0, 11},     // Close
    {11, 11, 0, 11, 11, 11, 11, 11}, // Punct
    {11, 1, 12, 13, 11, 0, 11, 11},  // Inner
};

char32_t offset(char32_t c, char32_t from, char32_t base) {
    return base + (c - from);
}

// The code point of a letter or digit in a math alphabet (the Mathematical Alphanumeric Symbols block and
// its holes in Letterlike Symbols).
char32_t mapAlphabet(char32_t c, MathAlphabet alphabet) {
    bool upper = c >= 'A' && c <= 'Z', lower = c >= 'a' && c <= 'z', digit = c >= '0' && c <= '9';
    bool greekLower = c >= 0x3B1 && c <= 0x3C9, greekUpper = c >= 0x391 && c <= 0x3A9 && c != 0x3A2;
    // Italic Greek variants follow the italic alphabet after its lower-case letters.
    auto greekVariant = [](char32_t g) -> char32_t {
        switch (g) {
        case 0x3F5:
            return 0x1D716; // ϵ
        case 0x3D1:
            return 0x1D717; // ϑ
        case 0x3F0:
            return 0x1D718; // ϰ
        case 0x3D5:
            return 0x1D719; // ϕ
        case 0x3F1:
            return 0x1D71A; // ϱ
        case 0x3D6:
            return 0x1D71B; // ϖ
        default:
            return 0;
        }
    };
    switch (alphabet) {
    case MathAlphabet::normal:
    case MathAlphabet::italic:
        if (c == 'h')
            return 0x210E;
        if (c == 0x131 || c == 0x237)
            return c == 0x131 ? 0x1D6A4 : 0x1D6A5; // dotless i and j
        if (upper)
            return offset(c, 'A', 0x1D434);
        if (lower)
            return offset(c, 'a', 0x1D44E);
        if (greekLower)
            return offset(c, 0x3B1, 0x1D6FC);
        if (char32_t v = greekVariant(c))
            return v;
        if (alphabet == MathAlphabet::italic && greekUpper)
            return offset(c, 0x391, 0x1D6E2);
        return c;
    case MathAlphabet::roman:
        return c;
    case MathAlphabet::bold:
        if (upper)
            return offset(c, 'A', 0x1D400);
        if (lower)
            return offset(c, 'a', 0x1D41A);
        if (digit)
            return offset(c, '0', 0x1D7CE);
        if (greekUpper)
            return offset(c, 0x391, 0x1D6A8);
        if (greekLower)
            return offset(c, 0x3B1, 0x1D6C2);
        return c;
    case MathAlphabet::boldSymbol:
        if (upper)
            return offset(c, 'A', 0x1D468);
        if (lower)
            return offset(c, 'a', 0x1D482);
        if (digit)
            return offset(c, '0', 0x1D7CE);
        if (greekUpper)
            return offset(c, 0x391, 0x1D71C);
        if (greekLower)
            return offset(c, 0x3B1, 0x1D736);
        return c;
    case MathAlphabet::calligraphic:
        if (upper) {
            switch (c) {
            case 'B':
                return 0x212C;
            case 'E':
                return 0x2130;
            case 'F':
                return 0x2131;
            case 'H':
                return 0x210B;
            case 'I':
                return 0x2110;
            case 'L':
                return 0x2112;
            case 'M':
                return 0x2133;
            case 'R':
                return 0x211B;
            default:
                return offset(c, 'A', 0x1D49C);
            }
        }
        if (lower) {
            switch (c) {
            case 'e':
                return 0x212F;
            case 'g':
                return 0x210A;
            case 'o':
                return 0x2134;
            default:
                return offset(c, 'a', 0x1D4B6);
            }
        }
        return c;
    case MathAlphabet::blackboard:
        if (upper) {
            switch (c) {
            case 'C':
                return 0x2102;
            case 'H':
                return 0x210D;
            case 'N':
                return 0x2115;
            case 'P':
                return 0x2119;
            case 'Q':
                return 0x211A;
            case 'R':
                return 0x211D;
            case 'Z':
                return 0x2124;
            default:
                return offset(c, 'A', 0x1D538);
            }
        }
        if (lower)
            return offset(c, 'a', 0x1D552);
        if (digit)
            return offset(c, '0', 0x1D7D8);
        return c;
    case MathAlphabet::fraktur:
        if (upper) {
            switch (c) {
            case 'C':
                return 0x212D;
            case 'H':
                return 0x210C;
            case 'I':
                return 0x2111;
            case 'R':
                return 0x211C;
            case 'Z':
                return 0x2128;
            default:
                return offset(c, 'A', 0x1D504);
            }
        }
        if (lower)
            return offset(c, 'a', 0x1D51E);
        return c;
    case MathAlphabet::sansSerif:
        if (upper)
            return offset(c, 'A', 0x1D5A0);
        if (lower)
            return offset(c, 'a', 0x1D5BA);
        if (digit)
            return offset(c, '0', 0x1D7E2);
        return c;
    case MathAlphabet::monospace:
        if (upper)
            return offset(c, 'A', 0x1D670);
        if (lower)
            return offset(c, 'a', 0x1D68A);
        if (digit)
            return offset(c, '0', 0x1D7F6);
        return c;
    }
    return c;
}

bool isIntegral(char32_t c) {
    return (c >= 0x222B && c <= 0x2233) || (c >= 0x2A0B && c <= 0x2A1C);
}

class Engine {
public:
    Engine(MathFont& font, double size) : f(font), m_size(size) {}

    Box list(const MathList& nodes, Style s, QRgb color, bool leadingOrd = false);

private:
    MathFont& f;
    double m_size;

    double factor(int level) const {
        if (level < 2)
            return 1;
        return f.constant(level == 2 ? HB_OT_MATH_CONSTANT_SCRIPT_PERCENT_SCALE_DOWN
                                     : HB_OT_MATH_CONSTANT_SCRIPT_SCRIPT_PERCENT_SCALE_DOWN) /
               100.0;
    }
    double unit(Style s) const { return m_size * factor(s.level) / f.unitsPerEm(); }
    double em(Style s) const { return m_size * factor(s.level); }
    double k(hb_ot_math_constant_t c, Style s) const { return f.constant(c) * unit(s); }
    double axis(Style s) const { return k(HB_OT_MATH_CONSTANT_AXIS_HEIGHT, s); }

    Box glyphBox(hb_codepoint_t glyph, Style s, QRgb color, MathFont::FaceIndex face = MathFont::math) {
        const auto& m = f.metrics(glyph, face);
        double u = m_size * factor(s.level) / f.unitsPerEm(face);
        Box box;
        box.width = m.advance * u;
        box.height = m.yMax * u;
        box.depth = -m.yMin * u;
        box.italic = m.italicCorrection * u;
        box.accentX = m.topAccent * u;
        Item item;
        item.face = face;
        item.glyphID = glyph;
        item.scale = u;
        item.color = color;
        box.items.push_back(item);
        return box;
    }

    Box rule(double x, double y, double w, double h, QRgb color) {
        Box box;
        Item item;
        item.kind = Item::rule;
        item.x = x;
        item.y = y;
        item.width = w;
        item.height = h;
        item.color = color;
        box.items.push_back(item);
        return box;
    }

    void addRule(Box& box, double x, double y, double w, double h, QRgb color) {
        box.append(rule(x, y, w, h, color), 0, 0);
    }

    Box symbol(const MathNode& node, Style s, QRgb color) {
        char32_t c = mapAlphabet(node.codePoint, node.alphabet);
        int level = s.level >= 2 ? s.level - 1 : 0;
        hb_codepoint_t g = f.glyph(c, level);
        if (!g && c != node.codePoint)
            g = f.glyph(node.codePoint, level);
        if (!g) {
            // A character the font lacks: keep its place.
            Box box;
            box.width = 0.5 * em(s);
            box.height = 0.7 * em(s);
            return box;
        }
        Box box = glyphBox(g, s, color);
        box.simpleGlyph = !f.isExtendedShape(g);
        return box;
    }

    Box text(const QString& text, MathAlphabet alphabet, Style s, QRgb color) {
        MathFont::FaceIndex face = MathFont::math;
        if (alphabet == MathAlphabet::bold)
            face = MathFont::textBold;
        else if (alphabet == MathAlphabet::italic)
            face = MathFont::textItalic;
        else if (alphabet == MathAlphabet::sansSerif)
            face = MathFont::textSans;
        else if (alphabet == MathAlphabet::monospace)
            face = MathFont::textMono;
        double advance = 0;
        auto glyphs = f.shapeText(text, face, advance);
        double u = m_size * factor(s.level) / f.unitsPerEm(face);
        Box box;
        box.width = advance * u;
        for (const auto& g : glyphs) {
            const auto& m = f.metrics(g.glyph, face);
            box.height = std::max(box.height, m.yMax * u);
            box.depth = std::max(box.depth, -m.yMin * u);
            Item item;
            item.face = face;
            item.glyphID = g.glyph;
            item.x = g.x * u;
            item.scale = u;
            item.color = color;
            box.items.push_back(item);
        }
        return box;
    }

    Box hpack(std::initializer_list<std::pair<const Box*, double>> parts) {
        Box box;
        for (const auto& [part, dy] : parts) {
            box.append(*part, box.width, dy);
            box.extend(dy, *part);
            box.width += part->width;
        }
        return box;
    }

    // Glyph `g` grown to at least `target` total size: the glyph itself when it is tall enough, else
    // its first large enough size variant, else an assembly from parts, else its largest variant.
    Box grownVertically(hb_codepoint_t g, double target, Style s, QRgb color) {
        Box box = glyphBox(g, s, color);
        if (box.height + box.depth >= target)
            return box;
        const double u = unit(s);
        const auto variants = f.variants(g, false);
        for (const auto& v : variants)
            if (v.advance * u >= target)
                return glyphBox(v.glyph, s, color);
        Box assembled = assemble(g, target / u, false, s, color);
        if (!assembled.items.empty())
            return assembled;
        return variants.empty() ? box : glyphBox(variants.back().glyph, s, color);
    }

    // A delimiter or other vertically stretchy glyph of at least `target` total size, centred on the axis.
    Box delimiter(char32_t c, double target, Style s, QRgb color) {
        if (c == 0 || c == '.') {
            Box box;
            box.width = 0.12 * em(s);
            return box;
        }
        hb_codepoint_t g = f.glyph(c);
        if (!g)
            return delimiter('.', target, s, color);
        Box box = grownVertically(g, target, s, color);
        double shift = axis(s) - (box.height - box.depth) / 2;
        Box centred;
        centred.width = box.width;
        centred.append(box, 0, shift);
        centred.extend(shift, box);
        return centred;
    }

    // A horizontally stretchy glyph (arrow, brace, wide accent) of at least `target` width, or the widest
    // variant not wider than it when `notWider` is set.
    Box horizontal(char32_t c, double target, Style s, QRgb color, bool notWider = false) {
        hb_codepoint_t g = f.glyph(c);
        if (!g)
            return {};
        double u = unit(s);
        Box box = glyphBox(g, s, color);
        auto variants = f.variants(g, true);
        if (notWider) {
            for (const auto& v : variants)
                if (v.advance * u <= target)
                    box = glyphBox(v.glyph, s, color);
            return box;
        }
        if (box.width >= target)
            return box;
        for (const auto& v : variants)
            if (v.advance * u >= target)
                return glyphBox(v.glyph, s, color);
        Box assembled = assemble(g, target / u, true, s, color);
        if (!assembled.items.empty())
            return assembled;
        return variants.empty() ? box : glyphBox(variants.back().glyph, s, color);
    }

    // Glyph assembly: extenders repeated the fewest times that reach the target, the overlap shared evenly
    // but never beyond a connector's length.
    Box assemble(hb_codepoint_t g, double target, bool horizontalDirection, Style s, QRgb color) {
        auto parts = f.assembly(g, horizontalDirection);
        if (parts.empty())
            return {};
        double minOverlap = f.minConnectorOverlap(horizontalDirection);
        int extenders = 0;
        double fixedSize = 0, extenderSize = 0;
        int fixedCount = 0;
        for (const auto& p : parts) {
            if (p.extender) {
                ++extenders;
                extenderSize += p.fullAdvance;
            } else {
                ++fixedCount;
                fixedSize += p.fullAdvance;
            }
        }
        int repeats = 0;
        for (; extenders > 0 && repeats < 200; ++repeats) {
            int n = fixedCount + repeats * extenders;
            double maxSize = fixedSize + repeats * extenderSize - (n - 1) * minOverlap;
            if (maxSize >= target)
                break;
        }
        std::vector<MathFont::Part> sequence;
        for (const auto& p : parts) {
            if (!p.extender) {
                sequence.push_back(p);
            } else {
                for (int i = 0; i < repeats; ++i)
                    sequence.push_back(p);
            }
        }
        double totalAdvance = 0;
        for (const auto& p : sequence)
            totalAdvance += p.fullAdvance;
        double overlap = 0;
        if (sequence.size() > 1) {
            double maxOverlap = 1e9;
            for (size_t i = 0; i + 1 < sequence.size(); ++i)
                maxOverlap = std::min(maxOverlap, std::min(sequence[i].endConnector, sequence[i + 1].startConnector));
            overlap = (totalAdvance - target) / double(sequence.size() - 1);
            overlap = std::min(std::max(overlap, minOverlap), std::max(maxOverlap, 0.0));
        }
        double u = unit(s);
        Box box;
        double position = 0;
        for (const auto& p : sequence) {
            Box part = glyphBox(p.glyph, s, color);
            if (horizontalDirection) {
                box.append(part, position * u, 0);
                box.extend(0, part);
            } else {
                const auto& m = f.metrics(p.glyph);
                box.append(part, 0, (position - m.yMin) * u);
                box.width = std::max(box.width, part.width);
            }
            position += p.fullAdvance - overlap;
        }
        double total = (position + overlap) * u;
        if (horizontalDirection)
            box.width = total;
        else
            box.height = total;
        return box;
    }

    // left segment (middle segment)* right, delimiters sized to the tallest segment.
    Box fence(char32_t left, const std::vector<Box>& segments, const std::vector<char32_t>& middles, char32_t right,
              Style s, QRgb color) {
        double a = axis(s);
        double delta = 0;
        for (const auto& b : segments)
            delta = std::max({delta, b.height - a, b.depth + a});
        double target = std::max(delta * 1.802, 2 * delta - 0.5 * em(s));
        Box box = delimiter(left, target, s, color);
        for (size_t i = 0; i < segments.size(); ++i) {
            if (i > 0 && i - 1 < middles.size()) {
                Box middle = delimiter(middles[i - 1], target, s, color);
                box.append(middle, box.width, 0);
                box.extend(0, middle);
                box.width += middle.width;
            }
            box.append(segments[i], box.width, 0);
            box.extend(0, segments[i]);
            box.width += segments[i].width;
        }
        Box closing = delimiter(right, target, s, color);
        box.append(closing, box.width, 0);
        box.extend(0, closing);
        box.width += closing.width;
        return box;
    }

    Box fraction(const MathNode& node, Style s, QRgb color) {
        if (node.forcedStyle == 0 || node.forcedStyle == 10)
            s = {0, s.cramped};
        else if (node.forcedStyle == 1)
            s = {1, s.cramped};
        bool display = s.level == 0;
        Style numeratorStyle = node.forcedStyle == 10 ? Style{0, false} : s.numerator();
        Box num = list(node.body, numeratorStyle, color);
        Box den = list(node.second, s.denominator(), color);
        double a = axis(s);
        double u, v;
        double t = 0;
        if (node.rule) {
            t = k(HB_OT_MATH_CONSTANT_FRACTION_RULE_THICKNESS, s);
            double shiftUp = k(display ? HB_OT_MATH_CONSTANT_FRACTION_NUMERATOR_DISPLAY_STYLE_SHIFT_UP
                                       : HB_OT_MATH_CONSTANT_FRACTION_NUMERATOR_SHIFT_UP,
                               s);
            double shiftDown = k(display ? HB_OT_MATH_CONSTANT_FRACTION_DENOMINATOR_DISPLAY_STYLE_SHIFT_DOWN
                                         : HB_OT_MATH_CONSTANT_FRACTION_DENOMINATOR_SHIFT_DOWN,
                                 s);
            double gapNum = k(display ? HB_OT_MATH_CONSTANT_FRACTION_NUM_DISPLAY_STYLE_GAP_MIN
                                      : HB_OT_MATH_CONSTANT_FRACTION_NUMERATOR_GAP_MIN,
                              s);
            double gapDen = k(display ? HB_OT_MATH_CONSTANT_FRACTION_DENOM_DISPLAY_STYLE_GAP_MIN
                                      : HB_OT_MATH_CONSTANT_FRACTION_DENOMINATOR_GAP_MIN,
                              s);
            u = std::max(shiftUp, a + t / 2 + gapNum + num.depth);
            v = std::max(shiftDown, den.height + gapDen + t / 2 - a);
        } else {
            u = k(display ? HB_OT_MATH_CONSTANT_STACK_TOP_DISPLAY_STYLE_SHIFT_UP
                          : HB_OT_MATH_CONSTANT_STACK_TOP_SHIFT_UP,
                  s);
            v = k(display ? HB_OT_MATH_CONSTANT_STACK_BOTTOM_DISPLAY_STYLE_SHIFT_DOWN
                          : HB_OT_MATH_CONSTANT_STACK_BOTTOM_SHIFT_DOWN,
                  s);
            double gapMin =
                k(display ? HB_OT_MATH_CONSTANT_STACK_DISPLAY_STYLE_GAP_MIN : HB_OT_MATH_CONSTANT_STACK_GAP_MIN, s);
            double gap = (u - num.depth) - (den.height - v);
            if (gap < gapMin) {
                u += (gapMin - gap) / 2;
                v += (gapMin - gap) / 2;
            }
        }
        double pad = 0.12 * em(s);
        double w = std::max(num.width, den.width);
        Box box;
        box.width = w + 2 * pad;
        box.append(num, pad + (w - num.width) / 2, u);
        box.extend(u, num);
        box.append(den, pad + (w - den.width) / 2, -v);
        box.extend(-v, den);
        if (node.rule) {
            addRule(box, pad, a - t / 2, w, t, color);
            box.height = std::max(box.height, a + t / 2);
        }
        if (node.left || node.right)
            return fence(node.left, {box}, {}, node.right, s, color);
        return box;
    }

    Box radical(const MathNode& node, Style s, QRgb color) {
        Box body = list(node.body, s.crampedStyle(), color);
        double t = k(HB_OT_MATH_CONSTANT_RADICAL_RULE_THICKNESS, s);
        double gap = k(s.level == 0 ? HB_OT_MATH_CONSTANT_RADICAL_DISPLAY_STYLE_VERTICAL_GAP
                                    : HB_OT_MATH_CONSTANT_RADICAL_VERTICAL_GAP,
                       s);
        double extra = k(HB_OT_MATH_CONSTANT_RADICAL_EXTRA_ASCENDER, s);
        double target = body.height + body.depth + gap + t;
        hb_codepoint_t g = f.glyph(0x221A);
        Box surd = grownVertically(g, target, s, color);
        double surdTotal = surd.height + surd.depth;
        if (surdTotal > target)
            gap += (surdTotal - target) / 2;
        double ruleTop = body.height + gap + t;
        double surdShift = ruleTop - surd.height; // the surd's ink top is the rule's top

        Box box;
        if (!node.second.empty()) {
            Style indexStyle{3, true};
            Box index = list(node.second, indexStyle, color);
            double before = k(HB_OT_MATH_CONSTANT_RADICAL_KERN_BEFORE_DEGREE, s);
            double after = std::max(k(HB_OT_MATH_CONSTANT_RADICAL_KERN_AFTER_DEGREE, s), -index.width);
            double raise = f.constant(HB_OT_MATH_CONSTANT_RADICAL_DEGREE_BOTTOM_RAISE_PERCENT) / 100.0 * surdTotal;
            double indexShift = surdShift - surd.depth + raise;
            box.append(index, before, indexShift);
            box.extend(indexShift, index);
            box.width = std::max(0.0, before + index.width + after);
        }
        box.append(surd, box.width, surdShift);
        box.extend(surdShift, surd);
        box.width += surd.width;
        box.append(body, box.width, 0);
        box.extend(0, body);
        addRule(box, box.width, ruleTop - t, body.width, t, color);
        box.width += body.width;
        box.height = std::max(box.height, ruleTop + extra);
        return box;
    }

    Box largeOperator(const MathNode& node, Style s, QRgb color) {
        if (node.codePoint == 0) {
            // A named function's scripts sit where a letter's would, as in TeX, not dropped below its ink.
            Box box = node.text.isEmpty() ? list(node.body, s, color) : text(node.text, MathAlphabet::roman, s, color);
            box.simpleGlyph = true;
            return box;
        }
        hb_codepoint_t g = f.glyph(node.codePoint);
        if (!g)
            return symbol(node, s, color);
        if (s.level == 0) {
            double minHeight = f.constant(HB_OT_MATH_CONSTANT_DISPLAY_OPERATOR_MIN_HEIGHT);
            for (const auto& v : f.variants(g, false)) {
                if (v.advance >= minHeight) {
                    g = v.glyph;
                    break;
                }
            }
        }
        Box glyph = glyphBox(g, s, color);
        double shift = axis(s) - (glyph.height - glyph.depth) / 2;
        Box box;
        box.width = glyph.width;
        box.italic = glyph.italic;
        box.append(glyph, 0, shift);
        box.extend(shift, glyph);
        return box;
    }

    Box accent(const MathNode& node, Style s, QRgb color) {
        bool single = node.body.size() == 1 && node.body.front().kind == K::symbol && !node.body.front().hasSup &&
                      !node.body.front().hasSub;
        Box base;
        if (single && (node.body.front().codePoint == 'i' || node.body.front().codePoint == 'j') &&
            (node.body.front().alphabet == MathAlphabet::normal ||
             node.body.front().alphabet == MathAlphabet::italic)) {
            // Accents sit on dotless i and j.
            MathNode dotless = node.body.front();
            dotless.codePoint = dotless.codePoint == 'i' ? 0x131 : 0x237;
            base = symbol(dotless, s.crampedStyle(), color);
        } else {
            base = list(node.body, s.crampedStyle(), color);
        }
        double attach = single && base.accentX >= 0 ? base.accentX : base.width / 2;
        hb_codepoint_t g = f.glyph(node.codePoint);
        if (!g)
            return base;
        if (base.height > k(HB_OT_MATH_CONSTANT_FLATTENED_ACCENT_BASE_HEIGHT, s))
            if (hb_codepoint_t flat = f.flattenedAccent(node.codePoint))
                g = flat;
        Box mark = glyphBox(g, s, color);
        if (node.flags & 1 || !single) {
            Box wide = horizontal(node.codePoint, base.width, s, color, true);
            if (!wide.items.empty())
                mark = std::move(wide);
        }
        const auto& m = f.metrics(mark.items.front().glyphID);
        double markAttach = m.topAccent * unit(s);
        if (mark.accentX < 0 || std::abs(m.topAccent - m.advance / 2) < 1e-9)
            markAttach = (m.xMin + m.xMax) / 2 * unit(s);
        double accentBase = k(HB_OT_MATH_CONSTANT_ACCENT_BASE_HEIGHT, s);
        double raise = std::max(0.0, base.height - accentBase);
        Box box = base;
        box.append(mark, attach - markAttach, raise);
        box.extend(raise, mark);
        box.simpleGlyph = false;
        box.italic = base.italic;
        return box;
    }

    Box overUnder(const MathNode& node, Style s, QRgb color) {
        bool over = node.flags & 1;
        Box base = list(node.body, s, color);
        if (node.codePoint == 0) {
            // \overset / \underset: the label as a limit in script style.
            Style labelStyle = over ? s.superscript() : s.subscript();
            Box label = list(node.second, labelStyle, color);
            return limits(base, over ? &label : nullptr, over ? nullptr : &label, s, 0);
        }
        Box stretch = horizontal(node.codePoint, base.width, s, color);
        // Braces and arrows are drawn well above or around their baseline: place them by their ink.
        double inkBottom = 0, inkTop = 0;
        inkExtent(stretch, inkBottom, inkTop);
        double gap = k(over ? HB_OT_MATH_CONSTANT_OVERBAR_VERTICAL_GAP : HB_OT_MATH_CONSTANT_UNDERBAR_VERTICAL_GAP, s);
        Box box;
        box.width = std::max(base.width, stretch.width);
        box.append(base, (box.width - base.width) / 2, 0);
        box.extend(0, base);
        double dy = over ? base.height + gap - inkBottom : -(base.depth + gap) - inkTop;
        box.append(stretch, (box.width - stretch.width) / 2, dy);
        box.height = std::max(box.height, dy + inkTop);
        box.depth = std::max(box.depth, -(dy + inkBottom));
        return box;
    }

    void inkExtent(const Box& box, double& bottom, double& top) {
        bool first = true;
        for (const Item& item : box.items) {
            double lo, hi;
            if (item.kind == Item::rule) {
                lo = item.y;
                hi = item.y + item.height;
            } else {
                const auto& m = f.metrics(item.glyphID, MathFont::FaceIndex(item.face));
                lo = item.y + m.yMin * item.scale;
                hi = item.y + m.yMax * item.scale;
            }
            bottom = first ? lo : std::min(bottom, lo);
            top = first ? hi : std::max(top, hi);
            first = false;
        }
    }

    Box limits(const Box& nucleus, const Box* upper, const Box* lower, Style s, double italic) {
        double w = nucleus.width;
        if (upper)
            w = std::max(w, upper->width);
        if (lower)
            w = std::max(w, lower->width);
        Box box;
        box.width = w;
        box.append(nucleus, (w - nucleus.width) / 2, 0);
        box.extend(0, nucleus);
        if (upper) {
            double rise = std::max(k(HB_OT_MATH_CONSTANT_UPPER_LIMIT_BASELINE_RISE_MIN, s),
                                   k(HB_OT_MATH_CONSTANT_UPPER_LIMIT_GAP_MIN, s) + upper->depth);
            double y = nucleus.height + rise;
            box.append(*upper, (w - upper->width) / 2 + italic / 2, y);
            box.extend(y, *upper);
        }
        if (lower) {
            double drop = std::max(k(HB_OT_MATH_CONSTANT_LOWER_LIMIT_BASELINE_DROP_MIN, s),
                                   k(HB_OT_MATH_CONSTANT_LOWER_LIMIT_GAP_MIN, s) + lower->height);
            double y = -(nucleus.depth + drop);
            box.append(*lower, (w - lower->width) / 2 - italic / 2, y);
            box.extend(y, *lower);
        }
        return box;
    }

    Box scripts(Box nucleus, const MathNode& node, Style s, QRgb color) {
        bool isLargeOp = node.kind == K::largeOp;
        bool useLimits = false;
        if (isLargeOp) {
            bool byDefault = node.codePoint == 0 ? node.flags == 1 : !isIntegral(node.codePoint);
            useLimits = node.limits == 1 || (node.limits == 0 && byDefault && s.level == 0);
        } else if (node.kind == K::overUnder && (node.flags & 2)) {
            useLimits = true;
        }
        if (useLimits) {
            Box upper, lower;
            if (node.hasSup)
                upper = list(node.sup, s.superscript(), color);
            if (node.hasSub)
                lower = list(node.sub, s.subscript(), color);
            return limits(nucleus, node.hasSup ? &upper : nullptr, node.hasSub ? &lower : nullptr, s,
                          isLargeOp ? nucleus.italic : 0);
        }
        bool simple = nucleus.simpleGlyph && !(isLargeOp && node.codePoint != 0);
        double italic = isLargeOp ? 0 : nucleus.italic;
        Box box = nucleus;
        box.simpleGlyph = false;
        // A superscript clears the italic correction, a subscript tucks under it.
        double glyphWidth = nucleus.italicIncluded ? nucleus.width - nucleus.italic : nucleus.width;
        double supX = glyphWidth + italic;
        double subX = glyphWidth - (isLargeOp ? nucleus.italic : 0);
        double right = std::max(nucleus.width, glyphWidth + italic);
        if (node.hasSup && !node.hasSub) {
            Box sup = list(node.sup, s.superscript(), color);
            double shiftUp = k(s.cramped ? HB_OT_MATH_CONSTANT_SUPERSCRIPT_SHIFT_UP_CRAMPED
                                         : HB_OT_MATH_CONSTANT_SUPERSCRIPT_SHIFT_UP,
                               s);
            double u =
                std::max({simple ? 0.0 : nucleus.height - k(HB_OT_MATH_CONSTANT_SUPERSCRIPT_BASELINE_DROP_MAX, s),
                          shiftUp, sup.depth + k(HB_OT_MATH_CONSTANT_SUPERSCRIPT_BOTTOM_MIN, s)});
            box.append(sup, supX, u);
            box.extend(u, sup);
            right = std::max(right, supX + sup.width);
        } else if (node.hasSub && !node.hasSup) {
            Box sub = list(node.sub, s.subscript(), color);
            double v = std::max({simple ? 0.0 : nucleus.depth + k(HB_OT_MATH_CONSTANT_SUBSCRIPT_BASELINE_DROP_MIN, s),
                                 k(HB_OT_MATH_CONSTANT_SUBSCRIPT_SHIFT_DOWN, s),
                                 sub.height - k(HB_OT_MATH_CONSTANT_SUBSCRIPT_TOP_MAX, s)});
            box.append(sub, subX, -v);
            box.extend(-v, sub);
            right = std::max(right, subX + sub.width);
        } else if (node.hasSub && node.hasSup) {
            Box sup = list(node.sup, s.superscript(), color);
            Box sub = list(node.sub, s.subscript(), color);
            double shiftUp = k(s.cramped ? HB_OT_MATH_CONSTANT_SUPERSCRIPT_SHIFT_UP_CRAMPED
                                         : HB_OT_MATH_CONSTANT_SUPERSCRIPT_SHIFT_UP,
                               s);
            double u =
                std::max({simple ? 0.0 : nucleus.height - k(HB_OT_MATH_CONSTANT_SUPERSCRIPT_BASELINE_DROP_MAX, s),
                          shiftUp, sup.depth + k(HB_OT_MATH_CONSTANT_SUPERSCRIPT_BOTTOM_MIN, s)});
            double v = std::max(simple ? 0.0 : nucleus.depth + k(HB_OT_MATH_CONSTANT_SUBSCRIPT_BASELINE_DROP_MIN, s),
                                k(HB_OT_MATH_CONSTANT_SUBSCRIPT_SHIFT_DOWN, s));
            double gapMin = k(HB_OT_MATH_CONSTANT_SUB_SUPERSCRIPT_GAP_MIN, s);
            double gap = (u - sup.depth) - (sub.height - v);
            if (gap < gapMin) {
                double raise = std::min(gapMin - gap, k(HB_OT_MATH_CONSTANT_SUPERSCRIPT_BOTTOM_MAX_WITH_SUBSCRIPT, s) -
                                                          (u - sup.depth));
                if (raise > 0) {
                    u += raise;
                    gap += raise;
                }
                if (gap < gapMin)
                    v += gapMin - gap;
            }
            box.append(sup, supX, u);
            box.extend(u, sup);
            box.append(sub, subX, -v);
            box.extend(-v, sub);
            right = std::max({right, supX + sup.width, subX + sub.width});
        }
        box.width = right + k(HB_OT_MATH_CONSTANT_SPACE_AFTER_SCRIPT, s);
        box.italic = 0;
        box.italicIncluded = false;
        return box;
    }

    Box table(const MathTable& t, Style outer, QRgb color);

    Box nucleus(const MathNode& node, Style s, QRgb color);

    friend class TableBuilder;
};

Box Engine::table(const MathTable& t, Style outer, QRgb color) {
    using E = MathEnvironment;
    Style cellStyle{1, false};
    double strutFactor = 1;
    double columnGap = em(outer);
    double rowGap = 0;
    double edge = 0;
    switch (t.environment) {
    case E::dcases:
    case E::aligned:
    case E::gathered:
    case E::lines:
        cellStyle = {0, false};
        break;
    case E::smallmatrix:
        cellStyle = {2, false};
        strutFactor = 0.5;
        columnGap = 0.28 * em(outer);
        break;
    case E::substack:
        cellStyle = {outer.level < 2 ? 2 : 3, outer.cramped};
        strutFactor = 0;
        break;
    default:
        break;
    }
    if (t.environment == E::cases || t.environment == E::dcases || t.environment == E::rcases)
        strutFactor = 1.2;
    if (t.environment == E::aligned || t.environment == E::gathered || t.environment == E::lines)
        rowGap = 0.3 * em(outer);
    if (t.environment == E::array)
        edge = 0.5 * em(outer);

    size_t columns = 0;
    for (const auto& row : t.rows)
        columns = std::max(columns, row.size());
    std::vector<std::vector<Box>> cells(t.rows.size());
    std::vector<double> widths(columns, 0);
    for (size_t r = 0; r < t.rows.size(); ++r) {
        for (size_t c = 0; c < t.rows[r].size(); ++c) {
            bool leadingOrd = t.environment == E::aligned && c % 2 == 1;
            cells[r].push_back(list(t.rows[r][c], cellStyle, color, leadingOrd));
            widths[c] = std::max(widths[c], cells[r].back().width);
        }
    }
    auto alignment = [&](size_t c) -> char {
        switch (t.environment) {
        case E::cases:
        case E::dcases:
        case E::rcases:
            return 'l';
        case E::aligned:
            return c % 2 == 0 ? 'r' : 'l';
        case E::array:
            return c < size_t(t.columnAlignment.size()) ? char(t.columnAlignment[int(c)].unicode()) : 'c';
        default:
            return 'c';
        }
    };
    std::vector<double> columnX(columns, 0);
    double x = edge;
    for (size_t c = 0; c < columns; ++c) {
        if (c > 0) {
            bool pairGap = t.environment == E::aligned && c % 2 == 1;
            x += pairGap ? 0 : columnGap;
        }
        columnX[c] = x;
        x += widths[c];
    }
    double totalWidth = x + edge;

    double strutHeight = 0.84 * em(outer) * strutFactor, strutDepth = 0.36 * em(outer) * strutFactor;
    if (t.environment == E::substack) {
        strutHeight = 0;
        strutDepth = 0;
        rowGap = 0.1 * em(cellStyle);
    }
    std::vector<double> heights(t.rows.size()), depths(t.rows.size());
    double total = 0;
    for (size_t r = 0; r < t.rows.size(); ++r) {
        heights[r] = strutHeight;
        depths[r] = strutDepth;
        for (const auto& cell : cells[r]) {
            heights[r] = std::max(heights[r], cell.height);
            depths[r] = std::max(depths[r], cell.depth);
        }
        total += heights[r] + depths[r] + (r > 0 ? rowGap : 0);
    }
    double a = axis(outer);
    Box box;
    box.width = totalWidth;
    box.height = total / 2 + a;
    box.depth = total / 2 - a;
    double top = box.height;
    std::vector<double> boundaries; // y of the top of each row, then the bottom of the last
    double y = top;
    for (size_t r = 0; r < t.rows.size(); ++r) {
        if (r > 0)
            y -= rowGap;
        boundaries.push_back(y + (r > 0 ? rowGap / 2 : 0));
        double baseline = y - heights[r];
        for (size_t c = 0; c < cells[r].size(); ++c) {
            const Box& cell = cells[r][c];
            char align = alignment(c);
            double cx = columnX[c];
            if (align == 'c')
                cx += (widths[c] - cell.width) / 2;
            else if (align == 'r')
                cx += widths[c] - cell.width;
            box.append(cell, cx, baseline);
        }
        y = baseline - depths[r];
    }
    boundaries.push_back(y);
    double thickness = 0.04 * em(outer);
    for (int before : t.verticalRulesBefore) {
        double rx = before <= 0              ? 0
                    : before >= int(columns) ? totalWidth - thickness
                                             : columnX[before] - columnGap / 2 - thickness / 2;
        addRule(box, rx, -box.depth, thickness, total, color);
    }
    for (int before : t.horizontalRulesBefore) {
        if (before < 0 || before >= int(boundaries.size()))
            continue;
        addRule(box, 0, boundaries[before] - thickness / 2, totalWidth, thickness, color);
    }

    char32_t left = 0, right = 0;
    switch (t.environment) {
    case E::pmatrix:
        left = '(';
        right = ')';
        break;
    case E::bmatrix:
        left = '[';
        right = ']';
        break;
    case E::Bmatrix:
        left = '{';
        right = '}';
        break;
    case E::vmatrix:
        left = '|';
        right = '|';
        break;
    case E::Vmatrix:
        left = 0x2016;
        right = 0x2016;
        break;
    case E::cases:
    case E::dcases:
        left = '{';
        right = '.';
        break;
    case E::rcases:
        left = '.';
        right = '}';
        break;
    default:
        break;
    }
    if (left || right)
        return fence(left, {box}, {}, right, outer, color);
    return box;
}

Box Engine::nucleus(const MathNode& node, Style s, QRgb color) {
    switch (node.kind) {
    case K::symbol:
        return symbol(node, s, color);
    case K::group: {
        Box box = list(node.body, s, color);
        if (node.body.size() == 1 && node.body.front().kind == K::symbol) {
            box.simpleGlyph = !node.body.front().hasSup && !node.body.front().hasSub;
        }
        return box;
    }
    case K::fraction:
        return fraction(node, s, color);
    case K::radical:
        return radical(node, s, color);
    case K::largeOp:
        return largeOperator(node, s, color);
    case K::fenced: {
        std::vector<Box> segments;
        for (const auto& segment : node.cells)
            segments.push_back(list(segment, s, color));
        return fence(node.left, segments, node.middles, node.right, s, color);
    }
    case K::bigDelimiter:
        // The font's size variants sit a hair under 1.2, 1.8, 2.4 and 3 em.
        return delimiter(node.codePoint, node.number * 0.99 * em(s), s, color);
    case K::accent:
        return accent(node, s, color);
    case K::overUnder:
        return overUnder(node, s, color);
    case K::lineOver: {
        Box base = list(node.body, node.flags ? s.crampedStyle() : s, color);
        Box box = base;
        if (node.flags) {
            double gap = k(HB_OT_MATH_CONSTANT_OVERBAR_VERTICAL_GAP, s);
            double t = k(HB_OT_MATH_CONSTANT_OVERBAR_RULE_THICKNESS, s);
            addRule(box, 0, base.height + gap, base.width, t, color);
            box.height = base.height + gap + t + k(HB_OT_MATH_CONSTANT_OVERBAR_EXTRA_ASCENDER, s);
        } else {
            double gap = k(HB_OT_MATH_CONSTANT_UNDERBAR_VERTICAL_GAP, s);
            double t = k(HB_OT_MATH_CONSTANT_UNDERBAR_RULE_THICKNESS, s);
            addRule(box, 0, -(base.depth + gap + t), base.width, t, color);
            box.depth = base.depth + gap + t + k(HB_OT_MATH_CONSTANT_UNDERBAR_EXTRA_DESCENDER, s);
        }
        return box;
    }
    case K::arrowLabel: {
        Box upper = list(node.second, s.superscript(), color);
        Box lower = list(node.third, s.subscript(), color);
        double labelWidth = std::max(upper.width, lower.width);
        Box arrow = horizontal(node.codePoint, labelWidth + em(s), s, color);
        double w = std::max(arrow.width, labelWidth);
        Box box;
        box.width = w;
        box.append(arrow, (w - arrow.width) / 2, 0);
        box.extend(0, arrow);
        double up = std::max(k(HB_OT_MATH_CONSTANT_STRETCH_STACK_TOP_SHIFT_UP, s),
                             arrow.height + k(HB_OT_MATH_CONSTANT_STRETCH_STACK_GAP_BELOW_MIN, s) + upper.depth);
        box.append(upper, (w - upper.width) / 2, up);
        box.extend(up, upper);
        if (!node.third.empty()) {
            double down = std::max(k(HB_OT_MATH_CONSTANT_STRETCH_STACK_BOTTOM_SHIFT_DOWN, s),
                                   arrow.depth + k(HB_OT_MATH_CONSTANT_STRETCH_STACK_GAP_ABOVE_MIN, s) + lower.height);
            box.append(lower, (w - lower.width) / 2, -down);
            box.extend(-down, lower);
        }
        return box;
    }
    case K::text:
        return text(node.text, node.alphabet, s, color);
    case K::space: {
        Box box;
        box.width = node.number * em(s);
        return box;
    }
    case K::table:
        return node.tables.empty() ? Box{} : table(node.tables.front(), s, color);
    case K::phantom: {
        Box body = list(node.body, s, color);
        Box box;
        box.width = (node.flags & 1) ? body.width : 0;
        box.height = (node.flags & 2) ? body.height : 0;
        box.depth = (node.flags & 2) ? body.depth : 0;
        return box;
    }
    case K::boxed: {
        Box body = list(node.body, {std::min(s.level, 1), s.cramped}, color);
        double pad = 0.3 * em(s), t = 0.04 * em(s);
        Box box;
        box.width = body.width + 2 * (pad + t);
        box.height = body.height + pad + t;
        box.depth = body.depth + pad + t;
        box.append(std::move(body), pad + t, 0);
        addRule(box, 0, -box.depth, box.width, t, color);
        addRule(box, 0, box.height - t, box.width, t, color);
        addRule(box, 0, -box.depth, t, box.height + box.depth, color);
        addRule(box, box.width - t, -box.depth, t, box.height + box.depth, color);
        return box;
    }
    case K::negation: {
        Box body = list(node.body, s, color);
        hb_codepoint_t g = f.glyph(0x0338);
        if (!g)
            return body;
        Box slash = glyphBox(g, s, color);
        const auto& m = f.metrics(g);
        double centre = (m.xMin + m.xMax) / 2 * unit(s);
        Box box = body;
        box.append(slash, body.width / 2 - centre, 0);
        box.extend(0, slash);
        return box;
    }
    case K::styleChange:
    case K::colorChange:
        return {};
    }
    return {};
}

Box Engine::list(const MathList& nodes, Style s, QRgb color, bool leadingOrd) {
    struct Atom {
        Box box;
        MathAtomType type;
        bool isSpace;
        bool slanted; // a letter of the math italic alphabet without scripts
        Style style;
    };
    std::vector<Atom> atoms;
    atoms.reserve(nodes.size());
    for (const MathNode& node : nodes) {
        if (node.kind == K::styleChange) {
            s = {int(node.number), false};
            continue;
        }
        if (node.kind == K::colorChange) {
            if (node.color) // 0: a colour name we do not know
                color = node.color;
            continue;
        }
        Box box = nucleus(node, s, color);
        if (node.hasSup || node.hasSub)
            box = scripts(std::move(box), node, s, color);
        bool slanted =
            node.kind == K::symbol && !node.hasSup && !node.hasSub &&
            (node.alphabet == MathAlphabet::normal || node.alphabet == MathAlphabet::italic) &&
            ((node.codePoint >= 'a' && node.codePoint <= 'z') || (node.codePoint >= 'A' && node.codePoint <= 'Z'));
        atoms.push_back({std::move(box), node.type, node.kind == K::space, slanted, s});
    }
    // Binary operators where no operand can stand on their left or right are ordinary.
    int previous = -1;
    for (size_t i = 0; i < atoms.size(); ++i) {
        if (atoms[i].isSpace)
            continue;
        MathAtomType& type = atoms[i].type;
        if (type == MathAtomType::bin) {
            MathAtomType before =
                previous < 0 ? (leadingOrd ? MathAtomType::ord : MathAtomType::bin) : atoms[previous].type;
            if (before == MathAtomType::bin || before == MathAtomType::op || before == MathAtomType::rel ||
                before == MathAtomType::open || before == MathAtomType::punct)
                type = MathAtomType::ord;
        } else if ((type == MathAtomType::rel || type == MathAtomType::close || type == MathAtomType::punct) &&
                   previous >= 0 && atoms[previous].type == MathAtomType::bin) {
            atoms[previous].type = MathAtomType::ord;
        }
        previous = int(i);
    }
    if (previous >= 0 && atoms[previous].type == MathAtomType::bin)
        atoms[previous].type = MathAtomType::ord;

    Box result;
    int last = leadingOrd ? -2 : -1; // -2: an empty Ord opens the list
    for (size_t i = 0; i < atoms.size(); ++i) {
        Atom& atom = atoms[i];
        if (!atom.isSpace && last != -1) {
            MathAtomType before = last == -2 ? MathAtomType::ord : atoms[last].type;
            int code = spacing[int(before)][int(atom.type)];
            int muCount = code % 10 == 1 ? 3 : code % 10 == 2 ? 4 : code % 10 == 3 ? 5 : 0;
            if (code >= 10 && atom.style.level >= 2)
                muCount = 0;
            result.width += muCount * em(atom.style) / 18;
        }
        result.extend(0, atom.box);
        const double atomWidth = atom.box.width;
        result.append(std::move(atom.box), result.width, 0); // its scalars stay readable
        result.width += atomWidth;
        // Italic correction after a slanted letter unless another slanted letter follows.
        if (atom.slanted && atom.box.italic > 0) {
            bool nextSlanted = i + 1 < atoms.size() && atoms[i + 1].slanted;
            if (!nextSlanted)
                result.width += atom.box.italic;
        }
        if (!atom.isSpace)
            last = int(i);
    }
    if (atoms.size() == 1) {
        result.simpleGlyph = atoms.front().box.simpleGlyph;
        result.italic = atoms.front().box.italic;
        result.accentX = atoms.front().box.accentX;
        result.italicIncluded = atoms.front().slanted && atoms.front().box.italic > 0;
    }
    return result;
}

} // namespace

bool layout(const MathList& list, double fontSize, Formula& result) {
    MathFont* font = MathFont::instance();
    if (!font)
        return false;
    Engine engine(*font, fontSize);
    Box box = engine.list(list, {0, false}, 0);
    result.width = box.width;
    result.height = box.height;
    result.depth = box.depth;
    result.items = std::move(box.items);
    return true;
}

void draw(const Formula& formula, QPainter& painter, double x, double baseline, QRgb color) {
    MathFont* font = MathFont::instance();
    if (!font)
        return;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setPen(Qt::NoPen);
    const QTransform base = painter.worldTransform();
    QColor defaultColor = QColor::fromRgba(color);
    for (const Item& item : formula.items) {
        QColor itemColor = item.color ? QColor::fromRgba(item.color) : defaultColor;
        if (item.kind == Item::rule) {
            painter.setWorldTransform(base);
            painter.fillRect(QRectF(x + item.x, baseline - item.y - item.height, item.width, item.height), itemColor);
            continue;
        }
        const QPainterPath& path = font->path(item.glyphID, MathFont::FaceIndex(item.face));
        if (path.isEmpty())
            continue;
        painter.setWorldTransform(QTransform(item.scale, 0, 0, -item.scale, x + item.x, baseline - item.y) * base);
        painter.fillPath(path, itemColor);
    }
    painter.restore();
}

} // namespace MathLayoutEngine
