#pragma once

// The camera-to-window model of a module, as plain inline functions with no
// dependency beyond the standard library. The fitter (WideCalibration), the
// camera-row limit and the module emulator all evaluate the model through these
// functions, so the host and the emulated module can never disagree about it.
//
// Parameters `tp` are the 13 doubles of m_tp in their fixed order:
//   tp[0..2]  numerator of window x: coefficients of u, v and the constant
//   tp[3..5]  numerator of window y: coefficients of u, v and the constant
//   tp[6..7]  denominator coefficients of u and v (its constant is 1)
//   tp[8..9]  centre of radial distortion (cx, cy), camera pixels
//   tp[10..12] k1, k2, k3 of r^2, r^4, r^6 (r in camera pixels)
// Camera points are pixels of the 1280 x 720 camera image; window points are
// pixels of the calibration window, origin at its top-left corner.

#include <cmath>

namespace tl {

constexpr int kCalibParamCount = 13;

struct ModelPoint
{
    double x = 0.0;
    double y = 0.0;
};

// Radial correction: raw camera point -> corrected point (u, v).
inline ModelPoint radialCorrect(const double *tp, double x, double y)
{
    const double cx = tp[8];
    const double cy = tp[9];
    const double dx = x - cx;
    const double dy = y - cy;
    const double r2 = dx * dx + dy * dy;
    const double r4 = r2 * r2;
    const double r6 = r4 * r2;
    const double f = 1.0 + tp[10] * r2 + tp[11] * r4 + tp[12] * r6;
    return { f * dx + cx, f * dy + cy };
}

// Projective part: corrected point (u, v) -> window point. A zero denominator
// gives infinities or NaN; callers that must not see them test std::isfinite.
inline ModelPoint projectiveMap(const double *tp, double u, double v)
{
    const double w = tp[6] * u + tp[7] * v + 1.0;
    return { (tp[0] * u + tp[1] * v + tp[2]) / w, (tp[3] * u + tp[4] * v + tp[5]) / w };
}

// The forward model: raw camera point -> window point, in double precision.
inline ModelPoint cameraToWindow(const double *tp, double x, double y)
{
    const ModelPoint uv = radialCorrect(tp, x, y);
    return projectiveMap(tp, uv.x, uv.y);
}

// Inverse of the radial correction: corrected point (u, v) -> raw camera point.
// The correction scales the offset from the centre by f(r), so only the radius
// has to be found: r * f(r) = |(u, v) - centre|, solved by Newton's method.
// Returns false when no radius with a rising r * f(r) reproduces the point
// (the polynomial turns over beyond the lens's useful field) or on NaN input.
inline bool undoRadialCorrection(const double *tp, double u, double v, ModelPoint *cam)
{
    const double cx = tp[8];
    const double cy = tp[9];
    const double k1 = tp[10];
    const double k2 = tp[11];
    const double k3 = tp[12];
    const double du = u - cx;
    const double dv = v - cy;
    const double rho = std::sqrt(du * du + dv * dv);
    if (!std::isfinite(rho))
        return false;
    if (rho == 0.0) {
        *cam = { cx, cy };
        return true;
    }
    double r = rho;
    for (int i = 0; i < 100; ++i) {
        const double r2 = r * r;
        const double g = r * (1.0 + r2 * (k1 + r2 * (k2 + r2 * k3))) - rho;
        const double dg = 1.0 + r2 * (3.0 * k1 + r2 * (5.0 * k2 + r2 * 7.0 * k3));
        if (!(dg > 0.0))
            return false;
        double next = r - g / dg;
        if (next <= 0.0)
            next = r / 2.0;
        if (std::fabs(next - r) <= 1e-12 * rho) {
            r = next;
            const double s = r / rho;
            *cam = { cx + du * s, cy + dv * s };
            return true;
        }
        r = next;
    }
    return false;
}

// The inverse model: window point -> raw camera point. Inverts the projective
// part in closed form and then the radial correction. Returns false when the
// projective part is singular, the point lies on its horizon, or the radial
// correction cannot be undone.
inline bool windowToCamera(const double *tp, double X, double Y, ModelPoint *cam)
{
    // [X Y 1]^T ~ H [u v 1]^T with H = [tp0 tp1 tp2; tp3 tp4 tp5; tp6 tp7 1].
    const double a = tp[0], b = tp[1], c = tp[2];
    const double d = tp[3], e = tp[4], f = tp[5];
    const double g = tp[6], h = tp[7], i = 1.0;
    const double A = e * i - f * h, B = c * h - b * i, C = b * f - c * e;
    const double D = f * g - d * i, E = a * i - c * g, F = c * d - a * f;
    const double G = d * h - e * g, H = b * g - a * h, I = a * e - b * d;
    const double det = a * A + b * D + c * G;
    if (!std::isfinite(det) || det == 0.0)
        return false;
    const double w = G * X + H * Y + I;
    if (!std::isfinite(w) || w == 0.0)
        return false;
    const double u = (A * X + B * Y + C) / w;
    const double v = (D * X + E * Y + F) / w;
    if (!std::isfinite(u) || !std::isfinite(v))
        return false;
    return undoRadialCorrection(tp, u, v, cam);
}

} // namespace tl
