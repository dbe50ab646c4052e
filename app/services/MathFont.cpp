#include "app/services/MathFont.h"

#include <QFile>
#include <QStandardPaths>

#include <mutex>

namespace {

// Where Debian and TeX distributions install the Latin Modern OpenType fonts.
const char* const fontFolders[] = {
    "/usr/share/texmf/fonts/opentype/public/",
    "/usr/share/texlive/texmf-dist/fonts/opentype/public/",
    "/usr/local/share/texmf/fonts/opentype/public/",
    "/usr/share/fonts/opentype/",
};

QString locate(const char* subfolderAndFile) {
    for (const char* folder : fontFolders) {
        QString candidate = QString::fromUtf8(folder) + QString::fromUtf8(subfolderAndFile);
        if (QFile::exists(candidate))
            return candidate;
    }
    // Fonts installed for the user or found through the generic font folders.
    QString file = QString::fromUtf8(subfolderAndFile).section(QLatin1Char('/'), -1);
    for (const QString& folder : QStandardPaths::standardLocations(QStandardPaths::FontsLocation)) {
        QString candidate = folder + QLatin1Char('/') + file;
        if (QFile::exists(candidate))
            return candidate;
    }
    return {};
}

void moveTo(hb_draw_funcs_t*, void* data, hb_draw_state_t*, float x, float y, void*) {
    static_cast<QPainterPath*>(data)->moveTo(x, y);
}

void lineTo(hb_draw_funcs_t*, void* data, hb_draw_state_t*, float x, float y, void*) {
    static_cast<QPainterPath*>(data)->lineTo(x, y);
}

void quadTo(hb_draw_funcs_t*, void* data, hb_draw_state_t*, float cx, float cy, float x, float y, void*) {
    static_cast<QPainterPath*>(data)->quadTo(cx, cy, x, y);
}

void cubicTo(hb_draw_funcs_t*, void* data, hb_draw_state_t*, float c1x, float c1y, float c2x, float c2y, float x,
             float y, void*) {
    static_cast<QPainterPath*>(data)->cubicTo(c1x, c1y, c2x, c2y, x, y);
}

void closePath(hb_draw_funcs_t*, void* data, hb_draw_state_t*, void*) {
    static_cast<QPainterPath*>(data)->closeSubpath();
}

hb_draw_funcs_t* drawFuncs() {
    static hb_draw_funcs_t* funcs = [] {
        hb_draw_funcs_t* f = hb_draw_funcs_create();
        hb_draw_funcs_set_move_to_func(f, moveTo, nullptr, nullptr);
        hb_draw_funcs_set_line_to_func(f, lineTo, nullptr, nullptr);
        hb_draw_funcs_set_quadratic_to_func(f, quadTo, nullptr, nullptr);
        hb_draw_funcs_set_cubic_to_func(f, cubicTo, nullptr, nullptr);
        hb_draw_funcs_set_close_path_func(f, closePath, nullptr, nullptr);
        hb_draw_funcs_make_immutable(f);
        return f;
    }();
    return funcs;
}

} // namespace

MathFont* MathFont::instance() {
    static std::once_flag once;
    static MathFont* font = nullptr;
    std::call_once(once, [] {
        auto* candidate = new MathFont();
        if (candidate->load())
            font = candidate;
        else
            delete candidate;
    });
    return font;
}

bool MathFont::openFace(Face& face, const char* fileName) {
    QString path = locate(fileName);
    if (path.isEmpty())
        return false;
    QByteArray encoded = QFile::encodeName(path);
    face.blob = hb_blob_create_from_file_or_fail(encoded.constData());
    if (!face.blob)
        return false;
    face.face = hb_face_create(face.blob, 0);
    face.font = hb_font_create(face.face);
    face.upem = hb_face_get_upem(face.face);
    return face.upem > 0;
}

bool MathFont::load() {
    if (!openFace(m_faces[math], "lm-math/latinmodern-math.otf") || !hb_ot_math_has_data(m_faces[math].face))
        return false;
    // The text faces are optional: runs fall back to the math face's own Latin glyphs.
    openFace(m_faces[textBold], "lm/lmroman10-bold.otf");
    openFace(m_faces[textItalic], "lm/lmroman10-italic.otf");
    openFace(m_faces[textSans], "lm/lmsans10-regular.otf");
    openFace(m_faces[textMono], "lm/lmmono10-regular.otf");
    for (int c = 0; c < int(m_constants.size()); ++c)
        m_constants[c] = hb_ot_math_get_constant(m_faces[math].font, hb_ot_math_constant_t(c));
    m_buffer = hb_buffer_create();
    return true;
}

hb_codepoint_t MathFont::glyph(char32_t codePoint, int scriptLevel) {
    uint64_t key = (uint64_t(codePoint) << 2) | uint64_t(scriptLevel & 3);
    auto it = m_glyphs.find(key);
    if (it != m_glyphs.end())
        return it->second;
    hb_codepoint_t result = 0;
    if (scriptLevel == 0)
        hb_font_get_nominal_glyph(m_faces[math].font, codePoint, &result);
    else
        result = shapeSingle(codePoint, HB_TAG('s', 's', 't', 'y'), unsigned(scriptLevel));
    m_glyphs.emplace(key, result);
    return result;
}

hb_codepoint_t MathFont::flattenedAccent(char32_t codePoint) {
    uint64_t key = (uint64_t(codePoint) << 2) | 3;
    auto it = m_glyphs.find(key);
    if (it != m_glyphs.end())
        return it->second;
    hb_codepoint_t result = shapeSingle(codePoint, HB_TAG('f', 'l', 'a', 'c'), 1);
    m_glyphs.emplace(key, result);
    return result;
}

// Features of the math script only apply when shaping with it.
hb_codepoint_t MathFont::shapeSingle(char32_t codePoint, hb_tag_t tag, unsigned value) {
    hb_buffer_clear_contents(m_buffer);
    hb_buffer_add_utf32(m_buffer, reinterpret_cast<const uint32_t*>(&codePoint), 1, 0, 1);
    hb_buffer_set_script(m_buffer, HB_SCRIPT_MATH);
    hb_buffer_set_direction(m_buffer, HB_DIRECTION_LTR);
    hb_feature_t feature{tag, value, 0, unsigned(-1)};
    hb_shape(m_faces[math].font, m_buffer, &feature, 1);
    unsigned count = 0;
    hb_glyph_info_t* infos = hb_buffer_get_glyph_infos(m_buffer, &count);
    return count == 1 ? infos[0].codepoint : 0;
}

const MathFont::GlyphMetrics& MathFont::metrics(hb_codepoint_t glyph, FaceIndex faceIndex) {
    Face& face = m_faces[faceIndex];
    auto it = face.metrics.find(glyph);
    if (it != face.metrics.end())
        return it->second;
    GlyphMetrics m;
    m.advance = hb_font_get_glyph_h_advance(face.font, glyph);
    hb_glyph_extents_t extents{};
    if (hb_font_get_glyph_extents(face.font, glyph, &extents)) {
        m.xMin = extents.x_bearing;
        m.xMax = extents.x_bearing + extents.width;
        m.yMax = extents.y_bearing;
        m.yMin = extents.y_bearing + extents.height;
    }
    if (faceIndex == math) {
        m.italicCorrection = hb_ot_math_get_glyph_italics_correction(face.font, glyph);
        m.topAccent = hb_ot_math_get_glyph_top_accent_attachment(face.font, glyph);
    } else {
        m.topAccent = m.advance / 2;
    }
    return face.metrics.emplace(glyph, m).first->second;
}

const QPainterPath& MathFont::path(hb_codepoint_t glyph, FaceIndex faceIndex) {
    Face& face = m_faces[faceIndex];
    auto it = face.paths.find(glyph);
    if (it != face.paths.end())
        return it->second;
    QPainterPath path;
    hb_font_get_glyph_shape(face.font, glyph, drawFuncs(), &path);
    // Overlapping contours must add up, not cancel out.
    path.setFillRule(Qt::WindingFill);
    return face.paths.emplace(glyph, std::move(path)).first->second;
}

bool MathFont::isExtendedShape(hb_codepoint_t glyph) const {
    return hb_ot_math_is_glyph_extended_shape(m_faces[math].face, glyph);
}

std::vector<MathFont::Variant> MathFont::variants(hb_codepoint_t glyph, bool horizontal) const {
    hb_ot_math_glyph_variant_t buffer[32];
    unsigned count = 32;
    hb_ot_math_get_glyph_variants(m_faces[math].font, glyph, horizontal ? HB_DIRECTION_LTR : HB_DIRECTION_BTT, 0,
                                  &count, buffer);
    std::vector<Variant> result;
    for (unsigned i = 0; i < count; ++i)
        result.push_back({buffer[i].glyph, double(buffer[i].advance)});
    return result;
}

std::vector<MathFont::Part> MathFont::assembly(hb_codepoint_t glyph, bool horizontal) const {
    hb_ot_math_glyph_part_t buffer[16];
    unsigned count = 16;
    hb_position_t italic = 0;
    hb_ot_math_get_glyph_assembly(m_faces[math].font, glyph, horizontal ? HB_DIRECTION_LTR : HB_DIRECTION_BTT, 0,
                                  &count, buffer, &italic);
    std::vector<Part> result;
    for (unsigned i = 0; i < count; ++i)
        result.push_back({buffer[i].glyph, double(buffer[i].start_connector_length),
                          double(buffer[i].end_connector_length), double(buffer[i].full_advance),
                          (buffer[i].flags & HB_OT_MATH_GLYPH_PART_FLAG_EXTENDER) != 0});
    return result;
}

double MathFont::minConnectorOverlap(bool horizontal) const {
    return hb_ot_math_get_min_connector_overlap(m_faces[math].font, horizontal ? HB_DIRECTION_LTR : HB_DIRECTION_BTT);
}

std::vector<MathFont::ShapedGlyph> MathFont::shapeText(const QString& text, FaceIndex& faceIndex, double& advance) {
    if (!m_faces[faceIndex].font)
        faceIndex = math;
    Face& face = m_faces[faceIndex];
    hb_buffer_clear_contents(m_buffer);
    hb_buffer_add_utf16(m_buffer, reinterpret_cast<const uint16_t*>(text.utf16()), int(text.size()), 0,
                        int(text.size()));
    hb_buffer_guess_segment_properties(m_buffer);
    hb_shape(face.font, m_buffer, nullptr, 0);
    unsigned count = 0;
    hb_glyph_info_t* infos = hb_buffer_get_glyph_infos(m_buffer, &count);
    hb_glyph_position_t* positions = hb_buffer_get_glyph_positions(m_buffer, &count);
    std::vector<ShapedGlyph> result;
    result.reserve(count);
    double x = 0;
    for (unsigned i = 0; i < count; ++i) {
        result.push_back({infos[i].codepoint, x + positions[i].x_offset});
        x += positions[i].x_advance;
    }
    advance = x;
    return result;
}
