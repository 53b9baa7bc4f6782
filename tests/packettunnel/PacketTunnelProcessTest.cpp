#include <QByteArray>
#include <QProcess>

#include <gtest/gtest.h>

#include <string>

namespace {

const std::string kEngineAnswer =
    R"({"id":1,"op":"start","ok":false,"error":{"domain":)"
    R"("OrvanePacketTunnel.PacketTunnelProviderError","code":1,"description":)"
    R"("Orvane PacketTunnelProvider 尚未嵌入协议内核。"}})";

// Sends one line and waits for the one answer line, without closing the input: the
// executable must answer each request as it arrives.
std::string ask(QProcess& process, const QByteArray& request) {
    process.write(request + '\n');
    while (!process.canReadLine()) {
        if (!process.waitForReadyRead(60000)) {
            return "<no answer>";
        }
    }
    return process.readLine().chopped(1).toStdString();
}

} // namespace

TEST(PacketTunnelProcessTest, AnswersStartAndStopAndKeepsServingAfterBadLines) {
    QProcess process;
    process.start(QStringLiteral(ORVANE_PACKET_TUNNEL_EXECUTABLE), {});
    ASSERT_TRUE(process.waitForStarted(60000)) << process.errorString().toStdString();

    EXPECT_EQ(ask(process, R"({"id":1,"op":"start","providerConfiguration":)"
                           R"({"endpointId":"hk-01","protocol":"vless"}})"),
              kEngineAnswer);
    EXPECT_EQ(ask(process, R"({"id":2,"op":"stop","reason":0})"),
              R"({"id":2,"op":"stop","ok":true})");
    EXPECT_TRUE(QByteArray::fromStdString(ask(process, "{oops"))
                    .startsWith(R"({"ok":false,"error":{"description":"无法解析请求：)"));
    EXPECT_EQ(ask(process, "[42]"),
              R"({"ok":false,"error":{"description":"无法解析请求：请求必须是 JSON 对象。"}})");
    EXPECT_EQ(ask(process, R"({"id":3,"op":"connect"})"),
              R"({"id":3,"op":"connect","ok":false,"error":{"description":)"
              R"("未知的请求类型：connect"}})");
    EXPECT_EQ(ask(process, R"({"id":4,"op":"start"})"),
              R"({"id":4,"op":"start","ok":false,"error":{"domain":)"
              R"("OrvanePacketTunnel.PacketTunnelProviderError","code":0,"description":)"
              R"("Orvane PacketTunnelProvider 缺少连接配置。"}})");

    process.closeWriteChannel();
    ASSERT_TRUE(process.waitForFinished(60000));
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), 0);
    EXPECT_TRUE(process.readAllStandardOutput().isEmpty());
    EXPECT_TRUE(process.readAllStandardError().isEmpty());
}
