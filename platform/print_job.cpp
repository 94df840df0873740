#include "platform/print_job.h"

#include <fcntl.h>
#include <unistd.h>

#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QLoggingCategory>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>

Q_LOGGING_CATEGORY(lcPrint, "quillmere.platform.print", QtInfoMsg)

namespace {

// Upright as the viewer shows it. The path is opened by its bytes, which a QString round trip
// could alter; Qt's reader keeps its own limit on how much a picture may allocate.
QImage decodeUpright(const std::string& nativePath) {
    const int fd = ::open(nativePath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return {};
    }
    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return {};
    }
    QImageReader reader(&file);
    reader.setDecideFormatFromContent(true);
    reader.setAutoTransform(true);
    return reader.read();
}

void printPicture(QPrinter& printer, const std::string& nativePath) {
    const QImage picture = decodeUpright(nativePath);
    if (picture.isNull()) {
        qCDebug(lcPrint) << "nothing to print, the picture does not decode";
        return;
    }
    QPainter painter;
    if (!painter.begin(&printer)) {
        qCDebug(lcPrint) << "the printer did not start";
        return;
    }
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    const QRectF target = fitCentred(picture.size(), QRectF(painter.viewport()));
    if (!target.isEmpty()) {
        painter.drawImage(target, picture);
    }
    painter.end();
}

}  // namespace

QRectF fitCentred(QSizeF picture, QRectF page) {
    if (picture.isEmpty() || page.isEmpty()) {
        return {};
    }
    const QSizeF fitted = picture.scaled(page.size(), Qt::KeepAspectRatio);
    QRectF target(QPointF(), fitted);
    target.moveCenter(page.center());
    return target;
}

void startPrintJob(const std::string& nativePath) {
    // The printer must outlive the dialog that configures it; both go when the dialog closes.
    auto* printer = new QPrinter(QPrinter::HighResolution);
    auto* dialog = new QPrintDialog(printer);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    QObject::connect(dialog, &QDialog::accepted, dialog,
                     [printer, nativePath] { printPicture(*printer, nativePath); });
    QObject::connect(dialog, &QObject::destroyed, dialog, [printer] { delete printer; });
    dialog->open();
}
