#include "core/JsonWriter.h"

#include "core/JsonError.h"
#include "core/Uuid.h"

#include <gtest/gtest.h>

#include <simdjson.h>

#include <bit>
#include <cmath>
#include <limits>
#include <random>

namespace {

QByteArray stringJson(QStringView text) {
    JsonWriter writer;
    writer.string(text);
    return writer.take();
}

// What a strict reader gets back from a written number.
double readBack(const QByteArray& json) {
    simdjson::dom::parser parser;
    double value = 0;
    const auto error = parser.parse(json.constData(), std::size_t(json.size())).get_double().get(value);
    EXPECT_EQ(error, simdjson::SUCCESS) << json.constData();
    return value;
}

QByteArray numberJson(double value) {
    JsonWriter writer;
    writer.number(value);
    return writer.take();
}

} // namespace

TEST(JsonWriterTest, EscapesStringsAndWritesValidUtf8) {
    struct Case {
        QString text;
        QByteArray json;
    };
    const QChar highSurrogate(0xD83D);
    const QChar lowSurrogate(0xDE00);
    // clang-format off
    const Case cases[] = {
        {QString(), "\"\""},
        {QStringLiteral("say \"hi\" \\ /"), "\"say \\\"hi\\\" \\\\ /\""},
        {QStringLiteral("\b\f\n\r\t"), "\"\\b\\f\\n\\r\\t\""},
        {QString(QChar(0)) + QChar(0x01) + QChar(0x1F) + QChar(0x7F), "\"\\u0000\\u0001\\u001f\x7f\""},
        {QStringLiteral("\u00e8\u2019\uFFFC"), "\"\xC3\xA8\xE2\x80\x99\xEF\xBF\xBC\""},
        {QString(highSurrogate) + lowSurrogate, "\"\xF0\x9F\x98\x80\""},
        // Lone surrogates, at either end and in the middle, and a reversed pair.
        {QString(highSurrogate), "\"\xEF\xBF\xBD\""},
        {QString(lowSurrogate) + QLatin1Char('x'), "\"\xEF\xBF\xBDx\""},
        {QLatin1Char('a') + QString(highSurrogate) + QLatin1Char('b'), "\"a\xEF\xBF\xBD" "b\""},
        {QString(lowSurrogate) + highSurrogate, "\"\xEF\xBF\xBD\xEF\xBF\xBD\""},
    };
    // clang-format on
    for (const Case& c : cases) {
        const QByteArray json = stringJson(c.text);
        EXPECT_EQ(json, c.json) << json.toHex(' ').constData();
        EXPECT_TRUE(simdjson::validate_utf8(json.constData(), std::size_t(json.size())));
    }
}

TEST(JsonWriterTest, StringsReadBackToTheSameText) {
    std::mt19937 random(3);
    std::uniform_int_distribution<int> unit(0, 0xFFFF);
    for (int i = 0; i < 200; ++i) {
        QString text;
        for (int n = 0; n < 40; ++n) {
            const char16_t c = char16_t(i % 2 ? unit(random) : unit(random) % 0x90);
            if (c < 0xD800 || c > 0xDFFF)
                text.append(QChar(c));
        }
        text.append(QStringLiteral("\U0001F600"));
        const QByteArray json = stringJson(text);
        simdjson::dom::parser parser;
        std::string_view back;
        ASSERT_EQ(parser.parse(json.constData(), std::size_t(json.size())).get_string().get(back), simdjson::SUCCESS);
        EXPECT_EQ(QString::fromUtf8(back.data(), qsizetype(back.size())), text);
    }
}

TEST(JsonWriterTest, NumbersReadBackToTheSameBits) {
    const double awkward[] = {0.0,
                              -0.0,
                              0.1,
                              1.0 / 3.0,
                              1e-300,
                              5e-324,
                              -2.2250738585072014e-308,
                              1.7976931348623157e308,
                              9007199254740993.0,
                              9223372036854775808.0,
                              18446744073709551616.0,
                              -9223372036854775808.0,
                              1e22,
                              123456789012345678.0,
                              978307200000.0,
                              3.0};
    for (const double value : awkward)
        EXPECT_EQ(std::bit_cast<std::uint64_t>(readBack(numberJson(value))), std::bit_cast<std::uint64_t>(value))
            << numberJson(value).constData();

    std::mt19937_64 random(11);
    for (int i = 0; i < 20000; ++i) {
        const double value = std::bit_cast<double>(random());
        if (!std::isfinite(value))
            continue;
        ASSERT_EQ(std::bit_cast<std::uint64_t>(readBack(numberJson(value))), std::bit_cast<std::uint64_t>(value))
            << numberJson(value).constData();
    }
    EXPECT_EQ(numberJson(3.0), "3");
    EXPECT_EQ(numberJson(-0.0), "-0.0");
    EXPECT_EQ(numberJson(0.1), "0.1");
}

TEST(JsonWriterTest, RefusesNonFiniteNumbers) {
    for (const double value : {std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(),
                               std::numeric_limits<double>::quiet_NaN()}) {
        JsonWriter writer;
        try {
            writer.number(value);
            ADD_FAILURE() << "wrote " << value;
        } catch (const JsonError& error) {
            EXPECT_EQ(error.direction(), JsonError::Direction::writing);
            EXPECT_EQ(error.description(),
                      QStringLiteral("Impossibile scrivere i dati perché non sono nel formato corretto."));
        }
    }
}

TEST(JsonWriterTest, WritesCompactDocuments) {
    JsonWriter writer;
    writer.beginObject();
    writer.key("a");
    writer.beginArray();
    writer.integer(std::numeric_limits<std::int64_t>::min());
    writer.integer(std::numeric_limits<std::int64_t>::max());
    writer.boolean(true);
    writer.boolean(false);
    writer.null();
    writer.beginObject();
    writer.endObject();
    writer.beginArray();
    writer.endArray();
    writer.endArray();
    writer.key("id\n");
    writer.uuid(*Uuid::fromString(std::string_view("0f2b6c1e-3a4d-4e5f-8a9b-0c1d2e3f4a5b")));
    writer.endObject();
    EXPECT_EQ(writer.data(), "{\"a\":[-9223372036854775808,9223372036854775807,true,false,null,{},[]],"
                             "\"id\\n\":\"0F2B6C1E-3A4D-4E5F-8A9B-0C1D2E3F4A5B\"}");

    // A cleared writer starts a fresh document.
    writer.clear();
    writer.beginArray();
    writer.utf8String("\xC3\xA8\"");
    writer.endArray();
    EXPECT_EQ(writer.take(), "[\"\xC3\xA8\\\"\"]");
    EXPECT_TRUE(writer.data().isEmpty());
}

TEST(JsonWriterTest, SortedModeOrdersKeysByBytesAtEveryDepth) {
    JsonWriter writer(JsonWriter::KeyOrder::sorted);
    writer.beginObject();
    writer.key("zeta");
    writer.beginArray();
    for (int i = 0; i < 2; ++i) {
        writer.beginObject();
        writer.key("b");
        writer.integer(i);
        writer.key("a");
        writer.beginObject();
        writer.key("y");
        writer.string(u"}\",");
        writer.key("x");
        writer.boolean(true);
        writer.endObject();
        writer.endObject();
    }
    writer.endArray();
    writer.key("\xC3\xA8");
    writer.integer(1);
    writer.key("Z");
    writer.integer(2);
    writer.key("a");
    writer.integer(3);
    writer.key("Z");
    writer.integer(4);
    writer.key("");
    writer.null();
    writer.endObject();
    // Upper case sorts before lower case, multi-byte text after ASCII; equal keys keep their order.
    EXPECT_EQ(writer.data(), "{\"\":null,\"Z\":2,\"Z\":4,\"a\":3,"
                             "\"zeta\":[{\"a\":{\"x\":true,\"y\":\"}\\\",\"},\"b\":0},"
                             "{\"a\":{\"x\":true,\"y\":\"}\\\",\"},\"b\":1}],"
                             "\"\xC3\xA8\":1}");
}

TEST(JsonWriterTest, HandedOutDataIsNotChangedByLaterWrites) {
    JsonWriter writer(JsonWriter::KeyOrder::sorted);
    writer.beginObject();
    writer.key("b");
    writer.integer(1);
    writer.key("a");
    writer.integer(2);
    const QByteArray partial = writer.data();
    writer.endObject(); // reorders the members in place
    EXPECT_EQ(partial, "{\"b\":1,\"a\":2");
    const QByteArray whole = writer.data();
    EXPECT_EQ(whole, "{\"a\":2,\"b\":1}");

    writer.clear();
    writer.string(u"xyzxyzxyz");
    EXPECT_EQ(whole, "{\"a\":2,\"b\":1}");
    EXPECT_EQ(writer.data(), "\"xyzxyzxyz\"");
}
