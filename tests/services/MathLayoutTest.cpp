#include "app/services/MathFont.h"
#include "app/services/MathLayoutEngine.h"
#include "app/services/MathParser.h"

#include <gtest/gtest.h>

namespace {

using MathLayoutEngine::Formula;
using MathLayoutEngine::Item;

constexpr double size = 20; // points; 1 em

struct Ink {
    double left, right, bottom, top;
};

Ink inkOf(const Item& item) {
    if (item.kind == Item::rule)
        return {item.x, item.x + item.width, item.y, item.y + item.height};
    const auto& m = MathFont::instance()->metrics(item.glyphID, MathFont::FaceIndex(item.face));
    return {item.x + m.xMin * item.scale, item.x + m.xMax * item.scale, item.y + m.yMin * item.scale,
            item.y + m.yMax * item.scale};
}

Formula layOut(const QString& source) {
    MathParseResult parsed = MathParser::parse(source);
    EXPECT_TRUE(parsed.list.has_value()) << source.toStdString();
    Formula formula;
    EXPECT_TRUE(MathLayoutEngine::layout(parsed.list.value_or(MathList{}), size, formula));
    return formula;
}

double axis() {
    return MathFont::instance()->constant(HB_OT_MATH_CONSTANT_AXIS_HEIGHT) * size / 1000;
}

class MathLayoutTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_NE(MathFont::instance(), nullptr) << "Latin Modern Math is not installed"; }
};

TEST_F(MathLayoutTest, ScriptsRiseAndDropWithRoomBetweenThem) {
    Formula sup = layOut(QStringLiteral("x^2"));
    ASSERT_EQ(sup.items.size(), 2u);
    EXPECT_GT(sup.items[1].y, 0);
    EXPECT_LT(sup.items[1].scale, sup.items[0].scale); // script size

    Formula sub = layOut(QStringLiteral("x_2"));
    ASSERT_EQ(sub.items.size(), 2u);
    EXPECT_LT(sub.items[1].y, 0);

    Formula both = layOut(QStringLiteral("x_2^2"));
    ASSERT_EQ(both.items.size(), 3u);
    const Ink above = inkOf(both.items[1]), below = inkOf(both.items[2]);
    const double gapMin = MathFont::instance()->constant(HB_OT_MATH_CONSTANT_SUB_SUPERSCRIPT_GAP_MIN) * size / 1000;
    EXPECT_GE(above.bottom - below.top, gapMin - 1e-9);
}

TEST_F(MathLayoutTest, FractionsStackAroundTheAxis) {
    Formula f = layOut(QStringLiteral("\\frac{a}{b}"));
    ASSERT_EQ(f.items.size(), 3u);
    const Ink numerator = inkOf(f.items[0]), denominator = inkOf(f.items[1]), bar = inkOf(f.items[2]);
    EXPECT_EQ(f.items[2].kind, Item::rule);
    EXPECT_NEAR((bar.bottom + bar.top) / 2, axis(), 1e-9);
    EXPECT_GT(numerator.bottom, bar.top);
    EXPECT_LT(denominator.top, bar.bottom);
}

TEST_F(MathLayoutTest, DelimitersGrowWithTheirContent) {
    Formula f =
        layOut(QStringLiteral("\\left( \\begin{matrix} 1 \\\\ 2 \\\\ 3 \\\\ 4 \\\\ 5 \\\\ 6 \\end{matrix} \\right)"));
    double contentBottom = 1e9, contentTop = -1e9, delimiterBottom = 1e9, delimiterTop = -1e9;
    double leftmost = 1e9;
    for (const Item& item : f.items)
        leftmost = std::min(leftmost, item.x);
    for (const Item& item : f.items) {
        const Ink ink = inkOf(item);
        bool delimiter = item.x < leftmost + 0.1 * size; // the left parenthesis, glyph or assembly
        (delimiter ? delimiterBottom : contentBottom) =
            std::min(delimiter ? delimiterBottom : contentBottom, ink.bottom);
        (delimiter ? delimiterTop : contentTop) = std::max(delimiter ? delimiterTop : contentTop, ink.top);
    }
    EXPECT_GT(contentTop - contentBottom, 5 * size); // six rows
    // TeX's rule: at least 90.1 % of the content's extent around the axis and never short by more than 0.5 em.
    const double extent = 2 * std::max(contentTop - axis(), axis() - contentBottom);
    EXPECT_GE(delimiterTop - delimiterBottom, std::max(0.901 * extent, extent - 0.5 * size));
    EXPECT_NEAR((delimiterTop + delimiterBottom) / 2, axis(), 0.01 * size);
}

TEST_F(MathLayoutTest, DisplayOperatorsAreLargerAndCentredOnTheAxis) {
    Formula display = layOut(QStringLiteral("\\sum"));
    Formula text = layOut(QStringLiteral("\\textstyle\\sum"));
    ASSERT_EQ(display.items.size(), 1u);
    ASSERT_EQ(text.items.size(), 1u);
    const Ink big = inkOf(display.items[0]), small = inkOf(text.items[0]);
    EXPECT_GT(big.top - big.bottom, 1.3 * (small.top - small.bottom));
    EXPECT_NEAR((big.top + big.bottom) / 2, axis(), 0.01 * size);
    EXPECT_NEAR((small.top + small.bottom) / 2, axis(), 0.01 * size);
}

TEST_F(MathLayoutTest, LimitsGoAboveAndBelowInDisplayStyleOnly) {
    Formula display = layOut(QStringLiteral("\\sum_{i}^{n}"));
    ASSERT_EQ(display.items.size(), 3u);
    const Ink op = inkOf(display.items[0]);
    EXPECT_GT(inkOf(display.items[1]).bottom, op.top); // n above
    EXPECT_LT(inkOf(display.items[2]).top, op.bottom); // i below

    Formula integral = layOut(QStringLiteral("\\int_{i}^{n}"));
    ASSERT_EQ(integral.items.size(), 3u);
    EXPECT_GT(integral.items[2].x, inkOf(integral.items[0]).left + 0.3 * size); // scripts at the side
}

TEST_F(MathLayoutTest, RadicalRuleClearsTheRadicand) {
    Formula f = layOut(QStringLiteral("\\sqrt{\\frac{a}{b}}"));
    double radicandTop = -1e9, ruleBottom = 1e9;
    for (const Item& item : f.items) {
        if (item.kind == Item::rule && item.width > 0.5 * size && inkOf(item).bottom > axis() + 0.01)
            ruleBottom = std::min(ruleBottom, item.y);
        else if (item.kind == Item::glyph && item.scale < f.items.front().scale)
            radicandTop = std::max(radicandTop, inkOf(item).top);
    }
    ASSERT_LT(ruleBottom, 1e9);
    EXPECT_GT(ruleBottom, radicandTop);
}

TEST_F(MathLayoutTest, TextRunsUseTheirFace) {
    EXPECT_EQ(layOut(QStringLiteral("\\textbf{v}")).items.at(0).face, MathFont::textBold);
    EXPECT_EQ(layOut(QStringLiteral("\\textit{v}")).items.at(0).face, MathFont::textItalic);
    EXPECT_EQ(layOut(QStringLiteral("\\text{v}")).items.at(0).face, MathFont::math);
}

} // namespace

namespace {

TEST(MathParserTest, RulesOfAnArraySitAtTheirRowBoundaries) {
    MathParseResult parsed = MathParser::parse(
        QStringLiteral("\\begin{array}{|c|c} \\hline a & b \\\\ c & d \\\\ \\hline e & f \\\\ \\hline \\end{array}"));
    ASSERT_TRUE(parsed.list.has_value());
    ASSERT_EQ(parsed.list->size(), 1u);
    const MathTable& table = parsed.list->front().tables.at(0);
    EXPECT_EQ(table.rows.size(), 3u);                                    // the final row break adds no row
    EXPECT_EQ(table.horizontalRulesBefore, (std::vector<int>{0, 2, 3})); // above rows 0 and 2, below the last
    EXPECT_EQ(table.verticalRulesBefore, (std::vector<int>{0, 1}));
    EXPECT_EQ(table.columnAlignment, QStringLiteral("cc"));
}

} // namespace
