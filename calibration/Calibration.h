#pragma once

#include <opencv2/core.hpp>

namespace tl {

// Homography from corrected camera points to window points, solved as the
// eigenvector of the smallest eigenvalue of the normal matrix of the direct
// linear equations. Pattern recognition uses it to predict where the dots lie
// from the markers it found.
class Calibration
{
public:
    static constexpr int kMaxPoints = 9;

    Calibration();

    // Adds one pair (camera point after radial correction, window point).
    // Returns false, and ignores the pair, once 9 pairs are held.
    bool addPoint(float camX, float camY, float winX, float winY);
    int pointCount() const { return m_nPoints; }
    void clear() { m_nPoints = 0; }

    // Solves h0..h8 from the pairs held (unit length, sign as the solver
    // gives it). Needs at least 4 pairs to be meaningful.
    void CalibrationMain();

    // Window point of a corrected camera point under h. A denominator below
    // the double epsilon is logged; the division is still done.
    cv::Point2d CalcNewPoint(double x, double y) const;

    const double *homography() const { return m_h; }
    void setHomography(const double *h);

private:
    float m_camX[kMaxPoints], m_camY[kMaxPoints];
    float m_winX[kMaxPoints], m_winY[kMaxPoints];
    int m_nPoints = 0;
    cv::Mat m_A;            // 2n x 9
    cv::Mat m_M;            // 9 x 9 = A^T A
    cv::Mat m_eigenValues;  // 9, descending
    cv::Mat m_eigenVectors; // 9 x 9, one per row
    double m_h[9];
};

} // namespace tl
