#include "app/services/MathTypesetter.h"

#include "app/services/MathLayoutEngine.h"
#include "app/services/MathParser.h"

namespace {

constexpr double inset = 4;

class NativeMathLayout final : public MathLayout {
public:
    NativeMathLayout(MathLayoutEngine::Formula formula, QRgb color) : m_formula(std::move(formula)), m_color(color) {}

    QSizeF size() const override {
        return {m_formula.width + 2 * inset, m_formula.height + m_formula.depth + 2 * inset};
    }

    void draw(QPainter& painter) const override {
        MathLayoutEngine::draw(m_formula, painter, inset, inset + m_formula.height, m_color);
    }

private:
    MathLayoutEngine::Formula m_formula;
    QRgb m_color;
};

class NativeMathTypesetter final : public MathTypesetter {
public:
    MathParseResult parse(const QString& source) const override { return MathParser::parse(source); }

    std::unique_ptr<MathLayout> layout(const QString& source, double fontSize, const QColor& color) const override {
        MathParseResult parsed = MathParser::parse(source);
        if (!parsed.list)
            return nullptr;
        MathLayoutEngine::Formula formula;
        if (!MathLayoutEngine::layout(*parsed.list, fontSize, formula))
            return nullptr;
        return std::make_unique<NativeMathLayout>(std::move(formula), color.rgba());
    }
};

} // namespace

MathTypesetter& defaultMathTypesetter() {
    static NativeMathTypesetter typesetter;
    return typesetter;
}
