#include "DecodingError.h"
#include "JSONObjectReader.h"
#include "JSONValue.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace orvane;

namespace {
JSONValue obj(std::initializer_list<std::pair<const QString, JSONValue>> members) {
    return JSONValue(JSONValue::Object(members));
}
} // namespace

TEST(JSONValueTest, ParsesEachKindAndNumbersStayNumbers) {
    EXPECT_EQ(JSONValue::parse("1"), JSONValue(1.0));
    EXPECT_EQ(JSONValue::parse("1").type(), JSONValue::Type::number);
    EXPECT_EQ(JSONValue::parse("true").type(), JSONValue::Type::boolean);
    EXPECT_EQ(JSONValue::parse("false"), JSONValue(false));
    EXPECT_EQ(JSONValue::parse("\"1\""), JSONValue(QStringLiteral("1")));
    EXPECT_TRUE(JSONValue::parse("null").isNull());
    EXPECT_EQ(JSONValue::parse("{}"), JSONValue(JSONValue::Object{}));
    EXPECT_EQ(JSONValue::parse("[]"), JSONValue(JSONValue::Array{}));
    EXPECT_EQ(JSONValue::parse(" \r\n\t{\"a\":[1]} \n"),
              JSONValue(JSONValue::Object{{QStringLiteral("a"), JSONValue::Array{1}}}));
    EXPECT_EQ(JSONValue::parse("\n[null] "), JSONValue(JSONValue::Array{JSONValue()}));
    // A Boolean is never a number and a number never a Boolean.
    EXPECT_FALSE(JSONValue::parse("1") == JSONValue(true));
    EXPECT_FALSE(JSONValue::parse("0") == JSONValue(false));
}

TEST(JSONValueTest, RejectsTextThatIsNotOneJSONValue) {
    // Objects and lists at the top are parsed as they stand, other values inside a list: neither
    // way may let two values or a stray bracket through.
    for (const char* bad : {"", "{", "[1,", "1,2", "1][2", "tru", "{\"a\":}", "\"open", "{} {}",
                            "{},{}", "[1]]", " [1],[2]", "{\"a\":1}]", "\t\n{\"a\":1} x"}) {
        try {
            JSONValue::parse(bad);
            ADD_FAILURE() << "accepted: " << bad;
        } catch (const DecodingError& e) {
            EXPECT_EQ(e.kind(), DecodingError::Kind::dataCorrupted) << bad;
        }
    }
}

TEST(JSONValueTest, IntegralNumbersRoundTripWithoutFraction) {
    const JSONValue config = JSONValue::parse(R"({"inbounds":[{"listen_port":443,"ratio":0.25}]})");
    EXPECT_EQ(config.toJson(), QByteArray(R"({"inbounds":[{"listen_port":443,"ratio":0.25}]})"));
    EXPECT_EQ(JSONValue(443.0).toJson(), QByteArray("443"));
    EXPECT_EQ(JSONValue(-7.0).toJson(), QByteArray("-7"));
    EXPECT_EQ(JSONValue(0.1).toJson(), QByteArray("0.1"));
    EXPECT_EQ(JSONValue(1e300).toJson(), QByteArray("1e+300"));
    // Shortest text that reads back to the same double.
    const double third = 1.0 / 3.0;
    EXPECT_EQ(JSONValue::parse(JSONValue(third).toJson()), JSONValue(third));
}

TEST(JSONValueTest, StringsAreEscaped) {
    const JSONValue text(QStringLiteral("a\"b\\c\n\t\x01 中文/"));
    EXPECT_EQ(text.toJson(), QByteArray("\"a\\\"b\\\\c\\n\\t\\u0001 中文/\""));
    EXPECT_EQ(JSONValue::parse(text.toJson()), text);
}

TEST(JSONValueTest, NonFiniteNumbersCannotBeWritten) {
    EXPECT_THROW(JSONValue(std::numeric_limits<double>::quiet_NaN()).toJson(), EncodingError);
    const JSONValue nested = obj({{QStringLiteral("x"), JSONValue(JSONValue::Array{
                                                             JSONValue(std::numeric_limits<double>::infinity())})}});
    EXPECT_THROW(nested.toJson(), EncodingError);
}

TEST(JSONValueTest, Equality) {
    EXPECT_EQ(JSONValue::parse(R"({"a":1,"b":[true,null]})"),
              JSONValue::parse(R"({"b":[true,null],"a":1})"));
    EXPECT_FALSE(JSONValue::parse("[1,2]") == JSONValue::parse("[2,1]"));
    EXPECT_FALSE(JSONValue::parse(R"({"a":1})") == JSONValue::parse(R"({"a":1,"b":2})"));
    EXPECT_FALSE(JSONValue::parse("[1]") == JSONValue::parse("[1,1]"));
    const JSONValue nan(std::numeric_limits<double>::quiet_NaN());
    EXPECT_FALSE(nan == nan);
    EXPECT_EQ(JSONValue(0.0), JSONValue(-0.0));
    EXPECT_FALSE(JSONValue(QStringLiteral("1")) == JSONValue(1.0));
    EXPECT_EQ(JSONValue(), JSONValue::parse("null"));
}

TEST(JSONValueTest, CopiesAreIndependent) {
    JSONValue original = JSONValue::parse(R"({"outbounds":[{"tag":"proxy"}]})");
    JSONValue copy = original;
    copy.object()[QStringLiteral("outbounds")].array().push_back(JSONValue(QStringLiteral("x")));
    EXPECT_EQ(original.find(QStringLiteral("outbounds"))->array().size(), 1u);
    EXPECT_EQ(copy.find(QStringLiteral("outbounds"))->array().size(), 2u);
    EXPECT_EQ(JSONValue(1.0).find(QStringLiteral("x")), nullptr);
}

TEST(JSONValueTest, DecodesInsideRecordsWithItsCodingPath) {
    const QJsonValue body = json::parse(R"({"config":{"a":[1,{"b":"c"}]}})");
    const JSONObjectReader reader(body.toObject(), {});
    const auto config = reader.optional<JSONValue>({"config"});
    ASSERT_TRUE(config.has_value());
    EXPECT_EQ(config->find(QStringLiteral("a"))->array().at(1).find(QStringLiteral("b"))->string(),
              QStringLiteral("c"));
}

TEST(JSONValueTest, PrettySortedLayout) {
    const JSONValue value = JSONValue::parse(
        R"({"b":[1,{"z":true,"a":null}],"a":{},"c":[],"d":"x\"y","e":-2.5,"f":{"k":[[]]}})");
    const QByteArray expected = "{\n"
                                "  \"a\" : {},\n"
                                "  \"b\" : [\n"
                                "    1,\n"
                                "    {\n"
                                "      \"a\" : null,\n"
                                "      \"z\" : true\n"
                                "    }\n"
                                "  ],\n"
                                "  \"c\" : [],\n"
                                "  \"d\" : \"x\\\"y\",\n"
                                "  \"e\" : -2.5,\n"
                                "  \"f\" : {\n"
                                "    \"k\" : [\n"
                                "      []\n"
                                "    ]\n"
                                "  }\n"
                                "}";
    EXPECT_EQ(value.toJson(JSONValue::Format::prettySorted), expected);
    EXPECT_EQ(JSONValue::parse(expected), value);
    EXPECT_EQ(value.toJson(JSONValue::Format::compact), value.toJson());
    EXPECT_EQ(JSONValue(19090).toJson(JSONValue::Format::prettySorted), QByteArray("19090"));
    // Escapes at both ends and next to each other.
    EXPECT_EQ(JSONValue(QStringLiteral("\"\"x\r\n")).toJson(JSONValue::Format::prettySorted),
              QByteArray("\"\\\"\\\"x\\r\\n\""));
    EXPECT_EQ(JSONValue(JSONValue::Array{}).toJson(JSONValue::Format::prettySorted),
              QByteArray("[]"));
    EXPECT_THROW(JSONValue(JSONValue::Array{JSONValue(std::nan(""))})
                     .toJson(JSONValue::Format::prettySorted),
                 EncodingError);
}

TEST(JSONValueTest, LoneSurrogatesKeepTheirEscapes) {
    // The parser keeps a surrogate escape without its partner; UTF-8 cannot hold one.
    const std::pair<const char*, const char*> cases[] = {
        {R"("x\udfffy")", R"("x\udfffy")"},
        {R"("\ud800")", R"("\ud800")"},
        {R"("\udc00\ud800")", R"("\udc00\ud800")"},
        {R"("\ud83d\ud83d\ude00\n")", "\"\\ud83d\xf0\x9f\x98\x80\\n\""}, // a pair is plain text
        {R"({"a\ud800":["\udfff"],"a\udc00":1})", R"({"a\ud800":["\udfff"],"a\udc00":1})"},
    };
    for (const auto& [source, written] : cases) {
        const JSONValue value = JSONValue::parse(source);
        EXPECT_EQ(value.toJson(), QByteArray(written)) << source;
        for (const auto format : {JSONValue::Format::compact, JSONValue::Format::prettySorted}) {
            EXPECT_EQ(JSONValue::parse(value.toJson(format)), value) << source;
        }
    }
    // Keys that differ only there stay two keys.
    const QByteArray keys = JSONValue::parse(cases[4].first).toJson(JSONValue::Format::prettySorted);
    EXPECT_EQ(JSONValue::parse(keys).object().size(), 2u) << keys.constData();
}
