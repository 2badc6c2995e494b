#include "calibration/Calibration.h"

#include <QDebug>
#include <QString>

#include <algorithm>
#include <cmath>

namespace tl {

namespace {
constexpr double kDblEpsilon = 2.220446049250313e-16;
}

Calibration::Calibration()
{
    std::fill(m_h, m_h + 9, 0.0);
}

bool Calibration::addPoint(float camX, float camY, float winX, float winY)
{
    if (m_nPoints >= kMaxPoints)
        return false;
    m_camX[m_nPoints] = camX;
    m_camY[m_nPoints] = camY;
    m_winX[m_nPoints] = winX;
    m_winY[m_nPoints] = winY;
    ++m_nPoints;
    return true;
}

void Calibration::setHomography(const double *h)
{
    std::copy(h, h + 9, m_h);
}

void Calibration::CalibrationMain()
{
    qDebug() << "Calibration::CalibrationMain() - 1";

    const int n = m_nPoints;
    m_A = cv::Mat::zeros(std::max(2 * n, 1), 9, CV_64F);
    for (int i = 0; i < n; ++i) {
        const float x = m_camX[i], y = m_camY[i];
        const float X = m_winX[i], Y = m_winY[i];
        double *r0 = m_A.ptr<double>(2 * i);
        double *r1 = m_A.ptr<double>(2 * i + 1);
        // The products are formed in single precision, as the points are held.
        r0[0] = x; r0[1] = y; r0[2] = 1;
        r0[3] = 0; r0[4] = 0; r0[5] = 0;
        r0[6] = -X * x; r0[7] = -X * y; r0[8] = -X;
        r1[0] = 0; r1[1] = 0; r1[2] = 0;
        r1[3] = x; r1[4] = y; r1[5] = 1;
        r1[6] = -Y * x; r1[7] = -Y * y; r1[8] = -Y;
    }
    cv::mulTransposed(m_A, m_M, true); // M = A^T A
    // Symmetric solver: eigenvalues in descending order, eigenvectors as rows.
    cv::eigen(m_M, m_eigenValues, m_eigenVectors);
    const double *h = m_eigenVectors.ptr<double>(8);
    std::copy(h, h + 9, m_h);

    qDebug() << "Calibration::CalibrationMain()";
    qDebug().noquote() << QString::asprintf("%e %e %e", m_h[0], m_h[1], m_h[2]);
    qDebug().noquote() << QString::asprintf("%e %e %e", m_h[3], m_h[4], m_h[5]);
    qDebug().noquote() << QString::asprintf("%e %e %e", m_h[6], m_h[7], m_h[8]);
}

cv::Point2d Calibration::CalcNewPoint(double x, double y) const
{
    const double *h = m_h;
    const double w = h[6] * x + h[7] * y + h[8];
    if (std::fabs(w) < kDblEpsilon)
        qDebug() << "Calibration::CalcNewPoint:" << x << y << w;
    return { (h[0] * x + h[1] * y + h[2]) / w, (h[3] * x + h[4] * y + h[5]) / w };
}

} // namespace tl
