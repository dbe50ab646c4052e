#include "core/MediaIdentifier.h"

#include <gtest/gtest.h>

namespace {
const QString kHash = QStringLiteral("e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
}

TEST(MediaIdentifierTest, AcceptsOnlyLowerCaseDigestWithImageExtension) {
    const struct {
        QString text;
        bool valid;
    } cases[] = {
        {kHash + ".png", true},          {kHash + ".jpeg", true},        {kHash + ".tif", true},
        {kHash + ".webp", true},         {kHash + ".PNG", false},        {kHash.toUpper() + ".png", false},
        {kHash.left(63) + ".png", false}, {kHash + "0.png", false},      {kHash + ".bmp", false},
        {kHash + ".png\n", false},       {"../" + kHash + ".png", false}, {kHash + "/.png", false},
        {kHash, false},                  {QString(), false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(MediaIdentifier::isValid(c.text), c.valid) << c.text.toStdString();
}

TEST(MediaIdentifierTest, CanonicalExtensions) {
    EXPECT_EQ(MediaIdentifier::canonicalExtension(u"JPEG"), QStringLiteral("jpg"));
    EXPECT_EQ(MediaIdentifier::canonicalExtension(u"tif"), QStringLiteral("tiff"));
    EXPECT_EQ(MediaIdentifier::canonicalExtension(u"Png"), QStringLiteral("png"));
    EXPECT_EQ(MediaIdentifier::canonicalExtension(u"heif"), QStringLiteral("heif"));
    EXPECT_FALSE(MediaIdentifier::canonicalExtension(u"bmp").has_value());
    EXPECT_FALSE(MediaIdentifier::canonicalExtension(u"").has_value());
}

TEST(MediaIdentifierTest, DigestIsLowerCaseSha256) {
    EXPECT_EQ(MediaIdentifier::digest(QByteArray()), kHash);
}
