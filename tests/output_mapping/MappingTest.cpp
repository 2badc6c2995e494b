// Touch and pointer mapping checked against what each desktop reads: the X
// server (Xvfb), GSettings and a fake DisplayConfig, a fake KWin device object,
// a fake sway socket, and udev's classification of our devices.
#include "Fakes.h"  // GIO before Qt

#include "input/InputInjection.h"
#include "platform/linux/InjectionFactory.h"
#include "platform/Screens.h"
#include "platform/fake/FixedScreens.h"
#include "platform/linux/OutputPinners.h"
#include "platform/linux/SwayWindowPlacer.h"
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
#include <mutex>

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
        tl::FixedScreens::install(c.monitors);
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
    tl::FixedScreens::uninstall();
}

TEST(XTestPointer, AStrokeOnTheRightHandMonitorMovesThePointerAlongIt)
{
    // The board on the right-hand monitor of a two-monitor desktop.
    const QList<MonitorInfo> monitors = {MonitorInfo(QRect(0, 0, 1920, 1080), 96, true),
                                         MonitorInfo(QRect(1920, 0, 1280, 1024))};
    Xvfb x;
    ASSERT_TRUE(x.start(QSize(3200, 1080)));
    ::setenv("DISPLAY", x.display().constData(), 1);
    tl::FixedScreens::install(monitors);
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
    tl::FixedScreens::uninstall();
}

// ---- X11: the Coordinate Transformation Matrix ------------------------------

TEST(X11Matrix, MatchesXinputsFormulasForEveryRotationAndReflection)
{
    // xinput map-to-output: offset / root and size / root, spelled per
    // rotation and reflection of the CRTC (RandR bits).
    const QRect out(1920, 0, 1280, 1024);
    const QSize root(3200, 1080);
    const float x = 1920.f / 3200, y = 0, w = 1280.f / 3200, h = 1024.f / 1080;
    using M = std::array<float, 9>;
    enum { R0 = 1, R90 = 2, R180 = 4, R270 = 8, RX = 16, RY = 32 };
    auto at = [&](int bits) { return tl::coordinateMatrix(out, root, tl::transformFromRandr(bits)); };
    EXPECT_EQ(at(R0), (M{w, 0, x, 0, h, y, 0, 0, 1}));
    EXPECT_EQ(at(R90), (M{0, -w, x + w, h, 0, y, 0, 0, 1}));
    EXPECT_EQ(at(R180), (M{-w, 0, x + w, 0, -h, y + h, 0, 0, 1}));
    EXPECT_EQ(at(R270), (M{0, w, x, -h, 0, y + h, 0, 0, 1}));
    EXPECT_EQ(at(R0 | RX), (M{-w, 0, x + w, 0, h, y, 0, 0, 1}));
    EXPECT_EQ(at(R180 | RY), (M{-w, 0, x + w, 0, h, y, 0, 0, 1}));
    EXPECT_EQ(at(R0 | RY), (M{w, 0, x, 0, -h, y + h, 0, 0, 1}));
    EXPECT_EQ(at(R90 | RX), (M{0, -w, x + w, -h, 0, y + h, 0, 0, 1}));
    EXPECT_EQ(at(R90 | RY), (M{0, w, x, h, 0, y, 0, 0, 1}));
    EXPECT_EQ(at(R270 | RX | RY), (M{0, -w, x + w, h, 0, y, 0, 0, 1}));
    EXPECT_EQ(at(R0 | RX | RY), (M{-w, 0, x + w, 0, -h, y + h, 0, 0, 1}));
    // The device's far corner lands on the output's far corner (rotation 0).
    const M m = at(R0);
    EXPECT_FLOAT_EQ((m[0] * 1 + m[2]) * root.width(), 3200.f);
    EXPECT_FLOAT_EQ((m[4] * 1 + m[5]) * root.height(), 1024.f);
}

TEST(OutputTransform, TheDeviceIsFedSoThatTheTurnedDesktopPlacesEachPointRight)
{
    // Where each desktop puts the device's origin and the end of its x axis on
    // a turned output (mutter's matrices, KWin's devicePointToGlobalPosition,
    // xinput's transform.c), in output fractions.
    struct Corner
    {
        int transform;
        QPointF origin, xEnd;
    };
    const Corner corners[] = {
        {0, {0, 0}, {1, 0}}, {1, {1, 0}, {1, 1}}, {2, {1, 1}, {0, 1}}, {3, {0, 1}, {0, 0}},
        {4, {1, 0}, {0, 0}}, {5, {0, 0}, {0, 1}}, {6, {0, 1}, {1, 1}}, {7, {1, 1}, {1, 0}},
    };
    const QRect area(1920, 0, 1280, 800);
    auto pixel = [&](const QPointF &f) {
        return QPoint(area.x() + std::min(int(f.x() * area.width()), area.width() - 1),
                      area.y() + std::min(int(f.y() * area.height()), area.height() - 1));
    };
    for (const Corner &c : corners) {
        const QPoint origin = tl::toDeviceFrame(pixel(c.origin), area, c.transform);
        const QPoint xEnd = tl::toDeviceFrame(pixel(c.xEnd), area, c.transform);
        EXPECT_LE((origin - area.topLeft()).manhattanLength(), 2) << "transform " << c.transform << " origin at "
                                                                  << origin.x() << "," << origin.y();
        EXPECT_LE((xEnd - area.topRight()).manhattanLength(), 2) << "transform " << c.transform << " x end at "
                                                                 << xEnd.x() << "," << xEnd.y();
        // Every pixel stays on the device.
        for (int k = 0; k < 50; ++k) {
            const QPoint p(area.x() + (k * 97) % area.width(), area.y() + (k * 61) % area.height());
            EXPECT_TRUE(area.contains(tl::toDeviceFrame(p, area, c.transform))) << c.transform;
        }
    }
    // sway names its turns clockwise.
    EXPECT_EQ(tl::transformFromSway(QStringLiteral("90")), 3);
    EXPECT_EQ(tl::transformFromSway(QStringLiteral("flipped-90")), 7);
    EXPECT_EQ(tl::transformFromSway(QStringLiteral("normal")), 0);
    EXPECT_EQ(tl::transformFromSway(QStringLiteral("sideways")), -1);
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

// ---- GNOME: the output key, DisplayConfig and InputMapping -----------------

namespace {

const char kDisplayConfigXml[] = R"X(<node><interface name="org.gnome.Mutter.DisplayConfig">
  <method name="GetCurrentState"><arg name="serial" direction="out" type="u"/>
    <arg name="monitors" direction="out" type="a((ssss)a(siiddada{sv})a{sv})"/>
    <arg name="logical_monitors" direction="out" type="a(iiduba(ssss)a{sv})"/>
    <arg name="properties" direction="out" type="a{sv}"/></method>
</interface></node>)X";

const char kInputMappingXml[] = R"X(<node><interface name="org.gnome.Mutter.InputMapping">
  <method name="GetDeviceMapping"><arg name="device_node" direction="in" type="o"/>
    <arg name="rect" direction="out" type="(iiii)"/></method>
</interface></node>)X";

struct FakeMonitor
{
    std::string connector, vendor, product, serial;
    QRect rect;
    unsigned transform = 0;
};

std::string currentState(const std::vector<FakeMonitor> &monitors)
{
    std::string out = "(@u 1, [";
    for (size_t i = 0; i < monitors.size(); ++i) {
        const FakeMonitor &m = monitors[i];
        out += (i ? ", " : "") + std::string("(('") + m.connector + "', '" + m.vendor + "', '" + m.product + "', '" +
               m.serial + "'), [('mode', " + std::to_string(m.rect.width()) + ", " + std::to_string(m.rect.height()) +
               ", 60.0, 1.0, [1.0], @a{sv} {})], @a{sv} {})";
    }
    out += "], [";
    for (size_t i = 0; i < monitors.size(); ++i) {
        const FakeMonitor &m = monitors[i];
        out += (i ? ", " : "") + std::string("(") + std::to_string(m.rect.x()) + ", " + std::to_string(m.rect.y()) +
               ", 1.0, @u " + std::to_string(m.transform) + ", " + (i ? "false" : "true") + ", [('" + m.connector +
               "', '" + m.vendor + "', '" + m.product + "', '" + m.serial + "')], @a{sv} {})";
    }
    return out + "], @a{sv} {})";
}

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

// mutter on a private bus: DisplayConfig, and InputMapping answering for one
// device node with the monitor mutter `version` picks from the output key
// (match_config: before 46 exactly three values, the first monitor with those
// EDID strings; from 46 on a fourth value, the connector, picks among twins).
struct FakeMutter
{
    std::vector<FakeMonitor> monitors;
    int version = 46;
    std::string devnode = "/dev/input/event40";
    std::mutex lock;
    std::unique_ptr<FakeBusObject> config, mapping;

    bool start(bool withInputMapping = true)
    {
        config = std::make_unique<FakeBusObject>(
            "org.gnome.Mutter.DisplayConfig", "/org/gnome/Mutter/DisplayConfig", kDisplayConfigXml,
            [this](const std::string &method, GVariant *) -> GVariant * {
                std::lock_guard<std::mutex> g(lock);
                return method == "GetCurrentState" ? g_variant_new_parsed(currentState(monitors).c_str()) : nullptr;
            });
        if (!config->start())
            return false;
        if (!withInputMapping)
            return true;
        mapping = std::make_unique<FakeBusObject>(
            "org.gnome.Mutter.InputMapping", "/org/gnome/Mutter/InputMapping", kInputMappingXml,
            [this](const std::string &method, GVariant *params) -> GVariant * {
                const char *node = nullptr;
                g_variant_get(params, "(&o)", &node);
                std::lock_guard<std::mutex> g(lock);
                if (method != "GetDeviceMapping" || devnode != node)
                    return nullptr;
                const QStringList key = storedOutput(0x0F8C);
                for (const FakeMonitor &m : monitors) {
                    bool match = (version >= 46 ? key.size() >= 3 : key.size() == 3) &&
                                 key[0].toStdString() == m.vendor && key[1].toStdString() == m.product &&
                                 key[2].toStdString() == m.serial;
                    int twins = 0;
                    for (const FakeMonitor &o : monitors)
                        twins += o.vendor == m.vendor && o.product == m.product && o.serial == m.serial;
                    if (match && version >= 46 && key.size() >= 4 && twins > 1)
                        match = key[3].toStdString() == m.connector;
                    if (match)
                        return g_variant_new("((iiii))", m.rect.x(), m.rect.y(), m.rect.width(), m.rect.height());
                }
                return nullptr;  // "Device is not mapped to any output"
            });
        return mapping->start();
    }
};

std::vector<FakeMonitor> laptopAndProjector()
{
    return {{"eDP-1", "LEN", "Laptop panel", "0x00000000", QRect(0, 0, 1920, 1080)},
            {"HDMI-1", "EPS", "Projector", "PX1000", QRect(1920, 0, 1280, 800)}};
}

std::vector<FakeMonitor> twinProjectors()
{
    return {{"HDMI-1", "EPS", "Projector", "PX1000", QRect(0, 0, 1280, 800)},
            {"HDMI-2", "EPS", "Projector", "PX1000", QRect(1280, 0, 1280, 800)}};
}

tl::PinRequest projectorRequest(const QString &connector, const QRect &at)
{
    tl::PinRequest r;
    r.name = "Tesselink Driver touch";
    r.product = 0x0F8C;
    r.devnode = QStringLiteral("/dev/input/event40");
    MonitorInfo m(at);
    m.name = connector;
    r.outputs = {m};
    r.area = at;
    return r;
}

void setStoredOutput(const std::vector<const char *> &values)
{
    GSettings *s = g_settings_new_with_path(tl::kGnomeTouchscreenSchema,
                                            "/org/gnome/desktop/peripherals/touchscreens/16d0:0f8c/");
    std::vector<const char *> v = values;
    v.push_back(nullptr);
    g_settings_set_strv(s, "output", v.data());
    g_object_unref(s);
}

} // namespace

TEST(GnomeOutput, TheKeyNamesTheBoardsMonitorAsDisplayConfigDescribesIt)
{
    EXPECT_EQ(tl::gnomeTouchscreenPath(0x16D0, 0x0F8C),
              QStringLiteral("/org/gnome/desktop/peripherals/touchscreens/16d0:0f8c/"));
    FakeMutter mutter;
    mutter.monitors = laptopAndProjector();
    ASSERT_TRUE(mutter.start());
    tl::GnomeOutputPinner pinner(QDBusConnection::sessionBus());

    // A stale value from an earlier set-up names a monitor that is gone.
    setStoredOutput({"OLD", "Gone", "1"});
    tl::PinResult r = pinner.pin(projectorRequest(QStringLiteral("HDMI-1"), QRect(1920, 0, 1280, 800)));
    ASSERT_TRUE(r.ok) << r.error.toStdString();
    EXPECT_EQ(storedOutput(0x0F8C), (QStringList{"EPS", "Projector", "PX1000"}));
    EXPECT_TRUE(r.where.contains(QStringLiteral("HDMI-1")));
    EXPECT_EQ(r.transform, 0);

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

    // Two identical projectors: mutter 46 tells them apart by the connector.
    {
        std::lock_guard<std::mutex> g(mutter.lock);
        mutter.monitors = twinProjectors();
    }
    r = pinner.pin(projectorRequest(QStringLiteral("HDMI-2"), QRect(1280, 0, 1280, 800)));
    ASSERT_TRUE(r.ok) << r.error.toStdString();
    EXPECT_EQ(storedOutput(0x0F8C), (QStringList{"EPS", "Projector", "PX1000", "HDMI-2"}));
}

TEST(GnomeOutput, BeforeMutter46TwinsAreNotClaimedAndThreeValuesAreWritten)
{
    FakeMutter mutter;
    mutter.monitors = twinProjectors();
    mutter.version = 43;
    ASSERT_TRUE(mutter.start());
    tl::GnomeOutputPinner pinner(QDBusConnection::sessionBus());
    // The second of two identical projectors: mutter 43 refuses the
    // four-value key and maps three values to the first twin.
    tl::PinResult r = pinner.pin(projectorRequest(QStringLiteral("HDMI-2"), QRect(1280, 0, 1280, 800)));
    EXPECT_FALSE(r.ok) << r.where.toStdString();
    EXPECT_TRUE(r.error.contains(QStringLiteral("HDMI-2"))) << r.error.toStdString();
    EXPECT_TRUE(r.error.contains(QStringLiteral("0,0 1280x800"))) << r.error.toStdString();
    // The first twin is what three values give: taken, with the value this
    // mutter reads.
    r = pinner.pin(projectorRequest(QStringLiteral("HDMI-1"), QRect(0, 0, 1280, 800)));
    ASSERT_TRUE(r.ok) << r.error.toStdString();
    EXPECT_EQ(storedOutput(0x0F8C), (QStringList{"EPS", "Projector", "PX1000"}));
    // Distinct monitors under mutter 43: three values, confirmed.
    {
        std::lock_guard<std::mutex> g(mutter.lock);
        mutter.monitors = laptopAndProjector();
        mutter.monitors[1].transform = 1;  // the projector turned 90 degrees
    }
    r = pinner.pin(projectorRequest(QStringLiteral("HDMI-1"), QRect(1920, 0, 800, 1280)));
    ASSERT_TRUE(r.ok) << r.error.toStdString();
    EXPECT_EQ(storedOutput(0x0F8C), (QStringList{"EPS", "Projector", "PX1000"}));
    EXPECT_EQ(r.transform, 1);
}

TEST(GnomeOutput, AMappingMutterCannotReportIsAFailure)
{
    // No InputMapping (mutter before 43): the key is written, nothing claimed.
    {
        FakeMutter mutter;
        mutter.monitors = laptopAndProjector();
        ASSERT_TRUE(mutter.start(false));
        const tl::PinResult r = tl::GnomeOutputPinner(QDBusConnection::sessionBus())
                                    .pin(projectorRequest(QStringLiteral("HDMI-1"), QRect(1920, 0, 1280, 800)));
        EXPECT_FALSE(r.ok);
        EXPECT_TRUE(r.error.contains(QStringLiteral("cannot be read back"))) << r.error.toStdString();
    }
    // A device mutter does not list.
    FakeMutter mutter;
    mutter.monitors = laptopAndProjector();
    mutter.devnode = "/dev/input/event41";
    ASSERT_TRUE(mutter.start());
    const tl::PinResult r = tl::GnomeOutputPinner(QDBusConnection::sessionBus())
                                .pin(projectorRequest(QStringLiteral("HDMI-1"), QRect(1920, 0, 1280, 800)));
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(r.error.contains(QStringLiteral("GetDeviceMapping"))) << r.error.toStdString();
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

namespace {

const char kKWinSupportXml[] = R"X(<node><interface name="org.kde.KWin">
  <method name="supportInformation"><arg type="s" direction="out"/></method></interface></node>)X";

// KWin 5.27's support information, the part that lists the outputs.
const char kKWinScreens[] = "Screens\n=======\nActive screen follows mouse:  yes\nNumber of Screens: 2\n\n"
                            "Screen 0:\n---------\nName: eDP-1\nEnabled: 1\nGeometry: 0,0,1920x1080\nScale: 1\n"
                            "Screen 1:\n---------\nName: HDMI-A-1\nEnabled: 1\nGeometry: 1920,0,1280x800\nScale: 1\n"
                            "Refresh Rate: 60000\n\nCompositing\n===========\n";

} // namespace

TEST(KWinOutput, TheDeviceObjectReceivesTheOutputName)
{
    EXPECT_EQ(tl::kwinDevicePath(QStringLiteral("/dev/input/event12")),
              QStringLiteral("/org/kde/KWin/InputDevice/event12"));
    EXPECT_TRUE(tl::kwinDevicePath(QStringLiteral("/dev/input/mouse0")).isEmpty());
    std::string outputName;
    bool refuseUnknown = true;
    const std::string xml = R"X(<node><interface name="org.kde.KWin.InputDevice">
        <property name="name" type="s" access="read"/>
        <property name="outputName" type="s" access="readwrite"/></interface></node>)X";
    FakeBusObject kwin(
        "org.kde.KWin", "/org/kde/KWin/InputDevice/event77", xml, {},
        [&](const std::string &p) -> GVariant * {
            return p == "outputName" ? g_variant_new_string(outputName.c_str()) : g_variant_new_string("x");
        },
        [&](const std::string &p, GVariant *v) {
            const std::string name = g_variant_get_string(v, nullptr);
            if (p != "outputName" || (refuseUnknown && name != "HDMI-A-1" && name != "eDP-1"))
                return false;
            outputName = name;
            return true;
        });
    kwin.addObject("/KWin", kKWinSupportXml, [](const std::string &m, GVariant *) -> GVariant * {
        return m == "supportInformation" ? g_variant_new("(s)", kKWinScreens) : nullptr;
    });
    ASSERT_TRUE(kwin.start());
    tl::KWinOutputPinner pinner(QDBusConnection::sessionBus());
    tl::PinRequest r = projectorRequest(QStringLiteral("HDMI-A-1"), QRect(1920, 0, 1280, 800));
    r.devnode = QStringLiteral("/dev/input/event77");
    tl::PinResult res = pinner.pin(r);
    ASSERT_TRUE(res.ok) << res.error.toStdString();
    EXPECT_EQ(outputName, "HDMI-A-1");
    EXPECT_EQ(res.where, QStringLiteral("HDMI-A-1"));

    // Qt's name differs: the output KWin has at that rectangle.
    r.outputs.first().name = QStringLiteral("XWAYLAND0");
    r.outputs.first().geometry = QRect(0, 0, 1920, 1080);
    res = pinner.pin(r);
    ASSERT_TRUE(res.ok) << res.error.toStdString();
    EXPECT_EQ(outputName, "eDP-1");

    // An output KWin does not have: refused before the write, also where KWin
    // would store the name (and drop every touch of the device).
    refuseUnknown = false;
    r.outputs.first().name = QStringLiteral("DP-7");
    r.outputs.first().geometry = QRect(5000, 0, 800, 600);
    res = pinner.pin(r);
    EXPECT_FALSE(res.ok);
    EXPECT_TRUE(res.error.contains(QStringLiteral("no output DP-7"))) << res.error.toStdString();
    EXPECT_EQ(outputName, "eDP-1");
}

TEST(KWinOutput, APropertyOfTheWrongTypeIsAFailure)
{
    const std::string xml = R"X(<node><interface name="org.kde.KWin.InputDevice">
        <property name="outputName" type="i" access="readwrite"/></interface></node>)X";
    FakeBusObject kwin(
        "org.kde.KWin", "/org/kde/KWin/InputDevice/event78", xml, {},
        [](const std::string &) -> GVariant * { return g_variant_new_int32(3); },
        [](const std::string &, GVariant *) { return true; });
    kwin.addObject("/KWin", kKWinSupportXml, [](const std::string &, GVariant *) -> GVariant * {
        return g_variant_new("(s)", kKWinScreens);
    });
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
    // A monitor Qt names differently: the output sway has at its rectangle.
    r = projectorRequest(QString(), QRect(3200, 0, 1280, 800));
    res = pinner.pin(r);
    ASSERT_TRUE(res.ok) << res.error.toStdString();
    const auto commands = sway.commands();
    ASSERT_EQ(commands.size(), 3u);
    EXPECT_EQ(commands[0], "input \"5840:3980:Tesselink_Driver_touch\" map_to_output \"HDMI-A-1\"");
    EXPECT_EQ(commands[1], "input \"5840:3980:Tesselink_Driver_touch\" map_to_region 1920 0 2560 800");
    EXPECT_EQ(commands[2], "input \"5840:3980:Tesselink_Driver_touch\" map_to_output \"HDMI-A-2\"");
    // get_outputs, get_inputs, then the command.
    EXPECT_EQ(sway.types(), (std::vector<uint32_t>{3, 100, 0, 3, 100, 0, 3, 100, 0}));
}

TEST(SwayOutput, AnOutputOrADeviceSwayDoesNotHaveIsNotClaimed)
{
    // sway answers success to map_to_output for anything; the check is ours.
    FakeSway sway(FakeSway::Mode::Accept);
    ASSERT_TRUE(sway.start());
    tl::SwayOutputPinner pinner(sway.path());
    tl::PinResult res = pinner.pin(projectorRequest(QStringLiteral("HDMI-A-9"), QRect(5000, 0, 1280, 800)));
    EXPECT_FALSE(res.ok);
    EXPECT_TRUE(res.error.contains(QStringLiteral("no output HDMI-A-9"))) << res.error.toStdString();
    EXPECT_TRUE(res.error.contains(QStringLiteral("HDMI-A-1, HDMI-A-2, eDP-1"))) << res.error.toStdString();
    EXPECT_TRUE(sway.commands().empty());

    // An output that is off is not an output to map to.
    FakeSway off(FakeSway::Mode::Accept);
    off.outputsJson = R"([{"name":"HDMI-A-1","active":false,"transform":"normal","rect":{"x":0,"y":0,"width":0,"height":0}}])";
    ASSERT_TRUE(off.start());
    res = tl::SwayOutputPinner(off.path()).pin(projectorRequest(QStringLiteral("HDMI-A-1"), QRect(1920, 0, 1280, 800)));
    EXPECT_FALSE(res.ok);
    EXPECT_TRUE(off.commands().empty());

    // The device under another identifier (sway would map nothing).
    FakeSway other(FakeSway::Mode::Accept);
    other.inputsJson = R"([{"identifier":"5840:3980:Another_touch","type":"touch"}])";
    ASSERT_TRUE(other.start());
    res = tl::SwayOutputPinner(other.path()).pin(projectorRequest(QStringLiteral("HDMI-A-1"), QRect(1920, 0, 1280, 800)));
    EXPECT_FALSE(res.ok);
    EXPECT_TRUE(res.error.contains(QStringLiteral("5840:3980:Tesselink_Driver_touch"))) << res.error.toStdString();
    EXPECT_TRUE(other.commands().empty());
}

TEST(SwayOutput, ATurnedOutputTurnsTheDeviceAndCannotBeSpanned)
{
    FakeSway sway(FakeSway::Mode::Accept);
    sway.outputsJson =
        R"([{"name":"HDMI-A-1","active":true,"transform":"normal","rect":{"x":1920,"y":0,"width":1280,"height":800}},)"
        R"({"name":"HDMI-A-2","active":true,"transform":"90","rect":{"x":3200,"y":0,"width":800,"height":1280}}])";
    ASSERT_TRUE(sway.start());
    tl::SwayOutputPinner pinner(sway.path());
    tl::PinResult res = pinner.pin(projectorRequest(QStringLiteral("HDMI-A-2"), QRect(3200, 0, 800, 1280)));
    ASSERT_TRUE(res.ok) << res.error.toStdString();
    EXPECT_EQ(res.transform, 3);  // sway's clockwise 90 is the protocol's 270
    tl::PinRequest r = projectorRequest(QStringLiteral("HDMI-A-1"), QRect(1920, 0, 1280, 800));
    MonitorInfo turned(QRect(3200, 0, 800, 1280));
    turned.name = QStringLiteral("HDMI-A-2");
    r.outputs.append(turned);
    r.area = QRect(1920, 0, 2080, 1280);
    res = pinner.pin(r);
    EXPECT_FALSE(res.ok);
    EXPECT_TRUE(res.error.contains(QStringLiteral("turned"))) << res.error.toStdString();
    EXPECT_EQ(sway.commands().size(), 1u);
}

TEST(SwayOutput, ARefusalOrASocketClosingMidReplyIsAFailure)
{
    FakeSway refusing(FakeSway::Mode::Refuse);
    ASSERT_TRUE(refusing.start());
    tl::PinResult res = tl::SwayOutputPinner(refusing.path())
                            .pin(projectorRequest(QStringLiteral("HDMI-A-1"), QRect(1920, 0, 1280, 800)));
    EXPECT_FALSE(res.ok);
    EXPECT_TRUE(res.error.contains(QStringLiteral("Invalid output"))) << res.error.toStdString();

    FakeSway closing(FakeSway::Mode::CloseMidReply);
    ASSERT_TRUE(closing.start());
    res = tl::SwayOutputPinner(closing.path()).pin(projectorRequest(QStringLiteral("HDMI-A-1"), QRect(1920, 0, 1280, 800)));
    EXPECT_FALSE(res.ok);
    EXPECT_TRUE(res.error.contains(QStringLiteral("middle of a reply"))) << res.error.toStdString();

    res = tl::SwayOutputPinner(QStringLiteral("/tmp/no-such-sway.sock"))
              .pin(projectorRequest(QStringLiteral("HDMI-A-1"), QRect(0, 0, 800, 600)));
    EXPECT_FALSE(res.ok);
}

// ---- sway: placing the driver's own floating window ---------------------------

namespace {

// A tree as sway writes it: HEADLESS-1 (1280x800 at 0,0) and HEADLESS-2
// (1920x1080 at 1280,0), each with one workspace; `floating` goes into the
// workspace of `output` as a floating container.
std::string swayTree(const std::string &output, const std::string &floating, const std::string &tiled = "")
{
    auto workspace = [&](const std::string &name, const std::string &rect) {
        const bool here = name == output;
        return R"({"type":"output","name":")" + name + R"(","rect":)" + rect +
               R"(,"nodes":[{"type":"workspace","name":"1","nodes":[)" + (here ? tiled : "") +
               R"(],"floating_nodes":[)" + (here ? floating : "") + "]}]}";
    };
    return R"({"type":"root","id":1,"nodes":[)" +
           workspace("HEADLESS-1", R"({"x":0,"y":0,"width":1280,"height":800})") + "," +
           workspace("HEADLESS-2", R"({"x":1280,"y":0,"width":1920,"height":1080})") + "]}";
}

std::string swayWindow(int id, qint64 pid, const std::string &title, int x, int y, const std::string &type,
                       int decoTop = 0)
{
    return R"({"id":)" + std::to_string(id) + R"(,"type":")" + type + R"(","pid":)" + std::to_string(pid) +
           R"(,"name":")" + title + R"(","app_id":"tesselink","rect":{"x":)" + std::to_string(x) + R"(,"y":)" +
           std::to_string(y) + R"(,"width":470,"height":)" + std::to_string(540 + decoTop) +
           R"(},"window_rect":{"x":0,"y":)" + std::to_string(decoTop) + R"(,"width":470,"height":540}})";
}

constexpr const char *kTwoOutputs =
    R"([{"name":"HEADLESS-1","active":true,"transform":"normal","rect":{"x":0,"y":0,"width":1280,"height":800}},)"
    R"({"name":"HEADLESS-2","active":true,"transform":"normal","rect":{"x":1280,"y":0,"width":1920,"height":1080}}])";

} // namespace

TEST(SwayPlacement, TheWindowIsMovedByItsContainerIdAndConfirmedInTheTree)
{
    // sway centred the dialog on the focused output; it is to go to the
    // board's corner, 2722,532 on HEADLESS-2. Another program's window of the
    // same title comes first in the tree and is left alone.
    FakeSway sway(FakeSway::Mode::Accept);
    sway.outputsJson = kTwoOutputs;
    sway.treeJson = swayTree("HEADLESS-1", swayWindow(4, 777, "Engineer Mode", 100, 100, "floating_con") + "," +
                                               swayWindow(9, 4242, "Engineer Mode", 405, 130, "floating_con"));
    sway.movedTreeJson = swayTree("HEADLESS-2", swayWindow(9, 4242, "Engineer Mode", 2722, 532, "floating_con"));
    ASSERT_TRUE(sway.start());
    const tl::SwayWindowPlacer::Result r =
        tl::SwayWindowPlacer(sway.path()).place(4242, QStringLiteral("Engineer Mode"), QPoint(2722, 532));
    EXPECT_EQ(r.outcome, tl::SwayWindowPlacer::Outcome::Placed) << r.error.toStdString();
    EXPECT_EQ(r.output, QStringLiteral("HEADLESS-2"));
    EXPECT_EQ(r.rect, QRect(2722, 532, 470, 540));
    ASSERT_EQ(sway.commands().size(), 1u);
    EXPECT_EQ(sway.commands()[0], "[con_id=9] move absolute position 2722 532");
    // get_outputs, get_tree, the command, get_tree again.
    EXPECT_EQ(sway.types(), (std::vector<uint32_t>{3, 4, 0, 4}));
}

TEST(SwayPlacement, TheContentGoesToThePositionWithSwaysDecorationsAroundIt)
{
    // A title bar of 24 px above the content: the container goes 24 px higher.
    FakeSway sway(FakeSway::Mode::Accept);
    sway.outputsJson = kTwoOutputs;
    sway.treeJson = swayTree("HEADLESS-1", swayWindow(9, 4242, "Engineer Mode", 405, 118, "floating_con", 24));
    sway.movedTreeJson = swayTree("HEADLESS-2", swayWindow(9, 4242, "Engineer Mode", 2722, 508, "floating_con", 24));
    ASSERT_TRUE(sway.start());
    const tl::SwayWindowPlacer::Result r =
        tl::SwayWindowPlacer(sway.path()).place(4242, QStringLiteral("Engineer Mode"), QPoint(2722, 532));
    EXPECT_EQ(r.outcome, tl::SwayWindowPlacer::Outcome::Placed) << r.error.toStdString();
    EXPECT_EQ(r.rect, QRect(2722, 532, 470, 540));
    ASSERT_EQ(sway.commands().size(), 1u);
    EXPECT_EQ(sway.commands()[0], "[con_id=9] move absolute position 2722 508");
}

TEST(SwayPlacement, WhatSwayDidNotDoIsNotReportedAsDone)
{
    // sway answers success but the tree still shows the window where it was.
    FakeSway kept(FakeSway::Mode::Accept);
    kept.outputsJson = kTwoOutputs;
    kept.treeJson = swayTree("HEADLESS-1", swayWindow(9, 4242, "Engineer Mode", 405, 130, "floating_con"));
    ASSERT_TRUE(kept.start());
    tl::SwayWindowPlacer::Result r =
        tl::SwayWindowPlacer(kept.path()).place(4242, QStringLiteral("Engineer Mode"), QPoint(2722, 532));
    EXPECT_EQ(r.outcome, tl::SwayWindowPlacer::Outcome::Failed);
    EXPECT_EQ(r.output, QStringLiteral("HEADLESS-1"));
    EXPECT_TRUE(r.error.contains(QStringLiteral("kept \"Engineer Mode\" at 470x540+405+130 on HEADLESS-1")))
        << r.error.toStdString();

    // A refusal, with sway's reason.
    FakeSway refusing(FakeSway::Mode::Refuse);
    refusing.outputsJson = kTwoOutputs;
    refusing.treeJson = kept.treeJson;
    ASSERT_TRUE(refusing.start());
    r = tl::SwayWindowPlacer(refusing.path()).place(4242, QStringLiteral("Engineer Mode"), QPoint(2722, 532));
    EXPECT_EQ(r.outcome, tl::SwayWindowPlacer::Outcome::Failed);
    EXPECT_TRUE(r.error.contains(QStringLiteral("sway refused"))) << r.error.toStdString();

    // The socket closing in the middle of the command's reply.
    FakeSway closing(FakeSway::Mode::CloseMidReply);
    closing.outputsJson = kTwoOutputs;
    closing.treeJson = kept.treeJson;
    ASSERT_TRUE(closing.start());
    r = tl::SwayWindowPlacer(closing.path()).place(4242, QStringLiteral("Engineer Mode"), QPoint(2722, 532));
    EXPECT_EQ(r.outcome, tl::SwayWindowPlacer::Outcome::Failed);
    EXPECT_TRUE(r.error.contains(QStringLiteral("middle of a reply"))) << r.error.toStdString();

    // No sway at all.
    r = tl::SwayWindowPlacer(QStringLiteral("/tmp/no-such-sway.sock"))
            .place(4242, QStringLiteral("Engineer Mode"), QPoint(2722, 532));
    EXPECT_EQ(r.outcome, tl::SwayWindowPlacer::Outcome::Failed);
    EXPECT_FALSE(r.error.isEmpty());
}

TEST(SwayPlacement, NoCommandForAWindowSwayCannotMoveOrAPlaceOnNoOutput)
{
    FakeSway sway(FakeSway::Mode::Accept);
    sway.outputsJson = kTwoOutputs;
    // Not mapped yet: only another program's window of that title.
    sway.treeJson = swayTree("HEADLESS-1", swayWindow(4, 777, "Engineer Mode", 405, 130, "floating_con"));
    ASSERT_TRUE(sway.start());
    tl::SwayWindowPlacer placer(sway.path());
    tl::SwayWindowPlacer::Result r = placer.place(4242, QStringLiteral("Engineer Mode"), QPoint(2722, 532));
    EXPECT_EQ(r.outcome, tl::SwayWindowPlacer::Outcome::NotListed) << r.error.toStdString();
    // A position right of both outputs.
    r = placer.place(777, QStringLiteral("Engineer Mode"), QPoint(3300, 532));
    EXPECT_EQ(r.outcome, tl::SwayWindowPlacer::Outcome::Failed);
    EXPECT_TRUE(r.error.contains(QStringLiteral("no output at 3300,532"))) << r.error.toStdString();
    EXPECT_TRUE(sway.commands().empty());

    // A tiled window has no position of its own.
    FakeSway tiling(FakeSway::Mode::Accept);
    tiling.outputsJson = kTwoOutputs;
    tiling.treeJson = swayTree("HEADLESS-1", "", swayWindow(9, 4242, "Engineer Mode", 0, 0, "con"));
    ASSERT_TRUE(tiling.start());
    r = tl::SwayWindowPlacer(tiling.path()).place(4242, QStringLiteral("Engineer Mode"), QPoint(2722, 532));
    EXPECT_EQ(r.outcome, tl::SwayWindowPlacer::Outcome::Failed);
    EXPECT_TRUE(r.error.contains(QStringLiteral("tiles"))) << r.error.toStdString();
    EXPECT_TRUE(tiling.commands().empty());
}

TEST(SwayPlacement, ATreeThatIsNotSwaysFindsNoWindow)
{
    tl::SwayWindowPlacer::TreeWindow w;
    EXPECT_FALSE(tl::SwayWindowPlacer::findWindow("[1, 2]", 4242, QStringLiteral("Engineer Mode"), &w));
    EXPECT_FALSE(tl::SwayWindowPlacer::findWindow("{\"nodes\": [", 4242, QStringLiteral("Engineer Mode"), &w));
    // Our window nested deeper than any tree sway writes.
    std::string deep = swayWindow(9, 4242, "Engineer Mode", 0, 0, "floating_con");
    for (int i = 0; i < 100; ++i)
        deep = R"({"type":"con","nodes":[)" + deep + "]}";
    EXPECT_FALSE(tl::SwayWindowPlacer::findWindow(QByteArray::fromStdString(deep), 4242,
                                                  QStringLiteral("Engineer Mode"), &w));
    // A window without a numeric id cannot be named in a command.
    EXPECT_FALSE(tl::SwayWindowPlacer::findWindow(
        R"({"type":"root","nodes":[{"type":"floating_con","id":"9","pid":4242,"name":"Engineer Mode"}]})", 4242,
        QStringLiteral("Engineer Mode"), &w));
    EXPECT_EQ(w.conId, -1);
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
