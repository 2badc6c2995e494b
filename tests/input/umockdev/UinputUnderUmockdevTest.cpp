// The uinput backends against an emulated /dev/uinput: a umockdev testbed node
// whose ioctl and write handlers play the kernel's uinput. The test sees the
// device set-up the backend asks for and decodes the exact event stream it
// writes. Runs under umockdev-wrapper (the preload library); skipped without.
#include "input/InputInjection.h"
#include "platform/Screens.h"
#include "platform/fake/FixedScreens.h"
#include "platform/linux/InjectionFactory.h"
#include "platform/linux/UinputMouseBackend.h"
#include "platform/linux/UinputTouchBackend.h"
#include "platform/linux/TouchMapping.h"

#include "UinputNode.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <vector>

namespace {

class EmulatedUinput : public ::testing::Test
{
protected:
    void SetUp() override
    {
        const char *preload = std::getenv("LD_PRELOAD");
        if (!preload || !std::strstr(preload, "libumockdev-preload"))
            GTEST_SKIP() << "needs umockdev-wrapper";
        node.emplace(&state, true);
        ASSERT_TRUE(node->error().isEmpty()) << node->error().toStdString();
    }

    std::vector<input_event> takeEvents()
    {
        std::lock_guard<std::mutex> guard(state.lock);
        std::vector<input_event> out;
        for (const UinputState::Event &e : state.events)
            out.push_back(e.ev);
        state.events.clear();
        return out;
    }

    UinputState state;
    std::optional<UinputNode> node;
};

struct Ev
{
    unsigned type, code;
    int value;
    bool operator==(const Ev &o) const { return type == o.type && code == o.code && value == o.value; }
};

std::vector<Ev> plain(const std::vector<input_event> &events)
{
    std::vector<Ev> out;
    for (const input_event &e : events)
        out.push_back({e.type, e.code, e.value});
    return out;
}

} // namespace

TEST_F(EmulatedUinput, TouchDeviceSetUpAndEventStream)
{
    QString error;
    auto backend = tl::UinputTouchBackend::create(QStringLiteral("/dev/uinput"),
                                                  {QRect(0, 0, 1920, 1080), 96.0 / 25.4}, &error);
    ASSERT_NE(backend, nullptr) << error.toStdString();
    {
        std::lock_guard<std::mutex> guard(state.lock);
        EXPECT_TRUE(state.created);
        EXPECT_TRUE(state.unknown.empty()) << std::hex << state.unknown.front();
        EXPECT_EQ(std::string(state.setup.name), "Tesselink Driver touch");
        EXPECT_EQ(state.setup.id.vendor, 0x16D0);
        EXPECT_EQ(state.setup.id.product, 0x0F8C);
        EXPECT_TRUE(state.propbits.count(INPUT_PROP_DIRECT));
        EXPECT_TRUE(state.evbits.count(EV_KEY));
        EXPECT_TRUE(state.evbits.count(EV_ABS));
        EXPECT_TRUE(state.keybits.count(BTN_TOUCH));
        EXPECT_FALSE(state.keybits.count(BTN_LEFT));
        ASSERT_TRUE(state.abs.count(ABS_MT_SLOT));
        EXPECT_EQ(state.abs[ABS_MT_SLOT].maximum, 9);
        ASSERT_TRUE(state.abs.count(ABS_MT_POSITION_X));
        EXPECT_EQ(state.abs[ABS_MT_POSITION_X].maximum, 1919);
        EXPECT_EQ(state.abs[ABS_MT_POSITION_X].resolution, 4);
        EXPECT_EQ(state.abs[ABS_MT_POSITION_Y].maximum, 1079);
        EXPECT_TRUE(state.abs.count(ABS_MT_TRACKING_ID));
        EXPECT_TRUE(state.abs.count(ABS_X));
    }

    tl::TouchRecord r{0, 960, 540, tl::kTouchFlagsDown};
    ASSERT_TRUE(backend->injectTouch(&r, 1));
    r = {0, 970, 540, tl::kTouchFlagsMove};
    backend->injectTouch(&r, 1);
    r.flags = tl::kTouchFlagsUp;
    backend->injectTouch(&r, 1);
    const std::vector<Ev> expected = {
        {EV_ABS, ABS_MT_SLOT, 0},         {EV_ABS, ABS_MT_TRACKING_ID, 0}, {EV_ABS, ABS_MT_POSITION_X, 960},
        {EV_ABS, ABS_MT_POSITION_Y, 540}, {EV_KEY, BTN_TOUCH, 1},          {EV_ABS, ABS_X, 960},
        {EV_ABS, ABS_Y, 540},             {EV_SYN, SYN_REPORT, 0},         {EV_ABS, ABS_MT_POSITION_X, 970},
        {EV_ABS, ABS_X, 970},             {EV_SYN, SYN_REPORT, 0},         {EV_ABS, ABS_MT_TRACKING_ID, -1},
        {EV_KEY, BTN_TOUCH, 0},           {EV_SYN, SYN_REPORT, 0},
    };
    EXPECT_EQ(plain(takeEvents()), expected);

    backend.reset();
    std::lock_guard<std::mutex> guard(state.lock);
    EXPECT_TRUE(state.destroyed);
}

TEST_F(EmulatedUinput, TheFactoryPicksTheTouchPathAndAPenStrokeComesUp)
{
    tl::InjectionSetup setup;
    setup.desktop = QRect(0, 0, 1920, 1080);
    tl::InjectionChoice choice = tl::createInjectionBackend(setup);
    ASSERT_EQ(choice.backend->kind(), tl::InjectionBackend::Kind::Touch);
    EXPECT_TRUE(choice.userMessage.isEmpty());

    tl::input::InputInjection inj(std::move(choice.backend));
    ASSERT_TRUE(inj.touchInjectionAvailable());
    inj.setDisplayLayout(QRect(0, 0, 1920, 1080), QRect(), 1);
    inj.resetTracking(0);
    auto record = [](int x, int y) {
        std::vector<uint8_t> b(6);
        b[0] = uint8_t(x);
        b[1] = uint8_t(x >> 8);
        b[2] = uint8_t(y);
        b[3] = uint8_t(y >> 8);
        b[4] = 100;
        return b;
    };
    int calls = 0;
    for (int k = 0; k < 20; ++k) {
        const auto b = record(1000 + 50 * k, 1500);
        inj.trackingEntry(b.data(), 6, 0);
        ++calls;
    }
    inj.trackingEntry(nullptr, 0, 0);
    calls += 2;  // smoothing: the release takes two rounds in the same cycle

    const std::vector<input_event> events = takeEvents();
    int syn = 0, downs = 0, ups = 0;
    bool touching = false;
    for (const input_event &e : events) {
        syn += e.type == EV_SYN && e.code == SYN_REPORT;
        if (e.type == EV_ABS && e.code == ABS_MT_TRACKING_ID)
            (e.value >= 0 ? downs : ups) += 1;
        if (e.type == EV_KEY && e.code == BTN_TOUCH)
            touching = e.value != 0;
    }
    EXPECT_EQ(syn, calls);
    EXPECT_EQ(downs, 1);
    EXPECT_EQ(ups, 1);
    EXPECT_FALSE(touching);
}

TEST_F(EmulatedUinput, PointerDeviceSetUpAndClick)
{
    QString error;
    auto backend = tl::UinputMouseBackend::create(QStringLiteral("/dev/uinput"), &error);
    ASSERT_NE(backend, nullptr) << error.toStdString();
    {
        std::lock_guard<std::mutex> guard(state.lock);
        EXPECT_TRUE(state.keybits.count(BTN_LEFT));
        EXPECT_TRUE(state.keybits.count(BTN_RIGHT));
        EXPECT_EQ(state.abs[ABS_X].maximum, 65535);
        EXPECT_EQ(state.abs[ABS_Y].maximum, 65535);
        EXPECT_TRUE(state.propbits.empty());
    }
    backend->sendMouse(32767, 100, 0x8007);
    const std::vector<Ev> expected = {{EV_ABS, ABS_X, 32767},  {EV_ABS, ABS_Y, 100},  {EV_KEY, BTN_LEFT, 1},
                                      {EV_SYN, SYN_REPORT, 0}, {EV_KEY, BTN_LEFT, 0}, {EV_SYN, SYN_REPORT, 0}};
    EXPECT_EQ(plain(takeEvents()), expected);
}

TEST_F(EmulatedUinput, ADisplayChangeRebuildsTheTouchDeviceForTheNewDesktop)
{
    tl::FixedScreens::install({{QRect(0, 0, 1920, 1080), 96.0}});
    QString message;
    const tl::LinuxInjectionChooser system{};
    auto inj = std::make_unique<tl::input::InputInjection>(system, nullptr, &message);
    ASSERT_TRUE(inj->touchInjectionAvailable());
    EXPECT_TRUE(message.isEmpty());
    inj->setDisplayLayout(QRect(0, 0, 1920, 1080), QRect(), 1);
    inj->resetTracking(0);
    const uint8_t rec[6] = {0xE8, 0x03, 0xDC, 0x05, 100, 0};  // x 1000, y 1500
    inj->trackingEntry(rec, 6, 0);

    // Same desktop: nothing to do.
    EXPECT_FALSE(inj->desktopChanged());

    // A second monitor to the right: the contact comes up on the old device,
    // which goes; the new one spans both monitors.
    tl::FixedScreens::install({{QRect(0, 0, 1920, 1080), 96.0}, {QRect(1920, 0, 1920, 1080), 96.0}});
    EXPECT_TRUE(inj->desktopChanged());
    EXPECT_TRUE(inj->touchInjectionAvailable());
    int downs = 0, ups = 0;
    for (const input_event &e : takeEvents())
        if (e.type == EV_ABS && e.code == ABS_MT_TRACKING_ID)
            (e.value >= 0 ? downs : ups) += 1;
    EXPECT_EQ(downs, 1);
    EXPECT_EQ(ups, 1);
    {
        std::lock_guard<std::mutex> guard(state.lock);
        EXPECT_EQ(state.created, 2);
        EXPECT_EQ(state.destroyed, 1);
        EXPECT_EQ(state.abs[ABS_MT_POSITION_X].maximum, 3839);
    }
    tl::FixedScreens::uninstall();
}

// ---- The mouse path over monitor layouts -------------------------------------

namespace {

struct Layout
{
    const char *name;
    QList<tl::MonitorInfo> monitors;
};

// Where an absolute pointer's last position lands, as libinput scales it over
// the bounding box of all monitors: value * size / (range + 1).
QPoint landing(const std::vector<input_event> &events, const QRect &box)
{
    int ax = -1, ay = -1;
    for (const input_event &e : events) {
        if (e.type == EV_ABS && e.code == ABS_X)
            ax = e.value;
        if (e.type == EV_ABS && e.code == ABS_Y)
            ay = e.value;
    }
    if (ax < 0 || ay < 0)
        return QPoint(-100000, -100000);
    return QPoint(box.left() + int(qint64(ax) * box.width() / 65536), box.top() + int(qint64(ay) * box.height() / 65536));
}

QList<Layout> mouseLayouts()
{
    using M = tl::MonitorInfo;
    return {
        {"1920x1080 + 1280x1024 side by side", {M(QRect(0, 0, 1920, 1080), 96, true), M(QRect(1920, 0, 1280, 1024))}},
        {"secondary left of the primary", {M(QRect(0, 0, 1920, 1080), 96, true), M(QRect(-1280, 56, 1280, 1024))}},
        {"three monitors",
         {M(QRect(1920, 0, 1600, 900)), M(QRect(0, 0, 1920, 1080), 96, true), M(QRect(-1024, 200, 1024, 768))}},
        {"vertical stacking", {M(QRect(0, 0, 1920, 1080), 96, true), M(QRect(320, 1080, 1280, 1024))}},
    };
}

} // namespace

TEST_F(EmulatedUinput, TheSensorCentreLandsOnTheCentrePixelOfEveryMonitorThroughThePointer)
{
    for (const Layout &layout : mouseLayouts()) {
        tl::FixedScreens::install(layout.monitors);
        QRect box;
        for (const tl::MonitorInfo &m : layout.monitors)
            box = box.united(m.geometry);
        QString error;
        auto pointer = tl::UinputMouseBackend::create(QStringLiteral("/dev/uinput"), &error);
        ASSERT_NE(pointer, nullptr) << error.toStdString();
        tl::input::InputInjection inj(std::move(pointer));
        for (int n = 0; n < layout.monitors.size(); ++n) {
            // The board on the n-th monitor of the left-to-right list.
            inj.selectDisplayLayout(1, n);
            const QRect board = inj.displayMap().rect[0];
            inj.setScreenSize(board.width(), board.height());
            inj.resetTracking(0);
            takeEvents();
            const uint8_t centre[6] = {0x60, 0x09, 0xDC, 0x05, 100, 0};  // x 2400, y 1500
            for (int k = 0; k < 4; ++k)
                inj.trackingEntry(centre, 6, 0);
            const QPoint expected(board.left() + board.width() / 2, board.top() + board.height() / 2);
            EXPECT_EQ(landing(takeEvents(), box), expected) << layout.name << ", monitor " << n;
            inj.trackingEntry(nullptr, 0, 0);
            inj.trackingEntry(nullptr, 0, 0);
        }
    }
    tl::FixedScreens::uninstall();
}

TEST_F(EmulatedUinput, UnderAQtScaleFactorThePointerLandsOnTheWindowSystemPixel)
{
    // Qt keeps a screen's top-left corner and divides its size by the factor:
    // the right-hand monitor is 2560 x 1440 pixels, 1280 x 720 for Qt.
    tl::MonitorInfo left(QRect(0, 0, 1920, 1080), 96, true);
    tl::MonitorInfo right(QRect(1920, 0, 1280, 720));
    right.native = QRect(1920, 0, 2560, 1440);
    tl::FixedScreens::install({left, right});
    QString error;
    auto pointer = tl::UinputMouseBackend::create(QStringLiteral("/dev/uinput"), &error);
    ASSERT_NE(pointer, nullptr) << error.toStdString();
    tl::input::InputInjection inj(std::move(pointer));
    inj.selectDisplayLayout(1, 1);
    inj.setScreenSize(1280, 720);
    inj.resetTracking(0);
    const uint8_t centre[6] = {0x60, 0x09, 0xDC, 0x05, 100, 0};
    for (int k = 0; k < 4; ++k)
        inj.trackingEntry(centre, 6, 0);
    // Logical (2560, 360) is pixel (1920 + 2 * 640, 2 * 360) of the window system.
    const QPoint p = landing(takeEvents(), QRect(0, 0, 4480, 1440));
    EXPECT_LE(std::abs(p.x() - 3200), 1);
    EXPECT_LE(std::abs(p.y() - 720), 1);
    tl::FixedScreens::uninstall();
}

// ---- Touch devices pinned to the board's monitors ----------------------------

namespace {

struct RecordingPinner : tl::OutputPinner
{
    std::vector<tl::PinRequest> *requests;
    bool refuse;
    int transform = 0;  // how the compositor turns the device with its output
    RecordingPinner(std::vector<tl::PinRequest> *r, bool no, int turn = 0) : requests(r), refuse(no), transform(turn) {}
    QString name() const override { return QStringLiteral("test pinner"); }
    tl::PinResult pin(const tl::PinRequest &request) override
    {
        requests->push_back(request);
        tl::PinResult r;
        r.ok = !refuse;
        r.where = request.outputs.value(0).name;
        r.error = QStringLiteral("output unknown to the compositor");
        r.transform = transform;
        return r;
    }
};

// The system's injection on the desktop a test names, with its pinner.
struct PinnedInjection : tl::LinuxInjectionChooser
{
    std::function<void(tl::InjectionSetup &)> adjust;
    tl::InjectionSetup currentSetup() const override
    {
        tl::InjectionSetup setup = LinuxInjectionChooser::currentSetup();
        adjust(setup);
        return setup;
    }
};

} // namespace

TEST_F(EmulatedUinput, AMonitorThatGoesWhileATouchIsDownReleasesItThenRepins)
{
    std::vector<tl::PinRequest> requests;
    bool refuse = false;
    PinnedInjection chooser;
    chooser.adjust = [&](tl::InjectionSetup &s) {
        s.managed = true;
        s.desktopKind = tl::DesktopKind::KdeWayland;
        s.pinnerFactory = [&](tl::DesktopKind) { return std::make_unique<RecordingPinner>(&requests, refuse); };
    };
    tl::MonitorInfo laptop(QRect(0, 0, 1920, 1080), 96, true);
    laptop.name = QStringLiteral("eDP-1");
    tl::MonitorInfo projector(QRect(1920, 0, 1280, 800));
    projector.name = QStringLiteral("HDMI-A-1");
    projector.physicalMm = QSizeF(2560, 1600);  // a 3 m wide projection
    tl::FixedScreens::install({laptop, projector});

    auto inj = std::make_unique<tl::input::InputInjection>(chooser);
    inj->selectDisplayLayout(1, 1);  // the board on the projector
    ASSERT_TRUE(inj->touchInjectionAvailable());
    ASSERT_FALSE(requests.empty());
    EXPECT_EQ(requests.back().outputs.value(0).name, QStringLiteral("HDMI-A-1"));
    EXPECT_EQ(requests.back().area, QRect(1920, 0, 1280, 800));
    EXPECT_EQ(inj->mappedOutputs(), QStringList{QStringLiteral("HDMI-A-1")});
    {
        std::lock_guard<std::mutex> guard(state.lock);
        // Units per millimetre of the projection: 1280 px over 2560 mm, rounded up to 1.
        EXPECT_EQ(state.abs[ABS_MT_POSITION_X].maximum, 1279);
        EXPECT_GE(state.abs[ABS_MT_POSITION_X].resolution, 1);
        EXPECT_EQ(state.abs[ABS_MT_POSITION_X].fuzz, 0);
    }
    inj->resetTracking(0);
    const uint8_t rec[6] = {0x60, 0x09, 0xDC, 0x05, 100, 0};
    inj->trackingEntry(rec, 6, 0);
    takeEvents();

    // The projector goes away with the finger down; the board falls back to
    // the primary, the contact comes up first, the new device is pinned there.
    const size_t before = requests.size();
    tl::FixedScreens::install({laptop});
    EXPECT_TRUE(inj->desktopChanged());
    int ups = 0;
    for (const input_event &e : takeEvents())
        ups += e.type == EV_ABS && e.code == ABS_MT_TRACKING_ID && e.value == -1;
    EXPECT_EQ(ups, 1);
    EXPECT_EQ(requests.size(), before);  // one monitor: nothing to pin
    EXPECT_TRUE(inj->touchInjectionAvailable());

    // Back with an output the compositor refuses: the pointer stands in, the
    // user is told once.
    refuse = true;
    tl::FixedScreens::install({laptop, projector});
    EXPECT_TRUE(inj->desktopChanged());
    EXPECT_EQ(inj->backendKind(), tl::InjectionBackend::Kind::Mouse);
    QString detail;
    EXPECT_EQ(inj->takeNotice(&detail), tl::InjectionNotice::MappingFallback);
    EXPECT_EQ(detail, QStringLiteral("KDE (Wayland)"));
    tl::FixedScreens::install({laptop});
    inj->desktopChanged();
    tl::FixedScreens::install({laptop, projector});
    inj->desktopChanged();
    EXPECT_EQ(inj->takeNotice(), tl::InjectionNotice::None);

    inj.reset();
    tl::FixedScreens::uninstall();
}

TEST_F(EmulatedUinput, TwoBoardDisplaysGetOneDeviceEachWhereTheDesktopPinsToOneOutput)
{
    std::vector<tl::PinRequest> requests;
    tl::DesktopKind kind = tl::DesktopKind::GnomeWayland;
    PinnedInjection chooser;
    chooser.adjust = [&](tl::InjectionSetup &s) {
        s.managed = true;
        s.desktopKind = kind;
        s.pinnerFactory = [&](tl::DesktopKind) { return std::make_unique<RecordingPinner>(&requests, false); };
    };
    tl::MonitorInfo a(QRect(0, 0, 1920, 1080), 96, true);
    a.name = QStringLiteral("DP-1");
    tl::MonitorInfo b(QRect(1920, 0, 1920, 1080));
    b.name = QStringLiteral("DP-2");
    tl::FixedScreens::install({a, b});
    auto inj = std::make_unique<tl::input::InputInjection>(chooser);
    requests.clear();
    inj->selectDisplayLayout(2, 0);
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].product, 0x0F8C);
    EXPECT_EQ(requests[1].product, 0x0F8D);
    EXPECT_EQ(requests[1].name, QByteArray("Tesselink Driver touch module 2"));
    EXPECT_EQ(requests[1].outputs.value(0).name, QStringLiteral("DP-2"));

    // A stroke across the seam: up on the left device, down on the right one.
    inj->resetTracking(0);
    inj->resetTracking(1);
    inj->configure(2, 0.8, 1);  // raw
    takeEvents();
    auto send = [&](int x) {
        const int m = x >= 4800 ? 1 : 0;
        const int local = x - 4800 * m;
        const uint8_t r[6] = {uint8_t(local), uint8_t(local >> 8), 0xDC, 0x05, 100, 0};
        inj->trackingEntry(m == 0 ? r : nullptr, m == 0 ? 6 : 0, 0);
        inj->trackingEntry(m == 1 ? r : nullptr, m == 1 ? 6 : 0, 1);
    };
    for (int x = 4500; x <= 5100; x += 100)
        send(x);
    int downs = 0, ups = 0;
    for (const input_event &e : takeEvents())
        if (e.type == EV_ABS && e.code == ABS_MT_TRACKING_ID)
            (e.value >= 0 ? downs : ups) += 1;
    EXPECT_EQ(downs, 2);
    EXPECT_EQ(ups, 1);

    // sway keeps one device over both displays: the stroke stays one contact.
    kind = tl::DesktopKind::Sway;
    requests.clear();
    tl::FixedScreens::install({b, a});  // same monitors, other order: a change
    inj->desktopChanged();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].area, QRect(0, 0, 3840, 1080));
    EXPECT_EQ(requests[0].outputs.size(), 2);

    inj.reset();
    tl::FixedScreens::uninstall();
}

TEST_F(EmulatedUinput, ADeviceOnATurnedOutputIsFedSoThatTheCompositorsTurnPlacesTheTouch)
{
    // KWin and mutter turn a touchscreen with its output: for an output turned
    // 90 degrees (wl_output 1) a device position (u, v) in 0..1 lands on the
    // output at (1 - v, u).
    std::vector<tl::PinRequest> requests;
    PinnedInjection chooser;
    chooser.adjust = [&](tl::InjectionSetup &s) {
        s.managed = true;
        s.desktopKind = tl::DesktopKind::KdeWayland;
        s.pinnerFactory = [&](tl::DesktopKind) { return std::make_unique<RecordingPinner>(&requests, false, 1); };
    };
    tl::MonitorInfo laptop(QRect(0, 0, 1920, 1080), 96, true);
    laptop.name = QStringLiteral("eDP-1");
    tl::MonitorInfo projector(QRect(1920, 0, 1280, 800));
    projector.name = QStringLiteral("HDMI-A-1");
    tl::FixedScreens::install({laptop, projector});
    auto inj = std::make_unique<tl::input::InputInjection>(chooser);
    inj->selectDisplayLayout(1, 1);
    ASSERT_TRUE(inj->touchInjectionAvailable());
    inj->resetTracking(0);
    inj->configure(2, 0.8, 1);  // raw
    takeEvents();
    // Sensor (1200, 750) of 4800 x 3000: a quarter across, a quarter down the
    // board, desktop pixel (1920 + 320, 200).
    const uint8_t rec[6] = {0xB0, 0x04, 0xEE, 0x02, 100, 0};
    inj->trackingEntry(rec, 6, 0);
    int x = -1, y = -1;
    for (const input_event &e : takeEvents()) {
        if (e.type == EV_ABS && e.code == ABS_MT_POSITION_X)
            x = e.value;
        if (e.type == EV_ABS && e.code == ABS_MT_POSITION_Y)
            y = e.value;
    }
    ASSERT_GE(x, 0);
    ASSERT_GE(y, 0);
    double maxX = 0, maxY = 0;
    {
        std::lock_guard<std::mutex> guard(state.lock);
        maxX = state.abs[ABS_MT_POSITION_X].maximum + 1;
        maxY = state.abs[ABS_MT_POSITION_Y].maximum + 1;
    }
    const double u = x / maxX, v = y / maxY;
    EXPECT_NEAR(1920 + (1 - v) * 1280, 2240, 3);
    EXPECT_NEAR(u * 800, 200, 3);
    inj.reset();
    tl::FixedScreens::uninstall();
}
