// The pattern scenario: what the module's camera sees of the calibration
// pattern, and how exactly the driver finds it.

#include "Scenarios.h"
#include "ErrorFigures.h"

#include "app/Corvane.h"
#include "calibration/CalibDlg.h"
#include "calibration/CalibModel.h"
#include "calibration/CalibWorkspace.h"
#include "calibration/CalibrationFit.h"
#include "calibration/PatternGeometry.h"
#include "calibration/PatternRecognition.h"
#include "control/nqmaincontrol.h"
#include "device/CamDevCtrl.h"
#include "device/codec/Commands.h"
#include "platform/Clock.h"
#include "settings/ConfigFileRW.h"
#include "sim/EmulatedBus.h"
#include "sim/ImageSource.h"
#include "sim/EmulatedModule.h"
#include "sim/SimulatedUser.h"
#include "sim/SyntheticCamera.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QImage>
#include <QScreen>
#include <QStringList>
#include <QTimer>
#include <QWindow>

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <map>

using namespace tl::codec;

namespace {

using demo::num;
using demo::stats;
using Stats = demo::Stats;

constexpr int kCamW = 1280;
constexpr int kCamH = 720;
constexpr int kImageBytes = kCamW * kCamH;
constexpr int kKinds[3] = { 101, 102, 103 };
constexpr int kFwParam = 10;

// The window point a fitted model should give for a point of the window: the
// fit pairs element k with screen position k, and the mounting draws element
// k at another position (turned for ceiling, mirrored for rear).
cv::Point2d fitFrame(cv::Point2d p, int w, int h, bool ceiling, bool rear)
{
    if (rear)
        p.x = (w - 1) - p.x;
    if (ceiling)
        p = cv::Point2d((w - 1) - p.x, (h - 1) - p.y);
    return p;
}

int screenPositionOf(int k, bool ceiling, bool rear)
{
    for (int s = 0; s < tl::kPatternPoints; ++s)
        if (tl::patternElement(s / 5, s % 5, ceiling, rear) == k)
            return s;
    return -1;
}

// Every dot-sized contour near a dot's true camera position, at every threshold level
// the search uses, put through the dot tests of the search in their order:
// camera box and area, window box and area (through the search's own
// projection from the markers), and the slot reach. One line per contour and
// a summary line per dot.
void diagnoseDots(const cv::Mat &normalized, const cv::Point2f *exact, const double *camRadius, QTextStream &out)
{
    tl::CalibWorkspace &ws = tl::calibWorkspace();
    double tp0[tl::kCalibParamCount] = {};
    tl::WideCalibration lensModel(tp0);
    lensModel.setPredefinedLens(ws.lens, ws.fwParam);
    tl::Calibration calib;
    tl::PatternFinder finder(lensModel, calib);
    finder.loadExpected();
    cv::Point2f markerRaw[tl::PatternFinder::kSlots] = {};
    finder.findMarkerCenters(normalized, markerRaw);
    if (!tl::calcProjection(markerRaw, lensModel, calib)) {
        out << "dotdiag: no projection from the markers\n";
        return;
    }
    // The limits the search works with in this run.
    finder.updateDotLimits();
    const int camBoxMax = finder.dotBoxMax();
    const double camAreaMax = finder.dotAreaMax();
    const double reach = finder.dotSlotReach();
    int R = 0, S = 0;
    tl::patternCircleRadius(ws.ac_window_width, ws.ac_window_height, R, S);
    const double D = 2 * R + 1, r = D / 2.0;
    const double wBoxMin = 0.95 * D, wBoxMax = 1.15 * D;
    const double wAreaMin = 0.9 * CV_PI * r * r, wAreaMax = 1.1 * CV_PI * r * r;
    out << "dotdiag.limits: cam box 24.." << camBoxMax << " area 200.." << num(camAreaMax, 0) << "; window box "
        << num(wBoxMin, 1) << ".." << num(wBoxMax, 1) << " area " << num(wAreaMin, 0) << ".." << num(wAreaMax, 0)
        << "; slot reach " << num(reach, 1) << "\n";
    const std::vector<int> levels = tl::PatternFinder::makeThresholdList(normalized);
    QStringList levelText;
    for (int t : levels)
        levelText << QString::number(t);
    out << "dotdiag.levels: " << levelText.join(' ') << "\n";
    auto roundHalfUp = [](double v) { return static_cast<int>(std::floor(v + 0.5)); };
    struct Tally
    {
        int levelsNear = 0, pass = 0;
        std::map<QString, int> fails;
    };
    std::map<int, Tally> tally;
    for (int t : levels) {
        cv::Mat bin;
        cv::threshold(normalized, bin, t, 255, cv::THRESH_BINARY);
        std::vector<std::vector<cv::Point>> contours;
        cv::findContours(bin, contours, cv::RETR_LIST, cv::CHAIN_APPROX_SIMPLE);
        std::map<int, bool> near;
        for (const auto &contour : contours) {
            cv::Point2d c;
            if (!tl::PatternFinder::polygonCentroid(contour, &c))
                continue;
            for (int j = 0; j < 20; ++j) {
                if (tl::isMarkerIndex(j))
                    continue;
                const cv::Point2d truth(exact[j].x, exact[j].y);
                if (cv::norm(c - truth) > 0.5 * camRadius[j])
                    continue;
                // Dot-sized contours only: not the specks of sensor noise.
                const double area = cv::contourArea(contour);
                const double dotArea = CV_PI * camRadius[j] * camRadius[j];
                if (area < 0.3 * dotArea || area > 3 * dotArea)
                    continue;
                near[j] = true;
                const cv::Rect box = cv::boundingRect(contour);
                std::vector<cv::Point> win;
                for (const cv::Point &p : contour) {
                    const cv::Point2d w = finder.camToWindow(cv::Point2d(p.x, p.y));
                    win.emplace_back(roundHalfUp(w.x), roundHalfUp(w.y));
                }
                const cv::Rect wbox = cv::boundingRect(win);
                const double warea = cv::contourArea(win);
                const cv::Point2d w = finder.camToWindow(c);
                const cv::Point2d e = ws.win_coordi[j];
                QString fail;
                if (box.width < 24 || box.width > camBoxMax || box.height < 24 || box.height > camBoxMax)
                    fail = "cam_box";
                else if (area < 200 || area > camAreaMax)
                    fail = "cam_area";
                else if (wbox.width < wBoxMin || wbox.width > wBoxMax || wbox.height < wBoxMin || wbox.height > wBoxMax)
                    fail = "win_box";
                else if (warea < wAreaMin || warea > wAreaMax)
                    fail = "win_area";
                else if (std::fabs(w.x - e.x) >= reach || std::fabs(w.y - e.y) >= reach)
                    fail = "slot";
                Tally &ta = tally[j];
                if (fail.isEmpty())
                    ++ta.pass;
                else
                    ++ta.fails[fail];
                out << "dotdiag.contour: dot " << j << " level " << t << " cam_centroid " << num(c.x, 1) << " "
                    << num(c.y, 1) << " cam_box " << box.width << "x" << box.height << " cam_area " << num(area, 0)
                    << " win_box " << wbox.width << "x" << wbox.height << " win_area " << num(warea, 0)
                    << " win_centroid_off " << num(w.x - e.x, 1) << " " << num(w.y - e.y, 1) << " -> "
                    << (fail.isEmpty() ? QString("pass") : fail) << "\n";
                break;
            }
        }
        for (const auto &n : near)
            ++tally[n.first].levelsNear;
    }
    for (int j = 0; j < 20; ++j) {
        if (tl::isMarkerIndex(j))
            continue;
        const Tally &ta = tally[j];
        QString fails;
        for (const auto &f : ta.fails)
            fails += QString(" %1 %2").arg(f.first).arg(f.second);
        out << "dotdiag.dot." << j << ": truth " << num(exact[j].x, 1) << " " << num(exact[j].y, 1) << " cam_radius "
            << num(camRadius[j], 1) << " levels_with_contour " << ta.levelsNear << " of " << levels.size()
            << " pass " << ta.pass << " fail" << (fails.isEmpty() ? QString(" none") : fails) << "\n";
    }
}

// Threshold loops of the search cut by their time limit ("timeout: N").
std::atomic<int> g_findTimeouts{ 0 };
QtMessageHandler g_previousHandler = nullptr;

void countTimeouts(QtMsgType type, const QMessageLogContext &ctx, const QString &msg)
{
    if (msg.startsWith("timeout: "))
        ++g_findTimeouts;
    if (g_previousHandler)
        g_previousHandler(type, ctx, msg);
}

QImage toQImage(const cv::Mat &m)
{
    QImage img(m.cols, m.rows, QImage::Format_Grayscale8);
    for (int y = 0; y < m.rows; ++y)
        std::memcpy(img.scanLine(y), m.ptr(y), m.cols);
    return img;
}

} // namespace

QString runPattern(const DemoOptions &opt, Corvane &driver, tl::sim::EmulatedBus &bus, QTextStream &out)
{
    nqmaincontrol *control = driver.control();
    tl::CamDevCtrl *device = control->device();
    if (!control->connectionStatus() || bus.devices().empty())
        return "no connected module to calibrate";
    auto module = bus.devices().front();
    const int W = opt.displayWidth, H = opt.displayHeight;

    tl::sim::CameraSetup setup;
    setup.displayWidth = W;
    setup.displayHeight = H;
    setup.lens = opt.lens;
    setup.ceiling = opt.ceiling;
    setup.rear = opt.rear;
    setup.seed = opt.seed;
    setup.noise = opt.noise;
    auto camera = std::make_shared<tl::sim::SyntheticCamera>(setup);
    tl::sim::ProjectedDisplay projected;
    module->setCamera(camera, projected.source());

    out << "pattern.display: " << W << "x" << H << "\n";
    out << "pattern.lens: " << opt.lens << "\n";
    out << "pattern.ceiling: " << int(opt.ceiling) << "\n";
    out << "pattern.rear: " << int(opt.rear) << "\n";
    out << "pattern.seed: " << opt.seed << "\n";
    out << "pattern.noise: " << opt.noise << "\n";
    out << "pattern.pen: " << opt.pen << "\n";
    out << "pattern.screen_fill: " << num(camera->screenFill()) << "\n";

    // The calibration window on module 0's display, with this mounting.
    ConfigFileRW *settings = driver.settings();
    settings->setCheckCeiling(opt.ceiling);
    settings->setCheckRear(opt.rear);
    settings->setPenSelect(opt.pen);
    tl::setCalibPointCounts(opt.lens);
    CalibDlg dlg(settings, driver.language());
    dlg.hide();
    dlg.showOnMonitor(0, CalibDlg::ModeBlack);
    dlg.prepareAutoPattern();
    dlg.showDisplay();
    // Headless: the window's own painting is the projector's light. In a
    // window session the camera photographs its output as the window system
    // shows it, after the time a compositor takes to show a new frame.
    const std::shared_ptr<tl::sim::OutputGrab> output = watchedOutput(0);
    QString grabError;
    auto project = [&] {
        if (!output) {
            projected.update(dlg.grab().toImage());
            return;
        }
        QEventLoop settle;
        QTimer::singleShot(150, &settle, &QEventLoop::quit);
        settle.exec();
        const QImage shot = output->grab();
        if (shot.isNull() && grabError.isEmpty())
            grabError = output->lastError();
        projected.update(shot);
    };
    project();
    if (output) {
        const QScreen *screen = dlg.windowHandle() ? dlg.windowHandle()->screen() : nullptr;
        const QRect g = dlg.geometry();
        out << "pattern.window: " << g.width() << "x" << g.height() << "+" << g.x() << "+" << g.y() << " screen "
            << (screen ? screen->name() : QString("none")) << " full_screen " << int(dlg.isFullScreen()) << "\n";
        out << "pattern.camera_output: " << output->name() << "\n";
    }

    // The module in auto calibration, its images turned as the controller asks.
    control->StopDevice();
    device->StartRecvThread(0, 1);
    int nextSteps = 0;
    std::vector<uint8_t> images[3];
    int arrived = -1;
    QMetaObject::Connection stepConn
        = QObject::connect(device, &tl::CamDevCtrl::sigACNextStep, &driver, [&](int) { ++nextSteps; });
    QMetaObject::Connection frameConn = QObject::connect(
        device, &tl::CamDevCtrl::sigACNewFrame, &driver, [&](unsigned char *buf, int size, int) {
            if (arrived >= 0 && arrived < 3 && buf && size >= kImageBytes)
                images[arrived].assign(buf, buf + kImageBytes);
        });
    tl::Clock::sleepMs(200);
    const int32_t reverse = 1;
    device->SendCommand(&reverse, CMD_SET_IMAGE_REVERSE, 4, 0, false);
    tl::Clock::sleepMs(200);

    QString failure;
    auto capture = [&](int index) -> bool {
        const int before = nextSteps;
        if (index == 0) {
            device->send_ac_black_start(opt.lens, 0, kFwParam);
        } else {
            const int32_t argument = 0;
            device->SendCommand(&argument, index == 1 ? CMD_AC_WHITE_START : CMD_AC_PATTERN_START, 4, 0, false);
        }
        if (!spinUntil([&] { return nextSteps > before; }, 10000, 5)) {
            failure = QString("the module did not answer capture %1").arg(kKinds[index]);
            return false;
        }
        return true;
    };
    auto fetch = [&](int index) -> bool {
        arrived = index;
        images[index].clear();
        device->sendAcImageRequest(static_cast<uint8_t>(kKinds[index]), 0, 0);
        if (!spinUntil([&] { return !images[index].empty(); }, 120000, 5)) {
            failure = QString("image %1 did not arrive").arg(kKinds[index]);
            return false;
        }
        return true;
    };
    // Black, white, pattern: each shown, painted, photographed on command, fetched.
    const int modes[3] = { CalibDlg::ModeBlack, CalibDlg::ModeWhite, CalibDlg::ModePattern };
    for (int i = 0; i < 3 && failure.isEmpty(); ++i) {
        dlg.setDisplayMode(modes[i]);
        project();
        if (capture(i))
            fetch(i);
    }
    control->StopDevice();
    QObject::disconnect(stepConn);
    QObject::disconnect(frameConn);
    const bool reversed = module->imageReverse();
    // Whether the images reached the host turned against the camera's upright
    // view: the reversal undoes a turned mounting.
    const bool turned = module->servesTurned();
    projected.update(QImage());
    if (!failure.isEmpty())
        return failure;
    if (!grabError.isEmpty())
        return "the camera could not photograph its output: " + grabError;
    out << "pattern.images: 101 102 103 fetched over the bus\n";
    out << "pattern.image_reverse: " << int(reversed) << "\n";
    out << "pattern.images_turned: " << int(turned) << "\n";

    cv::Mat black(kCamH, kCamW, CV_8UC1, images[0].data());
    cv::Mat white(kCamH, kCamW, CV_8UC1, images[1].data());
    cv::Mat pattern(kCamH, kCamW, CV_8UC1, images[2].data());

    // Recognition, as the calibration flow runs it.
    int ww = 0, wh = 0;
    dlg.getWindowSize(ww, wh);
    const cv::Point2f *points = dlg.getPoints();
    tl::setCalibInformation(dlg.getFitPoints(), 20, dlg.ceiling(), dlg.rear(), ww, wh, opt.lens, kFwParam,
                            dlg.penType());
    cv::Mat normalized;
    QElapsedTimer timer;
    timer.start();
    tl::makeNormalizedPatternImage(black, white, pattern, normalized);
    const double normMs = timer.nsecsElapsed() / 1e6;
    const double speed = tl::Clock::compression();
    tl::Clock::setCompression(opt.findSpeed);
    timer.restart();
    g_findTimeouts = 0;
    g_previousHandler = qInstallMessageHandler(countTimeouts);
    tl::AC_FindPatternCenter(normalized);
    qInstallMessageHandler(g_previousHandler);
    const double findMs = timer.nsecsElapsed() / 1e6;
    tl::Clock::setCompression(speed);
    tl::CalibWorkspace &ws = tl::calibWorkspace();

    // Ground truth in the frame of the images the host got.
    auto truthCam = [&](cv::Point2d win) {
        cv::Point2d c = camera->windowToCamera(win);
        if (turned)
            c = cv::Point2d((kCamW - 1) - c.x, (kCamH - 1) - c.y);
        return c;
    };
    // Where the camera sees the light of the run's pen whose tip is at a
    // window point: what tracking maps.
    auto truthPen = [&](cv::Point2d win) {
        cv::Point2d c = camera->penToCamera(win, opt.pen);
        if (turned)
            c = cv::Point2d((kCamW - 1) - c.x, (kCamH - 1) - c.y);
        return c;
    };
    auto truthWin = [&](cv::Point2d cam) {
        if (turned)
            cam = cv::Point2d((kCamW - 1) - cam.x, (kCamH - 1) - cam.y);
        return camera->cameraToWindow(cam);
    };

    int found = 0;
    std::vector<double> camErr, winErr, dotErr, markerErr, markerDrawnErr;
    cv::Point2f exact[25] = {};
    for (int k = 0; k < 20; ++k) {
        // The element's middle as drawn, on the screen (the fit's point of it,
        // turned or mirrored back).
        const cv::Point2d mid = fitFrame(cv::Point2d(dlg.getFitPoints()[k].x, dlg.getFitPoints()[k].y), ww, wh,
                                         opt.ceiling, opt.rear);
        const cv::Point2f drawn(static_cast<float>(mid.x), static_cast<float>(mid.y));
        const cv::Point2d t = truthCam(mid);
        exact[k] = cv::Point2f(static_cast<float>(t.x), static_cast<float>(t.y));
        const cv::Point2f f = ws.ac_pattern_center_org[k];
        const bool ok = f.x > 3 && f.y > 3;
        QString line = QString("pattern.point.%1: %2 truth %3 %4").arg(k, 2).arg(tl::isMarkerIndex(k) ? "marker" : "dot   ")
                           .arg(num(t.x, 2)).arg(num(t.y, 2));
        if (ok) {
            ++found;
            const double ec = cv::norm(cv::Point2d(f.x, f.y) - t);
            const double ew = cv::norm(truthWin(cv::Point2d(f.x, f.y)) - cv::Point2d(drawn.x, drawn.y));
            camErr.push_back(ec);
            winErr.push_back(ew);
            if (tl::isMarkerIndex(k)) {
                // Against the marker's drawn middle (the fit's point): the
                // same as the marker error now that the fit is handed it.
                markerErr.push_back(ec);
                markerDrawnErr.push_back(ec);
            } else {
                dotErr.push_back(ec);
            }
            line += QString(" found %1 %2 error_cam %3 error_win %4").arg(num(f.x, 2)).arg(num(f.y, 2))
                        .arg(num(ec)).arg(num(ew));
        } else {
            line += " not found";
        }
        out << line << "\n";
    }
    const Stats sc = stats(camErr), sw = stats(winErr);
    out << "pattern.found: " << found << " of 20\n";
    out << "pattern.error_cam.rms: " << num(sc.rms) << "\n";
    out << "pattern.error_cam.max: " << num(sc.max) << "\n";
    out << "pattern.error_win.rms: " << num(sw.rms) << "\n";
    out << "pattern.error_win.max: " << num(sw.max) << "\n";
    out << "pattern.dot_error_cam.rms: " << num(stats(dotErr).rms) << "\n";
    out << "pattern.marker_error_cam.rms: " << num(stats(markerErr).rms) << "\n";
    out << "pattern.marker_error_cam_from_drawn_middle.rms: " << num(stats(markerDrawnErr).rms) << "\n";
    out << "pattern.normalize_ms: " << num(normMs, 2) << "\n";
    out << "pattern.find_ms: " << num(findMs, 1) << "\n";
    out << "pattern.find_clock: " << opt.findSpeed << "\n";
    out << "pattern.find_timeouts: " << g_findTimeouts.load() << "\n";

    // Fitted models against the ground truth, over a grid inside the hull of
    // the pattern points: as the driver fits (found + tweak), without the
    // tweak, and from the exact camera points (the model family's own limit).
    std::vector<cv::Point2f> hullPts(points, points + 20), hull;
    cv::convexHull(hullPts, hull);
    // `pen`: measured where the pen's light is seen instead of the screen point.
    auto modelError = [&](const char *name, const cv::Point2f *camTable, bool pen = false) {
        std::copy(camTable, camTable + 20, ws.ac_pattern_center_twk);
        double tp[tl::kCalibParamCount] = {};
        tl::AC_CallCalcCalibParameter(tp);
        out << "pattern.model_" << name << ".accepted: " << (ws.calib_success ? "true" : "false") << "\n";
        if (!ws.calib_success)
            return ws.calib_success;
        std::vector<double> e;
        for (int y = 0; y < H; y += 8)
            for (int x = 0; x < W; x += 8) {
                if (cv::pointPolygonTest(hull, cv::Point2f(x, y), false) < 0)
                    continue;
                const cv::Point2d cam = pen ? truthPen(cv::Point2d(x, y)) : truthCam(cv::Point2d(x, y));
                const tl::ModelPoint m = tl::cameraToWindow(tp, cam.x, cam.y);
                e.push_back(cv::norm(cv::Point2d(m.x, m.y) - fitFrame(cv::Point2d(x, y), W, H, opt.ceiling, opt.rear)));
            }
        const Stats s = stats(e);
        out << "pattern.model_" << name << ".rms: " << num(s.rms) << "\n";
        out << "pattern.model_" << name << ".p95: " << num(s.p95) << "\n";
        out << "pattern.model_" << name << ".max: " << num(s.max) << "\n";
        out << "pattern.model_" << name << ".grid_points: " << s.n << "\n";
        return ws.calib_success;
    };
    cv::Point2f twk[25], org[25];
    std::copy(ws.ac_pattern_center_twk, ws.ac_pattern_center_twk + 25, twk);
    std::copy(ws.ac_pattern_center_org, ws.ac_pattern_center_org + 25, org);
    modelError("fitted", twk);
    modelError("untweaked", org);
    // The pen as the camera sees it: through the model as the driver fits it
    // (with the tweak), without the tweak, and from the exact points plus the
    // tweak (the model's floor plus what the pen's light leaves of the table).
    modelError("fitted_pen", twk, true);
    modelError("untweaked_pen", org, true);
    cv::Point2f exactTweaked[25];
    for (int k = 0; k < 25; ++k)
        exactTweaked[k] = exact[k] + ws.ac_tweak[k];
    modelError("exact_tweaked_pen", exactTweaked, true);
    modelError("exact", exact);
    std::copy(twk, twk + 25, ws.ac_pattern_center_twk);

    if (opt.dotDiag) {
        int R = 0, S = 0;
        tl::patternCircleRadius(W, H, R, S);
        double camRadius[20] = {};
        for (int k = 0; k < 20; ++k) {
            const cv::Point2f drawn = points[screenPositionOf(k, opt.ceiling, opt.rear)];
            const cv::Point2d t(exact[k].x, exact[k].y);
            double sum = 0;
            for (const cv::Point2d d : { cv::Point2d(R, 0), cv::Point2d(-R, 0), cv::Point2d(0, R), cv::Point2d(0, -R) })
                sum += cv::norm(truthCam(cv::Point2d(drawn.x, drawn.y) + d) - t);
            camRadius[k] = sum / 4;
        }
        // The marker loop of the diagnosis gets the search's own clock rate.
        const double runSpeed = tl::Clock::compression();
        tl::Clock::setCompression(opt.findSpeed);
        diagnoseDots(normalized, exact, camRadius, out);
        tl::Clock::setCompression(runSpeed);
        std::copy(org, org + 25, ws.ac_pattern_center_org);
        std::copy(twk, twk + 25, ws.ac_pattern_center_twk);
    }

    if (!opt.saveImages.isEmpty()) {
        QDir().mkpath(opt.saveImages);
        const QString dir = QDir(opt.saveImages).absolutePath();
        toQImage(black).save(dir + "/capture-black.png");
        toQImage(white).save(dir + "/capture-white.png");
        toQImage(pattern).save(dir + "/capture-pattern.png");
        toQImage(normalized).save(dir + "/normalized.png");
        // Overlay: expected centres (green cross), found centres (red circle).
        cv::Mat overlay;
        cv::cvtColor(normalized, overlay, cv::COLOR_GRAY2BGR);
        for (int k = 0; k < 20; ++k) {
            const cv::Point2d t(exact[k].x, exact[k].y);
            cv::drawMarker(overlay, cv::Point(cvRound(t.x), cvRound(t.y)), cv::Scalar(0, 200, 0), cv::MARKER_CROSS, 24, 2);
            const cv::Point2f f = org[k];
            if (f.x > 3 && f.y > 3)
                cv::circle(overlay, cv::Point(cvRound(f.x), cvRound(f.y)), 9, cv::Scalar(0, 0, 255), 2);
            cv::putText(overlay, std::to_string(k), cv::Point(cvRound(t.x) + 12, cvRound(t.y) - 12),
                        cv::FONT_HERSHEY_SIMPLEX, 0.6, cv::Scalar(255, 80, 0), 2);
        }
        QImage(overlay.data, overlay.cols, overlay.rows, int(overlay.step), QImage::Format_BGR888)
            .save(dir + "/overlay.png");
        out << "pattern.images_saved: " << dir << "\n";
    }
    dlg.hide();
    if (found != 20)
        return QString("%1 of 20 points found").arg(found);
    return {};
}
