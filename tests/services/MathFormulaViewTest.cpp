#include "app/services/MathFormulaView.h"
#include "app/services/FormulaRenderer.h"

#include "FakeMathTypesetter.h"
#include "support/TestApplication.h"

#include <gtest/gtest.h>

namespace {

class MathFormulaViewTest : public ::testing::Test {
protected:
    void SetUp() override {
        ensureApplication();
        FormulaRenderer::setTypesetter(nullptr);
    }
    void TearDown() override { FormulaRenderer::setTypesetter(nullptr); }

    static QColor centreColor(const QImage& image) { return image.pixelColor(image.width() / 2, image.height() / 2); }
};

TEST_F(MathFormulaViewTest, ShowsThePromptInTheMutedColour) {
    MathFormulaView view;
    view.setColorScheme(QuendaTheme::Scheme::light);
    view.setLatex(QStringLiteral("  \n"));
    EXPECT_EQ(view.message(), QStringLiteral("Scrivi una formula per vedere l’anteprima."));
    EXPECT_FALSE(view.picture().has_value());
    EXPECT_GE(view.heightForWidth(400), 90);
}

TEST_F(MathFormulaViewTest, ShowsTheErrorOfAnInvalidSource) {
    MathFormulaView view;
    view.setLatex(QStringLiteral("\\frac{a"));
    EXPECT_EQ(view.message(), QStringLiteral("Controlla le parentesi della formula: una coppia è incompleta."));
}

TEST_F(MathFormulaViewTest, ShowsThePictureInTheInkOfTheScheme) {
    FakeMathTypesetter fake; // draws its whole size in the requested colour
    FormulaRenderer::setTypesetter(&fake);
    MathFormulaView view;
    view.setColorScheme(QuendaTheme::Scheme::light);
    view.setLatex(QStringLiteral("x"));
    ASSERT_TRUE(view.picture().has_value());
    EXPECT_FALSE(view.message().has_value());
    EXPECT_EQ(centreColor(*view.picture()), QColor(0x22, 0x26, 0x2E));
    EXPECT_EQ(view.accessibleName(), QStringLiteral("Formula: x"));

    view.setColorScheme(QuendaTheme::Scheme::dark);
    ASSERT_TRUE(view.picture().has_value());
    EXPECT_EQ(centreColor(*view.picture()), QColor(0xF6, 0xF5, 0xF1));
    EXPECT_EQ(FormulaRenderer::cacheCount(), 2);
}

TEST_F(MathFormulaViewTest, SaysWhenAValidFormulaIsTooLarge) {
    FakeMathTypesetter fake;
    fake.size = {200000, 10};
    FormulaRenderer::setTypesetter(&fake);
    MathFormulaView view;
    view.setLatex(QStringLiteral("x"));
    EXPECT_FALSE(view.picture().has_value());
    EXPECT_EQ(view.message(), QStringLiteral("La formula è troppo grande per l’anteprima."));
}

TEST_F(MathFormulaViewTest, PaintsTheSurfaceAndThePicture) {
    MathFormulaView view;
    view.setColorScheme(QuendaTheme::Scheme::dark);
    view.setLatex(QStringLiteral("\\frac{a}{b}"));
    view.resize(300, view.heightForWidth(300));
    QImage image(view.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    view.render(&image);
    EXPECT_EQ(image.pixelColor(20, 6), QColor(0x22, 0x26, 0x30)); // surface inside the border
    // The fraction's rule crosses the middle in the dark scheme's ink.
    bool inked = false;
    for (int x = 100; x < 200 && !inked; ++x)
        for (int y = 0; y < image.height() && !inked; ++y)
            inked = image.pixelColor(x, y).lightness() > 200;
    EXPECT_TRUE(inked);
}

} // namespace
