#include "JSONObjectReader.h"
#include "JSONObjectWriter.h"
#include "JSONValue.h"
#include "ProtocolConfiguration.h"
#include "SingBoxConfigRewriter.h"
#include "StateEnumerations.h"

#include <QStringList>

#include <gtest/gtest.h>

using namespace orvane;

namespace {

// A node as the service may send it: surrogate escapes without their partner in a value and in
// two keys that differ only there; "xa" sorts between the keys and their "?" spelling.
const QByteArray kNode =
    R"({"outbounds":[{"type":"shadowsocks","tag":"proxy","password":"x\udfffy","x\ud800":1,)"
    R"("x\udc00":2,"xa":3}]})";

QByteArray rewrite(const QByteArray& source, OutboundMode mode) {
    return SingBoxConfigRewriter::rewrite(source, mode, 19095, false, 19110, QStringList{});
}

} // namespace

TEST(SingBoxConfigTextRoundTripTest, RewriteKeepsLoneSurrogatesAndRewritesToItself) {
    // Enhanced mode writes the file anew every time; smart mode leaves a rewritten file alone.
    for (const OutboundMode mode : {OutboundMode::smart, OutboundMode::enhanced}) {
        const QByteArray once = rewrite(kNode, mode);
        EXPECT_TRUE(once.contains(R"("password" : "x\udfffy")")) << once.constData();
        const JSONValue outbound = JSONValue::parse(once).find("outbounds")->array().at(0);
        EXPECT_EQ(outbound.object().size(), 6u) << once.constData();
        EXPECT_EQ(rewrite(once, mode), once);
    }
}

TEST(SingBoxConfigTextRoundTripTest, QuickConnectCacheReadsBackWhatItWrote) {
    ProtocolConfiguration stored;
    stored.endpointId = QStringLiteral("ep");
    stored.singBoxConfig = JSONValue::parse(kNode);
    stored.singBoxConfigText = JSONValue::parse(R"("{\"p\":\"\ud800\"}")").string();
    EXPECT_EQ(json::decodeBody<ProtocolConfiguration>(encodeJSON(stored)), stored);
}
