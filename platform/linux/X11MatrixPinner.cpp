#include "platform/linux/OutputPinners.h"

#include "platform/Clock.h"

#include <QDebug>
#include <QSocketNotifier>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>
#include <X11/extensions/Xrandr.h>

#include <cstring>

namespace tl {

namespace {

// Errors of the X server arrive asynchronously; the handler records the last
// one for the request that is being checked (all on the GUI thread).
int g_lastXError = 0;
int recordXError(Display *, XErrorEvent *event)
{
    g_lastXError = event->error_code;
    return 0;
}

QString xErrorName(int code)
{
    switch (code) {
    case BadValue: return QStringLiteral("BadValue");
    case BadMatch: return QStringLiteral("BadMatch");
    case BadAtom: return QStringLiteral("BadAtom");
    case BadAccess: return QStringLiteral("BadAccess");
    default: return QStringLiteral("X error %1").arg(code);
    }
}

QString deviceNode(Display *dpy, int id)
{
    const Atom nodeAtom = XInternAtom(dpy, "Device Node", True);
    if (nodeAtom == None)
        return QString();
    Atom type = None;
    int format = 0;
    unsigned long items = 0, after = 0;
    unsigned char *data = nullptr;
    QString node;
    if (XIGetProperty(dpy, id, nodeAtom, 0, 1024, False, XA_STRING, &type, &format, &items, &after, &data) == Success) {
        if (type == XA_STRING && format == 8 && data)
            node = QString::fromLocal8Bit(reinterpret_cast<const char *>(data), int(items));
        if (data)
            XFree(data);
    }
    return node;
}

} // namespace

X11MatrixPinner::X11MatrixPinner(const char *displayName)
{
    m_display = XOpenDisplay(displayName);
    if (!m_display)
        return;
    int event = 0, error = 0;
    if (!XQueryExtension(m_display, "XInputExtension", &m_xiOpcode, &event, &error)) {
        m_xiOpcode = -1;
        return;
    }
    int major = 2, minor = 0;
    if (XIQueryVersion(m_display, &major, &minor) != Success) {
        m_xiOpcode = -1;
        return;
    }
    // Devices that come and go: the matrix is set again on every device the
    // server (re-)adds or enables.
    unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {};
    XISetMask(bits, XI_HierarchyChanged);
    XIEventMask mask{XIAllDevices, int(sizeof bits), bits};
    XISelectEvents(m_display, DefaultRootWindow(m_display), &mask, 1);
    XFlush(m_display);
    m_notifier = new QSocketNotifier(ConnectionNumber(m_display), QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &X11MatrixPinner::onXEvents);
}

X11MatrixPinner::~X11MatrixPinner()
{
    delete m_notifier;
    if (m_display)
        XCloseDisplay(m_display);
}

int X11MatrixPinner::findDevice(const QString &devnode, const QByteArray &name)
{
    if (!m_display || m_xiOpcode < 0)
        return -1;
    int count = 0;
    XIDeviceInfo *info = XIQueryDevice(m_display, XIAllDevices, &count);
    int found = -1;
    for (int i = 0; i < count && found < 0; ++i) {
        if (info[i].use == XIMasterPointer || info[i].use == XIMasterKeyboard)
            continue;
        if (!devnode.isEmpty() ? deviceNode(m_display, info[i].deviceid) == devnode
                               : name == QByteArray(info[i].name))
            found = info[i].deviceid;
    }
    if (info)
        XIFreeDeviceInfo(info);
    return found;
}

bool X11MatrixPinner::writeMatrix(int deviceId, const float *values, int count, QString *error)
{
    const Atom prop = XInternAtom(m_display, "Coordinate Transformation Matrix", False);
    const Atom floatAtom = XInternAtom(m_display, "FLOAT", False);
    // XI2 properties travel as packed 32-bit items (unlike core properties,
    // which Xlib hands over as longs).
    float data[9] = {};
    for (int i = 0; i < count && i < 9; ++i)
        data[i] = values[i];
    XSync(m_display, False);
    g_lastXError = 0;
    auto previous = XSetErrorHandler(recordXError);
    XIChangeProperty(m_display, deviceId, prop, floatAtom, 32, PropModeReplace,
                     reinterpret_cast<unsigned char *>(data), count);
    XSync(m_display, False);
    XSetErrorHandler(previous);
    if (g_lastXError) {
        if (error)
            *error = xErrorName(g_lastXError);
        return false;
    }
    return true;
}

QVector<float> X11MatrixPinner::readMatrix(const QString &devnode, const QByteArray &name)
{
    QVector<float> out;
    const int id = findDevice(devnode, name);
    if (id < 0)
        return out;
    const Atom prop = XInternAtom(m_display, "Coordinate Transformation Matrix", True);
    if (prop == None)
        return out;
    Atom type = None;
    int format = 0;
    unsigned long items = 0, after = 0;
    unsigned char *data = nullptr;
    if (XIGetProperty(m_display, id, prop, 0, 9, False, AnyPropertyType, &type, &format, &items, &after, &data) ==
            Success &&
        format == 32 && data) {
        for (unsigned long i = 0; i < items; ++i) {
            float f = 0;
            std::memcpy(&f, data + 4 * i, sizeof f);
            out.append(f);
        }
    }
    if (data)
        XFree(data);
    return out;
}

bool X11MatrixPinner::outputTransform(const QRect &area, int *transform, QString *error)
{
    *transform = 0;
    int event = 0, err = 0;
    if (!XRRQueryExtension(m_display, &event, &err))
        return true;  // no RandR: one unturned screen
    XRRScreenResources *res = XRRGetScreenResourcesCurrent(m_display, DefaultRootWindow(m_display));
    if (!res)
        return true;
    // The lit CRTCs inside the device's area; their rotation turns the matrix
    // as xinput map-to-output turns it.
    int inside = 0, turned = 0, bits = 1;
    for (int i = 0; i < res->ncrtc; ++i) {
        XRRCrtcInfo *crtc = XRRGetCrtcInfo(m_display, res, res->crtcs[i]);
        if (!crtc)
            continue;
        const QRect r(crtc->x, crtc->y, int(crtc->width), int(crtc->height));
        if (crtc->mode != None && !r.isEmpty() && area.contains(r)) {
            ++inside;
            if (r == area)
                bits = crtc->rotation;
            if (transformFromRandr(crtc->rotation) != 0)
                ++turned;
        }
        XRRFreeCrtcInfo(crtc);
    }
    XRRFreeScreenResources(res);
    if (inside > 1 && turned > 0) {
        *error = QStringLiteral("one device cannot span a turned output and another");
        return false;
    }
    *transform = transformFromRandr(bits);
    return true;
}

PinResult X11MatrixPinner::apply(const PinRequest &request)
{
    PinResult result;
    const int id = findDevice(request.devnode, request.name);
    if (id < 0) {
        result.error = QStringLiteral("the X server has no device %1").arg(request.devnode);
        return result;
    }
    int transform = 0;
    if (!outputTransform(request.area, &transform, &result.error))
        return result;
    const Screen *screen = DefaultScreenOfDisplay(m_display);
    const auto m = coordinateMatrix(request.area, QSize(WidthOfScreen(screen), HeightOfScreen(screen)), transform);
    QString error;
    if (!writeMatrix(id, m.data(), 9, &error)) {
        result.error = QStringLiteral("Coordinate Transformation Matrix refused: %1").arg(error);
        return result;
    }
    // Read back: another client (a desktop's own input mapper) may hold the
    // property, or the server may have kept something else.
    const QVector<float> back = readMatrix(request.devnode, request.name);
    bool same = back.size() == 9;
    for (int i = 0; same && i < 9; ++i)
        same = back[i] == m[size_t(i)];
    if (!same) {
        result.error = QStringLiteral("the server kept another Coordinate Transformation Matrix");
        return result;
    }
    result.ok = true;
    result.transform = transform;
    return result;
}

PinResult X11MatrixPinner::pin(const PinRequest &request)
{
    PinResult result;
    if (!m_display || m_xiOpcode < 0) {
        result.error = QStringLiteral("no X server with XInput 2");
        return result;
    }
    // The server adds a new uinput device a moment after it was created.
    for (int attempt = 0; attempt < 20; ++attempt) {
        result = apply(request);
        if (result.ok || findDevice(request.devnode, request.name) >= 0)
            break;
        Clock::sleepMs(100);
    }
    for (int i = 0; i < m_kept.size(); ++i)
        if (m_kept[i].devnode == request.devnode && m_kept[i].name == request.name)
            m_kept.removeAt(i--);
    if (result.ok)
        m_kept.append(request);
    return result;
}

void X11MatrixPinner::onXEvents()
{
    bool reapply = false;
    while (XPending(m_display)) {
        XEvent ev;
        XNextEvent(m_display, &ev);
        XGenericEventCookie *cookie = &ev.xcookie;
        if (cookie->type == GenericEvent && cookie->extension == m_xiOpcode && XGetEventData(m_display, cookie)) {
            if (cookie->evtype == XI_HierarchyChanged) {
                auto *h = static_cast<XIHierarchyEvent *>(cookie->data);
                reapply = reapply || (h->flags & (XISlaveAdded | XIDeviceEnabled | XISlaveAttached));
            }
            XFreeEventData(m_display, cookie);
        }
    }
    if (!reapply)
        return;
    for (const PinRequest &r : m_kept) {
        const PinResult res = apply(r);
        qDebug() << "X11MatrixPinner: device change, matrix of" << r.name << "set again:"
                 << (res.ok ? QStringLiteral("ok") : res.error);
    }
}

} // namespace tl
