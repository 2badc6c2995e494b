#include "SyntheticScene.h"

#include "calibration/Calibration.h"
#include "calibration/CalibWorkspace.h"
#include "calibration/CalibrationFit.h"
#include "calibration/WideCalibration.h"

#include <opencv2/imgproc.hpp>

#include <cmath>
#include <stdexcept>
#include <algorithm>
#include <limits>

bool prepareAutoRun(const SyntheticScene &scene, int ceiling, double sigma, unsigned seed,
                    std::vector<cv::Point2f> &cam)
{
    tl::resetCalibWorkspace();
    tl::setCalibPointCounts(scene.lens);
    tl::setCalibInformation(scene.patternPoints.data(), 20, ceiling, 0, scene.width, scene.height, scene.lens,
                            scene.fwParam, 0);
    std::mt19937 rng(seed);
    cam = scene.cameraPoints(scene.patternPoints, sigma, rng);
    tl::CalibWorkspace &ws = tl::calibWorkspace();
    for (int i = 0; i < 20; ++i)
        ws.ac_pattern_center_org[i] = ws.ac_pattern_center_twk[i] = cam[i];
    tl::WideCalibration lensModel;
    lensModel.setPredefinedLens(ws.lens, ws.fwParam);
    tl::Calibration calib;
    return tl::calcProjection(ws.ac_pattern_center_org, lensModel, calib);
}

double patternMargin(int width, int height)
{
    const int R = std::max(int(width * 50.0 / 1280 + 0.5), int(height * 50.0 / 800 + 0.5));
    if (width * 800 == height * 1280)
        return width * 70.0 / 1280;
    if (width <= 1280)
        return R + 10;
    return R + width * 20.0 / 1280;
}

SyntheticScene makeScene(int width, int height, int lens, int fwParam, bool halfTurn)
{
    SyntheticScene s;
    s.width = width;
    s.height = height;
    s.lens = lens;
    s.fwParam = fwParam;

    double preset[5];
    tl::WideCalibration::predefinedLens(lens, fwParam, preset);
    double *t = s.truth.data();
    t[8] = preset[0] + 6.0;
    t[9] = preset[1] - 4.0;
    t[10] = preset[2] * 1.04;
    t[11] = preset[3] * 0.97;
    t[12] = preset[4] * 1.02;

    // Screen corners as the camera sees them (distorted camera pixels).
    const double bottomWidth = 0.74 * 1280;
    const double topWidth = 0.66 * 1280;
    const double screenHeight = 0.70 * 1280 * height / width * 0.92;
    const double top = (720 - screenHeight) / 2 - 10;
    const cv::Point2d camCorners[4] = {
        { 640 - topWidth / 2 + 6, top },
        { 640 + topWidth / 2 + 6, top + 9 },
        { 640 + bottomWidth / 2, top + screenHeight + 9 },
        { 640 - bottomWidth / 2, top + screenHeight },
    };
    std::vector<cv::Point2f> uv(4), win(4);
    for (int i = 0; i < 4; ++i) {
        const tl::ModelPoint c = tl::radialCorrect(t, camCorners[i].x, camCorners[i].y);
        uv[i] = cv::Point2f(float(c.x), float(c.y));
    }
    win[0] = { 0.f, 0.f };
    win[1] = { float(width), 0.f };
    win[2] = { float(width), float(height) };
    win[3] = { 0.f, float(height) };
    if (halfTurn) {
        std::swap(win[0], win[2]);
        std::swap(win[1], win[3]);
    }
    const cv::Mat H = cv::getPerspectiveTransform(uv, win);
    const double h22 = H.at<double>(2, 2);
    t[0] = H.at<double>(0, 0) / h22;
    t[1] = H.at<double>(0, 1) / h22;
    t[2] = H.at<double>(0, 2) / h22;
    t[3] = H.at<double>(1, 0) / h22;
    t[4] = H.at<double>(1, 1) / h22;
    t[5] = H.at<double>(1, 2) / h22;
    t[6] = H.at<double>(2, 0) / h22;
    t[7] = H.at<double>(2, 1) / h22;

    // Calibration points as the window lays them out.
    const double d = patternMargin(width, height);
    const double e = (height - 1) - 2 * d;
    const double f = (width - 1) - 2 * d;
    s.patternPoints.assign(20, cv::Point2f());
    const int colIndex[4] = { 0, 1, 3, 4 };
    for (int g = 0; g < 4; ++g) {
        const float y = float(std::floor(g * e / 3 + d + 0.5));
        for (int i = 0; i < 4; ++i)
            s.patternPoints[5 * g + colIndex[i]] = { float(std::floor(i * f / 3 + d + 0.5)), y };
        s.patternPoints[5 * g + 2] = { float(width / 2), y };
    }
    s.manualTargets.assign(16, cv::Point2f());
    for (int i = 0; i < 4; ++i)
        for (int k = 0; k < 4; ++k)
            s.manualTargets[4 * i + k] = { float((i * f + 1) / 3 + d), float((k * e + 1) / 3 + d) };
    return s;
}

cv::Point2d SyntheticScene::toCamera(const cv::Point2d &win) const
{
    tl::ModelPoint cam;
    if (!tl::windowToCamera(truth.data(), win.x, win.y, &cam))
        throw std::runtime_error("window point outside the synthetic camera's view");
    return { cam.x, cam.y };
}

std::vector<cv::Point2f> SyntheticScene::cameraPoints(const std::vector<cv::Point2f> &win, double sigma,
                                                      std::mt19937 &rng) const
{
    std::normal_distribution<double> noise(0.0, sigma > 0 ? sigma : 1.0);
    std::vector<cv::Point2f> out;
    for (const cv::Point2f &w : win) {
        cv::Point2d c = toCamera(cv::Point2d(w.x, w.y));
        if (sigma > 0) {
            c.x += noise(rng);
            c.y += noise(rng);
        }
        out.emplace_back(float(c.x), float(c.y));
    }
    return out;
}

RecoveryError measureAgainstTruth(const SyntheticScene &scene, const double *fitted, int stepPx)
{
    const double d = patternMargin(scene.width, scene.height);
    RecoveryError err;
    double sum = 0.0, sumInside = 0.0, sumBorder = 0.0;
    int inside = 0, border = 0;
    auto sample = [&](double X, double Y) {
        const cv::Point2d cam = scene.toCamera({ X, Y });
        const tl::ModelPoint w = tl::cameraToWindow(fitted, cam.x, cam.y);
        const double ex = w.x - X;
        const double ey = w.y - Y;
        double e2 = ex * ex + ey * ey;
        if (!std::isfinite(e2))
            e2 = std::numeric_limits<double>::infinity();
        sum += e2;
        err.max = std::max(err.max, std::sqrt(e2));
        ++err.samples;
        if (X >= d && X <= scene.width - 1 - d && Y >= d && Y <= scene.height - 1 - d) {
            sumInside += e2;
            ++inside;
        } else {
            sumBorder += e2;
            ++border;
            err.maxBorder = std::max(err.maxBorder, std::sqrt(e2));
        }
    };
    for (int y = 0;; y += stepPx) {
        const double Y = std::min(y, scene.height - 1);
        for (int x = 0;; x += stepPx) {
            const double X = std::min(x, scene.width - 1);
            sample(X, Y);
            if (X >= scene.width - 1)
                break;
        }
        if (Y >= scene.height - 1)
            break;
    }
    err.rms = std::sqrt(sum / err.samples);
    err.rmsInside = inside ? std::sqrt(sumInside / inside) : 0.0;
    err.rmsBorder = border ? std::sqrt(sumBorder / border) : 0.0;
    return err;
}

double modelSse(const double *tp, const std::vector<cv::Point2d> &cam, const std::vector<cv::Point2d> &win)
{
    double s = 0;
    for (size_t i = 0; i < cam.size(); ++i) {
        const tl::ModelPoint w = tl::cameraToWindow(tp, cam[i].x, cam[i].y);
        s += (w.x - win[i].x) * (w.x - win[i].x) + (w.y - win[i].y) * (w.y - win[i].y);
    }
    return s;
}

std::array<double, tl::kCalibParamCount> referenceLeastSquares(
    const std::vector<std::array<double, tl::kCalibParamCount>> &starts, const std::vector<cv::Point2d> &cam,
    const std::vector<cv::Point2d> &win)
{
    constexpr int P = tl::kCalibParamCount;
    const int n = int(cam.size());
    std::array<double, P> best = starts.front();
    double bestSse = std::numeric_limits<double>::infinity();
    for (std::array<double, P> tp : starts) {
        double sse = modelSse(tp.data(), cam, win);
        for (int it = 0; it < 100; ++it) {
            cv::Mat J(2 * n, P, CV_64F), r(2 * n, 1, CV_64F);
            for (int i = 0; i < n; ++i) {
                const tl::ModelPoint w = tl::cameraToWindow(tp.data(), cam[i].x, cam[i].y);
                r.at<double>(2 * i) = win[i].x - w.x;
                r.at<double>(2 * i + 1) = win[i].y - w.y;
                for (int p = 0; p < P; ++p) {
                    std::array<double, P> t2 = tp;
                    const double h = std::max(1e-30, std::fabs(tp[p]) * 1e-6);
                    t2[p] = tp[p] + h;
                    const tl::ModelPoint a = tl::cameraToWindow(t2.data(), cam[i].x, cam[i].y);
                    t2[p] = tp[p] - h;
                    const tl::ModelPoint b = tl::cameraToWindow(t2.data(), cam[i].x, cam[i].y);
                    J.at<double>(2 * i, p) = (a.x - b.x) / (2 * h);
                    J.at<double>(2 * i + 1, p) = (a.y - b.y) / (2 * h);
                }
            }
            double scale[P];
            for (int p = 0; p < P; ++p) {
                scale[p] = cv::norm(J.col(p));
                if (scale[p] == 0)
                    scale[p] = 1;
                J.col(p) /= scale[p];
            }
            cv::Mat delta;
            cv::solve(J, r, delta, cv::DECOMP_SVD);
            std::array<double, P> next = tp;
            for (int p = 0; p < P; ++p)
                next[p] += delta.at<double>(p) / scale[p];
            const double nextSse = modelSse(next.data(), cam, win);
            if (!(nextSse < sse))
                break;
            const bool settled = sse - nextSse <= 1e-12 * sse;
            tp = next;
            sse = nextSse;
            if (settled)
                break;
        }
        if (sse < bestSse) {
            bestSse = sse;
            best = tp;
        }
    }
    return best;
}
