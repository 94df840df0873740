#include "platform/properties_window.h"

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLocale>
#include <QVBoxLayout>

#include "platform/dialog_owner.h"
#include "platform/file_facts.h"
#include "platform/off_thread.h"

namespace {

QString orUnknown(const QString& text) {
    return text.isEmpty() ? QStringLiteral("-") : text;
}

void addRow(QFormLayout* form, const QString& label, const QString& value) {
    auto* valueLabel = new QLabel(orUnknown(value));
    valueLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    valueLabel->setTextFormat(Qt::PlainText);  // a file name is never markup
    form->addRow(label, valueLabel);
}

void openPropertiesWindow(const FileFacts& facts) {
    auto* window = new QDialog(dialogOwner());
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->setWindowTitle(QStringLiteral("%1 Properties").arg(facts.name));

    auto* form = new QFormLayout;
    addRow(form, QStringLiteral("Name:"), facts.name);
    addRow(form, QStringLiteral("Folder:"), facts.folder);
    addRow(form, QStringLiteral("Size:"),
           facts.sizeBytes ? describeSize(*facts.sizeBytes) : QString());
    addRow(form, QStringLiteral("Modified:"),
           facts.modified.isValid() ? QLocale().toString(facts.modified, QLocale::LongFormat)
                                    : QString());
    addRow(form, QStringLiteral("Dimensions:"),
           facts.pixelSize.isValid() ? QStringLiteral("%1 x %2 pixels")
                                           .arg(facts.pixelSize.width())
                                           .arg(facts.pixelSize.height())
                                     : QString());
    addRow(form, QStringLiteral("Type:"), facts.typeName);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close);
    QObject::connect(buttons, &QDialogButtonBox::rejected, window, &QDialog::close);
    auto* layout = new QVBoxLayout(window);
    layout->addLayout(form);
    layout->addWidget(buttons);
    window->show();
}

}  // namespace

void showPropertiesWindow(const std::string& nativePath) {
    // The facts are read where the file system may take its time; the window follows them.
    offThread(qApp, [nativePath]() -> Then {
        return [facts = readFileFacts(nativePath)] { openPropertiesWindow(facts); };
    });
}
