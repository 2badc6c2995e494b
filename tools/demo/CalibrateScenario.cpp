// The calibrate scenario: a user starts auto or manual calibration as from the
// tray; each emulated module watches its display through its synthetic camera
// (what the calibration window really paints), and after the upload a grid of
// pen touches runs through the modules' own mapping, the tracking path and the
// injection. Injected positions are compared with where the pen really was.

#include "Scenarios.h"
#include "ErrorFigures.h"

#include "app/Corvane.h"
#include "calibration/CalibDlg.h"
#include "calibration/CalibWorkspace.h"
#include "calibration/PatternRecognition.h"
#include "control/nqmaincontrol.h"
#include "device/CamDevCtrl.h"
#include "input/InputInjection.h"
#include "platform/Clock.h"
#include "platform/fake/RecordingBackend.h"
#include "settings/ConfigFileRW.h"
#include "sim/EmulatedBus.h"
#include "sim/ImageSource.h"
#include "sim/SimulatedUser.h"
#include "sim/SyntheticCamera.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <QMessageBox>
#include <QPolygonF>
#include <QRegularExpression>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include <pthread.h>
#include <sys/resource.h>
#include <time.h>

namespace {

using demo::num;
using demo::stats;

// Figures of the calibration evaluation, read from the driver's log lines.
struct RunFigures
{
    std::vector<int> success;
    std::vector<int> loops;
    std::vector<double> sse;
    int findTimeouts = 0;       // threshold loops of the pattern search cut by their time limit
};

// CPU spent in each auto evaluation (normalise, find, fit): from the arrival
// of the pattern image to the evaluation's "calib_success" line. The process
// figure is every thread's time (getrusage), the module emulator's and the
// demo's included; the GUI thread figure is the time of the thread that runs
// the evaluation; the evaluation threads figure adds to it what the pattern
// search's threshold levels spent on its worker threads, as the evaluation's
// "evaluation cpu" line reports it (to the millisecond).
struct EvalCpu
{
    double processStart = -1, threadStart = -1;
    double searchWorkers = 0;
    QElapsedTimer wall;
    std::vector<double> process, thread, workers, wallMs;
};

double processCpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

clockid_t g_guiClock = CLOCK_THREAD_CPUTIME_ID;

double guiThreadCpuSeconds()
{
    timespec t{};
    clock_gettime(g_guiClock, &t);
    return t.tv_sec + t.tv_nsec / 1e9;
}

EvalCpu *g_evalCpu = nullptr;

RunFigures *g_figures = nullptr;
std::mutex g_figuresMutex;
QtMessageHandler g_previous = nullptr;

void figureHandler(QtMsgType type, const QMessageLogContext &ctx, const QString &msg)
{
    {
        std::lock_guard<std::mutex> lock(g_figuresMutex);
        if (g_figures) {
            static const QRegularExpression success("^calib_success = (\\d+)$");
            static const QRegularExpression loop("^ac_loop = (\\d+)$");
            static const QRegularExpression sse("^ac_sse  = ([-0-9.eE+naif]+)$");
            static const QRegularExpression timeout("^timeout: \\d+$");
            static const QRegularExpression evaluation(
                "^evaluation cpu: [0-9.]+ s \\(evaluating thread [0-9.]+ s, search workers ([0-9.]+) s\\)$");
            QRegularExpressionMatch m;
            if ((m = success.match(msg)).hasMatch()) {
                g_figures->success.push_back(m.captured(1).toInt());
                if (g_evalCpu && g_evalCpu->processStart >= 0) {
                    g_evalCpu->process.push_back(processCpuSeconds() - g_evalCpu->processStart);
                    g_evalCpu->thread.push_back(guiThreadCpuSeconds() - g_evalCpu->threadStart);
                    g_evalCpu->workers.push_back(g_evalCpu->searchWorkers);
                    g_evalCpu->wallMs.push_back(g_evalCpu->wall.nsecsElapsed() / 1e6);
                    g_evalCpu->processStart = -1;
                }
            }
            else if ((m = loop.match(msg)).hasMatch())
                g_figures->loops.push_back(m.captured(1).toInt());
            else if ((m = sse.match(msg)).hasMatch())
                g_figures->sse.push_back(m.captured(1).toDouble());
            else if (timeout.match(msg).hasMatch())
                ++g_figures->findTimeouts;
            else if ((m = evaluation.match(msg)).hasMatch() && g_evalCpu)
                g_evalCpu->searchWorkers = m.captured(1).toDouble();
        }
    }
    if (g_previous)
        g_previous(type, ctx, msg);
}

std::vector<tl::RecordingBackend::Call> takeCalls(tl::RecordingBackend &backend)
{
    std::lock_guard<std::mutex> lock(tl::input::trackingMutex());
    std::vector<tl::RecordingBackend::Call> calls = backend.calls();
    backend.clear();
    return calls;
}

// Mean position of each contact while it was down, in the order they went down.
std::vector<QPointF> contactMeans(const std::vector<tl::RecordingBackend::Call> &calls, int *released)
{
    std::vector<QPointF> means;
    std::map<int, std::pair<QPointF, int>> open;   // pointer id -> sum, count
    std::map<int, size_t> slot;                    // pointer id -> index in means
    *released = 0;
    for (const auto &call : calls) {
        if (call.type != tl::RecordingBackend::Call::Type::Touch)
            continue;
        for (const tl::TouchRecord &rec : call.records) {
            if (rec.flags & tl::TouchDown) {
                open[rec.pointerId] = {QPointF(), 0};
                slot[rec.pointerId] = means.size();
                means.push_back(QPointF(rec.x, rec.y));
            }
            if ((rec.flags & tl::TouchInContact) && open.count(rec.pointerId)) {
                auto &acc = open[rec.pointerId];
                acc.first += QPointF(rec.x, rec.y);
                ++acc.second;
                means[slot[rec.pointerId]] = acc.first / acc.second;
            }
            if ((rec.flags & tl::TouchUp) && open.erase(rec.pointerId))
                ++*released;
        }
    }
    return means;
}

} // namespace

QString runCalibrate(const DemoOptions &opt, Corvane &driver, tl::sim::EmulatedBus &bus,
                     tl::RecordingBackend *backend, QTextStream &out)
{
    if (!backend)
        return "the calibrate scenario needs the recording injection";
    nqmaincontrol *control = driver.control();
    ConfigFileRW *settings = driver.settings();
    const int modules = settings->getNumOfCamDevice();
    if (modules < 1 || !control->connectionStatus())
        return "no module is connected";
    const int W = opt.displayWidth, H = opt.displayHeight;
    const bool manual = opt.method == "manual";

    out << "calibrate.method: " << (manual ? "manual" : "auto") << "\n";
    out << "calibrate.modules: " << modules << "\n";
    out << "calibrate.display: " << W << "x" << H << "\n";
    out << "calibrate.lens: " << opt.lens << "\n";
    out << "calibrate.ceiling: " << int(opt.ceiling) << "\n";
    out << "calibrate.rear: " << int(opt.rear) << "\n";
    out << "calibrate.seed: " << opt.seed << "\n";
    out << "calibrate.noise: " << opt.noise << "\n";
    out << "calibrate.pen: " << opt.pen << "\n";
    if (manual)
        out << "calibrate.touch_error_px: " << opt.touchError << "\n";

    // What the user set in the wizard: the projector's lens, the mounting and
    // the pen.
    settings->setLensSelect(opt.lens - 1);
    settings->setPenSelect(opt.pen);
    settings->setCheckCeiling(opt.ceiling);
    settings->setCheckRear(opt.rear);

    // Each module watches its display: the calibration window when it is shown
    // there, otherwise a dark board. Grabs happen on the GUI thread; a module
    // asked from another thread gets the last grab.
    CalibDlg *dlg = control->calibDialog();
    const auto devices = bus.devices();
    std::vector<std::shared_ptr<tl::sim::SyntheticCamera>> cameras;
    std::vector<std::unique_ptr<tl::sim::ProjectedDisplay>> displays;
    QThread *gui = QThread::currentThread();
    // Why a camera could not photograph its output (GUI thread only).
    std::vector<QString> grabErrors(static_cast<size_t>(modules));
    for (int k = 0; k < modules; ++k) {
        tl::sim::CameraSetup setup;
        setup.displayWidth = W;
        setup.displayHeight = H;
        setup.lens = opt.lens;
        setup.ceiling = opt.ceiling;
        setup.rear = opt.rear;
        setup.seed = opt.seed + 1000 * k;
        setup.noise = opt.noise;
        cameras.push_back(std::make_shared<tl::sim::SyntheticCamera>(setup));
        displays.push_back(std::make_unique<tl::sim::ProjectedDisplay>());
        tl::sim::ProjectedDisplay *display = displays.back().get();
        // In a window session the camera photographs the output it watches,
        // whatever the window system shows there.
        const std::shared_ptr<tl::sim::OutputGrab> output = watchedOutput(k);
        QString *grabError = &grabErrors[static_cast<size_t>(k)];
        devices[k]->setCamera(cameras.back(), [display, dlg, gui, k, output, grabError]() -> QImage {
            if (QThread::currentThread() == gui) {
                QImage shown;
                if (output) {
                    shown = output->grab();
                    if (shown.isNull() && grabError->isEmpty())
                        *grabError = output->lastError();
                } else if (dlg->isVisible() && dlg->devNum() == k)
                    shown = dlg->grab().toImage();
                display->update(shown);
            }
            return display->current();
        });
        if (output)
            out << "module" << k << ".camera_output: " << output->name() << "\n";
        tl::sim::UserSetup user;
        user.sigma = opt.touchError;
        user.seed = opt.seed + 7 * k;
        devices[k]->setUser(user);
        out << "module" << k << ".screen_fill: " << num(cameras.back()->screenFill()) << "\n";
    }
    // The simulated user looks at the board from the module's threads: keep the
    // last grab fresh while the run goes on.
    // The person looks every 100 ms of driver time; a grab every 50 ms keeps
    // what they see current without keeping the GUI thread busy painting. The
    // grabs are on driver time, as the looks are: a slowed or loaded machine
    // changes neither how often nor in what order they come.
    tl::ClockTimer refresher;
    refresher.setInterval(50);
    // In a window session an auto run is photographed only when the module
    // captures; the person of a manual run looks at the output.
    bool windowSession = false;
    for (int k = 0; k < modules; ++k)
        windowSession = windowSession || watchedOutput(k) != nullptr;
    refresher.onTimeout([&] {
        for (int k = 0; k < modules; ++k) {
            if (const std::shared_ptr<tl::sim::OutputGrab> output = watchedOutput(k))
                displays[k]->update(output->grab());
            else
                displays[k]->update(dlg->isVisible() && dlg->devNum() == k ? dlg->grab().toImage() : QImage());
        }
    });
    if (!windowSession || manual)
        refresher.start();

    // A failure message is answered as a user would; it is counted.
    QStringList messages;
    QTimer answerer;
    answerer.setInterval(5);
    QObject::connect(&answerer, &QTimer::timeout, [&] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            messages << box->text();
            box->accept();
        }
    });
    answerer.start();

    RunFigures figures;
    EvalCpu evalCpu;
    pthread_getcpuclockid(pthread_self(), &g_guiClock);
    {
        std::lock_guard<std::mutex> lock(g_figuresMutex);
        g_figures = &figures;
        g_evalCpu = manual ? nullptr : &evalCpu;
    }
    g_previous = qInstallMessageHandler(figureHandler);

    // The user picks the tray entry.
    const qint64 startMs = tl::Clock::nowMs();
    QElapsedTimer wall;
    wall.start();
    // The pattern search runs with its own time limits; --find-speed sets the
    // clock rate while it runs (1 = real time), as in the pattern scenario.
    const double runSpeed = tl::Clock::compression();
    QObject::connect(control->device(), &tl::CamDevCtrl::sigACNewFrame, control->device(),
                     [control, &opt](unsigned char *, int, int) {
                         if (control->calState() == 9) {
                             tl::Clock::setCompression(opt.findSpeed);
                             std::lock_guard<std::mutex> lock(g_figuresMutex);
                             if (g_evalCpu) {
                                 g_evalCpu->processStart = processCpuSeconds();
                                 g_evalCpu->threadStart = guiThreadCpuSeconds();
                                 g_evalCpu->searchWorkers = 0;
                                 g_evalCpu->wall.start();
                             }
                         }
                     }, Qt::DirectConnection);
    if (manual)
        driver.StartMCalibration();
    else
        driver.StartACalibration();
    const qint64 limitMs = startMs + 600000;
    bool back = false;
    while (tl::Clock::nowMs() < limitMs) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        if (control->calState() >= 10 || control->calState() < 9)
            tl::Clock::setCompression(runSpeed);
        if (control->threadState() == etaTRACKING && control->calState() == ecsIDLE_CALIBRATION
            && !dlg->isVisible()) {
            back = true;
            break;
        }
        tl::Clock::sleepMs(10);
    }
    const qint64 runMs = tl::Clock::nowMs() - startMs;
    refresher.stop();
    for (auto &d : displays)
        d->update(QImage());
    qInstallMessageHandler(g_previous);
    {
        std::lock_guard<std::mutex> lock(g_figuresMutex);
        g_figures = nullptr;
        g_evalCpu = nullptr;
    }
    out << "calibrate.driver_ms_to_tracking: " << runMs << "\n";
    for (size_t k = 0; k < evalCpu.process.size(); ++k)
        out << "module" << k << ".evaluation_cpu_s: process " << num(evalCpu.process[k]) << " gui_thread "
            << num(evalCpu.thread[k]) << " wall_ms " << num(evalCpu.wallMs[k], 0) << "\n";
    for (size_t k = 0; k < evalCpu.thread.size(); ++k)
        out << "module" << k << ".evaluation_thread_cpu_s: " << num(evalCpu.thread[k] + evalCpu.workers[k])
            << " gui_thread " << num(evalCpu.thread[k]) << " search_workers " << num(evalCpu.workers[k]) << "\n";
    out << "calibrate.wall_ms_to_tracking: " << wall.elapsed() << "\n";
    out << "calibrate.messages: " << messages.size() << "\n";
    out << "calibrate.find_timeouts: " << figures.findTimeouts << "\n";
    for (int k = 0; k < modules; ++k)
        if (!grabErrors[static_cast<size_t>(k)].isEmpty())
            return QString("module %1: the camera could not photograph its output: %2").arg(k).arg(grabErrors[static_cast<size_t>(k)]);
    if (!back)
        return "the run did not end in tracking";

    bool allCalibrated = true;
    for (int k = 0; k < modules; ++k) {
        const int ok = k < static_cast<int>(figures.success.size()) ? figures.success[k] : -1;
        out << "module" << k << ".calib_success: " << ok << "\n";
        if (k < static_cast<int>(figures.sse.size()))
            out << "module" << k << ".ac_sse: " << num(figures.sse[k], 4) << "\n";
        if (k < static_cast<int>(figures.loops.size()))
            out << "module" << k << ".ac_loop: " << figures.loops[k] << "\n";
        out << "module" << k << ".stored: " << (devices[k]->lastCalibration().has_value() ? "yes" : "no") << "\n";
        allCalibrated = allCalibrated && ok == 1 && devices[k]->lastCalibration().has_value();
    }
    if (manual && modules > 0 && allCalibrated) {
        // The touches of the module calibrated last, as the fit got them:
        // where the person's pen tip was (the camera sees its light, off the
        // tip by the pen's offset there) against the target it was meant for.
        // Fit point i pairs the window's target i with the touch of the
        // module's point manualPointOrder(i): with a mounting, the touch of
        // another target, the one shown at the mirrored place.
        const int k = modules - 1;
        const tl::CalibWorkspace &ws = tl::calibWorkspace();
        const bool turned = devices[k]->servesTurned();
        const int pen = devices[k]->penType();
        const cv::Point2f *shown = dlg->getPoints();
        int side = 0;
        while ((side + 1) * (side + 1) <= ws.mc_point_count)
            ++side;
        std::vector<double> errors;
        int worst = -1;
        double worstError = -1;
        for (int i = 0; i < ws.mc_point_count && i < tl::CalibWorkspace::kSlots; ++i) {
            cv::Point2d c(ws.ac_pattern_center_twk[i].x, ws.ac_pattern_center_twk[i].y);
            if (turned)
                c = cv::Point2d(1279 - c.x, 719 - c.y);
            const int m = nqmaincontrol::manualPointOrder(i, side, opt.ceiling, opt.rear);
            if (m < 0)
                continue;
            const cv::Point2d target(shown[m].x, shown[m].y);
            const cv::Point2d lift = cameras[k]->penToCamera(target, pen) - cameras[k]->windowToCamera(target);
            const cv::Point2d tip = cameras[k]->cameraToWindow(c - lift);
            const double e = cv::norm(tip - target);
            errors.push_back(std::isfinite(e) ? e : 1e9);
            if (errors.back() > worstError) {
                worstError = errors.back();
                worst = i;
            }
        }
        const demo::Stats st = stats(errors);
        out << "module" << k << ".touch_error_px: rms " << num(st.rms) << " max " << num(st.max) << " (target "
            << worst << ", n " << st.n << ")\n";
    }
    if (!allCalibrated)
        return "a module was not calibrated";

    // The pen on a grid of each display: one tap at a time, through the
    // module's own mapping of what it sees, the tracking path and injection.
    // Taps are slow enough for the smoothing to settle; time runs as the
    // track scenario's does so that reports of two modules keep their pace.
    const double speed = tl::Clock::compression();
    tl::Clock::setCompression(std::min(speed, 2.0));
    const int cols = 9, rows = 6;
    const int hold = 40, gap = 25;
    // The hull of the pattern points: the outer pattern rows and columns.
    const cv::Point2f *pts = dlg->getPoints();
    QPolygonF hull;
    if (!manual) {
        for (int i : {0, 1, 2, 3, 4, 9, 14, 19, 18, 17, 16, 15, 10, 5})
            hull << QPointF(pts[i].x, pts[i].y);
    } else {
        for (int i : {0, 4, 8, 12, 13, 14, 15, 11, 7, 3, 2, 1})
            hull << QPointF(pts[i].x, pts[i].y);
    }
    QString failure;
    std::vector<double> inside, all;
    for (int k = 0; k < modules; ++k) {
        // Where module k's display lies on the desktop: the emulated displays
        // side by side, or in a window session the output its camera watches.
        const std::shared_ptr<tl::sim::OutputGrab> watched = watchedOutput(k);
        const QPoint origin = watched ? watched->area().topLeft() : QPoint(W * k, 0);
        std::vector<cv::Point2d> taps;
        for (int r = 0; r < rows; ++r)
            for (int c = 0; c < cols; ++c)
                taps.emplace_back(8 + (W - 17) * c / double(cols - 1), 8 + (H - 17) * r / double(rows - 1));
        control->StopDevice();
        takeCalls(*backend);
        for (int m = 0; m < modules; ++m)
            devices[m]->setWindowPen(m == k ? tl::sim::windowTaps(taps, hold, gap) : tl::sim::WindowPen());
        const int before = devices[k]->stats().reportsSent;
        control->systemStateChange(esysUSER_START_ANALYSYS_BEFOR_TRACKING, 0);
        const int reports = static_cast<int>(taps.size()) * (hold + gap) + 30;
        const qint64 end = tl::Clock::nowMs() + 600000;
        while (devices[k]->stats().reportsSent - before < reports && tl::Clock::nowMs() < end) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            tl::Clock::sleepMs(5);
        }
        int released = 0;
        const std::vector<QPointF> means = contactMeans(takeCalls(*backend), &released);
        out << "module" << k << ".taps: " << taps.size() << "\n";
        out << "module" << k << ".contacts: " << means.size() << "\n";
        out << "module" << k << ".released: " << released << "\n";
        // Contact i belongs to tap i when every tap gave one. When taps went
        // without a contact, the contacts keep the taps' order: each goes to a
        // later tap than the one before, with the least summed distance, so a
        // turned or mirrored result cannot pair with the mirror-image taps of
        // the symmetric grid. With more contacts than taps each contact goes
        // to the nearest tap not yet taken within a third of the grid
        // spacing. The taps without a contact are listed.
        std::vector<int> tapOf(means.size(), -1);
        if (means.size() == taps.size()) {
            for (size_t i = 0; i < means.size(); ++i)
                tapOf[i] = static_cast<int>(i);
        } else if (means.size() < taps.size()) {
            if (failure.isEmpty())
                failure = QString("module %1: %2 contacts for %3 taps").arg(k).arg(means.size()).arg(taps.size());
            const size_t n = means.size(), m = taps.size();
            auto dist = [&](size_t i, size_t j) {
                return std::hypot(means[i].x() - (origin.x() + taps[j].x), means[i].y() - (origin.y() + taps[j].y));
            };
            // cost[i][j]: the first i contacts on the first j taps, in order.
            const double inf = std::numeric_limits<double>::infinity();
            std::vector<std::vector<double>> cost(n + 1, std::vector<double>(m + 1, inf));
            for (size_t j = 0; j <= m; ++j)
                cost[0][j] = 0;
            for (size_t i = 1; i <= n; ++i)
                for (size_t j = i; j <= m; ++j)
                    cost[i][j] = std::min(cost[i][j - 1], cost[i - 1][j - 1] + dist(i - 1, j - 1));
            std::vector<bool> taken(m, false);
            for (size_t i = n, j = m; i > 0; --j) {
                if (cost[i][j] == cost[i - 1][j - 1] + dist(i - 1, j - 1)) {
                    tapOf[i - 1] = static_cast<int>(j - 1);
                    taken[j - 1] = true;
                    --i;
                }
            }
            QStringList missed;
            for (size_t j = 0; j < m; ++j)
                if (!taken[j])
                    missed << QString("%1,%2").arg(num(taps[j].x, 0)).arg(num(taps[j].y, 0));
            out << "module" << k << ".taps_without_contact: " << missed.join(' ') << "\n";
        } else {
            if (failure.isEmpty())
                failure = QString("module %1: %2 contacts for %3 taps").arg(k).arg(means.size()).arg(taps.size());
            const double reach = std::min((W - 17) / double(cols - 1), (H - 17) / double(rows - 1)) / 3;
            std::vector<bool> taken(taps.size(), false);
            for (size_t i = 0; i < means.size(); ++i) {
                int best = -1;
                double bestDistance = reach;
                for (size_t j = 0; j < taps.size(); ++j) {
                    const double dd = std::hypot(means[i].x() - (origin.x() + taps[j].x), means[i].y() - (origin.y() + taps[j].y));
                    if (!taken[j] && dd < bestDistance) {
                        bestDistance = dd;
                        best = static_cast<int>(j);
                    }
                }
                if (best >= 0) {
                    taken[best] = true;
                    tapOf[i] = best;
                }
            }
            QStringList missed;
            for (size_t j = 0; j < taps.size(); ++j)
                if (!taken[j])
                    missed << QString("%1,%2").arg(num(taps[j].x, 0)).arg(num(taps[j].y, 0));
            out << "module" << k << ".taps_without_contact: " << missed.join(' ') << "\n";
        }
        std::vector<double> in, whole;
        for (size_t i = 0; i < means.size(); ++i) {
            if (tapOf[i] < 0)
                continue;
            const cv::Point2d tap = taps[tapOf[i]];
            const QPointF truth(origin.x() + tap.x, origin.y() + tap.y);
            const double e = std::hypot(means[i].x() - truth.x(), means[i].y() - truth.y());
            whole.push_back(e);
            if (hull.containsPoint(QPointF(tap.x, tap.y), Qt::OddEvenFill))
                in.push_back(e);
        }
        const demo::Stats si = stats(in), sw = stats(whole);
        out << "module" << k << ".pointing_hull_px: rms " << num(si.rms) << " p95 " << num(si.p95) << " max "
            << num(si.max) << " (n " << si.n << ")\n";
        out << "module" << k << ".pointing_display_px: rms " << num(sw.rms) << " p95 " << num(sw.p95) << " max "
            << num(sw.max) << " (n " << sw.n << ")\n";
        inside.insert(inside.end(), in.begin(), in.end());
        all.insert(all.end(), whole.begin(), whole.end());
        if (failure.isEmpty() && released != static_cast<int>(means.size()))
            failure = QString("module %1: a contact was left down").arg(k);
    }
    for (auto &d : devices)
        d->setWindowPen({});
    tl::Clock::setCompression(speed);
    const demo::Stats si = stats(inside), sw = stats(all);
    out << "pointing_hull_px: rms " << num(si.rms) << " p95 " << num(si.p95) << " max " << num(si.max) << "\n";
    out << "pointing_display_px: rms " << num(sw.rms) << " p95 " << num(sw.p95) << " max " << num(sw.max) << "\n";
    if (failure.isEmpty() && control->threadState() != etaTRACKING)
        failure = "the modules did not end tracking";
    return failure;
}
