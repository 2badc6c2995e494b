// The XTest pointer against a real Xorg (dummy video driver) whose screen is
// larger than its monitors: xrandr sets two outputs and a framebuffer beyond
// them, as a desktop does whose monitors leave part of the X screen unshown.
// The monitors are read back from the server (RandR, what Qt's xcb plugin
// builds its screens from), the injector drives the pointer through XTest,
// and the server says where the pointer went.
#include "Compositor.h"
#include "XorgDummy.h"

#include "input/InputInjection.h"
#include "platform/Clock.h"
#include "platform/Screens.h"
#include "platform/fake/FixedScreens.h"
#include "platform/linux/XTestMouseBackend.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>

namespace {

// The server's monitors (RandR 1.5), in its order.
QList<tl::MonitorInfo> serverMonitors(Display *dpy)
{
    QList<tl::MonitorInfo> list;
    int n = 0;
    XRRMonitorInfo *m = XRRGetMonitors(dpy, DefaultRootWindow(dpy), True, &n);
    for (int i = 0; i < n; ++i) {
        tl::MonitorInfo info(QRect(m[i].x, m[i].y, m[i].width, m[i].height), 96, m[i].primary != 0);
        char *name = XGetAtomName(dpy, m[i].name);
        info.name = QString::fromLatin1(name);
        XFree(name);
        list.append(info);
    }
    XRRFreeMonitors(m);
    return list;
}

QPoint pointerAt(Display *dpy)
{
    Window root = 0, child = 0;
    int rx = -1, ry = -1, wx = 0, wy = 0;
    unsigned int mask = 0;
    XQueryPointer(dpy, DefaultRootWindow(dpy), &root, &child, &rx, &ry, &wx, &wy, &mask);
    return QPoint(rx, ry);
}

std::vector<uint8_t> record(int x, int y)
{
    return {uint8_t(x), uint8_t(x >> 8), uint8_t(y), uint8_t(y >> 8), 100, 0};
}

// No input devices of the server's own: the test's pointer is XTest's.
const char kInputSections[] = R"(Section "ServerFlags"
  Option "AutoAddDevices" "false"
  Option "AutoEnableDevices" "false"
EndSection
)";

} // namespace

TEST(RealXorg, TheXTestPointerLandsOnTheBoardMonitorOfAScreenLargerThanItsMonitors)
{
    const QString xorg = Compositor::find(QStringLiteral("Xorg"));
    const QString xrandr = Compositor::find(QStringLiteral("xrandr"));
    if (xorg.isEmpty() || xrandr.isEmpty() || !QFile::exists(QStringLiteral("/usr/lib/xorg/modules/drivers/dummy_drv.so")))
        GTEST_SKIP() << "needs Xorg and xrandr with the dummy video driver (Debian packages xserver-xorg-core "
                        "xserver-xorg-video-dummy x11-xserver-utils; tools/setup.sh --tests installs them)";
    const QString server = QFile::exists(QStringLiteral("/usr/lib/xorg/Xorg")) ? QStringLiteral("/usr/lib/xorg/Xorg")
                                                                                : xorg;
    QTemporaryDir tmp(QStringLiteral("/tmp/tl-xorg-pointer-XXXXXX"));
    ASSERT_TRUE(tmp.isValid());
    const QString dir = tmp.path();
    {
        QFile conf(dir + "/xorg.conf");
        ASSERT_TRUE(conf.open(QIODevice::WriteOnly));
        conf.write(xorgdummy::config("3600 1400", kInputSections));
    }
    const QByteArray display = xorgdummy::freeDisplay(160);
    Compositor x;
    ASSERT_TRUE(x.start({server, QString::fromLatin1(display), "-noreset", "-nolisten", "tcp", "-config",
                         dir + "/xorg.conf", "-logfile", dir + "/Xorg.log"}));
    Display *dpy = xorgdummy::waitForDisplay(x, display);
    ASSERT_NE(dpy, nullptr) << x.log().toStdString();

    // A 1920x1080 monitor and the board's 1280x800 to its right, on an X
    // screen of 3600x1400: the right and bottom of the screen are on no monitor.
    QString out;
    ASSERT_TRUE(xorgdummy::setTwoOutputs(xrandr, display, "3600x1400", "1920x1080", "1280x800", true, &out))
        << out.toStdString();
    XSync(dpy, False);
    const QList<tl::MonitorInfo> monitors = serverMonitors(dpy);
    ASSERT_EQ(monitors.size(), 2) << "the server's monitors";
    ASSERT_EQ(monitors[1].geometry, QRect(1920, 0, 1280, 800));
    {
        Window root = 0;
        int rx = 0, ry = 0;
        unsigned int w = 0, h = 0, border = 0, depth = 0;
        XGetGeometry(dpy, DefaultRootWindow(dpy), &root, &rx, &ry, &w, &h, &border, &depth);
        ASSERT_EQ(QSize(int(w), int(h)), QSize(3600, 1400)) << "the X screen";
    }
    tl::FixedScreens::install(monitors);

    const QByteArray oldDisplay = qgetenv("DISPLAY");
    ::setenv("DISPLAY", display.constData(), 1);
    QString error;
    auto xtest = tl::XTestMouseBackend::create(&error);
    if (oldDisplay.isNull())
        ::unsetenv("DISPLAY");
    else
        ::setenv("DISPLAY", oldDisplay.constData(), 1);
    ASSERT_NE(xtest, nullptr) << error.toStdString();

    QList<QPoint> landed, meant;
    {
        tl::input::InputInjection inj(std::move(xtest));
        for (int n = 0; n < monitors.size(); ++n) {
            inj.selectDisplayLayout(1, n);
            const QRect board = inj.displayMap().rect[0];
            inj.setScreenSize(board.width(), board.height());
            inj.resetTracking(0);
            // The sensor's centre and a point near its bottom-right corner.
            for (const QPoint s : {QPoint(2400, 1500), QPoint(4560, 2850)}) {
                const auto r = record(s.x(), s.y());
                for (int k = 0; k < 4; ++k)
                    inj.trackingEntry(r.data(), 6, 0);
                meant << QPoint(board.left() + int(board.width() * s.x() / 4800.0 + 0.5),
                                board.top() + int(board.height() * s.y() / 3000.0 + 0.5));
                // The XTest connection is the backend's own: its requests may
                // still be on their way when this one asks.
                QPoint p = pointerAt(dpy);
                for (int i = 0; i < 100 && p != meant.last(); ++i) {
                    tl::Clock::sleepMs(20);
                    p = pointerAt(dpy);
                }
                landed << p;
                inj.trackingEntry(nullptr, 0, 0);
                inj.trackingEntry(nullptr, 0, 0);
            }
        }
    }
    tl::FixedScreens::uninstall();
    XCloseDisplay(dpy);
    x.stop();
    ASSERT_EQ(landed.size(), 4);
    for (int i = 0; i < landed.size(); ++i)
        EXPECT_EQ(landed[i], meant[i]) << "monitor " << i / 2 << ", point " << i % 2 << ": landed at "
                                       << landed[i].x() << "," << landed[i].y() << ", meant "
                                       << meant[i].x() << "," << meant[i].y();
}
