#pragma once

#include <QImage>
#include <QRectF>
#include <QSizeF>

#include <functional>
#include <string>

class QPaintDevice;

// Opens a new non-modal print dialog, belonging to the viewer, for the file at these native
// path bytes; the job carries the file's name. When the user accepts it, the picture is made
// by the print source on a worker (offThread) and printed on one page. Nothing waits and
// nothing is reported. Needs a QApplication.
void startPrintJob(const std::string& nativePath);

// How a file's picture is made for printing: the viewer's own decoders, upright as the screen
// shows it after a reload. Until one is set, Qt's readers are used.
using PrintPictureSource = std::function<QImage(const std::string& nativePath)>;
void setPrintPictureSource(PrintPictureSource source);

// Paints the file's picture fitted and centred on device (a printer's page). Returns false
// when there is nothing to print: the picture doesn't decode, or the device can't be painted.
bool printPictureOn(QPaintDevice& device, const std::string& nativePath);
bool printPictureOn(QPaintDevice& device, const QImage& picture);

// The largest rectangle of the picture's aspect ratio inside the page, centred on it. Empty
// when the picture or the page has no area.
QRectF fitCentred(QSizeF picture, QRectF page);
