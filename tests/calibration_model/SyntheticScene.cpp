#include "SyntheticScene.h"

#include "calibration/WideCalibration.h"

#include <opencv2/imgproc.hpp>

#include <cmath>
#include <stdexcept>
#include <algorithm>
#include <limits>

double patternMargin(int width, int height)
{
    const int R = std::max(int(width * 50.0 / 1280 + 0.5), int(height * 50.0 / 800 + 0.5));
    if (width * 800 == height * 1280)
        return width * 70.0 / 1280;
    if (width <= 1280)
        return R + 10;
    return R + width * 20.0 / 1280;
}

SyntheticScene makeScene(int width, int height, int lens, int fwParam)
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
    RecoveryError err;
    double sum = 0.0;
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
    return err;
}
