#include "app/about_dialog.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QIcon>
#include <QLabel>

#include "resources/product.h"

AboutDialog::AboutDialog(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QString::fromUtf8(product::kAboutTitle));
    setModal(true);

    auto* icon = new QLabel(this);
    icon->setPixmap(QIcon(QString::fromUtf8(product::kIconResource)).pixmap(32, 32));
    auto* version = new QLabel(QString::fromUtf8(product::kVersionLine), this);
    version->setTextFormat(Qt::PlainText);
    auto* second = new QLabel(QString::fromUtf8(product::kAboutSecondLine), this);
    second->setTextFormat(Qt::PlainText);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

    auto* layout = new QGridLayout(this);
    layout->addWidget(icon, 0, 0, 2, 1, Qt::AlignTop);
    layout->addWidget(version, 0, 1);
    layout->addWidget(second, 1, 1);
    layout->addWidget(buttons, 2, 0, 1, 2);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}
