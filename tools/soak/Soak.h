// The soak bench: the whole driver (main window, controller, device layer) on
// two emulated modules, driven through hot-plug, suspend and long tracking.
#pragma once

#include "app/Corvane.h"
#include "platform/InjectionBackend.h"
#include "platform/fake/CountingBackend.h"
#include "platform/fake/FakeSystemEvents.h"
#include "sim/EmulatedBus.h"
#include "sim/SimulatedUser.h"
#include "sim/SyntheticCamera.h"

#include <QTimer>

#include <array>
#include <memory>
#include <random>
#include <string>

namespace soak {

// A touch backend that keeps only which contacts are down.
using tl::CountingBackend;

// Where in the exchange a module is pulled out.
enum class Where {
    Tracking,          // tracking reports streaming
    Frames,            // the alignment view's frame stream
    MaskDownload,      // the mask read from the module as it is opened
    MaskUpload,        // a painted mask sent on leaving the alignment view
    AutoBlack,         // auto calibration: black capture (command, capture, its end)
    AutoWhite,         // white capture
    AutoPattern,       // pattern capture
    AutoTransfer,      // one of the three images on its way to the host
    AutoEvaluation,    // the host searching the pattern and fitting
    AutoUpload,        // the fitted parameters going to the module, its answer
    ManualTargets,     // manual calibration: targets, the person holding the pen
    ManualUpload,      // the touched points read back, the parameters uploaded
    Count
};
constexpr int kWhereCount = static_cast<int>(Where::Count);
const char *whereName(Where w);

struct Figures
{
    // Unplugs that happened in the chosen exchange, by place and module count.
    std::array<std::array<int, 2>, kWhereCount> unplugs{};
    // Cycles whose exchange was not reached (the run ended first): pulled out
    // by hand afterwards.
    std::array<int, kWhereCount> missed{};
    // Cycles after which the driver did not come back to tracking on all
    // plugged modules (connected, not calibrating, no dialog, no message).
    std::array<int, kWhereCount> notSane{};
    int hotplugs = 0;
    int suspends = 0;
    int downAfterUnplug = 0;
    int downAfterSuspend = 0;
    long trackInjections = 0;
    int calibrationsStored = 0;   // uploads the modules stored (runs that got through)
    int messages = 0;             // message boxes answered
};

class Bench
{
public:
    explicit Bench(unsigned seed);
    ~Bench();

    void setUp();
    // Ends the driver; returns the contacts still down at the end.
    int tearDown();

    // One hot-plug cycle in the given exchange, with 1 or 2 modules.
    void hotplugCycle(Where where, int modules);
    void hotplugCycle();   // place and module count drawn from the seed
    void suspendCycle();
    void track(qint64 driverMs);
    // The state every memory sample is taken in (see Soak.cpp); false when the
    // alignment view did not show both modules' pictures.
    bool sampleState();
    void usePlugged(int count);
    void settle(int rounds);

    const Figures &figures() const { return m_fig; }
    CountingBackend *backend() const { return m_backend; }

private:
    void deviceEvent(bool arrived);
    bool sane() const;
    bool onBus(const std::shared_ptr<tl::sim::EmulatedModule> &m) const;
    bool waitSane(int rounds);
    void clearBenchLogs();
    void setPen(int i);
    void watchDisplays(bool on);
    void refreshDisplays();
    void answerMessages();
    // Runs the event loop until the module is gone or `driverMs` has passed;
    // keeps the displays the modules watch current and the clock at the rate
    // of the step the controller is in.
    void runUntilGone(const std::shared_ptr<tl::sim::EmulatedModule> &m, qint64 driverMs);
    void paintMask();
    // Sets the clock rate; a faster one only once reads begun at the slower
    // rate have ended.
    void setSpeed(double speed);
    void onLog(const QString &msg);
    static void logHandler(QtMsgType, const QMessageLogContext &, const QString &msg);

    std::mt19937 m_rng;
    tl::sim::EmulatedBus m_bus;
    tl::FakeSystemEvents m_events;
    std::shared_ptr<tl::sim::EmulatedModule> m_modules[2];
    std::shared_ptr<tl::sim::SyntheticCamera> m_cameras[2];
    tl::sim::ProjectedDisplay m_displays[2];
    std::unique_ptr<Corvane> m_driver;
    CountingBackend *m_backend = nullptr;
    QTimer m_answerer;
    QTimer m_refresher;
    double m_speed = 100.0;
    Figures m_fig;

    // The pull during the pattern search: armed with a victim, fired from the
    // log line of the k-th search step on the GUI thread.
    std::shared_ptr<tl::sim::EmulatedModule> m_evalVictim;
    int m_evalPatternStarts = 0;
    int m_evalUploads = 0;
    int m_evalSteps = 0;
    int m_evalAt = 0;
    bool m_inHandler = false;
    static Bench *s_current;
};

} // namespace soak
