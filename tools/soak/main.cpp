// tesselink-soak: the driver on emulated modules for a long time, counting what
// is left behind.
//
//   1. hot-plug cycles: 1 or 2 modules, in tracking or in the frame stream, one
//      pulled out at a random point of the exchange (after a random number of
//      packets read by the host), then plugged in again;
//   2. suspend/resume cycles while a pen is down;
//   3. compressed tracking with pen scripts (strokes that come and go).
//
// Reported: resident memory, open descriptors and threads at the start, after a
// warm-up (one of each cycle: one-time allocations of Qt and the thread pool)
// and at the end; contacts left down after every unplug, suspend and at the end.
// Exit status 0 only when the targets hold: RSS growth after the warm-up below
// 1 MB, descriptors and threads back to the warm-up values, no contact down.
#include "control/SystemStates.h"
#include "control/nqmaincontrol.h"
#include "device/CamDevCtrl.h"
#include "input/InputInjection.h"
#include "platform/Clock.h"
#include "platform/InjectionBackend.h"
#include "platform/Screens.h"
#include "resources/Resources.h"
#include "settings/ConfigFileRW.h"
#include "settings/LanguageTable.h"
#include "sim/EmulatedBus.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QWidget>

#include <bitset>
#include <cstdio>
#include <memory>
#include <mutex>
#include <random>

using namespace tl;

namespace {

void quiet(QtMsgType, const QMessageLogContext &, const QString &) {}

// A touch backend that keeps only which contacts are down.
class CountingBackend : public InjectionBackend
{
public:
    Kind kind() const override { return Kind::Touch; }
    QString name() const override { return QStringLiteral("counting"); }
    bool injectTouch(const TouchRecord *records, int count) override
    {
        for (int i = 0; i < count; ++i) {
            if (records[i].pointerId < 0 || records[i].pointerId >= 64)
                continue;
            if (records[i].flags & TouchDown)
                m_down.set(static_cast<size_t>(records[i].pointerId));
            if (records[i].flags & TouchUp)
                m_down.reset(static_cast<size_t>(records[i].pointerId));
        }
        ++m_injections;
        return true;
    }
    bool sendMouse(int, int, quint32) override { return false; }
    int downNow() const
    {
        std::lock_guard<std::mutex> lock(input::trackingMutex());
        return static_cast<int>(m_down.count());
    }
    long injections() const
    {
        std::lock_guard<std::mutex> lock(input::trackingMutex());
        return m_injections;
    }

private:
    std::bitset<64> m_down;
    long m_injections = 0;
};

struct Usage
{
    long rssKb = 0;
    int fds = 0;
    int threads = 0;
};

Usage usage()
{
    Usage u;
    QFile status(QStringLiteral("/proc/self/status"));
    if (status.open(QIODevice::ReadOnly)) {
        for (const QByteArray &line : status.readAll().split('\n')) {
            if (line.startsWith("VmRSS:"))
                u.rssKb = line.mid(6).trimmed().split(' ').value(0).toLong();
            else if (line.startsWith("Threads:"))
                u.threads = line.mid(8).trimmed().toInt();
        }
    }
    u.fds = static_cast<int>(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::NoDotAndDotDot | QDir::System |
                                                                            QDir::Files | QDir::Dirs).size()) - 1;
    return u;
}

void print(const char *when, const Usage &u)
{
    std::printf("%-9s RSS %7ld kB  fds %3d  threads %3d\n", when, u.rssKb, u.fds, u.threads);
    std::fflush(stdout);
}

class Soak
{
public:
    Soak(unsigned seed) : m_rng(seed) {}

    void setUp()
    {
        for (int i = 0; i < 2; ++i) {
            m_modules[i] = m_bus.plug(sim::ModuleVariant::calibrated("SOAK-" + std::to_string(i)));
            setPen(i);
        }
        m_settings = std::make_unique<ConfigFileRW>();
        auto backend = std::make_unique<CountingBackend>();
        m_backend = backend.get();
        m_control = std::make_unique<nqmaincontrol>(m_settings.get(), &m_language, &m_bus, &m_window, nullptr,
                                                    std::make_unique<input::InputInjection>(std::move(backend)));
        m_control->systemStateChange(esysCONNECTION_START, -1);
        settle(20);
    }

    void tearDown()
    {
        m_control->StopDevice();
        for (int i = 0; i < 2; ++i)
            m_control->device()->Close(i);
        settle(5);
        m_finalDown = m_backend->downNow();
        m_control.reset();
        m_settings.reset();
    }

    // Strokes: down for 40 report cycles, up for 15, at a position that moves.
    void setPen(int i)
    {
        m_modules[i]->setPenScript([i](uint64_t cycle) {
            std::vector<sim::TrackPoint> pts;
            const uint64_t phase = cycle % 55;
            if (phase < 40)
                pts.push_back({static_cast<int>(800 + phase * 60 + i * 200), static_cast<int>(900 + (cycle / 55) % 9 * 150),
                               100});
            return pts;
        });
    }

    // The emulator keeps a log of what it received (bounded, but large): it is
    // the test bench's memory, not the driver's, and is emptied every cycle.
    void clearBenchLogs()
    {
        for (auto &m : m_modules)
            m->clearReceived();
    }

    static void settle(int rounds)
    {
        for (int r = 0; r < rounds; ++r) {
            QCoreApplication::processEvents();
            Clock::sleepMs(20);
        }
    }

    void deviceChanged()
    {
        m_control->systemStateChange(esysDEVICE_FOUND_OR_REMOVE, -1);
        settle(5);
    }

    // Exactly `count` modules plugged.
    void usePlugged(int count)
    {
        bool changed = false;
        for (int i = 0; i < 2; ++i) {
            const bool want = i < count;
            if (want && !m_modules[i]->plugged()) {
                m_bus.replug(m_modules[i]);
                changed = true;
            } else if (!want && m_modules[i]->plugged()) {
                m_bus.unplug(m_modules[i]);
                changed = true;
            }
        }
        if (changed)
            deviceChanged();
    }

    void hotplugCycle()
    {
        const int count = 1 + static_cast<int>(m_rng() % 2);
        usePlugged(count);
        const bool frames = m_rng() % 2;
        if (frames)
            m_control->systemStateChange(esysUSER_ALIGNMENT_VIEW, -1);
        // Pulled out after a random number of packets read by the host.
        const int victim = static_cast<int>(m_rng() % static_cast<unsigned>(count));
        sim::FaultPlan plan;
        plan.unplugAfterSent = 1 + static_cast<int>(m_rng() % (frames ? 900 : 60));
        m_modules[victim]->setFaults(plan);
        for (int r = 0; r < 150 && m_modules[victim]->plugged(); ++r)
            settle(1);
        m_bus.unplug(m_modules[victim]);   // no effect when the fault did it
        m_modules[victim]->setFaults({});
        deviceChanged();
        if (frames)
            m_control->resumeAfterAlignment();
        settle(2);
        // A pulled module's contacts come up with it; the other may still track.
        if (count == 1 && m_backend->downNow() != 0)
            ++m_downAfterUnplug;
        m_bus.replug(m_modules[victim]);
        deviceChanged();
        clearBenchLogs();
        ++m_hotplugs;
    }

    void suspendCycle()
    {
        usePlugged(1 + static_cast<int>(m_rng() % 2));
        settle(1 + static_cast<int>(m_rng() % 10));
        m_control->systemStateChange(esysCHANGE_TO_SLEEP, -1);
        if (m_backend->downNow() != 0)
            ++m_downAfterSuspend;
        settle(2);
        m_control->systemStateChange(esysCHANGE_WAKE_UP, -1);
        settle(5);
        clearBenchLogs();
        ++m_suspends;
    }

    void track(qint64 driverMs)
    {
        usePlugged(2);
        const long before = m_backend->injections();
        const qint64 end = Clock::nowMs() + driverMs;
        while (Clock::nowMs() < end) {
            settle(50);
            clearBenchLogs();
        }
        m_trackInjections += m_backend->injections() - before;
    }

    int m_hotplugs = 0, m_suspends = 0, m_downAfterUnplug = 0, m_downAfterSuspend = 0, m_finalDown = -1;
    long m_trackInjections = 0;
    CountingBackend *m_backend = nullptr;

private:
    std::mt19937 m_rng;
    sim::EmulatedBus m_bus;
    std::shared_ptr<sim::EmulatedModule> m_modules[2];
    QWidget m_window;
    LanguageTable m_language;
    std::unique_ptr<ConfigFileRW> m_settings;
    std::unique_ptr<nqmaincontrol> m_control;
};

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", home.path().toLocal8Bit());
    qputenv("XDG_RUNTIME_DIR", home.path().toLocal8Bit());
    const Usage atStart = usage();
    QApplication app(argc, argv);
    app.setQuitOnLastWindowClosed(false);

    QCommandLineParser cli;
    cli.setApplicationDescription(QStringLiteral("Soak of the driver on emulated modules"));
    cli.addHelpOption();
    QCommandLineOption hotplugOpt(QStringLiteral("hotplug"), QStringLiteral("Hot-plug cycles."), QStringLiteral("n"),
                                  QStringLiteral("1000"));
    QCommandLineOption suspendOpt(QStringLiteral("suspend"), QStringLiteral("Suspend/resume cycles."),
                                  QStringLiteral("n"), QStringLiteral("100"));
    QCommandLineOption trackOpt(QStringLiteral("track-minutes"), QStringLiteral("Driver minutes of tracking."),
                                QStringLiteral("m"), QStringLiteral("60"));
    QCommandLineOption compressOpt(QStringLiteral("compression"), QStringLiteral("Time compression."),
                                   QStringLiteral("x"), QStringLiteral("100"));
    QCommandLineOption seedOpt(QStringLiteral("seed"), QStringLiteral("Random seed."), QStringLiteral("s"),
                               QStringLiteral("16"));
    QCommandLineOption shortOpt(QStringLiteral("short"), QStringLiteral("The CI version: 40 hot-plugs, 10 suspends, "
                                                                        "2 minutes of tracking."));
    QCommandLineOption logOpt(QStringLiteral("log"), QStringLiteral("Print the driver's log."));
    cli.addOptions({hotplugOpt, suspendOpt, trackOpt, compressOpt, seedOpt, shortOpt, logOpt});
    cli.process(app);
    if (!cli.isSet(logOpt))
        qInstallMessageHandler(quiet);
    const bool brief = cli.isSet(shortOpt);
    const int hotplugs = brief ? 40 : cli.value(hotplugOpt).toInt();
    const int suspends = brief ? 10 : cli.value(suspendOpt).toInt();
    const double minutes = brief ? 2 : cli.value(trackOpt).toDouble();

    tl::initResources();
    Clock::setCompression(cli.value(compressOpt).toDouble());
    ScreenSource::setOverride({{QRect(0, 0, 1920, 1080), 96}, {QRect(1920, 0, 1920, 1080), 96}});

    QElapsedTimer wall;
    wall.start();
    Usage warm, atEnd;
    int finalDown = -1, downUnplug = 0, downSuspend = 0, cycles = 0, sleeps = 0;
    long injections = 0;
    {
        Soak soak(cli.value(seedOpt).toUInt());
        soak.setUp();
        // Warm-up: one of each, so one-time allocations are behind us.
        for (int i = 0; i < 4; ++i)
            soak.hotplugCycle();
        soak.suspendCycle();
        soak.track(5000);
        warm = usage();
        print("start", atStart);
        print("warm-up", warm);
        for (int i = 0; i < hotplugs; ++i) {
            soak.hotplugCycle();
            if ((i + 1) % 100 == 0) {
                char what[32];
                std::snprintf(what, sizeof what, "plug %d", i + 1);
                print(what, usage());
            }
        }
        for (int i = 0; i < suspends; ++i)
            soak.suspendCycle();
        print("suspends", usage());
        soak.track(static_cast<qint64>(minutes * 60000));
        soak.usePlugged(2);
        Soak::settle(10);
        atEnd = usage();
        print("end", atEnd);
        cycles = soak.m_hotplugs;
        sleeps = soak.m_suspends;
        downUnplug = soak.m_downAfterUnplug;
        downSuspend = soak.m_downAfterSuspend;
        injections = soak.m_trackInjections;
        soak.tearDown();
        finalDown = soak.m_finalDown;
    }
    const long growth = atEnd.rssKb - warm.rssKb;
    std::printf("hot-plug cycles %d, suspend/resume cycles %d, tracking %.1f driver minutes (%ld injections)\n",
                cycles - 4, sleeps - 1, minutes, injections);
    std::printf("contacts down: after a single module's unplug %d times, after suspend %d times, at the end %d\n",
                downUnplug, downSuspend, finalDown);
    std::printf("RSS growth after warm-up %ld kB, fds %+d, threads %+d; wall time %.1f s\n", growth,
                atEnd.fds - warm.fds, atEnd.threads - warm.threads, wall.elapsed() / 1000.0);
    const bool ok = growth < 1024 && atEnd.fds == warm.fds && atEnd.threads == warm.threads && finalDown == 0 &&
                    downUnplug == 0 && downSuspend == 0;
    std::printf("soak: %s\n", ok ? "PASS" : "FAIL");
    return ok ? 0 : 1;
}
