// Renders the application icon into PNG files of the usual theme sizes, for installing.
// Usage: render_icons <icon.svg> <output folder> <size>...
#include <QGuiApplication>
#include <QImage>
#include <QImageReader>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s icon.svg folder size...\n", argv[0]);
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QString svg = QString::fromLocal8Bit(argv[1]);
    const QString folder = QString::fromLocal8Bit(argv[2]);
    for (int i = 3; i < argc; ++i) {
        const int size = QString::fromLocal8Bit(argv[i]).toInt();
        QImageReader reader(svg, "svg");
        reader.setScaledSize(QSize(size, size));
        const QImage image = reader.read();
        const QString out = QStringLiteral("%1/quillmere-%2.png").arg(folder).arg(size);
        if (image.isNull() || !image.save(out, "PNG")) {
            std::fprintf(stderr, "could not render %s at %d\n", argv[1], size);
            return 1;
        }
    }
    return 0;
}
