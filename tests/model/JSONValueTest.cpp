#include "DecodingError.h"
#include "JSONValue.h"

#include <gtest/gtest.h>

using namespace orvane;

TEST(JSONValueTest, ParsesEachKind) {
    EXPECT_EQ(JSONValue::parse("1"), JSONValue(1.0));
    EXPECT_TRUE(JSONValue::parse("true").isBool());
    EXPECT_EQ(JSONValue::parse("\"1\""), JSONValue(QStringLiteral("1")));
    EXPECT_TRUE(JSONValue::parse("null").isNull());
    EXPECT_EQ(JSONValue::parse("{}"), JSONValue(JSONValue::Object{}));
    EXPECT_EQ(JSONValue::parse("[]"), JSONValue(JSONValue::Array{}));
}
