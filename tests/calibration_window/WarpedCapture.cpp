#include "WarpedCapture.h"

#include "calibration/CalibModel.h"
#include "calibration/WideCalibration.h"

#include <opencv2/imgproc.hpp>

WarpedCapture::WarpedCapture(int windowWidth, int windowHeight, int lens, double fill, double sigma, unsigned s,
                             bool ceiling, bool rear)
    : noiseSigma(sigma)
    , seed(s)
    , m_ceiling(ceiling)
    , m_rear(rear)
    , m_width(windowWidth)
    , m_height(windowHeight)
{
    // The window seen slightly keystoned: its top edge narrower than its bottom.
    const double w = 1280 * fill;
    const double h = w * windowHeight / windowWidth;
    const double cx = 640, cy = 360;
    const std::vector<cv::Point2f> cam = {
        { float(cx - 0.46 * w), float(cy - 0.5 * h) }, { float(cx + 0.47 * w), float(cy - 0.52 * h) },
        { float(cx + 0.5 * w), float(cy + 0.5 * h) }, { float(cx - 0.5 * w), float(cy + 0.48 * h) } };
    const std::vector<cv::Point2f> win = { { 0, 0 }, { float(windowWidth - 1), 0 },
                                           { float(windowWidth - 1), float(windowHeight - 1) },
                                           { 0, float(windowHeight - 1) } };
    const cv::Mat H = cv::getPerspectiveTransform(cam, win);
    for (int i = 0; i < 8; ++i)
        tp[i] = H.at<double>(i / 3, i % 3) / H.at<double>(2, 2);
    double preset[5];
    tl::WideCalibration::predefinedLens(lens, 10, preset);
    for (int i = 0; i < 5; ++i)
        tp[8 + i] = preset[i];

    m_mapX.create(720, 1280, CV_32F);
    m_mapY.create(720, 1280, CV_32F);
    m_gain.create(720, 1280, CV_32F);
    for (int y = 0; y < 720; ++y)
        for (int x = 0; x < 1280; ++x) {
            const tl::ModelPoint q = tl::cameraToWindow(tp, x, y);
            const cv::Point2d p = mount(q.x, q.y);
            m_mapX.at<float>(y, x) = static_cast<float>(p.x);
            m_mapY.at<float>(y, x) = static_cast<float>(p.y);
            const double r2 = ((x - 640.0) * (x - 640.0) + (y - 360.0) * (y - 360.0)) / (700.0 * 700.0);
            m_gain.at<float>(y, x) = static_cast<float>(190.0 * (1.0 - 0.35 * r2));
        }
}

cv::Mat WarpedCapture::capture(const cv::Mat &window, int salt) const
{
    // Window -> camera shrinks by about 2 to 3: smooth first so the pattern
    // does not alias.
    cv::Mat smooth;
    const double scale = 1280.0 * 0.7 / m_width;
    cv::GaussianBlur(window, smooth, cv::Size(), std::max(0.5, 0.5 / scale));
    cv::Mat seen;
    cv::remap(smooth, seen, m_mapX, m_mapY, cv::INTER_LINEAR, cv::BORDER_CONSTANT, cv::Scalar(0));
    cv::Mat light;
    seen.convertTo(light, CV_32F, 1.0 / 255);
    light = light.mul(m_gain);
    cv::GaussianBlur(light, light, cv::Size(), 0.9);
    // Ambient light with a gradient and the sensor's black level.
    cv::Mat out(720, 1280, CV_32F);
    for (int y = 0; y < 720; ++y)
        for (int x = 0; x < 1280; ++x)
            out.at<float>(y, x) = light.at<float>(y, x) + 14.0f + 10.0f * x / 1280.0f;
    if (noiseSigma > 0) {
        cv::RNG rng(seed * 7919u + static_cast<unsigned>(salt));
        cv::Mat noise(720, 1280, CV_32F);
        rng.fill(noise, cv::RNG::NORMAL, 0, noiseSigma);
        out += noise;
    }
    cv::Mat bytes;
    out.convertTo(bytes, CV_8U); // rounds and saturates
    return bytes;
}

cv::Mat WarpedCapture::black() const
{
    return capture(cv::Mat(m_height, m_width, CV_8UC1, cv::Scalar(0)), 1);
}

cv::Mat WarpedCapture::white() const
{
    return capture(cv::Mat(m_height, m_width, CV_8UC1, cv::Scalar(255)), 2);
}

cv::Point2d WarpedCapture::mount(double X, double Y) const
{
    if (m_rear)
        X = (m_width - 1) - X;
    if (m_ceiling) {
        X = (m_width - 1) - X;
        Y = (m_height - 1) - Y;
    }
    return cv::Point2d(X, Y);
}

cv::Point2d WarpedCapture::cameraOf(double X, double Y) const
{
    const cv::Point2d q = mount(X, Y); // the turn and the mirror are their own inverses
    tl::ModelPoint c;
    if (!tl::windowToCamera(tp, q.x, q.y, &c))
        return cv::Point2d(-1, -1);
    return cv::Point2d(c.x, c.y);
}
