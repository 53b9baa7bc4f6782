#include <QCoreApplication>
#include <gtest/gtest.h>

// One Qt application object for the whole test executable: coroutines, timers and
// network replies all need its event loop.
int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QCoreApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
