// GLib before Qt: Qt's "signals" keyword would rewrite GLib's field names.
#include <umockdev.h>

#include "FeedRecorder.h"
#include "tests/input/umockdev/UinputNode.h"

#include "input/InputInjection.h"
#include "platform/Clock.h"
#include "platform/Screens.h"
#include "platform/fake/FixedScreens.h"
#include "platform/linux/InjectionFactory.h"
#include "platform/linux/UinputMouseBackend.h"

#include <QDir>
#include <QFile>
#include <QTextStream>

#include <libevdev/libevdev.h>
#include <linux/input.h>
#include <linux/uinput.h>

#include <cmath>
#include <cstring>
#include <unistd.h>
#include <map>
#include <mutex>
#include <set>

namespace feed {

namespace {

// The report cycle of a module (seconds).
constexpr double kCycle = 0.010;

// Keeps what the injector asks for, then passes it on to the real backend.
class Witness : public tl::InjectionBackend
{
public:
    Witness(std::unique_ptr<tl::InjectionBackend> real, UinputState *u, std::vector<Meant> *meant)
        : m_real(std::move(real)), m_u(u), m_meant(meant)
    {
    }
    Kind kind() const override { return m_real->kind(); }
    QString name() const override { return m_real->name(); }
    bool injectTouch(const tl::TouchRecord *records, int count) override
    {
        Meant m;
        m.at = now();
        m.touches.assign(records, records + std::max(0, count));
        m_meant->push_back(m);
        return m_real->injectTouch(records, count);
    }
    bool sendMouse(int absX, int absY, quint32 flags) override
    {
        Meant m;
        m.at = now();
        m.absX = absX;
        m.absY = absY;
        m.mouseFlags = flags;
        m_meant->push_back(m);
        return m_real->sendMouse(absX, absY, flags);
    }

private:
    double now() const
    {
        std::lock_guard<std::mutex> guard(m_u->lock);
        return m_u->now;
    }
    std::unique_ptr<tl::InjectionBackend> m_real;
    UinputState *m_u;
    std::vector<Meant> *m_meant;
};

// The driver's own choice (the touch devices for the monitors), or for the
// mouse path the uinput pointer it falls back to; wrapped in the witness.
class WitnessedChooser : public tl::LinuxInjectionChooser
{
public:
    WitnessedChooser(bool mouse, UinputState *u, std::vector<Meant> *meant) : m_mouse(mouse), m_u(u), m_meant(meant) {}
    tl::InjectionChoice choose(const tl::InjectionSetup &setup) const override
    {
        tl::InjectionChoice choice;
        if (m_mouse) {
            QString error;
            std::unique_ptr<tl::InjectionBackend> pointer = tl::UinputMouseBackend::create(setup.uinputPath, &error);
            choice.backend = pointer ? std::move(pointer) : std::make_unique<tl::NullInjectionBackend>();
        } else {
            choice = tl::createInjectionBackend(setup);
        }
        choice.backend = std::make_unique<Witness>(std::move(choice.backend), m_u, m_meant);
        return choice;
    }

private:
    bool m_mouse;
    UinputState *m_u;
    std::vector<Meant> *m_meant;
};

struct EvdevFree
{
    void operator()(libevdev *d) const { libevdev_free(d); }
};

QByteArray timeText(double seconds)
{
    return QByteArray::number(seconds, 'f', 6);
}

} // namespace

PlayedNode::PlayedNode(const Feed &feed, const QString &dir) : m_node(feed.device.node.toLocal8Bit()), m_dir(dir)
{
    m_testbed = umockdev_testbed_new();
    GError *error = nullptr;
    if (!umockdev_testbed_add_from_string(m_testbed, feed.device.umockdev.constData(), &error) ||
        !umockdev_testbed_load_ioctl(m_testbed, m_node.constData(), QFile::encodeName(dir + "/device.ioctl").constData(),
                                     &error)) {
        m_error = QString::fromUtf8(error ? error->message : "testbed");
        g_clear_error(&error);
        return;
    }
    m_fd = umockdev_testbed_get_dev_fd(m_testbed, m_node.constData());
    if (m_fd < 0)
        m_error = QStringLiteral("the emulated node %1 has no terminal to write to").arg(feed.device.node);
}

PlayedNode::~PlayedNode()
{
    umockdev_testbed_detach_ioctl(m_testbed, m_node.constData(), nullptr);
    g_object_unref(m_testbed);
}

QStringList PlayedNode::environment(const QString &shim) const
{
    return {QStringLiteral("LD_PRELOAD=") + shim + ':' + qEnvironmentVariable("LD_PRELOAD"),
            QStringLiteral("TL_UDEV_RUN_DIR=") + m_dir + QStringLiteral("/udev")};
}

bool PlayedNode::play(const std::vector<Timed> &stream) const
{
    if (m_fd < 0)
        return false;
    double previous = stream.empty() ? 0 : stream.front().at;
    std::vector<input_event> frame;
    for (const Timed &t : stream) {
        if (t.at > previous) {
            tl::Clock::sleepMs(int(std::lround((t.at - previous) * 1000)));
            previous = t.at;
        }
        input_event e{};
        e.type = quint16(t.type);
        e.code = quint16(t.code);
        e.value = t.value;
        frame.push_back(e);
        if (t.type == EV_SYN) {
            const ssize_t bytes = ssize_t(frame.size() * sizeof(input_event));
            if (::write(m_fd, frame.data(), size_t(bytes)) != bytes)
                return false;
            frame.clear();
        }
    }
    return true;
}

QString classify(const libevdev *d)
{
    const bool absXY = libevdev_has_event_code(d, EV_ABS, ABS_X) && libevdev_has_event_code(d, EV_ABS, ABS_Y);
    const bool mtXY = libevdev_has_event_code(d, EV_ABS, ABS_MT_POSITION_X) &&
                      libevdev_has_event_code(d, EV_ABS, ABS_MT_POSITION_Y);
    const bool direct = libevdev_has_property(d, INPUT_PROP_DIRECT);
    const bool touch = libevdev_has_event_code(d, EV_KEY, BTN_TOUCH);
    const bool pen = libevdev_has_event_code(d, EV_KEY, BTN_TOOL_PEN) || libevdev_has_event_code(d, EV_KEY, BTN_STYLUS);
    const bool fingerNoPen = libevdev_has_event_code(d, EV_KEY, BTN_TOOL_FINGER) && !pen;
    const bool mouseButton = libevdev_has_event_code(d, EV_KEY, BTN_LEFT);
    if (absXY || mtXY) {
        if (pen)
            return QStringLiteral("tablet");
        if (fingerNoPen && !direct)
            return QStringLiteral("touchpad");
        if (absXY && mouseButton)
            return QStringLiteral("mouse");
        if (touch || direct)
            return QStringLiteral("touchscreen");
    }
    return QStringLiteral("none");
}

Feed record(const Script &script)
{
    Feed out;
    UinputState u;
    const UinputNode node(&u, false);
    if (!node.error().isEmpty()) {
        out.error = QStringLiteral("no emulated /dev/uinput: ") + node.error();
        return out;
    }

    QList<tl::MonitorInfo> monitors;
    for (int i = 0; i < script.monitors.size(); ++i) {
        monitors << tl::MonitorInfo(script.monitors[i], 96, i == 0);
        monitors.back().name = QStringLiteral("OUT-%1").arg(i);
        out.desktop = out.desktop.united(script.monitors[i]);
    }
    tl::FixedScreens::install(monitors);
    {
        const bool mouse = script.path == Script::Path::Mouse;
        WitnessedChooser chooser(mouse, &u, &out.meant);
        tl::input::InputInjection inj(chooser);
        inj.selectDisplayLayout(1, script.boardMonitor);
        out.board = inj.displayMap().rect[0];
        if (mouse)
            inj.setScreenSize(out.board.width(), out.board.height());
        if (script.raw)
            inj.configure(2, 0.8, 1);
        inj.resetTracking(0);
        u.events.clear();
        out.meant.clear();

        size_t reports = 0;
        for (const Contact &c : script.contacts)
            reports = std::max(reports, c.path.size());
        // Two empty reports after the last: a smoothed lift takes two cycles.
        for (size_t k = 0; k < reports + 2; ++k) {
            {
                std::lock_guard<std::mutex> guard(u.lock);
                u.now = script.leadSeconds + double(k) * kCycle;
            }
            std::vector<uint8_t> payload;
            for (const Contact &c : script.contacts) {
                if (k >= c.path.size() || c.path[k].x() < 0)
                    continue;
                const int x = c.path[k].x(), y = c.path[k].y(), weight = 100;
                for (int v : {x, y, weight}) {
                    payload.push_back(uint8_t(v));
                    payload.push_back(uint8_t(v >> 8));
                }
            }
            inj.trackingEntry(payload.empty() ? nullptr : payload.data(), int(payload.size()), 0);
        }
        std::lock_guard<std::mutex> guard(u.lock);
        u.now = script.leadSeconds + double(reports + 2) * kCycle;
    }
    tl::FixedScreens::uninstall();

    std::lock_guard<std::mutex> guard(u.lock);
    if (!u.created) {
        out.error = QStringLiteral("the injection created no uinput device");
        return out;
    }
    if (!u.unknown.empty()) {
        out.error = QStringLiteral("the backend asked the uinput node an unknown ioctl 0x%1").arg(u.unknown.front(), 0, 16);
        return out;
    }

    // The device as the kernel makes it from what the backend set up.
    std::unique_ptr<libevdev, EvdevFree> dev(libevdev_new());
    libevdev_set_name(dev.get(), u.setup.name);
    libevdev_set_id_bustype(dev.get(), u.setup.id.bustype);
    libevdev_set_id_vendor(dev.get(), u.setup.id.vendor);
    libevdev_set_id_product(dev.get(), u.setup.id.product);
    libevdev_set_id_version(dev.get(), u.setup.id.version);
    for (int p : u.propbits)
        libevdev_enable_property(dev.get(), unsigned(p));
    for (int t : u.evbits)
        libevdev_enable_event_type(dev.get(), unsigned(t));
    for (int k : u.keybits)
        libevdev_enable_event_code(dev.get(), EV_KEY, unsigned(k), nullptr);
    for (int a : u.absbits) {
        input_absinfo info{};
        auto it = u.abs.find(a);
        if (it != u.abs.end())
            info = it->second;
        libevdev_enable_event_code(dev.get(), EV_ABS, unsigned(a), &info);
    }
    out.device = describeToUmockdev(dev.get(), script.eventNumber);
    out.udevClass = classify(dev.get());
    // udev's input_id tags the device by what it can do.
    const QByteArray tag = out.udevClass == QLatin1String("touchscreen") ? "ID_INPUT_TOUCHSCREEN"
                           : out.udevClass == QLatin1String("mouse")     ? "ID_INPUT_MOUSE"
                           : out.udevClass == QLatin1String("tablet")    ? "ID_INPUT_TABLET"
                                                                         : "ID_INPUT_UNKNOWN";
    out.device.umockdev.replace("E: ID_INPUT_TOUCHSCREEN=1", "E: " + tag + "=1");
    const int minor = 64 + script.eventNumber;
    out.udevDbName = QStringLiteral("c13:%1").arg(minor);
    // "I:" is the time udevd finished the device; with it the device counts as
    // initialised. The properties are those udev's rules set.
    out.udevDb = "I:1000000\nE:ID_INPUT=1\nE:" + tag + "=1\nE:ID_SEAT=seat0\nG:seat\nQ:seat\nV:1\n";

    // The event script: the first line when the consumer opens the node, every
    // event at the time of the report that wrote it.
    out.events = evemuLine(0.0, EV_SYN, SYN_REPORT, 0);
    for (const UinputState::Event &e : u.events) {
        out.events += evemuLine(e.at, e.ev.type, e.ev.code, e.ev.value);
        out.stream.push_back({e.at, e.ev.type, e.ev.code, e.ev.value});
        out.endSeconds = e.at;
    }
    return out;
}

bool write(const Feed &feed, const QString &dir, QString *error)
{
    auto put = [&](const QString &path, const QByteArray &data) {
        QFile f(path);
        if (f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(data) == data.size())
            return true;
        if (error)
            *error = QStringLiteral("cannot write %1").arg(path);
        return false;
    };
    QByteArray meant;
    for (const Meant &m : feed.meant) {
        meant += timeText(m.at);
        if (m.absX >= 0)
            meant += " abs " + QByteArray::number(m.absX) + ' ' + QByteArray::number(m.absY) + ' ' +
                     QByteArray::number(m.mouseFlags, 16);
        for (const tl::TouchRecord &r : m.touches)
            meant += ' ' + QByteArray::number(r.pointerId) + ' ' + QByteArray::number(r.x) + ' ' +
                     QByteArray::number(r.y) + ' ' + QByteArray::number(r.flags, 16);
        meant += '\n';
    }
    const QByteArray geometry = QByteArray::number(feed.desktop.width()) + 'x' +
                                QByteArray::number(feed.desktop.height()) + '+' +
                                QByteArray::number(feed.desktop.x()) + '+' + QByteArray::number(feed.desktop.y());
    return QDir().mkpath(dir + "/udev/data") && put(dir + "/device.umockdev", feed.device.umockdev) &&
           put(dir + "/device.ioctl", feed.device.ioctl) && put(dir + "/device.events", feed.events) &&
           put(dir + "/udev/data/" + feed.udevDbName, feed.udevDb) && put(dir + "/meant.txt", meant) &&
           put(dir + "/device.node", feed.device.node.toLocal8Bit() + '\n') &&
           put(dir + "/desktop.geometry", geometry + '\n') &&
           put(dir + "/end.seconds", QByteArray::number(feed.endSeconds, 'f', 3) + '\n');
}

} // namespace feed
