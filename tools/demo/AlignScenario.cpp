// The alignment view on emulated modules whose cameras photograph a projected
// desktop: live frames, brightness, and with one module a painted mask that goes
// to the module and is compared with what it stored.
#include "Scenarios.h"

#include "app/Corvane.h"
#include "calibration/PatternRecognition.h"
#include "control/nqmaincontrol.h"
#include "device/CamDevCtrl.h"
#include "device/codec/Commands.h"
#include "platform/Clock.h"
#include "settings/ConfigFileRW.h"
#include "sim/EmulatedBus.h"
#include "tools/shotkit/DesktopCamera.h"
#include "ui/AlignmentDlg.h"
#include "ui/maskDlg.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMouseEvent>

#include <algorithm>
#include <cmath>
#include <vector>

namespace {
constexpr int kFramesPerModule = 60;
constexpr qint64 kStreamBoundMs = 600000;
// Mean difference, in 8-bit levels, between a shown frame and the camera's
// noise-free picture above which the frame is not that camera's photograph.
// The camera's noise gives about 1 to 3.
constexpr double kCameraFrameTolerance = 8.0;

// CPU time of the calling thread: a turn that took long on the wall clock but
// little CPU was a thread waiting for a core, not a GUI thread at work.
qint64 threadCpuUs()
{
    return tl::threadCpuNs() / 1000;
}

template <typename T>
T median(std::vector<T> v)
{
    if (v.empty())
        return T();
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

void mouse(QWidget *w, QEvent::Type type, QPoint p)
{
    const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent e(type, p, w->mapToGlobal(p), button,
                  type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(w, &e);
}
} // namespace

QString runAlign(const DemoOptions &opt, Corvane &driver, tl::sim::EmulatedBus &bus, QTextStream &out)
{
    nqmaincontrol *control = driver.control();
    AlignmentDlg *view = driver.alignmentView();
    const int count = driver.settings()->getNumOfCamDevice();
    if (!control->connectionStatus() || count < 1 || count != static_cast<int>(bus.devices().size()))
        return "no connected module to show";

    // Each module's camera photographs a desktop on its monitor.
    tl::sim::CameraSetup setup;
    setup.displayWidth = opt.displayWidth;
    setup.displayHeight = opt.displayHeight;
    setup.lens = opt.lens;
    setup.ceiling = opt.ceiling;
    setup.rear = opt.rear;
    setup.seed = opt.seed;
    setup.noise = opt.noise;
    const std::vector<tl::shots::WatchedDesktop> watched = tl::shots::watchDesktops(bus, setup);
    // The module each of the driver's indexes is.
    std::vector<const tl::shots::WatchedDesktop *> desktopOf(static_cast<size_t>(count), nullptr);
    for (int i = 0; i < count; ++i)
        for (const tl::shots::WatchedDesktop &w : watched)
            if (w.module->serial() == control->device()->serialNumber(i))
                desktopOf[static_cast<size_t>(i)] = &w;
    for (int i = 0; i < count; ++i) {
        if (!desktopOf[static_cast<size_t>(i)])
            return "module " + QString::number(i) + " is not on the bus";
        out << "module" << i << ".camera_screen_fill: "
            << QString::number(desktopOf[static_cast<size_t>(i)]->camera->screenFill(), 'f', 3) << "\n";
    }

    control->resetAlignFrameStats();
    driver.StartAlignmentDisplay();
    out << "align.systemState: " << systemStateName(control->systemState()) << "\n";
    out << "align.threadState: " << threadStateName(control->threadState()) << "\n";

    // Stream until every module has shown its frames. The event loop runs in
    // short turns; each turn's length is how long the GUI thread was busy.
    QElapsedTimer wall;
    wall.start();
    const qint64 driverStart = tl::Clock::nowMs();
    std::vector<qint64> stallsUs;
    std::vector<qint64> cpuUs;
    std::vector<qint64> frameTimes[2];
    int seen[2] = {0, 0};
    // A bound on a stream that stopped, never a measure: the emulator photographs
    // the desktop in wall time (tens of milliseconds a frame), so at a high time
    // compression on a busy machine a frame may take a second of driver time.
    const qint64 end = tl::Clock::nowMs() + kStreamBoundMs;
    auto done = [&] {
        for (int i = 0; i < count; ++i)
            if (control->alignFrameStats().shown[i] < kFramesPerModule)
                return false;
        return true;
    };
    while (!done() && tl::Clock::nowMs() < end) {
        QElapsedTimer turn;
        turn.start();
        const qint64 cpu0 = threadCpuUs();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        stallsUs.push_back(turn.nsecsElapsed() / 1000);
        cpuUs.push_back(threadCpuUs() - cpu0);
        for (int i = 0; i < count; ++i)
            while (seen[i] < control->alignFrameStats().shown[i]) {
                ++seen[i];
                frameTimes[i].push_back(tl::Clock::nowMs());
            }
        tl::Clock::sleepMs(1);
    }
    const qint64 wallMs = wall.elapsed();
    const qint64 driverMs = tl::Clock::nowMs() - driverStart;
    const nqmaincontrol::AlignFrameStats stats = control->alignFrameStats();
    std::vector<qint64> intervals;
    for (int i = 0; i < count; ++i)
        for (size_t k = 1; k < frameTimes[i].size(); ++k)
            intervals.push_back(frameTimes[i][k] - frameTimes[i][k - 1]);
    const qint64 medianInterval = median(intervals);
    std::vector<qint64> guiNs(stats.guiNs.begin(), stats.guiNs.end());

    for (int i = 0; i < count; ++i) {
        out << "module" << i << ".frames_shown: " << stats.shown[i] << "\n";
        out << "module" << i << ".frame_requests: " << bus.devices()[static_cast<size_t>(i)]->receivedCount(tl::codec::CMD_SENDFRM_MONO)
            << "\n";
    }
    out << "align.frames_refused: " << stats.refused << "\n";
    out << "align.stream_driver_ms: " << driverMs << "\n";
    out << "align.stream_wall_ms: " << wallMs << "\n";
    out << "align.frame_interval_ms_median (driver time, per module): " << medianInterval << "\n";
    out << "align.fps_per_module_median (driver time): "
        << (medianInterval > 0 ? QString::number(1000.0 / double(medianInterval), 'f', 1) : QString("n/a")) << "\n";
    out << "align.gui_us_per_frame_median: " << median(guiNs) / 1000 << "\n";
    out << "align.gui_us_per_frame_max: " << (guiNs.empty() ? 0 : *std::max_element(guiNs.begin(), guiNs.end())) / 1000
        << "\n";
    out << "align.gui_turn_us_median: " << median(stallsUs) << "\n";
    // The first turn shows the newly opened view (its first paint) and takes the
    // frames that arrived while it opened; the others are the stream itself.
    out << "align.gui_stall_ms_opening: " << (stallsUs.empty() ? 0 : stallsUs.front() / 1000) << "\n";
    out << "align.gui_stall_ms_max_streaming: "
        << (stallsUs.size() < 2 ? 0 : *std::max_element(stallsUs.begin() + 1, stallsUs.end()) / 1000) << "\n";
    out << "align.gui_cpu_ms_max_streaming (the same turns in GUI-thread CPU time): "
        << (cpuUs.size() < 2 ? 0 : *std::max_element(cpuUs.begin() + 1, cpuUs.end()) / 1000) << "\n";
    if (!done())
        return QString("frames did not arrive within %1 s of driver time").arg(kStreamBoundMs / 1000);

    // The next frame of each module against its camera's noise-free picture of
    // the same desktop at the view's gain: a photograph differs by its noise,
    // anything else (a test pattern, a stale or torn frame) by far more.
    std::vector<QImage> next(static_cast<size_t>(count));
    const QMetaObject::Connection taking
        = QObject::connect(control, &nqmaincontrol::updateAlignImage, [&next, count](const QImage &image, int i) {
              if (i >= 0 && i < count && next[static_cast<size_t>(i)].isNull())
                  next[static_cast<size_t>(i)] = image.copy();
          });
    const qint64 nextEnd = tl::Clock::nowMs() + 20000;
    auto allTaken = [&] {
        return std::all_of(next.begin(), next.end(), [](const QImage &im) { return !im.isNull(); });
    };
    while (!allTaken() && tl::Clock::nowMs() < nextEnd) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        tl::Clock::sleepMs(1);
    }
    QObject::disconnect(taking);
    const int gain = AlignmentDlg::kGainTable[static_cast<size_t>(view->brightnessLevel())];
    double worstDiff = 0;
    for (int i = 0; i < count; ++i) {
        const QImage &shown = next[static_cast<size_t>(i)];
        if (shown.isNull() || shown.size() != QSize(AlignmentDlg::kImageWidth, AlignmentDlg::kImageHeight))
            return "module " + QString::number(i) + " showed no frame after the stream";
        tl::sim::CameraSetup quiet = desktopOf[static_cast<size_t>(i)]->camera->setup();
        quiet.noise = 0;
        tl::sim::SyntheticCamera reference(quiet);
        cv::Mat expected = reference.frame(desktopOf[static_cast<size_t>(i)]->picture, gain);
        // The module sends its image turned by 180 degrees when the host's
        // reversal does not match its mounting.
        if (desktopOf[static_cast<size_t>(i)]->module->servesTurned())
            cv::flip(expected, expected, -1);
        // A grey frame as RGB888: the red byte is the level (no QImage conversion,
        // which may wait for the thread pool the receive loops hold).
        if (shown.format() != QImage::Format_RGB888)
            return "module " + QString::number(i) + " showed a frame that is not RGB888";
        double sum = 0;
        for (int y = 0; y < shown.height(); ++y) {
            const uchar *line = shown.constScanLine(y);
            for (int x = 0; x < shown.width(); ++x)
                sum += std::abs(int(line[3 * x]) - int(expected.at<uchar>(y, x)));
        }
        const double diff = sum / double(shown.width() * shown.height());
        worstDiff = std::max(worstDiff, diff);
        out << "module" << i << ".frame_vs_camera_mean_abs_diff (8-bit levels): " << QString::number(diff, 'f', 2)
            << "\n";
    }
    if (worstDiff > kCameraFrameTolerance)
        return "the shown frames are not the module camera's photographs of the desktop";

    // One module: a mask stroke in the editor.
    std::shared_ptr<tl::sim::EmulatedModule> module = bus.devices().front();
    const int uploadsBefore = module->stats().maskUploads;
    if (count == 1) {
        view->clickPushB();
        if (!view->maskEditorOpen())
            return "the mask editor did not open (firmware " + driver.settings()->getDeviceFwVersion(0) + ")";
        QWidget *editor = view->maskEditor();
        mouse(editor, QEvent::MouseButtonPress, QPoint(80, 60));
        for (int i = 1; i <= 120; ++i)
            mouse(editor, QEvent::MouseMove, QPoint(80 + 4 * i, 60 + (i * i) / 60));
        mouse(editor, QEvent::MouseButtonRelease, QPoint(560, 300));
    }
    view->clickOK();
    out << "align.after_ok.threadState: " << threadStateName(control->threadState()) << "\n";
    const bool maskSent = count == 1;
    const std::vector<uint8_t> sent(view->m_pMaskBufBit, view->m_pMaskBufBit + AlignmentDlg::kMaskBytes);
    int painted = 0;
    for (int k = 0; k < AlignmentDlg::kBitmapBytes; ++k)
        for (int b = 0; b < 8; ++b)
            painted += (sent[static_cast<size_t>(k)] >> b) & 1;
    out << "mask.bytes_uploaded: " << (maskSent ? AlignmentDlg::kMaskBytes : 0) << "\n";
    if (!maskSent)
        return control->threadState() == etaTRACKING ? QString() : QString("tracking did not resume");

    out << "mask.pixels_painted: " << painted << "\n";
    out << "mask.enable_byte: " << int(sent[AlignmentDlg::kBitmapBytes]) << "\n";
    const qint64 waitEnd = tl::Clock::nowMs() + 20000;
    while (module->stats().maskUploads == uploadsBefore && tl::Clock::nowMs() < waitEnd) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        tl::Clock::sleepMs(10);
    }
    const std::vector<uint8_t> stored = module->mask();
    const bool equal = stored == sent;
    out << "mask.module_stored_bytes: " << stored.size() << "\n";
    out << "mask.module_stored_equal: " << (equal ? "true" : "false") << "\n";
    if (painted == 0)
        return "the stroke painted nothing";
    if (!equal)
        return "the module's stored mask differs from the uploaded one";
    if (control->threadState() != etaTRACKING)
        return "tracking did not resume";
    return {};
}
