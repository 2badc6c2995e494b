#include "platform/linux/X11CompanionReceiver.h"

#include "platform/linux/X11CompanionLink.h"

#include <QCoreApplication>
#include <QDebug>

#include <xcb/xcb.h>

namespace tl {

X11CompanionReceiver::X11CompanionReceiver(X11CompanionLink *link, WindowHandle ownWindow, QObject *parent)
    : QObject(parent), m_link(link), m_window(ownWindow)
{
    QCoreApplication::instance()->installNativeEventFilter(this);
}

X11CompanionReceiver::~X11CompanionReceiver()
{
    if (QCoreApplication::instance())
        QCoreApplication::instance()->removeNativeEventFilter(this);
}

bool X11CompanionReceiver::nativeEventFilter(const QByteArray &eventType, void *message, long *)
{
    if (eventType != "xcb_generic_event_t" || !message)
        return false;
    const auto *generic = static_cast<const xcb_generic_event_t *>(message);
    if ((generic->response_type & 0x7F) != XCB_CLIENT_MESSAGE)
        return false;
    const auto *event = static_cast<const xcb_client_message_event_t *>(message);
    if (event->window != m_window)
        return false;

    const X11CompanionLink::Received r = m_link->decode(event);
    switch (r.kind) {
    case X11CompanionLink::Received::Kind::NotOurs:
        qDebug() << "X11CompanionReceiver: client message" << m_link->atomName(event->type)
                 << "is not a companion message; left to the toolkit";
        return false;
    case X11CompanionLink::Received::Kind::Malformed:
        qDebug() << "X11CompanionReceiver: companion message ignored:" << r.problem;
        return true;
    case X11CompanionLink::Received::Kind::RunningApp:
        // The window id comes from another program: it may be gone already, or
        // never have existed. Such a target would receive nothing.
        if (r.first != 0 && !m_link->windowExists(r.first)) {
            qDebug() << "X11CompanionReceiver: running-app message names window" << r.first
                     << "which does not exist; ignored";
            return true;
        }
        emit runningApp(r.first, r.second);
        return true;
    case X11CompanionLink::Received::Kind::IntelApp:
        emit intelApp(r.first, r.second);
        return true;
    }
    return false;
}

} // namespace tl
