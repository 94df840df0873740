#include <QApplication>
#include <QScreen>

#include <gtest/gtest.h>

#include <cstdio>

namespace {

// A run made for another screen names it (QUILLMERE_TEST_SCREEN=3840x2160 in logical pixels,
// QUILLMERE_TEST_SCALE=2): a platform that gave a different one would pass every test on the
// wrong screen, so the run fails instead.
bool onTheScreenAskedFor() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    const QByteArray size = qgetenv("QUILLMERE_TEST_SCREEN");
    const QByteArray scale = qgetenv("QUILLMERE_TEST_SCALE");
    if (size.isEmpty() && scale.isEmpty())
        return true;
    const QByteArray actualSize = screen ? QByteArray::number(screen->size().width()) + 'x' +
                                               QByteArray::number(screen->size().height())
                                         : QByteArray("none");
    const QByteArray actualScale =
        screen ? QByteArray::number(screen->devicePixelRatio()) : QByteArray("none");
    if ((size.isEmpty() || size == actualSize) && (scale.isEmpty() || scale == actualScale))
        return true;
    std::fprintf(stderr, "asked for a screen of %s at scale %s, got %s at scale %s\n",
                 size.isEmpty() ? "any size" : size.constData(),
                 scale.isEmpty() ? "any" : scale.constData(), actualSize.constData(),
                 actualScale.constData());
    return false;
}

}  // namespace

// GUI tests run the real widgets, so they need an application object; the test command sets
// QT_QPA_PLATFORM=offscreen so that no display is needed.
int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (!onTheScreenAskedFor())
        return 1;
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
