#include <QApplication>

#include <gtest/gtest.h>

// GUI tests run the real widgets, so they need an application object; the test command sets
// QT_QPA_PLATFORM=offscreen so that no display is needed.
int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
