#include "app/delete_confirmation.h"

#include <QMessageBox>

namespace {

constexpr char kConfirmCaption[] = "Please Confirm";
constexpr char kConfirmText[] = "This will permanently delete current image. Are you sure?";

}  // namespace

bool confirmDeletion(QWidget* parent) {
    QMessageBox box(QMessageBox::Question, QString::fromUtf8(kConfirmCaption),
                    QString::fromUtf8(kConfirmText), QMessageBox::Yes | QMessageBox::No, parent);
    box.setDefaultButton(QMessageBox::Yes);
    return box.exec() == QMessageBox::Yes;
}
