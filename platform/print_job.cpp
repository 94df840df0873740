#include "platform/print_job.h"

#include <QApplication>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QLoggingCategory>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>

#include "platform/dialog_owner.h"
#include "platform/file_system_probe.h"
#include "platform/off_thread.h"
#include "platform/regular_qfile.h"

Q_LOGGING_CATEGORY(lcPrint, "quillmere.platform.print", QtInfoMsg)

namespace {

// Qt's readers, for a process that has not set a source of its own; only a regular file is
// read, so a FIFO under a picture's name prints nothing at once.
QImage decodeWithQt(const std::string& nativePath) {
    QFile file;
    if (!openRegularFile(nativePath, file)) {
        return {};
    }
    QImageReader reader(&file);
    reader.setDecideFormatFromContent(true);
    reader.setAutoTransform(true);
    noteFileSystemCall(FileSystemCall::Read, nullptr);
    return reader.read();
}

PrintPictureSource& pictureSource() {
    static PrintPictureSource source = decodeWithQt;
    return source;
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

void setPrintPictureSource(PrintPictureSource source) {
    pictureSource() = source ? std::move(source) : PrintPictureSource(decodeWithQt);
}

bool printPictureOn(QPaintDevice& device, const std::string& nativePath) {
    return printPictureOn(device, pictureSource()(nativePath));
}

bool printPictureOn(QPaintDevice& device, const QImage& picture) {
    if (picture.isNull()) {
        qCDebug(lcPrint) << "nothing to print, the picture does not decode";
        return false;
    }
    QPainter painter;
    if (!painter.begin(&device)) {
        qCDebug(lcPrint) << "the printer did not start";
        return false;
    }
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    const QRectF target = fitCentred(picture.size(), QRectF(painter.viewport()));
    if (!target.isEmpty()) {
        painter.drawImage(target, picture);
    }
    painter.end();
    return true;
}

void startPrintJob(const std::string& nativePath) {
    // The job keeps the printer from the dialog to the page: the picture is decoded after the
    // dialog has closed, where the file system may take its time.
    auto* job = new QObject(qApp);
    auto* printer = new QPrinter(QPrinter::HighResolution);
    QObject::connect(job, &QObject::destroyed, [printer] { delete printer; });
    const auto slash = nativePath.rfind('/');
    printer->setDocName(QFile::decodeName(QByteArray::fromStdString(
        slash == std::string::npos ? nativePath : nativePath.substr(slash + 1))));
    auto* dialog = new QPrintDialog(printer, dialogOwner());
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    QObject::connect(dialog, &QDialog::rejected, job, &QObject::deleteLater);
    QObject::connect(dialog, &QDialog::accepted, job, [job, printer, nativePath] {
        offThread(job, [job, printer, nativePath]() -> Then {
            QImage picture = pictureSource()(nativePath);
            return [job, printer, picture = std::move(picture)] {
                printPictureOn(*printer, picture);
                job->deleteLater();
            };
        });
    });
    dialog->open();
}
