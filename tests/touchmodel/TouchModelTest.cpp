// The touch path from the receive dispatch to the kernel's view of our input
// devices, driven by seeded random sequences: one or two modules, pen or finger
// mode, one to ten contacts that go down, move (across the modules' common
// edge too), rest and lift; the module's jitter; duplicated, late, missing,
// empty and malformed reports; silence of one module or both; unplug and
// replug; desktops that change under a stroke (origins left of and above the
// first monitor, a scaled monitor, three monitors, one monitor for two
// modules); smoothing switched by the companion; the touch path (one device
// over the desktop, or one per board display) and the mouse path.
//
// Every transfer goes through CamDevCtrl::receiveTransfer (what a receive loop
// does with what it read), then the tracking path and the injector, into the
// uinput backends' event streams, replayed by the kernel models of
// InputTestSupport.h. After every step:
// - every contact (and the mouse button) that is down is backed by a pen that
//   was on the board near it, seen by a module that reported, within the last
//   kUpWithinSteps report cycles, or, for a module gone quiet, within its
//   silence bound and one read time-out of its receive loop (upWithinSteps):
//   whatever lifts or goes quiet comes up within that bound;
// - every position injected lands on one of the board's monitors;
// - every position injected lies within kPathTolerance sensor units of the
//   convex hull of the last few true positions of some pen (the smoother's
//   output is a convex combination of its last ten inputs);
// - a pen at rest, undisturbed, gives no down and no up;
// - the kernel's slot rules hold (no id on a slot still down, no up of a slot
//   that is not down, no tracking id used twice on a device), and a device goes
//   away with nothing down.
// A step is one report cycle: kCycleMs of driver time (tl::Clock, compressed).
//
// Environment (all optional): TL_TOUCHMODEL_SEED (first seed, default 1),
// TL_TOUCHMODEL_SEQUENCES (default 16), TL_TOUCHMODEL_STEPS (report cycles a
// sequence, default 1500), TL_TOUCHMODEL_ACTIONS (action families, see
// TouchBoard.h: "default", "all", a list such as "jitter,seam,reports", or
// "+silence,-mouse" against the default). A campaign:
//   TL_TOUCHMODEL_SEQUENCES=500 TL_TOUCHMODEL_STEPS=5000 build/bin/test_touchmodel
// One seed, with its steps written out:
//   TL_TOUCHMODEL_SEED=17 TL_TOUCHMODEL_SEQUENCES=1 TL_TOUCHMODEL_VERBOSE=1 build/bin/test_touchmodel
#include "ModelDevices.h"
#include "PathGeometry.h"
#include "TouchBoard.h"

#include "device/CamDevCtrl.h"
#include "input/InputInjection.h"
#include "input/SilenceWatch.h"
#include "platform/Clock.h"
#include "platform/DesktopSpace.h"
#include "platform/fake/FixedScreens.h"
#include "platform/fake/RecordingCompanionLink.h"
#include "tests/input/InputTestSupport.h"

#include <QtGlobal>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <deque>
#include <map>
#include <memory>

namespace touchmodel {
namespace {

constexpr int kCycleMs = 10;            // the module's report cycle
constexpr int kUpWithinSteps = 150;     // 1.5 s: a contact is up this long after its pen lifts
constexpr int kReadTimeoutMs = 1000;    // a receive loop's read gives up after this long
constexpr double kPathTolerance = 30;   // sensor units (12 px on a 1920-pixel monitor)
constexpr tl::WindowHandle kCompanion = 0x99;

void quietLog(QtMsgType, const QMessageLogContext &, const QString &) {}

int envInt(const char *name, int fallback)
{
    const char *v = std::getenv(name);
    return v && *v ? std::atoi(v) : fallback;
}

// ---- One sequence ---------------------------------------------------------------

class Sequence
{
public:
    Sequence(uint64_t seed, int steps, unsigned families, bool verbose)
        : m_seed(seed), m_steps(steps), m_families(families), m_verbose(verbose), m_rng(seed), m_board(m_rng, families)
    {
    }

    ~Sequence()
    {
        m_device.setTrackingSink(nullptr);
        tl::FixedScreens::uninstall();
    }

    int stepsRun() const { return m_step; }
    const std::string &fault() const { return m_fault; }
    const std::string &invariant() const { return m_invariant; }
    const std::string &setupText() const { return m_setupText; }

    void run()
    {
        setUp();
        for (m_step = 0; m_step < m_steps && m_fault.empty(); ++m_step)
            step();
        if (!m_fault.empty())
            return;
        // The end: every pen lifts and the modules report on; whatever was down
        // comes up within the bound.
        m_board.setMaxContacts(0);
        const int end = m_step + std::max(upWithinSteps(0), upWithinSteps(1)) + 2;
        while (m_step < end && m_fault.empty()) {
            step();
            ++m_step;
        }
        m_device.setTrackingSink(nullptr);
        m_injection.reset();
        for (auto &log : m_chooser.logs)
            drain(*log, false);
    }

private:
    // ---- set-up and actions ----

    void setUp()
    {
        m_modules = m_board.uniform(1, 2);
        m_plugged[1] = m_modules == 2;
        m_maxModules = m_modules;
        m_chooser.mouse = (m_families & Mouse) && m_board.chance(0.3);
        m_chooser.perDisplay = !m_chooser.mouse && (m_families & PerDisplay) && m_board.chance(0.5);
        m_desktop = pickDesktop(-1);
        tl::FixedScreens::install(desktops()[size_t(m_desktop)].monitors);
        m_injection = std::make_unique<tl::input::InputInjection>(m_chooser, &m_link);
        m_device.setTrackingSink(m_injection.get());
        m_link.addWindow(kCompanion, true);
        m_board.setWidth(m_modules);
        m_board.setMaxContacts(m_board.chance(0.4) ? 1 : m_board.uniform(2, 10));
        startTracking();
        if ((m_families & Smoothing) && m_board.chance(0.5))
            setRaw(true);
        m_setupText = std::to_string(m_modules) + " module(s), " + (m_chooser.mouse ? "mouse path" : "touch path") +
                      (m_chooser.perDisplay ? " (a device per display)" : "") + ", " +
                      desktops()[size_t(m_desktop)].name + ", " + std::to_string(m_board.maxContacts()) +
                      " contact(s), " + (m_raw ? "raw" : "smoothed");
        note("set-up: " + m_setupText);
    }

    int pickDesktop(int not_)
    {
        std::vector<int> allowed;
        for (int i = 0; i < int(desktops().size()); ++i) {
            const bool one = desktops()[size_t(i)].monitors.size() == 1;
            if (i == not_ || (m_maxModules == 2 && one && !(m_families & OneMonitor)))
                continue;
            if (i != 0 && !(m_families & Layout) && !(one && (m_families & OneMonitor)))
                continue;
            allowed.push_back(i);
        }
        return allowed.empty() ? 0 : allowed[size_t(m_board.uniform(0, int(allowed.size()) - 1))];
    }

    // What the controller does when tracking starts.
    // (Every change of the controller's thread state stops the loops first,
    // which brings every contact up.)
    void startTracking()
    {
        m_late.clear();  // what a stopped loop had not read is gone
        m_injection->releaseAllContacts();
        flush(false);
        m_injection->selectDisplayLayout(m_modules, 0);
        m_injection->resetTracking(0);
        m_injection->resetTracking(1);
        for (int m = 0; m < 2; ++m) {
            m_heard[m].clear();
            m_readFrom[m] = tl::Clock::nowMs();
        }
        flush(false);
    }

    void setRaw(bool raw)
    {
        m_raw = raw;
        if (raw) {
            m_injection->setTargetWindow(kCompanion);
            m_injection->configure(2, 0.8, 1);
        } else {
            m_injection->setTargetWindow(0);
        }
    }

    void note(const std::string &line)
    {
        m_recent.push_back("step " + std::to_string(m_step) + ":" + line);
        if (m_recent.size() > 12)
            m_recent.pop_front();
        if (m_verbose)
            std::printf("seed %llu %s\n", static_cast<unsigned long long>(m_seed), m_recent.back().c_str());
    }

    void events(std::string &log)
    {
        if ((m_families & Layout) && m_board.chance(0.004)) {
            m_desktop = pickDesktop(m_desktop);
            log += std::string(" desktop->") + desktops()[size_t(m_desktop)].name;
            tl::FixedScreens::install(desktops()[size_t(m_desktop)].monitors);
            m_injection->desktopChanged();
            m_disturbedAt = m_step;
            flush(false);
        }
        if ((m_families & Smoothing) && m_board.chance(0.005)) {
            setRaw(!m_raw);
            log += m_raw ? " raw" : " smoothed";
            m_disturbedAt = m_step;
        }
        if (m_board.chance(0.003)) {
            m_board.setMaxContacts(m_board.maxContacts() == 1 ? m_board.uniform(2, 10) : 1);
            log += m_board.maxContacts() == 1 ? " pen-mode" : " finger-mode";
        }
        if ((m_families & Unplug) && m_board.chance(0.002)) {
            const int m = m_maxModules - 1;
            if (m_plugged[m]) {
                // The removal event: the controller stops tracking (every
                // contact comes up) and tracks on with the modules left.
                log += " unplug" + std::to_string(m);
                // Its receive loop's read fails first: the loop ends and
                // says the module is gone.
                m_injection->moduleGone(m);
                flush(true);
                m_plugged[m] = false;
                m_late.clear();
                m_injection->releaseAllContacts();
                flush(false);
                m_modules = m;
                if (m_modules > 0)
                    startTracking();
            } else {
                log += " replug" + std::to_string(m);
                m_plugged[m] = true;
                m_modules = m + 1;
                startTracking();
            }
            m_board.setWidth(std::max(1, m_modules));
            m_disturbedAt = m_step;
        }
        if ((m_families & Silence) && m_board.chance(0.003)) {
            const int which = m_board.uniform(0, m_maxModules);  // m_maxModules: both
            const int steps = m_board.chance(0.2) ? 1 << 30 : m_board.uniform(30, 400);
            for (int m = 0; m < m_maxModules; ++m)
                if (which == m || which == m_maxModules) {
                    // (A module quiet already stays quiet since it stopped.)
                    if (m_step >= m_silentUntil[m])
                        m_silentFrom[m] = m_step;
                    m_silentUntil[m] = m_step + steps;
                }
            log += " silence" + (which == m_maxModules ? std::string("-both") : std::to_string(which)) +
                   (steps > 100000 ? " for good" : " for " + std::to_string(steps));
        }
    }

    // What a module's receive loop does with a transfer it read: the dispatch,
    // then the look at silence the loop takes after every read; its next read
    // starts.
    void readDone(const Transfer &t)
    {
        m_device.receiveTransfer(t.bytes, t.transferred, t.module);
        m_lastReport[t.module] = m_step;
        if (t.wellFormed)
            m_heard[t.module].push_back(tl::Clock::nowMs());
        if (m_heard[t.module].size() > size_t(tl::input::SilenceWatch::kIntervals) + 1)
            m_heard[t.module].pop_front();
        m_injection->checkSilence(t.module);
        m_readFrom[t.module] = tl::Clock::nowMs();
    }

    // One report cycle of driver time. A receive loop whose read found nothing
    // for its whole time-out looks at silence and reads again.
    void letCyclePass()
    {
        tl::Clock::sleepMs(kCycleMs);
        for (int m = 0; m < m_modules; ++m) {
            if (!m_plugged[m] || tl::Clock::nowMs() - m_readFrom[m] < kReadTimeoutMs)
                continue;
            m_readFrom[m] += kReadTimeoutMs;
            m_injection->checkSilence(m);
        }
    }

    // How many report cycles after module m last reported what it held may
    // still be down: a lifted pen's contact is up within kUpWithinSteps; a
    // module that has gone quiet is found so after its silence bound (three
    // of its cycles as its reports showed them, the longest of its last
    // intervals; within the bound's floor and ceiling; the ceiling while no
    // cycle is known) and at worst one read time-out of its loop later.
    int upWithinSteps(int m) const
    {
        using tl::input::SilenceWatch;
        if (m >= m_modules || !m_plugged[m])
            return kUpWithinSteps;  // no module there holds anything
        const std::deque<qint64> &heard = m_heard[m];
        qint64 bound = SilenceWatch::kMaxBoundMs;
        if (heard.size() >= 2) {
            qint64 cycle = 0;
            for (size_t i = 1; i < heard.size(); ++i)
                cycle = std::max(cycle, heard[i] - heard[i - 1]);
            bound = std::clamp(SilenceWatch::kSilentCycles * cycle, SilenceWatch::kMinBoundMs,
                               SilenceWatch::kMaxBoundMs);
        }
        return std::max<int>(kUpWithinSteps, int((bound + kReadTimeoutMs) / kCycleMs) + 2);
    }

    bool reporting(int m) const { return m < m_modules && m_plugged[m] && m_step >= m_silentUntil[m]; }

    void step()
    {
        std::string log;
        events(log);
        if (!m_fault.empty())
            return;
        int liftMemory = 0;
        for (int m = 0; m < m_maxModules; ++m)
            if (m_step < m_silentUntil[m])
                liftMemory = std::max(liftMemory, upWithinSteps(m));
        m_board.setLiftMemory(liftMemory);
        m_board.step(m_step, m_trail, log);
        if (m_verbose)
            for (const Contact &c : m_board.contacts())
                std::printf("  pen#%d at (%.0f, %.0f)\n", c.id, c.x, c.y);
        while (!m_trail.empty() && m_trail.front().step < m_step - std::max(upWithinSteps(0), upWithinSteps(1)) - 2)
            m_trail.erase(m_trail.begin());

        // The modules' reports of this cycle, with what the Reports and
        // Malformed families do to them.
        // Reports held back last cycle come first.
        std::vector<Transfer> now;
        now.swap(m_late);
        const size_t lateCount = now.size();
        int records = 0;
        bool disturbed = false;
        for (int m = 0; m < m_modules; ++m) {
            if (!reporting(m))
                continue;
            std::vector<tl::sim::TrackPoint> seen =
                moduleReport(m_board.contacts(), m, m_modules, m_families & Jitter, m_rng);
            records += int(seen.size());
            Transfer t = trackingTransfer(m, seen, "m" + std::to_string(m) + " " + std::to_string(seen.size()) + "p");
            const int fault = (m_families & Reports) ? m_board.uniform(0, 99) : 99;
            if (fault < 4) {
                now.push_back(t);
                now.push_back(t);
                t.what += " twice";
            } else if (fault < 7) {
                t.what += " late";
                m_late.push_back(t);
                disturbed = true;
                continue;
            } else if (fault < 9) {
                t.what = "m" + std::to_string(m) + " missing";
                disturbed = true;
                log += " " + t.what;
                continue;
            } else if (fault < 11 && !seen.empty()) {
                t = trackingTransfer(m, {}, "m" + std::to_string(m) + " empty");
                now.push_back(t);
                disturbed = true;
            } else {
                now.push_back(t);
            }
            if ((m_families & Malformed) && m_board.chance(0.05)) {
                Transfer bad = malformedTransfer(m, seen, m_rng);
                bad.what = "m" + std::to_string(m) + " bad: " + bad.what;
                now.insert(m_board.chance(0.5) || now.size() == lateCount ? now.end() : now.end() - 1, bad);
                records += 1;
            }
        }
        if (m_modules == 2 && (m_families & Reports) && m_board.chance(0.1))
            std::reverse(now.begin() + long(lateCount), now.end());
        for (const Transfer &t : now)
            log += " [" + t.what + "]";
        for (const Transfer &t : m_late)
            log += " (" + t.what + ")";
        note(log);

        for (const Transfer &t : now)
            readDone(t);
        letCyclePass();

        // A module that is quiet, or just spoke again, may lift and put down.
        for (int m = 0; m < m_modules; ++m)
            disturbed = disturbed || m_step < m_silentUntil[m] + 2;
        if (disturbed || records > 9 || m_board.changedRecently(m_step))
            m_disturbedAt = m_step;
        const int downsBefore = m_downs;
        const int upsBefore = m_ups;
        flush(true);
        if (m_verbose && (m_downs != downsBefore || m_ups != upsBefore))
            std::printf("  %d down(s), %d up(s)\n", m_downs - downsBefore, m_ups - upsBefore);
        if (m_verbose) {
            const tl::input::ContactSlotTable table = m_injection->contacts();
            for (int s = 0; s < tl::input::kContactSlots; ++s) {
                const tl::input::TrackedContact &c = table.slot[s];
                const tl::input::TouchInjector::SlotBinding b = m_injection->slotBinding(s);
                if (c.present())
                    std::printf("  slot id %d action %d counter %d at (%d, %d)\n", b.index, static_cast<int>(c.presence),
                                b.reports, c.x, c.y);
            }
        }
        checkBacked();
        // Quiet long enough for the mouse path's two held-back reports and a
        // report pairing shifted by a duplicate.
        if (m_fault.empty() && m_board.allResting() && m_step - m_disturbedAt > 6 &&
            (m_downs != downsBefore || m_ups != upsBefore))
            fail("rest", "a pen at rest gave " + std::to_string(m_downs - downsBefore) + " down(s) and " +
                             std::to_string(m_ups - upsBefore) + " up(s)");
    }

    // ---- invariants ----

    void fail(const std::string &invariant, const std::string &what)
    {
        if (!m_fault.empty())
            return;
        m_invariant = invariant;
        m_fault = "seed " + std::to_string(m_seed) + ", step " + std::to_string(m_step) + " [" + invariant + "] " +
                  what + "\n  " + m_setupText + "\n  last steps:";
        for (const std::string &line : m_recent)
            m_fault += "\n    " + line;
    }

    // The board's display rectangles as the controller chose them: the two
    // leftmost monitors with two modules, the monitor setting's with one.
    QList<QRect> boardRects() const
    {
        const QList<QRect> rects = leftToRight(tl::ScreenSource::monitors());
        QList<QRect> board;
        board << rects.value(0);
        board << (m_modules == 2 ? rects.value(1) : QRect());
        return board;
    }

    // Window-system point -> Qt desktop point -> sensor position; false when the
    // point is on no monitor of the board.
    bool toSensor(QPoint native, QPointF *sensor) const
    {
        for (const tl::MonitorInfo &m : tl::ScreenSource::monitors()) {
            const QRect n = m.nativeGeometry();
            if (!n.contains(native))
                continue;
            const QPoint logical = m.geometry.topLeft() +
                                   QPoint((native.x() - n.left()) * m.geometry.width() / n.width(),
                                          (native.y() - n.top()) * m.geometry.height() / n.height());
            const QList<QRect> board = boardRects();
            for (int k = 0; k < 2; ++k) {
                const QRect &r = board[k];
                if (!r.isEmpty() && r.contains(logical)) {
                    *sensor = QPointF(k * 4800.0 + (logical.x() - r.left()) * 4800.0 / r.width(),
                                      (logical.y() - r.top()) * 3000.0 / r.height());
                    return true;
                }
            }
            return false;
        }
        return false;
    }

    // The pen positions of the last `window` steps, per pen, that a module that
    // has reported since could have seen.
    std::map<int, std::vector<QPointF>> recentPaths(int window) const
    {
        std::map<int, std::vector<QPointF>> paths;
        for (const TrailPoint &p : m_trail)
            if (p.step > m_step - window)
                paths[p.contact].push_back(QPointF(p.x, p.y));
        return paths;
    }

    double distanceToPaths(const QPointF &p, int window) const
    {
        double best = 1e18;
        for (const auto &entry : recentPaths(window))
            best = std::min(best, hullDistance(p, entry.second));
        return best;
    }

    void checkPosition(QPoint native, const char *what)
    {
        QPointF sensor;
        if (!toSensor(native, &sensor)) {
            fail("on the board", std::string(what) + " at window-system point (" + std::to_string(native.x()) + ", " +
                                     std::to_string(native.y()) + "), on no monitor of the board");
            return;
        }
        // Raw positions follow the reports; smoothed ones lag by up to the
        // smoother's ten samples. Late and missing reports add a cycle or two.
        int window = (m_raw ? 3 : 12) + 3;
        // A module that is quiet, or was a moment ago, last showed its pens
        // where they were when it stopped: a stroke held while it stalled goes
        // on from there, and what it held is lifted there (or, for a report
        // still waiting for the other module's, put down there).
        for (int m = 0; m < 2; ++m)
            if (m_step >= m_silentFrom[m] && m_step < m_silentUntil[m] + 16)
                window += std::min(m_step, m_silentUntil[m]) - m_silentFrom[m];
        const double d = distanceToPaths(sensor, window);
        if (d > 1e9)
            fail("near the path", std::string(what) + " at sensor (" + std::to_string(int(sensor.x())) + ", " +
                                      std::to_string(int(sensor.y())) + ") with no pen on the board for " +
                                      std::to_string(window) + " reports");
        else if (d > kPathTolerance)
            fail("near the path", std::string(what) + " at sensor (" + std::to_string(int(sensor.x())) + ", " +
                                      std::to_string(int(sensor.y())) + ") (window-system point (" +
                                      std::to_string(native.x()) + ", " + std::to_string(native.y()) + ")), " +
                                      std::to_string(int(d)) +
                                      " units from every pen's last " + std::to_string(window) + " positions");
    }

    // New events of one device, frame by frame through the kernel model.
    void drain(DeviceLog &log, bool checkPositions)
    {
        std::vector<tltest::Event> frame;
        for (const tltest::Event &e : log.pending) {
            frame.push_back(e);
            if (e.type != EV_SYN || e.code != SYN_REPORT)
                continue;
            if (log.touch) {
                tltest::TouchStreamCheck &k = log.touchCheck;
                const size_t faults = k.faults.size();
                const int downs = k.downs, ups = k.ups;
                // A contact's last frames repeat where it was (a lift, a stroke
                // held while a module stalled): only new positions are checked.
                std::map<int, int> idBefore = k.idOfSlot;
                int xBefore[10], yBefore[10];
                std::copy(k.posX, k.posX + 10, xBefore);
                std::copy(k.posY, k.posY + 10, yBefore);
                k.feed(frame);
                m_downs += k.downs - downs;
                m_ups += k.ups - ups;
                if (k.faults.size() > faults)
                    fail("slots", k.faults.back());
                for (int s = 0; s < 10 && checkPositions; ++s)
                    if (((k.written >> s) & 1u) && k.idOfSlot.count(s) &&
                        (idBefore[s] != k.idOfSlot[s] || xBefore[s] != k.posX[s] || yBefore[s] != k.posY[s]))
                        checkPosition(log.area.topLeft() + QPoint(k.posX[s], k.posY[s]), "a contact");
                if (m_verbose)
                    for (int s = 0; s < 10; ++s)
                        if ((k.written >> s) & 1u)
                            std::printf("  frame: slot %d %s at (%d, %d)\n", s,
                                        k.idOfSlot.count(s) ? ("id " + std::to_string(k.idOfSlot[s])).c_str() : "up",
                                        k.posX[s], k.posY[s]);
                k.written = 0;
            } else {
                tltest::PointerStreamCheck &k = log.pointerCheck;
                const int x = k.absX, y = k.absY, presses = k.leftPresses;
                k.feed(frame);
                // A still hold ends in a release and a right click by design:
                // only presses count against a pen at rest.
                m_downs += k.leftPresses - presses;
                if (!k.faults.empty())
                    fail("slots", k.faults.back());
                if (checkPositions && (k.absX != x || k.absY != y)) {
                    const tl::DesktopSpace space = tl::DesktopSpace::fromMonitors(tl::ScreenSource::monitors());
                    if (m_verbose)
                        std::printf("  pointer abs (%d, %d) -> (%d, %d)\n", k.absX, k.absY,
                                    space.fromAbsolute(k.absX, k.absY).x(), space.fromAbsolute(k.absX, k.absY).y());
                    checkPosition(space.fromAbsolute(k.absX, k.absY), "the pointer");
                }
            }
            frame.clear();
        }
        log.pending = frame;
        if (log.closed && !log.closedChecked) {
            log.closedChecked = true;
            if (!log.touchCheck.idOfSlot.empty() || log.pointerCheck.left)
                fail("comes up", "a device went away with a contact down");
        }
    }

    void flush(bool checkPositions)
    {
        for (auto &log : m_chooser.logs)
            drain(*log, checkPositions);
        // Closed devices are done with.
        m_chooser.logs.erase(std::remove_if(m_chooser.logs.begin(), m_chooser.logs.end(),
                                            [](const auto &l) { return l->closedChecked && l->pending.empty(); }),
                             m_chooser.logs.end());
    }

    // A pen was at this board position at `step`, and a module that sees it
    // reported since, both within that module's bound.
    bool seenRecently(const QPointF &t, int step) const
    {
        for (int m = 0; m < 2; ++m) {
            const int within = upWithinSteps(m);
            const bool sees = m == 0 ? t.x() < 4950 : t.x() >= 4650;
            if (sees && m_lastReport[m] > m_step - within && step > m_step - within)
                return true;
        }
        return false;
    }

    // Whatever is down is backed by a pen near it within the bound, seen by a
    // module that reported within the bound.
    void checkBacked()
    {
        std::vector<QPointF> down;
        for (const auto &log : m_chooser.logs) {
            if (log->touch) {
                for (const auto &slot : log->touchCheck.idOfSlot) {
                    const QPoint native = log->area.topLeft() +
                                          QPoint(log->touchCheck.posX[slot.first], log->touchCheck.posY[slot.first]);
                    QPointF s;
                    down.push_back(toSensor(native, &s) ? s : QPointF(-1e6, -1e6));
                }
            } else if (log->pointerCheck.left) {
                const tl::DesktopSpace space = tl::DesktopSpace::fromMonitors(tl::ScreenSource::monitors());
                QPointF s;
                down.push_back(toSensor(space.fromAbsolute(log->pointerCheck.absX, log->pointerCheck.absY), &s)
                                   ? s
                                   : QPointF(-1e6, -1e6));
            }
        }
        for (const QPointF &p : down) {
            // Where the pens are now (a smoothed contact lies in the hull of
            // their last positions), or where one was within the bound.
            bool backed = false;
            for (const auto &entry : recentPaths(16))
                if (seenRecently(entry.second.back(), m_step) && hullDistance(p, entry.second) <= kPathTolerance)
                    backed = true;
            for (const TrailPoint &t : m_trail) {
                if (seenRecently(QPointF(t.x, t.y), t.step) && std::hypot(t.x - p.x(), t.y - p.y()) <= kPathTolerance + Board::kMaxSpeed) {
                    backed = true;
                    break;
                }
            }
            if (!backed) {
                std::string kernel;
                for (const auto &log : m_chooser.logs)
                    for (const auto &slot : log->touchCheck.idOfSlot)
                        kernel += " slot " + std::to_string(slot.first) + " id " + std::to_string(slot.second) + " at (" +
                                  std::to_string(log->touchCheck.posX[slot.first]) + ", " +
                                  std::to_string(log->touchCheck.posY[slot.first]) + ");";
                fail("comes up", "(down:" + kernel + ") a contact at sensor (" + std::to_string(int(p.x())) + ", " +
                                     std::to_string(int(p.y())) + ") is still down " + std::to_string(std::max(upWithinSteps(0), upWithinSteps(1))) +
                                     " reports after any pen there, or its module, was last seen");
                return;
            }
        }
    }

    uint64_t m_seed;
    int m_steps;
    unsigned m_families;
    bool m_verbose;
    std::mt19937_64 m_rng;
    Board m_board;
    tl::RecordingCompanionLink m_link;
    ModelChooser m_chooser;
    std::unique_ptr<tl::input::InputInjection> m_injection;
    tl::CamDevCtrl m_device{nullptr, nullptr};
    int m_modules = 1;
    int m_maxModules = 1;
    bool m_plugged[2] = {true, false};
    int m_silentFrom[2] = {0, 0};
    int m_silentUntil[2] = {0, 0};
    int m_lastReport[2] = {0, 0};
    std::deque<qint64> m_heard[2];  // driver times of a module's last well-formed reports since tracking started
    qint64 m_readFrom[2] = {0, 0};  // when a module's receive loop began its current read
    int m_desktop = 0;
    bool m_raw = false;
    int m_step = 0;
    int m_disturbedAt = 0;
    int m_downs = 0;
    int m_ups = 0;
    std::vector<TrailPoint> m_trail;
    std::vector<Transfer> m_late;
    std::deque<std::string> m_recent;
    std::string m_setupText;
    std::string m_fault;
    std::string m_invariant;
};

// The receive dispatch is on the path: a sink behind it sees only reports.
TEST(TouchModelTest, RandomSequencesKeepTheTouchPathsInvariants)
{
    std::string error;
    const unsigned families = parseFamilies(std::getenv("TL_TOUCHMODEL_ACTIONS"), &error);
    ASSERT_TRUE(error.empty()) << error;
    const uint64_t first = uint64_t(envInt("TL_TOUCHMODEL_SEED", 1));
    const int sequences = envInt("TL_TOUCHMODEL_SEQUENCES", 16);
    const int steps = envInt("TL_TOUCHMODEL_STEPS", 1500);
    const bool verbose = envInt("TL_TOUCHMODEL_VERBOSE", 0) != 0;
    tl::Clock::setCompression(1000);
    // The driver's trace lines, thousands a sequence, only when asked for.
    const QtMessageHandler previous = verbose ? nullptr : qInstallMessageHandler(quietLog);
    int stepsRun = 0, failed = 0;
    std::map<std::string, int> byInvariant;
    for (int s = 0; s < sequences; ++s) {
        Sequence seq(first + uint64_t(s), steps, families, verbose);
        seq.run();
        stepsRun += seq.stepsRun();
        if (!seq.fault().empty()) {
            ++failed;
            ++byInvariant[seq.invariant()];
            ADD_FAILURE() << seq.fault();
        }
    }
    std::string counts;
    for (const auto &entry : byInvariant)
        counts += " " + entry.first + ": " + std::to_string(entry.second) + ";";
    std::printf("touchmodel: %d sequence(s) from seed %llu, %d step(s), actions %s, %d with a fault%s\n", sequences,
                static_cast<unsigned long long>(first), stepsRun, familyNames(families).c_str(), failed,
                counts.c_str());
    if (!verbose)
        qInstallMessageHandler(previous);
    tl::Clock::setCompression(1);
}

} // namespace
} // namespace touchmodel
