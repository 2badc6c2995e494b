#include "Soak.h"

#include "calibration/CalibDlg.h"
#include "calibration/WaitDlg.h"
#include "control/SystemStates.h"
#include "control/nqmaincontrol.h"
#include "device/codec/Commands.h"
#include "device/codec/Image.h"
#include "input/InputInjection.h"
#include "platform/Clock.h"
#include "settings/ConfigFileRW.h"
#include "tests/support/DriverSpin.h"
#include "ui/AlignmentDlg.h"
#include "ui/maskDlg.h"

#include <QApplication>
#include <QBackingStore>
#include <QLabel>
#include <QMessageBox>
#include <QMouseEvent>
#include <QThread>

#include <cstdio>
#include <mutex>

using namespace tl;
using namespace tl::codec;
using tl::sim::CommandFault;
using tl::sim::PacketFault;

namespace soak {

namespace {

// The interface name the system reports for a module's data interface.
const QString kInterface = QStringLiteral("USB\\VID_16D0&PID_0F8C&MI_02\\3-1");

// The pattern search has time limits of its own: it runs at this clock rate.
constexpr double kSearchSpeed = 4.0;
// The person at the board during manual calibration looks at a grab of the
// window: the clock runs slower while they do.
constexpr double kManualSpeed = 10.0;

bool isSearchLine(const QString &msg)
{
    return msg.startsWith(QLatin1String("recogCircularPattern")) || msg.startsWith(QLatin1String("top 20 threshold"))
        || msg.startsWith(QLatin1String("after step")) || msg.startsWith(QLatin1String("tweakMarkerCenter"))
        || msg.startsWith(QLatin1String("ID:"));
}

QtMessageHandler g_next = nullptr;

} // namespace

Bench *Bench::s_current = nullptr;

const char *whereName(Where w)
{
    switch (w) {
    case Where::Tracking: return "tracking";
    case Where::Frames: return "frames";
    case Where::MaskDownload: return "mask-download";
    case Where::MaskUpload: return "mask-upload";
    case Where::AutoBlack: return "auto-black";
    case Where::AutoWhite: return "auto-white";
    case Where::AutoPattern: return "auto-pattern";
    case Where::AutoTransfer: return "auto-transfer";
    case Where::AutoEvaluation: return "auto-evaluation";
    case Where::AutoUpload: return "auto-upload";
    case Where::ManualTargets: return "manual-targets";
    case Where::ManualUpload: return "manual-upload";
    case Where::Count: break;
    }
    return "?";
}

// ---- the counting backend --------------------------------------------------------

// Read under the tracking mutex: the receive loops inject while the soak looks.
int downNow(const CountingBackend &backend)
{
    std::lock_guard<std::mutex> lock(input::trackingMutex());
    return backend.downNow();
}

long injections(const CountingBackend &backend)
{
    std::lock_guard<std::mutex> lock(input::trackingMutex());
    return backend.calls();
}

// ---- the bench ------------------------------------------------------------------

Bench::Bench(unsigned seed) : m_rng(seed) {}

Bench::~Bench()
{
    if (s_current == this) {
        qInstallMessageHandler(g_next);
        s_current = nullptr;
    }
}

void Bench::logHandler(QtMsgType type, const QMessageLogContext &ctx, const QString &msg)
{
    if (s_current && QThread::currentThread() == qApp->thread())
        s_current->onLog(msg);
    if (g_next)
        g_next(type, ctx, msg);
}

void Bench::setUp()
{
    for (int i = 0; i < 2; ++i) {
        m_modules[i] = m_bus.plug(sim::ModuleVariant::calibrated("SOAK-" + std::to_string(i)));
        setPen(i);
        sim::CameraSetup setup;
        setup.seed = 1 + 1000 * static_cast<uint64_t>(i);
        m_cameras[i] = std::make_shared<sim::SyntheticCamera>(setup);
        sim::UserSetup user;
        user.seed = 7 + 7 * static_cast<uint64_t>(i);
        m_modules[i]->setUser(user);
    }
    Corvane::Platform platform{&m_events, &m_bus, {}};
    platform.makeInjection = [this] {
        auto backend = std::make_unique<CountingBackend>();
        m_backend = backend.get();
        return std::make_unique<input::InputInjection>(std::move(backend));
    };
    m_driver = std::make_unique<Corvane>(platform);
    m_speed = Clock::compression();
    s_current = this;
    g_next = qInstallMessageHandler(logHandler);
    // A message box is answered as a user would; it is counted.
    m_answerer.setInterval(5);
    QObject::connect(&m_answerer, &QTimer::timeout, [this] { answerMessages(); });
    m_answerer.start();
    QObject::connect(&m_refresher, &QTimer::timeout, [this] { refreshDisplays(); });
    m_driver->initialStart();
    // The projector lens the modules were calibrated for.
    m_driver->settings()->setLensSelect(0);
    settle(20);
}

int Bench::tearDown()
{
    m_answerer.stop();
    m_refresher.stop();
    m_driver->control()->StopDevice();
    m_driver->control()->closeDevices();
    settle(5);
    const int down = downNow(*m_backend);
    m_driver.reset();
    for (auto &m : m_modules)
        m->setCamera(nullptr, {});
    return down;
}

// Strokes: down for 40 report cycles, up for 15, at a position that moves.
void Bench::setPen(int i)
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
void Bench::clearBenchLogs()
{
    for (auto &m : m_modules)
        m->clearReceived();
}

void Bench::settle(int rounds)
{
    tl::test::settle(rounds);
}

void Bench::answerMessages()
{
    if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
        ++m_fig.messages;
        box->accept();
    }
}

void Bench::deviceEvent(bool arrived)
{
    if (arrived)
        m_events.raiseDeviceArrival(kInterface);
    else
        m_events.raiseDeviceRemoval(kInterface);
    settle(5);
}

// Exactly `count` modules plugged.
void Bench::usePlugged(int count)
{
    for (int i = 0; i < 2; ++i) {
        const bool want = i < count;
        if (want && !m_modules[i]->plugged()) {
            m_bus.replug(m_modules[i]);
            deviceEvent(true);
        } else if (!want && m_modules[i]->plugged()) {
            m_bus.unplug(m_modules[i]);
            deviceEvent(false);
        }
    }
}

bool Bench::onBus(const std::shared_ptr<sim::EmulatedModule> &m) const
{
    for (const auto &d : m_bus.devices())
        if (d == m)
            return true;
    return false;
}

// Tracking on every plugged module, nothing of a calibration or the alignment
// view left over, no message open.
bool Bench::sane() const
{
    const nqmaincontrol *c = m_driver->control();
    int plugged = 0;
    for (const auto &m : m_modules)
        plugged += m->plugged() ? 1 : 0;
    return c->connectionStatus() && c->threadState() == etaTRACKING && c->calState() == ecsIDLE_CALIBRATION
        && m_driver->settings()->getNumOfCamDevice() == plugged && !c->calibDialog()->isVisible()
        && !m_driver->alignmentView()->isVisible() && !m_driver->alignmentView()->displaying()
        && !c->waitDialog()->isVisible() && !QApplication::activeModalWidget();
}

bool Bench::waitSane(int rounds)
{
    for (int r = 0; r < rounds; ++r) {
        if (sane())
            return true;
        settle(1);
    }
    return sane();
}

// Which display each module watches: the calibration window while it is shown
// on that module's monitor, otherwise a dark board. Grabs are made on the GUI
// thread (as captures are asked for, and by the refresher for the person at
// the board); the module threads get the last grab.
void Bench::refreshDisplays()
{
    CalibDlg *dlg = m_driver->control()->calibDialog();
    ConfigFileRW *settings = m_driver->settings();
    const bool shown = dlg->isVisible();
    QImage grab;
    for (int i = 0; i < 2; ++i) {
        const QString serial = QString::fromStdString(m_modules[i]->serial());
        const int slot = dlg->devNum();
        const bool mine = shown && (slot == 0 || slot == 1) && settings->getDeviceSerial(slot) == serial;
        if (mine && grab.isNull())
            grab = dlg->grab().toImage();
        m_displays[i].update(mine ? grab : QImage());
    }
}

void Bench::watchDisplays(bool on)
{
    QThread *gui = QThread::currentThread();
    for (int i = 0; i < 2; ++i) {
        if (!on) {
            m_modules[i]->setCamera(nullptr, {});
            m_displays[i].update(QImage());
            continue;
        }
        sim::ProjectedDisplay *display = &m_displays[i];
        m_modules[i]->setCamera(m_cameras[i], [this, display, gui]() -> QImage {
            if (QThread::currentThread() == gui)
                refreshDisplays();
            return display->current();
        });
    }
    if (on) {
        m_refresher.setInterval(Clock::wallMs(50));
        m_refresher.start();
    } else {
        m_refresher.stop();
    }
}

// Changing the clock rate: reads in flight keep the length in wall time they
// started with, so the driver's bounds on them (for a receive loop to end, say)
// hold only once every read begun at a slower rate has ended. A slower rate is
// therefore kept for this much driver time (the longest read of a receive loop
// and of its drain, with room) before a faster one is set.
constexpr qint64 kRateChangeMs = 3000;

void Bench::setSpeed(double speed)
{
    if (speed > Clock::compression())
        tl::test::spinFor(kRateChangeMs);
    Clock::setCompression(speed);
}

void Bench::runUntilGone(const std::shared_ptr<sim::EmulatedModule> &m, qint64 driverMs)
{
    const nqmaincontrol *c = m_driver->control();
    tl::test::spinUntil(
        [&] {
            if (!m->plugged())
                return true;
            // The pattern search has time limits of its own: it runs slower.
            const bool search = c->threadState() == etaAUTO_CALIBRATION && (c->calState() == 8 || c->calState() == 9);
            if (search && Clock::compression() > kSearchSpeed)
                Clock::setCompression(kSearchSpeed);
            else if (!search && Clock::compression() < m_speed)
                setSpeed(m_speed);
            return false;
        },
        driverMs);
}

// A stroke across the mask editor, at a random place.
void Bench::paintMask()
{
    QWidget *editor = m_driver->alignmentView()->maskEditor();
    if (!editor)
        return;
    auto send = [editor](QEvent::Type type, QPoint p) {
        const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
        QMouseEvent e(type, p, editor->mapToGlobal(p), button,
                      type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(editor, &e);
    };
    const int x = 40 + static_cast<int>(m_rng() % 400), y = 40 + static_cast<int>(m_rng() % 200);
    send(QEvent::MouseButtonPress, QPoint(x, y));
    for (int i = 1; i <= 40; ++i)
        send(QEvent::MouseMove, QPoint(x + 3 * i, y + (i * i) / 40));
    send(QEvent::MouseButtonRelease, QPoint(x + 120, y + 40));
}

// The pull during the pattern search: the module goes away at the k-th step
// the search logs, on the GUI thread in the middle of the evaluation, or as the
// evaluation logs its result when the search took fewer steps.
void Bench::onLog(const QString &msg)
{
    if (!m_evalVictim || m_inHandler)
        return;
    const bool result = msg.startsWith(QLatin1String("calib_success ="));
    if (!result && !isSearchLine(msg))
        return;
    // Only the victim's own evaluation: it has taken its pattern picture and
    // nothing has been uploaded to it yet.
    if (m_evalVictim->receivedCount(CMD_AC_PATTERN_START) <= m_evalPatternStarts
        || m_evalVictim->receivedCount(CMD_SET_CALIB_PARAMETER) > m_evalUploads)
        return;
    if (!result && ++m_evalSteps < m_evalAt)
        return;
    m_inHandler = true;
    m_bus.unplug(m_evalVictim);
    m_evalVictim.reset();
    m_inHandler = false;
}

void Bench::hotplugCycle()
{
    const Where where = static_cast<Where>(m_rng() % kWhereCount);
    const bool maskJob = where == Where::MaskDownload || where == Where::MaskUpload;
    hotplugCycle(where, maskJob ? 1 : 1 + static_cast<int>(m_rng() % 2));
}

void Bench::hotplugCycle(Where where, int modules)
{
    usePlugged(modules);
    if (!waitSane(500)) {
        // Left over from the cycle before: the next cycle starts afresh.
        usePlugged(0);
        usePlugged(modules);
        waitSane(500);
    }
    nqmaincontrol *control = m_driver->control();
    AlignmentDlg *view = m_driver->alignmentView();
    const int victim = where == Where::MaskDownload || where == Where::MaskUpload
        ? 0 : static_cast<int>(m_rng() % static_cast<unsigned>(modules));
    const std::shared_ptr<sim::EmulatedModule> m = m_modules[victim];
    const int storedBefore = m_modules[0]->stats().calibrationUploads + m_modules[1]->stats().calibrationUploads;
    const unsigned pick = m_rng();
    const bool before = pick % 2 == 0;
    const CommandFault side = before ? CommandFault::UnplugBefore : CommandFault::UnplugAfter;
    sim::FaultPlan plan;
    // A capture: its command on arrival or after it was carried out, or its end
    // as the host reads it.
    auto capture = [&](int32_t command, int32_t end) {
        if (pick % 3 == 2)
            plan.packets.push_back({end, -1, -1, 0, 1, PacketFault::Unplug, 0, {}});
        else
            plan.commands.push_back({command, 0, 1, (pick % 3 == 0) ? CommandFault::UnplugBefore
                                                                    : CommandFault::UnplugAfter, 0});
    };
    qint64 limitMs = 60000;
    const double speed = m_speed;
    switch (where) {
    case Where::Tracking:
        plan.unplugAfterSent = 1 + static_cast<int>(m_rng() % 60);
        m->setFaults(plan);
        break;
    case Where::Frames:
        plan.unplugAfterSent = 1 + static_cast<int>(m_rng() % 900);
        m->setFaults(plan);
        m_driver->StartAlignmentDisplay();
        break;
    case Where::MaskDownload:
        // Out and in again: the host reads the mask as it opens the module.
        m_bus.unplug(m);
        deviceEvent(false);
        m_bus.replug(m);
        if (before)
            plan.commands.push_back({CMD_GET_MASK, static_cast<int>(m_rng() % kMaskParts), 1,
                                     (pick % 4 < 2) ? CommandFault::UnplugBefore : CommandFault::UnplugAfter, 0});
        else
            plan.packets.push_back({DAT_MASK, -1, static_cast<int>(m_rng() % kMaskParts), 0, 1, PacketFault::Unplug, 0,
                                    {}});
        m->setFaults(plan);
        m_events.raiseDeviceArrival(kInterface);
        break;
    case Where::MaskUpload:
        m_driver->StartAlignmentDisplay();
        settle(10);
        view->clickPushB();
        if (view->maskEditorOpen())
            paintMask();
        plan.commands.push_back({CMD_SET_MASK, static_cast<int>(m_rng() % kMaskParts), 1, side, 0});
        m->setFaults(plan);
        view->clickOK();
        break;
    case Where::AutoBlack:
    case Where::AutoWhite:
    case Where::AutoPattern:
    case Where::AutoTransfer:
    case Where::AutoEvaluation:
    case Where::AutoUpload:
        if (where == Where::AutoBlack)
            capture(CMD_AC_BLACK_START, RES_AC_BLACK_END);
        else if (where == Where::AutoWhite)
            capture(CMD_AC_WHITE_START, RES_AC_WHITE_END);
        else if (where == Where::AutoPattern)
            capture(CMD_AC_PATTERN_START, RES_AC_PATTERN_END);
        else if (where == Where::AutoTransfer)
            plan.packets.push_back({DAT_AC_IMAGE, 101 + static_cast<int>(m_rng() % 3),
                                    static_cast<int>(m_rng() % kAcPieces), 0, 1, PacketFault::Unplug, 0, {}});
        else if (where == Where::AutoUpload)
            capture(CMD_SET_CALIB_PARAMETER, RES_AC_READY_END);
        if (where == Where::AutoEvaluation) {
            m_evalPatternStarts = m->receivedCount(CMD_AC_PATTERN_START);
            m_evalUploads = m->receivedCount(CMD_SET_CALIB_PARAMETER);
            m_evalSteps = 0;
            m_evalAt = 1 + static_cast<int>(m_rng() % 8);
            m_evalVictim = m;
        }
        m->setFaults(plan);
        watchDisplays(true);
        m_driver->StartACalibration();
        limitMs = 600000;
        break;
    case Where::ManualTargets:
    case Where::ManualUpload:
        if (where == Where::ManualTargets) {
            // At one of the 16 targets: as the host shows it, or while the person
            // holds the pen on it (pen seen, step ended).
            const int target = static_cast<int>(m_rng() % 16);
            if (pick % 4 < 2)
                plan.commands.push_back({CMD_MC_PATTERN_START, target, 1, side, 0});
            else
                plan.packets.push_back({pick % 4 == 2 ? RES_MC_PATTERN_DONE : RES_MC_PATTERN_END, -1, -1, target, 1,
                                        PacketFault::Unplug, 0, {}});
        } else if (pick % 3 == 0) {
            plan.commands.push_back({CMD_MC_GET_INPUT_POINT, 0, 1, side, 0});
        } else if (pick % 3 == 1) {
            plan.packets.push_back({DAT_MC_INPUT_POINT, -1, -1, 0, 1, PacketFault::Unplug, 0, {}});
        } else {
            capture(CMD_SET_CALIB_PARAMETER, RES_AC_READY_END);
        }
        m->setFaults(plan);
        m_speed = kManualSpeed;
        setSpeed(m_speed);
        watchDisplays(true);
        m_driver->StartMCalibration();
        limitMs = 600000;
        break;
    case Where::Count:
        break;
    }

    runUntilGone(m, limitMs);
    m_evalVictim.reset();
    const bool fired = !m->plugged();
    m_bus.unplug(m);   // no effect when the fault did it
    // A module pulled out by a host thread's transfer leaves the bus's list just
    // after it stops answering; the system reports it once it has left.
    for (int r = 0; r < 500 && onBus(m); ++r)
        Clock::sleepMs(1);
    const int w = static_cast<int>(where);
    if (fired)
        ++m_fig.unplugs[w][modules - 1];
    else
        ++m_fig.missed[w];
    m->setFaults({});
    deviceEvent(false);
    // A pulled module's contacts come up with it; the other may still track.
    if (modules == 1 && downNow(*m_backend) != 0)
        ++m_fig.downAfterUnplug;
    watchDisplays(false);
    m_speed = speed;
    setSpeed(m_speed);
    m_bus.replug(m);
    deviceEvent(true);
    if (!waitSane(500)) {
        ++m_fig.notSane[w];
        const nqmaincontrol *c = control;
        std::printf("not back to tracking after %s (%d modules): connected %d thread %s cal %s count %d view %d "
                    "calib window %d modal %d\n",
                    whereName(where), modules, c->connectionStatus(), threadStateName(c->threadState()),
                    calibrationStateName(c->calState()), m_driver->settings()->getNumOfCamDevice(),
                    view->isVisible(), c->calibDialog()->isVisible(), QApplication::activeModalWidget() != nullptr);
        std::fflush(stdout);
    }
    m_fig.calibrationsStored +=
        m_modules[0]->stats().calibrationUploads + m_modules[1]->stats().calibrationUploads - storedBefore;
    clearBenchLogs();
    ++m_fig.hotplugs;
}

void Bench::suspendCycle()
{
    usePlugged(1 + static_cast<int>(m_rng() % 2));
    settle(1 + static_cast<int>(m_rng() % 10));
    m_events.raiseSuspend();
    if (downNow(*m_backend) != 0)
        ++m_fig.downAfterSuspend;
    settle(2);
    m_events.raiseResume();
    settle(5);
    clearBenchLogs();
    ++m_fig.suspends;
}

void Bench::track(qint64 driverMs)
{
    usePlugged(2);
    const long before = injections(*m_backend);
    const qint64 end = Clock::nowMs() + driverMs;
    while (Clock::nowMs() < end) {
        settle(50);
        clearBenchLogs();
    }
    m_fig.trackInjections += injections(*m_backend) - before;
}

// Some of what the driver and the emulator hold is replaced, not added to, but
// its size follows the last use, so that two samples taken after different
// cycles differ by megabytes with nothing leaked:
//  - the alignment view, hidden, keeps its window's backing store (one monitor
//    wide after a showing with one module, two monitors wide with two: 8 MB
//    apart) and the last picture in each module's place (0.9 MB each);
//  - an emulated module keeps the pictures it took for an auto calibration
//    (2.7 MB) until it is next powered up.
// Every sample is therefore taken in one state: both modules plugged in afresh
// (the emulator's pictures gone) and the alignment view shown on both monitors
// until each module's picture is in it (its largest hold), then closed with OK.
// A hold that grows from cycle to cycle still shows as growth between two samples.
bool Bench::sampleState()
{
    usePlugged(0);
    usePlugged(2);
    waitSane(500);
    AlignmentDlg *view = m_driver->alignmentView();
    QLabel *pictures[2] = {view->findChild<QLabel *>(QStringLiteral("label1")),
                           view->findChild<QLabel *>(QStringLiteral("label2"))};
    m_driver->StartAlignmentDisplay();
    const bool shown = tl::test::spinUntil(
        [&] {
            const QBackingStore *store = view->backingStore();
            return view->isVisible() && store && store->size() == view->size() && pictures[0] && pictures[1]
                && !pictures[0]->pixmap(Qt::ReturnByValue).isNull()
                && !pictures[1]->pixmap(Qt::ReturnByValue).isNull();
        },
        20000);
    view->clickOK();
    const bool back = waitSane(500);
    clearBenchLogs();
    return shown && back;
}

} // namespace soak
