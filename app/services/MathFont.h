#pragma once

#include "app/services/MathList.h"

#include <QPainterPath>

#include <hb-ot.h>
#include <hb.h>

#include <array>
#include <memory>
#include <unordered_map>
#include <vector>

// Latin Modern Math through HarfBuzz: the MATH table's constants, glyph metrics, size variants, glyph
// assemblies and outlines, plus the Latin Modern text faces used by \textbf-like runs. All values are in
// design units (1000 per em). One instance per process, loaded on first use; its caches are not guarded, so
// callers use it from one thread at a time.
class MathFont {
public:
    enum FaceIndex : uint8_t { math, textBold, textItalic, textSans, textMono, faceCount };

    struct GlyphMetrics {
        double advance = 0;
        double xMin = 0, xMax = 0, yMin = 0, yMax = 0; // ink box; yMax above the baseline
        double italicCorrection = 0;
        double topAccent = 0; // attachment point; half the advance when the font has none
    };

    struct Variant {
        hb_codepoint_t glyph;
        double advance;
    };

    struct Part {
        hb_codepoint_t glyph;
        double startConnector, endConnector, fullAdvance;
        bool extender;
    };

    // The process-wide font, or nullptr when Latin Modern Math cannot be found or read.
    static MathFont* instance();

    double constant(hb_ot_math_constant_t constant) const { return m_constants[constant]; }
    double unitsPerEm(FaceIndex face = math) const { return m_faces[face].upem; }

    // The glyph for a code point, with the script-style alternates of `scriptLevel` (1 or 2) when present;
    // 0 when the font has no glyph for it.
    hb_codepoint_t glyph(char32_t codePoint, int scriptLevel = 0);
    // The flattened form of an accent, for bases taller than FlattenedAccentBaseHeight ('flac').
    hb_codepoint_t flattenedAccent(char32_t codePoint);
    const GlyphMetrics& metrics(hb_codepoint_t glyph, FaceIndex face = math);
    const QPainterPath& path(hb_codepoint_t glyph, FaceIndex face = math);
    bool isExtendedShape(hb_codepoint_t glyph) const;
    std::vector<Variant> variants(hb_codepoint_t glyph, bool horizontal) const;
    std::vector<Part> assembly(hb_codepoint_t glyph, bool horizontal) const;
    double minConnectorOverlap(bool horizontal) const;

    struct ShapedGlyph {
        hb_codepoint_t glyph;
        double x;
    };
    // Shapes a text run; returns the glyphs with their pen positions and the total advance. Uses the
    // math face when the wanted text face is missing.
    std::vector<ShapedGlyph> shapeText(const QString& text, FaceIndex& face, double& advance);

private:
    struct Face {
        hb_blob_t* blob = nullptr;
        hb_face_t* face = nullptr;
        hb_font_t* font = nullptr;
        double upem = 1000;
        std::unordered_map<hb_codepoint_t, GlyphMetrics> metrics;
        std::unordered_map<hb_codepoint_t, QPainterPath> paths;
    };

    MathFont() = default;
    bool load();
    static bool openFace(Face& face, const char* fileName);
    hb_codepoint_t shapeSingle(char32_t codePoint, hb_tag_t feature, unsigned value);

    std::array<Face, faceCount> m_faces;
    std::array<double, HB_OT_MATH_CONSTANT_RADICAL_DEGREE_BOTTOM_RAISE_PERCENT + 1> m_constants{};
    std::unordered_map<uint64_t, hb_codepoint_t> m_glyphs;
    hb_buffer_t* m_buffer = nullptr;
};
