#include "core/LibraryRecords.h"

#include <gtest/gtest.h>

TEST(LibraryRecordsTest, RawValuesMapToCasesAndNothingElse) {
    EXPECT_EQ(reviewRatingFromRawValue(3), ReviewRating::good);
    EXPECT_EQ(title(ReviewRating::good), QStringLiteral("Bene"));
    for (long long raw : {0LL, 5LL, -1LL, 1LL << 40})
        EXPECT_FALSE(reviewRatingFromRawValue(raw).has_value()) << raw;
    for (ReviewRating rating : kAllReviewRatings)
        EXPECT_EQ(reviewRatingFromRawValue(static_cast<long long>(rating)), rating);

    for (long long raw = 0; raw <= 3; ++raw)
        EXPECT_EQ(static_cast<long long>(*memoryStageFromRawValue(raw)), raw);
    EXPECT_FALSE(memoryStageFromRawValue(4).has_value());
    EXPECT_FALSE(memoryStageFromRawValue(-1).has_value());

    for (NoteKind kind : kAllNoteKinds)
        EXPECT_EQ(noteKindFromRawValue(rawValue(kind)), kind);
    EXPECT_FALSE(noteKindFromRawValue(u"Basic").has_value());
    EXPECT_FALSE(noteKindFromRawValue(u"").has_value());
}

TEST(LibraryRecordsTest, TitlesAndExplanationsAreTheUserFacingTexts) {
    const QStringList kindTitles{QStringLiteral("Domanda e risposta"), QStringLiteral("Anche al contrario"),
                                 QStringLiteral("Parole nascoste")};
    for (std::size_t i = 0; i < kAllNoteKinds.size(); ++i)
        EXPECT_EQ(title(kAllNoteKinds[i]), kindTitles[qsizetype(i)]);
    const QStringList ratingTitles{QStringLiteral("Da rivedere"), QStringLiteral("Difficile"), QStringLiteral("Bene"),
                                   QStringLiteral("Facile")};
    const QStringList explanations{QStringLiteral("Non ricordavo la risposta"),
                                   QStringLiteral("Corretta, con molto sforzo"),
                                   QStringLiteral("Corretta, con sicurezza"), QStringLiteral("Corretta e immediata")};
    for (std::size_t i = 0; i < kAllReviewRatings.size(); ++i) {
        EXPECT_EQ(title(kAllReviewRatings[i]), ratingTitles[qsizetype(i)]);
        EXPECT_EQ(explanation(kAllReviewRatings[i]), explanations[qsizetype(i)]);
    }
}
