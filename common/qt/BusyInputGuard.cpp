#include "common/qt/BusyInputGuard.h"

#include <QCoreApplication>
#include <utility>

namespace common::qt {

bool IsUserInput(QEvent::Type type) {
    switch (type) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::NonClientAreaMouseButtonPress:
    case QEvent::NonClientAreaMouseButtonRelease:
    case QEvent::NonClientAreaMouseButtonDblClick:
    case QEvent::Wheel:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::Shortcut:
    case QEvent::ContextMenu:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::TabletPress:
    case QEvent::TabletRelease:
    case QEvent::InputMethod:
    case QEvent::Drop:
        return true;
    default:
        return false;
    }
}

BusyInputGuard::BusyInputGuard(Decision swallows) : swallows_(std::move(swallows)) {}

BusyInputGuard::~BusyInputGuard() {
    if (engaged_ && QCoreApplication::instance() != nullptr)
        QCoreApplication::instance()->removeEventFilter(this);
}

void BusyInputGuard::Engage() {
    if (engaged_) return;
    QCoreApplication::instance()->installEventFilter(this);
    engaged_ = true;
}

void BusyInputGuard::Release() {
    if (!engaged_) return;
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    QCoreApplication::instance()->removeEventFilter(this);
    engaged_ = false;
}

bool BusyInputGuard::eventFilter(QObject* watched, QEvent* event) {
    if (!engaged_ || !IsUserInput(event->type())) return false;
    return !swallows_ || swallows_(watched, event);
}

} // namespace common::qt
