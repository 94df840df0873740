#pragma once

#include <string>

#include <QRectF>
#include <QSizeF>

// Opens a new non-modal print dialog for the file at these native path bytes; when the user
// accepts it, the picture is decoded upright and printed on one page. Nothing waits and
// nothing is reported. Needs a QApplication.
void startPrintJob(const std::string& nativePath);

// The largest rectangle of the picture's aspect ratio inside the page, centred on it. Empty
// when the picture or the page has no area.
QRectF fitCentred(QSizeF picture, QRectF page);
