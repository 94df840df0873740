#include "platform/open_with_chooser.h"

#include <memory>
#include <vector>

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFile>
#include <QIcon>
#include <QLabel>
#include <QListWidget>
#include <QLoggingCategory>
#include <QMimeDatabase>
#include <QPushButton>
#include <QRegularExpression>
#include <QVBoxLayout>

#include "platform/desktop_entry.h"
#include "platform/detached_spawn.h"
#include "platform/dialog_owner.h"
#include "platform/file_system_probe.h"
#include "platform/off_thread.h"
#include "platform/regular_qfile.h"

Q_LOGGING_CATEGORY(lcOpenWith, "quillmere.platform.openwith", QtInfoMsg)

namespace {

constexpr QSize kChooserSize(420, 480);

// The file's type by content where it is a regular file that can be read, else by its name
// alone. The path is opened by its bytes, which a QString round trip could alter.
QMimeType mimeTypeOf(const std::string& nativePath, const QString& name) {
    QMimeDatabase database;
    QFile file;
    if (openRegularFile(nativePath, file)) {
        noteFileSystemCall(FileSystemCall::Read, nullptr);
        return database.mimeTypeForFileNameAndData(name, &file);
    }
    return database.mimeTypeForFile(name, QMimeDatabase::MatchExtension);
}

// An application that declares a type's alias or one of its parents opens it too.
QStringList acceptedTypes(const QMimeType& type) {
    QStringList types{type.name()};
    types << type.aliases() << type.allAncestors();
    return types;
}

void launch(const DesktopEntry& entry, const std::string& nativePath) {
    const auto argv = expandExec(entry, nativePath);
    if (!argv || !spawnDetached(*argv)) {
        qCDebug(lcOpenWith) << "could not start" << entry.id.c_str();
    }
}

}  // namespace

QStringList chooserNames(const std::vector<DesktopEntry>& apps) {
    QStringList names;
    for (const DesktopEntry& app : apps)
        names << (app.name.isEmpty() ? QString::fromStdString(app.id) : app.name);
    // Two programs that call themselves alike ("Image Viewer") are told apart by their ids.
    QStringList shown;
    for (qsizetype i = 0; i < names.size(); ++i) {
        const DesktopEntry& app = apps[static_cast<size_t>(i)];
        QString id = QString::fromStdString(app.id);
        id.remove(QRegularExpression(QStringLiteral("\\.desktop$")));
        shown << (names.count(names[i]) > 1 && !app.name.isEmpty()
                      ? QStringLiteral("%1 (%2)").arg(names[i], id)
                      : names[i]);
    }
    return shown;
}

ChooserOffer chooserOffer(const std::string& nativePath) {
    ChooserOffer offer;
    const auto slash = nativePath.rfind('/');
    offer.name = QFile::decodeName(QByteArray::fromStdString(
        slash == std::string::npos ? nativePath : nativePath.substr(slash + 1)));
    offer.type = mimeTypeOf(nativePath, offer.name);
    offer.apps = findApplications(applicationDirs(), acceptedTypes(offer.type));
    return offer;
}

namespace {

void openChooser(const std::string& nativePath, ChooserOffer offer) {
    const QString& name = offer.name;
    const QMimeType& type = offer.type;
    auto apps = std::make_shared<std::vector<DesktopEntry>>(std::move(offer.apps));

    auto* chooser = new QDialog(dialogOwner());
    chooser->setAttribute(Qt::WA_DeleteOnClose);
    chooser->setWindowTitle(QStringLiteral("Open With"));
    auto* prompt = new QLabel(
        apps->empty() ? QStringLiteral("No installed application opens files of the type \"%1\".")
                            .arg(type.comment())
                      : QStringLiteral("Choose the program to open \"%1\" with:").arg(name));
    prompt->setTextFormat(Qt::PlainText);
    prompt->setWordWrap(true);

    auto* list = new QListWidget;
    for (const QString& shown : chooserNames(*apps))
        list->addItem(new QListWidgetItem(
            QIcon::fromTheme((*apps)[static_cast<size_t>(list->count())].icon), shown));
    list->setCurrentRow(0);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Open | QDialogButtonBox::Cancel);
    buttons->button(QDialogButtonBox::Open)->setEnabled(!apps->empty());
    const auto openChosen = [chooser, list, apps, nativePath] {
        const int row = list->currentRow();
        if (row >= 0 && row < static_cast<int>(apps->size())) {
            launch((*apps)[static_cast<std::size_t>(row)], nativePath);
        }
        chooser->close();
    };
    QObject::connect(buttons, &QDialogButtonBox::accepted, chooser, openChosen);
    QObject::connect(list, &QListWidget::itemActivated, chooser, openChosen);
    QObject::connect(buttons, &QDialogButtonBox::rejected, chooser, &QDialog::close);

    auto* layout = new QVBoxLayout(chooser);
    layout->addWidget(prompt);
    layout->addWidget(list);
    layout->addWidget(buttons);
    chooser->resize(kChooserSize);
    chooser->show();
}

}  // namespace

void showOpenWithChooser(const std::string& nativePath) {
    // The file's type is read where the file system may take its time; the chooser follows.
    offThread(qApp, [nativePath]() -> Then {
        auto offer = std::make_shared<ChooserOffer>(chooserOffer(nativePath));
        return [nativePath, offer] { openChooser(nativePath, std::move(*offer)); };
    });
}
