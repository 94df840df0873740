#include "app/window_input.h"

#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QNativeGestureEvent>
#include <QUrl>

#include "commands/context_menu.h"
#include "commands/key_table.h"
#include "platform/keyboard_layout.h"

std::optional<Input> inputOf(const QEvent* event) {
    Input input;
    switch (event->type()) {
        case QEvent::KeyPress: {
            const auto* press = static_cast<const QKeyEvent*>(event);
            input.key = bindingKey(press->key(), usLetterAtScanCode(press->nativeScanCode()));
            input.modifiers = press->modifiers();
            return input;
        }
        case QEvent::MouseButtonPress:
            input.kind = Input::Kind::ButtonPress;
            break;
        case QEvent::MouseButtonDblClick:
            input.kind = Input::Kind::ButtonDoubleClick;
            break;
        case QEvent::MouseButtonRelease:
            input.kind = Input::Kind::ButtonRelease;
            break;
        case QEvent::MouseMove:
            input.kind = Input::Kind::Move;
            break;
        case QEvent::Wheel:
            input.kind = Input::Kind::Wheel;
            input.wheelDelta = static_cast<const QWheelEvent*>(event)->angleDelta().y();
            return input;
        default:
            return std::nullopt;
    }
    input.button = static_cast<const QMouseEvent*>(event)->button();
    return input;
}

std::optional<PinchZoom> pinchZoomOf(const QNativeGestureEvent& gesture, double& carried) {
    if (gesture.gestureType() == Qt::BeginNativeGesture ||
        gesture.gestureType() == Qt::EndNativeGesture)
        carried = 0.0;
    if (gesture.gestureType() != Qt::ZoomNativeGesture)
        return std::nullopt;
    return PinchZoom{pinchSteps(carried, gesture.value()), gesture.globalPosition()};
}

std::optional<std::filesystem::path> droppedFile(const QMimeData& data) {
    for (const QUrl& url : data.urls()) {
        if (url.isLocalFile()) {
            const QByteArray encoded = url.path(QUrl::FullyEncoded).toLatin1();
            return std::filesystem::path(QByteArray::fromPercentEncoding(encoded).toStdString());
        }
    }
    return std::nullopt;
}

void popUpContextMenu(QWidget* parent, QPoint at, const std::function<void(CommandId)>& run) {
    QMenu menu(parent);
    menu.setTitle(QString::fromUtf8(kContextMenuTitle));
    for (const MenuItem& item : contextMenuItems()) {
        if (item.command == ID_NONE) {
            menu.addSeparator();
            continue;
        }
        const CommandId command = item.command;
        QObject::connect(menu.addAction(QString::fromUtf8(item.text)), &QAction::triggered,
                         [&run, command] { run(command); });
    }
    menu.exec(at);
}
