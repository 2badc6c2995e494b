#include "calibration/CalibWorkspace.h"

#include <QDebug>
#include <QString>

#include <algorithm>

namespace tl {

namespace {

CalibWorkspace g_workspace;

// Offsets in camera pixels between where the detector finds a pattern point
// and where the pen tip reads the same spot, per lens and pen, measured on
// production modules. Indexed like the auto pattern; slots 20..24 are zero.
struct TweakTable
{
    double x[CalibWorkspace::kSlots];
    double y[CalibWorkspace::kSlots];
};

const TweakTable kTweakLens2Pen0 = {
    { -2.84, -1.55, -0.85, -0.7, 0.85, -2.32, -1.48, -0.51, 0.13, 1.31, -3.16, -1.53, -0.46, 0.31, 1.32, -3.53, -1.17, -0.4, 0.33, 1.61 },
    { -0.62, -0.37, -0.45, -0.43, -0.48, 0.13, -0.07, 0.39, 0.57, -0.49, 0.54, 1.11, 1.06, 1.22, 0.71, 1.67, 2.01, 2.28, 2.13, 1.45 },
};
const TweakTable kTweakLens2Pen1 = {
    { -2.26, -1.39, -0.16, 0.07, 0.95, -3, -0.79, 1.19, 0.28, 0.67, -2.5, -2.05, -0.5, 0.24, 1.15, -3.09, -1.56, 0.47, 0.35, 1.17 },
    { -0.37, -0.56, -0.83, -1.38, -0.2, 0.14, 0.44, -0.53, 0.25, -0.13, 0.09, 1.09, 1.12, -0.01, -1.15, 2.16, 0.58, -0.18, -0.4, -0.25 },
};
const TweakTable kTweakLens3NewPen0 = {
    { -2.4, -1.24, -0.73, -0.16, 0.39, -1.84, -1.69, -1.31, -0.7, 0.22, -2.01, -1.45, -1.19, -0.93, 0.32, -2.81, -1.38, -0.86, -0.36, 0.8 },
    { -0.07, -0.16, -0.1, 0.05, 0.02, -0.26, -0.21, -0.4, -0.49, 0.07, 0.05, 0.14, 0.24, 0.16, 0.07, 0.49, 0.2, 0.62, 0.47, 0.34 },
};
const TweakTable kTweakLens3NewPen1 = {
    { -2.4, -1.24, -0.73, -0.16, 0.39, -1.84, -1.69, -1.31, -0.7, 0.22, -2.01, -1.45, -1.19, -0.93, 0.32, -2.81, -1.38, -0.86, -0.36, 0.8 },
    { 0.3, 0.2, 0.12, 0.12, 0.16, 0.2, 0.16, 0.1, 0.1, 0.12, 0.05, 0.14, 0.24, 0.16, 0.07, 0.49, 0.2, 0.62, 0.47, 0.34 },
};
const TweakTable kTweakLens3Old = {
    { -3.55, -2.28, -0.51, 0.11, 1.22, -3.69, -2.4, -0.15, 1.08, 1.78, -4.37, -2.16, -0.04, 0.48, 2.3, -4.7, -1.4, 0.11, 0.6, 3.43 },
    { -0.84, -1.25, -1.42, -0.97, -1.05, -0.3, -0.39, -0.27, -0.47, -0.48, 0.1, 0.29, 0.28, -0.15, 0.38, 1.14, 1.28, 1.55, 1.2, 1.16 },
};
const TweakTable kTweakOther = {
    { -1.83, -1.32, -0.53, -0.55, 0.34, -2.1, -0.35, -1.15, -0.68, 0.51, -2.22, -0.62, -1.32, -0.78, 0.2, -1.79, 0.03, -1.21, -0.48, 0.36 },
    { -0.07, 0.34, 0.55, 0.46, -0.08, 0.9, 0.96, 1.02, 0.65, 0.28, 0.67, 0.94, 1.6, 1.28, 0.52, 0.91, 2.16, 2.19, 2.63, 1.42 },
};

const TweakTable *chooseTweakTable(int lens, int fwParam, int penType)
{
    if (penType != 0 && penType != 1)
        return nullptr;
    const bool pen0 = penType == 0;
    switch (lens) {
    case 2:
    case 4:
        return pen0 ? &kTweakLens2Pen0 : &kTweakLens2Pen1;
    case 3:
        if (fwParam >= 10)
            return pen0 ? &kTweakLens3NewPen0 : &kTweakLens3NewPen1;
        return &kTweakLens3Old; // the same table for both pens
    default:
        return &kTweakOther; // the same table for both pens
    }
}

} // namespace

CalibWorkspace &calibWorkspace()
{
    return g_workspace;
}

void resetCalibWorkspace()
{
    g_workspace = CalibWorkspace();
}

int clampedSlotCount(int n)
{
    return std::clamp(n, 0, CalibWorkspace::kSlots);
}

void setCalibPointCounts(int lensCode)
{
    const bool known = lensCode >= 1 && lensCode <= 4;
    g_workspace.ac_point_count = known ? 20 : 0;
    g_workspace.mc_point_count = known ? 16 : 0;
}

void setCalibInformation(const cv::Point2f *winPoints, int n, int acCeiling, int acRear,
                         int windowWidth, int windowHeight, int lens, int fwParam, int penType)
{
    CalibWorkspace &ws = g_workspace;

    qDebug() << "setCalibInformation";
    n = clampedSlotCount(n);
    for (int i = 0; i < n; ++i) {
        ws.win_coordi[i] = cv::Point2d(winPoints[i].x, winPoints[i].y);
        qDebug().noquote() << QString::asprintf("%02d: %f %f", i, ws.win_coordi[i].x, ws.win_coordi[i].y);
    }

    ws.ac_window_width = static_cast<qint16>(windowWidth);
    ws.ac_window_height = static_cast<qint16>(windowHeight);
    qDebug().noquote() << QString::asprintf("ac_window_width = %d, ac_window_height = %d",
                                            ws.ac_window_width, ws.ac_window_height);
    ws.lens = static_cast<quint8>(lens);
    ws.acRear = static_cast<quint8>(acRear);
    ws.acCeiling = static_cast<quint8>(acCeiling);
    qDebug().noquote() << QString::asprintf("acCeiling = %d, acRear = %d, lens = %d",
                                            ws.acCeiling, ws.acRear, ws.lens);
    // The run brings no tweak table of its own.
    qDebug().noquote() << QString::asprintf("ac_tweak_num = %d", 0);

    std::fill(ws.ac_tweak, ws.ac_tweak + CalibWorkspace::kSlots, cv::Point2f(0.f, 0.f));
    ws.ac_tweak_num = 0;
    qDebug() << "use predefined values";
    const int count = clampedSlotCount(ws.ac_point_count);
    ws.ac_tweak_num = count;
    if (lens == 3) {
        qDebug() << "PenType :" << penType;
        ws.fwParam = fwParam;
    }
    if (const TweakTable *table = chooseTweakTable(lens, fwParam, penType)) {
        for (int i = 0; i < count; ++i)
            ws.ac_tweak[i] = cv::Point2f(static_cast<float>(table->x[i]), static_cast<float>(table->y[i]));
    }

    for (int i = 0; i < ws.ac_tweak_num; ++i)
        qDebug().noquote() << QString::asprintf("[%2d] %f %f", i, ws.ac_tweak[i].x, ws.ac_tweak[i].y);
}

} // namespace tl
