#include "Typography.h"
#include "shell/InstanceChild.h"

#include <QApplication>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    orvane::Typography::pinApplicationFont();
    if (qEnvironmentVariableIsSet(orvane::test::kInstanceFolderVariable)) {
        return orvane::test::runInstanceChild();
    }
    return RUN_ALL_TESTS();
}
