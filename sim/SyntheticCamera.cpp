#include "sim/SyntheticCamera.h"
#include "sim/SimulatedUser.h"
#include "platform/ParallelFor.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>

namespace tl::sim {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr int kSuper = 2;   // sub-pixels per camera pixel and axis when rendering

double deg(double d)
{
    return d * kPi / 180.0;
}

// The lens presets of the three lens codes (centre and coefficients of the
// correction r -> r (1 + k1 r^2 + k2 r^4 + k3 r^6), camera pixels): the lenses
// the modules are built with. The synthetic lenses are drawn near them.
struct LensPreset
{
    double cx, cy, k1, k2, k3;
    double focal;      // focal length of the synthetic camera, pixels
    double pitch;      // how steeply the camera looks along the screen, degrees
};

LensPreset presetFor(int lens)
{
    switch (lens) {
    case 2:   // a normal-throw projector: the camera looks at the board from afar
        return { 619.8648, 330.0687, 1.12361e-08, 1.89171e-12, -4.075417e-19, 1000.0, 12.0 };
    case 3:   // ultra-short throw: a wide lens close to the board
        return { 617.2931, 351.1378, 1.330351e-06, -7.278473e-13, 9.205437e-18, 600.0, 36.0 };
    default:  // short throw
        return { 682.6771, 325.4162, 2.945825e-07, 2.667841e-13, -1.078467e-19, 880.0, 24.0 };
    }
}

uint64_t mix(uint64_t a, uint64_t b)
{
    uint64_t z = a * 0x9E3779B97F4A7C15ull + b + 0x632BE59BD9B4E5ull;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

cv::Matx33d rotX(double a)
{
    const double c = std::cos(a), s = std::sin(a);
    return { 1, 0, 0, 0, c, -s, 0, s, c };
}
cv::Matx33d rotY(double a)
{
    const double c = std::cos(a), s = std::sin(a);
    return { c, 0, s, 0, 1, 0, -s, 0, c };
}
cv::Matx33d rotZ(double a)
{
    const double c = std::cos(a), s = std::sin(a);
    return { c, -s, 0, s, c, 0, 0, 0, 1 };
}

const double kNaN = std::numeric_limits<double>::quiet_NaN();

} // namespace

SyntheticCamera::SyntheticCamera(const CameraSetup &setup) : m_setup(setup)
{
    m_setup.displayWidth = std::max(16, m_setup.displayWidth);
    m_setup.displayHeight = std::max(16, m_setup.displayHeight);
    m_setup.noise = std::max(0.0, m_setup.noise);

    std::mt19937_64 rng(mix(m_setup.seed, 0x5eed));
    auto uni = [&rng](double a, double b) { return std::uniform_real_distribution<double>(a, b)(rng); };

    const LensPreset p = presetFor(m_setup.lens);
    m_fx = p.focal * uni(0.97, 1.03);
    m_fy = m_fx * uni(0.997, 1.003);
    m_cx = p.cx + uni(-6, 6);
    m_cy = p.cy + uni(-6, 6);
    const double p1 = uni(-1, 1);
    const double p2 = uni(-1, 1);

    // Radial distortion near the preset: the preset's correction (with its
    // coefficients moved by a few percent) inverted and written in OpenCV's
    // rational form, fitted by linear least squares over the image's radii.
    {
        const double k1 = p.k1 * uni(0.96, 1.04);
        const double k2 = p.k2 * uni(0.96, 1.04);
        const double k3 = p.k3 * uni(0.96, 1.04);
        double rmax = 0;
        for (double x : { 0.0, double(kWidth) })
            for (double y : { 0.0, double(kHeight) })
                rmax = std::max(rmax, std::hypot(x - m_cx, y - m_cy));
        rmax *= 1.05;
        // Rows weighted so that the residual is the error of the distorted
        // radius in pixels (reweighted with the last denominator), so that the
        // lens follows the preset smoothly instead of trading pixels for algebra.
        const int n = 400;
        cv::Mat A(n, 6, CV_64F), b(n, 1, CV_64F);
        cv::Mat k = cv::Mat::zeros(6, 1, CV_64F);
        for (int pass = 0; pass < 4; ++pass) {
            for (int i = 0; i < n; ++i) {
                const double rd = rmax * (i + 1) / n;
                const double r2 = rd * rd;
                const double rho = rd * (1 + r2 * (k1 + r2 * (k2 + r2 * k3)));
                const double q = rd / rho;             // distorted / undistorted radius
                const double s = (rho / m_fx) * (rho / m_fx);
                const double den = 1 + s * (k.at<double>(3) + s * (k.at<double>(4) + s * k.at<double>(5)));
                const double w = rho / std::max(1e-3, std::fabs(den));
                // q (1 + k3' s + k4' s^2 + k5' s^3) = 1 + k0' s + k1' s^2 + k2' s^3
                A.at<double>(i, 0) = w * s;
                A.at<double>(i, 1) = w * s * s;
                A.at<double>(i, 2) = w * s * s * s;
                A.at<double>(i, 3) = -w * q * s;
                A.at<double>(i, 4) = -w * q * s * s;
                A.at<double>(i, 5) = -w * q * s * s * s;
                b.at<double>(i) = w * (q - 1);
            }
            cv::solve(A, b, k, cv::DECOMP_SVD);
        }
        for (int i = 0; i < 6; ++i)
            m_k[i] = k.at<double>(i);
        // Slight tangential distortion (a lens mounted a little off square): at
        // most about 1 camera pixel at the image's far corner, whatever the lens.
        const double r2 = rmax * (1 + rmax * rmax * (k1 + rmax * rmax * (k2 + rmax * rmax * k3)));
        const double ru = r2 / m_fx;
        const double scale = 1.0 / (3.0 * m_fx * ru * ru);
        m_p1 = p1 * scale;
        m_p2 = p2 * scale;
    }

    // Photometry.
    m_black = uni(10, 16);
    m_white = uni(165, 190);
    m_ambient = uni(8, 18);
    m_ambientSlopeX = uni(-0.35, 0.35);
    m_ambientSlopeY = uni(-0.35, 0.35);
    m_vignette = uni(0.18, 0.3);
    m_blurSigma = uni(0.7, 0.9);

    // Pose: a camera on the projector looks the way the projector throws, up
    // in its own view: it stands off the screen's bottom edge (as it sees the
    // screen), tilted up at it, so that the top of its image shows the far
    // edge, the one it sees smallest. Turned a little, the screen filling 65
    // to 75 % of the image. (A ceiling mounting hangs the projector upside
    // down above the screen; in the camera's own view nothing changes but the
    // picture, which it sees turned: viewToWindow.)
    const double pitch = deg(p.pitch + uni(-2, 2));
    const double yaw = deg(uni(-3, 3));
    const double roll = deg(uni(-1.5, 1.5));
    const cv::Matx33d camToWorld = rotY(yaw) * rotX(pitch) * rotZ(roll);
    m_rot = camToWorld.t();
    const double fill = uni(0.65, 0.75);
    const cv::Point2d centre(kWidth / 2.0 + uni(-15, 15), kHeight / 2.0 + uni(-10, 10));
    placeCamera(fill, centre);
}

// ---- geometry ------------------------------------------------------------------------

cv::Point2d SyntheticCamera::viewToWindow(cv::Point2d v) const
{
    const double w1 = m_setup.displayWidth - 1.0;
    const double h1 = m_setup.displayHeight - 1.0;
    if (m_setup.ceiling) {
        v.x = w1 - v.x;
        v.y = h1 - v.y;
    }
    if (m_setup.rear)
        v.x = w1 - v.x;
    return v;
}

cv::Point2d SyntheticCamera::distort(cv::Point2d n) const
{
    const double x = n.x, y = n.y;
    const double s = x * x + y * y;
    const double num = 1 + s * (m_k[0] + s * (m_k[1] + s * m_k[2]));
    const double den = 1 + s * (m_k[3] + s * (m_k[4] + s * m_k[5]));
    const double R = num / den;
    return { x * R + 2 * m_p1 * x * y + m_p2 * (s + 2 * x * x),
             y * R + m_p1 * (s + 2 * y * y) + 2 * m_p2 * x * y };
}

bool SyntheticCamera::undistort(cv::Point2d d, cv::Point2d *out) const
{
    // Radial part first (1-D Newton on the radius), then the whole lens by 2-D Newton.
    const double rd = std::hypot(d.x, d.y);
    double ru = rd;
    if (rd > 0) {
        for (int i = 0; i < 50; ++i) {
            const double sq = ru * ru;
            const double num = 1 + sq * (m_k[0] + sq * (m_k[1] + sq * m_k[2]));
            const double den = 1 + sq * (m_k[3] + sq * (m_k[4] + sq * m_k[5]));
            const double dnum = m_k[0] + sq * (2 * m_k[1] + sq * 3 * m_k[2]);
            const double dden = m_k[3] + sq * (2 * m_k[4] + sq * 3 * m_k[5]);
            const double R = num / den;
            const double f = ru * R - rd;
            const double df = R + 2 * sq * (dnum * den - num * dden) / (den * den);
            if (!(df > 0))
                return false;
            double next = ru - f / df;
            if (next <= 0)
                next = ru / 2;
            const bool done = std::fabs(next - ru) < 1e-13 * std::max(1.0, ru);
            ru = next;
            if (done)
                break;
        }
    }
    cv::Point2d p = rd > 0 ? cv::Point2d(d.x * ru / rd, d.y * ru / rd) : cv::Point2d(0, 0);
    for (int i = 0; i < 30; ++i) {
        const double x = p.x, y = p.y;
        const double s = x * x + y * y;
        const double num = 1 + s * (m_k[0] + s * (m_k[1] + s * m_k[2]));
        const double den = 1 + s * (m_k[3] + s * (m_k[4] + s * m_k[5]));
        const double dnum = m_k[0] + s * (2 * m_k[1] + s * 3 * m_k[2]);
        const double dden = m_k[3] + s * (2 * m_k[4] + s * 3 * m_k[5]);
        const double R = num / den;
        const double dR = (dnum * den - num * dden) / (den * den);
        const cv::Point2d f = distort(p) - d;
        const double a = R + 2 * x * x * dR + 2 * m_p1 * y + 6 * m_p2 * x;
        const double b = 2 * x * y * dR + 2 * m_p1 * x + 2 * m_p2 * y;
        const double c = b;
        const double e = R + 2 * y * y * dR + 6 * m_p1 * y + 2 * m_p2 * x;
        const double det = a * e - b * c;
        if (!std::isfinite(det) || det == 0)
            return false;
        const cv::Point2d step((e * f.x - b * f.y) / det, (a * f.y - c * f.x) / det);
        p -= step;
        if (std::fabs(step.x) + std::fabs(step.y) < 1e-13 * std::max(1.0, std::fabs(p.x) + std::fabs(p.y)))
            break;
    }
    if (!std::isfinite(p.x) || !std::isfinite(p.y))
        return false;
    const cv::Point2d back = distort(p);
    if (std::hypot(back.x - d.x, back.y - d.y) > 1e-9)
        return false;
    *out = p;
    return true;
}

cv::Point2d SyntheticCamera::project(const cv::Vec3d &world, double irScale, double irRadial) const
{
    const cv::Vec3d c = m_rot * (world - m_centre);
    if (!(c[2] > 1e-9))
        return { kNaN, kNaN };
    const cv::Point2d d = distort({ c[0] / c[2], c[1] / c[2] });
    const double k = 1 + irScale + irRadial * (d.x * d.x + d.y * d.y);
    return { m_fx * d.x * k + m_cx, m_fy * d.y * k + m_cy };
}

cv::Point2d SyntheticCamera::windowToCamera(cv::Point2d window) const
{
    const cv::Point2d v = viewToWindow(window);
    const double ox = (m_setup.displayWidth - 1) / 2.0;
    const double oy = (m_setup.displayHeight - 1) / 2.0;
    return project({ v.x - ox, v.y - oy, 0.0 });
}

cv::Point2d SyntheticCamera::lightToCamera(cv::Point2d window, const PenLight &light) const
{
    const cv::Point2d v = viewToWindow(window);
    const double W = m_setup.displayWidth;
    const double ox = (m_setup.displayWidth - 1) / 2.0;
    const double oy = (m_setup.displayHeight - 1) / 2.0;
    // The camera stands on the screen's z < 0 side: the lift is towards it.
    // The same pose and lens as the screen's, the lens at the light's wavelength.
    return project({ v.x - ox + light.alongX * W, v.y - oy + light.alongY * W, -light.lift * W }, light.irScale,
                   light.irRadial);
}

cv::Point2d SyntheticCamera::penToCamera(cv::Point2d window, int penType) const
{
    return lightToCamera(window, penLightFor(m_setup.lens, penType));
}

cv::Point2d SyntheticCamera::cameraToWindow(cv::Point2d camera) const
{
    cv::Point2d n;
    if (!undistort({ (camera.x - m_cx) / m_fx, (camera.y - m_cy) / m_fy }, &n))
        return { kNaN, kNaN };
    const cv::Vec3d dir = m_rot.t() * cv::Vec3d(n.x, n.y, 1.0);
    if (!(dir[2] > 1e-12))
        return { kNaN, kNaN };
    const double t = -m_centre[2] / dir[2];
    const double ox = (m_setup.displayWidth - 1) / 2.0;
    const double oy = (m_setup.displayHeight - 1) / 2.0;
    return viewToWindow({ m_centre[0] + t * dir[0] + ox, m_centre[1] + t * dir[1] + oy });
}

double SyntheticCamera::measureFill(cv::Rect2d *box) const
{
    const double W = m_setup.displayWidth, H = m_setup.displayHeight;
    const cv::Point2d corners[5] = { { -0.5, -0.5 }, { W - 0.5, -0.5 }, { W - 0.5, H - 0.5 }, { -0.5, H - 0.5 },
                                     { -0.5, -0.5 } };
    std::vector<cv::Point2d> outline;
    const int steps = 200;
    for (int e = 0; e < 4; ++e)
        for (int i = 0; i < steps; ++i) {
            const double t = double(i) / steps;
            outline.push_back(windowToCamera(corners[e] + t * (corners[e + 1] - corners[e])));
        }
    double area = 0;
    double x0 = 1e300, y0 = 1e300, x1 = -1e300, y1 = -1e300;
    for (size_t i = 0; i < outline.size(); ++i) {
        const cv::Point2d &a = outline[i];
        const cv::Point2d &b = outline[(i + 1) % outline.size()];
        if (!std::isfinite(a.x) || !std::isfinite(a.y))
            return 0;
        area += a.x * b.y - b.x * a.y;
        x0 = std::min(x0, a.x);
        y0 = std::min(y0, a.y);
        x1 = std::max(x1, a.x);
        y1 = std::max(y1, a.y);
    }
    if (box)
        *box = cv::Rect2d(x0, y0, x1 - x0, y1 - y0);
    return std::fabs(area) / 2 / (double(kWidth) * kHeight);
}

void SyntheticCamera::placeCamera(double targetFill, cv::Point2d targetCentre)
{
    const cv::Matx33d camToWorld = m_rot.t();
    const cv::Vec3d forward = camToWorld * cv::Vec3d(0, 0, 1);
    // Aim at a point on the screen from a distance; move both until the screen's
    // outline is centred where wanted and covers the wanted share, inside a margin.
    cv::Vec3d aim(0, 0, 0);
    double dist = m_setup.displayWidth * m_fx / (0.8 * kWidth);
    const double margin = 12;
    for (int it = 0; it < 200; ++it) {
        m_centre = aim - dist * forward;
        cv::Rect2d box;
        const double fill = measureFill(&box);
        if (fill <= 0) {
            dist *= 1.2;
            continue;
        }
        const double over = std::max({ box.width / (kWidth - 2 * margin), box.height / (kHeight - 2 * margin),
                                       1e-9 });
        const double scale = std::max(std::sqrt(fill / targetFill), over);
        const cv::Point2d off(box.x + box.width / 2 - targetCentre.x, box.y + box.height / 2 - targetCentre.y);
        dist *= std::pow(scale, 0.8);
        // Screen shift that moves the outline by `off` (roughly, near the aim).
        const cv::Vec3d right = camToWorld * cv::Vec3d(1, 0, 0);
        const cv::Vec3d down = camToWorld * cv::Vec3d(0, 1, 0);
        const double k = 0.6 * dist / m_fx;
        aim += k * off.x * cv::Vec3d(right[0], right[1], 0) + k * off.y * cv::Vec3d(down[0], down[1], 0) /
                                                                   std::max(0.3, std::hypot(down[0], down[1]));
        aim[2] = 0;
        if (std::fabs(scale - 1) < 1e-6 && std::hypot(off.x, off.y) < 1e-3)
            break;
    }
    m_centre = aim - dist * forward;
    cv::Rect2d box;
    m_fill = measureFill(&box);
}

bool SyntheticCamera::seesScreen(cv::Point2d camera) const
{
    const cv::Point2d w = cameraToWindow(camera);
    return std::isfinite(w.x) && w.x >= -0.5 && w.y >= -0.5 && w.x <= m_setup.displayWidth - 0.5 &&
           w.y <= m_setup.displayHeight - 0.5;
}

cv::Matx33d SyntheticCamera::cameraMatrix() const
{
    return { m_fx, 0, m_cx, 0, m_fy, m_cy, 0, 0, 1 };
}

cv::Mat SyntheticCamera::distCoeffs() const
{
    return (cv::Mat_<double>(1, 8) << m_k[0], m_k[1], m_p1, m_p2, m_k[2], m_k[3], m_k[4], m_k[5]);
}

// ---- photometry ----------------------------------------------------------------------

double SyntheticCamera::expectedLevel(cv::Point2d c, double display) const
{
    double rmax = 0;
    for (double x : { 0.0, double(kWidth) })
        for (double y : { 0.0, double(kHeight) })
            rmax = std::max(rmax, std::hypot(x - m_cx, y - m_cy));
    const double r = std::hypot(c.x - m_cx, c.y - m_cy) / rmax;
    const double gain = m_white * (1 - m_vignette * r * r);
    const double amb = m_ambient *
                       (1 + m_ambientSlopeX * (c.x - kWidth / 2.0) / (kWidth / 2.0) +
                        m_ambientSlopeY * (c.y - kHeight / 2.0) / (kHeight / 2.0));
    const double onScreen = seesScreen(c) ? 1.0 : 0.0;
    return m_black + amb * (0.6 + 0.4 * onScreen) + gain * display * onScreen;
}

void SyntheticCamera::buildMaps()
{
    std::lock_guard<std::mutex> lock(m_mapMutex);
    if (m_mapsBuilt)
        return;
    const int sw = kWidth * kSuper, sh = kHeight * kSuper;
    const double W = m_setup.displayWidth, H = m_setup.displayHeight;
    // The exact inverse on a coarse grid of sub-pixels (every kStep-th, one
    // node beyond each edge), Catmull-Rom interpolation between the nodes: the
    // lens bends smoothly, and solving it at every sub-pixel costs seconds.
    constexpr int kStep = 8;
    const int gw = sw / kStep + 4, gh = sh / kStep + 4;   // nodes -1 .. sw/kStep + 2
    cv::Mat grid(gh, gw, CV_64FC2);
    tl::parallelFor(cv::Range(0, gh), [&](const cv::Range &rows) {
        for (int b = rows.start; b < rows.end; ++b) {
            const double v = ((b - 1) * kStep + 0.5) / kSuper - 0.5;
            for (int a = 0; a < gw; ++a) {
                const double u = ((a - 1) * kStep + 0.5) / kSuper - 0.5;
                const cv::Point2d w = cameraToWindow({ u, v });
                grid.at<cv::Vec2d>(b, a) = cv::Vec2d(w.x, w.y);
            }
        }
    });
    auto cubic = [](double t, double w[4]) {
        const double t2 = t * t, t3 = t2 * t;
        w[0] = 0.5 * (-t3 + 2 * t2 - t);
        w[1] = 0.5 * (3 * t3 - 5 * t2 + 2);
        w[2] = 0.5 * (-3 * t3 + 4 * t2 + t);
        w[3] = 0.5 * (t3 - t2);
    };
    cv::Mat map(sh, sw, CV_32FC2);
    cv::Mat inside(sh, sw, CV_32F);
    tl::parallelFor(cv::Range(0, sh), [&](const cv::Range &rows) {
        for (int j = rows.start; j < rows.end; ++j) {
            auto *m = map.ptr<cv::Vec2f>(j);
            auto *in = inside.ptr<float>(j);
            const int b = j / kStep + 1;
            double wy[4];
            cubic(double(j % kStep) / kStep, wy);
            for (int i = 0; i < sw; ++i) {
                const int a = i / kStep + 1;
                double wx[4];
                cubic(double(i % kStep) / kStep, wx);
                double x = 0, y = 0;
                for (int r = 0; r < 4; ++r) {
                    const cv::Vec2d *g = grid.ptr<cv::Vec2d>(b - 1 + r) + (a - 1);
                    double rx = 0, ry = 0;
                    for (int c = 0; c < 4; ++c) {
                        rx += wx[c] * g[c][0];
                        ry += wx[c] * g[c][1];
                    }
                    x += wy[r] * rx;
                    y += wy[r] * ry;
                }
                const bool ok = std::isfinite(x) && std::isfinite(y) && std::fabs(x) < 3 * W && std::fabs(y) < 3 * H;
                m[i] = ok ? cv::Vec2f(float(x), float(y)) : cv::Vec2f(-100.f, -100.f);
                in[i] = ok && x >= -0.5 && y >= -0.5 && x <= W - 0.5 && y <= H - 0.5 ? 1.f : 0.f;
            }
        }
    });
    cv::convertMaps(map, cv::noArray(), m_map1, m_map2, CV_16SC2, false);
    cv::resize(inside, m_coverage, cv::Size(kWidth, kHeight), 0, 0, cv::INTER_AREA);

    // Window pixels per sub-pixel at the image centre: the display is blurred
    // by about half of that first, so that fine detail does not alias.
    const cv::Point2d a = cameraToWindow({ kWidth / 2.0, kHeight / 2.0 });
    const cv::Point2d bx = cameraToWindow({ kWidth / 2.0 + 1, kHeight / 2.0 });
    const cv::Point2d by = cameraToWindow({ kWidth / 2.0, kHeight / 2.0 + 1 });
    const double det = std::fabs((bx.x - a.x) * (by.y - a.y) - (bx.y - a.y) * (by.x - a.x));
    const double footprint = std::sqrt(det) / kSuper;
    m_prefilterSigma = footprint > 1.0 ? 0.5 * footprint : 0.0;

    m_gainMap.create(kHeight, kWidth, CV_32F);
    m_ambientMap.create(kHeight, kWidth, CV_32F);
    double rmax = 0;
    for (double x : { 0.0, double(kWidth) })
        for (double y : { 0.0, double(kHeight) })
            rmax = std::max(rmax, std::hypot(x - m_cx, y - m_cy));
    for (int v = 0; v < kHeight; ++v) {
        float *g = m_gainMap.ptr<float>(v);
        float *am = m_ambientMap.ptr<float>(v);
        const float *cov = m_coverage.ptr<float>(v);
        for (int u = 0; u < kWidth; ++u) {
            const double r = std::hypot(u - m_cx, v - m_cy) / rmax;
            g[u] = float(m_white * (1 - m_vignette * r * r));
            const double amb = m_ambient * (1 + m_ambientSlopeX * (u - kWidth / 2.0) / (kWidth / 2.0) +
                                            m_ambientSlopeY * (v - kHeight / 2.0) / (kHeight / 2.0));
            am[u] = float(amb * (0.6 + 0.4 * cov[u]));
        }
    }
    m_mapsBuilt = true;
}

cv::Mat SyntheticCamera::render(const QImage &display, double gainFactor)
{
    buildMaps();
    const int W = m_setup.displayWidth, H = m_setup.displayHeight;
    cv::Mat light(H, W, CV_32F, cv::Scalar(0));
    if (!display.isNull()) {
        // Not through QImage's conversion: it waits for Qt's global thread pool,
        // which the host's receive loops may fill while they wait for this module.
        const QImage rgb = (display.format() == QImage::Format_RGB32 || display.format() == QImage::Format_ARGB32
                            || display.format() == QImage::Format_ARGB32_Premultiplied)
            ? display
            : toRgb32(display);
        const cv::Mat bgra(rgb.height(), rgb.width(), CV_8UC4, const_cast<uchar *>(rgb.constBits()),
                           static_cast<size_t>(rgb.bytesPerLine()));
        cv::Mat g;
        cv::cvtColor(bgra, g, cv::COLOR_BGRA2GRAY);
        cv::Mat f;
        g.convertTo(f, CV_32F, 1.0 / 255.0);
        if (f.cols != W || f.rows != H)
            cv::resize(f, light, cv::Size(W, H), 0, 0, f.cols > W ? cv::INTER_AREA : cv::INTER_LINEAR);
        else
            light = f;
    }
    if (m_prefilterSigma > 0)
        cv::GaussianBlur(light, light, cv::Size(), m_prefilterSigma);
    cv::Mat sub;
    cv::remap(light, sub, m_map1, m_map2, cv::INTER_LINEAR, cv::BORDER_CONSTANT, cv::Scalar(0));
    cv::Mat seen;
    cv::resize(sub, seen, cv::Size(kWidth, kHeight), 0, 0, cv::INTER_AREA);

    cv::Mat signal = m_ambientMap + m_gainMap.mul(seen);
    signal *= gainFactor;
    cv::GaussianBlur(signal, signal, cv::Size(), m_blurSigma);

    const uint64_t shot = m_shots.fetch_add(1);
    if (m_setup.noise > 0) {
        cv::Mat variance = signal * m_shotNoise + m_readNoise * m_readNoise;
        cv::Mat sigma;
        cv::sqrt(cv::max(variance, 0.0), sigma);
        cv::Mat n(kHeight, kWidth, CV_32F);
        cv::RNG rng(mix(m_setup.seed, shot + 1));
        rng.fill(n, cv::RNG::NORMAL, 0.0, m_setup.noise);
        signal += sigma.mul(n);
    }
    signal += m_black;
    cv::Mat out;
    signal.convertTo(out, CV_8U);   // rounds and saturates: 8-bit quantisation
    return out;
}

cv::Mat SyntheticCamera::capture(const QImage &projectedDisplay)
{
    return render(projectedDisplay, 1.0);
}

cv::Mat SyntheticCamera::frame(const QImage &projectedDisplay, int gain)
{
    const cv::Mat full = render(projectedDisplay, std::max(0, gain) / double(kUnityGain));
    cv::Mat out;
    cv::resize(full, out, cv::Size(kFrameWidth, kFrameHeight), 0, 0, cv::INTER_AREA);
    return out;
}

} // namespace tl::sim
