// The desktop shell on freedesktop.org desktops: the XDG desktop portal for Open With, the
// file manager's D-Bus interface for properties, and windows of our own where neither exists.

#include <unistd.h>

#include <QByteArray>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusUnixFileDescriptor>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QLoggingCategory>
#include <QUrl>
#include <QVariantMap>

#include <optional>

#include "platform/desktop_entry.h"
#include "platform/off_thread.h"
#include "platform/open_with_chooser.h"
#include "platform/print_job.h"
#include "platform/properties_window.h"
#include "platform/regular_file.h"
#include "platform/shell.h"

Q_LOGGING_CATEGORY(lcShell, "quillmere.platform.shell", QtInfoMsg)

namespace {

// Sends the call without waiting; when it fails (no such service, not activatable, refused)
// the fallback runs instead. Success needs nothing more: the service shows its own window.
template <typename Fallback>
void callOrFallBack(const QDBusMessage& call, Fallback fallback) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        fallback();
        return;
    }
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), qApp);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher,
                     [fallback](QDBusPendingCallWatcher* finished) {
                         if (finished->isError()) {
                             qCDebug(lcShell) << "falling back:" << finished->error().message();
                             fallback();
                         }
                         finished->deleteLater();
                     });
}

void callPortal(const std::string& nativePath, int fd) {
    const auto fallback = [nativePath] { showOpenWithChooser(nativePath); };
    if (fd < 0) {
        fallback();
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.portal.Desktop"),
        QStringLiteral("/org/freedesktop/portal/desktop"),
        QStringLiteral("org.freedesktop.portal.OpenURI"), QStringLiteral("OpenFile"));
    // The descriptor object holds its own duplicate.
    call << QString() << QVariant::fromValue(QDBusUnixFileDescriptor(fd))
         << QVariantMap{{QStringLiteral("ask"), true}};
    ::close(fd);
    callOrFallBack(call, fallback);
}

void openWithPortal(const std::string& nativePath) {
    // The portal takes the file as a descriptor, which also spares it the path's encoding.
    // Only a regular file is handed over; anything else goes to our chooser, which names its
    // type by the file's name alone. The file is opened where the file system may take its time.
    const bool canPassFd = QDBusConnection::sessionBus().connectionCapabilities() &
                           QDBusConnection::UnixFileDescriptorPassing;
    if (!canPassFd) {
        showOpenWithChooser(nativePath);
        return;
    }
    offThread(qApp, [nativePath]() -> Then {
        std::optional<RegularFile> file = RegularFile::open(nativePath);
        const int fd = file ? file->release() : -1;
        return [nativePath, fd] { callPortal(nativePath, fd); };
    });
}

void showProperties(const std::string& nativePath) {
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"),
        QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItemProperties"));
    call << QStringList{QString::fromLatin1(fileUrlFromNativePath(nativePath))} << QString();
    callOrFallBack(call, [nativePath] { showPropertiesWindow(nativePath); });
}

// A target with a scheme is a URL; anything else is taken as a local path.
void openUrl(const std::string& target) {
    QUrl url = QUrl::fromEncoded(QByteArray::fromStdString(target), QUrl::StrictMode);
    if (!url.isValid() || url.scheme().isEmpty()) {
        url = QUrl::fromEncoded(QByteArray::fromStdString(fileUrlFromNativePath(target)));
    }
    QDesktopServices::openUrl(url);
}

class FreedesktopShellBackend final : public ShellBackend {
  public:
    void execute(const ShellRequest&, const ShellIntent& intent) override {
        switch (intent.action) {
            case ShellAction::OpenUrl:
                openUrl(intent.target);
                break;
            case ShellAction::OpenWith:
                openWithPortal(intent.target);
                break;
            case ShellAction::ShowProperties:
                showProperties(intent.target);
                break;
            case ShellAction::Print:
                startPrintJob(intent.target);
                break;
            case ShellAction::None:
                qCDebug(lcShell) << "request not understood";
                break;
        }
    }
};

}  // namespace

ShellBackend& systemShellBackend() {
    static FreedesktopShellBackend backend;
    return backend;
}

std::string shellPathString(const std::filesystem::path& path) {
    return path.native();
}
