#include <QApplication>
#include <QScreen>

#include <gtest/gtest.h>

#include <cstdio>

// GUI tests run the real widgets, so they need an application object; the test command sets
// QT_QPA_PLATFORM=offscreen so that no display is needed. A run made for another screen names
// it (QUILLMERE_TEST_SCREEN=3840x2160 in logical pixels, QUILLMERE_TEST_SCALE=2) and fails on
// any other, rather than pass every test on the wrong one.
int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QScreen* screen = QGuiApplication::primaryScreen();
    const QString size =
        screen ? QStringLiteral("%1x%2").arg(screen->size().width()).arg(screen->size().height())
               : QString();
    const QString scale = screen ? QString::number(screen->devicePixelRatio()) : QString();
    if (qEnvironmentVariable("QUILLMERE_TEST_SCREEN", size) != size ||
        qEnvironmentVariable("QUILLMERE_TEST_SCALE", scale) != scale) {
        std::fprintf(stderr, "not the screen asked for: %s at scale %s\n", qPrintable(size),
                     qPrintable(scale));
        return 1;
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
