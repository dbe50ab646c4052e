#include "core/UriReference.h"

#include "support/QtPrinters.h"

#include <gtest/gtest.h>

TEST(UriReferenceTest, SplitsAUriIntoItsComponents) {
    const auto uri = UriReference::parse(u"HTTPS://us%20er:pw@Example.com:8080/a//b;c?x=1&y=/?#frag/?:@");
    ASSERT_TRUE(uri.has_value());
    EXPECT_EQ(uri->scheme, "HTTPS");
    EXPECT_EQ(uri->authority, "us%20er:pw@Example.com:8080");
    EXPECT_EQ(uri->userinfo, "us%20er:pw");
    EXPECT_EQ(uri->host, "Example.com");
    EXPECT_EQ(uri->port, "8080");
    EXPECT_EQ(uri->path, "/a//b;c");
    EXPECT_EQ(uri->query, "x=1&y=/?");
    EXPECT_EQ(uri->fragment, "frag/?:@");

    const auto mail = UriReference::parse(u"mailto:nome@example.it");
    ASSERT_TRUE(mail.has_value());
    EXPECT_EQ(mail->scheme, "mailto");
    EXPECT_FALSE(mail->authority.has_value());
    EXPECT_EQ(mail->host, "");
    EXPECT_EQ(mail->path, "nome@example.it");

    const auto literal = UriReference::parse(u"//[::1]:/x");
    ASSERT_TRUE(literal.has_value());
    EXPECT_FALSE(literal->scheme.has_value());
    EXPECT_EQ(literal->host, "[::1]");
    EXPECT_EQ(literal->port, "");
    EXPECT_EQ(literal->path, "/x");
}

TEST(UriReferenceTest, AcceptsExactlyTheGrammar) {
    // clang-format off
    const struct {
        const char* text;
        bool accepted;
    } cases[] = {
        // URIs
        {"http://localhost", true},
        {"mailto:", true},
        {"urn:isbn:0451450523", true},
        {"file:///etc/hosts", true},
        {"a+b-c.d9:x", true},
        {"a:b/c", true},
        {"http://h/%41%7e~_.-!$&'()*+,;=:@", true},
        {"http://192.0.2.1:/", true},
        {"http://999.1.1.1/", true},               // not an IPv4 address, but a valid reg-name
        {"http://[2001:db8::7]/", true},
        {"http://[1:2:3:4:5:6:7:8]", true},
        {"http://[1:2:3:4:5:6:7::]", true},
        {"http://[::2:3:4:5:6:7:8]", true},
        {"http://[::ffff:192.0.2.1]", true},
        {"http://[1:2:3:4:5:6:192.0.2.1]", true},
        {"http://[::]", true},
        {"http://[V1F.fe80::a+en1]", true},
        // relative references
        {"", true},
        {"//host", true},
        {"/assoluto", true},
        {"relativo/a:b", true},
        {"?q", true},
        {"#f", true},
        // refused
        {"http://exa mple.com", false},
        {"http://host/città", false},
        {"http://host/a%2", false},
        {"http://host/a%zz", false},
        {"http://host/a\\b", false},
        {"http://host/<a>", false},
        {"http://host/a^b", false},
        {"http://host/?a|b", false},
        {"http://host/#a#b", false},
        {"http://a@b@c/", false},
        {"http://host:80a/", false},
        {"http://host:8:0/", false},
        {"http://ho[st/", false},
        {"http://[::1/", false},
        {"http://[::1]x/", false},
        {"http://[1:2:3:4:5:6:7]/", false},
        {"http://[1:2:3:4:5:6:7:8:9]/", false},
        {"http://[::1:2:3:4:5:6:7:8]/", false},
        {"http://[1::2::3]/", false},
        {"http://[:::1]/", false},
        {"http://[:1:2:3:4:5:6:7:8]/", false},
        {"http://[12345::]/", false},
        {"http://[::192.0.2.01]/", false},
        {"http://[::256.0.2.1]/", false},
        {"http://[192.0.2.1::]/", false},
        {"http://[::1:192.0.2.1:2]/", false},
        {"http://[fe80::1%25en0]/", false},
        {"http://[v.x]/", false},
        {"http://[vg.x]/", false},
        {"http://[v1.]/", false},
        {"1http://host", false},
        {":senza-schema", false},
        {"-a:b", false},
    };
    // clang-format on
    for (const auto& c : cases)
        EXPECT_EQ(UriReference::parse(QString::fromUtf8(c.text)).has_value(), c.accepted) << c.text;
}
