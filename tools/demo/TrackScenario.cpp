#include "Scenarios.h"

#include "app/Corvane.h"
#include "input/InputInjection.h"
#include "platform/Clock.h"
#include "platform/fake/RecordingBackend.h"
#include "settings/ConfigFileRW.h"
#include "sim/BoardPen.h"
#include "sim/EmulatedBus.h"

#include <QCoreApplication>
#include <QLineF>

#include <cmath>
#include <map>
#include <mutex>

namespace {

constexpr double kSensorWidth = 4800.0;
constexpr double kSensorHeight = 3000.0;
// Empty reports after a stroke: enough for smoothing to lift every contact.
constexpr int kTrailingReports = 30;

struct Stroke
{
    QString name;
    tl::sim::BoardScript script;
    int cycles = 0;
    // The straight paths the contacts follow, on the board (joined sensor space).
    QVector<QLineF> paths;
};

struct StrokeResult
{
    int injections = 0;       // injection calls while the stroke ran
    int contacts = 0;         // contacts that went down
    int released = 0;         // of them, came up again
    double maxErrorPx = 0;    // largest distance of an injected position from its path
    double endLagPx = 0;      // largest distance of a contact's last position from its path's end
    QVector<QPointF> trail;   // positions of the first contact, one per injection while down
};

// Where a board position lies on the emulated desktop: module k's half maps to
// display k (1920 x 1080 each, side by side).
QPointF boardToDesktop(const QPointF &p)
{
    const int k = p.x() >= kSensorWidth ? 1 : 0;
    const double x = p.x() - k * kSensorWidth;
    return {1920.0 * k + 1920.0 * x / kSensorWidth, 1080.0 * p.y() / kSensorHeight};
}

double distanceToSegment(const QPointF &p, const QLineF &seg)
{
    const QPointF d = seg.p2() - seg.p1();
    const double len2 = d.x() * d.x() + d.y() * d.y();
    double t = len2 > 0 ? QPointF::dotProduct(p - seg.p1(), d) / len2 : 0.0;
    t = std::clamp(t, 0.0, 1.0);
    return QLineF(p, seg.p1() + t * d).length();
}

StrokeResult analyse(const std::vector<tl::RecordingBackend::Call> &calls, const Stroke &stroke)
{
    QVector<QLineF> desktopPaths;
    for (const QLineF &l : stroke.paths)
        desktopPaths.append(QLineF(boardToDesktop(l.p1()), boardToDesktop(l.p2())));

    StrokeResult r;
    std::map<int, QPointF> down;      // pointer id -> last position while down
    for (const tl::RecordingBackend::Call &call : calls) {
        if (call.type != tl::RecordingBackend::Call::Type::Touch)
            continue;
        ++r.injections;
        for (const tl::TouchRecord &rec : call.records) {
            const QPointF pos(rec.x, rec.y);
            if (rec.flags & tl::TouchDown) {
                ++r.contacts;
                down[rec.pointerId] = pos;
            }
            if ((rec.flags & tl::TouchInContact) && r.contacts == 1 && !down.empty() && rec.pointerId == down.begin()->first)
                r.trail.append(pos);
            if (rec.flags & tl::TouchInContact) {
                double best = 1e9;
                for (const QLineF &path : desktopPaths)
                    best = std::min(best, distanceToSegment(pos, path));
                r.maxErrorPx = std::max(r.maxErrorPx, best);
                down[rec.pointerId] = pos;
            }
            if (rec.flags & tl::TouchUp) {
                const auto it = down.find(rec.pointerId);
                if (it != down.end()) {
                    double best = 1e9;
                    for (const QLineF &path : desktopPaths)
                        best = std::min(best, QLineF(it->second, path.p2()).length());
                    r.endLagPx = std::max(r.endLagPx, best);
                    ++r.released;
                    down.erase(it);
                }
            }
        }
    }
    return r;
}

std::vector<tl::RecordingBackend::Call> takeCalls(tl::RecordingBackend &backend)
{
    std::lock_guard<std::mutex> lock(tl::input::trackingMutex());
    std::vector<tl::RecordingBackend::Call> calls = backend.calls();
    backend.clear();
    return calls;
}

void spinUntilReports(const std::vector<std::shared_ptr<tl::sim::EmulatedModule>> &devices,
                      const std::vector<int> &before, int reports, int driverMs)
{
    const qint64 end = tl::Clock::nowMs() + driverMs;
    auto done = [&] {
        for (size_t m = 0; m < before.size(); ++m)
            if (devices[m]->stats().reportsSent - before[m] < reports)
                return false;
        return true;
    };
    while (!done() && tl::Clock::nowMs() < end) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        tl::Clock::sleepMs(5);
    }
}

} // namespace

QString runTrack(const DemoOptions &opt, Corvane &driver, tl::sim::EmulatedBus &bus,
                 tl::RecordingBackend &backend, quintptr companion, QTextStream &out)
{
    nqmaincontrol *control = driver.control();
    const int modules = driver.settings()->getNumOfCamDevice();
    if (!control->connectionStatus() || control->threadState() != etaTRACKING)
        return "the modules are not tracking";
    const double width = kSensorWidth * modules;

    QVector<Stroke> strokes;
    {
        Stroke s;
        s.name = "pen";
        s.cycles = 1200;
        const QPointF from(width * 0.05, 1200), to(width * 0.95, 1800);
        s.script = tl::sim::boardStroke({from.x(), from.y()}, {to.x(), to.y()}, s.cycles);
        s.paths = {QLineF(from, to)};
        strokes.append(s);
    }
    {
        Stroke s;
        s.name = "spread";
        s.cycles = 600;
        const double cx = modules == 2 ? width * 0.3 : width * 0.5;
        const double startGap = 600, endGap = 2400;
        s.script = tl::sim::twoFingerSpread({cx, 1500}, startGap, endGap, s.cycles);
        s.paths = {QLineF(cx - startGap / 2, 1500, cx - endGap / 2, 1500),
                   QLineF(cx + startGap / 2, 1500, cx + endGap / 2, 1500)};
        strokes.append(s);
    }

    // Each module's reports are read by its own receive thread. When one thread
    // is held up, the other module's contact moves on by several reports within
    // one host cycle, and a jump of 240 sensor units or more is a new contact by
    // design. Real modules report every 10 ms; strongly compressed time would
    // make an ordinary scheduling delay on a loaded machine look like such a jump.
    const double speed = tl::Clock::compression();
    tl::Clock::setCompression(std::min(speed, 2.0));
    out << "track.time_compression: " << tl::Clock::compression() << "\n";

    QString failure;
    QVector<QVector<QPointF>> rawTrails(strokes.size());
    for (int smoothed = 0; smoothed < 2; ++smoothed) {
        // A companion registering with its flag set asks for raw positions.
        control->setHandleEventData(companion, smoothed == 0);
        const QString mode = smoothed ? "smoothed" : "raw";
        for (int si = 0; si < strokes.size(); ++si) {
            const Stroke &stroke = strokes[si];
            const auto devices = bus.devices();
            // Tracking stops before the new script is in place, so that the
            // stroke starts with the modules' first report; whatever the previous
            // stroke left is not this stroke's.
            control->StopDevice();
            takeCalls(backend);
            std::vector<int> before;
            for (int m = 0; m < static_cast<int>(devices.size()) && m < modules; ++m) {
                devices[m]->setPenScript(tl::sim::moduleView(stroke.script, m, modules));
                before.push_back(devices[m]->stats().reportsSent);
            }
            // Restarting tracking restarts the modules' report cycles at 0.
            control->systemStateChange(esysUSER_START_ANALYSYS_BEFOR_TRACKING, 0);
            // The stroke is over once every module has sent its reports and a few
            // empty ones after them, however slow this machine is.
            const int reports = stroke.cycles + kTrailingReports;
            spinUntilReports(devices, before, reports, 120000);
            const StrokeResult r = analyse(takeCalls(backend), stroke);
            const QString key = mode + "." + stroke.name;
            out << key << ".injections: " << r.injections << "\n";
            out << key << ".contacts: " << r.contacts << "\n";
            out << key << ".all_released: " << (r.released == r.contacts ? "true" : "false") << "\n";
            out << key << ".max_error_px: " << QString::number(r.maxErrorPx, 'f', 2) << "\n";
            out << key << ".end_lag_px: " << QString::number(r.endLagPx, 'f', 2) << "\n";
            if (!smoothed) {
                rawTrails[si] = r.trail;
            } else if (stroke.paths.size() == 1) {
                // Lag of smoothing: the smoothed contact against the raw one of the
                // same stroke, injection by injection.
                const int n = std::min(r.trail.size(), rawTrails[si].size());
                double maxLag = 0, sumLag = 0;
                for (int i = 0; i < n; ++i) {
                    const double d = QLineF(r.trail[i], rawTrails[si][i]).length();
                    maxLag = std::max(maxLag, d);
                    sumLag += d;
                }
                // Injections are paired by their order, so the figure carries the
                // jitter of one report between the two runs: give the pen's speed.
                const QLineF path(boardToDesktop(stroke.paths[0].p1()), boardToDesktop(stroke.paths[0].p2()));
                out << key << ".speed_px_per_report: " << QString::number(path.length() / stroke.cycles, 'f', 2)
                    << "\n";
                out << key << ".lag_max_px: " << QString::number(maxLag, 'f', 2) << "\n";
                out << key << ".lag_mean_px: " << QString::number(n ? sumLag / n : 0.0, 'f', 2) << "\n";
            }
            const int expectedContacts = stroke.paths.size();
            if (!failure.isEmpty())
                continue;
            if (r.contacts != expectedContacts)
                failure = QString("%1: %2 contacts, expected %3").arg(key).arg(r.contacts).arg(expectedContacts);
            else if (r.released != r.contacts)
                failure = key + ": a contact never came up";
            else if (!smoothed && r.maxErrorPx > 1.0)
                failure = QString("%1: pointing error %2 px").arg(key).arg(r.maxErrorPx);
        }
    }
    for (const auto &device : bus.devices())
        device->setPenScript({});
    tl::Clock::setCompression(speed);
    Q_UNUSED(opt);
    return failure;
}
