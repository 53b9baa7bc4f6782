#include "StandinFixture.h"
#include "StandinRun.h"

#include <gtest/gtest.h>

#include <QFileInfo>
#include <QJsonArray>
#include <QProcess>

using orvane::test::StandinFixture;
using orvane::test::StandinRun;

namespace {

// The engine's way of quoting shell text into an AppleScript literal.
QString administratorScript(QString command) {
    command.replace("\\", "\\\\").replace("\"", "\\\"");
    return "do shell script \"" + command + "\" with administrator privileges";
}

class OsascriptStandin : public ::testing::Test {
protected:
    StandinRun osascript(const QString& script) {
        return StandinRun::of(m_fixture.tool("osascript"), {"-e", script});
    }
    StandinFixture m_fixture;
};

struct HostileCase {
    const char* name;
    const char* command;
    const char* output;
};

void PrintTo(const HostileCase& hostile, std::ostream* os) {
    *os << hostile.name;
}

class OsascriptHostileText : public OsascriptStandin,
                             public ::testing::WithParamInterface<HostileCase> {};

TEST_P(OsascriptHostileText, ShellReceivesExactlyTheEscapedText) {
    const HostileCase c = GetParam();
    const StandinRun run = osascript(administratorScript(c.command));
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_EQ(run.out, c.output);
    EXPECT_EQ(m_fixture.osascriptScripts(), QStringList{c.command});
}

INSTANTIATE_TEST_SUITE_P(
    Texts, OsascriptHostileText,
    ::testing::Values(
        HostileCase{"SingleQuotes", R"(printf '%s' 'Bob'\''s Wi-Fi')", "Bob's Wi-Fi\n"},
        HostileCase{"DoubleQuotes", R"(printf '%s' "say \"hi\"")", "say \"hi\"\n"},
        HostileCase{"Backslashes", R"(printf '%s' 'C:\new\\dir\')", "C:\\new\\\\dir\\\n"},
        HostileCase{"QuotedShellLine", R"('/bin/echo' '-n' 'Tom'\''s "\"Net\""')",
                    "Tom's \"\\\"Net\\\"\"\n"},
        HostileCase{"LineFeeds", "printf one\nprintf '%s' ' two'\nprintf ' three'",
                    "one two three\n"},
        HostileCase{"DollarAndBackticks", "printf '%s' '$HOME `id`'", "$HOME `id`\n"}),
    [](const auto& param) { return std::string(param.param.name); });

TEST_F(OsascriptStandin, AppleScriptEscapesBecomeControlCharacters) {
    ASSERT_EQ(osascript(R"(do shell script "printf '%s' 'a\tb\rc\nd'")").status, 0);
    EXPECT_EQ(m_fixture.osascriptScripts(), QStringList{"printf '%s' 'a\tb\rc\nd'"});
}

TEST_F(OsascriptStandin, RefusesAnythingButOneDoShellScript) {
    const QStringList scripts = {
        R"(display dialog "hi")",
        R"(do shell script "echo \q")",
        R"(do shell script "echo unterminated)",
        R"(do shell script "echo \")",
        R"(do shell script "echo a" with administrator privileges and more)",
        R"(do shell script "echo a" as root)",
        R"(tell application "Finder" to do shell script "echo a")",
    };
    for (const QString& script : scripts) {
        const StandinRun run = osascript(script);
        EXPECT_EQ(run.status, 1) << script.toStdString();
        EXPECT_TRUE(run.err.contains("execution error")) << script.toStdString();
        EXPECT_TRUE(run.out.isEmpty());
    }
    EXPECT_TRUE(m_fixture.osascriptScripts().isEmpty());
    EXPECT_EQ(m_fixture.invocations("osascript").size(), scripts.size());
}

TEST_F(OsascriptStandin, AcceptsOnlyOneDashEArgument) {
    const QString tool = m_fixture.tool("osascript");
    for (const QStringList& args :
         {QStringList{}, QStringList{"-e"}, QStringList{"do shell script \"true\""},
          QStringList{"-e", "do shell script \"true\"", "-e", "do shell script \"true\""}}) {
        EXPECT_NE(StandinRun::of(tool, args).status, 0) << args.join(' ').toStdString();
    }
}

TEST_F(OsascriptStandin, KeywordsAndSpacingAreLenientLikeAppleScript) {
    EXPECT_EQ(osascript("  Do  Shell Script \"printf x\"   With Administrator  Privileges ").out,
              "x\n");
}

TEST_F(OsascriptStandin, AdministratorFormAloneMarksTheShellAsAdmin) {
    EXPECT_EQ(osascript(administratorScript("printf %s \"$ORVANE_FAKE_ADMIN\"")).out, "1\n");
    EXPECT_EQ(osascript(R"(do shell script "printf %s \"[$ORVANE_FAKE_ADMIN]\"")").out, "[]\n");
}

TEST_F(OsascriptStandin, ResultLooksLikeDoShellScript) {
    EXPECT_EQ(osascript(R"(do shell script "printf 'a\nb\n'")").out, "a\rb\n");
    EXPECT_EQ(osascript(R"(do shell script "true")").out, "");

    const StandinRun failed = osascript(administratorScript("echo 'no luck' >&2; exit 3"));
    EXPECT_EQ(failed.status, 1);
    EXPECT_EQ(failed.err, "execution error: no luck (3)\n");
    EXPECT_TRUE(failed.out.isEmpty());

    EXPECT_EQ(osascript(administratorScript("exit 5")).err,
              "execution error: The command exited with a non-zero status. (5)\n");
}

TEST_F(OsascriptStandin, DeclinedPromptRunsNothing) {
    m_fixture.writeOsascript({{"decline", true}});
    const QString marker = m_fixture.home() + "/ran";
    const StandinRun run = osascript(administratorScript("touch '" + marker + "'"));
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "execution error: User canceled. (-128)\n");
    EXPECT_FALSE(QFileInfo::exists(marker));
    // What was asked is still on record.
    EXPECT_EQ(m_fixture.osascriptScripts().size(), 1);
}

TEST_F(OsascriptStandin, BatchOfNetworksetupLinesRunsWithAdministratorRights) {
    QJsonObject state = StandinFixture::defaultNetwork();
    state["knobs"] = QJsonObject{{"setNeedsAdmin", true}};
    m_fixture.writeNetwork(state);
    const QString tool = m_fixture.tool("networksetup");
    const QString batch = "'" + tool + "' '-setwebproxy' 'Wi-Fi' '127.0.0.1' '19090' 'off'\n'" +
                          tool + "' '-setwebproxystate' 'Wi-Fi' 'on'";
    const StandinRun run = osascript(administratorScript(batch));
    ASSERT_EQ(run.status, 0) << run.err.toStdString();

    const auto calls = m_fixture.invocations();
    ASSERT_EQ(calls.size(), 3);
    EXPECT_EQ(calls[0].tool, "osascript");
    EXPECT_FALSE(calls[0].admin);
    EXPECT_EQ(calls[1].tool, "networksetup");
    EXPECT_TRUE(calls[1].admin);
    EXPECT_EQ(calls[2].args, (QStringList{"-setwebproxystate", "Wi-Fi", "on"}));
    const QJsonObject web =
        m_fixture.readNetwork()["services"].toArray()[0].toObject()["web"].toObject();
    EXPECT_TRUE(web["enabled"].toBool());
    EXPECT_EQ(web["port"].toInt(), 19090);
}

QString privilegedKill(qint64 pid) {
    return QString("kill %1 >/dev/null 2>&1 || true\nsleep 0.2\nkill -9 %1 >/dev/null 2>&1 || true")
        .arg(pid);
}

TEST_F(OsascriptStandin, PrivilegedKillHitsTheFakeTableNeverARealProcess) {
    QProcess real;
    real.start("sleep", {"30"});
    ASSERT_TRUE(real.waitForStarted());
    const qint64 realPid = real.processId();
    m_fixture.writeProcesses(
        {{"processes",
          QJsonObject{{"501", QJsonObject{{"command", "sing-box run"}, {"survivesTerm", true}}}}}});

    const StandinRun run =
        osascript(administratorScript(privilegedKill(501) + "\n" + privilegedKill(realPid)));
    ASSERT_EQ(run.status, 0) << run.err.toStdString();

    EXPECT_TRUE(m_fixture.readProcesses()["processes"].toObject().isEmpty());
    const auto kills = m_fixture.invocations("kill");
    ASSERT_EQ(kills.size(), 4);
    EXPECT_EQ(kills[0].args, QStringList{"501"});
    EXPECT_EQ(kills[1].args, (QStringList{"-9", "501"}));
    EXPECT_TRUE(kills[1].admin);
    EXPECT_EQ(kills[3].args, (QStringList{"-9", QString::number(realPid)}));
    EXPECT_EQ(real.state(), QProcess::Running);
    real.kill();
    real.waitForFinished();
}

TEST_F(OsascriptStandin, WithoutAProcessTableTheRealKillRuns) {
    QProcess real;
    real.start("sleep", {"30"});
    ASSERT_TRUE(real.waitForStarted());
    const StandinRun run = osascript(administratorScript(privilegedKill(real.processId())));
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_TRUE(real.waitForFinished(60000));
    EXPECT_TRUE(m_fixture.invocations("kill").isEmpty());
}

} // namespace
