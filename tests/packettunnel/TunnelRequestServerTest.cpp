#include "TunnelRequestServer.h"
#include "PacketTunnelProvider.h"
#include "TunnelProviderProtocol.h"

#include <gtest/gtest.h>

#include <sstream>

using namespace orvane;

namespace {

const QByteArray kMissing =
    R"("error":{"domain":"OrvanePacketTunnel.PacketTunnelProviderError","code":0,)"
    R"("description":"Orvane PacketTunnelProvider 缺少连接配置。"}})";
const QByteArray kEngine =
    R"("error":{"domain":"OrvanePacketTunnel.PacketTunnelProviderError","code":1,)"
    R"("description":"Orvane PacketTunnelProvider 尚未嵌入协议内核。"}})";

// A provider that keeps its handlers instead of calling them.
class SilentProvider : public PacketTunnelProviderBase {
public:
    void startTunnel(const std::optional<QVariantMap>&, StartCompletion completion) override {
        m_start = std::move(completion);
    }
    void stopTunnel(StopReason, StopCompletion completion) override {
        m_stop = std::move(completion);
    }
    StartCompletion m_start;
    StopCompletion m_stop;
};

// Hands the tunnel up, and remembers what it was given.
class WillingProvider : public PacketTunnelProviderBase {
public:
    void startTunnel(const std::optional<QVariantMap>& options,
                     StartCompletion completion) override {
        m_options = options;
        completion(std::nullopt);
        completion(BridgedError{QStringLiteral("late"), 9, QStringLiteral("late")});
    }
    void stopTunnel(StopReason reason, StopCompletion completion) override {
        m_reason = static_cast<int>(reason);
        completion();
    }
    std::optional<QVariantMap> m_options;
    int m_reason = -100;
};

} // namespace

TEST(TunnelRequestServerTest, AnswersEachRequestLine) {
    struct Row {
        const char* request;
        QByteArray answer;
    };
    const Row rows[] = {
        {R"({"id":1,"op":"start","providerConfiguration":{"endpointId":"hk-01","protocol":"vless"}})",
         R"({"id":1,"op":"start","ok":false,)" + kEngine},
        {R"({"id":"a","op":"start","providerConfiguration":{"endpointId":"","protocol":""}})",
         R"({"id":"a","op":"start","ok":false,)" + kEngine},
        {R"({"op":"start","providerConfiguration":{"endpointId":3,"protocol":"vless"}})",
         R"({"op":"start","ok":false,)" + kMissing},
        {R"({"op":"start","providerConfiguration":{"endpointId":"hk-01"}})",
         R"({"op":"start","ok":false,)" + kMissing},
        {R"({"op":"start","providerConfiguration":{"endpointId":null,"protocol":"vless"}})",
         R"({"op":"start","ok":false,)" + kMissing},
        {R"({"op":"start","providerConfiguration":{}})", R"({"op":"start","ok":false,)" + kMissing},
        {R"({"op":"start","providerConfiguration":null})",
         R"({"op":"start","ok":false,)" + kMissing},
        {R"({"id":null,"op":"start"})", R"({"id":null,"op":"start","ok":false,)" + kMissing},
        {R"({"op":"start","protocolConfigurationClass":"VPNProtocol",)"
         R"("providerConfiguration":{"endpointId":"hk-01","protocol":"vless"}})",
         R"({"op":"start","ok":false,)" + kMissing},
        {R"({"op":"start","protocolConfigurationClass":"TunnelProviderProtocol",)"
         R"("providerConfiguration":{"endpointId":"hk-01","protocol":"vless"}})",
         R"({"op":"start","ok":false,)" + kEngine},
        {R"({"op":"start","options":{"a":1},)"
         R"("providerConfiguration":{"endpointId":"hk-01","protocol":"vless"}})",
         R"({"op":"start","ok":false,)" + kEngine},
        {R"({"id":2,"op":"stop","reason":0})", R"({"id":2,"op":"stop","ok":true})"},
        {R"({"id":[1,{"x":2}],"op":"stop","reason":11})",
         R"({"id":[1,{"x":2}],"op":"stop","ok":true})"},
        {R"({"op":"stop"})", R"({"op":"stop","ok":true})"},
    };
    PacketTunnelProvider provider;
    TunnelRequestServer server(provider);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.request);
        EXPECT_EQ(server.answer(row.request).toStdString(), row.answer.toStdString());
    }
}

TEST(TunnelRequestServerTest, MalformedRequestsGetAnErrorLine) {
    struct Row {
        const char* request;
        QByteArray answer;
    };
    const Row rows[] = {
        {"[1,2]", R"({"ok":false,"error":{"description":"无法解析请求：请求必须是 JSON 对象。"}})"},
        {R"({"id":4})",
         R"({"id":4,"ok":false,"error":{"description":"无法解析请求：缺少字符串类型的 op 字段。"}})"},
        {R"({"id":5,"op":1})",
         R"({"id":5,"ok":false,"error":{"description":"无法解析请求：缺少字符串类型的 op 字段。"}})"},
        {R"({"id":6,"op":"restart"})",
         R"({"id":6,"op":"restart","ok":false,"error":{"description":"未知的请求类型：restart"}})"},
        {R"({"op":"start","providerConfiguration":"endpointId=hk-01"})",
         R"({"op":"start","ok":false,"error":{"description":)"
         R"("无法解析请求：providerConfiguration 必须是 JSON 对象。"}})"},
        {R"({"op":"start","protocolConfigurationClass":3})",
         R"({"op":"start","ok":false,"error":{"description":)"
         R"("无法解析请求：protocolConfigurationClass 必须是字符串。"}})"},
        {R"({"op":"start","options":[]})", R"({"op":"start","ok":false,"error":{"description":)"
                                           R"("无法解析请求：options 必须是 JSON 对象。"}})"},
        {R"({"op":"stop","reason":"user"})",
         R"({"op":"stop","ok":false,"error":{"description":"无法解析请求：reason 必须是整数。"}})"},
        {R"({"op":"stop","reason":1.5})",
         R"({"op":"stop","ok":false,"error":{"description":"无法解析请求：reason 必须是整数。"}})"},
        {R"({"op":"stop","reason":1e12})",
         R"({"op":"stop","ok":false,"error":{"description":"无法解析请求：reason 必须是整数。"}})"},
    };
    PacketTunnelProvider provider;
    TunnelRequestServer server(provider);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.request);
        EXPECT_EQ(server.answer(row.request).toStdString(), row.answer.toStdString());
    }
}

TEST(TunnelRequestServerTest, LinesThatAreNotJSONGetAnErrorLine) {
    // The detail after the colon is the parser's own wording.
    const QByteArray head = R"({"ok":false,"error":{"description":"无法解析请求：)";
    PacketTunnelProvider provider;
    TunnelRequestServer server(provider);
    for (const char* request : {"not json", R"({"op":"start")", "{'op':'stop'}", "42", "\x01",
                                R"({"op":"stop"} {"op":"stop"})"}) {
        SCOPED_TRACE(request);
        const QByteArray answer = server.answer(request);
        EXPECT_TRUE(answer.startsWith(head)) << answer.toStdString();
        EXPECT_GT(answer.size(), head.size() + 3) << "the parser's detail is missing";
        EXPECT_TRUE(answer.endsWith(R"("}})")) << answer.toStdString();
        EXPECT_FALSE(answer.contains('\n'));
    }
}

TEST(TunnelRequestServerTest, HandsTheProviderWhatTheRequestCarries) {
    WillingProvider provider;
    TunnelRequestServer server(provider);

    EXPECT_EQ(server
                  .answer(R"({"op":"start","options":{"k":"v"},)"
                          R"("providerConfiguration":{"endpointId":"hk-01","n":2}})")
                  .toStdString(),
              R"({"op":"start","ok":true})");
    const auto* protocol =
        dynamic_cast<const TunnelProviderProtocol*>(provider.protocolConfiguration().get());
    ASSERT_NE(protocol, nullptr);
    ASSERT_TRUE(protocol->providerConfiguration());
    EXPECT_EQ(protocol->providerConfiguration()->value(QStringLiteral("endpointId")).toString(),
              QStringLiteral("hk-01"));
    EXPECT_EQ(provider.m_options->value(QStringLiteral("k")).toString(), QStringLiteral("v"));

    server.answer(R"({"op":"start"})");
    protocol = dynamic_cast<const TunnelProviderProtocol*>(provider.protocolConfiguration().get());
    ASSERT_NE(protocol, nullptr);
    EXPECT_FALSE(protocol->providerConfiguration());
    EXPECT_FALSE(provider.m_options);

    server.answer(R"({"op":"start","protocolConfigurationClass":"Other",)"
                  R"("providerConfiguration":{"endpointId":"hk-01","protocol":"vless"}})");
    ASSERT_NE(provider.protocolConfiguration(), nullptr);
    EXPECT_EQ(dynamic_cast<const TunnelProviderProtocol*>(provider.protocolConfiguration().get()),
              nullptr);

    server.answer(R"({"op":"stop","reason":-3})");
    EXPECT_EQ(provider.m_reason, -3);
    server.answer(R"({"op":"stop"})");
    EXPECT_EQ(provider.m_reason, 0);
}

TEST(TunnelRequestServerTest, AProviderThatDoesNotAnswerStillGetsOneLine) {
    SilentProvider provider;
    TunnelRequestServer server(provider);
    EXPECT_EQ(server.answer(R"({"id":1,"op":"start"})").toStdString(),
              R"({"id":1,"op":"start","ok":false,"error":{"description":)"
              R"("隧道提供者没有答复启动请求。"}})");
    EXPECT_EQ(server.answer(R"({"id":2,"op":"stop"})").toStdString(),
              R"({"id":2,"op":"stop","ok":false,"error":{"description":)"
              R"("隧道提供者没有答复停止请求。"}})");
    // A handler called after the answer went out changes nothing and does not crash.
    provider.m_start(std::nullopt);
    provider.m_stop();
}

TEST(TunnelRequestServerTest, ServesUntilEndOfInputAndSkipsBlankLines) {
    PacketTunnelProvider provider;
    TunnelRequestServer server(provider);
    std::istringstream in("{\"id\":1,\"op\":\"stop\"}\n"
                          "\n"
                          "   \r\n"
                          "[]\n"
                          "{\"id\":2,\"op\":\"stop\"}\r\n"
                          "{\"id\":3,\"op\":\"stop\"}"); // no final line feed
    std::ostringstream out;
    EXPECT_EQ(server.serve(in, out), 0);
    EXPECT_EQ(
        out.str(),
        "{\"id\":1,\"op\":\"stop\",\"ok\":true}\n"
        "{\"ok\":false,\"error\":{\"description\":\"无法解析请求：请求必须是 JSON 对象。\"}}\n"
        "{\"id\":2,\"op\":\"stop\",\"ok\":true}\n"
        "{\"id\":3,\"op\":\"stop\",\"ok\":true}\n");
}
