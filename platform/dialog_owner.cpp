#include "platform/dialog_owner.h"

#include <QApplication>

QWidget* dialogOwner() {
    if (QWidget* modal = QApplication::activeModalWidget())
        return modal;
    return QApplication::activeWindow();
}
