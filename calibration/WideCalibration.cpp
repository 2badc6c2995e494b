#include "calibration/WideCalibration.h"

#include <QDebug>
#include <QString>

#include <algorithm>
#include <cstring>

namespace tl {

namespace {

// Distortion centre (camera pixels) and k1, k2, k3 per lens, measured on the
// lenses the modules ship with. Lens 3 changed optics with firmware 51.10.
const double kLens1[5] = { 682.6771, 325.4162, 2.945825e-07, 2.667841e-13, -1.078467e-19 };
const double kLens2[5] = { 619.8648, 330.0687, 1.12361e-08, 1.89171e-12, -4.075417e-19 };
const double kLens3New[5] = { 617.2931, 351.1378, 1.330351e-06, -7.278473e-13, 9.205437e-18 };
const double kLens3Old[5] = { 612.0396, 325.86, 1.357969e-06, -1.929077e-13, 1.002503e-17 };
const double kLensNone[5] = { 640, 360, 0, 0, 0 };

// The loop stops raising the damping once it passes this value.
constexpr double kLambdaMax = 10000000.0;
constexpr double kLambdaStart = 0.001;
constexpr int kMaxLoops = 4096;

void logLine(const char *format, double value)
{
    qDebug().noquote() << QString::asprintf(format, value);
}

} // namespace

WideCalibration::WideCalibration()
{
    std::fill(m_tp, m_tp + kCalibParamCount, 0.0);
    std::fill(m_w, m_w + kMaxPoints, 1.0);
    m_Ninv.create(kCalibParamCount, kCalibParamCount, CV_64F);
}

WideCalibration::WideCalibration(const double *tp)
    : WideCalibration()
{
    setParameters(tp);
}

void WideCalibration::setParameters(const double *tp)
{
    std::copy(tp, tp + kCalibParamCount, m_tp);
}

void WideCalibration::getParameters(double *tp) const
{
    std::copy(m_tp, m_tp + kCalibParamCount, tp);
}

void WideCalibration::predefinedLens(int lens, int fwParam, double *out)
{
    const double *preset = kLensNone;
    switch (lens) {
    case 1:
        preset = kLens1;
        break;
    case 2:
    case 4:
        preset = kLens2;
        break;
    case 3:
        preset = fwParam >= 10 ? kLens3New : kLens3Old;
        break;
    default:
        break;
    }
    std::copy(preset, preset + 5, out);
}

void WideCalibration::setPredefinedLens(int lens, int fwParam)
{
    predefinedLens(lens, fwParam, m_tp + 8);
}

void WideCalibration::setPoints(int n, const cv::Point2d *cam, const cv::Point2d *win)
{
    m_nPoints = std::clamp(n, 0, kMaxPoints);
    for (int i = 0; i < m_nPoints; ++i) {
        m_cam[i] = cam[i];
        m_win[i] = win[i];
    }
}

cv::Point2d WideCalibration::forwardMap(const cv::Point2d &cam) const
{
    const ModelPoint p = cameraToWindow(m_tp, cam.x, cam.y);
    return { p.x, p.y };
}

cv::Point2d WideCalibration::radialCorrection(const cv::Point2d &cam) const
{
    const ModelPoint p = radialCorrect(m_tp, cam.x, cam.y);
    return { p.x, p.y };
}

double WideCalibration::evaluate()
{
    double sse = 0.0;
    for (int i = 0; i < m_nPoints; ++i) {
        const ModelPoint uv = radialCorrect(m_tp, m_cam[i].x, m_cam[i].y);
        // The module computes (u, v) in single precision; the fit sees the
        // same rounding so that its residuals are the module's.
        const double u = static_cast<float>(uv.x);
        const double v = static_cast<float>(uv.y);
        m_uv[i] = { u, v };
        m_w[i] = m_tp[6] * u + m_tp[7] * v + 1.0;
        const ModelPoint model = projectiveMap(m_tp, u, v);
        m_model[i] = { model.x, model.y };
        const double ex = m_win[i].x - model.x;
        const double ey = m_win[i].y - model.y;
        sse += ex * ex + ey * ey;
    }
    return sse;
}

void WideCalibration::step(int mode)
{
    constexpr int P = kCalibParamCount;
    std::fill(m_N, m_N + P * P, 0.0);
    std::fill(m_b, m_b + P, 0.0);

    const double *tp = m_tp;
    const double cx = tp[8], cy = tp[9], k1 = tp[10], k2 = tp[11], k3 = tp[12];
    const bool targetColumns = (mode % 2) == 1;

    for (int i = 0; i < m_nPoints; ++i) {
        const double u = m_uv[i].x;
        const double v = m_uv[i].y;
        const double w = m_w[i];
        const double X = m_win[i].x;
        const double Y = m_win[i].y;

        double *JX = m_JX;
        double *JY = m_JY;
        if (targetColumns) {
            JX[0] = X / w;
            JX[1] = Y / w;
        } else {
            JX[0] = u / w;
            JX[1] = v / w;
        }
        JX[2] = 1.0 / w;
        JX[3] = JX[4] = JX[5] = 0.0;
        // Denominator columns use the target, not the modelled point.
        JX[6] = -X * u / w;
        JX[7] = -X * v / w;

        JY[0] = JY[1] = JY[2] = 0.0;
        JY[3] = u / w;
        JY[4] = v / w;
        JY[5] = 1.0 / w;
        JY[6] = -Y * u / w;
        JY[7] = -Y * v / w;

        // Distortion columns by the chain rule through (u, v).
        const double Nx = tp[0] * u + tp[1] * v + tp[2];
        const double Ny = tp[3] * u + tp[4] * v + tp[5];
        const double w2 = w * w;
        const double dXdu = (tp[0] * w - tp[6] * Nx) / w2;
        const double dXdv = (tp[1] * w - tp[7] * Nx) / w2;
        const double dYdu = (tp[3] * w - tp[6] * Ny) / w2;
        const double dYdv = (tp[4] * w - tp[7] * Ny) / w2;

        const double dx = m_cam[i].x - cx;
        const double dy = m_cam[i].y - cy;
        const double r2 = dx * dx + dy * dy;
        const double r4 = r2 * r2;
        const double r6 = r4 * r2;
        const double g = k1 * r2 + k2 * r4 + k3 * r6;
        const double K = k1 + 2.0 * k2 * r2 + 3.0 * k3 * r4;

        // d(u, v)/d(cx, cy, k1, k2, k3)
        const double dU[5] = { -g - 2.0 * K * dx * dx, -2.0 * K * dx * dy, dx * r2, dx * r4, dx * r6 };
        const double dV[5] = { -2.0 * K * dx * dy, -g - 2.0 * K * dy * dy, dy * r2, dy * r4, dy * r6 };
        for (int p = 0; p < 5; ++p) {
            JX[8 + p] = dXdu * dU[p] + dXdv * dV[p];
            JY[8 + p] = dYdu * dU[p] + dYdv * dV[p];
        }

        const double rx = X - m_model[i].x;
        const double ry = Y - m_model[i].y;
        for (int r = 0; r < P; ++r) {
            double *row = m_N + r * P;
            for (int c = 0; c < P; ++c)
                row[c] += JX[r] * JX[c] + JY[r] * JY[c];
            m_b[r] += JX[r] * rx + JY[r] * ry;
        }
    }

    // Additive damping.
    for (int r = 0; r < P; ++r)
        m_N[r * P + r] += m_lambda;

    const cv::Mat N(P, P, CV_64F, m_N);
    // A singular matrix leaves m_Ninv zero, so the step changes nothing.
    cv::invert(N, m_Ninv, cv::DECOMP_LU);
    for (int r = 0; r < P; ++r) {
        const double *row = m_Ninv.ptr<double>(r);
        double delta = 0.0;
        for (int c = 0; c < P; ++c)
            delta += row[c] * m_b[c];
        m_tp[r] += delta;
    }
}

void WideCalibration::CalibrationMain(int mode)
{
    qDebug() << "CalibrationMain()" << mode;
    CalibrationWide(mode);
}

void WideCalibration::CalibrationWide(int mode)
{
    m_lambda = kLambdaStart;
    double sse = evaluate();
    logLine("sse = %lf", sse);

    int loop = 0;
    bool raised = false;
    // lambda is always below the limit here: the loop ends inside.
    while (sse > 16.0 || m_lambda < kLambdaMax) {
        const double prev = sse;
        step(mode);
        sse = evaluate();
        logLine("sse = %lf", sse);

        if (sse >= prev) {
            raised = true;
            bool leave = false;
            // A rejected step is kept: each further trial starts from where
            // the previous one went, only more strongly damped.
            do {
                m_lambda *= 10.0;
                step(mode);
                sse = evaluate();
                qDebug().noquote() << QString::asprintf("raise lambda = %e, sse = %lf", m_lambda, sse);
                if (m_lambda > kLambdaMax) {
                    leave = true;
                    break;
                }
            } while (!(sse < prev));
            if (leave)
                break;
        }
        if (sse < prev) {
            if (raised) {
                m_lambda /= 10.0;
                raised = false;
            } else {
                m_lambda = kLambdaStart;
            }
        }
        qDebug().noquote() << QString::asprintf("loop = %d, sse = %lf", loop, sse);
        ++loop;
        if (loop > kMaxLoops)
            break;
    }

    m_nLoop = loop;
    m_dSse = sse;

    qDebug() << "CalibrationWide()";
    qDebug() << "m_tp =";
    const double *t = m_tp;
    qDebug().noquote() << QString::asprintf("%e, %e, %e", t[0], t[1], t[2]);
    qDebug().noquote() << QString::asprintf("%e, %e, %e", t[3], t[4], t[5]);
    qDebug().noquote() << QString::asprintf("%e, %e", t[6], t[7]);
    qDebug().noquote() << QString::asprintf("%e, %e", t[8], t[9]);
    qDebug().noquote() << QString::asprintf("%e, %e, %e", t[10], t[11], t[12]);
    for (int i = 0; i < kCalibParamCount; ++i)
        qDebug().noquote() << QString::asprintf("        m_tp[%2d] = %e;", i, t[i]);
}

} // namespace tl
