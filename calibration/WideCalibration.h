#pragma once

#include "calibration/CalibModel.h"

#include <opencv2/core.hpp>

namespace tl {

// The 13-parameter camera-to-window fitter: a damped Gauss-Newton fit of the
// model of CalibModel.h to up to 25 pairs of camera point and window target.
// One object serves one run (one fit, one radial-correction job or one
// camera-row scan) and is then thrown away.
class WideCalibration
{
public:
    static constexpr int kMaxPoints = 25;

    // All 13 parameters zero, 25 points (all at the origin).
    WideCalibration();
    explicit WideCalibration(const double *tp);

    void setParameters(const double *tp);
    void getParameters(double *tp) const;
    const double *parameters() const { return m_tp; }

    // Sets m_tp[8..12] (distortion centre and k1..k3) to the lens preset of
    // `lens` (1, 2, 3, 4; anything else is "no distortion"); lens 3 has one
    // preset for fwParam >= 10 and another below. The other parameters stay.
    void setPredefinedLens(int lens, int fwParam);
    static void predefinedLens(int lens, int fwParam, double *cxCyK1K2K3);

    // Copies n pairs (n clamped to 0..25) of camera point and window target.
    void setPoints(int n, const cv::Point2d *cam, const cv::Point2d *win);
    int pointCount() const { return m_nPoints; }

    // Stand-alone forward map and radial correction, in double precision.
    cv::Point2d forwardMap(const cv::Point2d &cam) const;
    cv::Point2d radialCorrection(const cv::Point2d &cam) const;

    // Logs the mode and runs the fit from the current parameters.
    void CalibrationMain(int mode);
    // The damped Gauss-Newton fit. Modes 0, 2, 4 use the projective Jacobian
    // columns u/w, v/w for window x; modes 1, 3, 5 use X/w, Y/w instead.
    void CalibrationWide(int mode);

    int loopCount() const { return m_nLoop; }
    double sse() const { return m_dSse; }

private:
    // Evaluates every point under m_tp and returns the sum of squared
    // window-pixel errors. (u, v) are rounded to single precision here, as the
    // module does, and the rounded values feed the next step.
    double evaluate();
    // One damped step: builds the normal equations, adds lambda to the
    // diagonal, inverts by LU and adds the solution to m_tp.
    void step(int mode);

    double m_tp[kCalibParamCount];
    cv::Point2d m_cam[kMaxPoints];
    cv::Point2d m_win[kMaxPoints];
    cv::Point2d m_uv[kMaxPoints];
    cv::Point2d m_model[kMaxPoints];
    double m_w[kMaxPoints];
    int m_nPoints = kMaxPoints;
    int m_nLoop = 0;
    double m_dSse = 0.0;
    double m_lambda = 0.001;

    double m_N[kCalibParamCount * kCalibParamCount];
    double m_b[kCalibParamCount];
    double m_JX[kCalibParamCount];
    double m_JY[kCalibParamCount];
    cv::Mat m_Ninv;
};

} // namespace tl
