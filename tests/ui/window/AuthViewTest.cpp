#include "AuthView.h"
#include "CancelToken.h"
#include "CapsuleButton.h"
#include "PlainTextButton.h"
#include "UiFixture.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QTest>

#include <gtest/gtest.h>

using namespace orvane;
using namespace orvane::test;

namespace {

// Cooldown seconds that pass only when the test says so.
struct ManualTicks {
    std::shared_ptr<CancelToken> gate = std::make_shared<CancelToken>();

    AuthView::Sleep sleep() {
        return [this](std::chrono::milliseconds) -> QCoro::Task<void> {
            const auto current = gate;
            co_await sleepFor(std::chrono::hours(24), current.get());
        };
    }
    void tick() {
        const auto current = gate;
        gate = std::make_shared<CancelToken>();
        current->cancel();
        settle();
    }
};

void waitForTasks(AppState& state) {
    for (int i = 0; i < 500 && state.runningTaskCount() > 0; ++i) {
        QTest::qWait(5);
    }
}

class AuthViewTest : public ::testing::Test {
protected:
    StateFixture fixture;
    AppState& state = fixture.makeState();
};

TEST_F(AuthViewTest, EnablesSendAndSubmitOnlyForUsableInput) {
    struct Case {
        const char* identity;
        const char* password;
        bool accepted;
        bool busy;
        bool sendEnabled;
        bool primaryEnabled;
    };
    const Case cases[] = {
        {" Someone@Example.COM ", "pw", true, false, true, true},
        {"someone@example", "pw", true, false, false, false},
        {"some one@example.com", "pw", true, false, false, false},
        {"a@b@example.com", "pw", true, false, false, false},
        {"someone@example.com", "pw", false, false, true, false},
        {"someone@example.com", "   ", true, false, true, true},
        {"someone@example.com", "", true, false, true, false},
        {"someone@example.com", "pw", true, true, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.identity + std::string(" / '") + c.password + "'");
        AuthView sheet(state);
        sheet.modeSwitch()->click();
        sheet.identityField()->setText(QString::fromUtf8(c.identity));
        sheet.passwordField()->setText(QString::fromUtf8(c.password));
        sheet.agreementBox()->setChecked(c.accepted);
        state.setIsBusy(c.busy);
        EXPECT_EQ(sheet.sendCodeButton()->isEnabled(), c.sendEnabled);
        EXPECT_EQ(sheet.primaryButton()->isEnabled(), c.primaryEnabled);
        state.setIsBusy(false);
    }
}

TEST_F(AuthViewTest, CodeCooldownCountsDownAcrossModeSwitchesAndEndsWithTheSheet) {
    ManualTicks ticks;
    auto sheet = std::make_unique<AuthView>(state, nullptr, ticks.sleep());
    sheet->modeSwitch()->click();
    sheet->identityField()->setText(QStringLiteral("  New.User@Example.com"));
    sheet->sendCodeButton()->click();
    waitForTasks(state);
    EXPECT_FALSE(
        fixture.service.lastVerificationCode(QStringLiteral("new.user@example.com")).isEmpty());
    EXPECT_EQ(sheet->codeButtonTitle(), QStringLiteral("60秒后重发"));
    EXPECT_FALSE(sheet->sendCodeButton()->isEnabled());

    ticks.tick();
    sheet->modeSwitch()->click();
    sheet->modeSwitch()->click();
    ticks.tick();
    EXPECT_EQ(sheet->codeButtonTitle(), QStringLiteral("58秒后重发"));
    EXPECT_EQ(sheet->identityField()->text(), QStringLiteral("  New.User@Example.com"));
    for (int i = 0; i < 58; ++i) {
        ticks.tick();
    }
    EXPECT_EQ(sheet->codeButtonTitle(), QStringLiteral("发送验证码"));
    EXPECT_TRUE(sheet->sendCodeButton()->isEnabled());

    // A minimised window hides the sheet with it; once restored the countdown goes on.
    sheet->sendCodeButton()->click();
    waitForTasks(state);
    sheet->open();
    settle();
    sheet->setWindowState(Qt::WindowMinimized);
    settle();
    ticks.tick();
    sheet->setWindowState(Qt::WindowNoState);
    settle();
    ticks.tick();
    EXPECT_EQ(sheet->codeButtonTitle(), QStringLiteral("58秒后重发"));

    // A new sheet starts afresh; the old countdown, once dismissed, changes nothing.
    sheet->reject();
    ticks.tick();
    EXPECT_EQ(sheet->codeCooldownRemaining(), 58);
    AuthView fresh(state);
    EXPECT_EQ(fresh.codeButtonTitle(), QStringLiteral("发送验证码"));
    EXPECT_TRUE(fresh.identityField()->text().isEmpty());
    EXPECT_FALSE(fresh.isRegistering());
}

TEST_F(AuthViewTest, FailedCodeRequestStartsNoCooldown) {
    dev::DevService::Fault fault;
    fault.path = QStringLiteral("/auth/verification-code");
    fixture.service.addFault(fault);
    AuthView sheet(state);
    sheet.modeSwitch()->click();
    sheet.identityField()->setText(QStringLiteral("someone@example.com"));
    sheet.sendCodeButton()->click();
    EXPECT_EQ(sheet.codeButtonTitle(), QStringLiteral("发送中..."));
    waitForTasks(state);
    EXPECT_EQ(sheet.codeButtonTitle(), QStringLiteral("发送验证码"));
    EXPECT_TRUE(sheet.sendCodeButton()->isEnabled());
}

TEST_F(AuthViewTest, ReturnInAFieldSubmitsNothing) {
    AuthView sheet(state);
    sheet.identityField()->setText(QString::fromLatin1(dev::DevService::kDemoEmail));
    sheet.passwordField()->setText(QString::fromLatin1(dev::DevService::kDemoPassword));
    sheet.open();
    settle();
    ASSERT_TRUE(sheet.primaryButton()->isEnabled());
    for (QLineEdit* field : {sheet.identityField(), sheet.passwordField()}) {
        field->setFocus();
        QTest::keyClick(field, Qt::Key_Return);
        QTest::keyClick(field, Qt::Key_Enter);
    }
    settle();
    EXPECT_EQ(state.runningTaskCount(), 0);
    EXPECT_FALSE(state.token().has_value());
    EXPECT_TRUE(sheet.isVisible());

    // The button itself does sign in, and the state then closes the sheet.
    state.setShowAuthSheet(true);
    sheet.primaryButton()->click();
    waitForTasks(state);
    EXPECT_TRUE(state.token().has_value());
    EXPECT_FALSE(sheet.isVisible());
}

} // namespace
