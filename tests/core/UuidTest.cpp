#include "core/Uuid.h"

#include <gtest/gtest.h>

#include <QSet>

TEST(UuidTest, ParsesEitherCaseAndPrintsUpperCase) {
    const auto id = Uuid::fromString(QStringLiteral("0f2b6c1e-3a4d-4e5f-8a9b-0c1d2e3f4a5b"));
    ASSERT_TRUE(id.has_value());
    EXPECT_EQ(id->toString(), QStringLiteral("0F2B6C1E-3A4D-4E5F-8A9B-0C1D2E3F4A5B"));
    EXPECT_EQ(Uuid::fromString(id->toString()), id);
}

TEST(UuidTest, RefusesNonCanonicalTexts) {
    for (const char* text : {"", "0F2B6C1E3A4D4E5F8A9B0C1D2E3F4A5B", "{0F2B6C1E-3A4D-4E5F-8A9B-0C1D2E3F4A5B}",
                             "0F2B6C1E-3A4D-4E5F-8A9B-0C1D2E3F4A5G", "0F2B6C1E-3A4D-4E5F-8A9B0-C1D2E3F4A5B",
                             "0F2B6C1E-3A4D-4E5F-8A9B-0C1D2E3F4A5B "})
        EXPECT_FALSE(Uuid::fromString(QString::fromLatin1(text)).has_value()) << text;
}

TEST(UuidTest, RandomIdentifiersAreVersion4AndDistinct) {
    QSet<Uuid> seen;
    for (int i = 0; i < 1000; ++i) {
        const Uuid id = Uuid::createRandom();
        const QString text = id.toString();
        EXPECT_EQ(text[14], QLatin1Char('4'));
        EXPECT_TRUE(QStringLiteral("89AB").contains(text[19]));
        seen.insert(id);
    }
    EXPECT_EQ(seen.size(), 1000);
}

TEST(UuidTest, OrderMatchesCanonicalTextOrder) {
    for (int i = 0; i < 200; ++i) {
        const Uuid a = Uuid::createRandom();
        const Uuid b = Uuid::createRandom();
        EXPECT_EQ(a < b, a.toString() < b.toString());
    }
}
