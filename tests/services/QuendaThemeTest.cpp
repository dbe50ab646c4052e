#include "app/services/QuendaTheme.h"

#include <gtest/gtest.h>

namespace {

TEST(QuendaThemeTest, ReadsHexadecimalColours) {
    // clang-format off
    const std::vector<std::pair<QString, QRgb>> cases = {
        {"22262E",     0x22262E},
        {"#f6f5f1",    0xF6F5F1},
        {"##F6#F5F1",  0xF6F5F1},
        {"+FF0000",    0xFF0000},
        {"FF4F5FE7",   0x4F5FE7},  // higher bits ignored
        {"",           0x4F5FE7},
        {"#",          0x4F5FE7},
        {"12345G",     0x4F5FE7},
        {"100000000",  0x4F5FE7},  // does not fit in 32 bits
        {"-1",         0x4F5FE7},
        {"0x123456",   0x4F5FE7},
        {" 123456",    0x4F5FE7},
    };
    // clang-format on
    for (const auto& [text, rgb] : cases) {
        SCOPED_TRACE(text.toStdString());
        EXPECT_EQ(QuendaTheme::colorFromHex(text).rgb() & 0xFFFFFF, rgb);
        EXPECT_EQ(QuendaTheme::colorFromHex(text).alpha(), 255);
    }
}

TEST(QuendaThemeTest, HasLightAndDarkValues) {
    using QuendaTheme::Scheme;
    EXPECT_EQ(QuendaTheme::muted(Scheme::light), QColor(0x69, 0x6E, 0x79));
    EXPECT_EQ(QuendaTheme::muted(Scheme::dark), QColor(0xAF, 0xB4, 0xC2));
    EXPECT_EQ(QuendaTheme::surface(Scheme::light), QColor(0xFF, 0xFF, 0xFF));
    EXPECT_EQ(QuendaTheme::surface(Scheme::dark), QColor(0x22, 0x26, 0x30));
    EXPECT_EQ(QuendaTheme::line(Scheme::light), QColor(0xE5, 0xE4, 0xE0));
    EXPECT_EQ(QuendaTheme::line(Scheme::dark), QColor(0x36, 0x3B, 0x49));
}

} // namespace
