// The X11 pinner against a real Xorg: the dummy video driver with two outputs
// (xrandr) and a touchscreen with the identity of our uinput device, described
// to umockdev and driven by xf86-input-evdev. The pinner finds the device by
// its node, sets its matrix, and a replayed tap arrives on the board monitor
// (xinput test-xi2 --root).
#include "Compositor.h"
#include "XorgDummy.h"
#include "DescribedDevice.h"

#include "platform/Clock.h"
#include "platform/linux/OutputPinners.h"
#include "platform/linux/TouchMapping.h"
#include "platform/linux/UinputTouchBackend.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <gtest/gtest.h>

#include <memory>

#include <X11/Xlib.h>
#include <libevdev/libevdev.h>
#include <linux/input.h>

namespace {

bool writeFile(const QString &path, const QByteArray &data)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(data) == data.size();
}

// The tap: one contact down at device position (x, y), up again.
QByteArray tapAt(double at, int x, int y)
{
    QByteArray e;
    e += evemuLine(at, EV_ABS, ABS_MT_SLOT, 0);
    e += evemuLine(at, EV_ABS, ABS_MT_TRACKING_ID, 7);
    e += evemuLine(at, EV_ABS, ABS_MT_POSITION_X, x);
    e += evemuLine(at, EV_ABS, ABS_MT_POSITION_Y, y);
    e += evemuLine(at, EV_KEY, BTN_TOUCH, 1);
    e += evemuLine(at, EV_ABS, ABS_X, x);
    e += evemuLine(at, EV_ABS, ABS_Y, y);
    e += evemuLine(at, EV_SYN, SYN_REPORT, 0);
    e += evemuLine(at + 0.1, EV_ABS, ABS_MT_TRACKING_ID, -1);
    e += evemuLine(at + 0.1, EV_KEY, BTN_TOUCH, 0);
    e += evemuLine(at + 0.1, EV_SYN, SYN_REPORT, 0);
    return e;
}

const char kInputSections[] = R"(Section "ServerFlags"
  Option "AutoAddDevices" "true"
EndSection
Section "InputClass"
  Identifier "touchscreens through evdev"
  MatchIsTouchscreen "on"
  Driver "evdev"
EndSection
)";

} // namespace

TEST(RealXorg, TheMatrixIsSetOnTheDescribedTouchscreenAndATapLandsOnTheBoardMonitor)
{
    const QString xorg = Compositor::find(QStringLiteral("Xorg"));
    const QString umockdevRun = Compositor::find(QStringLiteral("umockdev-run"));
    const QString xinput = Compositor::find(QStringLiteral("xinput"));
    const QString xrandr = Compositor::find(QStringLiteral("xrandr"));
    if (xorg.isEmpty() || umockdevRun.isEmpty() || xinput.isEmpty() || xrandr.isEmpty() ||
        !QFile::exists(QStringLiteral("/usr/lib/xorg/modules/drivers/dummy_drv.so")) ||
        !QFile::exists(QStringLiteral("/usr/lib/xorg/modules/input/evdev_drv.so")))
        GTEST_SKIP() << "needs Xorg, umockdev-run, xinput and xrandr with the dummy and evdev drivers (Debian "
                        "packages xserver-xorg-core xserver-xorg-video-dummy xserver-xorg-input-evdev xinput "
                        "x11-xserver-utils umockdev; tools/setup.sh --tests installs them)";
    // The Xorg binary itself: /usr/bin/Xorg is a wrapper that may be set-uid,
    // and the preloaded umockdev library does not pass through one.
    const QString server = QFile::exists(QStringLiteral("/usr/lib/xorg/Xorg")) ? QStringLiteral("/usr/lib/xorg/Xorg")
                                                                                : xorg;

    // Our touch device for the board monitor, the right-hand 1280x800 output.
    const QRect board(1920, 0, 1280, 800);
    const tl::TouchDeviceGeometry geometry{board, 96 / 25.4, "Tesselink Driver touch", 0x0F8C};
    const tl::EvdevDescription description = tl::UinputTouchBackend::describe(geometry);
    const DescribedDevice device = describeToUmockdev(description.get(), 40);

    char tmpl[] = "/tmp/tl-xorg-touch-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    const QString dir = QString::fromLocal8Bit(tmpl);
    // The tap comes a while after the server opened the device, when the
    // matrix has been set.
    ASSERT_TRUE(writeFile(dir + "/touch.umockdev", device.umockdev));
    ASSERT_TRUE(writeFile(dir + "/touch.ioctl", device.ioctl));
    ASSERT_TRUE(writeFile(dir + "/touch.events",
                          evemuLine(0.0, EV_SYN, SYN_REPORT, 0) + tapAt(10.0, 640, 400) + tapAt(12.0, 640, 400)));
    ASSERT_TRUE(writeFile(dir + "/xorg.conf", xorgdummy::config("3200 1080", kInputSections)));
    // Only this configuration: the system's directory would give touchscreens
    // to the libinput driver where it is installed, which takes only devices
    // udev has processed (the consumers tests play those).
    ASSERT_TRUE(QDir().mkpath(dir + "/xorg.conf.d"));

    const QByteArray display = xorgdummy::freeDisplay(140);
    Compositor x;
    ASSERT_TRUE(x.start({umockdevRun, "-d", dir + "/touch.umockdev", "-i", device.node + "=" + dir + "/touch.ioctl",
                         "-e", device.node + "=" + dir + "/touch.events", "--", server, QString::fromLatin1(display),
                         "-noreset", "-nolisten", "tcp", "-config", dir + "/xorg.conf", "-configdir", dir + "/xorg.conf.d",
                         "-logfile", dir + "/Xorg.log"}));
    Display *dpy = xorgdummy::waitForDisplay(x, display);
    ASSERT_NE(dpy, nullptr) << x.log().toStdString();
    // Two outputs: 1920x1080 and the board's 1280x800 to its right.
    QString out;
    ASSERT_TRUE(xorgdummy::setTwoOutputs(xrandr, display, "3200x1080", "1920x1080", "1280x800", false, &out))
        << out.toStdString();

    auto pinnerOwner = std::make_unique<tl::X11MatrixPinner>(display.constData());
    tl::X11MatrixPinner &pinner = *pinnerOwner;
    tl::PinRequest request;
    request.devnode = device.node;
    request.name = geometry.name;
    request.area = board;
    tl::MonitorInfo monitor(board);
    monitor.name = QStringLiteral("DUMMY1");
    request.outputs = {monitor};
    const tl::PinResult r = pinner.pin(request);
    QFile log(dir + "/Xorg.log");
    log.open(QIODevice::ReadOnly);
    ASSERT_TRUE(r.ok) << r.error.toStdString() << "\n" << log.readAll().right(3000).toStdString();
    EXPECT_EQ(r.transform, 0);
    const QVector<float> back = pinner.readMatrix(device.node, request.name);
    const auto expected = tl::coordinateMatrix(board, QSize(3200, 1080));
    ASSERT_EQ(back.size(), 9);
    for (int i = 0; i < 9; ++i)
        EXPECT_FLOAT_EQ(back[i], expected[size_t(i)]) << i;

    // The replayed taps, as the X server delivers them to the root window.
    QProcess test;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), QString::fromLatin1(display));
    test.setProcessEnvironment(env);
    test.start(xinput, {"test-xi2", "--root"});
    ASSERT_TRUE(test.waitForStarted());
    QByteArray events;
    const QRegularExpression begin(QStringLiteral("EVENT type 18 \\(TouchBegin\\)[^\\n]*\\n(?:[^\\n]*\\n)*?\\s*root: "
                                                  "(-?[0-9.]+)/(-?[0-9.]+)"));
    QRegularExpressionMatch m;
    for (int i = 0; i < 200 && !(m = begin.match(QString::fromLatin1(events))).hasMatch(); ++i) {
        test.waitForReadyRead(100);
        events += test.readAll();
    }
    test.kill();
    test.waitForFinished();
    // Our connections go before the server does (Xlib ends the process on a
    // connection that breaks).
    pinnerOwner.reset();
    XCloseDisplay(dpy);
    x.stop();
    QDir(dir).removeRecursively();
    ASSERT_TRUE(m.hasMatch()) << "no TouchBegin on the root window:\n" << events.right(2000).toStdString();
    // Device (640, 400) of 1280x800: the board monitor's centre, (2560, 400).
    EXPECT_NEAR(m.captured(1).toDouble(), 2560.0, 2.0);
    EXPECT_NEAR(m.captured(2).toDouble(), 400.0, 2.0);
}
