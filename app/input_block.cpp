#include "input_block.h"

#include <QEvent>

namespace fwprep::app {

namespace {

bool isUserInput(QEvent::Type type)
{
    switch (type) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::Shortcut:
    case QEvent::InputMethod:
    case QEvent::Wheel:
    case QEvent::ContextMenu:
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::TabletPress:
    case QEvent::TabletRelease:
        return true;
    default:
        return false;
    }
}

} // namespace

void InputBlock::block(const std::vector<QWidget*>& windows)
{
    unblock();
    for (QWidget* window : windows) {
        if (!window)
            continue;
        // Input goes to the control under the mouse or with the focus, so
        // every control is watched, not only its window.
        blocked_.emplace_back(window);
        for (QWidget* child : window->findChildren<QWidget*>()) {
            if (!child->isWindow())
                blocked_.emplace_back(child);
        }
    }
    for (const auto& widget : blocked_)
        widget->installEventFilter(this);
}

void InputBlock::unblock()
{
    for (const auto& widget : blocked_) {
        if (widget)
            widget->removeEventFilter(this);
    }
    blocked_.clear();
}

bool InputBlock::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::Close) {
        event->ignore();
        return true;
    }
    if (isUserInput(event->type()))
        return true;
    return QObject::eventFilter(watched, event);
}

} // namespace fwprep::app
