#include "app/services/StudyTexts.h"
#include "support/QtPrinters.h"

#include <gtest/gtest.h>

TEST(StudyTextsTest, IntervalTexts) {
    const Instant now = Instant::fromUnixSeconds(1765450800);
    const struct {
        double seconds;
        const char16_t* text;
    } cases[] = {
        {-30, u"tra 1 min"},       {0, u"tra 1 min"},         {89, u"tra 1 min"},        {90, u"tra 2 min"},
        {600, u"tra 10 min"},      {3599, u"tra 60 min"},     {3600, u"tra 1 ore"},      {5400, u"tra 2 ore"},
        {86399, u"tra 24 ore"},    {86400, u"tra 1 giorno"},  {129599, u"tra 1 giorno"}, {129600, u"tra 2 giorni"},
        {8 * 86400, u"tra 8 giorni"}, {36500.0 * 86400, u"tra 36500 giorni"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(StudyTexts::intervalText(now.addingSeconds(c.seconds), now), QString::fromUtf16(c.text))
            << c.seconds;
    EXPECT_EQ(StudyTexts::intervalText(std::nullopt, now), QStringLiteral("\u2014"));
}
