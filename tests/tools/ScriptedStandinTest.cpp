#include "StandinFixture.h"
#include "StandinRun.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QJsonArray>
#include <QProcess>

#include <memory>

using orvane::test::StandinFixture;
using orvane::test::StandinRun;

namespace {

const QString kOwnCommand =
    "/x/sing-box run -c /home/u/.local/share/Orvane/Protocols/orvane-active.json";

class ScriptedStandin : public ::testing::Test {
protected:
    StandinRun run(const char* tool, const QStringList& args) {
        return StandinRun::of(m_fixture.tool(tool), args);
    }
    StandinRun listeners(int port) {
        return run("lsof", {"-nP", "-iTCP:" + QString::number(port), "-sTCP:LISTEN", "-t"});
    }
    QStringList pids() const { return m_fixture.readProcesses()["processes"].toObject().keys(); }

    StandinFixture m_fixture;
};

QJsonObject process(const QString& command, const QJsonArray& listens = {},
                    const QJsonObject& flags = {}) {
    QJsonObject entry = flags;
    entry["command"] = command;
    entry["listens"] = listens;
    return entry;
}

TEST_F(ScriptedStandin, EveryToolNeedsTheHomeVariable) {
    for (const char* tool :
         {"networksetup", "scutil", "osascript", "lsof", "ps", "kill", "curl", "netstat"}) {
        const StandinRun result =
            StandinRun::of(m_fixture.tool(tool), {"-p", "1"}, {{"ORVANE_FAKE_TOOLS_HOME", ""}});
        EXPECT_EQ(result.status, 2) << tool;
        EXPECT_TRUE(result.err.contains("ORVANE_FAKE_TOOLS_HOME")) << tool;
    }
    EXPECT_TRUE(m_fixture.invocations().isEmpty());
}

TEST_F(ScriptedStandin, BrokenStateFileIsReportedNotGuessed) {
    const QList<std::pair<const char*, QStringList>> readers = {
        {"network.json", {"networksetup", "-listallnetworkservices"}},
        {"network.json", {"scutil", "--proxy"}},
        {"processes.json", {"ps", "-p", "1", "-o", "pid="}},
        {"processes.json", {"kill", "1"}},
        {"rules.json", {"curl", "-s"}},
        {"rules.json", {"networksetup", "-listallnetworkservices"}},
        {"osascript.json", {"osascript", "-e", "do shell script \"true\""}},
    };
    for (const auto& [name, command] : readers) {
        QFile file(m_fixture.home() + "/" + name);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("{not json");
        file.close();
        const StandinRun result =
            StandinRun::of(m_fixture.tool(command.first().toUtf8().constData()), command.mid(1));
        EXPECT_EQ(result.status, 2) << name << " " << command.first().toStdString();
        EXPECT_TRUE(result.err.contains(name)) << result.err.toStdString();
        file.remove();
    }
}

TEST_F(ScriptedStandin, LogsEveryRunWithItsArgumentsAndAdminFlag) {
    run("curl", {"-s", "https://example.invalid/"});
    StandinRun::of(m_fixture.tool("ps"), {"-p", "42", "-o", "pid="}, {{"ORVANE_FAKE_ADMIN", "1"}});
    const auto calls = m_fixture.invocations();
    ASSERT_EQ(calls.size(), 2);
    EXPECT_EQ(calls[0].tool, "curl");
    EXPECT_EQ(calls[0].args, (QStringList{"-s", "https://example.invalid/"}));
    EXPECT_FALSE(calls[0].admin);
    EXPECT_EQ(calls[1].tool, "ps");
    EXPECT_TRUE(calls[1].admin);
    m_fixture.clearInvocations();
    EXPECT_TRUE(m_fixture.invocations().isEmpty());
}

TEST_F(ScriptedStandin, ParallelRunsNeitherMixLogLinesNorLoseTableUpdates) {
    QJsonObject table;
    for (int pid = 600; pid < 616; ++pid) {
        table[QString::number(pid)] = process(kOwnCommand);
    }
    m_fixture.writeProcesses({{"processes", table}});
    std::vector<std::unique_ptr<QProcess>> kills;
    for (int pid = 600; pid < 616; ++pid) {
        kills.push_back(std::make_unique<QProcess>());
        kills.back()->start(m_fixture.tool("kill"), {QString::number(pid)});
    }
    for (const auto& kill : kills) {
        ASSERT_TRUE(kill->waitForFinished(30000));
        EXPECT_EQ(kill->exitCode(), 0);
    }
    EXPECT_TRUE(pids().isEmpty());
    EXPECT_EQ(m_fixture.invocations("kill").size(), 16);
}

TEST_F(ScriptedStandin, LsofListsListenersInPidOrder) {
    m_fixture.writeProcesses({{"processes", QJsonObject{{"702", process("b", {19090})},
                                                        {"501", process("a", {19091, 19090})},
                                                        {"99", process("c", {19092})}}}});
    const StandinRun both = listeners(19090);
    EXPECT_EQ(both.status, 0);
    EXPECT_EQ(both.out, "501\n702\n");
    const StandinRun none = listeners(19093);
    EXPECT_EQ(none.status, 1);
    EXPECT_TRUE(none.out.isEmpty());
    EXPECT_NE(run("lsof", {"-iTCP:19090"}).status, 0);
}

TEST_F(ScriptedStandin, LsofWithoutATableFindsNothing) {
    EXPECT_EQ(listeners(19090).status, 1);
}

TEST_F(ScriptedStandin, PsAnswersPidAndCommandQueries) {
    m_fixture.writeProcesses(
        {{"processes",
          QJsonObject{{"501", process(kOwnCommand)},
                      {"502", process("hidden", {}, {{"commandUnreadable", true}})}}}});
    struct Case {
        QString pid;
        QString column;
        int status;
        QString out;
    };
    const QList<Case> cases = {
        {"501", "pid=", 0, "  501\n"}, {"501", "command=", 0, kOwnCommand + "\n"},
        {"502", "pid=", 0, "  502\n"}, {"502", "command=", 1, ""},
        {"503", "pid=", 1, ""},        {"503", "command=", 1, ""},
    };
    for (const Case& c : cases) {
        const StandinRun result = run("ps", {"-p", c.pid, "-o", c.column});
        EXPECT_EQ(result.status, c.status) << c.pid.toStdString() << c.column.toStdString();
        EXPECT_EQ(result.out, c.out) << c.pid.toStdString() << c.column.toStdString();
    }
    EXPECT_NE(run("ps", {"-ax"}).status, 0);
}

TEST_F(ScriptedStandin, KillFollowsTheTableFlags) {
    struct Case {
        const char* name;
        QJsonObject flags;
        QStringList signal;
        bool survives;
    };
    const QList<Case> cases = {
        {"term", {}, {}, false},
        {"term survived", {{"survivesTerm", true}}, {}, true},
        {"named term", {{"survivesKill", true}}, {"-TERM"}, false},
        {"-9", {{"survivesTerm", true}}, {"-9"}, false},
        {"-9 survived", {{"survivesKill", true}}, {"-9"}, true},
        {"-s KILL", {}, {"-s", "KILL"}, false},
        {"-HUP", {}, {"-HUP"}, true},
        {"-0", {}, {"-0"}, true},
    };
    for (const Case& c : cases) {
        m_fixture.writeProcesses(
            {{"processes", QJsonObject{{"501", process(kOwnCommand, {19090}, c.flags)}}}});
        const StandinRun result = run("kill", c.signal + QStringList{"501"});
        EXPECT_EQ(result.status, 0) << c.name;
        EXPECT_EQ(pids().contains("501"), c.survives) << c.name;
        EXPECT_EQ(listeners(19090).status, c.survives ? 0 : 1) << c.name;
    }
}

TEST_F(ScriptedStandin, ProcessSurvivingTheWholeLadderStaysListed) {
    m_fixture.writeProcesses(
        {{"processes",
          QJsonObject{{"501", process(kOwnCommand, {19090},
                                      {{"survivesTerm", true}, {"survivesKill", true}})}}}});
    EXPECT_EQ(run("kill", {"501"}).status, 0);
    EXPECT_EQ(run("kill", {"-9", "501"}).status, 0);
    EXPECT_EQ(run("ps", {"-p", "501", "-o", "pid="}).out, "  501\n");
    EXPECT_EQ(listeners(19090).out, "501\n");
}

TEST_F(ScriptedStandin, KillNeverSignalsARealProcess) {
    QProcess real;
    real.start("sleep", {"30"});
    ASSERT_TRUE(real.waitForStarted());
    const QString pid = QString::number(real.processId());
    const QList<QStringList> attempts = {{pid},       {"-9", pid},  {"-KILL", pid},
                                         {"0"},       {"-9", "-1"}, {"-s", "TERM", "--", pid},
                                         {"--", "-1"}};
    for (bool withTable : {false, true}) {
        if (withTable) {
            m_fixture.writeProcesses({{"processes", QJsonObject{{"501", process("x")}}}});
        }
        for (const QStringList& args : attempts) {
            const StandinRun result = run("kill", args);
            EXPECT_EQ(result.status, 1) << args.join(' ').toStdString();
        }
    }
    EXPECT_EQ(run("kill", {pid}).err, "kill: (" + pid + ") - No such process\n");
    EXPECT_EQ(real.state(), QProcess::Running);
    EXPECT_FALSE(real.waitForFinished(200));
    real.kill();
    real.waitForFinished();
}

TEST_F(ScriptedStandin, CurlAndNetstatWithoutARuleFail) {
    for (const char* tool : {"curl", "netstat"}) {
        const StandinRun result = run(tool, {"-rn"});
        EXPECT_EQ(result.status, 1) << tool;
        EXPECT_TRUE(result.out.isEmpty());
        EXPECT_TRUE(result.err.contains("no scripted answer")) << tool;
    }
}

TEST_F(ScriptedStandin, RulesMatchByArgsOrArgsContainFirstWins) {
    const QStringList probe = {"--socks5-hostname",
                               "127.0.0.1:19090",
                               "--connect-timeout",
                               "1.5",
                               "--max-time",
                               "2",
                               "-L",
                               "-sS",
                               "-o",
                               "/dev/null",
                               "-w",
                               "%{http_code}",
                               "https://probe.example/generate_204"};
    m_fixture.writeRules(
        {QJsonObject{{"tool", "netstat"},
                     {"args", QJsonArray{"-rn", "-f", "inet"}},
                     {"stdout", "default 10.0.0.1 UGScg en0\n"}},
         QJsonObject{{"tool", "curl"},
                     {"argsContain", QJsonArray{"https://probe.example/ai", "127.0.0.1:19090"}},
                     {"stdout", "403"}},
         QJsonObject{
             {"tool", "curl"}, {"argsContain", QJsonArray{"--socks5-hostname"}}, {"stdout", "204"}},
         QJsonObject{{"tool", "curl"}, {"status", 7}, {"stderr", "curl: (7) refused\n"}}});

    EXPECT_EQ(run("curl", probe).out, "204");
    QStringList ai = probe;
    ai.last() = "https://probe.example/ai";
    EXPECT_EQ(run("curl", ai).out, "403");
    const StandinRun plain = run("curl", {"-s", "https://x.example"});
    EXPECT_EQ(plain.status, 7);
    EXPECT_EQ(plain.err, "curl: (7) refused\n");
    EXPECT_EQ(run("netstat", {"-rn", "-f", "inet"}).out, "default 10.0.0.1 UGScg en0\n");
    EXPECT_EQ(run("netstat", {"-rn"}).status, 1);
    // Rules without "times" are never used up.
    EXPECT_EQ(m_fixture.readRules().size(), 4);
}

TEST_F(ScriptedStandin, TimesCountDownAndSpentRulesDisappear) {
    m_fixture.writeRules({QJsonObject{{"tool", "curl"}, {"stdout", "500"}, {"times", 2}},
                          QJsonObject{{"tool", "curl"}, {"stdout", "204"}, {"times", 1}}});
    EXPECT_EQ(run("curl", {}).out, "500");
    EXPECT_EQ(m_fixture.readRules()[0].toObject()["times"].toInt(), 1);
    EXPECT_EQ(run("curl", {}).out, "500");
    EXPECT_EQ(run("curl", {}).out, "204");
    EXPECT_TRUE(m_fixture.readRules().isEmpty());
    EXPECT_EQ(run("curl", {}).status, 1);
}

TEST_F(ScriptedStandin, RulesOverrideTheProcessTable) {
    m_fixture.writeProcesses({{"processes", QJsonObject{{"501", process(kOwnCommand, {19090})}}}});
    m_fixture.writeRules({QJsonObject{{"tool", "lsof"}, {"status", 1}, {"times", 1}},
                          QJsonObject{{"tool", "kill"},
                                      {"args", QJsonArray{"501"}},
                                      {"status", 1},
                                      {"stderr", "kill: (501) - Operation not permitted\n"}}});
    EXPECT_EQ(listeners(19090).status, 1);
    EXPECT_EQ(listeners(19090).out, "501\n");
    EXPECT_EQ(run("kill", {"501"}).status, 1);
    EXPECT_TRUE(pids().contains("501"));
    EXPECT_EQ(run("kill", {"-9", "501"}).status, 0);
    EXPECT_FALSE(pids().contains("501"));
}

} // namespace
