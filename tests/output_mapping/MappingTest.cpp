// Touch and pointer mapping checked against what each desktop reads: the X
// server (Xvfb), GSettings and a fake DisplayConfig, a fake KWin device object,
// a fake sway socket, and udev's classification of our devices.
#include "Fakes.h"  // GIO before Qt

#include "input/InputInjection.h"
#include "platform/InjectionFactory.h"
#include "platform/Screens.h"
#include "platform/linux/OutputPinners.h"
#include "platform/linux/TouchMapping.h"
#include "platform/linux/UinputMouseBackend.h"
#include "platform/linux/UinputTouchBackend.h"
#include "platform/linux/XTestMouseBackend.h"

#include <QDBusConnection>
#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <libevdev/libevdev.h>

#include <cmath>
#include <cstdlib>

namespace {

using tl::MonitorInfo;

QPoint queryPointer(const QByteArray &display)
{
    Display *dpy = XOpenDisplay(display.constData());
    if (!dpy)
        return QPoint(-1, -1);
    Window root = 0, child = 0;
    int rx = -1, ry = -1, wx = 0, wy = 0;
    unsigned int mask = 0;
    XQueryPointer(dpy, DefaultRootWindow(dpy), &root, &child, &rx, &ry, &wx, &wy, &mask);
    XCloseDisplay(dpy);
    return QPoint(rx, ry);
}

std::vector<uint8_t> record(int x, int y)
{
    return {uint8_t(x), uint8_t(x >> 8), uint8_t(y), uint8_t(y >> 8), 100, 0};
}

} // namespace

// ---- The mouse path through XTest -------------------------------------------

TEST(XTestPointer, TheSensorCentreLandsOnTheCentrePixelOfEveryMonitor)
{
    // X11 layouts (the root starts at the origin; the primary need not).
    struct Case
    {
        const char *name;
        QList<MonitorInfo> monitors;
    };
    const QList<Case> cases = {
        {"1920x1080 + 1280x1024 side by side",
         {MonitorInfo(QRect(0, 0, 1920, 1080), 96, true), MonitorInfo(QRect(1920, 0, 1280, 1024))}},
        {"secondary left of the primary",
         {MonitorInfo(QRect(1280, 0, 1920, 1080), 96, true), MonitorInfo(QRect(0, 56, 1280, 1024))}},
        {"three monitors",
         {MonitorInfo(QRect(1024, 0, 1920, 1080), 96, true), MonitorInfo(QRect(2944, 0, 1600, 900)),
          MonitorInfo(QRect(0, 200, 1024, 768))}},
        {"vertical stacking", {MonitorInfo(QRect(0, 0, 1920, 1080), 96, true), MonitorInfo(QRect(320, 1080, 1280, 1024))}},
    };
    for (const Case &c : cases) {
        QRect box(0, 0, 1, 1);
        for (const MonitorInfo &m : c.monitors)
            box = box.united(m.geometry);
        Xvfb x;
        ASSERT_TRUE(x.start(box.size())) << c.name;
        ::setenv("DISPLAY", x.display().constData(), 1);
        tl::ScreenSource::setOverride(c.monitors);
        QString error;
        auto xtest = tl::XTestMouseBackend::create(&error);
        ASSERT_NE(xtest, nullptr) << error.toStdString();
        tl::input::InputInjection inj(std::move(xtest));
        for (int n = 0; n < c.monitors.size(); ++n) {
            inj.selectDisplayLayout(1, n);
            const QRect board = inj.displayMap().rect[0];
            inj.setScreenSize(board.width(), board.height());
            inj.resetTracking(0);
            const auto centre = record(2400, 1500);
            for (int k = 0; k < 4; ++k)
                inj.trackingEntry(centre.data(), 6, 0);
            EXPECT_EQ(queryPointer(x.display()), QPoint(board.left() + board.width() / 2, board.top() + board.height() / 2))
                << c.name << ", monitor " << n;
            inj.trackingEntry(nullptr, 0, 0);
            inj.trackingEntry(nullptr, 0, 0);
        }
    }
    tl::ScreenSource::clearOverride();
}

TEST(XTestPointer, AStrokeOnTheRightHandMonitorMovesThePointerAlongIt)
{
    // The board on the right-hand monitor of a two-monitor desktop.
    const QList<MonitorInfo> monitors = {MonitorInfo(QRect(0, 0, 1920, 1080), 96, true),
                                         MonitorInfo(QRect(1920, 0, 1280, 1024))};
    Xvfb x;
    ASSERT_TRUE(x.start(QSize(3200, 1080)));
    ::setenv("DISPLAY", x.display().constData(), 1);
    tl::ScreenSource::setOverride(monitors);
    QString error;
    auto xtest = tl::XTestMouseBackend::create(&error);
    ASSERT_NE(xtest, nullptr) << error.toStdString();
    tl::input::InputInjection inj(std::move(xtest));
    inj.selectDisplayLayout(1, 1);
    inj.setScreenSize(1280, 1024);
    inj.resetTracking(0);
    // A diagonal stroke; the smoothed pointer trails it but stays on it.
    const QPoint from(1920 + 1280 * 600 / 4800, 1024 * 600 / 3000);
    QPoint last(-1, -1);
    int samples = 0;
    for (int k = 0; k <= 60; ++k) {
        const int sx = 600 + 60 * k, sy = 600 + 30 * k;
        const auto r = record(sx, sy);
        inj.trackingEntry(r.data(), 6, 0);
        if (k < 3)
            continue;
        const QPoint p = queryPointer(x.display());
        // On the stroke's line (y - y0) = (x - x0) * (1024 * 30 / 3000) / (1280 * 60 / 4800).
        const double slope = (1024.0 * 30 / 3000) / (1280.0 * 60 / 4800);
        const double onLine = from.y() + (p.x() - from.x()) * slope;
        EXPECT_LE(std::abs(p.y() - onLine), 1.0 + slope) << "report " << k << " at " << p.x() << "," << p.y();
        EXPECT_GE(p.x(), from.x() - 1);
        EXPECT_GE(p.x(), last.x());  // forward along the stroke
        EXPECT_GE(p.x(), 1920);      // never on the other monitor
        last = p;
        ++samples;
    }
    EXPECT_GT(last.x(), from.x() + 400);
    EXPECT_EQ(samples, 58);
    tl::ScreenSource::clearOverride();
}

// ---- X11: the Coordinate Transformation Matrix ------------------------------

TEST(X11Matrix, MatchesXinputsFormulasForEveryRotation)
{
    // xinput map-to-output: offset / root and size / root, spelled per rotation.
    const QRect out(1920, 0, 1280, 1024);
    const QSize root(3200, 1080);
    const float x = 1920.f / 3200, y = 0, w = 1280.f / 3200, h = 1024.f / 1080;
    using M = std::array<float, 9>;
    EXPECT_EQ(tl::coordinateMatrix(out, root, 0), (M{w, 0, x, 0, h, y, 0, 0, 1}));
    EXPECT_EQ(tl::coordinateMatrix(out, root, 90), (M{0, -w, x + w, h, 0, y, 0, 0, 1}));
    EXPECT_EQ(tl::coordinateMatrix(out, root, 180), (M{-w, 0, x + w, 0, -h, y + h, 0, 0, 1}));
    EXPECT_EQ(tl::coordinateMatrix(out, root, 270), (M{0, w, x, -h, 0, y + h, 0, 0, 1}));
    // The device's far corner lands on the output's far corner (rotation 0).
    const M m = tl::coordinateMatrix(out, root, 0);
    EXPECT_FLOAT_EQ((m[0] * 1 + m[2]) * root.width(), 3200.f);
    EXPECT_FLOAT_EQ((m[4] * 1 + m[5]) * root.height(), 1024.f);
}

TEST(X11Matrix, IsSetAndReadBackOnTheServerAndAWrongSizeIsRefused)
{
    Xvfb x;
    ASSERT_TRUE(x.start(QSize(3200, 1080)));
    tl::X11MatrixPinner pinner(x.display().constData());
    tl::PinRequest request;
    request.name = "Virtual core XTEST pointer";
    request.area = QRect(1920, 0, 1280, 1024);
    MonitorInfo right(QRect(1920, 0, 1280, 1024));
    right.name = QStringLiteral("HDMI-1");
    request.outputs = {right};
    const tl::PinResult r = pinner.pin(request);
    ASSERT_TRUE(r.ok) << r.error.toStdString();
    const QVector<float> back = pinner.readMatrix(QString(), request.name);
    const auto expected = tl::coordinateMatrix(request.area, QSize(3200, 1080));
    ASSERT_EQ(back.size(), 9);
    for (int i = 0; i < 9; ++i)
        EXPECT_FLOAT_EQ(back[i], expected[size_t(i)]) << i;

    const int id = pinner.findDevice(QString(), request.name);
    ASSERT_GE(id, 0);
    const float eight[8] = {1, 0, 0, 0, 1, 0, 0, 0};
    QString error;
    EXPECT_FALSE(pinner.writeMatrix(id, eight, 8, &error));
    EXPECT_EQ(error, QStringLiteral("BadValue"));
    // The refused write left the matrix as it was.
    EXPECT_EQ(pinner.readMatrix(QString(), request.name), back);

    // A device the server does not have: no matrix, a reason.
    request.devnode = QStringLiteral("/dev/input/event999");
    const tl::PinResult missing = pinner.pin(request);
    EXPECT_FALSE(missing.ok);
    EXPECT_FALSE(missing.error.isEmpty());
}

// ---- GNOME: the output key and DisplayConfig ---------------------------------

namespace {

const char kDisplayConfigXml[] = R"X(<node><interface name="org.gnome.Mutter.DisplayConfig">
  <method name="GetCurrentState"><arg name="serial" direction="out" type="u"/>
    <arg name="monitors" direction="out" type="a((ssss)a(siiddada{sv})a{sv})"/>
    <arg name="logical_monitors" direction="out" type="a(iiduba(ssss)a{sv})"/>
    <arg name="properties" direction="out" type="a{sv}"/></method>
</interface></node>)X";

const char kTwoMonitors[] =
    "(@u 1, [(('eDP-1', 'LEN', 'Laptop panel', '0x00000000'), [('1920x1080@60', 1920, 1080, 60.0, 1.0, [1.0], "
    "@a{sv} {})], @a{sv} {}), (('HDMI-1', 'EPS', 'Projector', 'PX1000'), [('1280x800@60', 1280, 800, 60.0, 1.0, "
    "[1.0], @a{sv} {})], @a{sv} {})], [(0, 0, 1.0, @u 0, true, [('eDP-1', 'LEN', 'Laptop panel', '0x00000000')], "
    "@a{sv} {}), (1920, 0, 1.0, @u 0, false, [('HDMI-1', 'EPS', 'Projector', 'PX1000')], @a{sv} {})], @a{sv} {})";

QStringList storedOutput(quint16 product)
{
    const QByteArray path = tl::gnomeTouchscreenPath(tl::kTouchVendor, product).toUtf8();
    GSettings *s = g_settings_new_with_path(tl::kGnomeTouchscreenSchema, path.constData());
    gchar **v = g_settings_get_strv(s, "output");
    QStringList out;
    for (gchar **p = v; p && *p; ++p)
        out << QString::fromUtf8(*p);
    g_strfreev(v);
    g_object_unref(s);
    return out;
}

tl::PinRequest projectorRequest(const QString &connector, const QRect &at)
{
    tl::PinRequest r;
    r.name = "Tesselink Driver touch";
    r.product = 0x0F8C;
    MonitorInfo m(at);
    m.name = connector;
    r.outputs = {m};
    r.area = at;
    return r;
}

} // namespace

TEST(GnomeOutput, TheKeyNamesTheBoardsMonitorAsDisplayConfigDescribesIt)
{
    EXPECT_EQ(tl::gnomeTouchscreenPath(0x16D0, 0x0F8C),
              QStringLiteral("/org/gnome/desktop/peripherals/touchscreens/16d0:0f8c/"));
    std::string answer = kTwoMonitors;
    FakeBusObject mutter("org.gnome.Mutter.DisplayConfig", "/org/gnome/Mutter/DisplayConfig", kDisplayConfigXml,
                         [&](const std::string &method, GVariant *) -> GVariant * {
                             return method == "GetCurrentState" ? g_variant_new_parsed(answer.c_str()) : nullptr;
                         });
    ASSERT_TRUE(mutter.start());
    tl::GnomeOutputPinner pinner(QDBusConnection::sessionBus());

    // A stale value from an earlier set-up names a monitor that is gone.
    {
        GSettings *s = g_settings_new_with_path(tl::kGnomeTouchscreenSchema,
                                                "/org/gnome/desktop/peripherals/touchscreens/16d0:0f8c/");
        const char *stale[] = {"OLD", "Gone", "1", nullptr};
        g_settings_set_strv(s, "output", stale);
        g_object_unref(s);
    }
    tl::PinResult r = pinner.pin(projectorRequest(QStringLiteral("HDMI-1"), QRect(1920, 0, 1280, 800)));
    ASSERT_TRUE(r.ok) << r.error.toStdString();
    EXPECT_EQ(storedOutput(0x0F8C), (QStringList{"EPS", "Projector", "PX1000"}));
    EXPECT_TRUE(r.where.contains(QStringLiteral("HDMI-1")));

    // Matched by position when the connector name differs (GNOME on Xorg names
    // outputs its own way).
    r = pinner.pin(projectorRequest(QStringLiteral("HDMI1"), QRect(0, 0, 1920, 1080)));
    ASSERT_TRUE(r.ok) << r.error.toStdString();
    EXPECT_EQ(storedOutput(0x0F8C), (QStringList{"LEN", "Laptop panel", "0x00000000"}));

    // Unknown monitor: refused, the key keeps its last good value.
    r = pinner.pin(projectorRequest(QStringLiteral("DP-9"), QRect(5000, 0, 800, 600)));
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(r.error.contains(QStringLiteral("DP-9")));
    EXPECT_EQ(storedOutput(0x0F8C), (QStringList{"LEN", "Laptop panel", "0x00000000"}));

    // Two identical projectors: the connector tells them apart.
    answer = std::string(kTwoMonitors);
    answer.replace(answer.find("'LEN', 'Laptop panel', '0x00000000'"), 35, "'EPS', 'Projector', 'PX1000'");
    answer.replace(answer.find("'LEN', 'Laptop panel', '0x00000000'"), 35, "'EPS', 'Projector', 'PX1000'");
    r = pinner.pin(projectorRequest(QStringLiteral("HDMI-1"), QRect(1920, 0, 1280, 800)));
    ASSERT_TRUE(r.ok) << r.error.toStdString();
    EXPECT_EQ(storedOutput(0x0F8C), (QStringList{"EPS", "Projector", "PX1000", "HDMI-1"}));
}

TEST(GnomeOutput, AReplyOfTheWrongTypeIsAFailure)
{
    const char xml[] = R"X(<node><interface name="org.gnome.Mutter.DisplayConfig">
      <method name="GetCurrentState"><arg name="state" direction="out" type="s"/></method>
      </interface></node>)X";
    FakeBusObject mutter("org.gnome.Mutter.DisplayConfig", "/org/gnome/Mutter/DisplayConfig", xml,
                         [](const std::string &, GVariant *) { return g_variant_new_parsed("('not a state',)"); });
    ASSERT_TRUE(mutter.start());
    tl::GnomeOutputPinner pinner(QDBusConnection::sessionBus());
    const tl::PinResult r = pinner.pin(projectorRequest(QStringLiteral("HDMI-1"), QRect(1920, 0, 1280, 800)));
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(r.error.contains(QStringLiteral("answered \"s\""))) << r.error.toStdString();
}

TEST(GnomeOutput, NoDisplayConfigServiceIsAFailureNotASuccess)
{
    tl::GnomeOutputPinner pinner(QDBusConnection::sessionBus());
    const tl::PinResult r = pinner.pin(projectorRequest(QStringLiteral("HDMI-1"), QRect(1920, 0, 1280, 800)));
    EXPECT_FALSE(r.ok);
    EXPECT_FALSE(r.error.isEmpty());
}

// ---- KDE: outputName ---------------------------------------------------------

TEST(KWinOutput, TheDeviceObjectReceivesTheOutputName)
{
    EXPECT_EQ(tl::kwinDevicePath(QStringLiteral("/dev/input/event12")),
              QStringLiteral("/org/kde/KWin/InputDevice/event12"));
    EXPECT_TRUE(tl::kwinDevicePath(QStringLiteral("/dev/input/mouse0")).isEmpty());
    std::string outputName;
    const std::string xml = R"X(<node><interface name="org.kde.KWin.InputDevice">
        <property name="name" type="s" access="read"/>
        <property name="outputName" type="s" access="readwrite"/></interface></node>)X";
    FakeBusObject kwin(
        "org.kde.KWin", "/org/kde/KWin/InputDevice/event77", xml, {},
        [&](const std::string &p) -> GVariant * {
            return p == "outputName" ? g_variant_new_string(outputName.c_str()) : g_variant_new_string("x");
        },
        [&](const std::string &p, GVariant *v) {
            // KWin keeps only outputs it knows.
            const std::string name = g_variant_get_string(v, nullptr);
            if (p != "outputName" || (name != "HDMI-A-1" && name != "eDP-1"))
                return false;
            outputName = name;
            return true;
        });
    ASSERT_TRUE(kwin.start());
    tl::KWinOutputPinner pinner(QDBusConnection::sessionBus());
    tl::PinRequest r = projectorRequest(QStringLiteral("HDMI-A-1"), QRect(1920, 0, 1280, 800));
    r.devnode = QStringLiteral("/dev/input/event77");
    tl::PinResult res = pinner.pin(r);
    ASSERT_TRUE(res.ok) << res.error.toStdString();
    EXPECT_EQ(outputName, "HDMI-A-1");
    EXPECT_EQ(res.where, QStringLiteral("HDMI-A-1"));

    // An output name KWin does not know.
    r.outputs.first().name = QStringLiteral("DP-7");
    res = pinner.pin(r);
    EXPECT_FALSE(res.ok);
    EXPECT_TRUE(res.error.contains(QStringLiteral("DP-7")));
    EXPECT_EQ(outputName, "HDMI-A-1");
}

TEST(KWinOutput, APropertyOfTheWrongTypeIsAFailure)
{
    const std::string xml = R"X(<node><interface name="org.kde.KWin.InputDevice">
        <property name="outputName" type="i" access="readwrite"/></interface></node>)X";
    FakeBusObject kwin(
        "org.kde.KWin", "/org/kde/KWin/InputDevice/event78", xml, {},
        [](const std::string &) -> GVariant * { return g_variant_new_int32(3); },
        [](const std::string &, GVariant *) { return true; });
    ASSERT_TRUE(kwin.start());
    tl::KWinOutputPinner pinner(QDBusConnection::sessionBus());
    tl::PinRequest r = projectorRequest(QStringLiteral("HDMI-A-1"), QRect(1920, 0, 1280, 800));
    r.devnode = QStringLiteral("/dev/input/event78");
    const tl::PinResult res = pinner.pin(r);
    EXPECT_FALSE(res.ok);
    EXPECT_FALSE(res.error.isEmpty());
}

// ---- sway --------------------------------------------------------------------

TEST(SwayOutput, TheSocketReceivesMapToOutputOrMapToRegion)
{
    EXPECT_EQ(tl::swayIdentifier(0x16D0, 0x0F8C, "Tesselink Driver touch"),
              QStringLiteral("5840:3980:Tesselink_Driver_touch"));
    FakeSway sway(FakeSway::Mode::Accept);
    ASSERT_TRUE(sway.start());
    tl::SwayOutputPinner pinner(sway.path());
    tl::PinRequest r = projectorRequest(QStringLiteral("HDMI-A-1"), QRect(1920, 0, 1280, 800));
    tl::PinResult res = pinner.pin(r);
    ASSERT_TRUE(res.ok) << res.error.toStdString();
    // One device over two board displays: a region.
    MonitorInfo second(QRect(3200, 0, 1280, 800));
    second.name = QStringLiteral("HDMI-A-2");
    r.outputs.append(second);
    r.area = QRect(1920, 0, 2560, 800);
    res = pinner.pin(r);
    ASSERT_TRUE(res.ok) << res.error.toStdString();
    const auto commands = sway.commands();
    ASSERT_EQ(commands.size(), 2u);
    EXPECT_EQ(commands[0], "input \"5840:3980:Tesselink_Driver_touch\" map_to_output \"HDMI-A-1\"");
    EXPECT_EQ(commands[1], "input \"5840:3980:Tesselink_Driver_touch\" map_to_region 1920 0 2560 800");
    EXPECT_EQ(sway.types(), (std::vector<uint32_t>{0, 0}));
}

TEST(SwayOutput, ARefusalOrASocketClosingMidReplyIsAFailure)
{
    FakeSway refusing(FakeSway::Mode::Refuse);
    ASSERT_TRUE(refusing.start());
    tl::PinResult res = tl::SwayOutputPinner(refusing.path())
                            .pin(projectorRequest(QStringLiteral("HDMI-A-9"), QRect(1920, 0, 1280, 800)));
    EXPECT_FALSE(res.ok);
    EXPECT_TRUE(res.error.contains(QStringLiteral("Invalid output"))) << res.error.toStdString();

    FakeSway closing(FakeSway::Mode::CloseMidReply);
    ASSERT_TRUE(closing.start());
    res = tl::SwayOutputPinner(closing.path()).pin(projectorRequest(QStringLiteral("HDMI-A-1"), QRect(0, 0, 800, 600)));
    EXPECT_FALSE(res.ok);
    EXPECT_TRUE(res.error.contains(QStringLiteral("middle of a reply"))) << res.error.toStdString();

    res = tl::SwayOutputPinner(QStringLiteral("/tmp/no-such-sway.sock"))
              .pin(projectorRequest(QStringLiteral("HDMI-A-1"), QRect(0, 0, 800, 600)));
    EXPECT_FALSE(res.ok);
}

// ---- udev's classification of our devices ------------------------------------

namespace {

// The pointer tests of systemd's udev-builtin-input_id, for absolute devices.
std::string classify(const libevdev *d)
{
    const bool absXY = libevdev_has_event_code(d, EV_ABS, ABS_X) && libevdev_has_event_code(d, EV_ABS, ABS_Y);
    const bool mtXY = libevdev_has_event_code(d, EV_ABS, ABS_MT_POSITION_X) &&
                      libevdev_has_event_code(d, EV_ABS, ABS_MT_POSITION_Y);
    const bool direct = libevdev_has_property(d, INPUT_PROP_DIRECT);
    const bool touch = libevdev_has_event_code(d, EV_KEY, BTN_TOUCH);
    const bool stylus = libevdev_has_event_code(d, EV_KEY, BTN_STYLUS);
    const bool pen = libevdev_has_event_code(d, EV_KEY, BTN_TOOL_PEN);
    const bool fingerNoPen = libevdev_has_event_code(d, EV_KEY, BTN_TOOL_FINGER) && !pen;
    const bool mouseButton = libevdev_has_event_code(d, EV_KEY, BTN_LEFT);
    if (absXY) {
        if (stylus || pen)
            return "tablet";
        if (fingerNoPen && !direct)
            return "touchpad";
        if (mouseButton)
            return "mouse";
        if (touch || direct)
            return "touchscreen";
    }
    if (mtXY) {
        if (stylus || pen)
            return "tablet";
        if (fingerNoPen && !direct)
            return "touchpad";
        if (touch || direct)
            return "touchscreen";
    }
    return "none";
}

} // namespace

TEST(DeviceClass, TheTouchDeviceIsATouchscreenAndThePointerAMouse)
{
    for (const QByteArray &name : {QByteArray("Tesselink Driver touch"), QByteArray("Tesselink Driver touch module 2")}) {
        tl::TouchDeviceGeometry g{QRect(1920, 0, 1280, 800), 0.5, name, 0x0F8D};
        const tl::EvdevDescription touch = tl::UinputTouchBackend::describe(g);
        EXPECT_EQ(classify(touch.get()), "touchscreen");
        EXPECT_FALSE(libevdev_has_event_code(touch.get(), EV_KEY, BTN_LEFT));
        EXPECT_FALSE(libevdev_has_event_code(touch.get(), EV_ABS, ABS_MT_TOOL_TYPE));
        for (unsigned axis : {ABS_X, ABS_Y}) {
            const unsigned mt = axis == ABS_X ? ABS_MT_POSITION_X : ABS_MT_POSITION_Y;
            const input_absinfo *a = libevdev_get_abs_info(touch.get(), axis);
            const input_absinfo *b = libevdev_get_abs_info(touch.get(), mt);
            ASSERT_TRUE(a && b);
            EXPECT_GT(a->resolution, 0);
            EXPECT_EQ(a->fuzz, 0);
            EXPECT_EQ(a->minimum, b->minimum);
            EXPECT_EQ(a->maximum, b->maximum);
            EXPECT_EQ(a->resolution, b->resolution);
            EXPECT_LT(a->minimum, a->maximum);
        }
        EXPECT_EQ(libevdev_get_abs_maximum(touch.get(), ABS_X), 1279);
    }
    const tl::EvdevDescription pointer = tl::UinputMouseBackend::describe();
    EXPECT_EQ(classify(pointer.get()), "mouse");
}

TEST(DevicePlan, OneDevicePerBoardDisplayUnlessTheDesktopSpansOutputs)
{
    MonitorInfo a(QRect(0, 0, 1920, 1080), 96, true), b(QRect(1920, 0, 1920, 1080)), c(QRect(1920, 0, 1280, 800));
    a.physicalMm = QSizeF(3840, 2160);  // a 3.84 m projection: 0.5 px per mm
    auto plans = tl::planTouchDevices(tl::DesktopKind::GnomeWayland, {a, b}, 96 / 25.4);
    ASSERT_EQ(plans.size(), 2);
    EXPECT_NE(plans[0].product, plans[1].product);
    EXPECT_NE(plans[0].name, plans[1].name);
    EXPECT_DOUBLE_EQ(plans[0].unitsPerMm, 0.5);
    EXPECT_DOUBLE_EQ(plans[1].unitsPerMm, 96 / 25.4);
    plans = tl::planTouchDevices(tl::DesktopKind::X11, {a, b}, 96 / 25.4);
    ASSERT_EQ(plans.size(), 1);
    EXPECT_EQ(plans[0].area, QRect(0, 0, 3840, 1080));
    // Not one rectangle: one device each, also where a device could span outputs.
    EXPECT_EQ(tl::planTouchDevices(tl::DesktopKind::Sway, {a, c}, 96 / 25.4).size(), 2);
    EXPECT_EQ(tl::planTouchDevices(tl::DesktopKind::KdeWayland, {c}, 96 / 25.4).size(), 1);
}
